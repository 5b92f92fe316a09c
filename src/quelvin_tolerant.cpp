#include "quelvin_tolerant.h"

#include <Inventor/SbName.h>
#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/SoType.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/fields/SoField.h>
#include <Inventor/fields/SoMFEnum.h>
#include <Inventor/fields/SoMFName.h>
#include <Inventor/fields/SoMFNode.h>
#include <Inventor/fields/SoSFEnum.h>
#include <Inventor/fields/SoSFImage.h>
#include <Inventor/fields/SoSFName.h>
#include <Inventor/fields/SoSFNode.h>
#include <Inventor/misc/SoProto.h>
#include <Inventor/nodes/SoGroup.h>
#include <Inventor/nodes/SoNode.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/SoPath.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QVector>
#include <QSet>
#include <QRegularExpression>
#include <QUrl>

#include <sys/stat.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>

// --- Account ---------------------------------------------------------------

QString leftOutName(LeftOut kind, int count)
{
    static const struct { LeftOut kind; const char *one; const char *many; } names[] = {
        { LeftOut::UnknownField, "unknown field", "unknown fields" },
        { LeftOut::UnknownNode, "unknown node", "unknown nodes" },
        { LeftOut::RepeatedField, "repeated field", "repeated fields" },
        { LeftOut::UnusableFieldValue, "unusable field value", "unusable field values" },
        { LeftOut::UnusableImage, "unusable image", "unusable images" },
        { LeftOut::StrayToken, "stray token", "stray tokens" },
        { LeftOut::X3dStatement, "X3D statement", "X3D statements" },
        { LeftOut::BrokenReference, "broken reference", "broken references" },
        { LeftOut::Route, "ROUTE", "ROUTEs" },
        { LeftOut::UnresolvedExternProto, "unresolved EXTERNPROTO", "unresolved EXTERNPROTOs" },
        { LeftOut::UnusableGeometryData, "unusable geometry data", "unusable geometry data" },
        { LeftOut::Cycle, "cycle", "cycles" },
        { LeftOut::WrongNodeType, "node of the wrong type", "nodes of the wrong type" },
        { LeftOut::UnusableNumber, "unusable number", "unusable numbers" },
    };
    for (const auto &entry : names)
        if (entry.kind == kind)
            return QString::fromLatin1(count == 1 ? entry.one : entry.many);
    return QString();
}

void ReadAccount::add(LeftOut kind, const QString &name)
{
    for (Entry &entry : entries) {
        if (entry.kind == kind) {
            entry.count++;
            if (!name.isEmpty() && !entry.names.contains(name))
                entry.names.append(name);
            return;
        }
    }
    entries.append(Entry{ kind, 1, name.isEmpty() ? QStringList() : QStringList(name) });
}

void ReadAccount::merge(const ReadAccount &other)
{
    for (const Entry &theirs : other.entries) {
        bool found = false;
        for (Entry &entry : entries) {
            if (entry.kind != theirs.kind)
                continue;
            entry.count += theirs.count;
            for (const QString &name : theirs.names)
                if (!entry.names.contains(name))
                    entry.names.append(name);
            found = true;
        }
        if (!found)
            entries.append(theirs);
    }
}

int ReadAccount::count(LeftOut kind) const
{
    for (const Entry &entry : entries)
        if (entry.kind == kind)
            return entry.count;
    return 0;
}

QString ReadAccount::text() const
{
    QStringList parts;
    for (const Entry &entry : entries) {
        QString part = QString("%1 %2").arg(entry.count).arg(leftOutName(entry.kind, entry.count));
        if (!entry.names.isEmpty()) {
            // A long list of names says no more than the first few.
            QStringList shown = entry.names.mid(0, 6);
            if (entry.names.size() > 6)
                shown.append("...");
            part += " (" + shown.join(", ") + ")";
        }
        parts.append(part);
    }
    return "left out: " + parts.join(", ");
}

namespace tolerant {

// --- Files and gzip ----------------------------------------------------------

bool inflateIfGzip(const QByteArray &data, QByteArray *out)
{
    if (data.size() < 2 || uchar(data[0]) != 0x1f || uchar(data[1]) != 0x8b) {
        *out = data;
        return true;
    }
    z_stream stream;
    memset(&stream, 0, sizeof(stream));
    if (inflateInit2(&stream, 15 + 32) != Z_OK)
        return false;
    QByteArray result;
    // A gzip bomb would take all memory; no real model comes near this.
    const qint64 limit = qint64(1) << 30;
    char chunk[65536];
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef *>(chunk);
        stream.avail_out = sizeof(chunk);
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END)
            break;
        result.append(chunk, int(sizeof(chunk) - stream.avail_out));
        if (result.size() > limit) {
            status = Z_MEM_ERROR;
            break;
        }
        // Concatenated members are legal gzip; read them all.
        if (status == Z_STREAM_END && stream.avail_in > 0) {
            inflateReset(&stream);
            status = Z_OK;
        }
    }
    inflateEnd(&stream);
    // A truncated download still gives the scene it holds so far.
    if (status != Z_STREAM_END && result.isEmpty())
        return false;
    *out = result;
    return true;
}

bool loadFileBytes(const QString &path, QByteArray *bytes, QString *reason)
{
    // A FIFO or device would block the whole program in open() or read().
    struct stat info;
    const QByteArray encoded = QFile::encodeName(path);
    if (stat(encoded.constData(), &info) != 0) {
        if (reason)
            *reason = QFile(path).exists() ? QObject::tr("Cannot read the file")
                                           : QObject::tr("No such file");
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        if (reason)
            *reason = QObject::tr("Not a regular file");
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (reason)
            *reason = file.errorString();
        return false;
    }
    QByteArray raw = file.readAll();
    if (raw.size() != info.st_size && file.error() != QFile::NoError) {
        if (reason)
            *reason = file.errorString();
        return false;
    }
    if (!inflateIfGzip(raw, bytes)) {
        if (reason)
            *reason = QObject::tr("Broken gzip data");
        return false;
    }
    return true;
}

// --- Node types as Coin knows them -------------------------------------------

