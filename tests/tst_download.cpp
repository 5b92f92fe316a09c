// Documents typed into the location field as http URLs: the boxes and
// status messages the window shows while it fetches them, what goes over
// the wire, and what is shown when the download ends, fails, is stopped or
// is overtaken by another one.

#include "harness.h"
#include "httpserver.h"
#include "quelvin_http.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <Inventor/nodes/SoSeparator.h>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QWindow>
#include <QtTest>

#include <cstring>
#include <memory>

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Port 80 belongs to the machine. In a network of the suite's own, with only
// its loopback up, a server of ours can take it; making one takes root.
bool ownNetwork()
{
    if (unshare(CLONE_NEWNET) != 0)
        return false;
    ifreq loopback = {};
    strncpy(loopback.ifr_name, "lo", IFNAMSIZ - 1);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &loopback) == 0;
    loopback.ifr_flags |= IFF_UP;
    up = up && ioctl(fd, SIOCSIFFLAGS, &loopback) == 0;
    if (fd >= 0)
        close(fd);
    return up;
}

// What the status bar says while a download starts: setting the host is a
// request of its own, before the GET begins.
QStringList started(const QString &name)
{
    return {"Downloading " + name + ".", "requestStarted", "finished;status code: 0.", "requestStarted"};
}

const QString kScheme = "information/HTTP/scheme: http";
const QString kAborted = "information/Browser/#1Download failed: Request aborted.";
// A document read from memory leaves the viewer no file name to show.
const QStringList kShown{kScheme, "information/BrowserWindow::httpRequestFinished/trying to load file to browser",
                         "information/Viewer/"};

} // namespace

class TestDownload : public QObject
{
    Q_OBJECT
    // Sockets belong to the network they were made in, so the suite moves
    // into its own before it makes any.
    const bool isolated = ownNetwork();
    harness::Scratch home;
    TestHttpServer server;
    std::unique_ptr<TestHttpServer> standardPort; // on 80, where the suite is isolated
    harness::ModalAnswerer answerer;
    BrowserWindow *window = nullptr;
    QStringList messages; // shown in the status bar; the bar going blank is none

    QString url(const QString &name) const { return server.baseUrl() + "/" + name; }
    QString data(const QString &name) const { return harness::sourceDir() + "/tests/data/resources/download/" + name; }

