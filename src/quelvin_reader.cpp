#include "quelvin_reader.h"

#include "quelvin_guard.h"

#include <Inventor/SoDB.h>
#include <Inventor/nodes/SoSeparator.h>

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <cstdlib>

DocumentInput::DocumentInput(const QByteArray &bytes, const QString &location)
    : data(bytes), where(location)
{
    setBuffer(data.constData(), size_t(data.size()));
}

namespace {

ReadAccount &pendingAccount()
{
    static ReadAccount account;
    return account;
}

void setDefault(const char *name, const char *value)
{
    setenv(name, value, 0);
}

// Coin reads COIN_NO_SOTYPE_DYNLOAD once, at its first lookup of a type
// name; this runs before main and so before any lookup.
const bool environmentReady = (SceneReader::prepareEnvironment(), true);

} // namespace

namespace SceneReader {

const char *const vrml2Header = "#VRML V2.0 utf8";
const char *const vrml1Header = "#VRML V1.0 ascii";

void prepareEnvironment()
{
    // Coin 4.0.0 dlopen()s a library named after any node type it does not
    // know ("lib<type>.so"): a file must not choose code to load.
    setDefault("COIN_NO_SOTYPE_DYNLOAD", "1");
    setDefault("COIN_ZLIB_LIBNAME", "libz.so.1");
    setDefault("COIN_SIMAGE_LIBNAME", "libsimage.so.20");
    // Text nodes: without these Coin falls back to its coarse built-in font.
    setDefault("COIN_FREETYPE2_LIBNAME", "libfreetype.so.6");
    setDefault("COIN_FONTCONFIG_LIBNAME", "libfontconfig.so.1");
}

bool isReadableFile(const QString &path, QString *reason)
{
    // A FIFO or a device would block the program in open() or read();
    // QFileInfo calls only regular files (or links to them) files.
    QFileInfo info(path);
    if (!info.exists())
        return false;
    if (!info.isFile()) {
        if (reason)
            *reason = QObject::tr("Not a regular file");
        return false;
    }
    return true;
}

// Whether the text starts with a line naming what it is (after a
// byte-order mark); anything else starting with '#' is a comment.
static bool hasHeader(const QByteArray &text)
{
    const int start = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    for (const char *header : {"#VRML", "#Inventor", "#X3D"})
        if (qstrncmp(text.constData() + start, header, uint(qstrlen(header))) == 0)
            return true;
    return false;
}

static SoSeparator *readCleaned(QByteArray text, const QString &location, const QString &directory,
                                const char *assumedHeader = nullptr)
{
    ReadAccount account;
    QByteArray cleaned;
    // A document without a header, opened by itself (a robot's part
    // opened to look at it alone), is read as VRML 97, else as VRML 1.0,
    // if it holds nodes and nothing else.
    QByteArray second;
    if (!assumedHeader && !hasHeader(text)) {
        assumedHeader = vrml2Header;
        second = text;
    }
    if (!tolerant::clean(std::move(text), location, &cleaned, &account, assumedHeader)
        && (second.isEmpty() || !tolerant::clean(std::move(second), location, &cleaned, &account, vrml1Header)))
        return nullptr;
    SoInput in;
    in.setBuffer(cleaned.constData(), size_t(cleaned.size()));
    // Names relative to the document (Inventor and VRML 1.0 textures)
    // resolve where they would have from the file itself.
    const QByteArray dir = QFile::encodeName(directory);
    if (!directory.isEmpty())
        SoInput::addDirectoryFirst(dir.constData());
    SoSeparator *root = SoDB::readAll(&in);
    if (!root && tolerant::mendNonFinite(&cleaned)) {
        SoInput again;
        again.setBuffer(cleaned.constData(), size_t(cleaned.size()));
        root = SoDB::readAll(&again);
        if (root)
            account.add("unusable number");
    }
    if (!directory.isEmpty())
        SoInput::removeDirectory(dir.constData());
    if (root) {
        root->ref();
        guardScene(root, &account);
        root->unrefNoDelete();
    }
    pendingAccount().merge(account);
    return root;
}

SoSeparator *readFile(const QString &path, const char *assumedHeader)
{
    QByteArray bytes;
    if (!tolerant::loadFileBytes(path, &bytes, nullptr))
        return nullptr;
    const QFileInfo info(path);
    return readCleaned(std::move(bytes), info.absoluteFilePath(), info.absolutePath(), assumedHeader);
}

SoSeparator *readBuffer(const QByteArray &bytes, const QString &location)
{
    QByteArray text;
    if (!tolerant::inflateIfGzip(bytes, &text))
        return nullptr;
    // A downloaded document names no directory here: its EXTERNPROTOs
    // and relative names are network addresses, fetched by nobody.
    (void)location;
    return readCleaned(std::move(text), QString(), QString());
}

SoSeparator *readInput(SoInput *in)
{
    if (DocumentInput *document = dynamic_cast<DocumentInput *>(in))
        return readBuffer(document->bytes(), document->location());
    const char *name = in->getCurFileName();
    if (!name)
        return nullptr;
    return readFile(QFile::decodeName(name));
}

bool isSafeImage(const QString &path)
{
    if (!isReadableFile(path))
        return false;
    QImageReader reader(path);
    QSize size = reader.size();
    if (!size.isValid()) {
        // Formats Qt does not read here: SGI and Targa keep their size in
        // 16-bit fields at fixed places.
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QByteArray head = file.read(18);
        if (head.size() >= 10 && uchar(head[0]) == 0x01 && uchar(head[1]) == 0xda) {
            size = QSize((uchar(head[6]) << 8) | uchar(head[7]), (uchar(head[8]) << 8) | uchar(head[9]));
        } else if (head.size() >= 18 && path.endsWith(".tga", Qt::CaseInsensitive)) {
            size = QSize(uchar(head[12]) | (uchar(head[13]) << 8), uchar(head[14]) | (uchar(head[15]) << 8));
        } else {
            return false;
        }
    }
    return size.width() > 0 && size.height() > 0
           && qint64(size.width()) * size.height() <= maxTexturePixels;
}

ReadAccount takeAccount()
{
    ReadAccount account = pendingAccount();
    pendingAccount().clear();
    return account;
}

} // namespace SceneReader
