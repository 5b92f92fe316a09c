// What the main window remembers between runs (its place on the screen, its
// size and the recent-file list) and how the current document shows in the
// title, the location field and the File menu. Restarts are real: the
// program binary is started and closed as a window manager would close it.

#include "harness.h"
#include "quelvin_window.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QWindow>
#include <QtTest>

#include <dlfcn.h>
#include <memory>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

// The tests talk to the X server the program runs on, as a window manager
// does: find the program's window, read where it is, ask it to close.
// libX11 is opened at run time; the suite links nothing beyond Qt.
class XServer
{
public:
    XServer()
    {
        library = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return;
        const bool resolved = resolve(openDisplay, "XOpenDisplay")
                              && resolve(closeDisplay, "XCloseDisplay")
                              && resolve(queryTree, "XQueryTree") && resolve(xFree, "XFree")
                              && resolve(internAtom, "XInternAtom")
                              && resolve(getProperty, "XGetWindowProperty")
                              && resolve(getAttributes, "XGetWindowAttributes")
                              && resolve(sendEvent, "XSendEvent") && resolve(flush, "XFlush");
        if (resolved)
            display = openDisplay(nullptr);
    }

    ~XServer()
    {
        if (display)
            closeDisplay(display);
        if (library)
            dlclose(library);
    }

    bool isValid() const { return display != nullptr; }

    // The mapped top-level windows of a process that carry the given title.
    QList<unsigned long> windowsOf(qint64 pid, const QString &title)
    {
        QList<unsigned long> found;
        Window root = DefaultRootWindow(display);
        Window parent = 0;
        Window *children = nullptr;
        unsigned int count = 0;
        if (!queryTree(display, root, &root, &parent, &children, &count))
            return found;
        for (unsigned int i = 0; i < count; ++i) {
            XWindowAttributes attributes;
            if (!getAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable)
                continue;
            if (cardinal(children[i], "_NET_WM_PID") == pid && name(children[i]) == title)
                found << children[i];
        }
        if (children)
            xFree(children);
        return found;
    }

    QRect geometry(unsigned long window)
    {
        XWindowAttributes attributes;
        if (!getAttributes(display, window, &attributes))
            return QRect();
        return QRect(attributes.x, attributes.y, attributes.width, attributes.height);
    }

    // What the close button of a window manager sends.
    void close(unsigned long window)
    {
        XEvent event = {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = internAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(internAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        sendEvent(display, window, False, NoEventMask, &event);
        flush(display);
    }

private:
    template <typename F>
    bool resolve(F &function, const char *symbol)
    {
        function = reinterpret_cast<F>(dlsym(library, symbol));
        return function != nullptr;
    }

    qint64 cardinal(Window window, const char *property)
    {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char *data = nullptr;
        qint64 value = -1;
        if (getProperty(display, window, internAtom(display, property, False), 0, 1, False,
                        XA_CARDINAL, &type, &format, &items, &after, &data) == Success
            && data && items == 1 && format == 32)
            value = qint64(*reinterpret_cast<unsigned long *>(data));
        if (data)
            xFree(data);
        return value;
    }

    QString name(Window window)
    {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char *data = nullptr;
        QString text;
        if (getProperty(display, window, internAtom(display, "_NET_WM_NAME", False), 0, 1024, False,
                        AnyPropertyType, &type, &format, &items, &after, &data) == Success
            && data && format == 8)
            text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(items));
        if (data)
            xFree(data);
        return text;
    }

    void *library = nullptr;
    Display *display = nullptr;
    decltype(&XOpenDisplay) openDisplay = nullptr;
    decltype(&XCloseDisplay) closeDisplay = nullptr;
    decltype(&XQueryTree) queryTree = nullptr;
    decltype(&XFree) xFree = nullptr;
    decltype(&XInternAtom) internAtom = nullptr;
    decltype(&XGetWindowProperty) getProperty = nullptr;
    decltype(&XGetWindowAttributes) getAttributes = nullptr;
    decltype(&XSendEvent) sendEvent = nullptr;
    decltype(&XFlush) flush = nullptr;
};

} // namespace

// Xlib's macros would rewrite Qt's names from here on.
#undef Bool
#undef None
#undef Status
#undef Success
#undef Unsorted
#undef CursorShape
#undef KeyPress
#undef KeyRelease
#undef FocusIn
#undef FocusOut
#undef FontChange
#undef Expose

