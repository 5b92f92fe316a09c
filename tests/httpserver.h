// A tiny HTTP/1.1 server for tests, living in the test's own event loop on
// 127.0.0.1 (an ephemeral port unless one is asked for). Every response
// carries "Connection: close", so each request has a connection of its own.
// Paths can be made to misbehave (redirect, drop mid-body, trickle slowly,
// fall silent, hang up)
// and every request is logged.
#ifndef QUELVIN_TEST_HTTPSERVER_H
#define QUELVIN_TEST_HTTPSERVER_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

class TestHttpServer : public QObject
{
    struct Route {
        int status = 404;
        QByteArray contentType = "text/plain";
        QByteArray body = "Not Found\n";
    };

public:
    explicit TestHttpServer(quint16 port = 0, QObject *parent = nullptr);
    ~TestHttpServer() override;

    bool isListening() const;
    quint16 port() const;
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port()); }

    // Files below dir are served for paths that have no canned route.
    void setRoot(const QString &dir) { m_root = dir; }
    void addRoute(const QString &path, const QByteArray &body,
                  const QByteArray &contentType = "text/plain", int status = 200)
    {
        m_routes.insert(path, Route{status, contentType, body});
    }
    // Answers 302 with the given Location.
    void addRedirect(const QString &path, const QString &location) { m_redirects.insert(path, location); }
    // Announces the full Content-Length, sends only the first bytes of the
    // body, then closes the connection.
    void addDrop(const QString &path, int bytesBeforeDrop) { m_drops.insert(path, bytesBeforeDrop); }
    // Sends the body in chunks of chunkBytes every intervalMs.
    // Paths with neither a route nor a file get a generated body for both of
    // these, large enough for the behaviour to show.
    void addSlow(const QString &path, int chunkBytes, int intervalMs) { m_slow.insert(path, {chunkBytes, intervalMs}); }
    // Sends the start of a response and then nothing more, holding the
    // connection open: before the status line (-1), after the header (0),
    // or after that many bytes of the body.
    void addStall(const QString &path, int bodyBytes) { m_stalls.insert(path, bodyBytes); }
    // Closes the connection without a byte of response.
    void addHangUp(const QString &path) { m_hangUps.insert(path, true); }

    // Log in arrival order; authorizations() has one entry per request
    // (empty when it had no Authorization header).
    QStringList requestLines() const { return m_requestLines; }
    QList<QByteArray> authorizations() const { return m_authorizations; }
    // Requests for path, whatever their query strings.
    int requestCount(const QString &path) const { return m_paths.count(path); }
    void clearLog();

    int openConnections() const { return m_inboxes.size(); }
    // Responses written out completely, including the close.
    int completedResponses() const { return m_completedResponses; }

private:
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QString &path);
    void finishResponse(QTcpSocket *socket);

    QTcpServer *m_server = nullptr;
    QString m_root;
    QHash<QString, Route> m_routes;
    QHash<QString, QString> m_redirects;
    QHash<QString, int> m_drops;
    QHash<QString, QPair<int, int>> m_slow;
    QHash<QString, int> m_stalls;
    QHash<QString, bool> m_hangUps;
    QHash<QTcpSocket *, QByteArray> m_inboxes; // of the open connections
    QStringList m_requestLines, m_paths;
    QList<QByteArray> m_authorizations;
    int m_completedResponses = 0;
};

#endif
