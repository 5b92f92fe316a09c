#include "harness.h"

#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QTest>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGLWidget>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QtEndian>

namespace harness {

QString sourceDir() { return QStringLiteral(QUELVIN_SOURCE_DIR); }
QString corpusDir() { return QDir::cleanPath(QStringLiteral(QUELVIN_CORPUS_DIR)); }
QString programPath() { return QStringLiteral(QUELVIN_BINARY); }

Scratch::Scratch() : previousDir(QDir::currentPath())
{
    QDir::setCurrent(dir.path());
    QDir().mkpath(settingsDir());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir());
}

Scratch::~Scratch()
{
    QDir::setCurrent(previousDir);
}

QString Scratch::settingsDir() const
{
    return dir.path() + "/.config";
}

QProcessEnvironment Scratch::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", settingsDir());
    env.insert("HOME", dir.path());
    return env;
}

// --- Modal boxes -----------------------------------------------------------

ModalAnswerer::ModalAnswerer(QObject *parent) : QObject(parent), lastHandled(nullptr)
{
    connect(&timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    timer.start(5);
}

ModalAnswerer::~ModalAnswerer() = default;

QStringList ModalAnswerer::texts() const
{
    QStringList list;
    for (const Box &box : boxes)
        list << box.text;
    return list;
}

void ModalAnswerer::queueInt(int value) { answers.append({Answer::Int, value, QString()}); }
void ModalAnswerer::queueFile(const QString &path) { answers.append({Answer::File, 0, path}); }
void ModalAnswerer::queueCancel() { answers.append({Answer::Cancel, 0, QString()}); }

static QString kindOf(QMessageBox *box)
{
    switch (box->icon()) {
    case QMessageBox::Critical: return "critical";
    case QMessageBox::Warning: return "warning";
    case QMessageBox::Information: return "information";
    case QMessageBox::Question: return "question";
    default: return "about";
    }
}

void ModalAnswerer::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    // A dialog is answered once; it may take a moment to go away.
    if (modal == lastHandled)
        return;
    lastHandled = modal;

    if (QMessageBox *box = qobject_cast<QMessageBox *>(modal)) {
        boxes.append({kindOf(box), box->windowTitle(), box->text()});
        QAbstractButton *button = box->defaultButton();
        if (!button)
            button = box->button(QMessageBox::Ok);
        if (!button && !box->buttons().isEmpty())
            button = box->buttons().first();
        if (button)
            button->click();
        else
            box->accept();
        return;
    }
    Answer answer{Answer::Cancel, 0, QString()};
    if (!answers.isEmpty())
        answer = answers.takeFirst();
    if (QInputDialog *input = qobject_cast<QInputDialog *>(modal)) {
        boxes.append({"input", input->windowTitle(), input->labelText()});
        if (answer.kind == Answer::Int) {
            input->setIntValue(answer.value);
            input->accept();
        } else {
            input->reject();
        }
        return;
    }
    if (QFileDialog *dialog = qobject_cast<QFileDialog *>(modal)) {
        boxes.append({"file", dialog->windowTitle(), dialog->directory().absolutePath()});
        if (answer.kind == Answer::File) {
            dialog->selectFile(answer.path);
            // QFileDialog keeps accept() protected; through QDialog it is public.
            static_cast<QDialog *>(dialog)->accept();
        } else {
            dialog->reject();
        }
        return;
    }
    if (QDialog *dialog = qobject_cast<QDialog *>(modal)) {
        boxes.append({"dialog", dialog->windowTitle(), QString()});
        dialog->reject();
    }
}

// --- Frames ----------------------------------------------------------------

QImage grabViewer(Browser *viewer)
{
    viewer->render();
    QGLWidget *gl = qobject_cast<QGLWidget *>(viewer->getGLWidget());
    if (!gl)
        return QImage();
    return gl->grabFrameBuffer().convertToFormat(QImage::Format_RGB32);
}

bool near(QColor a, QColor b, int tolerance)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

double fractionNear(const QImage &image, const QRect &rect, QColor colour, int tolerance)
{
    const QRect area = rect.intersected(image.rect());
    if (area.isEmpty())
        return 0.0;
    int hits = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (near(image.pixelColor(x, y), colour, tolerance))
                ++hits;
    return double(hits) / double(area.width() * area.height());
}