namespace {

QString dataFile(const QString &name)
{
    return harness::sourceDir() + "/tests/data/documents/" + name;
}

QStringList storedRecentFiles()
{
    QSettings settings("Kestrom", "Quelvin");
    settings.sync();
    return settings.value("recentFiles").toStringList();
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startsWithDefaults();
    void restartOfTheProgramKeepsPlaceSizeAndRecentFiles();
    void twentyFiveFilesShowTwentyAndStoreAll();
    void reopeningMovesToTop_data();
    void reopeningMovesToTop();
    void deletedFileLeavesTheMenu();
    void currentFileInTitleLocationAndMenu();

private:
    enum Route { OpenDialog, LocationField, RecentEntry };

    // A fresh working directory and settings store, and a window started in
    // them with no document.
    void start();
    QString document(const QString &name, const QString &from = "shared_geometry.wrl");
    bool load(Route route, const QString &path);
    QStringList recentEntries() const;
    QAction *recentEntry(const QString &path) const;
    QAction *separatorAboveQuit() const;
    QString shownTitle() const { return window->windowHandle()->title(); }

    std::unique_ptr<harness::Scratch> scratch;
    harness::ModalAnswerer *answerer = nullptr;
    BrowserWindow *window = nullptr;
};

void TestSettings::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    answerer = new harness::ModalAnswerer(this);
}

void TestSettings::start()
{
    if (window)
        window->hide();   // never deleted: the viewer outlives it
    scratch.reset();
    scratch.reset(new harness::Scratch);
    QVERIFY(scratch->isValid());
    answerer->clear();
    window = new BrowserWindow(QString());
    QVERIFY(answerer->boxes.isEmpty());
}

QString TestSettings::document(const QString &name, const QString &from)
{
    const QString path = scratch->file(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!QFile::exists(path) && !QFile::copy(dataFile(from), path))
        qWarning("cannot make %s", qPrintable(path));
    return path;
}

// True when the document was shown, as its "Viewer" box tells.
bool TestSettings::load(Route route, const QString &path)
{
    answerer->clear();
    switch (route) {
    case OpenDialog:
        answerer->queueFile(path);
        window->findChild<QAction *>("actionOpen")->trigger();
        break;
    case LocationField: {
        // Keys go where the keyboard focus is: the combo box, which hands
        // them to its line edit.
        QComboBox *combo = window->findChild<QComboBox *>("location");
        combo->lineEdit()->selectAll();
        QTest::keyClick(combo, Qt::Key_Backspace);
        QTest::keyClicks(combo, "file://" + path);
        QTest::keyClick(combo, Qt::Key_Return);
        break;
    }
    case RecentEntry: {
        QAction *entry = recentEntry(path);
        if (!entry) {
            qWarning("no recent-file entry for %s", qPrintable(path));
            return false;
        }
        entry->trigger();
        break;
    }
    }
    const harness::Box viewer{"information", "Viewer", path};
    if (!answerer->boxes.contains(viewer))
        qWarning("boxes shown: %s", qPrintable(answerer->texts().join(" | ")));
    return answerer->boxes.contains(viewer);
}

// The recent-file entries are the File menu's actions without an object
// name; every action of the form has one.
QStringList TestSettings::recentEntries() const
{
    QStringList entries;
    const auto actions = window->findChild<QMenu *>("menuFile")->actions();
    for (QAction *a : actions)
        if (!a->isSeparator() && a->objectName().isEmpty() && a->isVisible())
            entries << a->text() + " -> " + a->data().toString();
    return entries;
}

QAction *TestSettings::recentEntry(const QString &path) const
{
    const auto actions = window->findChild<QMenu *>("menuFile")->actions();
    for (QAction *a : actions)
        if (a->objectName().isEmpty() && a->isVisible() && a->data().toString() == path)
            return a;
    return nullptr;
}

QAction *TestSettings::separatorAboveQuit() const
{
    const auto actions = window->findChild<QMenu *>("menuFile")->actions();
    const int quit = actions.indexOf(window->findChild<QAction *>("actionQuit"));
    return quit > 0 && actions[quit - 1]->isSeparator() ? actions[quit - 1] : nullptr;
}

