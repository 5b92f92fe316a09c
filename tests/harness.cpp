#include "harness.h"

#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QTest>
#include <QApplication>
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
#include <QRegularExpression>
#include <QSettings>
#include <QtEndian>

namespace harness {

QString sourceDir() { return QStringLiteral(QUELVIN_SOURCE_DIR); }
QString corpusDir() { return QDir::cleanPath(QStringLiteral(QUELVIN_CORPUS_DIR)); }
QString programPath() { return QStringLiteral(QUELVIN_BINARY); }

Scratch::Scratch() : previousDir(QDir::currentPath())
{
    QDir::setCurrent(dir.path());
    QDir().mkpath(file(".config"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, file(".config"));
}

Scratch::~Scratch()
{
    QDir::setCurrent(previousDir);
}

QProcessEnvironment Scratch::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", file(".config"));
    env.insert("HOME", dir.path());
    return env;
}

// --- Modal boxes -----------------------------------------------------------

ModalAnswerer::ModalAnswerer(QObject *parent) : QObject(parent), lastHandled(nullptr)
{
    connect(&timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    timer.start(5);
}

QStringList ModalAnswerer::lines() const
{
    QStringList list;
    for (const Box &box : boxes)
        list << box.kind + "/" + box.title + "/" + box.text;
    return list;
}

void ModalAnswerer::queueInt(int value) { answers.append({Answer::Int, value, QString()}); }
void ModalAnswerer::queueFile(const QString &path) { answers.append({Answer::File, 0, path}); }
void ModalAnswerer::queueCancel() { answers.append({Answer::Cancel, 0, QString()}); }

static QString kindOf(QMessageBox *box)
{
    static const QHash<int, QString> kinds{{QMessageBox::Critical, "critical"}, {QMessageBox::Warning, "warning"},
                                           {QMessageBox::Information, "information"}, {QMessageBox::Question, "question"}};
    return kinds.value(box->icon(), "about");
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
        QAbstractButton *button = box->defaultButton() ? box->defaultButton() : box->button(QMessageBox::Ok);
        button = button ? button : box->buttons().value(0);
        button ? button->click() : box->accept();
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

bool shown(QWidget *window, QSize size)
{
    if (size.isValid())
        window->resize(size);
    window->show();
    return QTest::qWaitForWindowExposed(window);
}

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

QString keepImage(const QImage &image, const QString &name)
{
    const QString dir = QString(QUELVIN_TEST_OUTPUT_DIR) + "/" + QCoreApplication::applicationName();
    QDir().mkpath(dir);
    QString file = name;
    file.replace(QRegularExpression("[^A-Za-z0-9_.-]+"), "_");
    const QString path = dir + "/" + file + ".png";
    image.save(path);
    return path;
}

bool imagesMatch(const QImage &actual, const QImage &reference, int tolerance,
                 double allowedFraction, const QString &name)
{
    bool same = actual.size() == reference.size();
    QImage diff(actual.size(), QImage::Format_RGB32);
    diff.fill(Qt::black);
    if (same) {
        int bad = 0;
        for (int y = 0; y < actual.height(); ++y) {
            for (int x = 0; x < actual.width(); ++x) {
                if (!near(actual.pixelColor(x, y), reference.pixelColor(x, y), tolerance)) {
                    ++bad;
                    diff.setPixelColor(x, y, Qt::white);
                }
            }
        }
        same = double(bad) <= allowedFraction * actual.width() * actual.height();
    }
    if (!same) {
        const QString kept = keepImage(actual, name + "-actual");
        keepImage(diff, name + "-diff");
        qWarning("image %s does not match: see %s and its -diff", qPrintable(name), qPrintable(kept));
    }
    return same;
}

bool matchesBaseline(const QImage &actual, const QString &name, int tolerance, double allowedFraction)
{
    const QString path = sourceDir() + "/tests/data/render/" + name + ".png";
    if (qEnvironmentVariableIntValue("QUELVIN_UPDATE_BASELINES"))
        return actual.save(path);
    const QImage reference = QImage(path).convertToFormat(QImage::Format_RGB32);
    return imagesMatch(actual.convertToFormat(QImage::Format_RGB32), reference, tolerance, allowedFraction, name);
}

QImage readSgi(const QString &path)
{
    const QByteArray data = readBytes(path);
    const uchar *p = reinterpret_cast<const uchar *>(data.constData());
    // Coin writes a byte a channel, verbatim (storage 0), never run-length encoded.
    if (data.size() < 512 || qFromBigEndian<quint16>(p) != 474 || p[2] != 0 || p[3] != 1)
        return QImage();
    const int width = qFromBigEndian<quint16>(p + 6), height = qFromBigEndian<quint16>(p + 8);
    const int channels = qFromBigEndian<quint16>(p + 10), plane = width * height;
    if (plane <= 0 || channels < 1 || data.size() < 512 + plane * channels)
        return QImage();
    // One plane a channel, its rows bottom to top.
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uchar *at = p + 512 + (height - 1 - y) * width + x;
            image.setPixel(x, y, qRgb(at[0], at[channels > 1 ? plane : 0], at[channels > 2 ? 2 * plane : 0]));
        }
    return image;
}

void typeLocation(BrowserWindow *window, const QString &text)
{
    QComboBox *location = window->findChild<QComboBox *>("location");
    location->lineEdit()->setText(text);
    QTest::keyClick(location, Qt::Key_Return);
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
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
