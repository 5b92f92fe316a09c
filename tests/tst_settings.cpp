// What the main window keeps between runs: its place, its size and the
// recent-file list, of which the File menu shows twenty. The restart is of
// the real program, closed as a window manager's close button would.

#include "harness.h"
#include "quelvin_window.h"

#include <QtTest>
#include <QtWidgets>

#include <X11/Xlib.h>

namespace {

// Sends every shown top-level window on the display but ours what a window
// manager's close button sends; returns how many got it.
int closeShownWindows(Window ours)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return -1;
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned int count = 0;
    int closed = 0;
    XQueryTree(display, root, &root, &parent, &children, &count);
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        XEvent event = {};
        event.xclient = {ClientMessage, 0, False, display, children[i], XInternAtom(display, "WM_PROTOCOLS", False), 32, {}};
        event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
        if (children[i] != ours && XGetWindowAttributes(display, children[i], &attributes)
            && attributes.map_state == IsViewable && XSendEvent(display, children[i], False, NoEventMask, &event))
            ++closed;
    }
    XFree(children);
    XCloseDisplay(display);   // sends what is queued
    return closed;
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

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void restartOfTheProgram();
};

void TestSettings::restartOfTheProgram()
{
    QApplication::setQuitOnLastWindowClosed(false);
    harness::Scratch scratch;
    harness::ModalAnswerer answerer;
    auto *window = new BrowserWindow(QString());   // never deleted: the viewer outlives it
    window->move(123, 87);
    QVERIFY(harness::shown(window, QSize(640, 480)));
    QStringList paths;   // newest first
    for (int i = 1; i <= 25; ++i) {
        paths.prepend(scratch.file(QString("f%1.wrl").arg(i)));
        QVERIFY(QFile::copy(harness::sourceDir() + "/tests/data/documents/tour.wrl", paths.first()));
        answerer.queueFile(paths.first());
        window->findChild<QAction *>("actionOpen")->trigger();
    }
    QCOMPARE(menu(window), paths.mid(0, 20));
    // Opened again from its menu entry, a file moves to the top, once.
    for (QAction *a : window->findChild<QMenu *>("menuFile")->actions())
        if (a->isVisible() && a->data() == paths[4]) {
            a->trigger();
            break;
        }
    paths.move(4, 0);
    QCOMPARE(menu(window), paths.mid(0, 20));
    window->close();
    QCOMPARE(QSettings("Kestrom", "Quelvin").value("recentFiles").toStringList(), paths);

    // A file in the menu goes away between runs.
    QVERIFY(QFile::remove(paths.takeAt(1)));
    QProcess program;
    program.setProcessEnvironment(scratch.environment());
    program.start(harness::programPath(), QStringList());
    // Sent once, when the window is first seen: a second look (as
    // QTRY_VERIFY takes) may find it already gone.
    QVERIFY(QTest::qWaitFor([&] { return closeShownWindows(window->winId()) > 0; }, 60000));
    QVERIFY(program.waitForFinished(60000) && program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0);
    QSettings settings("Kestrom", "Quelvin");
    settings.sync();
    QCOMPARE(settings.value("pos").toPoint(), QPoint(123, 87));
    QCOMPARE(settings.value("size").toSize(), QSize(640, 480));
    QCOMPARE(settings.value("recentFiles").toStringList(), paths);
    QCOMPARE(menu(new BrowserWindow(QString())), paths.mid(0, 20));
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
