#include "httpserver.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

QByteArray statusHead(int status, const QByteArray &contentType, qint64 length)
{
    static const QHash<int, QByteArray> reasons{
        {200, "OK"}, {204, "No Content"}, {302, "Found"}, {304, "Not Modified"}, {404, "Not Found"}};
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasons.value(status, "Status")
        + "\r\nContent-Type: " + contentType + "\r\nContent-Length: " + QByteArray::number(length)
        + "\r\nConnection: close\r\n";
}

// Filler for misbehaving paths that have nothing else to serve.
QByteArray generatedBody(int size)
{
    QByteArray body(size, 'a');
    for (int i = 0; i < size; ++i)
        body[i] = char('a' + i % 26);
    return body;
}

} // namespace

TestHttpServer::TestHttpServer(quint16 port, QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            m_inboxes.insert(socket, QByteArray());
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                if (m_inboxes.remove(socket) && socket->property("complete").toBool() && !socket->bytesToWrite())
                    ++m_completedResponses;
                socket->deleteLater();
            });
            if (socket->bytesAvailable() > 0)
                onReadyRead(socket);
        }
    });
    m_server->listen(QHostAddress::LocalHost, port);
}

TestHttpServer::~TestHttpServer()
{
    // The sockets die with the QTcpServer after this object is half gone;
    // their last signals must not reach it.
    for (QTcpSocket *socket : m_inboxes.keys())
        disconnect(socket, nullptr, this, nullptr);
}

bool TestHttpServer::isListening() const { return m_server->isListening(); }
quint16 TestHttpServer::port() const { return m_server->serverPort(); }

void TestHttpServer::clearLog()
{
    m_requestLines.clear();
    m_paths.clear();
    m_authorizations.clear();
    m_completedResponses = 0;
}

void TestHttpServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray &inbox = m_inboxes[socket];
    inbox += socket->readAll();
    const int end = inbox.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    // One request per connection: what follows is not looked at.
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    const QList<QByteArray> lines = inbox.left(end).split('\n');
    QByteArray authorization;
    for (const QByteArray &line : lines.mid(1)) {
        if (line.toLower().startsWith("authorization:"))
            authorization = line.mid(line.indexOf(':') + 1).trimmed();
    }
    m_requestLines.append(QString::fromLatin1(lines.value(0).trimmed()));
    m_paths.append(m_requestLines.last().section(QLatin1Char(' '), 1, 1).section(QLatin1Char('?'), 0, 0));
    m_authorizations.append(authorization);
    answer(socket, m_paths.last());
}

void TestHttpServer::answer(QTcpSocket *socket, const QString &path)
{
    if (m_hangUps.contains(path))
        return socket->disconnectFromHost();
    if (m_stalls.contains(path)) {
        const int sent = m_stalls.value(path);
        const QByteArray body = generatedBody(qMax(2 * sent, 1024));
        if (sent >= 0)
            socket->write(statusHead(200, "application/octet-stream", body.size()) + "\r\n" + body.left(sent));
        return;    // silent from here on, until the client gives up
    }
    const QString location = m_redirects.value(path);
    if (!location.isEmpty()) {
        const QByteArray body = "Moved to " + location.toUtf8() + "\n";
        socket->write(statusHead(302, "text/plain", body.size()) + "Location: " + location.toUtf8()
                      + "\r\n\r\n" + body);
        return finishResponse(socket);
    }
    Route route = m_routes.value(path);
    const bool drops = m_drops.contains(path), slow = m_slow.contains(path);
    QFile file(QDir(m_root).filePath(path.mid(1)));
    if (!m_routes.contains(path) && !m_root.isEmpty() && !path.contains(QLatin1String(".."))
        && file.open(QIODevice::ReadOnly)) {
        route = Route{200, path.endsWith(QLatin1String(".wrl")) ? "model/vrml" : "application/octet-stream",
                      file.readAll()};
    } else if (!m_routes.contains(path) && (drops || slow)) {
        route = Route{200, "application/octet-stream", generatedBody(256 * 1024)};
    }
    if (drops) {
        const int sent = m_drops.value(path);
        if (route.body.size() <= sent)
            route.body.append(generatedBody(sent + 1024));
        socket->write(statusHead(route.status, route.contentType, route.body.size()) + "\r\n"
                      + route.body.left(sent));
        socket->disconnectFromHost(); // without the completion mark: cut short
        return;
    }
    const QByteArray head = statusHead(route.status, route.contentType, route.body.size()) + "\r\n";
    if (!slow) {
        // One write, so a small response normally reaches the client in one
        // segment.
        socket->write(head + route.body);
        return finishResponse(socket);
    }
    socket->write(head);
    // The timer belongs to the socket: a client going away early takes the
    // trickle down with it.
    const QPair<int, int> pace = m_slow.value(path);
    auto *timer = new QTimer(socket);
    QPointer<QTcpSocket> guard(socket);
    int offset = 0;
    connect(timer, &QTimer::timeout, this, [=]() mutable {
        if (!guard || guard->state() != QAbstractSocket::ConnectedState)
            return timer->stop();
        guard->write(route.body.mid(offset, pace.first));
        offset += pace.first;
        if (offset >= route.body.size()) {
            timer->stop();
            finishResponse(guard);
        }
    });
    timer->start(pace.second);
}

void TestHttpServer::finishResponse(QTcpSocket *socket)
{
    socket->setProperty("complete", true);
    socket->disconnectFromHost(); // flushes first; may emit disconnected at once
}