void TestSettings::startsWithDefaults()
{
    start();
    QCOMPARE(window->size(), QSize(400, 400));
    QCOMPARE(window->pos(), QPoint(200, 200));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->geometry().size(), QSize(400, 400));
    QCOMPARE(shownTitle(), QStringLiteral("Quelvin"));
    QVERIFY(recentEntries().isEmpty());
    QVERIFY(separatorAboveQuit());
    QVERIFY(!separatorAboveQuit()->isVisible());

    // With nothing opened yet the Open dialog starts in the home directory.
    answerer->clear();
    answerer->queueCancel();
    window->findChild<QAction *>("actionOpen")->trigger();
    QCOMPARE(answerer->boxes.size(), 1);
    QCOMPARE(answerer->boxes[0].kind, QStringLiteral("file"));
    QCOMPARE(answerer->boxes[0].title, QStringLiteral("Open VRML File"));
    QCOMPARE(QDir(answerer->boxes[0].text).canonicalPath(),
             QDir(QString::fromLocal8Bit(qgetenv("HOME"))).canonicalPath());
    QCOMPARE(shownTitle(), QStringLiteral("Quelvin"));

    // Without a home directory, at the root.
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QByteArray());
    answerer->clear();
    answerer->queueCancel();
    window->findChild<QAction *>("actionOpen")->trigger();
    qputenv("HOME", home);
    QCOMPARE(answerer->boxes.size(), 1);
    QCOMPARE(answerer->boxes[0].text, QDir::rootPath());

    // Closing stores where the window was, even when nothing was opened.
    window->close();
    QSettings settings("Kestrom", "Quelvin");
    settings.sync();
    QCOMPARE(settings.value("size").toSize(), QSize(400, 400));
    QCOMPARE(settings.value("pos").toPoint(), QPoint(200, 200));
    QVERIFY(settings.contains("recentFiles"));
    QVERIFY(storedRecentFiles().isEmpty());
}

