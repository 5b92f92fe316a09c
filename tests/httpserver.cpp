#include "httpserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QPointer>
#include <QSharedPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace {

// Requests bigger than this are not something a test sends on purpose.
const int MaxRequestHeaderBytes = 64 * 1024;
// Body used by drop/slow paths that serve nothing else.
const int GeneratedBodyBytes = 256 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

QByteArray contentTypeFor(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("wrl"))
        return "model/vrml";
    if (suffix == QLatin1String("gz") || suffix == QLatin1String("wrz"))
        return "application/gzip";
    if (suffix == QLatin1String("png"))
        return "image/png";
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return "image/jpeg";
    if (suffix == QLatin1String("gif"))
        return "image/gif";
    if (suffix == QLatin1String("html") || suffix == QLatin1String("htm"))
        return "text/html";
    if (suffix == QLatin1String("txt"))
        return "text/plain";
    return "application/octet-stream";
}

QByteArray generatedBody(int size)
{
    QByteArray body;
    body.reserve(size);
    for (int i = 0; i < size; ++i)
        body.append(char('a' + i % 26));
    return body;
}

QString pathOf(const QString &target)
{
    const int query = target.indexOf(QLatin1Char('?'));
    return query < 0 ? target : target.left(query);
}

QByteArray statusHead(int status, const QByteArray &contentType, qint64 contentLength,
                      const QByteArray &extra = QByteArray())
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    head += "Content-Type: " + contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    head += "Connection: close\r\n";
    head += extra;
    head += "\r\n";
    return head;
}

} // namespace

TestHttpServer::TestHttpServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
    m_server->listen(QHostAddress::LocalHost, 0);
}

TestHttpServer::~TestHttpServer()
{
    // The sockets are children of the QTcpServer; make sure their signals no
    // longer reach this half-destroyed object while they go away.
    const auto sockets = m_connections.keys();
    for (QTcpSocket *socket : sockets)
        disconnect(socket, nullptr, this, nullptr);
    m_server->close();
}

bool TestHttpServer::isListening() const
{
    return m_server->isListening();
}

quint16 TestHttpServer::port() const
{
    return m_server->serverPort();
}

QString TestHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void TestHttpServer::setRoot(const QString &dir)
{
    m_root = dir;
}

void TestHttpServer::addRoute(const QString &path, const QByteArray &body,
                              const QByteArray &contentType, int status)
{
    Route route;
    route.body = body;
    route.contentType = contentType;
    route.status = status;
    m_routes.insert(path, route);
}

void TestHttpServer::addRedirect(const QString &path, const QString &location)
{
    m_redirects.insert(path, location);
}

void TestHttpServer::addDrop(const QString &path, int bytesBeforeDrop)
{
    m_drops.insert(path, qMax(0, bytesBeforeDrop));
}

void TestHttpServer::addSlow(const QString &path, int chunkBytes, int intervalMs)
{
    m_slow.insert(path, qMakePair(qMax(1, chunkBytes), qMax(0, intervalMs)));
}

QStringList TestHttpServer::requestLines() const
{
    return m_requestLines;
}

QList<QByteArray> TestHttpServer::authorizations() const
{
    return m_authorizations;
}

int TestHttpServer::requestCount(const QString &path) const
{
    int count = 0;
    for (const QString &target : m_targets) {
        if (target == path || pathOf(target) == path)
            ++count;
    }
    return count;
}

void TestHttpServer::clearLog()
{
    m_requestLines.clear();
    m_targets.clear();
    m_authorizations.clear();
    m_completedResponses = 0;
}

int TestHttpServer::openConnections() const
{
    return m_connections.size();
}

int TestHttpServer::completedResponses() const
{
    return m_completedResponses;
}

void TestHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        m_connections.insert(socket, Connection());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { onDisconnected(socket); });
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void TestHttpServer::onReadyRead(QTcpSocket *socket)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    if (it->answered) {
        // One request per connection; the answer said so.
        socket->readAll();
        return;
    }
    it->inbox += socket->readAll();
    const int end = it->inbox.indexOf("\r\n\r\n");
    if (end < 0) {
        if (it->inbox.size() > MaxRequestHeaderBytes) {
            it->answered = true;
            socket->write(statusHead(400, "text/plain", 0));
            finishResponse(socket);
        }
        return;
    }

    const QList<QByteArray> lines = it->inbox.left(end).split('\n');
    it->answered = true;
    const QByteArray requestLine = lines.value(0).trimmed();
    QByteArray authorization;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "authorization")
            authorization = line.mid(colon + 1).trimmed();
    }

    const QList<QByteArray> parts = requestLine.split(' ');
    const QByteArray method = parts.value(0);
    const QString target = QString::fromLatin1(parts.value(1));

    m_requestLines.append(QString::fromLatin1(requestLine));
    m_targets.append(target);
    m_authorizations.append(authorization);
    emit requestReceived(QString::fromLatin1(requestLine));

    if (parts.size() != 3 || !target.startsWith(QLatin1Char('/'))) {
        socket->write(statusHead(400, "text/plain", 0));
        finishResponse(socket);
        return;
    }
    answer(socket, method, target);
}