namespace {

enum FieldKind { NoField, ValueField, WordField, ImageField, SFNodeField, MFNodeField };

struct NodeType
{
    bool known = false;
    bool script = false;
    bool bareChildren = false;    // an Inventor group: children without a field name
    SoNode *instance = nullptr;   // one of the type, asked for its fields
    QHash<QByteArray, FieldKind> protoFields;
    QHash<QByteArray, QByteArray> protoTypes;    // field name to type name ("SFColor")
    bool proto = false;
};

FieldKind kindOfFieldType(SoType type)
{
    if (type.isBad())
        return NoField;
    if (type.isDerivedFrom(SoSFNode::getClassTypeId()))
        return SFNodeField;
    if (type.isDerivedFrom(SoMFNode::getClassTypeId()))
        return MFNodeField;
    if (type.isDerivedFrom(SoSFImage::getClassTypeId()))
        return ImageField;
    if (type.isDerivedFrom(SoSFEnum::getClassTypeId()) || type.isDerivedFrom(SoMFEnum::getClassTypeId())
        || type.isDerivedFrom(SoSFName::getClassTypeId())
        || type.isDerivedFrom(SoMFName::getClassTypeId()))
        return WordField;
    return ValueField;
}

// One instance per built-in type, kept for the run: Coin says which fields
// a type has only through an instance. The table itself is never destroyed,
// so that what it holds stays reachable to the end (no leak, for a checker).
const NodeType *builtinType(const QByteArray &name, bool vrml2)
{
    static QHash<QByteArray, NodeType *> &cache = *new QHash<QByteArray, NodeType *>;
    const QByteArray key = (vrml2 ? "2" : "1") + name;
    auto it = cache.find(key);
    if (it != cache.end())
        return it.value();
    NodeType *info = new NodeType;
    // Coin 4.0.0 reads a VRML 97 node name as its "VRML" type first and
    // falls back on the Inventor type of the bare name (SoBase's
    // createInstance), so a VRML 97 file naming NurbsCurve, Separator or
    // Coordinate3 gets the Inventor node. Such a node then draws from
    // whatever an earlier VRML 97 node left in the traversal state (a
    // Coordinate { } leaves no points), and Coin's Inventor shapes index
    // that state unchecked: sogl_render_nurbs_curve() reads control point
    // numControlPoints - 1 and the last knot without looking. A VRML 97
    // file never means an Inventor node, and our writer never writes one
    // into a VRML 97 file, so they are unknown here like any other name.
    SoType type = SoType::badType();
    if (vrml2) {
        type = SoType::fromName(SbName(("VRML" + name).constData()));
        if (type.isBad() && name.startsWith("VRML"))
            type = SoType::fromName(SbName(name.constData()));
    } else {
        type = SoType::fromName(SbName(name.constData()));
    }
    if (!type.isBad() && type.isDerivedFrom(SoNode::getClassTypeId()) && type.canCreateInstance()
        && type != SoProto::getClassTypeId()) {
        info->known = true;
        info->instance = static_cast<SoNode *>(type.createInstance());
        info->instance->ref();
        const bool vrmlType = QByteArray(type.getName().getString()).startsWith("VRML");
        info->bareChildren = !vrmlType && type.isDerivedFrom(SoGroup::getClassTypeId());
        info->script = vrml2 && name == "Script";
    }
    cache.insert(key, info);
    return info;
}

bool isFieldType(const QByteArray &name)
{
    const SoType type = SoType::fromName(SbName(name.constData()));
    return !type.isBad() && type.isDerivedFrom(SoField::getClassTypeId());
}

// --- Tokens -----------------------------------------------------------------

enum TokenKind { End, Id, Number, String, LBrace, RBrace, LBracket, RBracket, Other };

struct Token
{
    TokenKind kind = End;
    int begin = 0;
    int end = 0;
};

inline bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',' || c == '\f' || c == '\v';
}

inline bool isIdStart(unsigned char c)
{
    if (c <= 0x20 || c == 0x7f)
        return false;
    return !strchr("\"#',+-.0123456789[\\]{}", c);
}

inline bool isIdRest(unsigned char c)
{
    if (c <= 0x20 || c == 0x7f)
        return false;
    // '.' is kept inside a name so that a ROUTE's node.field is one token.
    return !strchr("\"#',[\\]{}", c);
}

// X3D's names for the kinds of interface declaration, which Coin reads
// under their VRML 97 names.
static QByteArray vrmlKeyword(const QByteArray &keyword)
{
    if (keyword == "inputOnly")
        return "eventIn";
    if (keyword == "outputOnly")
        return "eventOut";
    if (keyword == "initializeOnly")
        return "field";
    if (keyword == "inputOutput")
        return "exposedField";
    return keyword;
}

// Where the parser keeps names met in DEF and what became of them.
enum NameState { Open, Closed, Dropped };

// Held by pointer: the parser keeps a type while more PROTOs are added.
typedef std::shared_ptr<NodeType> TypePtr;

struct ProtoScope
{
    QHash<QByteArray, TypePtr> protos;
};

bool cleanWithProtos(QByteArray input, const QString &location, QByteArray *output,
                     ReadAccount *account, QList<QByteArray> *protoNames,
                     QHash<QByteArray, TypePtr> *protos, const char *assumedHeader = nullptr,
                     bool headerless = false);

// Paths of EXTERNPROTO files being cleaned, outermost first: a file that
// (through others) names itself resolves to nothing instead of recursing.
QStringList &filesInProgress()
{
    static QStringList files;
    return files;
}

// Cleaned text of every EXTERNPROTO file resolved, for the fetch hook.
QHash<QString, QByteArray> &resolvedFiles()
{
    static QHash<QString, QByteArray> files;
    return files;
}

class Parser
{
public:
    Parser(QByteArray source, bool isVrml2, const QString &from, ReadAccount *leftOut)
        : text(std::move(source)), data(text.constData()), size(text.size()), vrml2(isVrml2),
          location(from), account(leftOut)
    {
    }

    bool run(int start, const QByteArray &header);
    QByteArray result();
    bool changed = false;
    // The PROTOs of the outermost scope with their interfaces, in order.
    QList<QByteArray> topProtoNames;
    QHash<QByteArray, TypePtr> topProtos;
    // Nodes kept at the outermost level, and text that was no statement.
    int topNodes = 0;
    int strays = 0;
    // An H-Anim Humanoid PROTO whose body never draws its humanoidBody.
    bool bodilessHumanoid = false;

private:
    // Output: the input with cut spans replaced, in order, without overlap.
    struct Edit
    {
        int from;
        int to;
        QByteArray replacement;
    };
    void cut(int from, int to, const char *replacement = nullptr)
    {
        // A span that encloses earlier edits replaces them.
        while (!edits.isEmpty() && edits.last().from >= from)
            edits.removeLast();
        if (!edits.isEmpty() && edits.last().to > from)
            return;    // inside a span already cut
        edits.append(Edit{ from, to, replacement ? QByteArray(replacement) : QByteArray() });
        cursor = to;
        changed = true;
    }

    Token next();
    Token peek()
    {
        const int saved = pos;
        Token token = next();
        pos = saved;
        return token;
    }
    QByteArray word(const Token &token) const { return QByteArray(data + token.begin, token.end - token.begin); }
    bool is(const Token &token, const char *literal) const
    {
        const int n = int(strlen(literal));
        return token.kind == Id && token.end - token.begin == n
               && memcmp(data + token.begin, literal, size_t(n)) == 0;
    }
    int skipBalanced(int openPos);
    bool enter()
    {
        if (++depth > maxNesting) {
            tooDeep = true;
            pos = size;
        }
        return !tooDeep;
    }
    void leave() { depth--; }

    TypePtr lookupType(const QByteArray &name);
    FieldKind fieldKind(const NodeType *type, const QByteArray &field);
    bool hasEvent(const NodeType *type, const QByteArray &name, const QSet<QByteArray> &declared);

