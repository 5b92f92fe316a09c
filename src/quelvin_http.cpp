#include "quelvin_http.h"

#include <QAtomicInt>
#include <QIODevice>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <QVariant>

#include <climits>

namespace {

// Ids are shared by every client in the process: callers keep request ids
// from several clients in one table and must never see a collision.
QAtomicInt g_lastRequestId;

int clampToInt(qint64 value)
{
    return value > INT_MAX ? INT_MAX : int(value);
}

Http::Error mapNetworkError(QNetworkReply::NetworkError code)
{
    switch (code) {
    case QNetworkReply::NoError:
        return Http::NoError;
    case QNetworkReply::ConnectionRefusedError:
        return Http::ConnectionRefused;
    case QNetworkReply::HostNotFoundError:
        return Http::HostNotFound;
    case QNetworkReply::RemoteHostClosedError:
        return Http::UnexpectedClose;
    case QNetworkReply::OperationCanceledError:
        return Http::Aborted;
    case QNetworkReply::AuthenticationRequiredError:
        return Http::AuthenticationRequiredError;
    case QNetworkReply::ProtocolFailure:
        return Http::InvalidResponseHeader;
    default:
        return Http::UnknownError;
    }
}

// QNetworkAccessManager turns 4xx/5xx statuses into reply errors.  For the
// callers a complete answer from the server is a successful transfer; they
// inspect the status code themselves.  A 401 stays an error because nobody
// answered the challenge, which is what AuthenticationRequiredError means.
bool isStatusOnlyError(QNetworkReply::NetworkError code)
{
    if (code == QNetworkReply::AuthenticationRequiredError || code == QNetworkReply::ContentReSendError)
        return false;
    const int value = int(code);
    return (value >= QNetworkReply::ContentAccessDenied && value <= QNetworkReply::UnknownContentError)
        || (value >= QNetworkReply::InternalServerError && value <= QNetworkReply::UnknownServerError);
}

} // namespace

int Http::stallTimeoutMs = Http::defaultStallTimeoutMs;

HttpResponseHeader::HttpResponseHeader() = default;

bool HttpResponseHeader::isValid() const
{
    return m_valid;
}

int HttpResponseHeader::statusCode() const
{
    return m_valid ? m_statusCode : 0;
}

QString HttpResponseHeader::reasonPhrase() const
{
    return m_reasonPhrase;
}

