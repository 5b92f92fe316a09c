// Start-up of Quelvin: the real program started as a user starts it (its
// standard output, logs, exit status and what its window shows); the main
// window's form as the user meets it, every command with its text,
// shortcut, state, place and slot, found by object name on real windows
// (the rotation controls are left to the navigation suite, which turns
// them); and what the main window keeps between runs: its place, its size
// and the recent-file list, of which the File menu shows twenty. The
// restart is of the real program, closed as a window manager's close
// button would.

#include "harness.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <QtTest>
#include <QtWidgets>

// The mapped top-level windows of other programs on the display by title,
// with their X ids.
static QMultiHash<QString, unsigned long> shownWindows();
// Sends the window what a window manager's close button sends.
static void askToClose(unsigned long window);

namespace {

// The default scene's disc has base colour (0.5, 0.4, 0) under the
// headlight: red ahead of green, hardly any blue, whatever the brightness.
bool brownish(QColor c)
{
    return c.red() >= 30 && c.blue() <= c.red() / 4 && c.green() * 100 >= c.red() * 65
        && c.green() * 100 <= c.red() * 95;
}

// The colour at the centroid of the brownish pixels, if there are enough of
// them for the disc (the folder icon has a few).
QColor discCentre(const QImage &image)
{
    int count = 0;
    QPoint sum;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (brownish(image.pixelColor(x, y)))
                ++count, sum += QPoint(x, y);
    return count >= 3000 ? image.pixelColor(sum / count) : QColor(Qt::black);
}

bool start(QProcess &program, const harness::Scratch &dir)
{
    program.setProcessEnvironment(dir.environment());
    program.setWorkingDirectory(dir.path());
    program.start(harness::programPath(), QStringList());
    return program.waitForStarted(60000);
}

// The files the File menu offers, top first.
QStringList menu(BrowserWindow *window)
{
    QStringList paths;
    for (QAction *a : window->findChild<QMenu *>("menuFile")->actions())
        if (!a->isSeparator() && a->objectName().isEmpty() && a->isVisible())
            paths << a->data().toString();
    return paths;
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

    harness::Scratch scratch;
    harness::ModalAnswerer answerer;
    // Shown once the real program's own windows have been looked at.
    BrowserWindow *window = new BrowserWindow(QString());
    // Connections are taken apart to find them, so on a window of their own.
    BrowserWindow *spare = new BrowserWindow(QString());

private slots:
    void startsWithoutFile();
    void blockedLogEndsProcess_data();
    void blockedLogEndsProcess();
    void actions();
    void shortcuts();
    void about();
    // Leaves a window of its own open: stays last.
    void settingsBetweenRuns();
};

void StartupTest::startsWithoutFile()
{
    harness::Scratch dir;
    for (const char *log : {"quelvin.log", "quelvinViewer.log"}) {
        QFile stale(dir.file(log));
        QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write("left over from an earlier run\n") > 0);
    }
    QProcess program;
    QVERIFY(start(program, dir));
    QTRY_VERIFY_WITH_TIMEOUT(shownWindows().contains("Quelvin"), 60000);

    // The first frames may still be on their way.
    QImage shot;
    QElapsedTimer clock;
    clock.start();
    do {
        QTest::qWait(50);
        shot = QGuiApplication::primaryScreen()->grabWindow(shownWindows().value("Quelvin")).toImage();
    } while (!brownish(discCentre(shot)) && clock.elapsed() < 30000);
    const QString actual = brownish(discCentre(shot)) ? QString() : harness::keepImage(shot, "real-window-actual");
    QVERIFY2(brownish(discCentre(shot)), qPrintable("no brownish disc; see " + actual));

    QCOMPARE(harness::readBytes(dir.file("quelvin.log")), QByteArray("Quelvin log file\n\n"));
    QCOMPARE(harness::readBytes(dir.file("quelvinViewer.log")), QByteArray("Quelvin viewer log file\n\n"));
    program.kill();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.readAllStandardOutput(), QByteArray("No file specified on command line\n"));
}

void StartupTest::blockedLogEndsProcess_data()
{
    QTest::addColumn<QString>("blocked");
    QTest::newRow("window log") << "quelvin.log";
    QTest::newRow("viewer log") << "quelvinViewer.log";
}

void StartupTest::blockedLogEndsProcess()
{
    QFETCH(QString, blocked);
    harness::Scratch dir;
    // Root writes anywhere, but nobody can open a directory as a file.
    QVERIFY(QDir(dir.path()).mkdir(blocked));
    QProcess program;
    QVERIFY(start(program, dir));
    QStringList shown;
    QElapsedTimer clock;
    clock.start();
    while (program.state() != QProcess::NotRunning && !program.waitForFinished(5) && clock.elapsed() < 60000)
        shown += shownWindows().keys();
    QCOMPARE(program.state(), QProcess::NotRunning);
    // exit(902): the shell sees the low eight bits, and it is no crash.
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 134);
    QCOMPARE(shown, QStringList());
}