// One run of the window inside the tests writes the settings as it closes;
// the real program, started afresh, must come up with them and write them
// back at its own close; a third start shows them again.
void TestSettings::restartOfTheProgramKeepsPlaceSizeAndRecentFiles()
{
    XServer x;
    if (!x.isValid())
        QSKIP("no X display to talk to");

    start();
    const QString a = document("a.wrl"), b = document("b.wrl"), c = document("sub/c.wrl");
    window->move(123, 87);
    window->resize(640, 480);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(load(OpenDialog, a));
    QVERIFY(load(OpenDialog, b));
    QVERIFY(load(LocationField, c));
    QCOMPARE(recentEntries(), QStringList({"&1 c.wrl -> " + c, "&2 b.wrl -> " + b, "&3 a.wrl -> " + a}));
    window->close();
    QCOMPARE(storedRecentFiles(), QStringList({c, b, a}));

    // Between runs one document goes away, and the list gains two entries
    // relative to where the program will be started: one is there, one not.
    QVERIFY(QFile::remove(b));
    QSettings("Kestrom", "Quelvin").setValue("recentFiles", QStringList({c, b, a, "c.wrl", "a.wrl"}));

    QProcess program;
    program.setProcessEnvironment(scratch->environment());
    program.setWorkingDirectory(QFileInfo(c).absolutePath());
    program.start(harness::programPath(), QStringList());
    QVERIFY2(program.waitForStarted(30000), qPrintable(program.errorString()));
    QList<unsigned long> shown;
    QTRY_VERIFY_WITH_TIMEOUT(!(shown = x.windowsOf(program.processId(), "Quelvin")).isEmpty(), 60000);
    QCOMPARE(shown.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(x.geometry(shown[0]), QRect(123, 87, 640, 480), 10000);

    x.close(shown[0]);
    const bool finished = program.waitForFinished(60000);
    if (!finished)
        program.kill();
    QVERIFY(finished);
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(program.readAllStandardOutput().contains("No file specified on command line"));

    // The program pruned what it could not find from where it ran.
    QCOMPARE(storedRecentFiles(), QStringList({c, a, "c.wrl"}));
    QSettings settings("Kestrom", "Quelvin");
    settings.sync();
    QCOMPARE(settings.value("pos").toPoint(), QPoint(123, 87));
    QCOMPARE(settings.value("size").toSize(), QSize(640, 480));

    // And a window started after it comes up where the program left off;
    // from here the relative entry names nothing.
    window->hide();
    answerer->clear();
    window = new BrowserWindow(QString());
    QCOMPARE(window->pos(), QPoint(123, 87));
    QCOMPARE(window->size(), QSize(640, 480));
    QCOMPARE(recentEntries(), QStringList({"&1 c.wrl -> " + c, "&2 a.wrl -> " + a}));
    QVERIFY(separatorAboveQuit() && separatorAboveQuit()->isVisible());
}

void TestSettings::twentyFiveFilesShowTwentyAndStoreAll()
{
    start();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QStringList paths;
    for (int i = 1; i <= 25; ++i) {
        paths.prepend(document(QStringLiteral("f%1.wrl").arg(i, 2, 10, QChar('0'))));
        QVERIFY(load(i % 2 ? OpenDialog : LocationField, paths.first()));
    }
    QStringList expected;
    for (int i = 0; i < 20; ++i)
        expected << QStringLiteral("&%1 f%2.wrl -> %3").arg(i + 1).arg(25 - i, 2, 10, QChar('0')).arg(paths[i]);
    QCOMPARE(recentEntries(), expected);

    window->close();
    QCOMPARE(storedRecentFiles(), paths);

    // The five beyond the menu survive another start and close.
    window->hide();
    answerer->clear();
    window = new BrowserWindow(QString());
    QCOMPARE(recentEntries(), expected);
    window->close();
    QCOMPARE(storedRecentFiles(), paths);
}

void TestSettings::reopeningMovesToTop_data()
{
    QTest::addColumn<int>("route");
    QTest::newRow("Open dialog") << int(OpenDialog);
    QTest::newRow("location field") << int(LocationField);
    QTest::newRow("recent-file entry") << int(RecentEntry);
}

void TestSettings::reopeningMovesToTop()
{
    QFETCH(int, route);
    start();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const QString a = document("a.wrl"), b = document("b.wrl"), c = document("c.wrl");
    QVERIFY(load(OpenDialog, a));
    QVERIFY(load(OpenDialog, b));
    QVERIFY(load(OpenDialog, c));
    QCOMPARE(recentEntries(), QStringList({"&1 c.wrl -> " + c, "&2 b.wrl -> " + b, "&3 a.wrl -> " + a}));

    QVERIFY(load(Route(route), a));
    QCOMPARE(recentEntries(), QStringList({"&1 a.wrl -> " + a, "&2 c.wrl -> " + c, "&3 b.wrl -> " + b}));
    // Opening the top one again changes nothing.
    QVERIFY(load(Route(route), a));
    QCOMPARE(recentEntries(), QStringList({"&1 a.wrl -> " + a, "&2 c.wrl -> " + c, "&3 b.wrl -> " + b}));
    window->close();
    QCOMPARE(storedRecentFiles(), QStringList({a, c, b}));
}

void TestSettings::deletedFileLeavesTheMenu()
{
    start();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const QString a = document("a.wrl"), b = document("b.wrl"), c = document("c.wrl");
    QVERIFY(load(OpenDialog, a));
    QVERIFY(load(OpenDialog, b));
    QVERIFY(QFile::remove(a));
    // Nothing looks at the disk until the next document becomes current.
    QCOMPARE(recentEntries(), QStringList({"&1 b.wrl -> " + b, "&2 a.wrl -> " + a}));
    QVERIFY(load(OpenDialog, c));
    QCOMPARE(recentEntries(), QStringList({"&1 c.wrl -> " + c, "&2 b.wrl -> " + b}));
    window->close();
    QCOMPARE(storedRecentFiles(), QStringList({c, b}));
}

void TestSettings::currentFileInTitleLocationAndMenu()
{
    start();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const QString path = document("x/a.wrl");
    QVERIFY(path.startsWith('/'));
    QVERIFY(load(OpenDialog, path));
    QCOMPARE(shownTitle(), QStringLiteral("a.wrl - Quelvin"));
    QCOMPARE(window->findChild<QComboBox *>("location")->currentText(), "file://" + path);
    QCOMPARE(recentEntries(), QStringList({"&1 a.wrl -> " + path}));
    QVERIFY(separatorAboveQuit()->isVisible());

    // The Open dialog now starts where that document is.
    answerer->clear();
    answerer->queueCancel();
    window->findChild<QAction *>("actionOpen")->trigger();
    QCOMPARE(answerer->boxes.size(), 1);
    QCOMPARE(answerer->boxes[0].text, QFileInfo(path).absolutePath());
    QCOMPARE(shownTitle(), QStringLiteral("a.wrl - Quelvin"));
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
