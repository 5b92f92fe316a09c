// The queued HTTP client against a real server on 127.0.0.1.

#include "httpserver.h"
#include "quelvin_http.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QtTest>

// Every signal of a client as a word, so that whole sequences compare: "+N"
// started and "-N ok"/"-N error" finished, N counted from base; the status of
// a header; "done ok"/"done error". Progress is left out, its chunking is the network's.
struct Recorder : QObject
{
    QStringList log;
    int base = 0;
    explicit Recorder(Http *http)
    {
        connect(http, &Http::requestStarted, this, [this](int id) { log << QStringLiteral("+%1").arg(id - base); });
        connect(http, &Http::responseHeaderReceived, this,
                [this](const HttpResponseHeader &h) { log << QStringLiteral("%1 %2").arg(h.statusCode()).arg(h.reasonPhrase()); });
        connect(http, &Http::requestFinished, this,
                [this](int id, bool error) { log << QStringLiteral("-%1 %2").arg(id - base).arg(error ? "error" : "ok"); });
        connect(http, &Http::done, this, [this](bool error) { log << (error ? "done error" : "done ok"); });
    }
    bool done() const { return !log.isEmpty() && log.last().startsWith("done"); }
};

class TestHttp : public QObject
{
    Q_OBJECT
    TestHttpServer server;
    const QByteArray small = "#VRML V2.0 utf8\nShape { geometry Box {} }\n";

private slots:
    void initTestCase()
    {
        server.addRoute("/small.wrl", small, "model/vrml");
        server.addRedirect("/moved.wrl", "/small.wrl");
        server.addDrop("/cut.wrl", 1000);
        server.addSlow("/slow.wrl", 1024, 20);
        server.addStall("/silent.wrl", -1);
        server.addStall("/header-only.wrl", 0);
        server.addStall("/half.wrl", 500);
        server.addHangUp("/hang-up.wrl");
        server.addRoute("/empty.wrl", "", "model/vrml");
        server.addRoute("/no-content.wrl", "", "model/vrml", 204);
        server.addRoute("/not-modified.wrl", "", "model/vrml", 304);
        // A server that falls silent ends the GET a second later.
        Http::stallTimeoutMs = 1000;
    }
    void init() { server.clearLog(); }

    void fetch_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("withUser"); // then into a QIODevice of the caller's
        QTest::addColumn<QString>("log"); // after setHost's "+0,-0 ok"
        QTest::addColumn<QByteArray>("body"); // null: not compared
        QTest::newRow("into memory") << "/small.wrl" << false << "+1,200 OK,-1 ok,done ok" << small;
        QTest::newRow("user, device, query") << "/small.wrl?lod=2" << true << "+1,-1 ok,+2,200 OK,-2 ok,done ok" << small;
        QTest::newRow("404") << "/nowhere.wrl" << false << "+1,404 Not Found,-1 ok,done ok" << QByteArray("Not Found\n");
        QTest::newRow("302, not followed") << "/moved.wrl" << false << "+1,302 Found,-1 ok,done ok" << QByteArray("Moved to /small.wrl\n");
        QTest::newRow("dropped mid-body") << "/cut.wrl" << false << "+1,200 OK,-1 error,done error" << QByteArray();
        QTest::newRow("no body") << "/empty.wrl" << false << "+1,200 OK,-1 ok,done ok" << QByteArray("");
        QTest::newRow("204") << "/no-content.wrl" << false << "+1,204 No Content,-1 ok,done ok" << QByteArray("");
        QTest::newRow("304") << "/not-modified.wrl" << false << "+1,304 Not Modified,-1 ok,done ok" << QByteArray("");
        QTest::newRow("hung up before the status line") << "/hang-up.wrl" << false << "+1,-1 error,done error" << QByteArray();
        QTest::newRow("silent before the status line") << "/silent.wrl" << false << "+1,-1 error,done error" << QByteArray();
        QTest::newRow("silent after the header") << "/header-only.wrl" << false << "+1,200 OK,-1 error,done error" << QByteArray();
        QTest::newRow("silent mid-body") << "/half.wrl" << false << "+1,200 OK,-1 error,done error" << QByteArray();
    }
    void fetch()
    {
        QFETCH(QString, path);
        QFETCH(bool, withUser);
        QFETCH(QString, log);
        QFETCH(QByteArray, body);
        Http http;
        Recorder rec(&http);
        QBuffer device;
        device.open(QIODevice::ReadWrite);
        rec.base = http.setHost("127.0.0.1", server.port());
        if (withUser)
            http.setUser("alice", "secret");
        http.get(path, withUser ? &device : nullptr);
        QTRY_VERIFY(rec.done());
        QTest::qWait(100); // for anything that should not come
        QCOMPARE(rec.log.join(','), "+0,-0 ok," + log);
        if (!body.isNull())
            QCOMPARE(withUser ? device.data() : http.readAll(), body);
        // Qt sends a GET again, once, over a connection closed before any answer.
        const int sent = path == "/hang-up.wrl" ? 2 : 1;
        QCOMPARE(server.requestLines(), QVector<QString>(sent, "GET " + path + " HTTP/1.1").toList());
        QCOMPARE(server.authorizations(), QVector<QByteArray>(sent, withUser ? "Basic YWxpY2U6c2VjcmV0" : "").toList());
    }

    void abort_data()
    {
        QTest::addColumn<bool>("inHeaderHandler");
        QTest::newRow("during a slow download") << false;
        QTest::newRow("after a modal loop in the header handler") << true;
    }
    void abort()
    {
        QFETCH(bool, inHeaderHandler);
        Http http;
        Recorder rec(&http);
        QSignalSpy progress(&http, &Http::dataReadProgress);
        // As from a message box: a while after part (slow) or all of the body is in.
        auto abortLater = [&] {
            QTRY_VERIFY(progress.count() > 0 || server.completedResponses() == 1);
            QTest::qWait(300);
            http.abort();
        };
        rec.base = http.setHost("127.0.0.1", server.port());
        http.get(inHeaderHandler ? "/small.wrl" : "/slow.wrl");
        http.get("/small.wrl?queued"); // must never start
        if (inHeaderHandler)
            connect(&http, &Http::responseHeaderReceived, this, abortLater);
        else
            abortLater();
        QTRY_VERIFY(rec.done());
        QTest::qWait(100); // for anything that should not come
        QCOMPARE(rec.log.join(','), QStringLiteral("+0,-0 ok,+1,200 OK,-1 error,done error"));
        QCOMPARE(http.errorString(), QStringLiteral("Request aborted"));
        QCOMPARE(server.requestLines().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestHttp)
#include "tst_http.moc"