    enum Place { TopLevel, InList, SingleNode, SingleInList, Bare };
    int statements(bool inProtoBody);
    bool statement(bool inProtoBody);
    bool nodeStatement(Place place);
    void node(int start, const QByteArray &defName, Place place);
    void nodeBody(const NodeType *type);
    bool fieldValue(FieldKind kind, const QByteArray &field, int fieldStart);
    int skipValue();
    bool simpleValue();
    void imageValue(int valueStart);
    void dropNode(int start, Place place, const QByteArray &defName);
    void route();
    bool protoHeader(Token *keyword, QByteArray *name);
    void proto();
    void externProto();
    bool interfaceDeclarations(bool withValues, bool cutUnknown, QHash<QByteArray, FieldKind> *fields,
                               QHash<QByteArray, QByteArray> *types, QByteArray *externDeclarations,
                               QByteArray *stubDeclarations, QSet<QByteArray> *declared);
    QByteArray fieldTypeName(const NodeType *type, const QByteArray &field,
                             const QHash<QByteArray, QByteArray> &declared);
    bool isTarget(const QByteArray &name, const QByteArray &fieldType) const;
    bool resolveExtern(const QList<QByteArray> &urls, const QByteArray &name, QString *path,
                       QByteArray *protoName, NodeType *resolved);
    static const char *replacementFor(Place place)
    {
        switch (place) {
        case SingleNode: return "NULL";
        case SingleInList: return "[]";
        default: return "";
        }
    }

    QByteArray text;
    const char *data;
    const int size;
    const bool vrml2;
    const QString location;
    ReadAccount *account;
    int pos = 0;
    int cursor = 0;
    bool lastNodeKept = false;    // whether the statement just read left a node
    int depth = 0;
    bool tooDeep = false;
    QVector<Edit> edits;
    QHash<QByteArray, NameState> names;
    QList<ProtoScope> scopes;
    QSet<QByteArray> protosBeingDefined;
    QList<TypePtr> interfaces;   // the PROTOs whose bodies are being read, innermost last
};

Token Parser::next()
{
    for (;;) {
        while (pos < size && isSpace(data[pos]))
            pos++;
        if (pos < size && data[pos] == '#') {
            const void *eol = memchr(data + pos, '\n', size_t(size - pos));
            pos = eol ? int(static_cast<const char *>(eol) - data) + 1 : size;
            continue;
        }
        break;
    }
    Token token;
    token.begin = pos;
    if (pos >= size) {
        token.kind = End;
        token.end = pos;
        return token;
    }
    const unsigned char c = uchar(data[pos]);
    switch (c) {
    case '{': token.kind = LBrace; pos++; break;
    case '}': token.kind = RBrace; pos++; break;
    case '[': token.kind = LBracket; pos++; break;
    case ']': token.kind = RBracket; pos++; break;
    case '"':
        token.kind = String;
        pos++;
        while (pos < size && data[pos] != '"') {
            if (data[pos] == '\\' && pos + 1 < size)
                pos++;
            pos++;
        }
        if (pos < size)
            pos++;
        break;
    default:
        if (isIdStart(c)) {
            token.kind = Id;
            while (pos < size && isIdRest(uchar(data[pos])))
                pos++;
        } else if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.') {
            token.kind = Number;
            while (pos < size && !isSpace(data[pos]) && !strchr("[]{}\"#", data[pos]))
                pos++;
        } else {
            token.kind = Other;
            pos++;
        }
    }
    token.end = pos;
    return token;
}

// From an opening brace or bracket at openPos, the position after the one
// that closes it; strings and comments are passed over whole.
int Parser::skipBalanced(int openPos)
{
    // Most of a large file is lists of numbers passed over here; glibc's
    // strcspn finds the few bytes that matter many at a time. The text
    // ends in a NUL (QByteArray), which stops it at the end.
    int level = 0;
    int p = openPos;
    while (p < size) {
        p += int(strcspn(data + p, "\"#{}[]"));
        if (p >= size)
            break;
        const char c = data[p];
        if (c == '"') {
            p++;
            while (p < size && data[p] != '"') {
                if (data[p] == '\\')
                    p++;
                p++;
            }
            p++;
            continue;
        }
        if (c == '#') {
            const void *eol = memchr(data + p, '\n', size_t(size - p));
            p = eol ? int(static_cast<const char *>(eol) - data) + 1 : size;
            continue;
        }
        if (c == '{' || c == '[') {
            level++;
            if (depth + level > maxNesting) {
                tooDeep = true;
                return size;
            }
        } else if (--level == 0) {
            return p + 1;
        }
        p++;
    }
    return size;
}

// Shared, so that a PROTO redefined inside the body of one of its own
// instances does not take the type from under the parser.
TypePtr Parser::lookupType(const QByteArray &name)
{
    if (protosBeingDefined.contains(name))
        return TypePtr();
    for (int i = scopes.size() - 1; i >= 0; i--) {
        auto it = scopes[i].protos.constFind(name);
        if (it != scopes[i].protos.constEnd())
            return it.value();
    }
    NodeType *type = const_cast<NodeType *>(builtinType(name, vrml2));
    // Built-in types live for the run: an owner-less pointer.
    return type->known ? TypePtr(TypePtr(), type) : TypePtr();
}

FieldKind Parser::fieldKind(const NodeType *type, const QByteArray &field)
{
    if (type->proto)
        return type->protoFields.value(field, NoField);
    SoField *f = type->instance->getField(SbName(field.constData()));
    if (!f)
        return NoField;
    return kindOfFieldType(f->getTypeId());
}

bool Parser::hasEvent(const NodeType *type, const QByteArray &name, const QSet<QByteArray> &declared)
{
    if (declared.contains(name) || fieldKind(type, name) != NoField)
        return true;
    if (name.startsWith("set_") && fieldKind(type, name.mid(4)) != NoField)
        return true;
    if (name.endsWith("_changed") && fieldKind(type, name.left(name.size() - 8)) != NoField)
        return true;
    return false;
}

QByteArray Parser::result()
{
    if (edits.isEmpty())
        return text;
    bool fits = true;
    for (const Edit &edit : edits)
        fits = fits && edit.replacement.size() <= edit.to - edit.from;
    if (fits) {
        // Blanked in place, keeping line ends so that Coin's messages name
        // the right lines: a large model is not copied (the pages of a
        // copy cost more than the whole pass).
        char *bytes = text.data();
        for (const Edit &edit : edits) {
            memcpy(bytes + edit.from, edit.replacement.constData(), size_t(edit.replacement.size()));
            for (int i = edit.from + edit.replacement.size(); i < edit.to; i++)
                if (bytes[i] != '\n')
                    bytes[i] = ' ';
        }
        return text;
    }
    QByteArray out;
    out.reserve(size + 1024);
    int copied = 0;
    for (const Edit &edit : edits) {
        out.append(data + copied, edit.from - copied);
        out.append(edit.replacement);
        copied = edit.to;
    }
    out.append(data + copied, size - copied);
    return out;
}

// The type of a field or event of a node ("SFColor"), empty when unknown.
QByteArray Parser::fieldTypeName(const NodeType *type, const QByteArray &field,
                                 const QHash<QByteArray, QByteArray> &declared)
{
    if (declared.contains(field))
        return declared.value(field);
    if (type->proto)
        return type->protoTypes.value(field);
    for (const QByteArray &name : { field, field.startsWith("set_") ? field.mid(4) : QByteArray(),
                                    field.endsWith("_changed") ? field.left(field.size() - 8)
                                                               : QByteArray() }) {
        if (name.isEmpty())
            continue;
        if (SoField *f = type->instance->getField(SbName(name.constData())))
            return QByteArray(f->getTypeId().getName().getString());
    }
    return QByteArray();
}