QString HttpResponseHeader::value(const QString &key) const
{
    for (const auto &field : m_fields) {
        if (QString::fromLatin1(field.first).compare(key, Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(field.second);
    }
    return QString();
}

Http::Http(QObject *parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this))
    , m_stallTimer(new QTimer(this))
{
    m_stallTimer->setSingleShot(true);
    connect(m_stallTimer, &QTimer::timeout, this, &Http::onStalled);
    // Needed for queued connections and signal spies on responseHeaderReceived.
    qRegisterMetaType<HttpResponseHeader>("HttpResponseHeader");
}

Http::~Http()
{
    // Cut the reply loose before QObject tears down the manager, so no
    // late reply signal can reach a half-destroyed client.
    releaseReply();
}

int Http::setHost(const QString &host, quint16 port)
{
    m_host = host;
    m_port = port;
    Request request;
    request.kind = Request::SetHost;
    request.host = host;
    request.port = port;
    return enqueue(request);
}

int Http::setUser(const QString &user, const QString &password)
{
    m_user = user;
    m_password = password;
    Request request;
    request.kind = Request::SetUser;
    request.user = user;
    request.password = password;
    return enqueue(request);
}

int Http::get(const QString &path, QIODevice *to)
{
    Request request;
    request.kind = Request::Get;
    request.host = m_host;
    request.port = m_port;
    request.user = m_user;
    request.password = m_password;
    request.path = path;
    request.to = to;
    return enqueue(request);
}

QByteArray Http::readAll()
{
    QByteArray data;
    data.swap(m_buffer);
    return data;
}

qint64 Http::bytesAvailable() const
{
    return m_buffer.size();
}

HttpResponseHeader Http::lastResponse() const
{
    return m_lastResponse;
}

Http::Error Http::error() const
{
    return m_error;
}

QString Http::errorString() const
{
    if (m_error == NoError || m_errorString.isEmpty())
        return tr("Unknown error");
    return m_errorString;
}

int Http::currentId() const
{
    return m_currentId;
}

bool Http::hasPendingRequests() const
{
    return !m_pending.isEmpty();
}

void Http::abort()
{
    if (!m_running && m_pending.isEmpty())
        return;

    const bool wasRunning = m_running;
    m_pending.clear();
    releaseReply();
    m_emitting = false;
    m_error = Aborted;
    m_errorString = tr("Request aborted");

    if (wasRunning) {
        finishCurrent(true);
        return;
    }

    // Only queued requests (or we are inside a requestFinished handler that
    // queued some): drop them and close the batch.
    m_reportingFinish = false;
    m_currentId = 0;
    ++m_generation;
    emit done(true);
}

int Http::enqueue(Request request)
{
    request.id = g_lastRequestId.fetchAndAddOrdered(1) + 1;
    m_pending.append(request);
    if (!m_running && !m_reportingFinish)
        scheduleStart();
    return request.id;
}

void Http::scheduleStart()
{
    if (m_startScheduled)
        return;
    m_startScheduled = true;
    // Always through the event loop: callers connect their slots after
    // issuing requests, and a handler of requestFinished may be sitting in a
    // modal dialog when the next request would otherwise begin.
    QMetaObject::invokeMethod(this, &Http::startNextRequest, Qt::QueuedConnection);
}

void Http::startNextRequest()
{
    m_startScheduled = false;
    if (m_running || m_reportingFinish || m_pending.isEmpty())
        return;

    const Request request = m_pending.takeFirst();
    m_running = true;
    m_currentId = request.id;
    m_error = NoError;
    m_errorString.clear();
    const quint64 generation = ++m_generation;

    QPointer<Http> self(this);
    emit requestStarted(request.id);
    if (!self || generation != m_generation)
        return;

    switch (request.kind) {
    case Request::SetHost:
    case Request::SetUser:
        // The parameters were captured when the request was issued.
        finishCurrent(false);
        break;
    case Request::Get:
        startGet(request);
        break;
    }
}

void Http::startGet(const Request &request)
{
    m_target = request.to;
    if (!request.to)
        m_buffer.clear();
    m_lastResponse = HttpResponseHeader();
    m_emitting = false;
    m_headerReported = false;
    m_replyFinished = false;
    m_received = 0;
    m_expected = 0;

    QString path = request.path;
    if (!path.startsWith(QLatin1Char('/')))
        path.prepend(QLatin1Char('/'));

    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(request.host);
    url.setPort(request.port);
    // The caller hands over an already encoded request target; keep it as
    // it is rather than letting QUrl encode it a second time.
    const int queryStart = path.indexOf(QLatin1Char('?'));
    if (queryStart >= 0) {
        url.setPath(path.left(queryStart), QUrl::TolerantMode);
        url.setQuery(path.mid(queryStart + 1), QUrl::TolerantMode);
    } else {
        url.setPath(path, QUrl::TolerantMode);
    }

    QNetworkRequest networkRequest(url);
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                int(QNetworkRequest::ManualRedirectPolicy));
    // Bodies are stored as served (a .wrl.gz stays compressed) and the byte
    // counts in dataReadProgress match the Content-Length.
    networkRequest.setRawHeader("Accept-Encoding", "identity");
    if (!request.user.isEmpty()) {
        const QByteArray credentials = request.user.toUtf8() + ':' + request.password.toUtf8();
        networkRequest.setRawHeader("Authorization", "Basic " + credentials.toBase64());
    }

    m_reply = m_manager->get(networkRequest);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &Http::onReplyMetaData);
    connect(m_reply, &QIODevice::readyRead, this, &Http::onReplyReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &Http::onReplyFinished);
    m_stallTimer->start(stallTimeoutMs);
}

