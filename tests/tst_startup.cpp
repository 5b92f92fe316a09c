// Start-up of Quelvin: the real program started as a user starts it (its
// standard output, logs, exit status, windows and what they show), and the
// state a freshly built main window is in, examined in-process.

#include "harness.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QStatusBar>
#include <QtTest>

#include <cstring>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

// What a foreign program's top-level window looks like from the X server.
struct TopLevel
{
    unsigned long id = 0;
    QString title;
    QRect geometry;
};

// A connection of our own to the X server, to see and close the windows of
// the program under test the way a window manager would.
class XSession
{
public:
    XSession() : display(XOpenDisplay(nullptr)) {}
    ~XSession()
    {
        if (display)
            XCloseDisplay(display);
    }
    bool isOpen() const { return display != nullptr; }

    // The mapped top-level windows that the process with this id owns.
    QList<TopLevel> windowsOf(qint64 pid)
    {
        QList<TopLevel> found;
        ::Window root = 0, parent = 0;
        ::Window *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
            return found;
        for (unsigned int i = 0; i < count; ++i) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(display, children[i], &attributes)
                || attributes.map_state != IsViewable)
                continue;
            if (cardinal(children[i], "_NET_WM_PID") != pid)
                continue;
            TopLevel window;
            window.id = children[i];
            window.title = utf8Property(children[i], "_NET_WM_NAME");
            window.geometry = QRect(attributes.x, attributes.y, attributes.width, attributes.height);
            found << window;
        }
        if (children)
            XFree(children);
        return found;
    }

    // What a window manager sends when the user clicks a window's close button.
    void requestClose(unsigned long window)
    {
        XEvent event;
        memset(&event, 0, sizeof event);
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
        XFlush(display);
    }

private:
    qint64 cardinal(::Window window, const char *name)
    {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, remaining = 0;
        unsigned char *data = nullptr;
        qint64 value = -1;
        if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1, False,
                               XA_CARDINAL, &type, &format, &items, &remaining, &data) == Success
            && data && items == 1 && format == 32)
            value = qint64(*reinterpret_cast<unsigned long *>(data));
        if (data)
            XFree(data);
        return value;
    }

    QString utf8Property(::Window window, const char *name)
    {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, remaining = 0;
        unsigned char *data = nullptr;
        QString value;
        if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1024, False,
                               XInternAtom(display, "UTF8_STRING", False), &type, &format, &items,
                               &remaining, &data) == Success
            && data && format == 8)
            value = QString::fromUtf8(reinterpret_cast<const char *>(data), int(items));
        if (data)
            XFree(data);
        return value;
    }

    Display *display;
};

} // namespace

// Xlib's short macro names collide with Qt's enumerators further down.
#undef Bool
#undef None
#undef Status
#undef Success
#undef Always
#undef Unsorted
#undef Expose
#undef KeyPress
#undef KeyRelease
#undef FocusIn
#undef FocusOut
#undef FontChange
#undef CursorShape
#undef GrayScale

namespace {

const QByteArray kNoFileMessage("No file specified on command line\n");
const QByteArray kWindowLogHeader("Quelvin log file\n\n");
const QByteArray kViewerLogHeader("Quelvin viewer log file\n\n");
const QByteArray kStaleLog("left over from an earlier run\nviewpointActivated\n");

// Generous upper bounds for the program to get somewhere under software GL;
// they only stop a broken run from hanging the suite.
constexpr int kStartTimeoutMs = 60000;

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<cannot read ") + path.toLocal8Bit() + ">";
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    file.write(data);
}

// The default scene's disc has base colour (0.5, 0.4, 0) under the
// viewer's headlight: red ahead of green at about four to five, hardly any
// blue. Its brightness depends on the lighting, its hue does not.
bool brownish(QColor c)
{
    return c.red() >= 30 && c.blue() <= c.red() / 4 && c.green() * 100 >= c.red() * 65
        && c.green() * 100 <= c.red() * 95;
}

bool blackish(QColor c)
{
    return harness::near(c, Qt::black, 12);
}

