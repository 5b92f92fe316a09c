// Exercises the queued HTTP client against a real server on 127.0.0.1.

#include "httpserver.h"
#include "quelvin_http.h"

#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryFile>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

// Writes down every signal of a client as a readable event, with request
// ids replaced by names the test chose, so whole sequences can be compared.
class Recorder : public QObject
{
public:
    explicit Recorder(Http *http)
    {
        connect(http, &Http::requestStarted, this, [this, http](int id) {
            if (http->currentId() != id)
                ++currentIdMismatches;
            log << QStringLiteral("started ") + nameOf(id);
        });
        connect(http, &Http::responseHeaderReceived, this, [this](const HttpResponseHeader &header) {
            log << QStringLiteral("header %1").arg(header.statusCode());
        });
        connect(http, &Http::dataReadProgress, this, [this](int done, int total) {
            progress << qMakePair(done, total);
            // Chunking depends on the network; one entry per run of updates.
            if (log.isEmpty() || log.last() != QLatin1String("progress"))
                log << QStringLiteral("progress");
        });
        connect(http, &Http::requestFinished, this, [this, http](int id, bool error) {
            if (http->currentId() != id)
                ++currentIdMismatches;
            log << QStringLiteral("finished ") + nameOf(id) + (error ? QStringLiteral(" error") : QStringLiteral(" ok"));
        });
        connect(http, &Http::done, this, [this](bool error) {
            ++doneCount;
            log << (error ? QStringLiteral("done error") : QStringLiteral("done ok"));
        });
    }

    void name(int id, const QString &name) { names.insert(id, name); }
    QString nameOf(int id) const { return names.value(id, QStringLiteral("#%1").arg(id)); }

    QStringList log;
    QList<QPair<int, int>> progress;
    QHash<int, QString> names;
    int doneCount = 0;
    int currentIdMismatches = 0;
};

// Stands in for a modal message box: a nested event loop that keeps
// running until the condition holds, then a little longer so that whatever
// the network has in flight gets delivered inside it.
void runModalLoop(const std::function<bool()> &until, int lingerMs)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    bool lingering = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        // A real dialog keeps posting events (paints, hover updates), and
        // new posted events are what lets events queued before the loop
        // started, such as the rest of a network reply, through inside it.
        QMetaObject::invokeMethod(&loop, [] {}, Qt::QueuedConnection);
        if (!lingering && until()) {
            lingering = true;
            QTimer::singleShot(lingerMs, &loop, &QEventLoop::quit);
        }
    });
    poll.start();
    // Upper bound so a broken condition fails the test instead of hanging it.
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
}

QByteArray binaryBody(int size)
{
    // Includes NULs and CR/LF so that any text handling would show.
    QByteArray body;
    body.reserve(size);
    quint32 state = 12345;
    for (int i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        body.append(char(state >> 24));
    }
    return body;
}

} // namespace

class TestHttp : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void idsAreSharedAndIncreasing();
    void signalSequence();
    void body_data();
    void body();
    void readAllHoldsLastMemoryBody_data();
    void readAllHoldsLastMemoryBody();
    void statusIsNotAnError_data();
    void statusIsNotAnError();
    void headerLookupIgnoresCase();
    void unansweredChallengeIsAnError();
    void droppedConnectionIsAnError();
    void connectionFailures_data();
    void connectionFailures();
    void requestLineHoldsOnlyPath_data();
    void requestLineHoldsOnlyPath();
    void basicAuthentication_data();
    void basicAuthentication();
    void credentialsFollowIssueOrder();
    void abortDuringSlowDownload();
    void abortFromHandler_data();
    void abortFromHandler();
    void abortWhenIdleDoesNothing();
    void requestsQueuedFromFinishedHandler();
    void nextRequestWaitsForFinishedHandler();
    void deleteWhileInFlight_data();
    void deleteWhileInFlight();

private:
    // Waits until the server has no connections left and lets any stray
    // client signals through, so a test can check nothing else arrives.
    void settle();

    TestHttpServer *m_server = nullptr;
    QByteArray m_small;
    QByteArray m_other;
    QByteArray m_slowBody;
};