// Whether an IS names a field of the PROTO whose body holds it, of the same
// type: Coin 4.0.0 connects IS references without looking, and crashes on
// a name the interface does not declare.
bool Parser::isTarget(const QByteArray &name, const QByteArray &fieldType) const
{
    if (interfaces.isEmpty())
        return false;
    const QHash<QByteArray, QByteArray> &types = interfaces.last()->protoTypes;
    auto it = types.constFind(name);
    return it != types.constEnd() && (fieldType.isEmpty() || it.value() == fieldType);
}

bool Parser::run(int start, const QByteArray &header)
{
    // A header that already reads as Coin wants it is no edit: a text
    // without edits reaches Coin as it is, without a copy.
    if (start != header.size() || memcmp(data, header.constData(), size_t(start)) != 0)
        cut(0, start, header.constData());
    pos = start;
    scopes.append(ProtoScope());
    topNodes = statements(false);
    if (!scopes.isEmpty()) {
        topProtos = scopes.first().protos;
    }
    return !tooDeep;
}

// Returns how many nodes the statements left in place.
int Parser::statements(bool inProtoBody)
{
    int kept = 0;
    while (!tooDeep) {
        const Token token = peek();
        if (token.kind == End)
            return kept;
        if (token.kind == RBrace && inProtoBody)
            return kept;
        lastNodeKept = false;
        const bool read = statement(inProtoBody);
        kept += lastNodeKept ? 1 : 0;
        if (!read) {
            // Text that is no statement: left out, with what it encloses.
            Token stray = next();
            int end = stray.end;
            if (stray.kind == LBrace || stray.kind == LBracket)
                end = skipBalanced(stray.begin);
            pos = end;
            cut(stray.begin, end);
            strays++;
            if (account)
                account->add(LeftOut::StrayToken, QString::fromUtf8(word(stray)).left(20));
        }
    }
    return kept;
}

static const char *const x3dStatements[] = { "PROFILE", "COMPONENT", "META", "EXPORT", "IMPORT", "UNIT", nullptr };

bool Parser::statement(bool inProtoBody)
{
    const Token token = peek();
    if (token.kind != Id)
        return false;
    if (vrml2) {
        if (is(token, "PROTO")) {
            proto();
            return true;
        }
        if (is(token, "EXTERNPROTO")) {
            externProto();
            return true;
        }
        if (is(token, "ROUTE")) {
            route();
            return true;
        }
        for (int i = 0; x3dStatements[i]; i++) {
            if (!is(token, x3dStatements[i]))
                continue;
            next();
            // Each takes names and strings up to the next statement.
            int end = token.end;
            for (;;) {
                const Token arg = peek();
                const bool keyword = arg.kind == Id
                    && (is(arg, "PROTO") || is(arg, "EXTERNPROTO") || is(arg, "ROUTE")
                        || is(arg, "DEF") || is(arg, "USE") || lookupType(word(arg)));
                bool statementWord = false;
                for (int j = 0; x3dStatements[j]; j++)
                    statementWord = statementWord || is(arg, x3dStatements[j]);
                if ((arg.kind != Id && arg.kind != String && arg.kind != Number) || keyword
                    || statementWord)
                    break;
                // A name followed by a brace is the next node, of a type we may not know.
                const Token save = next();
                if (peek().kind == LBrace) {
                    pos = save.begin;
                    break;
                }
                end = save.end;
            }
            cut(token.begin, end);
            pos = end;
            if (account)
                account->add(LeftOut::X3dStatement, QString::fromUtf8(word(token)));
            return true;
        }
    }
    (void)inProtoBody;
    return nodeStatement(TopLevel);
}

bool Parser::nodeStatement(Place place)
{
    const Token token = peek();
    if (token.kind != Id)
        return false;
    lastNodeKept = false;
    if (is(token, "NULL")) {
        next();
        if (place != SingleNode)
            cut(token.begin, token.end, replacementFor(place));
        return true;
    }
    if (is(token, "USE")) {
        next();
        const Token name = next();
        if (name.kind != Id) {
            pos = name.begin;
            cut(token.begin, token.end, replacementFor(place));
            return true;
        }
        const QByteArray ref = word(name);
        auto it = names.constFind(ref);
        // A USE of a node still being read makes a cycle that Coin follows
        // without end, and Coin 4.0.0 connects a PROTO's IS references
        // recursively through it; a USE of what was never defined or was
        // left out makes Coin refuse the file.
        if (it == names.constEnd() || it.value() != Closed) {
            cut(token.begin, name.end, replacementFor(place));
            if (account)
                account->add(LeftOut::BrokenReference, QString::fromUtf8(ref));
        } else {
            lastNodeKept = true;
        }
        return true;
    }
    if (is(token, "DEF")) {
        next();
        const Token name = next();
        if (name.kind != Id) {
            pos = name.begin;
            cut(token.begin, token.end);
            return nodeStatement(place);
        }
        const Token type = peek();
        if (type.kind != Id) {
            cut(token.begin, name.end, replacementFor(place));
            return true;
        }
        node(token.begin, word(name), place);
        return true;
    }
    node(token.begin, QByteArray(), place);
    return true;
}

void Parser::dropNode(int start, Place place, const QByteArray &defName)
{
    // The DEFs inside what is dropped go with it, and so do the USEs and
    // ROUTEs that name them later.
    if (!defName.isEmpty())
        names.insert(defName, Dropped);
    const Token brace = peek();
    int end = pos;
    if (brace.kind == LBrace) {
        end = skipBalanced(brace.begin);
        int p = brace.begin;
        const int saved = pos;
        pos = p;
        while (pos < end) {
            const Token token = next();
            if (token.kind == End || token.end > end)
                break;
            if (is(token, "DEF")) {
                const Token name = next();
                if (name.kind == Id)
                    names.insert(word(name), Dropped);
            }
        }
        pos = saved;
    }
    pos = end;
    cut(start, end, replacementFor(place));
}

void Parser::node(int start, const QByteArray &defName, Place place)
{
    const Token typeToken = next();
    const QByteArray typeName = word(typeToken);
    const TypePtr type = lookupType(typeName);
    if (peek().kind != LBrace) {
        // A name with no body: nothing Coin could read.
        if (!defName.isEmpty())
            names.insert(defName, Dropped);
        cut(start, typeToken.end, replacementFor(place));
        if (account)
            account->add(LeftOut::UnknownNode, QString::fromUtf8(typeName));
        return;
    }
    if (!type) {
        if (!vrml2) {
            // VRML 1.0 describes nodes of its extensions with a fields
            // declaration, which Coin reads as an unknown node.
            const int saved = pos;
            next();
            const Token first = next();
            pos = saved;
            if (is(first, "fields")) {
                pos = skipBalanced(peek().begin);
                if (!defName.isEmpty())
                    names.insert(defName, Closed);
                return;
            }
        }
        dropNode(start, place, defName);
        if (account)
            account->add(LeftOut::UnknownNode, QString::fromUtf8(typeName));
        return;
    }
    const Token brace = next();
    (void)brace;
    if (!enter())
        return;
    if (!defName.isEmpty())
        names.insert(defName, Open);
    nodeBody(type.get());
    if (!defName.isEmpty())
        names.insert(defName, Closed);
    leave();
    lastNodeKept = true;
}