// Where the brownish pixels of an image are: how many, and their centroid.
struct Blob
{
    int count = 0;
    QPoint centre;
};

Blob brownishBlob(const QImage &image)
{
    Blob blob;
    qint64 sx = 0, sy = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (brownish(image.pixelColor(x, y))) {
                ++blob.count;
                sx += x;
                sy += y;
            }
    if (blob.count)
        blob.centre = QPoint(int(sx / blob.count), int(sy / blob.count));
    return blob;
}

QString describe(QColor c)
{
    return QStringLiteral("(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

// The real program with its output collected as it comes.
class Program
{
public:
    explicit Program(const harness::Scratch &scratch)
    {
        process.setProcessEnvironment(scratch.environment());
        process.setWorkingDirectory(scratch.path());
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        }
    }

    bool start(const QStringList &arguments)
    {
        process.start(harness::programPath(), arguments);
        return process.waitForStarted(kStartTimeoutMs);
    }

    bool running() const { return process.state() != QProcess::NotRunning; }

    QByteArray output()
    {
        out += process.readAllStandardOutput();
        return out;
    }

    bool finish()
    {
        const bool done = !running() || process.waitForFinished(kStartTimeoutMs);
        output();
        return done;
    }

    QProcess process;

private:
    QByteArray out;
};

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    // The real program.
    void startsWithoutFile();
    void blockedLogEndsProcess_data();
    void blockedLogEndsProcess();
    void onlyFirstArgumentCounts_data();
    void onlyFirstArgumentCounts();

    // A window built in this process.
    void logsStartFresh();
    void initialState();
    void defaultSceneShown_data();
    void defaultSceneShown();
    void msgBoxKinds_data();
    void msgBoxKinds();
    void msgTempShowsMessage();
    void aboutBox();
    void closingSavesGeometry_data();
    void closingSavesGeometry();

private:
    void showWindow();

    // Suite-wide scratch: the in-process window's logs and settings live here.
    std::unique_ptr<harness::Scratch> scratch;
    std::unique_ptr<harness::ModalAnswerer> answerer;
    BrowserWindow *window = nullptr;
};

void StartupTest::initTestCase()
{
    QVERIFY(QFileInfo(harness::programPath()).isExecutable());
    XSession x;
    QVERIFY2(x.isOpen(), "no X display");

    // The suite closes its window on purpose; the application must outlive that.
    QApplication::setQuitOnLastWindowClosed(false);

    scratch.reset(new harness::Scratch);
    QVERIFY(scratch->isValid());
    writeFile(scratch->file("quelvin.log"), kStaleLog);
    writeFile(scratch->file("quelvinViewer.log"), kStaleLog);
    answerer.reset(new harness::ModalAnswerer);
    window = new BrowserWindow(QString());
}

void StartupTest::showWindow()
{
    if (!window->isVisible()) {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }
}

// --- The real program --------------------------------------------------------