void TestHttp::init()
{
    m_small = "#VRML V2.0 utf8\nShape { geometry Box {} }\n";
    m_other = "#VRML V2.0 utf8\nShape { geometry Sphere {} }\n";
    m_slowBody = binaryBody(256 * 1024);

    m_server = new TestHttpServer;
    QVERIFY(m_server->isListening());
    m_server->addRoute(QStringLiteral("/small.wrl"), m_small, "model/vrml");
    m_server->addRoute(QStringLiteral("/other.wrl"), m_other, "model/vrml");
    m_server->addRoute(QStringLiteral("/broken"), "oops\n", "text/plain", 500);
    m_server->addRoute(QStringLiteral("/secret.wrl"), "no\n", "text/plain", 401);
    m_server->addRedirect(QStringLiteral("/moved.wrl"), QStringLiteral("/small.wrl"));
    m_server->addRoute(QStringLiteral("/slow.wrl"), m_slowBody, "model/vrml");
    m_server->addSlow(QStringLiteral("/slow.wrl"), 1024, 20);
    m_server->addRoute(QStringLiteral("/cut.wrl"), binaryBody(64 * 1024), "model/vrml");
    m_server->addDrop(QStringLiteral("/cut.wrl"), 1000);
}

void TestHttp::cleanup()
{
    delete m_server;
    m_server = nullptr;
}

