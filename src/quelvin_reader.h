#ifndef QUELVIN_READER_H
#define QUELVIN_READER_H

#include "quelvin_tolerant.h"

#include <Inventor/SoInput.h>
#include <QByteArray>
#include <QString>

class SoSeparator;

// A document held in memory (a download), with the location it came from.
class DocumentInput : public SoInput
{
public:
    DocumentInput(const QByteArray &bytes, const QString &location);
    const QByteArray &bytes() const { return data; }
    const QString &location() const { return where; }

private:
    QByteArray data;
    QString where;
};

// The one road by which every scene enters the program: documents, inlines
// and anchor targets, from disk or downloaded. Each read goes through the
// tolerant pass, then Coin, then the guard walk; what had to be left out is
// added to the account of the load in progress.
namespace SceneReader {

// Tells Coin, before it first needs them, to load no node libraries that a
// file names, and the versioned names of the libraries it opens at run
// time (zlib, simage, FreeType, fontconfig), which exist without their -dev
// packages. A value the user has set is kept.
void prepareEnvironment();

// Whether a path can be read without blocking: a regular file.
bool isReadableFile(const QString &path, QString *reason = nullptr);

// assumedHeader: the header of the file naming an inlined one, under which
// a file without a header is read.
SoSeparator *readFile(const QString &path, const char *assumedHeader = nullptr);

// The headers an inline's file is read under when it has none: that of
// the VRML version whose node named it.
extern const char *const vrml2Header;
extern const char *const vrml1Header;
SoSeparator *readBuffer(const QByteArray &bytes, const QString &location);
// An input opened on a file, or a DocumentInput.
SoSeparator *readInput(SoInput *in);

// Whether an image file may be decoded: its header names a size that
// fits in memory. Read before simage is let near it.
bool isSafeImage(const QString &path);

// What the reads since the last take had to leave out.
ReadAccount takeAccount();

} // namespace SceneReader

#endif // QUELVIN_READER_H