void Parser::nodeBody(const NodeType *type)
{
    QSet<QByteArray> declared;
    QHash<QByteArray, QByteArray> declaredTypes;
    QSet<QByteArray> given;    // fields already given a value or an IS
    while (!tooDeep) {
        const Token token = peek();
        if (token.kind == End)
            return;
        if (token.kind == RBrace) {
            next();
            return;
        }
        if (token.kind != Id) {
            next();
            int end = token.end;
            if (token.kind == LBrace || token.kind == LBracket)
                end = skipBalanced(token.begin);
            pos = end;
            cut(token.begin, end);
            if (account)
                account->add(LeftOut::StrayToken, QString::fromUtf8(word(token)).left(20));
            continue;
        }
        if (vrml2 && (is(token, "ROUTE") || is(token, "PROTO") || is(token, "EXTERNPROTO"))) {
            statement(true);
            continue;
        }
        const QByteArray declaration = vrmlKeyword(word(token));
        if (type->script && (declaration == "eventIn" || declaration == "eventOut"
                             || declaration == "field" || declaration == "exposedField")) {
            QHash<QByteArray, FieldKind> fields;
            // One declaration at a time, in the node's own body.
            interfaceDeclarations(true, true, &fields, &declaredTypes, nullptr, nullptr, &declared);
            continue;
        }
        if (is(token, "DEF") || is(token, "USE")) {
            if (type->bareChildren || !vrml2) {
                nodeStatement(Bare);
            } else {
                const int start = token.begin;
                next();
                next();
                const Token after = peek();
                int end = pos;
                if (is(token, "DEF") && after.kind == Id) {
                    next();
                    if (peek().kind == LBrace)
                        end = skipBalanced(peek().begin);
                }
                pos = end;
                cut(start, end);
                if (account)
                    account->add(LeftOut::StrayToken, QString::fromUtf8(word(token)));
            }
            continue;
        }
        next();
        const QByteArray field = word(token);
        const Token after = peek();
        // A field given twice: Coin keeps the last value but has already
        // noted the IS references inside the first, and Coin 4.0.0 then
        // connects them to nodes no longer there. The first one stays.
        if (given.contains(field) && fieldKind(type, field) != NoField) {
            int end = after.end;
            if (is(after, "IS")) {
                next();
                end = next().end;
            } else {
                end = skipValue();
            }
            cut(token.begin, end);
            if (account)
                account->add(LeftOut::RepeatedField, QString::fromUtf8(field));
            continue;
        }
        given.insert(field);
        if (is(after, "IS")) {
            next();
            const Token target = next();
            if (!hasEvent(type, field, declared) || target.kind != Id
                || !isTarget(word(target), fieldTypeName(type, field, declaredTypes))) {
                cut(token.begin, target.kind == Id ? target.end : after.end);
                if (account)
                    account->add(LeftOut::UnknownField, QString::fromUtf8(field));
            }
            continue;
        }
        FieldKind kind = fieldKind(type, field);
        if (type->script && declared.contains(field))
            kind = ValueField;
        if (kind == NoField) {
            if ((type->bareChildren || !vrml2) && after.kind == LBrace) {
                pos = token.begin;
                nodeStatement(Bare);
                continue;
            }
            const int end = skipValue();
            cut(token.begin, end);
            if (account)
                account->add(LeftOut::UnknownField, QString::fromUtf8(field));
            continue;
        }
        if (!fieldValue(kind, field, token.begin)) {
            const int end = skipValue();
            cut(token.begin, end);
            if (account)
                account->add(LeftOut::UnusableFieldValue, QString::fromUtf8(field));
        }
    }
}

// Passes over the value after a field name whose type is not known: a list,
// numbers and strings, a word, or a node. Returns where it ends.
int Parser::skipValue()
{
    const Token token = peek();
    switch (token.kind) {
    case LBracket:
    case LBrace:
        pos = skipBalanced(token.begin);
        return pos;
    case Number:
    case String: {
        int end = token.end;
        for (;;) {
            const Token t = peek();
            if (t.kind != Number && t.kind != String)
                break;
            next();
            end = t.end;
        }
        return end;
    }
    case Id: {
        next();
        if (is(token, "TRUE") || is(token, "FALSE") || is(token, "NULL"))
            return token.end;
        if (is(token, "USE")) {
            const Token name = next();
            return name.kind == Id ? name.end : token.end;
        }
        if (is(token, "DEF")) {
            next();
            next();
        }
        const Token brace = peek();
        if (brace.kind == LBrace) {
            pos = skipBalanced(brace.begin);
            return pos;
        }
        // A word alone: an enumerated value.
        return token.end;
    }
    default:
        return pos;
    }
}

// Numbers, strings and truth values, or a list of them.
bool Parser::simpleValue()
{
    const Token token = peek();
    if (token.kind == LBracket) {
        pos = skipBalanced(token.begin);
        return true;
    }
    if (is(token, "TRUE") || is(token, "FALSE")) {
        next();
        return true;
    }
    if (token.kind != Number && token.kind != String)
        return false;
    for (;;) {
        const Token t = peek();
        if (t.kind != Number && t.kind != String)
            return true;
        next();
    }
}

// An SFImage holds width, height and components, then one number a pixel.
// Coin 4.0.0 allocates what the first three claim before it reads a single
// pixel, so a claim the data does not back is replaced by an empty image.
void Parser::imageValue(int valueStart)
{
    QList<long long> numbers;
    int end = valueStart;
    bool bad = false;
    for (;;) {
        const Token t = peek();
        if (t.kind != Number)
            break;
        next();
        end = t.end;
        if (numbers.size() < 3) {
            char *stop = nullptr;
            const QByteArray w = word(t);
            numbers.append(strtoll(w.constData(), &stop, 0));
        } else {
            numbers.append(0);
        }
    }
    if (numbers.size() < 3) {
        bad = true;
    } else {
        const long long w = numbers[0], h = numbers[1], c = numbers[2];
        if (w < 0 || h < 0 || c < 0 || c > 4 || w > 65536 || h > 65536
            || w * h != numbers.size() - 3)
            bad = true;
    }
    if (bad) {
        cut(valueStart, end, " 0 0 0");
        if (account)
            account->add(LeftOut::UnusableImage);
    }
}

bool Parser::fieldValue(FieldKind kind, const QByteArray &field, int fieldStart)
{
    (void)field;
    (void)fieldStart;
    const Token token = peek();
    switch (kind) {
    case ValueField:
        return simpleValue();
    case WordField:
        if (token.kind == LBracket) {
            pos = skipBalanced(token.begin);
            return true;
        }
        if (token.kind == Id) {
            next();
            // A bit mask may be written (A | B), split over several words.
            if (data[token.begin] == '(') {
                while (data[pos - 1] != ')') {
                    const Token t = next();
                    if (t.kind == End || t.kind == RBrace)
                        return false;
                }
            }
            return true;
        }
        return token.kind == Number;
    case ImageField:
        if (token.kind != Number)
            return false;
        imageValue(token.begin);
        return true;
    case SFNodeField:
        if (token.kind != Id || is(token, "TRUE") || is(token, "FALSE"))
            return false;
        return nodeStatement(SingleNode);
    case MFNodeField:
        if (token.kind == LBracket) {
            next();
            if (!enter())
                return true;
            while (!tooDeep) {
                const Token t = peek();
                if (t.kind == RBracket) {
                    next();
                    break;
                }
                if (t.kind == End)
                    break;
                if (is(t, "ROUTE") || is(t, "PROTO") || is(t, "EXTERNPROTO")) {
                    statement(true);
                    continue;
                }
                if (!nodeStatement(InList)) {
                    next();
                    int end = t.end;
                    if (t.kind == LBrace || t.kind == LBracket)
                        end = skipBalanced(t.begin);
                    pos = end;
                    cut(t.begin, end);
                    if (account)
                        account->add(LeftOut::StrayToken, QString::fromUtf8(word(t)).left(20));
                }
            }
            leave();
            return true;
        }
        if (token.kind != Id || is(token, "TRUE") || is(token, "FALSE"))
            return false;
        return nodeStatement(SingleInList);
    case NoField:
        break;
    }
    return false;
}