// Ends the GET the way a dropped connection does.
void Http::onStalled()
{
    if (!m_reply)
        return;
    if (m_emitting) {
        // A handler sits in a modal box; the GET is ended once it returns.
        m_stallTimer->start(stallTimeoutMs);
        return;
    }
    releaseReply();
    m_error = UnexpectedClose;
    m_errorString = tr("No data received for %1 seconds").arg(stallTimeoutMs / 1000);
    finishCurrent(true);
}

void Http::onReplyMetaData()
{
    if (sender() != m_reply)
        return;
    m_stallTimer->start(stallTimeoutMs);
    pump();
}

void Http::onReplyReadyRead()
{
    if (sender() != m_reply)
        return;
    m_stallTimer->start(stallTimeoutMs);
    pump();
}

void Http::onReplyFinished()
{
    if (sender() != m_reply)
        return;
    m_replyFinished = true;
    pump();
}

// Delivers whatever the reply has for us, in order: header, data, end.
// While one of our signals is being emitted nothing else is delivered; a
// handler may sit in a modal dialog (a nested event loop) and decide to
// abort afterwards, and by then the request must not have been reported
// finished behind its back.  The emitting frame picks up the rest when
// the handler returns.
void Http::pump()
{
    if (m_emitting || !m_reply)
        return;

    QPointer<Http> self(this);
    const quint64 generation = m_generation;

    for (;;) {
        if (!m_headerReported) {
            const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            if (!status.isValid()) {
                if (m_replyFinished)
                    completeGet();
                return;
            }
            HttpResponseHeader header;
            header.m_valid = true;
            header.m_statusCode = status.toInt();
            header.m_reasonPhrase = m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
            header.m_fields = m_reply->rawHeaderPairs();
            m_lastResponse = header;
            m_headerReported = true;
            const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
            m_expected = length.isValid() ? qMax<qint64>(0, length.toLongLong()) : 0;

            m_emitting = true;
            emit responseHeaderReceived(header);
            if (!self || generation != m_generation)
                return;
            m_emitting = false;
            continue;
        }

        const QByteArray chunk = m_reply->readAll();
        if (!chunk.isEmpty()) {
            if (m_target)
                m_target->write(chunk);
            else
                m_buffer.append(chunk);
            m_received += chunk.size();

            m_emitting = true;
            emit dataReadProgress(clampToInt(m_received), clampToInt(m_expected));
            if (!self || generation != m_generation)
                return;
            m_emitting = false;
            continue;
        }

        if (m_replyFinished)
            completeGet();
        return;
    }
}

void Http::completeGet()
{
    const QNetworkReply::NetworkError code = m_reply->error();
    QString text = m_reply->errorString();
    releaseReply();

    Error result = NoError;
    if (code != QNetworkReply::NoError && !(m_headerReported && isStatusOnlyError(code)))
        result = mapNetworkError(code);
    if (result == NoError && m_headerReported && m_expected > 0 && m_received < m_expected) {
        result = WrongContentLength;
        text = tr("Wrong content length");
    }

    m_error = result;
    m_errorString = result == NoError ? QString() : text;
    finishCurrent(result != NoError);
}

void Http::finishCurrent(bool failed)
{
    m_running = false;
    m_target = nullptr;
    // Keep the queue still until the handlers have returned, even if they
    // run nested event loops.
    m_reportingFinish = true;
    const quint64 generation = ++m_generation;

    QPointer<Http> self(this);
    emit requestFinished(m_currentId, failed);
    if (!self || generation != m_generation)
        return;
    m_reportingFinish = false;
    m_currentId = 0;

    if (!m_pending.isEmpty()) {
        scheduleStart();
        return;
    }
    emit done(failed);
}

void Http::releaseReply()
{
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    m_stallTimer->stop();
    disconnect(reply, nullptr, this, nullptr);
    if (reply->isRunning())
        reply->abort();
    reply->deleteLater();
}
