// Writing the view to SGI RGB files: the single image, the grid of views
// turned about the two screen axes, and the render-area size command, all
// driven through the main window's actions and dialogs as a user would.
//
// The model is a copy of a small corpus scene (a red sphere on the right, a
// blue box on the left, a sky background) kept in a folder of its own in the
// scratch directory, since images are written next to the document. Every
// pixel comparison states its tolerance; a failed one leaves the actual image
// (and a difference image) in the directory the suite was started from.
//
// Reference images live in tests/data/render; running the suite with
// QUELVIN_UPDATE_REFERENCES=1 writes them afresh from what it renders.

#include "harness.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <Inventor/SbLinear.h>
#include <Inventor/SbViewportRegion.h>
#include <Inventor/SoSceneManager.h>
#include <Inventor/actions/SoGLRenderAction.h>
#include <Inventor/nodes/SoCallback.h>
#include <Inventor/nodes/SoCamera.h>
#include <Inventor/nodes/SoSeparator.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QUrl>
#include <QtTest>

#include <cmath>
#include <memory>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

// The render-area size every image is taken at unless a test says otherwise.
const QSize kBaseSize(400, 300);

// Colour tolerance (per channel, 0-255) and the share of pixels allowed to
// exceed it when two renderings of one view are compared: the same GL
// implementation draws both, so only edge pixels may differ a little.
constexpr int kTolerance = 12;
constexpr double kAllowedFraction = 0.003;

bool updatingReferences()
{
    return qEnvironmentVariableIntValue("QUELVIN_UPDATE_REFERENCES") == 1;
}

// What a dialog offered when it came up, before anyone answered it.
struct Offer
{
    QString title;
    QString label;
    int value;
    int minimum;
    int maximum;
    int step;
    bool operator==(const Offer &o) const
    {
        return title == o.title && label == o.label && value == o.value && minimum == o.minimum
            && maximum == o.maximum && step == o.step;
    }
};

QString describe(const Offer &o)
{
    return QString("\"%1\" / \"%2\" value %3 range %4..%5 step %6")
        .arg(o.title, o.label).arg(o.value).arg(o.minimum).arg(o.maximum).arg(o.step);
}

// Notes each integer input dialog as it is shown; the answerer fills in and
// closes it a few milliseconds later, so its offer is gone by then.
class OfferRecorder : public QObject
{
public:
    QList<Offer> offers;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (QInputDialog *dialog = qobject_cast<QInputDialog *>(watched))
                offers.append({dialog->windowTitle(), dialog->labelText(), dialog->intValue(),
                               dialog->intMinimum(), dialog->intMaximum(), dialog->intStep()});
        }
        return false;
    }
};

// The files closed after writing in one directory, in the order the kernel
// saw them closed.
class WriteWatch
{
public:
    explicit WriteWatch(const QString &directory)
    {
        fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd >= 0)
            inotify_add_watch(fd, QFile::encodeName(directory).constData(), IN_CLOSE_WRITE);
    }
    ~WriteWatch()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool isValid() const { return fd >= 0; }

    QStringList names()
    {
        QStringList list;
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof(buffer));
            if (got <= 0)
                break;
            for (ssize_t at = 0; at < got;) {
                const inotify_event *event = reinterpret_cast<const inotify_event *>(buffer + at);
                if (event->len > 0)
                    list << QFile::decodeName(event->name);
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        return list;
    }

private:
    int fd = -1;
};

struct CameraState
{
    SbVec3f position;
    SbVec3f ahead;
    SbVec3f up;
    float focalDistance = 0.0f;
};

bool sameCamera(const CameraState &a, const CameraState &b, float tolerance)
{
    return (a.position - b.position).length() <= tolerance && (a.ahead - b.ahead).length() <= tolerance
        && (a.up - b.up).length() <= tolerance
        && std::fabs(a.focalDistance - b.focalDistance) <= tolerance;
}

QString describe(const CameraState &c)
{
    return QString("at (%1, %2, %3) looking (%4, %5, %6) up (%7, %8, %9) focal %10")
        .arg(c.position[0]).arg(c.position[1]).arg(c.position[2])
        .arg(c.ahead[0]).arg(c.ahead[1]).arg(c.ahead[2])
        .arg(c.up[0]).arg(c.up[1]).arg(c.up[2]).arg(c.focalDistance);
}

// One traversal of the model by a GL render action: on screen or offscreen,
// and where the camera looked at the time.
struct Drawing
{
    bool onScreen;
    SbVec3f ahead;
};

struct DrawingLog
{
    Browser *viewer = nullptr;
    QList<Drawing> drawings;
};

