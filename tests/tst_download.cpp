// Documents typed into the location field as http URLs: what the window
// says while it fetches them (message boxes, status-bar messages, the
// progress bar), what goes over the wire, what is shown when the body has
// arrived, and what happens when the server fails, the connection breaks,
// the user presses Stop or starts another download meanwhile.

#include "harness.h"
#include "httpserver.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <Inventor/nodes/SoSeparator.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSharedPointer>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QWindow>
#include <QtTest>

#include <memory>

using harness::Box;

Q_DECLARE_METATYPE(harness::Box)

namespace {

const QColor kRed(255, 0, 0);      // download/plain.wrl
const QColor kGreen(0, 255, 0);    // download/other.wrl, opened locally before each case

QString dataDir() { return harness::sourceDir() + "/tests/data/resources"; }

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Box information(const QString &title, const QString &text) { return {"information", title, text}; }

const Box kSchemeBox = information("HTTP", "scheme: http");
const Box kLoadingBox = information("BrowserWindow::httpRequestFinished", "trying to load file to browser");
// The body is read from memory, so the viewer has no file name to show.
const Box kViewerBox = information("Viewer", "");
const Box kAbortedBox = information("Browser", "#1Download failed: Request aborted.");

QString describe(const QList<Box> &boxes)
{
    QStringList parts;
    for (const Box &box : boxes)
        parts << QStringLiteral("%1 \"%2\" \"%3\"").arg(box.kind, box.title, box.text);
    return parts.join(QStringLiteral(" | "));
}

#define COMPARE_BOXES(actual, expected)                                                      \
    do {                                                                                     \
        const QList<Box> got_ = (actual);                                                    \
        const QList<Box> wanted_ = (expected);                                               \
        QVERIFY2(got_ == wanted_,                                                            \
                 qPrintable("got: " + describe(got_) + "\nwanted: " + describe(wanted_)));    \
    } while (0)

#define COMPARE_MESSAGES(actual, expected)                                                   \
    do {                                                                                     \
        const QStringList got_ = (actual);                                                   \
        const QStringList wanted_ = (expected);                                              \
        QVERIFY2(got_ == wanted_, qPrintable("got: " + got_.join(" | ") + "\nwanted: "       \
                                             + wanted_.join(" | ")));                        \
    } while (0)

// What the window shows in its status bar while a download with the given
// display name starts: the client first sets the host (and the user), each
// a request of its own, before the GET begins.
QStringList startMessages(const QString &name, bool withUser = false)
{
    QStringList messages{"Downloading " + name + ".", "requestStarted", "finished;status code: 0."};
    if (withUser)
        messages << "requestStarted" << "finished;status code: 0.";
    messages << "requestStarted";
    return messages;
}

// Stands on the port an http URL without a port number goes to, answering
// every GET with one body and noting the request lines.
class PortEighty : public QObject
{
public:
    explicit PortEighty(const QByteArray &answer) : body(answer)
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                auto inbox = QSharedPointer<QByteArray>::create();
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket, inbox] {
                    inbox->append(socket->readAll());
                    if (!inbox->contains("\r\n\r\n"))
                        return;
                    requestLines << QString::fromLatin1(inbox->left(inbox->indexOf("\r\n")));
                    inbox->clear();
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: model/vrml\r\nContent-Length: "
                                  + QByteArray::number(body.size())
                                  + "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    bool listen() { return server.listen(QHostAddress::LocalHost, 80); }

    QStringList requestLines;

private:
    QTcpServer server;
    QByteArray body;
};

} // namespace

class TestDownload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void successfulDownloads_data();
    void successfulDownloads();
    void portEightyByDefault();
    void failedDownloads_data();
    void failedDownloads();
    void stopWithoutDownload();
    void secondDownloadWhileFirstRuns();

private:
    QString url(const QString &path) const { return server->baseUrl() + path; }
    void type(const QString &text);
    QStringList messages() const;
    bool waitForMessage(const QString &message, int count = 1) const;
    bool showsCentre(QColor colour, const QString &what) const;
    QStringList filesInWorkingDirectory() const;

    std::unique_ptr<harness::Scratch> home;
    std::unique_ptr<harness::Scratch> work;
    std::unique_ptr<TestHttpServer> server;
    std::unique_ptr<QSignalSpy> statusSpy;
    harness::ModalAnswerer *answerer = nullptr;
    BrowserWindow *window = nullptr;
    Browser *viewer = nullptr;
    QComboBox *combo = nullptr;
    QLineEdit *location = nullptr;
    QProgressBar *progress = nullptr;
    QAction *stop = nullptr;
    QString failureDir;
};