void Parser::route()
{
    const Token keyword = next();
    const Token from = next();
    const Token to = next();
    const Token target = next();
    if (from.kind != Id || !is(to, "TO") || target.kind != Id) {
        pos = keyword.end;
        cut(keyword.begin, keyword.end);
        if (account)
            account->add(LeftOut::Route);
        return;
    }
    const QByteArray fromNode = word(from).split('.').value(0);
    const QByteArray toNode = word(target).split('.').value(0);
    // A route from or to a node still being read, inside its own body:
    // Coin 4.0.0 crashes connecting it when the other end is a PROTO.
    const NameState fromState = names.value(fromNode, Dropped);
    const NameState toState = names.value(toNode, Dropped);
    if (fromState != Closed || toState != Closed) {
        cut(keyword.begin, target.end);
        if (account)
            account->add(LeftOut::Route, QString::fromUtf8(fromState != Closed ? fromNode : toNode));
    }
}

static const char *defaultValueOf(const QByteArray &type)
{
    if (type.startsWith("MF"))
        return "[]";
    static const struct { const char *type; const char *value; } defaults[] = {
        { "SFBool", "FALSE" }, { "SFColor", "0 0 0" }, { "SFFloat", "0" },
        { "SFImage", "0 0 0" }, { "SFInt32", "0" }, { "SFNode", "NULL" },
        { "SFRotation", "0 0 1 0" }, { "SFString", "\"\"" }, { "SFTime", "0" },
        { "SFVec2f", "0 0" }, { "SFVec3f", "0 0 0" }, { "SFDouble", "0" },
        { "SFVec3d", "0 0 0" }, { "SFColorRGBA", "0 0 0 0" }, { nullptr, nullptr } };
    for (int i = 0; defaults[i].type; i++)
        if (type == defaults[i].type)
            return defaults[i].value;
    return nullptr;
}

// Reads the declarations of a PROTO, EXTERNPROTO or Script up to and with
// the closing bracket (or, for a Script, one declaration). Declarations of
// types Coin does not know are cut. Returns false at a malformed list.
bool Parser::interfaceDeclarations(bool withValues, bool cutUnknown,
                                   QHash<QByteArray, FieldKind> *fields,
                                   QHash<QByteArray, QByteArray> *types,
                                   QByteArray *externDeclarations, QByteArray *stubDeclarations,
                                   QSet<QByteArray> *declared)
{
    const bool single = declared != nullptr;
    while (!tooDeep) {
        const Token keyword = peek();
        if (!single && keyword.kind == RBracket) {
            next();
            return true;
        }
        if (keyword.kind == End)
            return false;
        const QByteArray declKind = vrmlKeyword(word(keyword));
        const bool event = declKind == "eventIn" || declKind == "eventOut";
        const bool valued = declKind == "field" || declKind == "exposedField";
        if (keyword.kind == Id && declKind != word(keyword) && cutUnknown)
            cut(keyword.begin, keyword.end, declKind.constData());
        if (!event && !valued) {
            if (single)
                return true;
            // X3D's inputOnly and friends, or anything else: left out up
            // to the next declaration.
            next();
            int end = keyword.end;
            for (;;) {
                const Token t = peek();
                const QByteArray following = vrmlKeyword(word(t));
                if (t.kind == End || t.kind == RBracket || following == "eventIn"
                    || following == "eventOut" || following == "field" || following == "exposedField")
                    break;
                next();
                end = (t.kind == LBracket || t.kind == LBrace) ? (pos = skipBalanced(t.begin)) : t.end;
            }
            if (cutUnknown)
                cut(keyword.begin, end);
            if (account)
                account->add(LeftOut::UnknownField, QString::fromUtf8(word(keyword)));
            continue;
        }
        next();
        const Token typeToken = next();
        const Token nameToken = next();
        const QByteArray type = word(typeToken);
        const QByteArray name = word(nameToken);
        const bool knownType = typeToken.kind == Id && isFieldType(type);
        const FieldKind kind = knownType ? kindOfFieldType(SoType::fromName(SbName(type.constData())))
                                         : NoField;
        int end = nameToken.end;
        bool ok = knownType && nameToken.kind == Id;
        if (event && ok && is(peek(), "IS")) {
            next();
            const Token target = next();
            end = target.end;
            ok = target.kind == Id && isTarget(word(target), type);
        }
        if (valued && withValues && ok) {
            const Token value = peek();
            if (is(value, "IS")) {
                next();
                const Token target = next();
                end = target.end;
                ok = target.kind == Id && isTarget(word(target), type);
            } else if (!fieldValue(kind, name, keyword.begin)) {
                end = skipValue();
                ok = false;
            } else {
                end = pos;
            }
        } else if (valued && withValues) {
            end = skipValue();
        }
        if (!ok) {
            if (cutUnknown)
                cut(keyword.begin, std::max(end, nameToken.end));
            if (account)
                account->add(LeftOut::UnknownField, QString::fromUtf8(name));
        } else {
            fields->insert(name, kind);
            if (types)
                types->insert(name, type);
            if (declKind == "exposedField") {
                fields->insert("set_" + name, kind);
                fields->insert(name + "_changed", kind);
                if (types) {
                    types->insert("set_" + name, type);
                    types->insert(name + "_changed", type);
                }
            }
            if (declared)
                declared->insert(name);
            if (externDeclarations)
                *externDeclarations += declKind + " " + type + " " + name + "\n";
            if (stubDeclarations) {
                *stubDeclarations += declKind + " " + type + " " + name;
                if (valued) {
                    const char *value = defaultValueOf(type);
                    *stubDeclarations += QByteArray(" ") + (value ? value : "[]");
                }
                *stubDeclarations += "\n";
            }
        }
        if (single)
            return true;
    }
    return false;
}

// Reads PROTO or EXTERNPROTO and the name up to the opening bracket of the
// interface; a statement that goes wrong there is cut whole.
bool Parser::protoHeader(Token *keyword, QByteArray *name)
{
    *keyword = next();
    const Token nameToken = next();
    const Token bracket = next();
    if (nameToken.kind != Id || bracket.kind != LBracket) {
        pos = bracket.kind == LBracket ? skipBalanced(bracket.begin) : bracket.begin;
        cut(keyword->begin, pos);
        return false;
    }
    *name = word(nameToken);
    return true;
}