void TestHttp::settle()
{
    QTRY_COMPARE(m_server->openConnections(), 0);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

void TestHttp::idsAreSharedAndIncreasing()
{
    Http a;
    Http b;
    QSignalSpy startedA(&a, &Http::requestStarted);
    QSignalSpy startedB(&b, &Http::requestStarted);
    QSignalSpy doneA(&a, &Http::done);
    QSignalSpy doneB(&b, &Http::done);

    QList<int> ids;
    ids << a.setHost(QStringLiteral("127.0.0.1"), m_server->port());
    ids << b.setHost(QStringLiteral("127.0.0.1"), m_server->port());
    ids << a.get(QStringLiteral("/small.wrl"));
    ids << b.setUser(QStringLiteral("someone"));
    ids << b.get(QStringLiteral("/other.wrl"));

    QVERIFY(ids.first() >= 1);
    for (int i = 1; i < ids.size(); ++i)
        QCOMPARE(ids.at(i), ids.first() + i);
    // Nothing may start before the caller returns to the event loop.
    QCOMPARE(startedA.count(), 0);
    QCOMPARE(startedB.count(), 0);

    QTRY_COMPARE(doneA.count(), 1);
    QTRY_COMPARE(doneB.count(), 1);
    QList<int> seenA;
    for (const auto &args : startedA)
        seenA << args.at(0).toInt();
    QList<int> seenB;
    for (const auto &args : startedB)
        seenB << args.at(0).toInt();
    QCOMPARE(seenA, (QList<int>{ids[0], ids[2]}));
    QCOMPARE(seenB, (QList<int>{ids[1], ids[3], ids[4]}));

    // A later request still gets a fresh id.
    QCOMPARE(a.get(QStringLiteral("/small.wrl")), ids.last() + 1);
    QTRY_COMPARE(doneA.count(), 2);
}

void TestHttp::signalSequence()
{
    Http http;
    Recorder rec(&http);
    rec.name(http.setHost(QStringLiteral("127.0.0.1"), m_server->port()), QStringLiteral("host"));
    rec.name(http.get(QStringLiteral("/small.wrl")), QStringLiteral("get"));
    QVERIFY(rec.log.isEmpty());
    QVERIFY(http.hasPendingRequests());

    QTRY_COMPARE(rec.doneCount, 1);
    settle();
    const QStringList expected{
        QStringLiteral("started host"), QStringLiteral("finished host ok"),
        QStringLiteral("started get"), QStringLiteral("header 200"), QStringLiteral("progress"),
        QStringLiteral("finished get ok"), QStringLiteral("done ok")};
    QCOMPARE(rec.log, expected);
    QCOMPARE(rec.currentIdMismatches, 0);
    QCOMPARE(http.currentId(), 0);
    QVERIFY(!http.hasPendingRequests());
    QCOMPARE(http.error(), Http::NoError);
    QCOMPARE(http.errorString(), QStringLiteral("Unknown error"));
    QCOMPARE(http.readAll(), m_small);
}

void TestHttp::body_data()
{
    QTest::addColumn<bool>("toDevice");
    QTest::addColumn<int>("size");

    QTest::newRow("memory, small") << false << 100;
    QTest::newRow("memory, large") << false << 1024 * 1024;
    QTest::newRow("memory, empty") << false << 0;
    QTest::newRow("device, small") << true << 100;
    QTest::newRow("device, large") << true << 1024 * 1024;
    QTest::newRow("device, empty") << true << 0;
}

void TestHttp::body()
{
    QFETCH(bool, toDevice);
    QFETCH(int, size);

    const QByteArray content = binaryBody(size);
    m_server->addRoute(QStringLiteral("/data.bin"), content, "application/octet-stream");

    QTemporaryFile file;
    QVERIFY(file.open());

    Http http;
    Recorder rec(&http);
    QSignalSpy finished(&http, &Http::requestFinished);
    http.setHost(QStringLiteral("127.0.0.1"), m_server->port());
    const int id = http.get(QStringLiteral("/data.bin"), toDevice ? &file : nullptr);
    QTRY_COMPARE(rec.doneCount, 1);

    QCOMPARE(finished.count(), 2);
    QCOMPARE(finished.last().at(0).toInt(), id);
    QCOMPARE(finished.last().at(1).toBool(), false);

    if (toDevice) {
        // The caller owns the device; it must still be usable.
        QVERIFY(file.isOpen());
        QCOMPARE(http.bytesAvailable(), qint64(0));
        QVERIFY(http.readAll().isEmpty());
        QVERIFY(file.seek(0));
        QCOMPARE(file.readAll(), content);
    } else {
        QCOMPARE(http.bytesAvailable(), qint64(size));
        QCOMPARE(http.readAll(), content);
        QCOMPARE(http.bytesAvailable(), qint64(0));
        QVERIFY(http.readAll().isEmpty());
    }

    if (size > 0) {
        QVERIFY(!rec.progress.isEmpty());
        QCOMPARE(rec.progress.last(), qMakePair(size, size));
        for (int i = 1; i < rec.progress.size(); ++i)
            QVERIFY(rec.progress.at(i).first > rec.progress.at(i - 1).first);
    }
}

void TestHttp::readAllHoldsLastMemoryBody_data()
{
    QTest::addColumn<bool>("secondToDevice");
    QTest::addColumn<QString>("expectedInMemory");

    QTest::newRow("both in memory") << false << QStringLiteral("other");
    QTest::newRow("second into a device") << true << QStringLiteral("small");
}

void TestHttp::readAllHoldsLastMemoryBody()
{
    QFETCH(bool, secondToDevice);
    QFETCH(QString, expectedInMemory);

    QTemporaryFile file;
    QVERIFY(file.open());
    Http http;
    QSignalSpy done(&http, &Http::done);
    http.setHost(QStringLiteral("127.0.0.1"), m_server->port());
    http.get(QStringLiteral("/small.wrl"));
    http.get(QStringLiteral("/other.wrl"), secondToDevice ? &file : nullptr);
    QTRY_COMPARE(done.count(), 1);

    QCOMPARE(http.readAll(), expectedInMemory == QLatin1String("small") ? m_small : m_other);
    if (secondToDevice) {
        QVERIFY(file.seek(0));
        QCOMPARE(file.readAll(), m_other);
    }
}

void TestHttp::statusIsNotAnError_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("location");

    QTest::newRow("ok") << "/small.wrl" << 200 << "OK"
                        << QByteArray("#VRML V2.0 utf8\nShape { geometry Box {} }\n") << QString();
    QTest::newRow("not found") << "/nowhere.wrl" << 404 << "Not Found" << QByteArray("Not Found\n") << QString();
    QTest::newRow("redirect is not followed") << "/moved.wrl" << 302 << "Found"
                                              << QByteArray("Moved to /small.wrl\n") << "/small.wrl";
    QTest::newRow("server error") << "/broken" << 500 << "Internal Server Error" << QByteArray("oops\n") << QString();
}

void TestHttp::statusIsNotAnError()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QString, reason);
    QFETCH(QByteArray, body);
    QFETCH(QString, location);

    Http http;
    Recorder rec(&http);
    QSignalSpy headers(&http, &Http::responseHeaderReceived);
    rec.name(http.setHost(QStringLiteral("127.0.0.1"), m_server->port()), QStringLiteral("host"));
    rec.name(http.get(path), QStringLiteral("get"));
    QTRY_COMPARE(rec.doneCount, 1);
    settle();

    QCOMPARE(headers.count(), 1);
    const HttpResponseHeader header = headers.first().at(0).value<HttpResponseHeader>();
    QVERIFY(header.isValid());
    QCOMPARE(header.statusCode(), status);
    QCOMPARE(header.reasonPhrase(), reason);
    QCOMPARE(header.value(QStringLiteral("location")), location);
    QCOMPARE(http.lastResponse().statusCode(), status);

    QVERIFY(rec.log.contains(QStringLiteral("finished get ok")));
    QCOMPARE(rec.log.last(), QStringLiteral("done ok"));
    QCOMPARE(http.error(), Http::NoError);
    QCOMPARE(http.readAll(), body);
    // Only the one request reached the server: no redirect was followed.
    QCOMPARE(m_server->requestLines().size(), 1);
}