void StartupTest::startsWithoutFile()
{
    harness::Scratch dir;
    writeFile(dir.file("quelvin.log"), kStaleLog);
    writeFile(dir.file("quelvinViewer.log"), kStaleLog);
    XSession x;
    Program program(dir);
    QVERIFY(program.start({}));

    TopLevel main;
    QElapsedTimer clock;
    clock.start();
    while (program.running() && clock.elapsed() < kStartTimeoutMs) {
        const QList<TopLevel> windows = x.windowsOf(program.process.processId());
        if (!windows.isEmpty()) {
            main = windows.first();
            if (windows.size() == 1 && main.title == QLatin1String("Quelvin"))
                break;
        }
        QTest::qWait(20);
    }
    QCOMPARE(main.title, QStringLiteral("Quelvin"));
    QCOMPARE(x.windowsOf(program.process.processId()).size(), 1);
    // No settings yet: the window takes its default place and size.
    QCOMPARE(main.geometry, QRect(200, 200, 400, 400));

    // What the X server shows of the window: the disc, brownish, in the
    // middle of a black view. The first frames may still be on their way.
    QImage shot;
    Blob disc;
    clock.restart();
    do {
        QTest::qWait(50);
        shot = QGuiApplication::primaryScreen()->grabWindow(main.id).toImage();
        disc = brownishBlob(shot);
    } while (disc.count < 3000 && clock.elapsed() < kStartTimeoutMs);
    int dark = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (blackish(shot.pixelColor(x, y)))
                ++dark;
    const QRect middle(shot.width() / 4, shot.height() / 4, shot.width() / 2, shot.height() / 2);
    const bool discShown = disc.count >= 3000 && middle.contains(disc.centre)
        && brownish(shot.pixelColor(disc.centre)) && dark >= shot.width() * shot.height() / 10;
    if (!discShown)
        shot.save(QDir::tempPath() + "/startup-real-window-actual.png");
    QVERIFY2(discShown, qPrintable(QStringLiteral("brownish pixels %1 centred at (%2,%3), dark %4 "
                                                  "of %5x%6; screenshot saved as %7")
                                       .arg(disc.count).arg(disc.centre.x()).arg(disc.centre.y())
                                       .arg(dark).arg(shot.width()).arg(shot.height())
                                       .arg(QDir::tempPath() + "/startup-real-window-actual.png")));

    // Both logs are opened before the window shows and replace what an
    // earlier run left.
    QCOMPARE(contentsOf(dir.file("quelvin.log")), kWindowLogHeader);
    QCOMPARE(contentsOf(dir.file("quelvinViewer.log")), kViewerLogHeader);

    x.requestClose(main.id);
    QVERIFY(program.finish());
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 0);
    QCOMPARE(program.output(), kNoFileMessage);
    QCOMPARE(contentsOf(dir.file("quelvin.log")), kWindowLogHeader);
    QCOMPARE(contentsOf(dir.file("quelvinViewer.log")), kViewerLogHeader);

    // Closing through the window manager stores the geometry.
    QSettings settings("Kestrom", "Quelvin");
    QCOMPARE(settings.value("pos").toPoint(), QPoint(200, 200));
    QCOMPARE(settings.value("size").toSize(), QSize(400, 400));
}

void StartupTest::blockedLogEndsProcess_data()
{
    QTest::addColumn<QString>("blocked");
    QTest::addColumn<QByteArray>("expectedOutput");
    QTest::addColumn<QByteArray>("expectedViewerLog");

    // The viewer log is opened while the window is being built, the window
    // log last of all, after the command line has been dealt with.
    QTest::newRow("window log") << "quelvin.log" << kNoFileMessage << kViewerLogHeader;
    QTest::newRow("viewer log") << "quelvinViewer.log" << QByteArray() << QByteArray();
}

void StartupTest::blockedLogEndsProcess()
{
    QFETCH(QString, blocked);
    QFETCH(QByteArray, expectedOutput);
    QFETCH(QByteArray, expectedViewerLog);

    harness::Scratch dir;
    // Root writes anywhere, but nobody can open a directory as a file.
    QVERIFY(QDir(dir.path()).mkdir(blocked));
    XSession x;
    Program program(dir);
    QVERIFY(program.start({}));

    QSet<QString> shown;
    QElapsedTimer clock;
    clock.start();
    while (program.running() && clock.elapsed() < kStartTimeoutMs) {
        for (const TopLevel &w : x.windowsOf(program.process.processId()))
            shown << w.title;
        QTest::qWait(5);
    }
    QVERIFY(program.finish());

    // exit(902): the shell sees the low eight bits, 134, and it is an
    // exit, not a crash (which a shell would show as 134 too).
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 134);
    QVERIFY2(shown.isEmpty(), qPrintable(QStringList(shown.values()).join(", ")));
    QCOMPARE(program.output(), expectedOutput);

    QVERIFY(QFileInfo(dir.file(blocked)).isDir());
    QVERIFY(QDir(dir.file(blocked)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    if (blocked == QLatin1String("quelvin.log")) {
        QCOMPARE(contentsOf(dir.file("quelvinViewer.log")), expectedViewerLog);
    } else {
        // Ended before the window log was reached.
        QVERIFY(!QFile::exists(dir.file("quelvin.log")));
    }
    // Nothing was stored: the window never closed.
    QVERIFY(!QFile::exists(dir.settingsDir() + "/Kestrom/Quelvin.conf"));
}

void StartupTest::onlyFirstArgumentCounts_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("expectedBoxes");
    QTest::addColumn<QString>("expectedTitle");
    QTest::addColumn<int>("expectedLoads");
    QTest::addColumn<QStringList>("expectedRecent");

    // A second file that would be loaded shows a second "Viewer" box.
    QTest::newRow("two documents")
        << QStringList{"second.wrl", "sample.wrl"} << QStringList{"Viewer"}
        << "second.wrl - Quelvin" << 1 << QStringList{"second.wrl"};
    // The title is set from the name before the load fails; the failing
    // file is reported and not kept in the recent list.
    QTest::newRow("missing document first")
        << QStringList{"missing.wrl", "second.wrl"} << QStringList{"Application"}
        << "missing.wrl - Quelvin" << 0 << QStringList();
}