void TestHttpServer::answer(QTcpSocket *socket, const QByteArray &method, const QString &target)
{
    const QString path = pathOf(target);
    const bool withBody = method != "HEAD";

    const QString location = m_redirects.value(target, m_redirects.value(path));
    if (!location.isEmpty()) {
        const QByteArray body = "Moved to " + location.toUtf8() + "\n";
        socket->write(statusHead(302, "text/plain", body.size(), "Location: " + location.toUtf8() + "\r\n"));
        if (withBody)
            socket->write(body);
        finishResponse(socket);
        return;
    }

    bool found = false;
    Route route;
    if (m_routes.contains(target)) {
        route = m_routes.value(target);
        found = true;
    } else if (m_routes.contains(path)) {
        route = m_routes.value(path);
        found = true;
    } else if (!m_root.isEmpty()) {
        const QString relative = QUrl::fromPercentEncoding(path.toUtf8()).mid(1);
        const bool escapes = relative.split(QLatin1Char('/')).contains(QStringLiteral(".."));
        const QString fileName = QDir(m_root).filePath(relative);
        QFile file(fileName);
        if (!escapes && QFileInfo(fileName).isFile() && file.open(QIODevice::ReadOnly)) {
            route.body = file.readAll();
            route.contentType = contentTypeFor(fileName);
            found = true;
        }
    }

    const bool drops = m_drops.contains(path);
    const bool slow = m_slow.contains(path);
    if (!found) {
        if (drops || slow) {
            route.body = generatedBody(GeneratedBodyBytes);
            route.contentType = "application/octet-stream";
        } else {
            route.body = "Not Found\n";
            route.contentType = "text/plain";
            route.status = 404;
        }
    }

    QByteArray extra;
    if (route.status == 401)
        extra = "WWW-Authenticate: Basic realm=\"test\"\r\n";

    if (drops && withBody) {
        const int sent = m_drops.value(path);
        if (route.body.size() <= sent)
            route.body.append(generatedBody(sent + 1024));
        socket->write(statusHead(route.status, route.contentType, route.body.size(), extra)
                      + route.body.left(sent));
        // Closing without the completion mark: this response is cut short.
        socket->disconnectFromHost();
        return;
    }

    const QByteArray head = statusHead(route.status, route.contentType, route.body.size(), extra);
    if (!withBody) {
        socket->write(head);
        finishResponse(socket);
        return;
    }
    if (slow) {
        socket->write(head);
        const QPair<int, int> pace = m_slow.value(path);
        sendSlowly(socket, route.body, pace.first, pace.second);
        return;
    }
    // One write, so a small response normally reaches the client in one
    // segment and tests see header and body arrive together.
    socket->write(head + route.body);
    finishResponse(socket);
}

void TestHttpServer::sendSlowly(QTcpSocket *socket, const QByteArray &body, int chunkBytes, int intervalMs)
{
    // The timer belongs to the socket, so a client that goes away early
    // takes the trickle down with it.
    auto *timer = new QTimer(socket);
    timer->setInterval(intervalMs);
    auto offset = QSharedPointer<int>::create(0);
    QPointer<QTcpSocket> guard(socket);
    connect(timer, &QTimer::timeout, this, [this, guard, timer, body, chunkBytes, offset] {
        if (!guard || guard->state() != QAbstractSocket::ConnectedState) {
            timer->stop();
            return;
        }
        guard->write(body.mid(*offset, chunkBytes));
        *offset += chunkBytes;
        if (*offset >= body.size()) {
            timer->stop();
            finishResponse(guard);
        }
    });
    timer->start();
}

void TestHttpServer::finishResponse(QTcpSocket *socket)
{
    auto it = m_connections.find(socket);
    if (it != m_connections.end())
        it->complete = true;
    // Flushes what was written, then closes; may emit disconnected at once.
    socket->disconnectFromHost();
}

void TestHttpServer::onDisconnected(QTcpSocket *socket)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    const bool complete = it->complete && socket->bytesToWrite() == 0;
    m_connections.erase(it);
    if (complete)
        ++m_completedResponses;
    socket->deleteLater();
    emit connectionClosed();
}
