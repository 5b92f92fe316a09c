// Shared machinery of the test suites: a scratch working directory and
// settings store per test, an answerer for the modal boxes and dialogs a
// user would see, and frame grabs of what the viewer shows.
#ifndef QUELVIN_TEST_HARNESS_H
#define QUELVIN_TEST_HARNESS_H

#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

class BrowserWindow;
class Browser;
class QWidget;

namespace harness {

QString sourceDir();
QString corpusDir();
QString programPath();

// A fresh working directory and settings store; the process moves into it
// for as long as the object lives.
class Scratch
{
public:
    Scratch();
    ~Scratch();
    bool isValid() const { return dir.isValid(); }
    QString path() const { return dir.path(); }
    QString file(const QString &name) const { return dir.filePath(name); }
    // For the real program started with QProcess: same settings store.
    QProcessEnvironment environment() const;

private:
    QTemporaryDir dir;
    QString previousDir;
};

struct Box
{
    QString kind;    // "critical", "warning", "information", "question", "about", "input", "file"
    QString title;
    QString text;
    bool operator==(const Box &o) const { return kind == o.kind && title == o.title && text == o.text; }
};

// Watches for modal boxes and dialogs and answers them as a user would,
// keeping a record of each one. Message boxes are acknowledged with their
// default button; input and file dialogs take the next queued answer, or are
// cancelled when none is queued.
class ModalAnswerer : public QObject
{
    Q_OBJECT
public:
    explicit ModalAnswerer(QObject *parent = nullptr);

    QList<Box> boxes;
    void clear() { boxes.clear(); }
    // Each box as "kind/title/text".
    QStringList lines() const;

    void queueInt(int value);
    void queueFile(const QString &path);
    void queueCancel();

private slots:
    void poll();

private:
    struct Answer { enum Kind { Int, File, Cancel } kind; int value; QString path; };
    QList<Answer> answers;
    QTimer timer;
    // Guarded: a later dialog may be allocated where an answered one was.
    QPointer<QWidget> lastHandled;
};

// Shows a window, at size when one is given; true once it is on screen.
bool shown(QWidget *window, QSize size = QSize());

// Draws the viewer now and reads back what its window shows on screen.
QImage grabViewer(Browser *viewer);

// Fraction of the pixels in rect whose colour lies within tolerance (per
// channel, 0-255) of colour.
double fractionNear(const QImage &image, const QRect &rect, QColor colour, int tolerance);
bool near(QColor a, QColor b, int tolerance);

// Keeps an image a failing test produced in the test's output folder
// (tests/output/<suite>/ in the build tree, never /tmp); returns its path.
QString keepImage(const QImage &image, const QString &name);

// Compares two images of one size: true when no more than allowedFraction of
// the pixels differ by more than tolerance in a channel. Otherwise the
// actual and difference images are kept as <name>-actual.png and
// <name>-diff.png (keepImage).
bool imagesMatch(const QImage &actual, const QImage &reference, int tolerance,
                 double allowedFraction, const QString &name);

// The same against the reference tests/data/render/<name>.png. With
// QUELVIN_UPDATE_BASELINES=1 in the environment the reference is written
// from actual instead (review the picture before committing it).
bool matchesBaseline(const QImage &actual, const QString &name, int tolerance, double allowedFraction);

// Reads an SGI RGB image as Coin writes it.
QImage readSgi(const QString &path);

// Types text into the toolbar's location field and presses Return on the
// combo box, which holds the keyboard focus: Return sent to its line edit
// directly comes back through the combo box and opens the document twice.
void typeLocation(BrowserWindow *window, const QString &text);

QByteArray readBytes(const QString &path);
// Writes a file whole; false when it could not.
bool writeBytes(const QString &path, const QByteArray &bytes);

// A mouse move with the left button held (QTest's moves carry no button).
void moveHeld(QWidget *w, QPoint at);
// Drags across the middle of the widget by the given distance, resting
// before the release so that the model does not spin on.
void drag(QWidget *w, QPoint by);

// Processes events for at least ms milliseconds.
void settle(int ms = 50);

} // namespace harness

#endif