void noteDrawing(void *data, SoAction *action)
{
    DrawingLog *log = static_cast<DrawingLog *>(data);
    if (!action->isOfType(SoGLRenderAction::getClassTypeId()))
        return;
    SoCamera *camera = log->viewer->getCamera();
    SbVec3f ahead;
    camera->orientation.getValue().multVec(SbVec3f(0, 0, -1), ahead);
    const bool onScreen = action == log->viewer->getGLRenderAction();
    if (!log->drawings.isEmpty() && log->drawings.last().onScreen == onScreen
        && (log->drawings.last().ahead - ahead).length() < 1e-4f)
        return;
    log->drawings.append({onScreen, ahead});
}

// Grid orders written out by hand: the outer loop turns about the vertical
// axis, the inner one about the horizontal axis.
QStringList gridOrder(const QStringList &xNames, const QStringList &yNames)
{
    QStringList names;
    for (const QString &y : yNames)
        for (const QString &x : xNames)
            names << QString("18_%1_%2.rgb").arg(x, y);
    return names;
}

// Where the red sphere and the blue box of the model are seen from the
// start view, as fractions of the image size.
const QPointF kSphereSpot(0.66, 0.50);
const QPointF kBoxSpot(0.30, 0.48);

QPoint spot(const QImage &image, QPointF at)
{
    return QPoint(int(at.x() * image.width()), int(at.y() * image.height()));
}

enum class Hue { Red, Blue };

// Share of the pixels in a square around a point that clearly have one of
// the model's two colours.
double hueShare(const QImage &image, QPoint centre, int half, Hue hue)
{
    int count = 0, total = 0;
    for (int y = centre.y() - half; y <= centre.y() + half; ++y)
        for (int x = centre.x() - half; x <= centre.x() + half; ++x) {
            if (!image.rect().contains(x, y))
                continue;
            const QColor c = image.pixelColor(x, y);
            const int main = hue == Hue::Red ? c.red() : c.blue();
            const int other = hue == Hue::Red ? qMax(c.green(), c.blue()) : qMax(c.red(), c.green());
            ++total;
            if (main > 100 && main > 3 * other)
                ++count;
        }
    return total ? double(count) / total : 0.0;
}

// Share of the pixels of two images of one size that differ by more than
// tolerance in some channel.
double differingShare(const QImage &a, const QImage &b, int tolerance)
{
    if (a.size() != b.size() || a.isNull())
        return 1.0;
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (!harness::near(a.pixelColor(x, y), b.pixelColor(x, y), tolerance))
                ++count;
    return double(count) / (a.width() * a.height());
}

struct Turn
{
    char axis;   // 'x' or 'y'
    int degrees; // the step spin box value for one press
};
using Turns = QList<Turn>;

} // namespace

Q_DECLARE_METATYPE(Turns)

class TestRender : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void renderWithoutDocument();
    void gridWithoutDocument();
    void setSizeDialogs_data();
    void setSizeDialogs();
    void singleImage();
    void singleImageShowsWhatTheViewerShows();
    void gridDialogsCancelled_data();
    void gridDialogsCancelled();
    void gridNames_data();
    void gridNames();
    void gridViewsFollowTheTurns_data();
    void gridViewsFollowTheTurns();
    void gridSidesFacingTheCamera_data();
    void gridSidesFacingTheCamera();
    void gridRedrawsTheViewForEachImage();
    void homePositionAfterGrid_data();
    void homePositionAfterGrid();
    void singleWriteFailure_data();
    void singleWriteFailure();
    void gridStopsAtFirstFailure_data();
    void gridStopsAtFirstFailure();

private:
    QAction *action(const char *name)
    {
        QAction *found = window->findChild<QAction *>(name);
        if (!found)
            qFatal("no %s in the window", name);
        return found;
    }
    template <typename T> T *widget(const char *name)
    {
        T *found = window->findChild<T *>(name);
        if (!found)
            qFatal("no %s in the window", name);
        return found;
    }

    bool loadModel(const QString &path);
    bool startView();
    bool setRenderSize(QSize size);
    QSize viewportSize() const;
    QSize renderAreaSize() const;
    CameraState camera() const;
    bool renderSingle(QImage *image);
    bool renderGrid(int nX, int nY);
    void press(const Turn &turn);
    void clearImages();
    QStringList imagesOnDisk() const;
    bool matchesReference(const QImage &image, const QString &name);
    QString failurePrefix(const QString &what) const;

    std::unique_ptr<harness::Scratch> scratch;
    harness::ModalAnswerer *answerer = nullptr;
    OfferRecorder *recorder = nullptr;
    BrowserWindow *window = nullptr;
    Browser *viewer = nullptr;
    QString modelDir;
    QString modelPath;
    QString failureDir;
    QString referenceDir;
};

// --- Fixture ----------------------------------------------------------------

