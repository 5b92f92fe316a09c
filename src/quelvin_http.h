// Small queued HTTP client on top of QNetworkAccessManager.
//
// The viewer was designed around a sequential, id-based HTTP client: it
// queues "set host", "set user" and "get" requests, matches the results by
// request id, and pops modal dialogs from inside the signal handlers.  This
// class keeps that programming model so the callers can stay simple, while
// the actual transfers are done by QNetworkAccessManager.
#ifndef QUELVIN_HTTP_H
#define QUELVIN_HTTP_H

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>

class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

class HttpResponseHeader
{
public:
    HttpResponseHeader();

    bool isValid() const;
    int statusCode() const;
    QString reasonPhrase() const;
    // Header lookup; field names are case-insensitive in HTTP.
    QString value(const QString &key) const;

private:
    friend class Http;

    bool m_valid = false;
    int m_statusCode = 0;
    QString m_reasonPhrase;
    QList<QPair<QByteArray, QByteArray>> m_fields;
};
Q_DECLARE_METATYPE(HttpResponseHeader)

class Http : public QObject
{
    Q_OBJECT
public:
    enum Error {
        NoError,
        UnknownError,
        HostNotFound,
        ConnectionRefused,
        UnexpectedClose,
        InvalidResponseHeader,
        WrongContentLength,
        Aborted,
        AuthenticationRequiredError
    };

    explicit Http(QObject *parent = nullptr);
    ~Http() override;

    // A GET that receives nothing for this long ends as failed: a server
    // that never answers must not hold a download for ever. Tests shorten it.
    static const int defaultStallTimeoutMs = 30000;
    static int stallTimeoutMs;

    int setHost(const QString &host, quint16 port = 80);
    int setUser(const QString &user, const QString &password = QString());
    int get(const QString &path, QIODevice *to = nullptr);

    QByteArray readAll();
    qint64 bytesAvailable() const;
    HttpResponseHeader lastResponse() const;
    Error error() const;
    QString errorString() const;
    int currentId() const;
    bool hasPendingRequests() const;

public slots:
    void abort();

signals:
    void requestStarted(int id);
    void requestFinished(int id, bool error);
    void dataReadProgress(int done, int total);
    void responseHeaderReceived(const HttpResponseHeader &resp);
    void done(bool error);

private slots:
    void startNextRequest();
    void onReplyMetaData();
    void onReplyReadyRead();
    void onReplyFinished();
    void onStalled();

private:
    struct Request {
        enum Kind { SetHost, SetUser, Get };
        Kind kind = Get;
        int id = 0;
        QString host;
        quint16 port = 80;
        QString user;
        QString password;
        QString path;
        QPointer<QIODevice> to;
    };

    int enqueue(Request request);
    void scheduleStart();
    void startGet(const Request &request);
    void pump();
    void completeGet();
    void finishCurrent(bool failed);
    void releaseReply();

    QNetworkAccessManager *m_manager = nullptr;
    QList<Request> m_pending;

    // Connection parameters as of the most recently issued setHost/setUser;
    // each get() takes a snapshot so that dropping queued requests on abort()
    // cannot make a later get() talk to an older host.
    QString m_host;
    quint16 m_port = 80;
    QString m_user;
    QString m_password;

    // State of the request that is running now.
    bool m_running = false;
    bool m_reportingFinish = false;
    bool m_startScheduled = false;
    int m_currentId = 0;
    // Bumped whenever the running request changes or is abandoned, so code
    // resuming after a signal emission can tell the world moved on.
    quint64 m_generation = 0;

    QNetworkReply *m_reply = nullptr;
    QTimer *m_stallTimer = nullptr;
    QPointer<QIODevice> m_target;
    bool m_emitting = false;
    bool m_headerReported = false;
    bool m_replyFinished = false;
    qint64 m_received = 0;
    qint64 m_expected = 0;

    QByteArray m_buffer;
    HttpResponseHeader m_lastResponse;
    Error m_error = NoError;
    QString m_errorString;
};

#endif
