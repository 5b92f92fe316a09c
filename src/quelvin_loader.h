#ifndef QUELVIN_LOADER_H
#define QUELVIN_LOADER_H

#include <QObject>
#include <Inventor/SbString.h>
#include <Inventor/lists/SbList.h>

class QFile;
class SoNode;
class Browser;
class Http;
class HttpResponseHeader;

// One download of a linked resource: who asked for it, which GET fetches it
// and the bare file name it is stored under in the working directory.
struct nodeRequest
{
    nodeRequest() : node(nullptr), id(0), file(nullptr) {}
    SoNode *node;    // null once its scene has been replaced
    int id;
    SbString name;
    QFile *file;    // the body's target while the GET runs; null for a request that shares another's GET
};

class Loader : public QObject
{
    Q_OBJECT

public:
    explicit Loader(QObject *parent = nullptr);
    ~Loader() override;

    Browser *browser;

    void setCurrentBaseLocation(const SbString &location);
    void unsetBaseLocation();
    void resetBaseLocation();
    void makeRequest(const QString &url, SoNode *node);

    // Inspection for the window's tests and benchmarks.
    int baseLocationDepth() const { return baseLocation.getLength(); }
    SbString topBaseLocation() const;
    int pendingRequests() const { return requests.getLength(); }

    static const int maxInlineDepth = 64;

private slots:
    void requestStarted(int requestId);
    void httpRequestFinished(int requestId, bool error);
    void readResponseHeader(const HttpResponseHeader &responseHeader);
    void updateDataReadProgress(int bytesRead, int totalBytes);
    void done(bool error);

private:
    void attach(const QByteArray &path, SoNode *node);
    void useLocalFile(const QString &path, SoNode *node);
    void useDownloadedFile(const nodeRequest *request);
    void detachRequests();
    void dropRequests();

    SbList<SbString> baseLocation;
    Http *http;
    SbList<nodeRequest *> requests;
    int lastStatus;
};

#endif // QUELVIN_LOADER_H
