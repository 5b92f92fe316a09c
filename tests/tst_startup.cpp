// Start-up of Quelvin: the real program started as a user starts it (its
// standard output, logs, exit status and what its window shows), and the
// kinds of box through which it reports.

#include "harness.h"
#include "quelvin_window.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QScreen>
#include <QtTest>

// The mapped top-level windows of the display by title, with their X ids.
static QHash<QString, unsigned long> shownWindows();

namespace {

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<cannot read>");
}

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

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void startsWithoutFile();
    void blockedLogEndsProcess_data();
    void blockedLogEndsProcess();
    void msgBoxKinds();
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

    QCOMPARE(contentsOf(dir.file("quelvin.log")), QByteArray("Quelvin log file\n\n"));
    QCOMPARE(contentsOf(dir.file("quelvinViewer.log")), QByteArray("Quelvin viewer log file\n\n"));
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

void StartupTest::msgBoxKinds()
{
    harness::ModalAnswerer answerer;
    // Shown as given: no rich-text or translation fiddling with the text.
    const QString text = QStringLiteral("Message <b> & more\nsecond line");
    for (int severity : {0, 1, 2, 7, -1})
        BrowserWindow::msgBox(severity, QString::number(severity), text);
    QStringList shown;
    for (const harness::Box &box : answerer.boxes)
        shown << box.kind + " " + box.title + (box.text == text ? "" : " altered: " + box.text);
    QCOMPARE(shown, (QStringList{"critical 0", "warning 1", "information 2", "information 7",
                                 "information -1"}));
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"

// Last, as Xlib's short macro names would collide with Qt's.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

static QHash<QString, unsigned long> shownWindows()
{
    QHash<QString, unsigned long> shown;
    Display *display = XOpenDisplay(nullptr);
    ::Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (display && XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        for (unsigned int i = 0; i < count; ++i) {
            XWindowAttributes attributes;
            XTextProperty title = {nullptr, 0, 0, 0};
            if (XGetWindowAttributes(display, children[i], &attributes)
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