void StartupTest::actions()
{
    // name|text|shortcut|state (o: checkable, x: checked, -: disabled)|menus and toolbar|slot
    for (const char *row : {
             "actionOpen|&Open|Ctrl+O||menuFile,navigationBar|open()",
             "actionSave|&Save||||save()", "actionSave_As|Save &As...||||saveAs()",
             "actionClose|&Close||||", "actionPage_Setup|Page Setup...||||", "actionPrint|Print...||||",
             "actionQuit|&Quit|Ctrl+Q||menuFile|close()",
             "actionCut|Cut||-||", "actionCopy|Copy||-||", "actionPaste|Paste||-||",
             "actionAdd|Add Reference||||", "actionEdit|Edit References...||||",
             "actionBack|Back||-||", "actionNext|Next||-||", "actionReload|Reload||||",
             "actionStop|Stop||-||cancelDownload()", "actionHome|Home||||",
             "actionGoToLocation|Go to location|||navigationBar|openLocation()",
             "actionGoToViewpoint|Go to viewpoint|||navigationBar|viewpointReturn()",
             "actionAbout_Quelvin|&About Quelvin|||menuHelp|helpAboutQuelvin()",
             // Ctrl+S belongs to Screen-door, not to saving.
             "actionScreen_door|&Screen-door|Ctrl+S|o|menuTransparency|setTransparencyScreenDoor()",
             "actionBlend|&Blend|Ctrl+B|x|menuTransparency|setTransparencyBlend()",
             "actionOrthographic|&Orthographic|Ctrl+C, O|o|menuCamera_type|setCameraOrthographic()",
             "actionPerspective|&Perspective|Ctrl+C, P|x|menuCamera_type|setCameraPerspective()",
             "actionSave_home_position|&Save new home position|Ctrl+Shift+H||menuView|setNewHomePosition()",
             "actionGo_to_home_position|Go to &home position|Ctrl+H||menuView|goToHomePosition()",
             "actionDisplay_orientation|&Display current orientation|Ctrl+D||menuView|displayOrientation()",
             "actionRender|&Render|Ctrl+R||menuFile|render()",
             "actionDelete|&Delete|Del||menuEdit|deleteObj()",
             "actionDrawStyleDefault|&Default||x|menuDraw_style|setDrawStyleDefault()",
             "actionDrawStyleWireframe|&Wireframe||o|menuDraw_style|setDrawStyleWireframe()",
             // Nothing deleted yet, so nothing to undelete.
             "actionUndelete|&Undelete|Ins|-|menuEdit|undeleteObj()",
             "actionRender_multiple|Render &multiple|Ctrl+Shift+R||menuFile|renderMult()",
             "actionSet_window_size|Set &window size|Ctrl+W||menuView|setSize()"}) {
        const QStringList f = QString(row).split('|');
        QAction *action = window->findChild<QAction *>(f[0]), *twin = spare->findChild<QAction *>(f[0]);
        QVERIFY2(action && twin, row);
        QStringList places;
        for (QWidget *w : action->associatedWidgets())
            if (qobject_cast<QMenu *>(w) || qobject_cast<QToolBar *>(w))
                places << w->objectName();
        places.sort();
        const QString state = !action->isEnabled() ? "-"
            : !action->isCheckable()               ? ""
            : action->isChecked()                  ? "x" : "o";
        const bool wired = f[5].isEmpty()
            ? !QObject::disconnect(twin, SIGNAL(triggered()), spare, nullptr)
            : QObject::disconnect(twin, SIGNAL(triggered()), spare, qPrintable("1" + f[5]));
        QCOMPARE(QStringList({f[0], action->text(), action->shortcut().toString(), state,
                              places.join(','), wired ? f[5] : "<other slot>"}).join('|'),
                 QString(row));
    }
}

void StartupTest::shortcuts()
{
    QVERIFY(harness::shown(window));
    answerer.clear();
    // keys|action triggered first|action the keys check instead
    for (const char *row : {"Ctrl+S|actionBlend|actionScreen_door",
                            "Ctrl+C, O|actionPerspective|actionOrthographic"}) {
        const QStringList f = QString(row).split('|');
        QAction *before = window->findChild<QAction *>(f[1]), *after = window->findChild<QAction *>(f[2]);
        QVERIFY2(before && after, row);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        // Keys go to the view, not to a text field that would take Ctrl+C as copy.
        window->viewer()->getGLWidget()->setFocus();
        before->trigger();
        QVERIFY2(!after->isChecked(), row);
        QTest::keySequence(window, QKeySequence(f[0]));
        QTRY_VERIFY2(after->isChecked() && !before->isChecked(), row);
        // No Save dialog or anything else popped up.
        QVERIFY2(answerer.boxes.isEmpty(), qPrintable(answerer.boxes.value(0).text));
    }
}

