#ifndef QUELVIN_LOADER_H
#define QUELVIN_LOADER_H

#include <QObject>
#include <QHash>
#include <QList>
#include <QStringList>
#include <Inventor/SbString.h>
#include <Inventor/lists/SbList.h>

class QFile;
class QUrl;
class SoNode;
class Browser;
class Http;
class HttpResponseHeader;

// One download of a linked resource: who asked for it, which GET fetches it
// and the bare file name it is stored under in the working directory.
struct nodeRequest
{
    nodeRequest() : node(nullptr), id(0), file(nullptr), document(0) {}
    SoNode *node;    // null once its scene has been replaced
    int id;
    SbString name;
    QFile *file;    // the body's target while the GET runs; null for a request that shares another's GET
    QString url;    // where the resource is fetched from
    QString retry;  // where to look next if this GET fails; empty when there is nowhere else
    int document;   // the document whose read asked for it
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

    // A document about to be read, from the window or a link: what the
    // scene shown had, to be given back if the new one cannot be shown.
    struct Place
    {
        QList<SbString> stack;
        QString sceneDirectory;
        int document = 0;
    };
    Place openDocument();
    void documentShown();
    void documentFailed(const Place &place);

    // The file (path or URL) an inline's children were read from; empty
    // for one that has none.
    QString inlineFile(const SoNode *node) const;

    // A file whose nodes are being read: the resources they name are looked
    // for next to it when the base-location stack finds nothing. The
    // location is the file's path or URL; a whole scene (a document or a
    // link's target) also stands for nodes named outside any read.
    void beginReading(const SbString &location, bool wholeScene);
    void endReading();

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
    bool fetch(const QUrl &full, SoNode *node, const QString &retry);
    void attach(const QByteArray &path, SoNode *node, const QString &location);
    void useLocalFile(const QString &path, SoNode *node, const QString &location);
    void useDownloadedFile(const nodeRequest *request);
    QString directoryOf(const QString &location) const;
    void detachRequests(bool keep(int, int));
    void dropRequests();

    SbList<SbString> baseLocation;
    Http *http;
    SbList<nodeRequest *> requests;
    int lastStatus;
    QStringList reading;      // directories of the files being read, innermost last
    QString sceneDirectory;   // directory of the scene shown
    int documents;            // documents opened so far
    int document;             // the one whose reads ask now
    QHash<const SoNode *, QString> inlineFiles;
};

// Marks a file as being read for as long as it lives.
class ReadingFile
{
public:
    ReadingFile(Loader *loader, const SbString &location, bool wholeScene)
        : loader(loader) { loader->beginReading(location, wholeScene); }
    // A document, whose directory its loader has just pushed.
    explicit ReadingFile(Loader *loader)
        : loader(loader) { loader->beginReading(loader->topBaseLocation(), true); }
    ~ReadingFile() { loader->endReading(); }
    ReadingFile(const ReadingFile &) = delete;
    ReadingFile &operator=(const ReadingFile &) = delete;

private:
    Loader *loader;
};

#endif // QUELVIN_LOADER_H
