#include "quelvin_loader.h"

#include "quelvin_http.h"
#include "quelvin_reader.h"
#include "quelvin_script.h"
#include "quelvin_viewer.h"

#include <Inventor/SbImage.h>
#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoWWWInline.h>
#include <Inventor/VRMLnodes/SoVRMLAnchor.h>
#include <Inventor/VRMLnodes/SoVRMLImageTexture.h>
#include <Inventor/VRMLnodes/SoVRMLInline.h>
#include <Inventor/VRMLnodes/SoVRMLScript.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QUrl>

static QString fromSb(const SbString &s)
{
    return QString::fromUtf8(s.getString());
}

static QString fileNamePart(const QString &text)
{
    return QFileInfo(text).fileName();
}

// VRML 97's Inline and VRML 1.0's WWWInline are fetched alike.
static bool isInline(const SoNode *node)
{
    return node->getTypeId() == SoVRMLInline::getClassTypeId()
           || node->getTypeId() == SoWWWInline::getClassTypeId();
}

static void setInlineChildren(SoNode *node, SoSeparator *children)
{
    // Coin 4.0.0's WWWInline keeps a null child as it is given, and every
    // traversal then follows it.
    if (node->getTypeId() == SoWWWInline::getClassTypeId()) {
        if (children)
            static_cast<SoWWWInline *>(node)->setChildData(children);
    } else {
        static_cast<SoVRMLInline *>(node)->setChildData(children);
    }
}

// The kinds of file a download may create in the working directory: scenes
// and the images simage reads. Anything else a scene names is not fetched.
static const char *const resourceExtensions[] = {
    ".wrl", ".wrz", ".gz", ".png", ".jpg", ".jpeg", ".gif", ".bmp", ".tga", ".rgb", ".sgi", ".tif", ".tiff", ".js"};

// The working directory may be the user's home: a scene from the web must
// not choose a start-up file (".profile"), reach another directory or hide
// control characters in a name it gets written under.
static bool isSafeDownloadName(const QString &fileName)
{
    const QString name = QUrl::fromPercentEncoding(fileName.toUtf8());
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || name.contains(QLatin1Char('/'))
        || name.contains(QLatin1Char('\\')))
        return false;
    for (const QChar c : name)
        if (c.category() == QChar::Other_Control)
            return false;
    const QString lower = name.toLower();
    for (const char *extension : resourceExtensions)
        if (lower.endsWith(QLatin1String(extension)) && lower.size() > int(qstrlen(extension)))
            return true;
    return false;
}

Loader::Loader(QObject *parent)
    : QObject(parent), browser(nullptr), baseLocation(4), http(new Http), requests(4),
      lastStatus(0), documents(0), document(0)
{
    connect(http, &Http::requestFinished, this, &Loader::httpRequestFinished);
    connect(http, &Http::dataReadProgress, this, &Loader::updateDataReadProgress);
    connect(http, &Http::responseHeaderReceived, this, &Loader::readResponseHeader);
    connect(http, &Http::requestStarted, this, &Loader::requestStarted);
    connect(http, &Http::done, this, &Loader::done);
    // Quitting in the middle of a download must leave no part of it behind.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this]() {
        http->abort();
        dropRequests();
    });
}

Loader::~Loader()
{
    delete http;
    dropRequests();
}

void Loader::dropRequests()
{
    for (int i = requests.getLength() - 1; i >= 0; i--) {
        nodeRequest *request = requests[i];
        requests.remove(i);
        delete request->file;    // a temporary file removes itself
        if (request->node)
            request->node->unref();
        delete request;
    }
}

// Requests of one document (the scene shown or the one being opened); what
// is still coming for any other goes to the working directory alone.
void Loader::detachRequests(bool keep(int, int))
{
    for (int i = 0; i < requests.getLength(); i++) {
        if (!requests[i]->node || keep(requests[i]->document, document))
            continue;
        requests[i]->node->unref();
        requests[i]->node = nullptr;
    }
}