void TestRender::initTestCase()
{
    qRegisterMetaType<Turns>();
    failureDir = QDir::currentPath();
    referenceDir = harness::sourceDir() + "/tests/data/render";
    scratch.reset(new harness::Scratch);
    QVERIFY(scratch->isValid());

    // The scene and the inline it names, copied so that the images land in
    // a directory this suite owns.
    modelDir = scratch->file("model");
    modelPath = modelDir + "/18.wrl";
    QVERIFY(QDir().mkpath(modelDir + "/helpers"));
    const QString corpus = harness::corpusDir() + "/freewrl/tests";
    QVERIFY(QFile::copy(corpus + "/18.wrl", modelPath));
    QVERIFY(QFile::copy(corpus + "/helpers/Simple.wrl", modelDir + "/helpers/Simple.wrl"));

    answerer = new harness::ModalAnswerer(this);
    recorder = new OfferRecorder;
    qApp->installEventFilter(recorder);

    window = new BrowserWindow(QString());
    viewer = window->viewer();
    QVERIFY(viewer);
    window->resize(900, 700);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    harness::settle(100);
}

void TestRender::cleanupTestCase()
{
    qApp->removeEventFilter(recorder);
    delete recorder;
    window->hide();
}

void TestRender::init()
{
    answerer->clear();
    recorder->offers.clear();
}

bool TestRender::loadModel(const QString &path)
{
    SoSeparator *before = Browser::loadedScene();
    QComboBox *location = widget<QComboBox>("location");
    location->lineEdit()->setText(QUrl::fromLocalFile(path).toString());
    QTest::keyClick(location->lineEdit(), Qt::Key_Return);
    harness::settle(30);
    const bool loaded = Browser::loadedScene() != before && viewer->currentFileName() == path;
    answerer->clear();
    return loaded;
}

// The model as first seen: loaded, then framed with the examiner's own
// "View All" button (the fifth in the column beside the view), which backs
// the camera off along its line of sight until everything is in view and
// makes it orbit the middle of the model. The scene's first viewpoint alone
// would not do: it leaves its position at Coin's default, the origin, which
// lies between the two shapes.
bool TestRender::startView()
{
    if (!loadModel(modelPath))
        return false;
    const QList<QPushButton *> buttons = viewer->getWidget()->findChildren<QPushButton *>();
    if (buttons.size() != 7) {
        qWarning("the examiner viewer has %d buttons", int(buttons.size()));
        return false;
    }
    QTest::mouseClick(buttons[4], Qt::LeftButton);
    harness::settle(30);
    const CameraState now = camera();
    const SbVec3f focalPoint = now.position + now.focalDistance * now.ahead;
    if ((focalPoint - Browser::centreOfScene()).length() > 1e-3f * now.focalDistance
        || now.ahead[2] > -0.9999f) {
        qWarning("View All left the camera %s", qPrintable(describe(now)));
        return false;
    }
    return true;
}

QSize TestRender::viewportSize() const
{
    const SbVec2s size = viewer->getSceneManager()->getViewportRegion().getViewportSizePixels();
    return QSize(size[0], size[1]);
}

QSize TestRender::renderAreaSize() const
{
    return viewer->getGLWidget()->size();
}

// Sets the render-area size through the window's command and waits until
// the view on screen has taken it, so later images have a stable size.
bool TestRender::setRenderSize(QSize size)
{
    if (viewportSize() == size && renderAreaSize() == size)
        return true;
    answerer->queueInt(size.width());
    answerer->queueInt(size.height());
    action("actionSet_window_size")->trigger();
    const bool taken = QTest::qWaitFor([&]() {
        return renderAreaSize() == size && viewportSize() == size;
    }, 5000);
    harness::settle(50);
    answerer->clear();
    recorder->offers.clear();
    if (!taken)
        qWarning("render area is %dx%d, viewport %dx%d, wanted %dx%d", renderAreaSize().width(),
                 renderAreaSize().height(), viewportSize().width(), viewportSize().height(),
                 size.width(), size.height());
    return taken;
}

CameraState TestRender::camera() const
{
    SoCamera *cam = viewer->getCamera();
    CameraState state;
    state.position = cam->position.getValue();
    cam->orientation.getValue().multVec(SbVec3f(0, 0, -1), state.ahead);
    cam->orientation.getValue().multVec(SbVec3f(0, 1, 0), state.up);
    state.focalDistance = cam->focalDistance.getValue();
    return state;
}

// "Render" from the menu; the image it reports having written, read back.
bool TestRender::renderSingle(QImage *image)
{
    const QString target = modelDir + "/18.rgb";
    QFile::remove(target);
    answerer->clear();
    action("actionRender")->trigger();
    harness::settle(10);
    const QList<harness::Box> expected = {{"information", "Quelvin viewer", "Image written to " + target}};
    if (answerer->boxes != expected) {
        qWarning("boxes after Render: %s", qPrintable(answerer->texts().join(" | ")));
        return false;
    }
    answerer->clear();
    *image = harness::readSgi(target);
    return !image->isNull();
}