void TestHttp::headerLookupIgnoresCase()
{
    Http http;
    QSignalSpy done(&http, &Http::done);
    http.setHost(QStringLiteral("127.0.0.1"), m_server->port());
    http.get(QStringLiteral("/small.wrl"));
    QTRY_COMPARE(done.count(), 1);

    const HttpResponseHeader header = http.lastResponse();
    QCOMPARE(header.value(QStringLiteral("Content-Type")), QStringLiteral("model/vrml"));
    QCOMPARE(header.value(QStringLiteral("content-type")), QStringLiteral("model/vrml"));
    QCOMPARE(header.value(QStringLiteral("CONTENT-LENGTH")), QString::number(m_small.size()));
    QVERIFY(header.value(QStringLiteral("X-Not-There")).isNull());
}

void TestHttp::unansweredChallengeIsAnError()
{
    Http http;
    Recorder rec(&http);
    rec.name(http.setHost(QStringLiteral("127.0.0.1"), m_server->port()), QStringLiteral("host"));
    rec.name(http.get(QStringLiteral("/secret.wrl")), QStringLiteral("get"));
    QTRY_COMPARE(rec.doneCount, 1);

    QVERIFY(rec.log.contains(QStringLiteral("header 401")));
    QVERIFY(rec.log.contains(QStringLiteral("finished get error")));
    QCOMPARE(rec.log.last(), QStringLiteral("done error"));
    QCOMPARE(http.error(), Http::AuthenticationRequiredError);
    QCOMPARE(http.lastResponse().statusCode(), 401);
}

void TestHttp::droppedConnectionIsAnError()
{
    Http http;
    Recorder rec(&http);
    rec.name(http.setHost(QStringLiteral("127.0.0.1"), m_server->port()), QStringLiteral("host"));
    rec.name(http.get(QStringLiteral("/cut.wrl")), QStringLiteral("get"));
    QTRY_COMPARE(rec.doneCount, 1);

    QVERIFY(rec.log.contains(QStringLiteral("header 200")));
    QVERIFY(rec.log.contains(QStringLiteral("finished get error")));
    QCOMPARE(rec.log.last(), QStringLiteral("done error"));
    QVERIFY2(http.error() == Http::UnexpectedClose || http.error() == Http::WrongContentLength,
             qPrintable(QString::number(http.error())));
    QVERIFY(!http.errorString().isEmpty());
    QVERIFY(http.errorString() != QLatin1String("Unknown error"));
    QVERIFY(http.readAll().size() < 64 * 1024);
}

void TestHttp::connectionFailures_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("error");

    QTest::newRow("nobody listening") << "127.0.0.1" << int(Http::ConnectionRefused);
    // Rejected before any lookup, so nothing leaves the machine.
    QTest::newRow("no host name") << QString() << int(Http::HostNotFound);
}

void TestHttp::connectionFailures()
{
    QFETCH(QString, host);
    QFETCH(int, error);

    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }

    Http http;
    Recorder rec(&http);
    rec.name(http.setHost(host, port), QStringLiteral("host"));
    rec.name(http.get(QStringLiteral("/small.wrl")), QStringLiteral("get"));
    QTRY_COMPARE(rec.doneCount, 1);

    const QStringList expected{
        QStringLiteral("started host"), QStringLiteral("finished host ok"),
        QStringLiteral("started get"), QStringLiteral("finished get error"), QStringLiteral("done error")};
    QCOMPARE(rec.log, expected);
    QCOMPARE(int(http.error()), error);
    QVERIFY(!http.errorString().isEmpty());
    QVERIFY(http.errorString() != QLatin1String("Unknown error"));
    QVERIFY(!http.lastResponse().isValid());
    QCOMPARE(http.lastResponse().statusCode(), 0);
}

void TestHttp::requestLineHoldsOnlyPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("requestLine");

    QTest::newRow("plain") << "/a/b.wrl" << "GET /a/b.wrl HTTP/1.1";
    QTest::newRow("root") << "/" << "GET / HTTP/1.1";
    QTest::newRow("caller's query kept") << "/scene.wrl?lod=2&x=y" << "GET /scene.wrl?lod=2&x=y HTTP/1.1";
    QTest::newRow("encoded stays encoded") << "/with%20space.wrl" << "GET /with%20space.wrl HTTP/1.1";
}

void TestHttp::requestLineHoldsOnlyPath()
{
    QFETCH(QString, path);
    QFETCH(QString, requestLine);

    Http http;
    QSignalSpy done(&http, &Http::done);
    http.setHost(QStringLiteral("127.0.0.1"), m_server->port());
    http.get(path);
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(m_server->requestLines(), QStringList{requestLine});
}

void TestHttp::basicAuthentication_data()
{
    QTest::addColumn<bool>("callSetUser");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("authorization");

    QTest::newRow("no user") << false << QString() << QString() << QByteArray();
    QTest::newRow("user and password") << true << "alice" << "secret" << QByteArray("Basic YWxpY2U6c2VjcmV0");
    QTest::newRow("user without password") << true << "bob" << QString() << QByteArray("Basic Ym9iOg==");
    QTest::newRow("colon in password") << true << "carol" << "p:w" << QByteArray("Basic Y2Fyb2w6cDp3");
    QTest::newRow("empty user sends nothing") << true << QString() << "secret" << QByteArray();
}

void TestHttp::basicAuthentication()
{
    QFETCH(bool, callSetUser);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QByteArray, authorization);

    Http http;
    QSignalSpy done(&http, &Http::done);
    http.setHost(QStringLiteral("127.0.0.1"), m_server->port());
    if (callSetUser)
        http.setUser(user, password);
    http.get(QStringLiteral("/small.wrl"));
    QTRY_COMPARE(done.count(), 1);

    QCOMPARE(m_server->authorizations(), QList<QByteArray>{authorization});
    // Sent up front: no challenge round trip.
    QCOMPARE(m_server->requestLines().size(), 1);
}

void TestHttp::credentialsFollowIssueOrder()
{
    Http http;
    QSignalSpy done(&http, &Http::done);
    http.setHost(QStringLiteral("127.0.0.1"), m_server->port());
    http.setUser(QStringLiteral("alice"), QStringLiteral("secret"));
    http.get(QStringLiteral("/small.wrl"));
    http.setUser(QStringLiteral("bob"));
    http.get(QStringLiteral("/small.wrl"));
    http.setUser(QString());
    http.get(QStringLiteral("/small.wrl"));
    QTRY_COMPARE(done.count(), 1);

    const QList<QByteArray> expected{"Basic YWxpY2U6c2VjcmV0", "Basic Ym9iOg==", QByteArray()};
    QCOMPARE(m_server->authorizations(), expected);
}

void TestHttp::abortDuringSlowDownload()
{
    Http http;
    Recorder rec(&http);
    rec.name(http.setHost(QStringLiteral("127.0.0.1"), m_server->port()), QStringLiteral("host"));
    const int slowId = http.get(QStringLiteral("/slow.wrl"));
    rec.name(slowId, QStringLiteral("slow"));
    rec.name(http.get(QStringLiteral("/other.wrl")), QStringLiteral("queued"));

    QTRY_VERIFY(!rec.progress.isEmpty());
    QCOMPARE(http.currentId(), slowId);
    QVERIFY(http.hasPendingRequests());

    http.abort();
    const QStringList expected{
        QStringLiteral("started host"), QStringLiteral("finished host ok"),
        QStringLiteral("started slow"), QStringLiteral("header 200"), QStringLiteral("progress"),
        QStringLiteral("finished slow error"), QStringLiteral("done error")};
    QCOMPARE(rec.log, expected);
    QCOMPARE(http.error(), Http::Aborted);
    QCOMPARE(http.errorString(), QStringLiteral("Request aborted"));
    QCOMPARE(http.currentId(), 0);
    QVERIFY(!http.hasPendingRequests());

    // The connection goes away and nothing more is reported, in particular
    // the dropped request never starts.
    settle();
    QCOMPARE(rec.log, expected);
    QCOMPARE(m_server->requestCount(QStringLiteral("/other.wrl")), 0);
    QVERIFY(rec.progress.last().first < m_slowBody.size());
}