void Parser::proto()
{
    Token keyword;
    QByteArray name;
    if (!protoHeader(&keyword, &name))
        return;
    TypePtr type = std::make_shared<NodeType>();
    type->known = true;
    type->proto = true;
    if (!enter())
        return;
    interfaceDeclarations(true, true, &type->protoFields, &type->protoTypes, nullptr, nullptr, nullptr);
    const Token brace = next();
    if (brace.kind != LBrace) {
        leave();
        return;
    }
    // A PROTO whose body uses the PROTO itself makes Coin 4.0.0 build
    // instances without end.
    protosBeingDefined.insert(name);
    scopes.append(ProtoScope());
    interfaces.append(type);
    const int nodes = statements(true);
    interfaces.removeLast();
    scopes.removeLast();
    protosBeingDefined.remove(name);
    // Robot simulators write H-Anim's Humanoid with a body that shows only
    // its viewpoints, and draw humanoidBody themselves: a robot model
    // opened here would be empty.
    if (name == "Humanoid" && type->protoTypes.value("humanoidBody") == "MFNode"
        && !QByteArray::fromRawData(data + brace.end, pos - brace.end).contains("IS humanoidBody"))
        bodilessHumanoid = true;
    if (peek().kind == RBrace) {
        // Coin 4.0.0 makes the first thing in a body the instance, and a
        // second instance of a body that holds no node but a PROTO copies
        // that PROTO without end.
        if (nodes == 0)
            cut(peek().begin, peek().begin, "Group { } ");
        next();
    }
    leave();
    lastNodeKept = false;
    // Coin keeps the first PROTO of a name in a scope; so must what is
    // known of its fields.
    if (!scopes.last().protos.contains(name))
        scopes.last().protos.insert(name, type);
    if (scopes.size() == 1 && !topProtoNames.contains(name))
        topProtoNames.append(name);
}

void Parser::externProto()
{
    Token keyword;
    QByteArray name;
    if (!protoHeader(&keyword, &name))
        return;
    TypePtr declaredType = std::make_shared<NodeType>();
    declaredType->known = true;
    declaredType->proto = true;
    QByteArray declarations, stub;
    interfaceDeclarations(false, false, &declaredType->protoFields, &declaredType->protoTypes,
                          &declarations, &stub, nullptr);
    // The URL list: one string or a bracketed list of them.
    QList<QByteArray> urls;
    const Token first = peek();
    int urlsEnd = first.end;
    if (first.kind == String) {
        next();
        urls.append(word(first).mid(1, first.end - first.begin - 2));
    } else if (first.kind == LBracket) {
        next();
        for (;;) {
            const Token t = next();
            if (t.kind == String)
                urls.append(word(t).mid(1, t.end - t.begin - 2));
            if (t.kind == RBracket || t.kind == End || t.kind == RBrace) {
                urlsEnd = t.end;
                if (t.kind == RBrace)
                    pos = t.begin;
                break;
            }
        }
    } else {
        urlsEnd = first.begin;
        pos = first.begin;
    }

    QString path;
    QByteArray protoName;
    TypePtr resolved = std::make_shared<NodeType>();
    resolved->known = true;
    resolved->proto = true;
    if (resolveExtern(urls, name, &path, &protoName, resolved.get())) {
        // Coin tries only the first URL, and resolves it in its own way;
        // it is given the one that was found here, and only declarations
        // of types it knows.
        const QByteArray statement = "EXTERNPROTO " + name + " [\n" + declarations + "] \""
            + QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded).toUtf8() + "#" + protoName
            + "\"";
        cut(keyword.begin, urlsEnd, statement.constData());
        if (!scopes.last().protos.contains(name))
            scopes.last().protos.insert(name, resolved);
    } else {
        // Nothing to be found: the same interface with an empty body, so
        // that the rest of the scene still shows.
        const QByteArray replacement = "PROTO " + name + " [\n" + stub + "] { Group {} }";
        cut(keyword.begin, urlsEnd, replacement.constData());
        if (!scopes.last().protos.contains(name))
            scopes.last().protos.insert(name, declaredType);
        if (account)
            account->add(LeftOut::UnresolvedExternProto, QString::fromUtf8(name));
    }
    if (scopes.size() == 1 && !topProtoNames.contains(name))
        topProtoNames.append(name);
    lastNodeKept = false;
}

bool Parser::resolveExtern(const QList<QByteArray> &urls, const QByteArray &name, QString *path,
                           QByteArray *protoName, NodeType *resolved)
{
    for (const QByteArray &entry : urls) {
        const int hash = entry.indexOf('#');
        const QByteArray filePart = hash >= 0 ? entry.left(hash) : entry;
        const QByteArray wanted = hash >= 0 ? entry.mid(hash + 1) : QByteArray();
        if (filePart.isEmpty() || filePart.startsWith("urn:"))
            continue;
        const QUrl url(QString::fromUtf8(filePart));
        QString candidate;
        if (url.scheme() == QLatin1String("file")) {
            candidate = url.toLocalFile();
        } else if (url.scheme().size() > 1) {
            continue;    // a network address: no file is fetched while a scene is read
        } else {
            const QString relative = QUrl::fromPercentEncoding(filePart);
            if (QDir::isAbsolutePath(relative))
                candidate = relative;
            else if (!location.isEmpty())
                candidate = QFileInfo(location).absoluteDir().filePath(relative);
            else
                continue;
        }
        candidate = QFileInfo(candidate).absoluteFilePath();
        QStringList &inProgress = filesInProgress();
        if (inProgress.contains(candidate) || inProgress.size() >= maxProtoDepth)
            continue;
        QByteArray bytes;
        if (!loadFileBytes(candidate, &bytes, nullptr))
            continue;
        inProgress.append(candidate);
        QByteArray cleaned;
        ReadAccount inner;
        // The file is parsed again here for its PROTOs and their fields.
        QList<QByteArray> protoNames;
        QHash<QByteArray, TypePtr> protos;
        const bool ok = cleanWithProtos(std::move(bytes), candidate, &cleaned, &inner, &protoNames,
                                        &protos);
        inProgress.removeLast();
        if (!ok || protoNames.isEmpty())
            continue;
        QByteArray chosen;
        if (!wanted.isEmpty() && protos.contains(wanted))
            chosen = wanted;
        else if (wanted.isEmpty() && protos.contains(name))
            chosen = name;
        else if (wanted.isEmpty())
            chosen = protoNames.first();
        if (chosen.isEmpty())
            continue;
        resolvedFiles().insert(candidate, cleaned);
        *path = candidate;
        *protoName = chosen;
        resolved->protoFields = protos.value(chosen)->protoFields;
        resolved->protoTypes = protos.value(chosen)->protoTypes;
        if (account)
            account->merge(inner);
        return true;
    }
    return false;
}

// VRML 1.0 writers often end a string with a backslash: "C:\models\" then
// the line ends. Coin reads \" as a quote inside the string and the rest of
// the file as its text; the string ends there instead, without the
// backslash.
QByteArray mendVrml1Strings(const QByteArray &text, bool *changed)
{
    QByteArray out;
    const char *data = text.constData();
    const int size = text.size();
    int copied = 0;
    int p = 0;
    while (p < size) {
        const char c = data[p];
        if (c == '#') {
            const void *eol = memchr(data + p, '\n', size_t(size - p));
            p = eol ? int(static_cast<const char *>(eol) - data) + 1 : size;
            continue;
        }
        if (c != '"') {
            p++;
            continue;
        }
        p++;
        while (p < size && data[p] != '"') {
            if (data[p] == '\\' && p + 1 < size) {
                if (data[p + 1] == '"') {
                    int q = p + 2;
                    while (q < size && (data[q] == ' ' || data[q] == '\t' || data[q] == '\r'))
                        q++;
                    if (q >= size || data[q] == '\n') {
                        // Coin reads \\ as two backslashes and \" as a
                        // quote, so the backslash cannot be kept.
                        out.append(data + copied, p - copied);
                        out.append('"');
                        copied = p + 2;
                        p = p + 1;    // the quote closes the string
                        *changed = true;
                        break;
                    }
                }
                p++;
            }
            p++;
        }
        p++;
    }
    if (!*changed)
        return text;
    out.append(data + copied, size - copied);
    return out;
}