// "Render multiple" with the two interval counts typed in; true when the
// command reported success.
bool TestRender::renderGrid(int nX, int nY)
{
    answerer->clear();
    answerer->queueInt(nX);
    answerer->queueInt(nY);
    action("actionRender_multiple")->trigger();
    harness::settle(10);
    const QList<harness::Box> expected = {
        {"input", "Render multiple images", "No. <em>x</em>-axis intervals/quadrant:"},
        {"input", "Render multiple images", "No. <em>y-axis</em> intervals/quadrant:"},
        {"information", "Quelvin viewer", "Images written successfully\n"},
    };
    const bool ok = answerer->boxes == expected;
    if (!ok)
        qWarning("boxes after Render multiple: %s", qPrintable(answerer->texts().join(" | ")));
    answerer->clear();
    return ok;
}

void TestRender::press(const Turn &turn)
{
    const char *spin = turn.axis == 'x' ? "xSpin" : "ySpin";
    const char *button = turn.axis == 'x' ? "xButton" : "yButton";
    widget<QSpinBox>(spin)->setValue(turn.degrees);
    QTest::mouseClick(widget<QPushButton>(button), Qt::LeftButton);
    // The viewer fits its clipping planes to the model when it next draws;
    // a user only reaches the Render command after that.
    harness::settle(50);
}