void TestHttp::abortFromHandler_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("aborted");

    const QString started = QStringLiteral("started host,finished host ok,started get");
    QTest::newRow("requestStarted of the get")
        << "requestStarted"
        << (started + QStringLiteral(",abort,finished get error,done error")).split(',')
        << true;
    QTest::newRow("responseHeaderReceived")
        << "responseHeaderReceived"
        << (started + QStringLiteral(",header 200,abort,finished get error,done error")).split(',')
        << true;
    QTest::newRow("responseHeaderReceived after a modal box")
        << "modalInHeader"
        << (started + QStringLiteral(",header 200,modal closed,abort,finished get error,done error")).split(',')
        << true;
    QTest::newRow("dataReadProgress")
        << "dataReadProgress"
        << (started + QStringLiteral(",header 200,progress,abort,finished get error,done error")).split(',')
        << true;
    QTest::newRow("requestFinished of setHost drops the queued get")
        << "requestFinishedHost"
        << QStringLiteral("started host,finished host ok,abort,done error").split(',')
        << true;
    QTest::newRow("requestFinished of the last request is too late")
        << "requestFinishedGet"
        << (started + QStringLiteral(",header 200,progress,finished get ok,abort,done ok")).split(',')
        << false;
}

void TestHttp::abortFromHandler()
{
    QFETCH(QString, where);
    QFETCH(QStringList, expected);
    QFETCH(bool, aborted);

    Http http;
    Recorder rec(&http);
    const int hostId = http.setHost(QStringLiteral("127.0.0.1"), m_server->port());
    const int getId = http.get(QStringLiteral("/small.wrl"));
    rec.name(hostId, QStringLiteral("host"));
    rec.name(getId, QStringLiteral("get"));

    bool fired = false;
    auto abortOnce = [&] {
        if (fired)
            return;
        fired = true;
        rec.log << QStringLiteral("abort");
        http.abort();
    };

    if (where == QLatin1String("requestStarted")) {
        connect(&http, &Http::requestStarted, this, [&](int id) {
            if (id == getId)
                abortOnce();
        });
    } else if (where == QLatin1String("responseHeaderReceived")) {
        connect(&http, &Http::responseHeaderReceived, this, [&] { abortOnce(); });
    } else if (where == QLatin1String("modalInHeader")) {
        connect(&http, &Http::responseHeaderReceived, this, [&] {
            // The whole response arrives while the box is up.
            runModalLoop([this] { return m_server->completedResponses() >= 1; }, 300);
            rec.log << QStringLiteral("modal closed");
            abortOnce();
        });
    } else if (where == QLatin1String("dataReadProgress")) {
        connect(&http, &Http::dataReadProgress, this, [&] { abortOnce(); });
    } else if (where == QLatin1String("requestFinishedHost")) {
        connect(&http, &Http::requestFinished, this, [&](int id) {
            if (id == hostId)
                abortOnce();
        });
    } else if (where == QLatin1String("requestFinishedGet")) {
        connect(&http, &Http::requestFinished, this, [&](int id) {
            if (id == getId)
                abortOnce();
        });
    } else {
        QFAIL("unknown row");
    }

    QTRY_VERIFY(rec.doneCount >= 1);
    settle();
    QCOMPARE(rec.log, expected);
    QCOMPARE(rec.doneCount, 1);
    QCOMPARE(http.error(), aborted ? Http::Aborted : Http::NoError);
    if (aborted)
        QCOMPARE(http.errorString(), QStringLiteral("Request aborted"));
    QCOMPARE(http.currentId(), 0);
    QVERIFY(!http.hasPendingRequests());
}

void TestHttp::abortWhenIdleDoesNothing()
{
    Http http;
    Recorder rec(&http);
    http.abort();
    http.setHost(QStringLiteral("127.0.0.1"), m_server->port());
    http.get(QStringLiteral("/small.wrl"));
    QTRY_COMPARE(rec.doneCount, 1);
    http.abort();
    settle();

    QCOMPARE(rec.doneCount, 1);
    QCOMPARE(rec.log.last(), QStringLiteral("done ok"));
    QCOMPARE(http.error(), Http::NoError);
}