Loader::Place Loader::openDocument()
{
    Place place;
    for (int i = 0; i < baseLocation.getLength(); i++)
        place.stack.append(baseLocation[i]);
    place.sceneDirectory = sceneDirectory;
    place.document = document;
    document = ++documents;
    return place;
}

// A new document's scene must not receive what the last one asked for,
// nor have its base locations popped by it.
void Loader::documentShown()
{
    detachRequests([](int requestDocument, int current) { return requestDocument == current; });
}

// A document that could not be opened leaves the scene shown as it was:
// its downloads still arrive, its names resolve where they did.
void Loader::documentFailed(const Place &place)
{
    detachRequests([](int requestDocument, int current) { return requestDocument != current; });
    document = place.document;
    resetBaseLocation();
    for (const SbString &entry : place.stack)
        baseLocation.push(entry);
    sceneDirectory = place.sceneDirectory;
}

QString Loader::inlineFile(const SoNode *node) const
{
    return inlineFiles.value(node);
}

SbString Loader::topBaseLocation() const
{
    const int n = baseLocation.getLength();
    return n ? baseLocation[n - 1] : SbString();
}

// --- Base-location stack ---------------------------------------------------

void Loader::setCurrentBaseLocation(const SbString &location)
{
    const QUrl url(fromSb(location));
    QString text;
    if (!url.isRelative())
        text = url.toString();
    else if (baseLocation.getLength() == 0)
        // A document named from the working directory ("../box.wrl"): a
        // relative base would lose its leading ".." when names resolve
        // against it.
        text = QFileInfo(url.toString()).isRelative() ? QFileInfo(url.toString()).absoluteFilePath()
                                                      : url.toString();
    else
        text = QUrl(fromSb(topBaseLocation())).resolved(url).toString();
    const QString fileName = fileNamePart(text);
    if (!fileName.isEmpty())
        text.remove(fileName, Qt::CaseSensitive);
    baseLocation.push(SbString(text.toUtf8().constData()));
}

void Loader::unsetBaseLocation()
{
    if (baseLocation.getLength() > 0)
        (void)baseLocation.pop();
}

void Loader::resetBaseLocation()
{
    for (int i = baseLocation.getLength() - 1; i >= 0; i--)
        baseLocation.remove(i);
}

// --- Requests --------------------------------------------------------------

void Loader::makeRequest(const QString &urlText, SoNode *node)
{
    if (!node)
        return;
    QUrl url(urlText);
    QUrl full;
    if (url.isRelative()) {
        // Inline and anchor hooks have just pushed this URL's own directory,
        // so only its file name is left to resolve against the new top.
        if (node->isOfType(SoVRMLInline::getClassTypeId())
            || node->isOfType(SoWWWInline::getClassTypeId())
            || node->isOfType(SoVRMLAnchor::getClassTypeId()))
            url = QUrl(fileNamePart(url.toString()));
        if (baseLocation.getLength() == 0)
            full = url;
        else
            full = QUrl(QUrl(fromSb(topBaseLocation())).resolved(url).toString());
    } else {
        full = url;
    }

    // The stack's top is the directory of the file naming the resource only
    // until an inline from elsewhere pushes its own, which nothing takes back;
    // siblings of that inline, and a picture after it, are then looked for in
    // the wrong place. A browser resolves against the naming file, so that
    // is where to look when the stack's place has nothing.
    QString retry;
    const QString namedIn = reading.isEmpty() ? sceneDirectory : reading.last();
    if (QUrl(urlText).isRelative() && !namedIn.isEmpty()) {
        retry = QUrl(QUrl(namedIn).resolved(QUrl(urlText)).toString()).toString();
        if (retry == full.toString())
            retry.clear();
    }
    if (!fetch(full, node, retry) && !retry.isEmpty())
        (void)fetch(QUrl(retry), node, QString());
}