void TestRender::clearImages()
{
    QDir dir(modelDir);
    for (const QString &name : dir.entryList({"*.rgb"}, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString path = dir.filePath(name);
        if (QFileInfo(path).isDir())
            QDir(path).removeRecursively();
        else
            QFile::remove(path);
    }
}

QStringList TestRender::imagesOnDisk() const
{
    return QDir(modelDir).entryList({"*.rgb"}, QDir::Files, QDir::Name);
}

QString TestRender::failurePrefix(const QString &what) const
{
    QString name = what;
    name.replace(QRegularExpression("[^A-Za-z0-9_]+"), "_");
    return failureDir + "/tst_render-" + name;
}

// Compares with the stored reference image, or stores the image as the new
// reference when asked to.
bool TestRender::matchesReference(const QImage &image, const QString &name)
{
    const QString path = referenceDir + "/" + name + ".png";
    if (updatingReferences()) {
        QDir().mkpath(referenceDir);
        if (!image.save(path))
            return false;
        qWarning("wrote reference %s", qPrintable(path));
        return true;
    }
    QImage reference(path);
    if (reference.isNull()) {
        qWarning("no reference image %s", qPrintable(path));
        return false;
    }
    return harness::imagesMatch(image, reference.convertToFormat(QImage::Format_RGB32), kTolerance,
                                kAllowedFraction, failurePrefix("reference-" + name));
}

// --- Tests ------------------------------------------------------------------

// Before any document the image goes to ".rgb" next to an empty file name,
// that is in the working directory; all that matters is a clean report.
void TestRender::renderWithoutDocument()
{
    QVERIFY(viewer->currentFileName().isEmpty());
    action("actionRender")->trigger();
    harness::settle(10);
    QCOMPARE(answerer->boxes.size(), 1);
    const harness::Box box = answerer->boxes.first();
    QCOMPARE(box.kind, QString("information"));
    QCOMPARE(box.title, QString("Quelvin viewer"));
    QVERIFY2(box.text.startsWith("Image written to ") || box.text == "failed to write image\n"
                 || box.text == "Failed to render\n",
             qPrintable(box.text));
    if (box.text.startsWith("Image written to ")) {
        const QString written = box.text.mid(int(strlen("Image written to ")));
        QCOMPARE(QFileInfo(written).fileName(), QString(".rgb"));
        QVERIFY2(QFileInfo(written).isFile(), qPrintable(written));
    }
}

// The grid before any document: the names have an empty base name and the
// files land in the working directory like the single image.
void TestRender::gridWithoutDocument()
{
    QVERIFY(viewer->currentFileName().isEmpty());
    QVERIFY(renderGrid(0, 1));
    const QStringList names = QDir(scratch->path()).entryList({"_*.rgb"}, QDir::Files, QDir::Name);
    QCOMPARE(names, QStringList({"_000_000.rgb", "_000_090.rgb", "_000_180.rgb", "_000_270.rgb"}));
    for (const QString &name : names)
        QCOMPARE(harness::readSgi(scratch->file(name)).size(), viewportSize());
}

void TestRender::setSizeDialogs_data()
{
    QTest::addColumn<QList<int>>("answers"); // -1 cancels
    QTest::addColumn<QSize>("expected");     // invalid: nothing changes

    QTest::newRow("640 by 480") << QList<int>{640, 480} << QSize(640, 480);
    QTest::newRow("narrow and tall") << QList<int>{300, 500} << QSize(300, 500);
    QTest::newRow("width taken, height cancelled") << QList<int>{500, -1} << QSize();
    QTest::newRow("width cancelled") << QList<int>{-1} << QSize();
}

void TestRender::setSizeDialogs()
{
    QFETCH(QList<int>, answers);
    QFETCH(QSize, expected);
    QVERIFY(startView());
    QVERIFY(setRenderSize(kBaseSize));

    const QSize before = viewportSize();
    const QSize windowBefore = window->size();
    const QSize room = windowBefore - before;
    for (int answer : answers) {
        if (answer < 0)
            answerer->queueCancel();
        else
            answerer->queueInt(answer);
    }
    action("actionSet_window_size")->trigger();

    // The dialogs: the width offered is the current one, the height keeps
    // the aspect ratio for the width just given.
    QList<Offer> offers = {{"Window size", "Render-area width (pixels):", before.width(), 100, 2000, 10}};
    if (answers.first() >= 0)
        offers << Offer{"Window size", "Render-area height (pixels):",
                        before.height() * answers.first() / before.width(), 100, 2000, 10};
    QCOMPARE(recorder->offers.size(), offers.size());
    for (int i = 0; i < offers.size(); ++i)
        QVERIFY2(recorder->offers[i] == offers[i],
                 qPrintable(describe(recorder->offers[i]) + " instead of " + describe(offers[i])));

    if (!expected.isValid()) {
        harness::settle(100);
        QCOMPARE(viewportSize(), before);
        QCOMPARE(window->size(), windowBefore);
        QCOMPARE(renderAreaSize(), before);
        return;
    }
    // The scene manager has the new size at once, before any event; the
    // window grows or shrinks by as much as the render area.
    QCOMPARE(viewportSize(), expected);
    QVERIFY(QTest::qWaitFor([&]() { return window->size() == expected + room; }, 5000));
    QVERIFY(QTest::qWaitFor([&]() { return renderAreaSize() == expected; }, 5000));
    QCOMPARE(viewportSize(), expected);

    QImage image;
    QVERIFY(renderSingle(&image));
    QCOMPARE(image.size(), expected);
}

// The start view of the model, written by "Render": a real SGI file of the
// render area's size, showing the model against its background.
void TestRender::singleImage()
{
    QVERIFY(setRenderSize(kBaseSize));
    QVERIFY(startView());
    const CameraState before = camera();
    QImage image;
    QVERIFY(renderSingle(&image));
    QCOMPARE(image.size(), kBaseSize);
    // Only the image file was added; the command leaves the camera alone.
    QCOMPARE(imagesOnDisk(), QStringList{"18.rgb"});
    QVERIFY2(sameCamera(camera(), before, 0.0f), qPrintable(describe(camera())));

    // The sphere on the right and the box on the left, the sky in the
    // corners.
    const double red = hueShare(image, spot(image, kSphereSpot), 8, Hue::Red);
    const double blue = hueShare(image, spot(image, kBoxSpot), 5, Hue::Blue);
    if (red < 0.9 || blue < 0.9)
        image.save(failurePrefix("single-sides") + "-actual.png");
    QVERIFY2(red >= 0.9, qPrintable(QString::number(red)));
    QVERIFY2(blue >= 0.9, qPrintable(QString::number(blue)));
    const QColor model = image.pixelColor(spot(image, kSphereSpot));
    for (QPoint corner : {QPoint(1, 1), QPoint(image.width() - 2, 1), QPoint(1, image.height() - 2),
                          QPoint(image.width() - 2, image.height() - 2)})
        QVERIFY2(!harness::near(image.pixelColor(corner), model, 40),
                 qPrintable(image.pixelColor(corner).name() + " like " + model.name()));

    QVERIFY(matchesReference(image, "start-view"));
}

// The offscreen image and the on-screen view of one camera agree.
void TestRender::singleImageShowsWhatTheViewerShows()
{
    QVERIFY(setRenderSize(kBaseSize));
    QVERIFY(startView());
    press({'y', 30});
    press({'x', 20});
    QImage image;
    QVERIFY(renderSingle(&image));
    const QImage screen = harness::grabViewer(viewer);
    QCOMPARE(screen.size(), image.size());
    QVERIFY(harness::imagesMatch(image, screen, kTolerance, kAllowedFraction,
                                 failurePrefix("offscreen-vs-screen")));
    // And the turn is visible: this is not the start view.
    QVERIFY(startView());
    QImage start;
    QVERIFY(renderSingle(&start));
    QVERIFY2(differingShare(image, start, kTolerance) > 0.05,
             qPrintable(QString::number(differingShare(image, start, kTolerance))));
}

void TestRender::gridDialogsCancelled_data()
{
    QTest::addColumn<QList<int>>("answers"); // -1 cancels
    QTest::newRow("x intervals cancelled") << QList<int>{-1};
    QTest::newRow("y intervals cancelled") << QList<int>{1, -1};
}

// Cancelling either question writes nothing and keeps the home position.
void TestRender::gridDialogsCancelled()
{
    QFETCH(QList<int>, answers);
    QVERIFY(startView());
    clearImages();
    action("actionSave_home_position")->trigger();
    const CameraState home = camera();
    press({'y', 40});
    const CameraState turned = camera();
    for (int answer : answers) {
        if (answer < 0)
            answerer->queueCancel();
        else
            answerer->queueInt(answer);
    }
    action("actionRender_multiple")->trigger();
    harness::settle(10);

    const QList<Offer> offers = {
        {"Render multiple images", "No. <em>x</em>-axis intervals/quadrant:", 6, 0, 90, 1},
        {"Render multiple images", "No. <em>y-axis</em> intervals/quadrant:", 6, 0, 90, 1},
    };
    QCOMPARE(recorder->offers.size(), answers.size());
    for (int i = 0; i < answers.size(); ++i)
        QVERIFY2(recorder->offers[i] == offers[i],
                 qPrintable(describe(recorder->offers[i]) + " instead of " + describe(offers[i])));
    QCOMPARE(answerer->boxes.size(), answers.size());
    QCOMPARE(imagesOnDisk(), QStringList());
    QVERIFY2(sameCamera(camera(), turned, 1e-6f), qPrintable(describe(camera())));
    action("actionGo_to_home_position")->trigger();
    QVERIFY2(sameCamera(camera(), home, 1e-4f), qPrintable(describe(camera())));
}

void TestRender::gridNames_data()
{
    QTest::addColumn<int>("nX");
    QTest::addColumn<int>("nY");
    QTest::addColumn<QStringList>("expected"); // in the order written

    const QStringList quarterY = {"270", "000", "090", "180"};
    QTest::newRow("0 and 1") << 0 << 1 << gridOrder({"000"}, quarterY);
    QTest::newRow("2 and 1") << 2 << 1 << gridOrder({"270", "315", "000", "045", "090"}, quarterY);
    QTest::newRow("1 and 2") << 1 << 2
                             << gridOrder({"270", "000", "090"},
                                          {"225", "270", "315", "000", "045", "090", "135", "180"});
    // 90/7 degrees does not give whole numbers; names are cut, not rounded.
    const QStringList sevenths = {"270", "282", "295", "308", "321", "334", "347", "000",
                                  "012", "025", "038", "051", "064", "077", "090"};
    QTest::newRow("7 and 1") << 7 << 1 << gridOrder(sevenths, quarterY);
    // The y angles of 7 intervals run from -180 + 90/7 to 180.
    QStringList sevenY;
    for (const char *y : {"192", "205", "218", "231", "244", "257", "270", "282", "295", "308",
                          "321", "334", "347", "000", "012", "025", "038", "051", "064", "077",
                          "090", "102", "115", "128", "141", "154", "167", "180"})
        sevenY << y;
    QTest::newRow("0 and 7") << 0 << 7 << gridOrder({"000"}, sevenY);
    QTest::newRow("no y intervals") << 3 << 0 << QStringList();
    QTest::newRow("none at all") << 0 << 0 << QStringList();
}

void TestRender::gridNames()
{
    QFETCH(int, nX);
    QFETCH(int, nY);
    QFETCH(QStringList, expected);
    QVERIFY(setRenderSize(kBaseSize));
    QVERIFY(startView());
    clearImages();

    WriteWatch watch(modelDir);
    QVERIFY(watch.isValid());
    QVERIFY(renderGrid(nX, nY));
    QCOMPARE(recorder->offers.size(), 2);
    QCOMPARE(recorder->offers[0].value, 6);
    QCOMPARE(recorder->offers[1].value, 6);

    const QStringList written = watch.names();
    QCOMPARE(written, expected);
    QStringList sorted = expected;
    sorted.sort();
    QCOMPARE(imagesOnDisk(), sorted);
    QCOMPARE(written.size(), 4 * nY * (2 * nX + 1));
    for (const QString &name : written) {
        const QImage image = harness::readSgi(modelDir + "/" + name);
        QVERIFY2(image.size() == kBaseSize, qPrintable(name));
    }
    clearImages();
}

void TestRender::gridViewsFollowTheTurns_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Turns>("turns"); // button presses from the start view

    QTest::newRow("straight") << "18_000_000.rgb" << Turns{};
    QTest::newRow("quarter about y") << "18_000_090.rgb" << Turns{{'y', 90}};
    QTest::newRow("quarter back about y") << "18_000_270.rgb" << Turns{{'y', -90}};
    QTest::newRow("half about y") << "18_000_180.rgb" << Turns{{'y', 90}, {'y', 90}};
    QTest::newRow("quarter about x") << "18_090_000.rgb" << Turns{{'x', 90}};
    QTest::newRow("quarter back about x") << "18_270_000.rgb" << Turns{{'x', -90}};
    QTest::newRow("y then x") << "18_090_090.rgb" << Turns{{'y', 90}, {'x', 90}};
    QTest::newRow("back y then back x") << "18_270_270.rgb" << Turns{{'y', -90}, {'x', -90}};
    QTest::newRow("half y then x") << "18_090_180.rgb" << Turns{{'y', 180}, {'x', 90}};
}