void TestHttp::requestsQueuedFromFinishedHandler()
{
    Http http;
    Recorder rec(&http);
    rec.name(http.setHost(QStringLiteral("127.0.0.1"), m_server->port()), QStringLiteral("host"));
    const int firstId = http.get(QStringLiteral("/small.wrl"));
    rec.name(firstId, QStringLiteral("first"));
    connect(&http, &Http::requestFinished, this, [&](int id) {
        if (id != firstId)
            return;
        rec.name(http.get(QStringLiteral("/other.wrl")), QStringLiteral("second"));
        rec.log << QStringLiteral("queued second");
        // An error box, say: the new request must not start inside it...
        runModalLoop([] { return true; }, 100);
        rec.log << QStringLiteral("modal closed");
        // ...nor straight after this handler, but from the event loop.
        QMetaObject::invokeMethod(this, [&rec] { rec.log << QStringLiteral("event loop"); },
                                  Qt::QueuedConnection);
    });

    QTRY_COMPARE(rec.doneCount, 1);
    settle();
    const QStringList expected{
        QStringLiteral("started host"), QStringLiteral("finished host ok"),
        QStringLiteral("started first"), QStringLiteral("header 200"), QStringLiteral("progress"),
        QStringLiteral("finished first ok"), QStringLiteral("queued second"),
        QStringLiteral("modal closed"), QStringLiteral("event loop"), QStringLiteral("started second"), QStringLiteral("header 200"), QStringLiteral("progress"),
        QStringLiteral("finished second ok"), QStringLiteral("done ok")};
    QCOMPARE(rec.log, expected);
    QCOMPARE(http.readAll(), m_other);
}

void TestHttp::nextRequestWaitsForFinishedHandler()
{
    Http http;
    Recorder rec(&http);
    rec.name(http.setHost(QStringLiteral("127.0.0.1"), m_server->port()), QStringLiteral("host"));
    const int firstId = http.get(QStringLiteral("/small.wrl"));
    rec.name(firstId, QStringLiteral("first"));
    rec.name(http.get(QStringLiteral("/other.wrl")), QStringLiteral("second"));
    connect(&http, &Http::requestFinished, this, [&](int id) {
        if (id != firstId)
            return;
        runModalLoop([] { return true; }, 300);
        rec.log << QStringLiteral("modal closed");
    });

    QTRY_COMPARE(rec.doneCount, 1);
    settle();
    const QStringList expected{
        QStringLiteral("started host"), QStringLiteral("finished host ok"),
        QStringLiteral("started first"), QStringLiteral("header 200"), QStringLiteral("progress"),
        QStringLiteral("finished first ok"), QStringLiteral("modal closed"),
        QStringLiteral("started second"), QStringLiteral("header 200"), QStringLiteral("progress"),
        QStringLiteral("finished second ok"), QStringLiteral("done ok")};
    QCOMPARE(rec.log, expected);
}

void TestHttp::deleteWhileInFlight_data()
{
    QTest::addColumn<QString>("when");
    QTest::addColumn<bool>("reachesServer");

    QTest::newRow("before it starts") << "beforeStart" << false;
    QTest::newRow("while data arrives") << "duringData" << true;
    QTest::newRow("inside the header handler") << "insideHeader" << true;
    QTest::newRow("inside a modal box in the header handler") << "insideModal" << true;
}

void TestHttp::deleteWhileInFlight()
{
    QFETCH(QString, when);
    QFETCH(bool, reachesServer);

    auto *http = new Http;
    QPointer<Http> guard(http);
    Recorder rec(http);
    http->setHost(QStringLiteral("127.0.0.1"), m_server->port());
    http->get(QStringLiteral("/slow.wrl"));

    if (when == QLatin1String("beforeStart")) {
        delete http;
    } else if (when == QLatin1String("duringData")) {
        QTRY_VERIFY(!rec.progress.isEmpty());
        delete http;
    } else if (when == QLatin1String("insideHeader")) {
        connect(http, &Http::responseHeaderReceived, this, [http] { delete http; });
    } else {
        connect(http, &Http::responseHeaderReceived, this, [http] {
            // Something else tears the client down while the box is up.
            QTimer::singleShot(50, http, [http] { delete http; });
            runModalLoop([] { return true; }, 300);
        });
    }

    QTRY_VERIFY(guard.isNull());
    settle();
    QCOMPARE(m_server->requestCount(QStringLiteral("/slow.wrl")), reachesServer ? 1 : 0);
    QCOMPARE(m_server->completedResponses(), 0);
    QCOMPARE(rec.doneCount, 0);
}

QTEST_GUILESS_MAIN(TestHttp)
#include "tst_http.moc"