    bool shows(QColor colour)
    {
        const QImage image = harness::grabViewer(window->viewer());
        if (harness::fractionNear(image, image.rect(), colour, 40) > 0.02)
            return true;
        harness::keepImage(image, QString(QTest::currentDataTag()) + "-actual");
        return false;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid() && server.isListening());
        server.setRoot(data(""));
        server.addSlow("/slow.wrl", 256, 50);
        if (isolated) {
            standardPort.reset(new TestHttpServer(80));
            QVERIFY(standardPort->isListening());
            standardPort->setRoot(data(""));
        }
        // Answers, then never sends a byte of the body.
        server.addSlow("/silent.wrl", 1, 3600 * 1000);
        Http::stallTimeoutMs = 1500;
        window = new BrowserWindow(QString());
        connect(window->statusBar(), &QStatusBar::messageChanged, this, [this](const QString &message) {
            if (!message.isEmpty())
                messages << message;
        });
        QVERIFY(harness::shown(window));
    }

    // Every case starts with a green crate opened from a local file.
    void init()
    {
        harness::typeLocation(window, data("other.wrl"));
        QVERIFY(shows(Qt::green));
        harness::settle(50);
        server.clearLog();
        answerer.clear();
        messages.clear();
    }

    // No download of this case may report into the next one.
    void cleanup() { QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, 20000); }

    void downloads_data()
    {
        // The document typed (a name on the test server, or a whole URL),
        // what the user does once its body is coming (Stop, or open plain.wrl
        // too; "password": the URL is typed with user information), the boxes
        // and status messages in order, and the colour of the scene shown in
        // the end (green: the one shown before stays).
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QColor>("colour");
        const QString ok = "finished;status code: 200.";
        QTest::newRow("plain") << "plain.wrl" << "" << kShown << (started("plain.wrl") << ok << url("plain.wrl"))
                               << QColor(Qt::red);
        // Only the path goes into the request line.
        QTest::newRow("query") << "plain.wrl?lod=2" << "" << kShown
                               << (started("plain.wrl?lod=2") << ok << url("plain.wrl?lod=2")) << QColor(Qt::red);
        // A whole URL without a port: served on 80, by a server of its own.
        QTest::newRow("without a port") << "http://127.0.0.1/plain.wrl" << "" << kShown
                                        << (started("plain.wrl") << ok << "http://127.0.0.1/plain.wrl") << QColor(Qt::red);
        // Compressed, as servers keep large models.
        QTest::newRow("gzip") << "plain.wrl.gz" << "" << kShown
                              << (started("plain.wrl.gz") << ok << url("plain.wrl.gz")) << QColor(Qt::red);
        // A page where a model was: refused as a file would be, the scene stays.
        QTest::newRow("web page") << "page.html" << ""
                                  << QStringList{kShown[0], kShown[1], "warning/Application/Cannot load file"}
                                  << (started("page.html") << ok) << QColor(Qt::green);
        // Typed with a user and a password, shown without them.
        QTest::newRow("password") << "plain.wrl" << "password" << kShown
                                  << (started("plain.wrl") << "finished;status code: 0." << "requestStarted" << ok
                                      << url("plain.wrl")) << QColor(Qt::red);
        // Ends as a dropped connection does, once nothing has come for a while.
        QTest::newRow("server silent") << "silent.wrl" << "" << QStringList{kScheme}
                                       << (started("silent.wrl") << ok) << QColor(Qt::green);
        QTest::newRow("not found") << "gone.wrl" << "" << QStringList{kScheme, "information/HTTP/#2Download failed: Not Found.", kAborted}
                                   << (started("gone.wrl") << "finished;status code: 404.") << QColor(Qt::green);
        QTest::newRow("stop") << "slow.wrl" << "stop" << QStringList{kScheme, kAborted}
                              << (started("slow.wrl") << "Download canceled." << ok) << QColor(Qt::green);
        // The first one's end is not the download the window waits for.
        QTest::newRow("second while first runs")
            << "slow.wrl" << "second" << QStringList{kScheme} + kShown
            << (started("slow.wrl") + started("plain.wrl") << ok << url("plain.wrl") << ok) << QColor(Qt::red);
    }

    void downloads()
    {
        QFETCH(QString, name);
        QFETCH(QString, meanwhile);
        QFETCH(QStringList, boxes);
        QFETCH(QStringList, shown);
        QFETCH(QColor, colour);
        TestHttpServer *serving = &server;
        if (name.startsWith("http:")) {
            if (!standardPort)
                QSKIP("Port 80 needs a network of the suite's own, which only root can make");
            serving = standardPort.get();
        }
        SoSeparator *before = Browser::loadedScene();
        const QString title = window->windowHandle()->title();
        auto *progress = window->findChild<QProgressBar *>("progress");
        const int stale = progress->value();
        const QString typed = serving == &server ? url(name) : name;
        harness::typeLocation(window, meanwhile == "password" ? QString(typed).replace("http://", "http://user:secret@") : typed);
        QVERIFY(progress->isVisible());
        if (meanwhile == "stop" || meanwhile == "second") {
            // The bar keeps the last download's figures until bytes arrive.
            const int size = QFileInfo(data("slow.wrl")).size();
            QTRY_VERIFY_WITH_TIMEOUT(progress->maximum() == size && progress->value() != stale && progress->value() > 0, 20000);
            QVERIFY(progress->value() < size);
            meanwhile == "stop" ? window->findChild<QAction *>("actionStop")->trigger() : harness::typeLocation(window, url("plain.wrl"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(messages, shown, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(answerer.lines(), boxes, 20000);
        harness::settle(300); // and nothing more comes
        QCOMPARE(messages, shown);
        QCOMPARE(answerer.lines(), boxes);
        const QString file = name.section('/', -1).section('?', 0, 0);
        const QStringList requests{"GET /" + file + " HTTP/1.1", "GET /plain.wrl HTTP/1.1"};
        QCOMPARE(serving->requestLines(), requests.mid(0, meanwhile == "second" ? 2 : 1));
        QVERIFY(!progress->isVisible());
        QCOMPARE(Browser::loadedScene() != before, colour == Qt::red);
        QVERIFY(shows(colour));
        QCOMPARE(window->windowHandle()->title(), colour == Qt::red ? "http: - Browser" : title);
    }
};

QTEST_MAIN(TestDownload)
#include "tst_download.moc"