// Each view of a 1 x 1 grid is the start view turned by the angles in its
// name: the same image as the rotation buttons give.
void TestRender::gridViewsFollowTheTurns()
{
    QFETCH(QString, name);
    QFETCH(Turns, turns);
    QVERIFY(setRenderSize(kBaseSize));
    QVERIFY(startView());
    clearImages();
    QVERIFY(renderGrid(1, 1));
    const QImage gridImage = harness::readSgi(modelDir + "/" + name);
    QCOMPARE(gridImage.size(), kBaseSize);

    action("actionGo_to_home_position")->trigger();
    for (const Turn &turn : turns)
        press(turn);
    QImage single;
    QVERIFY(renderSingle(&single));
    QVERIFY(harness::imagesMatch(gridImage, single, kTolerance, kAllowedFraction,
                                 failurePrefix("grid-" + name)));
    clearImages();
}

void TestRender::gridSidesFacingTheCamera_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reference");
    QTest::addColumn<double>("redAtCentre");
    QTest::addColumn<double>("blueAtCentre");

    // Turned a quarter about the vertical axis the right way, the box on
    // the model's left comes round to face the camera; the other way the
    // sphere on its right does and hides the box.
    QTest::newRow("box side") << "18_000_090.rgb" << "box-side" << 0.0 << 1.0;
    QTest::newRow("sphere side") << "18_000_270.rgb" << "sphere-side" << 1.0 << 0.0;
}