bool imagesMatch(const QImage &actual, const QImage &reference, int tolerance,
                 double allowedFraction, const QString &failurePrefix)
{
    bool same = actual.size() == reference.size();
    QImage diff(actual.size(), QImage::Format_RGB32);
    diff.fill(Qt::black);
    if (same) {
        int bad = 0;
        for (int y = 0; y < actual.height(); ++y) {
            for (int x = 0; x < actual.width(); ++x) {
                const QColor a = actual.pixelColor(x, y);
                const QColor r = reference.pixelColor(x, y);
                if (!near(a, r, tolerance)) {
                    ++bad;
                    diff.setPixelColor(x, y, Qt::white);
                }
            }
        }
        same = double(bad) <= allowedFraction * actual.width() * actual.height();
    }
    if (!same) {
        actual.save(failurePrefix + "-actual.png");
        diff.save(failurePrefix + "-diff.png");
        qWarning("image mismatch: see %s-actual.png and %s-diff.png",
                 qPrintable(failurePrefix), qPrintable(failurePrefix));
    }
    return same;
}

QImage readSgi(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QImage();
    const QByteArray data = file.readAll();
    if (data.size() < 512)
        return QImage();
    const uchar *p = reinterpret_cast<const uchar *>(data.constData());
    if (qFromBigEndian<quint16>(p) != 474)
        return QImage();
    const int storage = p[2];
    const int bpc = p[3];
    const int width = qFromBigEndian<quint16>(p + 6);
    const int height = qFromBigEndian<quint16>(p + 8);
    const int channels = qFromBigEndian<quint16>(p + 10);
    if (bpc != 1 || width <= 0 || height <= 0 || channels < 1)
        return QImage();
    QVector<QByteArray> planes(channels, QByteArray(width * height, '\0'));
    if (storage == 0) {
        if (data.size() < 512 + width * height * channels)
            return QImage();
        for (int c = 0; c < channels; ++c)
            planes[c] = data.mid(512 + c * width * height, width * height);
    } else {
        const uchar *starts = p + 512;
        const uchar *lengths = starts + 4 * height * channels;
        for (int c = 0; c < channels; ++c) {
            for (int row = 0; row < height; ++row) {
                int offset = int(qFromBigEndian<quint32>(starts + 4 * (c * height + row)));
                const int length = int(qFromBigEndian<quint32>(lengths + 4 * (c * height + row)));
                if (offset < 0 || offset + length > data.size())
                    return QImage();
                uchar *out = reinterpret_cast<uchar *>(planes[c].data()) + row * width;
                int x = 0;
                const int end = offset + length;
                while (offset < end && x <= width) {
                    const uchar control = p[offset++];
                    int count = control & 0x7f;
                    if (count == 0)
                        break;
                    if (control & 0x80) {
                        while (count-- && x < width && offset < end)
                            out[x++] = p[offset++];
                    } else {
                        const uchar value = offset < end ? p[offset++] : 0;
                        while (count-- && x < width)
                            out[x++] = value;
                    }
                }
            }
        }
    }
    // SGI rows run bottom to top.
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        const int row = height - 1 - y;
        for (int x = 0; x < width; ++x) {
            const int i = row * width + x;
            const int r = uchar(planes[0][i]);
            const int g = channels > 1 ? uchar(planes[1][i]) : r;
            const int b = channels > 2 ? uchar(planes[2][i]) : r;
            image.setPixel(x, y, qRgb(r, g, b));
        }
    }
    return image;
}

void typeLocation(BrowserWindow *window, const QString &text)
{
    QComboBox *location = window->findChild<QComboBox *>("location");
    location->lineEdit()->setText(text);
    QTest::keyClick(location, Qt::Key_Return);
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void moveHeld(QWidget *w, QPoint at)
{
    QMouseEvent e(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QSpontaneKeyEvent::setSpontaneous(&e);
    qApp->notify(w, &e);
}

void drag(QWidget *w, QPoint by)
{
    const QPoint from(w->width() / 2, w->height() / 2);
    QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, from);
    for (int i = 1; i <= 10; ++i)
        moveHeld(w, from + by * i / 10);
    QTest::qWait(300);
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, from + by);
}

void settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace harness