void StartupTest::onlyFirstArgumentCounts()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, expectedBoxes);
    QFETCH(QString, expectedTitle);
    QFETCH(int, expectedLoads);
    QFETCH(QStringList, expectedRecent);

    harness::Scratch dir;
    for (const QString &name : {QStringLiteral("second.wrl"), QStringLiteral("sample.wrl")})
        QVERIFY(QFile::copy(harness::examplesDir() + "/" + name, dir.file(name)));
    XSession x;
    Program program(dir);
    QVERIFY(program.start(arguments));

    // Acknowledge every box the program puts up until its main window shows.
    QStringList boxes;
    QSet<unsigned long> closed;
    TopLevel main;
    QElapsedTimer clock;
    clock.start();
    while (program.running() && clock.elapsed() < kStartTimeoutMs && !main.id) {
        for (const TopLevel &w : x.windowsOf(program.process.processId())) {
            if (w.title == expectedTitle) {
                main = w;
            } else if (!closed.contains(w.id)) {
                closed << w.id;
                boxes << w.title;
                x.requestClose(w.id);
            }
        }
        QTest::qWait(20);
    }
    QVERIFY2(main.id, qPrintable("no window titled " + expectedTitle + "; saw " + boxes.join(", ")));
    // Give a wrongly read second argument the chance to show itself.
    harness::settle(500);
    for (const TopLevel &w : x.windowsOf(program.process.processId()))
        if (w.id != main.id && !closed.contains(w.id))
            boxes << w.title;
    QCOMPARE(boxes, expectedBoxes);

    x.requestClose(main.id);
    QVERIFY(program.finish());
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 0);

    const QByteArray out = program.output();
    QVERIFY(!out.contains(kNoFileMessage));
    QCOMPARE(out.count("Focal distance = "), expectedLoads);
    const QByteArray viewerLog = contentsOf(dir.file("quelvinViewer.log"));
    QVERIFY(viewerLog.startsWith(kViewerLogHeader));
    QCOMPARE(viewerLog.count("sceneCentre = "), expectedLoads);
    QCOMPARE(contentsOf(dir.file("quelvin.log")), kWindowLogHeader);

    QSettings settings("Kestrom", "Quelvin");
    QCOMPARE(settings.value("recentFiles").toStringList(), expectedRecent);
}

// --- A window built in this process ------------------------------------------

void StartupTest::logsStartFresh()
{
    QCOMPARE(contentsOf(scratch->file("quelvin.log")), kWindowLogHeader);
    QCOMPARE(contentsOf(scratch->file("quelvinViewer.log")), kViewerLogHeader);
}