// Uses a local file or starts a download for the resolved URL; false when
// there is nothing to be had there. retry is where a failed download looks
// next.
bool Loader::fetch(const QUrl &full, SoNode *node, const QString &retry)
{
    const QString fullText = full.toString();
    const QString fileName = fileNamePart(fullText);
    if (fileName.isEmpty())
        return false;

    const QFileInfo fullInfo(fullText);
    // While its download runs, a file lies in the working directory only in
    // part; a request for it then waits for that download instead.
    const SbString bareName(fileName.toUtf8().constData());
    bool downloading = false;
    for (int i = 0; i < requests.getLength(); i++)
        downloading = downloading || (requests[i]->file && requests[i]->name == bareName);
    if (fullInfo.exists() || (QFile::exists(fileName) && !downloading)) {
        const QString path = fullInfo.exists() ? fullInfo.absoluteFilePath()
                                               : QFileInfo(fileName).absoluteFilePath();
        useLocalFile(path, node, fullInfo.exists() ? path : fullText);
        return true;
    }

    if (full.scheme() != QLatin1String("http") && !downloading)
        return false;
    if (!isSafeDownloadName(fileName))
        return false;

    nodeRequest *request = new nodeRequest;
    request->node = node;
    request->document = document;
    request->name = bareName;
    request->url = fullText;
    request->retry = retry;
    // A second node asking for a file that is already on its way shares that
    // download: two GETs writing one file would garble it.
    for (int i = 0; i < requests.getLength(); i++) {
        if (requests[i]->file && requests[i]->name == request->name) {
            request->id = requests[i]->id;
            node->ref();
            requests.append(request);
            return true;
        }
    }
    requests.append(request);
    // The body goes to a hidden name of its own and takes the file name
    // only once it has come whole: a cut or empty download never lies in
    // the working directory under a name later requests are served from.
    QTemporaryFile *file = new QTemporaryFile(QStringLiteral(".quelvin-download-XXXXXX"));
    if (!file->open()) {
        delete file;
        requests.remove(requests.getLength() - 1);
        delete request;
        return true;
    }
    // The record points at the node until the client's queue runs empty;
    // the reference keeps it alive even if its scene is replaced meanwhile.
    node->ref();
    request->file = file;
    const int port = full.port() != -1 ? full.port() : 80;
    http->setHost(full.host(), quint16(port));
    // The client is shared: without a user of its own, a URL must not go
    // out with the credentials an earlier URL brought.
    if (!full.userName().isEmpty())
        http->setUser(full.userName(), full.password());
    else
        http->setUser(QString());
    request->id = http->get(full.path(), file);
    return true;
}

// --- Files being read ------------------------------------------------------

QString Loader::directoryOf(const QString &location) const
{
    const QUrl url(location);
    const QString text = url.isRelative() && baseLocation.getLength() > 0
                             ? QUrl(fromSb(topBaseLocation())).resolved(url).toString()
                             : url.toString();
    return text.left(text.lastIndexOf(QLatin1Char('/')) + 1);
}

void Loader::beginReading(const SbString &location, bool wholeScene)
{
    reading.append(directoryOf(fromSb(location)));
    if (wholeScene)
        sceneDirectory = reading.last();
}

void Loader::endReading()
{
    if (!reading.isEmpty())
        reading.removeLast();
}

// Gives a file that is now on disk to the node that asked for it: an image
// to a texture, a whole new scene for an anchor, children to an inline.
void Loader::attach(const QByteArray &path, SoNode *node, const QString &location)
{
    const SoType type = node->getTypeId();
    if (type == SoVRMLImageTexture::getClassTypeId()) {
        SbImage image;
        // simage allocates whatever size a header claims, unchecked.
        if (SceneReader::isSafeImage(QFile::decodeName(path)))
            (void)image.readFile(path.constData());
        static_cast<SoVRMLImageTexture *>(node)->setImage(image);
    } else if (type == SoVRMLAnchor::getClassTypeId()) {
        if (browser) {
            SbString target(path.constData());
            browser->loadURL(target);
        }
    } else if (isInline(node)) {
        const ReadingFile inlined(this, SbString(location.toUtf8().constData()), false);
        const QString file = QFile::decodeName(path);
        // Anchors inside resolve their links next to this file.
        inlineFiles.insert(node, location);
        // A part without a header is read as the version that named it.
        const char *header = type == SoWWWInline::getClassTypeId() ? SceneReader::vrml1Header
                                                                   : SceneReader::vrml2Header;
        if (SceneReader::isReadableFile(file))
            setInlineChildren(node, SceneReader::readFile(file, header));
        Scripts::partArrived(node);
    } else if (type == SoVRMLScript::getClassTypeId()) {
        Scripts::sourceArrived(node, QFile::decodeName(path));
    }
}

