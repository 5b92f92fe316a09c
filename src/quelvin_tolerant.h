#ifndef QUELVIN_TOLERANT_H
#define QUELVIN_TOLERANT_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The kinds of thing reading a scene can leave out; each has one singular
// and one plural name for the log (leftOutName).
enum class LeftOut {
    UnknownField,
    UnknownNode,
    RepeatedField,
    UnusableFieldValue,
    UnusableImage,
    StrayToken,
    X3dStatement,
    BrokenReference,
    Route,
    UnresolvedExternProto,
    UnusableGeometryData,
    Cycle,
    WrongNodeType,
    UnusableNumber,
};

// "unknown field" for one, "unknown fields" for more.
QString leftOutName(LeftOut kind, int count);

// What reading a scene had to leave out, by kind, with the names met, so
// that the viewer log can say why a model shows less than its file holds.
class ReadAccount
{
public:
    void add(LeftOut kind, const QString &name = QString());
    void merge(const ReadAccount &other);
    bool isEmpty() const { return entries.isEmpty(); }
    void clear() { entries.clear(); }
    int count(LeftOut kind) const;
    // "left out: 3 unknown fields (metadata, transparency), 1 unknown node (OrthoViewpoint)"
    QString text() const;

private:
    struct Entry
    {
        LeftOut kind;
        int count;
        QStringList names;
    };
    QList<Entry> entries;
};

namespace tolerant {

// Nesting of braces and brackets past which a file is refused: Coin's
// recursive-descent parser overflows the stack somewhere near 10,000.
const int maxNesting = 1000;
// EXTERNPROTO files that name further EXTERNPROTO files.
const int maxProtoDepth = 16;

// Makes a VRML 97 or VRML 1.0 text that Coin 4.0.0 reads whole out of one
// that it would refuse at the first thing it does not know. Unknown fields
// and nodes, X3D statements and references to what was dropped are cut,
// EXTERNPROTOs are resolved here or replaced by empty PROTOs of the same
// interface, and the header is mended. location is the file the text came
// from (empty for a download), against which EXTERNPROTO URLs resolve.
// Returns false, with nothing usable in output, for a text that holds no
// VRML or Inventor scene or nests too deep to read safely; Inventor files
// pass through as they are. Give input by std::move where it can go: the
// text is then mended in place, without a copy.
// assumedHeader, when given, is the header a text without one is read
// under (an inlined part, read as the file naming it); such a text must
// hold nodes and nothing else.
bool clean(QByteArray input, const QString &location, QByteArray *output, ReadAccount *account,
           const char *assumedHeader = nullptr);

// The bytes of a local file, inflated when gzip-compressed; false when it
// is not a regular file or cannot be read whole.
bool loadFileBytes(const QString &path, QByteArray *bytes, QString *reason);
// Inflates gzip data; data that is not gzip comes back as it is.
bool inflateIfGzip(const QByteArray &data, QByteArray *out);

// Replaces the words "nan" and "inf" (either sign, any case) that stand
// where numbers are by 0; returns how many. For a text Coin has refused.
int mendNonFinite(QByteArray *text);

// Installs the EXTERNPROTO fetch hook that serves the files clean() has
// resolved, through the same pass, never by a second lookup.
void installExternProtoHook();

} // namespace tolerant

#endif // QUELVIN_TOLERANT_H