// Absolute checks of two grid views, independent of the rotation buttons.
void TestRender::gridSidesFacingTheCamera()
{
    QFETCH(QString, name);
    QFETCH(QString, reference);
    QFETCH(double, redAtCentre);
    QFETCH(double, blueAtCentre);
    QVERIFY(setRenderSize(kBaseSize));
    QVERIFY(startView());
    clearImages();
    QVERIFY(renderGrid(0, 1));
    const QImage image = harness::readSgi(modelDir + "/" + name);
    QCOMPARE(image.size(), kBaseSize);
    const QPoint centre(image.width() / 2, image.height() / 2);
    const double red = hueShare(image, centre, 10, Hue::Red);
    const double blue = hueShare(image, centre, 10, Hue::Blue);
    if (std::fabs(red - redAtCentre) > 0.1 || std::fabs(blue - blueAtCentre) > 0.1)
        image.save(failurePrefix("sides-" + reference) + "-actual.png");
    QVERIFY2(std::fabs(red - redAtCentre) <= 0.1, qPrintable(QString::number(red)));
    QVERIFY2(std::fabs(blue - blueAtCentre) <= 0.1, qPrintable(QString::number(blue)));
    QVERIFY(matchesReference(image, reference));
    clearImages();
}

// The view on screen follows the grid: before each image is written the
// window has shown that same view.
void TestRender::gridRedrawsTheViewForEachImage()
{
    QVERIFY(setRenderSize(kBaseSize));
    QVERIFY(startView());
    clearImages();
    harness::settle(50);

    DrawingLog log;
    log.viewer = viewer;
    SoCallback *probe = new SoCallback;
    probe->setCallback(noteDrawing, &log);
    SoSeparator *scene = Browser::loadedScene();
    scene->insertChild(probe, 0);
    const bool done = renderGrid(0, 1);
    scene->removeChild(probe);
    QVERIFY(done);

    QList<Drawing> offscreen;
    for (const Drawing &d : log.drawings)
        if (!d.onScreen)
            offscreen << d;
    QCOMPARE(offscreen.size(), 4);
    int at = 0;
    for (int image = 0; image < offscreen.size(); ++image) {
        bool shown = false;
        for (; at < log.drawings.size(); ++at) {
            const Drawing &d = log.drawings[at];
            if (!d.onScreen && (d.ahead - offscreen[image].ahead).length() < 1e-4f)
                break;
            if (d.onScreen && (d.ahead - offscreen[image].ahead).length() < 1e-4f)
                shown = true;
        }
        QVERIFY2(shown, qPrintable(QString("image %1 not shown before it was written").arg(image)));
        ++at;
    }
    clearImages();
}

void TestRender::homePositionAfterGrid_data()
{
    QTest::addColumn<int>("nX");
    QTest::addColumn<int>("nY");
    QTest::addColumn<QString>("last"); // the view the camera is left at; none: not moved

    QTest::newRow("0 and 1") << 0 << 1 << "18_000_180.rgb";
    QTest::newRow("2 and 1") << 2 << 1 << "18_090_180.rgb";
    QTest::newRow("no y intervals") << 3 << 0 << QString();
}