void TestDownload::initTestCase()
{
    qRegisterMetaType<Box>();
    failureDir = QDir::currentPath();
    home.reset(new harness::Scratch);
    QVERIFY(home->isValid());
    server.reset(new TestHttpServer);
    QVERIFY(server->isListening());
    server->setRoot(dataDir());

    answerer = new harness::ModalAnswerer(this);
    window = new BrowserWindow(QString());
    viewer = window->viewer();
    combo = window->findChild<QComboBox *>("location");
    progress = window->findChild<QProgressBar *>("progress");
    stop = window->findChild<QAction *>("actionStop");
    QVERIFY(combo && combo->lineEdit() && progress && stop);
    location = combo->lineEdit();
    statusSpy.reset(new QSignalSpy(window->statusBar(), &QStatusBar::messageChanged));
    window->resize(1000, 760);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    harness::settle(100);
    QVERIFY(!progress->isVisible());
}

// Every case starts with a green crate opened from a local file, in a
// working directory of its own, with nothing recorded yet.
void TestDownload::init()
{
    work.reset(new harness::Scratch);
    QVERIFY(work->isValid());
    SoSeparator *before = Browser::loadedScene();
    type(QUrl::fromLocalFile(dataDir() + "/download/other.wrl").toString());
    QVERIFY(Browser::loadedScene() != before);
    QVERIFY(showsCentre(kGreen, "local crate"));
    harness::settle(50);
    server->clearLog();
    answerer->clear();
    statusSpy->clear();
}

void TestDownload::cleanup()
{
    // No download of this case may report into the next one.
    QTRY_COMPARE_WITH_TIMEOUT(server->openConnections(), 0, 20000);
    harness::settle(100);
    work.reset();
}

// Keys go where the keyboard sends them: to the combo box, which has the
// focus and hands them on to its line edit. What the field completes from
// earlier entries is deleted, as a user would before pressing Return.
void TestDownload::type(const QString &text)
{
    location->clear();
    QTest::keyClicks(combo, text);
    if (location->hasSelectedText())
        QTest::keyClick(combo, Qt::Key_Delete);
    QCOMPARE(location->text(), text);
    QTest::keyClick(combo, Qt::Key_Return);
}

// The status-bar messages shown so far; a message running out (the bar
// going blank) is not one.
QStringList TestDownload::messages() const
{
    QStringList list;
    for (const QList<QVariant> &arguments : *statusSpy) {
        const QString message = arguments.value(0).toString();
        if (!message.isEmpty())
            list << message;
    }
    return list;
}

bool TestDownload::waitForMessage(const QString &message, int count) const
{
    return QTest::qWaitFor([&] { return messages().count(message) >= count; }, 20000);
}

bool TestDownload::showsCentre(QColor colour, const QString &what) const
{
    const QImage image = harness::grabViewer(viewer);
    const QPoint centre(image.width() / 2, image.height() / 2);
    const double fraction =
        harness::fractionNear(image, QRect(centre - QPoint(5, 5), QSize(11, 11)), colour, 40);
    if (fraction > 0.9)
        return true;
    QString name = QString("tst_download-%1-%2-%3-actual.png")
                       .arg(QTest::currentTestFunction(), QTest::currentDataTag() ? QTest::currentDataTag() : "", what);
    name.replace(QRegularExpression("[^A-Za-z0-9_.-]"), "_");
    image.save(failureDir + "/" + name);
    qWarning("%s is %s, not %s; frame written to %s", qPrintable(what),
             qPrintable(image.pixelColor(centre).name()), qPrintable(colour.name()),
             qPrintable(failureDir + "/" + name));
    return false;
}

QStringList TestDownload::filesInWorkingDirectory() const
{
    QStringList names = QDir(work->path()).entryList(QDir::Files);
    names.removeAll("quelvin.log");
    names.removeAll("quelvinViewer.log");
    return names;
}

// --- Downloads that succeed -------------------------------------------------

void TestDownload::successfulDownloads_data()
{
    // What follows the server's address in the typed URL (@USER@: user and
    // password before it), the request line and Authorization header the
    // server is to see, and the name the window shows while downloading.
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("requestLine");
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<QString>("displayName");

    QTest::newRow("plain") << "/download/plain.wrl"
                           << "GET /download/plain.wrl HTTP/1.1" << QByteArray() << "plain.wrl";
    QTest::newRow("user and password") << "@USER@/download/plain.wrl"
                                       << "GET /download/plain.wrl HTTP/1.1"
                                       << QByteArray("Basic " + QByteArray("user:secret").toBase64())
                                       << "plain.wrl";
    // Only the path goes into the request line.
    QTest::newRow("query") << "/download/plain.wrl?x=1&y=2"
                           << "GET /download/plain.wrl HTTP/1.1" << QByteArray() << "plain.wrl?x=1&y=2";
}