void StartupTest::about()
{
    answerer.clear();
    window->findChild<QAction *>("actionAbout_Quelvin")->trigger();
    const harness::Box about{"about", "Quelvin",
        "<strong>About Quelvin</strong><p>Quelvin is an open-source multi-platform viewer for VRML models.<p>See "
        "<a href=\"https://quelvin.kestrom.org/\">https://quelvin.kestrom.org/</a> for more information."};
    QCOMPARE(answerer.boxes, QList<harness::Box>{about});
}

void StartupTest::settingsBetweenRuns()
{
    QApplication::setQuitOnLastWindowClosed(false);
    harness::Scratch here;
    answerer.clear();
    auto *first = new BrowserWindow(QString());   // never deleted: the viewer outlives it
    first->move(123, 87);
    QVERIFY(harness::shown(first, QSize(640, 480)));
    QStringList paths;   // newest first
    for (int i = 1; i <= 25; ++i) {
        paths.prepend(here.file(QString("f%1.wrl").arg(i)));
        QVERIFY(QFile::copy(harness::sourceDir() + "/tests/data/documents/tour.wrl", paths.first()));
        answerer.queueFile(paths.first());
        first->findChild<QAction *>("actionOpen")->trigger();
    }
    QCOMPARE(menu(first), paths.mid(0, 20));
    // Opened again from its menu entry, a file moves to the top, once.
    for (QAction *a : first->findChild<QMenu *>("menuFile")->actions())
        if (a->isVisible() && a->data() == paths[4]) {
            a->trigger();
            break;
        }
    paths.move(4, 0);
    QCOMPARE(menu(first), paths.mid(0, 20));
    first->close();
    QCOMPARE(QSettings("Kestrom", "Quelvin").value("recentFiles").toStringList(), paths);

    // A file in the menu goes away between runs.
    QVERIFY(QFile::remove(paths.takeAt(1)));
    QProcess program;
    QVERIFY(start(program, here));
    // Sent once, when its window is first seen: a second look (as
    // QTRY_VERIFY takes) may find it already gone.
    QVERIFY(QTest::qWaitFor([&] {
        const QList<unsigned long> others = shownWindows().values();
        for (unsigned long other : others)
            askToClose(other);
        return !others.isEmpty();
    }, 60000));
    QVERIFY(program.waitForFinished(60000) && program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0);
    QSettings settings("Kestrom", "Quelvin");
    settings.sync();
    QCOMPARE(settings.value("pos").toPoint(), QPoint(123, 87));
    QCOMPARE(settings.value("size").toSize(), QSize(640, 480));
    QCOMPARE(settings.value("recentFiles").toStringList(), paths);
    QCOMPARE(menu(new BrowserWindow(QString())), paths.mid(0, 20));
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"

// Last, as Xlib's short macro names would collide with Qt's.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

static QMultiHash<QString, unsigned long> shownWindows()
{
    QSet<unsigned long> ours;
    for (QWindow *window : QGuiApplication::topLevelWindows())
        if (window->handle())
            ours.insert(window->winId());
    QMultiHash<QString, unsigned long> shown;
    Display *display = XOpenDisplay(nullptr);
    ::Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (display && XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        for (unsigned int i = 0; i < count; ++i) {
            XWindowAttributes attributes;
            XTextProperty title = {nullptr, 0, 0, 0};
            if (!ours.contains(children[i]) && XGetWindowAttributes(display, children[i], &attributes)
                && attributes.map_state == IsViewable) {
                XGetTextProperty(display, children[i], &title, XA_WM_NAME);
                shown.insert(QString::fromUtf8(reinterpret_cast<char *>(title.value), int(title.nitems)),
                             children[i]);
                XFree(title.value);
            }
        }
    XFree(children);
    if (display)
        XCloseDisplay(display);
    return shown;
}

static void askToClose(unsigned long window)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return;
    XEvent event = {};
    event.xclient = {ClientMessage, 0, False, display, window, XInternAtom(display, "WM_PROTOCOLS", False), 32, {}};
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    XSendEvent(display, window, False, NoEventMask, &event);
    XCloseDisplay(display);   // sends what is queued
}