void StartupTest::initialState()
{
    showWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("Quelvin"));
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Ready"));

    QComboBox *viewpoints = window->findChild<QComboBox *>("viewpoints");
    QVERIFY(viewpoints);
    QCOMPARE(viewpoints->count(), 1);
    QCOMPARE(viewpoints->itemText(0), QStringLiteral("Default view"));

    QAction *undelete = window->findChild<QAction *>("actionUndelete");
    QVERIFY(undelete);
    QVERIFY(!undelete->isEnabled());

    // With no recent files, nothing shows between the File menu's first
    // separator and Quit.
    QMenu *file = window->findChild<QMenu *>("menuFile");
    QVERIFY(file);
    const QList<QAction *> entries = file->actions();
    QCOMPARE(entries.size(), 3 + 1 + BrowserWindow::MaxRecentFiles + 1 + 1);
    QCOMPARE(entries.last()->objectName(), QStringLiteral("actionQuit"));
    QAction *separator = entries.at(entries.size() - 2);
    QVERIFY(separator->isSeparator());
    QVERIFY(!separator->isVisible());
    for (int i = 4; i < 4 + BrowserWindow::MaxRecentFiles; ++i)
        QVERIFY2(!entries.at(i)->isVisible(), qPrintable(QString::number(i)));

    // No settings: the default place and size.
    QCOMPARE(window->size(), QSize(400, 400));
    QCOMPARE(window->pos(), QPoint(200, 200));
    QVERIFY(answerer->boxes.isEmpty());
}

void StartupTest::defaultSceneShown_data()
{
    QTest::addColumn<bool>("fromScreen");
    // What X shows in the view's window, and what GL drew into it.
    QTest::newRow("screen") << true;
    QTest::newRow("framebuffer") << false;
}

void StartupTest::defaultSceneShown()
{
    QFETCH(bool, fromScreen);
    showWindow();
    Browser *viewer = window->viewer();
    QWidget *gl = viewer->getGLWidget();
    QVERIFY(gl);
    QVERIFY(gl->width() > 100 && gl->height() > 100);

    auto grab = [&]() {
        if (!fromScreen)
            return harness::grabViewer(viewer);
        viewer->render();
        return QGuiApplication::primaryScreen()->grabWindow(gl->winId()).toImage()
            .convertToFormat(QImage::Format_RGB32);
    };
    QImage image;
    QElapsedTimer clock;
    clock.start();
    do {
        QTest::qWait(50);
        image = grab();
    } while (!(image.width() > 0 && brownish(image.pixelColor(image.width() / 2, image.height() / 2)))
             && clock.elapsed() < 20000);

    const QString prefix = QDir::tempPath() + QStringLiteral("/startup-default-scene-%1")
                                                  .arg(fromScreen ? "screen" : "framebuffer");
    QCOMPARE(image.size(), gl->size());
    const QPoint centre(image.width() / 2, image.height() / 2);
    const QList<QPoint> corners = {QPoint(2, 2), QPoint(image.width() - 3, 2),
                                   QPoint(2, image.height() - 3),
                                   QPoint(image.width() - 3, image.height() - 3)};
    bool ok = true;
    QString why;
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
            const QColor c = image.pixelColor(centre + QPoint(dx, dy));
            if (!brownish(c)) {
                ok = false;
                why += " centre " + describe(c);
            }
        }
    for (const QPoint &p : corners) {
        if (!blackish(image.pixelColor(p))) {
            ok = false;
            why += " corner " + describe(image.pixelColor(p));
        }
    }
    // The tilted disc fills a good part of the view, and nothing but the
    // disc and the background is drawn.
    const Blob disc = brownishBlob(image);
    const double area = double(image.width() * image.height());
    if (disc.count < area * 0.05) {
        ok = false;
        why += QStringLiteral(" disc only %1 pixels").arg(disc.count);
    }
    if (!ok) {
        image.save(prefix + "-actual.png");
        why += " (see " + prefix + "-actual.png)";
    }
    QVERIFY2(ok, qPrintable(why));
}

void StartupTest::msgBoxKinds_data()
{
    QTest::addColumn<int>("severity");
    QTest::addColumn<QString>("kind");

    QTest::newRow("0") << 0 << "critical";
    QTest::newRow("1") << 1 << "warning";
    QTest::newRow("2") << 2 << "information";
    QTest::newRow("7") << 7 << "information";
    QTest::newRow("-1") << -1 << "information";
}