// Gives the first children list of each Humanoid PROTO's body the
// humanoidBody, as the simulators that wrote it show it.
void drawHumanoidBody(QByteArray *text)
{
    static const QRegularExpression children("PROTO\\s+Humanoid\\s*\\[.*?\\]\\s*\\{[^{]*\\{[^\\[]*?children\\s*\\[",
                                              QRegularExpression::DotMatchesEverythingOption);
    int from = 0;
    for (;;) {
        const QRegularExpressionMatch match = children.match(QString::fromLatin1(*text), from);
        if (!match.hasMatch())
            return;
        const QByteArray body(" Group { children IS humanoidBody } ");
        text->insert(match.capturedEnd(), body);
        from = match.capturedEnd() + body.size();
    }
}

bool cleanWithProtos(QByteArray text, const QString &location, QByteArray *output,
                     ReadAccount *account, QList<QByteArray> *protoNames,
                     QHash<QByteArray, TypePtr> *protos, const char *assumedHeader, bool headerless)
{
    int start = 0;
    if (text.startsWith("\xEF\xBB\xBF"))
        start = 3;
    int eol = text.indexOf('\n', start);
    if (eol < 0)
        eol = text.size();
    const QByteArray firstLine = text.mid(start, eol - start).trimmed();
    if (firstLine.startsWith("#Inventor")) {
        *output = start ? text.mid(start) : text;
        return true;
    }
    bool vrml2;
    QByteArray header;
    // X3D's classic encoding is VRML 97's syntax under other headers.
    if (firstLine.startsWith("#VRML V2.0") || firstLine.startsWith("#VRML V3")
        || firstLine.startsWith("#X3D")) {
        vrml2 = true;
        header = "#VRML V2.0 utf8";
    } else if (firstLine.startsWith("#VRML V1.0")) {
        vrml2 = false;
        header = "#VRML V1.0 ascii";
    } else if (assumedHeader && !firstLine.startsWith("#VRML") && !firstLine.startsWith("#X3D")) {
        // A part written to be inlined, without a header of its own (a
        // robot simulator ships its arms so): read as the file naming it
        // is, if that finds a scene in it and nothing but a scene.
        QByteArray withHeader = QByteArray(assumedHeader) + '\n';
        withHeader.append(text.constData() + start, text.size() - start);
        return cleanWithProtos(std::move(withHeader), location, output, account, protoNames,
                               protos, nullptr, true);
    } else {
        return false;    // no scene: an HTML page, an image, a text
    }
    if (!vrml2) {
        bool changed = false;
        text = mendVrml1Strings(text, &changed);
    }
    ReadAccount own;
    Parser parser(std::move(text), vrml2, location, account ? &own : nullptr);
    if (!parser.run(eol, header) || (headerless && (parser.topNodes == 0 || parser.strays > 0)))
        return false;
    if (account)
        account->merge(own);
    *output = parser.result();
    if (parser.bodilessHumanoid)
        drawHumanoidBody(output);
    if (protoNames)
        *protoNames = parser.topProtoNames;
    if (protos)
        *protos = parser.topProtos;
    return true;
}

} // namespace

bool clean(QByteArray input, const QString &location, QByteArray *output, ReadAccount *account,
           const char *assumedHeader)
{
    return cleanWithProtos(std::move(input), location, output, account, nullptr, nullptr,
                           assumedHeader);
}

// --- EXTERNPROTO fetch hook ---------------------------------------------------

static SoProto *fetchExternProto(SoInput *, const SbString *urls, const int count, void *)
{
    if (count < 1)
        return nullptr;
    const QString entry = QString::fromUtf8(urls[0].getString());
    const int hash = entry.lastIndexOf('#');
    const QString path = QUrl(entry.left(hash)).toLocalFile();
    const QByteArray name = hash >= 0 ? entry.mid(hash + 1).toUtf8() : QByteArray();
    auto it = resolvedFiles().constFind(QFileInfo(path).absoluteFilePath());
    if (it == resolvedFiles().constEnd())
        return nullptr;
    // The buffer stays in the table for as long as Coin may read from it.
    const QByteArray &text = it.value();
    SoInput in;
    in.setBuffer(text.constData(), size_t(text.size()));
    const QByteArray directory = QFile::encodeName(QFileInfo(path).absolutePath());
    SoInput::addDirectoryFirst(directory.constData());
    SoSeparator *root = SoDB::readAll(&in);
    SoInput::removeDirectory(directory.constData());
    if (!root)
        return nullptr;
    root->ref();
    SoSearchAction search;
    search.setType(SoProto::getClassTypeId());
    search.setSearchingAll(TRUE);
    search.setInterest(SoSearchAction::ALL);
    search.apply(root);
    SoProto *found = nullptr;
    const SoPathList &paths = search.getPaths();
    for (int i = 0; i < paths.getLength() && !found; i++) {
        SoProto *proto = static_cast<SoProto *>(paths[i]->getTail());
        if (name.isEmpty() || proto->getProtoName() == SbName(name.constData()))
            found = proto;
    }
    search.reset();
    if (found)
        found->ref();
    root->unref();
    if (found)
        found->unrefNoDelete();
    return found;
}

void installExternProtoHook()
{
    SoProto::setFetchExternProtoCallback(fetchExternProto, nullptr);
}

} // namespace tolerant

namespace tolerant {

// Exporters write a failed division as "nan" or "-inf" (a robot model's
// normals, say), which Coin refuses with the whole file. Only a text Coin
// has refused is walked for them.
int mendNonFinite(QByteArray *text)
{
    int mended = 0;
    QByteArray out;
    out.reserve(text->size());
    const char *p = text->constData();
    const char *const end = p + text->size();
    auto isDelimiter = [](char c) { return isspace(uchar(c)) || strchr("[]{},\"#", c); };
    while (p < end) {
        if (*p == '#') {
            const char *eol = static_cast<const char *>(memchr(p, '\n', size_t(end - p)));
            const char *stop = eol ? eol : end;
            out.append(p, int(stop - p));
            p = stop;
        } else if (*p == '"') {
            const char *q = p + 1;
            while (q < end && *q != '"')
                q += (*q == '\\' && q + 1 < end) ? 2 : 1;
            q = q < end ? q + 1 : end;
            out.append(p, int(q - p));
            p = q;
        } else if (isDelimiter(*p)) {
            out.append(*p++);
        } else {
            const char *q = p;
            while (q < end && !isDelimiter(*q))
                q++;
            QByteArray word = QByteArray::fromRawData(p, int(q - p)).toLower();
            if (word.startsWith('-') || word.startsWith('+'))
                word = word.mid(1);
            if (word == "nan" || word == "inf" || word == "infinity") {
                out.append('0');
                mended++;
            } else {
                out.append(p, int(q - p));
            }
            p = q;
        }
    }
    if (mended)
        *text = out;
    return mended;
}

} // namespace tolerant