// The grid keeps the view it started from as the new home position, in
// place of the one saved before, even when it writes no image.
void TestRender::homePositionAfterGrid()
{
    QFETCH(int, nX);
    QFETCH(int, nY);
    QFETCH(QString, last);
    QVERIFY(setRenderSize(kBaseSize));
    QVERIFY(startView());
    clearImages();
    press({'x', 25});
    action("actionSave_home_position")->trigger();
    const CameraState saved = camera();
    press({'y', 35});
    press({'x', -10});
    const CameraState start = camera();
    QImage startImage;
    QVERIFY(renderSingle(&startImage));

    QVERIFY(renderGrid(nX, nY));
    if (last.isEmpty()) {
        QVERIFY2(sameCamera(camera(), start, 1e-6f), qPrintable(describe(camera())));
        QCOMPARE(imagesOnDisk(), QStringList{"18.rgb"});
    } else {
        // The camera stays at the last view written.
        harness::settle(50);
        QImage now;
        QVERIFY(renderSingle(&now));
        QVERIFY(harness::imagesMatch(now, harness::readSgi(modelDir + "/" + last), kTolerance,
                                     kAllowedFraction, failurePrefix("after-grid-" + last)));
    }

    action("actionGo_to_home_position")->trigger();
    QVERIFY2(sameCamera(camera(), start, 1e-4f),
             qPrintable(describe(camera()) + " instead of " + describe(start)));
    QVERIFY(!sameCamera(camera(), saved, 1e-2f));
    harness::settle(50);
    QImage home;
    QVERIFY(renderSingle(&home));
    QVERIFY(harness::imagesMatch(home, startImage, kTolerance, kAllowedFraction,
                                 failurePrefix("home-after-grid")));
    clearImages();
}

void TestRender::singleWriteFailure_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::newRow("directory with the image's name") << "directory";
    QTest::newRow("document's directory removed") << "removed";
    QTest::newRow("document's directory now a file") << "file";
}

void TestRender::singleWriteFailure()
{
    QFETCH(QString, obstacle);
    const QString otherDir = scratch->file("elsewhere");
    QDir(otherDir).removeRecursively();
    QFile::remove(otherDir);
    QVERIFY(QDir().mkpath(otherDir));
    const QString document = otherDir + "/lone.wrl";
    QVERIFY(QFile::copy(harness::corpusDir() + "/castle-demo-models/vrml_2/normals.wrl", document));
    QVERIFY(loadModel(document));

    if (obstacle == "directory") {
        QVERIFY(QDir().mkpath(otherDir + "/lone.rgb"));
    } else {
        QVERIFY(QDir(otherDir).removeRecursively());
        if (obstacle == "file") {
            QFile file(otherDir);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }
    action("actionRender")->trigger();
    harness::settle(10);
    const QList<harness::Box> expected = {{"information", "Quelvin viewer", "failed to write image\n"}};
    QCOMPARE(answerer->boxes, expected);

    QDir(otherDir).removeRecursively();
    QFile::remove(otherDir);
}

void TestRender::gridStopsAtFirstFailure_data()
{
    QTest::addColumn<int>("nX");
    QTest::addColumn<int>("nY");
    QTest::addColumn<int>("blocked"); // index in the order of writing

    for (int i = 0; i < 4; ++i)
        QTest::addRow("0 and 1, image %d in the way", i) << 0 << 1 << i;
    QTest::newRow("2 and 1, image 6 in the way") << 2 << 1 << 6;
    QTest::newRow("2 and 1, last image in the way") << 2 << 1 << 19;
}

// A directory where an image should go: the images before it are written,
// none after, no success is reported, and the camera stays at the view
// that could not be written.
void TestRender::gridStopsAtFirstFailure()
{
    QFETCH(int, nX);
    QFETCH(int, nY);
    QFETCH(int, blocked);
    QVERIFY(setRenderSize(kBaseSize));
    QVERIFY(startView());
    clearImages();

    // A complete run first, for the order and the views.
    QStringList order;
    QList<QImage> views;
    {
        WriteWatch watch(modelDir);
        QVERIFY(renderGrid(nX, nY));
        order = watch.names();
        for (const QString &name : order)
            views << harness::readSgi(modelDir + "/" + name);
    }
    QVERIFY(blocked < order.size());
    clearImages();
    QVERIFY(QDir().mkpath(modelDir + "/" + order[blocked]));
    QVERIFY(startView());

    WriteWatch watch(modelDir);
    answerer->queueInt(nX);
    answerer->queueInt(nY);
    action("actionRender_multiple")->trigger();
    harness::settle(10);
    const QList<harness::Box> expected = {
        {"input", "Render multiple images", "No. <em>x</em>-axis intervals/quadrant:"},
        {"input", "Render multiple images", "No. <em>y-axis</em> intervals/quadrant:"},
        {"information", "Quelvin viewer", "failed to write image\n"},
    };
    QCOMPARE(answerer->boxes, expected);
    QCOMPARE(watch.names(), order.mid(0, blocked));
    QStringList sorted = order.mid(0, blocked);
    sorted.sort();
    QCOMPARE(imagesOnDisk(), sorted);

    QDir(modelDir + "/" + order[blocked]).removeRecursively();
    QImage now;
    QVERIFY(renderSingle(&now));
    QVERIFY(harness::imagesMatch(now, views[blocked], kTolerance, kAllowedFraction,
                                 failurePrefix(QString("stopped-at-%1").arg(blocked))));
    clearImages();
}

QTEST_MAIN(TestRender)
#include "tst_render.moc"