void StartupTest::msgBoxKinds()
{
    QFETCH(int, severity);
    QFETCH(QString, kind);
    answerer->clear();
    const QString title = QStringLiteral("Origin %1").arg(severity);
    // Shown as given: no rich-text or translation fiddling with the text.
    const QString text = QStringLiteral("Message <%1> & more\nsecond line").arg(severity);
    BrowserWindow::msgBox(severity, title, text);
    QCOMPARE(answerer->boxes.size(), 1);
    QCOMPARE(answerer->boxes.first().kind, kind);
    QCOMPARE(answerer->boxes.first().title, title);
    QCOMPARE(answerer->boxes.first().text, text);
}

void StartupTest::msgTempShowsMessage()
{
    showWindow();
    QLabel *label = window->findChild<QLabel *>("objLabel");
    QVERIFY(label);
    window->msgTemp(QStringLiteral("Temporary note"), 300);
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Temporary note"));
    QCOMPARE(label->text(), QStringLiteral("Temporary note"));
    // The status bar lets go after the time-out; the label keeps it.
    QTRY_COMPARE_WITH_TIMEOUT(window->statusBar()->currentMessage(), QString(), 10000);
    QCOMPARE(label->text(), QStringLiteral("Temporary note"));

    // Time-out 0: the message stays until the next one.
    window->msgTemp(QStringLiteral("Stays"), 0);
    harness::settle(400);
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Stays"));
    QCOMPARE(label->text(), QStringLiteral("Stays"));
}

void StartupTest::aboutBox()
{
    showWindow();
    answerer->clear();
    QAction *about = window->findChild<QAction *>("actionAbout_Quelvin");
    QVERIFY(about);
    about->trigger();
    QCOMPARE(answerer->boxes.size(), 1);
    const harness::Box box = answerer->boxes.first();
    QCOMPARE(box.kind, QStringLiteral("about"));
    QCOMPARE(box.title, QStringLiteral("Quelvin"));
    const QRegularExpression shape(QStringLiteral(
        "^<strong>About Quelvin</strong><p>Quelvin is an open-source multi-platform viewer for "
        "VRML models\\.<p>See <a href=\"([^\"]+)\">([^<]+)</a> for more information\\.$"));
    const QRegularExpressionMatch match = shape.match(box.text);
    QVERIFY2(match.hasMatch(), qPrintable(box.text));
    // The link shows its own address.
    QCOMPARE(match.captured(2), match.captured(1));
    QVERIFY(match.captured(1).startsWith("http"));
}

void StartupTest::closingSavesGeometry_data()
{
    QTest::addColumn<bool>("viaQuit");
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<QSize>("size");

    QTest::newRow("close") << false << QPoint(230, 210) << QSize(480, 430);
    QTest::newRow("Quit") << true << QPoint(260, 240) << QSize(450, 470);
}

void StartupTest::closingSavesGeometry()
{
    QFETCH(bool, viaQuit);
    QFETCH(QPoint, position);
    QFETCH(QSize, size);

    showWindow();
    window->move(position);
    window->resize(size);
    QTRY_COMPARE(window->size(), size);
    QTRY_COMPARE(window->pos(), position);

    // Other tests started programs with scratch stores of their own.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, scratch->settingsDir());
    QSettings("Kestrom", "Quelvin").clear();

    if (viaQuit) {
        QAction *quit = window->findChild<QAction *>("actionQuit");
        QVERIFY(quit);
        quit->trigger();
    } else {
        QVERIFY(window->close());
    }
    QVERIFY(!window->isVisible());
    QSettings settings("Kestrom", "Quelvin");
    QCOMPARE(settings.value("pos").toPoint(), position);
    QCOMPARE(settings.value("size").toSize(), size);
    QVERIFY(settings.contains("recentFiles"));
    QCOMPARE(settings.value("recentFiles").toStringList(), QStringList());
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
