// A tiny HTTP/1.1 server for tests, living in the test's own event loop.
//
// It listens on 127.0.0.1 on an ephemeral port and answers from canned
// routes and/or a directory.  Every response carries "Connection: close",
// so each request gets its own connection and a client can never see a
// reused connection die under it.  Paths can be made to misbehave
// (redirect, drop mid-body, trickle slowly) and every request is logged.
#ifndef QUELVIN_TEST_HTTPSERVER_H
#define QUELVIN_TEST_HTTPSERVER_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

class TestHttpServer : public QObject
{
    Q_OBJECT
public:
    explicit TestHttpServer(QObject *parent = nullptr);
    ~TestHttpServer() override;

    bool isListening() const;
    quint16 port() const;
    QString baseUrl() const; // "http://127.0.0.1:PORT"

    // Files below dir are served for paths that have no canned route.
    void setRoot(const QString &dir);
    void addRoute(const QString &path, const QByteArray &body,
                  const QByteArray &contentType = "text/plain", int status = 200);
    // Answers 302 with the given Location.
    void addRedirect(const QString &path, const QString &location);
    // Announces the full Content-Length, sends only the first bytes of the
    // body, then closes the connection.
    void addDrop(const QString &path, int bytesBeforeDrop);
    // Sends the body in chunks of chunkBytes every intervalMs.
    // Paths with neither a route nor a file get a generated body for both of
    // these, large enough for the behaviour to show.
    void addSlow(const QString &path, int chunkBytes, int intervalMs);

    // Log of everything received, in arrival order.  authorizations() holds
    // one entry per request (empty when it had no Authorization header).
    QStringList requestLines() const;
    QList<QByteArray> authorizations() const;
    // Requests whose target was path, with or without a query string.
    int requestCount(const QString &path) const;
    void clearLog();

    int openConnections() const;
    // Responses written out completely, including the close.
    int completedResponses() const;

signals:
    void requestReceived(const QString &requestLine);
    void connectionClosed();

private:
    struct Route {
        QByteArray body;
        QByteArray contentType;
        int status = 200;
    };
    struct Connection {
        QByteArray inbox;
        bool answered = false;
        bool complete = false;
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void onDisconnected(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QByteArray &method, const QString &target);
    void sendSlowly(QTcpSocket *socket, const QByteArray &body, int chunkBytes, int intervalMs);
    void finishResponse(QTcpSocket *socket);

    QTcpServer *m_server = nullptr;
    QString m_root;
    QHash<QString, Route> m_routes;
    QHash<QString, QString> m_redirects;
    QHash<QString, int> m_drops;
    QHash<QString, QPair<int, int>> m_slow;
    QHash<QTcpSocket *, Connection> m_connections;

    QStringList m_requestLines;
    QStringList m_targets;
    QList<QByteArray> m_authorizations;
    int m_completedResponses = 0;
};

#endif