void Loader::useLocalFile(const QString &path, SoNode *node, const QString &location)
{
    // Every inline and anchor pushes an entry, so the depth of the stack
    // bounds the recursion of inlines that (directly or not) inline
    // themselves.
    if (isInline(node) && baseLocation.getLength() >= maxInlineDepth)
        return;
    attach(QFile::encodeName(path), node, location);
}

static bool firstUrlIsAbsolute(const SoMFString &urls)
{
    return urls.getNum() > 0 && !QUrl(fromSb(urls[0])).isRelative();
}

void Loader::useDownloadedFile(const nodeRequest *request)
{
    const QString name = QFileInfo(fromSb(request->name)).filePath();
    if (QFileInfo(name).size() == 0)
        return;
    SoNode *node = request->node;
    attach(QFile::encodeName(name), node, request->url);
    // A downloaded inline or anchor with an absolute address pushed a
    // location of its own, which nothing else takes back; not while
    // another document is being opened, whose locations these are now.
    if (request->document != document)
        return;
    if (node->getTypeId() == SoVRMLAnchor::getClassTypeId()
        && firstUrlIsAbsolute(static_cast<SoVRMLAnchor *>(node)->url))
        unsetBaseLocation();
    else if (node->getTypeId() == SoVRMLInline::getClassTypeId()
             && firstUrlIsAbsolute(static_cast<SoVRMLInline *>(node)->url))
        unsetBaseLocation();
    else if (node->getTypeId() == SoWWWInline::getClassTypeId()
             && !QUrl(fromSb(static_cast<SoWWWInline *>(node)->name.getValue())).isRelative())
        unsetBaseLocation();
}

void Loader::requestStarted(int)
{
    lastStatus = 0;
}

void Loader::readResponseHeader(const HttpResponseHeader &responseHeader)
{
    lastStatus = responseHeader.statusCode();
}

void Loader::updateDataReadProgress(int, int)
{
}

void Loader::httpRequestFinished(int requestId, bool error)
{
    int owner = -1;
    for (int i = 0; i < requests.getLength(); i++) {
        if (requests[i]->id == requestId && requests[i]->file) {
            owner = i;
            break;
        }
    }
    if (owner < 0)
        return;
    nodeRequest *request = requests[owner];
    QFile *file = request->file;
    request->file = nullptr;
    // An error page is not the resource: a 404 body must not become a
    // texture or an inline, nor stay behind to be served next time. Nor
    // does a name that is already taken get overwritten.
    const bool complete = !error && lastStatus >= 200 && lastStatus <= 299 && file->flush()
                          && file->size() > 0;
    const QString name = fromSb(request->name);
    file->close();
    if (complete && !QFile::exists(name) && file->rename(name))
        static_cast<QTemporaryFile *>(file)->setAutoRemove(false);
    delete file;
    if (!complete) {
        // Each node that waited for this GET may have another place to look.
        for (int i = 0; i < requests.getLength(); i++) {
            if (requests[i]->id != requestId || requests[i]->retry.isEmpty() || !requests[i]->node)
                continue;
            const QString retry = requests[i]->retry;
            requests[i]->retry.clear();
            (void)fetch(QUrl(retry), requests[i]->node, QString());
        }
        return;
    }
    // Loading an anchor target or an inline can issue new requests, which
    // append to the list while it is walked.
    for (int i = 0; i < requests.getLength(); i++) {
        if (requests[i]->id == requestId && requests[i]->node)
            useDownloadedFile(requests[i]);
    }
}

void Loader::done(bool)
{
    for (int i = requests.getLength() - 1; i >= 0; i--) {
        nodeRequest *request = requests[i];
        if (request->file)
            continue;    // still downloading: its GET was queued after the one that ended
        requests.remove(i);
        if (request->node)
            request->node->unref();
        delete request;
    }
}