void TestDownload::successfulDownloads()
{
    QFETCH(QString, typed);
    QFETCH(QString, requestLine);
    QFETCH(QByteArray, authorization);
    QFETCH(QString, displayName);

    const bool withUser = typed.startsWith("@USER@");
    const QString text = withUser ? QString(url(typed.mid(6))).replace("http://", "http://user:secret@")
                                  : url(typed);
    SoSeparator *before = Browser::loadedScene();
    type(text);
    QVERIFY(progress->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(Browser::loadedScene() != before, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(answerer->boxes.size(), 3, 20000);
    harness::settle(300);

    COMPARE_BOXES(answerer->boxes, QList<Box>({kSchemeBox, kLoadingBox, kViewerBox}));
    COMPARE_MESSAGES(messages(), startMessages(displayName, withUser)
                                     << "finished;status code: 200." << QUrl(text).toString());
    QCOMPARE(server->requestLines(), QStringList{requestLine});
    QCOMPARE(server->authorizations(), QList<QByteArray>{authorization});
    QVERIFY(!progress->isVisible());
    QVERIFY(showsCentre(kRed, "downloaded crate"));
    // Read from memory: nothing is written to disk, and there is no file
    // name.
    QCOMPARE(filesInWorkingDirectory(), QStringList());
    QCOMPARE(viewer->currentFileName(), QString());
    QCOMPARE(window->windowTitle(), QString("http:[*] - Browser"));
    QCOMPARE(window->windowHandle()->title(), QString("http: - Browser"));
    // The location's text stays in the status bar, past every timeout.
    harness::settle(1200);
    QCOMPARE(window->statusBar()->currentMessage(), QUrl(text).toString());
    QCOMPARE(location->text(), text);
}

void TestDownload::portEightyByDefault()
{
    PortEighty eighty(readBytes(dataDir() + "/download/plain.wrl"));
    if (!eighty.listen())
        QSKIP("port 80 of 127.0.0.1 is taken");

    SoSeparator *before = Browser::loadedScene();
    type("http://127.0.0.1/download/plain.wrl");
    QTRY_VERIFY_WITH_TIMEOUT(Browser::loadedScene() != before, 20000);
    QCOMPARE(eighty.requestLines, QStringList{"GET /download/plain.wrl HTTP/1.1"});
    COMPARE_BOXES(answerer->boxes, QList<Box>({kSchemeBox, kLoadingBox, kViewerBox}));
    QVERIFY(showsCentre(kRed, "downloaded crate"));
    QCOMPARE(server->requestLines(), QStringList());
}

// --- Downloads that fail ----------------------------------------------------

enum Trouble { NotFound, Redirect, ServerError, Drop, StopWhileSlow };
Q_DECLARE_METATYPE(Trouble)

void TestDownload::failedDownloads_data()
{
    QTest::addColumn<Trouble>("trouble");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QList<Box>>("boxes");    // after "scheme: http"
    QTest::addColumn<QStringList>("ending");  // status messages after the GET started

    QTest::newRow("not found") << NotFound << "/download/missing.wrl"
                               << QList<Box>{information("HTTP", "#2Download failed: Not Found."), kAbortedBox}
                               << QStringList{"finished;status code: 404."};
    // Redirections are not followed: any status but 200 is a failure.
    QTest::newRow("redirect") << Redirect << "/download/moved.wrl"
                              << QList<Box>{information("HTTP", "#2Download failed: Found."), kAbortedBox}
                              << QStringList{"finished;status code: 302."};
    QTest::newRow("server error with a scene as body")
        << ServerError << "/download/failing.wrl"
        << QList<Box>{information("HTTP", "#2Download failed: Internal Server Error."), kAbortedBox}
        << QStringList{"finished;status code: 500."};
    // The GET ends in an error of its own: the bar goes, nothing is said.
    QTest::newRow("connection dropped mid-body")
        << Drop << "/download/cut.wrl" << QList<Box>() << QStringList{"finished;status code: 200."};
    QTest::newRow("stop during a slow download")
        << StopWhileSlow << "/download/slow.wrl" << QList<Box>{kAbortedBox}
        << QStringList{"Download canceled.", "finished;status code: 200."};
}

void TestDownload::failedDownloads()
{
    QFETCH(Trouble, trouble);
    QFETCH(QString, path);
    QFETCH(QList<Box>, boxes);
    QFETCH(QStringList, ending);

    switch (trouble) {
    case NotFound:
        break;
    case Redirect:
        server->addRedirect(path, url("/download/plain.wrl"));
        break;
    case ServerError:
        server->addRoute(path, readBytes(dataDir() + "/download/plain.wrl"), "model/vrml", 500);
        break;
    case Drop:
        server->addDrop(path, 100);
        break;
    case StopWhileSlow:
        server->addSlow(path, 256, 50);
        break;
    }
    SoSeparator *scene = Browser::loadedScene();
    SoNode *root = viewer->getSceneGraph();
    const QString title = window->windowTitle();

    type(url(path));
    QVERIFY(progress->isVisible());
    if (trouble == StopWhileSlow) {
        // The bar follows the body as it comes (it keeps the figures of the
        // last download until the first bytes arrive).
        const int size = int(QFile(dataDir() + path).size());
        QTRY_VERIFY_WITH_TIMEOUT(progress->maximum() == size && progress->value() > 0, 20000);
        QVERIFY(progress->value() < size);
        stop->trigger();
    }
    QVERIFY(waitForMessage(ending.last()));
    QTRY_COMPARE_WITH_TIMEOUT(answerer->boxes.size(), 1 + boxes.size(), 20000);
    harness::settle(300);

    COMPARE_BOXES(answerer->boxes, QList<Box>{kSchemeBox} + boxes);
    COMPARE_MESSAGES(messages(), startMessages(path.section('/', -1)) + ending);
    QCOMPARE(server->requestLines(), QStringList{"GET " + path + " HTTP/1.1"});
    QVERIFY(!progress->isVisible());
    // The scene shown before stays, and so does the title.
    QCOMPARE(Browser::loadedScene(), scene);
    QCOMPARE(viewer->getSceneGraph(), root);
    QVERIFY(showsCentre(kGreen, "local crate"));
    QCOMPARE(window->windowTitle(), title);
    QCOMPARE(filesInWorkingDirectory(), QStringList());
}

void TestDownload::stopWithoutDownload()
{
    SoNode *root = viewer->getSceneGraph();
    stop->trigger();
    harness::settle(300);
    COMPARE_MESSAGES(messages(), QStringList{"Download canceled."});
    COMPARE_BOXES(answerer->boxes, QList<Box>());
    QCOMPARE(viewer->getSceneGraph(), root);

    // The next download starts afresh and is not taken for a stopped one.
    statusSpy->clear();
    SoSeparator *before = Browser::loadedScene();
    type(url("/download/plain.wrl"));
    QTRY_VERIFY_WITH_TIMEOUT(Browser::loadedScene() != before, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(answerer->boxes.size(), 3, 20000);
    harness::settle(300);
    COMPARE_BOXES(answerer->boxes, QList<Box>({kSchemeBox, kLoadingBox, kViewerBox}));
    COMPARE_MESSAGES(messages(), startMessages("plain.wrl")
                                     << "finished;status code: 200." << url("/download/plain.wrl"));
    QVERIFY(showsCentre(kRed, "downloaded crate"));
}

void TestDownload::secondDownloadWhileFirstRuns()
{
    // Slow enough to outlast the whole second download.
    server->addSlow("/download/slow.wrl", 128, 50);
    type(url("/download/slow.wrl"));
    const int size = int(QFile(dataDir() + "/download/slow.wrl").size());
    QTRY_VERIFY_WITH_TIMEOUT(progress->maximum() == size && progress->value() > 0, 20000);

    // The second download runs to its end while the first still comes in.
    SoSeparator *before = Browser::loadedScene();
    type(url("/download/plain.wrl"));
    QTRY_VERIFY_WITH_TIMEOUT(Browser::loadedScene() != before, 20000);
    QCOMPARE(server->completedResponses(), 1);
    SoSeparator *scene = Browser::loadedScene();
    SoNode *root = viewer->getSceneGraph();
    QVERIFY(showsCentre(kRed, "second download"));

    // The first one's end is not the download the window waits for.
    QVERIFY(waitForMessage("finished;status code: 200.", 2));
    QTRY_COMPARE_WITH_TIMEOUT(server->completedResponses(), 2, 20000);
    harness::settle(300);
    COMPARE_BOXES(answerer->boxes, QList<Box>({kSchemeBox, kSchemeBox, kLoadingBox, kViewerBox}));
    COMPARE_MESSAGES(messages(), startMessages("slow.wrl") + startMessages("plain.wrl")
                                     << "finished;status code: 200." << url("/download/plain.wrl")
                                     << "finished;status code: 200.");
    QCOMPARE(server->requestLines(),
             QStringList({"GET /download/slow.wrl HTTP/1.1", "GET /download/plain.wrl HTTP/1.1"}));
    QVERIFY(!progress->isVisible());
    QCOMPARE(Browser::loadedScene(), scene);
    QCOMPARE(viewer->getSceneGraph(), root);
    QVERIFY(showsCentre(kRed, "second download"));
}

QTEST_MAIN(TestDownload)
#include "tst_download.moc"
