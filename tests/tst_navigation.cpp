// Looking around a model: the display modes, the home position, the
// orientation read-out, the viewpoint list and the rotation controls of the
// main window, driven through its menus, toolbar, docks and view the way a
// user drives them. Expected camera placements are worked out here in double
// precision from the scene files, never by asking the program.

#include "harness.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <Inventor/SbLinear.h>
#include <Inventor/SbViewVolume.h>
#include <Inventor/SbViewportRegion.h>
#include <Inventor/VRMLnodes/SoVRMLViewpoint.h>
#include <Inventor/actions/SoGLRenderAction.h>
#include <Inventor/actions/SoGetBoundingBoxAction.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/nodes/SoCamera.h>
#include <Inventor/nodes/SoOrthographicCamera.h>
#include <Inventor/nodes/SoPerspectiveCamera.h>
#include <Inventor/nodes/SoSeparator.h>

#include <qwt_knob.h>
#include <qwt_wheel.h>

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QUrl>
#include <QtTest>

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

constexpr double kPi = 3.14159265358979323846;

double radians(double degrees) { return degrees * kPi / 180.0; }
double degrees(double radians) { return radians * 180.0 / kPi; }

// --- Plain double-precision geometry ----------------------------------------

struct Vec3
{
    double x = 0.0, y = 0.0, z = 0.0;
};

Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(double s, Vec3 v) { return {s * v.x, s * v.y, s * v.z}; }
double length(Vec3 v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }
Vec3 normalised(Vec3 v) { return (1.0 / length(v)) * v; }
Vec3 fromSb(const SbVec3f &v) { return {v[0], v[1], v[2]}; }

// A rotation acting on column vectors: v' = m v.
struct Mat3
{
    double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
};

Mat3 operator*(const Mat3 &a, const Mat3 &b)
{
    Mat3 r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            r.m[i][j] = 0.0;
            for (int k = 0; k < 3; ++k)
                r.m[i][j] += a.m[i][k] * b.m[k][j];
        }
    return r;
}

Vec3 operator*(const Mat3 &a, Vec3 v)
{
    return {a.m[0][0] * v.x + a.m[0][1] * v.y + a.m[0][2] * v.z,
            a.m[1][0] * v.x + a.m[1][1] * v.y + a.m[1][2] * v.z,
            a.m[2][0] * v.x + a.m[2][1] * v.y + a.m[2][2] * v.z};
}

// Right-handed turn by angle about axis (Rodrigues).
Mat3 turn(Vec3 axis, double angle)
{
    const Vec3 k = normalised(axis);
    const double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
    Mat3 r;
    r.m[0][0] = c + t * k.x * k.x;
    r.m[0][1] = t * k.x * k.y - s * k.z;
    r.m[0][2] = t * k.x * k.z + s * k.y;
    r.m[1][0] = t * k.y * k.x + s * k.z;
    r.m[1][1] = c + t * k.y * k.y;
    r.m[1][2] = t * k.y * k.z - s * k.x;
    r.m[2][0] = t * k.z * k.x - s * k.y;
    r.m[2][1] = t * k.z * k.y + s * k.x;
    r.m[2][2] = c + t * k.z * k.z;
    return r;
}

// The rotation a Coin quaternion stands for.
Mat3 fromSb(const SbRotation &rotation)
{
    float qx, qy, qz, qw;
    rotation.getValue(qx, qy, qz, qw);
    double x = qx, y = qy, z = qz, w = qw;
    const double n = std::sqrt(x * x + y * y + z * z + w * w);
    x /= n, y /= n, z /= n, w /= n;
    Mat3 r;
    r.m[0][0] = 1 - 2 * (y * y + z * z);
    r.m[0][1] = 2 * (x * y - z * w);
    r.m[0][2] = 2 * (x * z + y * w);
    r.m[1][0] = 2 * (x * y + z * w);
    r.m[1][1] = 1 - 2 * (x * x + z * z);
    r.m[1][2] = 2 * (y * z - x * w);
    r.m[2][0] = 2 * (x * z - y * w);
    r.m[2][1] = 2 * (y * z + x * w);
    r.m[2][2] = 1 - 2 * (x * x + y * y);
    return r;
}

const Vec3 kRight{1, 0, 0};
const Vec3 kUp{0, 1, 0};
const Vec3 kBack{0, 0, 1};
const Vec3 kAhead{0, 0, -1};

struct Placement
{
    Vec3 position;
    Mat3 orientation;
};

QString describe(const Placement &p)
{
    const Vec3 d = p.orientation * kAhead;
    const Vec3 u = p.orientation * kUp;
    return QString("at (%1, %2, %3) looking (%4, %5, %6) up (%7, %8, %9)")
        .arg(p.position.x).arg(p.position.y).arg(p.position.z)
        .arg(d.x).arg(d.y).arg(d.z).arg(u.x).arg(u.y).arg(u.z);
}

bool samePlacement(const Placement &a, const Placement &b, double tolerance)
{
    if (length(a.position - b.position) > tolerance)
        return false;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (std::fabs(a.orientation.m[i][j] - b.orientation.m[i][j]) > tolerance)
                return false;
    return true;
}

// A camera orbiting its focal point: turned by angle about one of its own
// axes, the point focal units ahead of it stays where it is.
Placement orbit(const Placement &from, double focal, Vec3 cameraAxis, double angle)
{
    const Vec3 focalPoint = from.position + focal * (from.orientation * kAhead);
    Placement to;
    to.orientation = from.orientation * turn(cameraAxis, angle);
    to.position = focalPoint - focal * (to.orientation * kAhead);
    return to;
}

// The three angles the status bar shows for a camera orientation: the
// orientation is a turn of -x about the world x axis, then -y about y, then
// -z about z.
Vec3 shownAngles(const Mat3 &r)
{
    const double sinB = -r.m[2][0];
    const double cosB = std::sqrt(std::max(0.0, 1.0 - sinB * sinB));
    double a, b, c;
    if (cosB < 0.001) {
        b = sinB > 0 ? kPi / 2 : -kPi / 2;
        c = 0.0;
        a = std::atan2(-r.m[1][2], r.m[1][1]);
    } else {
        b = std::atan2(sinB, cosB);
        a = std::atan2(r.m[2][1], r.m[2][2]);
        c = std::atan2(r.m[1][0], r.m[0][0]);
    }
    return {-degrees(a), -degrees(b), -degrees(c)};
}

const QString kDegree = QString(QChar(0x00B0));

// Splits "Orientation = x°, y°, z°" into its three numbers as written.
QStringList orientationTokens(const QString &message)
{
    static const QRegularExpression pattern(
        QString("^Orientation = (\\S+)%1, (\\S+)%1, (\\S+)%1$").arg(kDegree));
    const QRegularExpressionMatch match = pattern.match(message);
    if (!match.hasMatch())
        return {};
    return {match.captured(1), match.captured(2), match.captured(3)};
}

double angleGap(double a, double b)
{
    double d = std::fmod(std::fabs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

// --- Standard output --------------------------------------------------------

// Sends the process's standard output to a file for a while; what was
// written is handed back and also passed on to the real output.
class StdoutCapture
{
public:
    explicit StdoutCapture(const QString &path) : path(path)
    {
        fflush(stdout);
        saved = dup(STDOUT_FILENO);
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, STDOUT_FILENO);
            ::close(fd);
        }
    }
    ~StdoutCapture() { finish(); }

    QString finish()
    {
        if (saved < 0)
            return text;
        fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        ::close(saved);
        saved = -1;
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            text = QString::fromLocal8Bit(file.readAll());
        fputs(text.toLocal8Bit().constData(), stdout);
        fflush(stdout);
        return text;
    }

private:
    QString path;
    QString text;
    int saved = -1;
};

// The focal distances reported, in order; a line that starts like one but
// is not in the "%f" form makes the list come back with a NaN in its place.
QList<double> focalDistances(const QString &output)
{
    static const QRegularExpression form("^Focal distance = (-?\\d+\\.\\d{6})$");
    QList<double> values;
    for (const QString &line : output.split('\n')) {
        if (!line.startsWith("Focal distance"))
            continue;
        const QRegularExpressionMatch match = form.match(line);
        values << (match.hasMatch() ? match.captured(1).toDouble() : std::nan(""));
    }
    return values;
}

// --- Mouse ------------------------------------------------------------------

// QTest moves the real pointer for mouse moves, which carries no buttons;
// a drag needs moves that say which buttons are held.
void moveWithButtons(QWidget *widget, QPoint pos, Qt::MouseButtons buttons)
{
    QMouseEvent event(QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, buttons,
                      Qt::NoModifier);
    QSpontaneKeyEvent::setSpontaneous(&event);
    qApp->notify(widget, &event);
}

struct StoredViewpoint
{
    QString description;
    Vec3 position;
    Vec3 axis;
    double angle;

    Placement placement() const { return {position, turn(axis, angle)}; }
};

using ViewpointList = QList<StoredViewpoint>;

// cameras.wrl: a block centred on (1, 2, -3) and four placements.
const Vec3 kBlockCentre{1, 2, -3};
const ViewpointList kCameraViewpoints = {
    {"Straight on", {1, 2, 9}, {0, 0, 1}, 0.0},
    {"From the right", {11, 2, -3}, {0, 1, 0}, 1.5707964},
    {"Tilted, looking past the centre", {4, 6, 5}, {1, 1, 0}, -0.6},
    {"Inside the block", {1, 2, -3}, {0, 0, 1}, 0.0},
};

enum Axis { X, Y, Z };

Vec3 axisVector(int axis)
{
    return axis == X ? kRight : axis == Y ? kUp : kBack;
}

} // namespace

Q_DECLARE_METATYPE(ViewpointList)

class TestNavigation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void startUp();
    void checkMarks_data();
    void checkMarks();
    void wireframe();
    void transparency_data();
    void transparency();
    void screenDoorKeptAcrossLoads();
    void homePosition();
    void orientationText_data();
    void orientationText();
    void viewpointList_data();
    void viewpointList();
    void sameViewpointAgainAndGoToViewpoint();
    void animatedViewpoint();
    void buttonTurns_data();
    void buttonTurns();
    void twoQuarterTurnsAboutX();
    void buttonTurnsSeenOnScreen_data();
    void buttonTurnsSeenOnScreen();
    void stepChangeAloneMovesNothing();
    void zeroStep_data();
    void zeroStep();
    void controlDrag_data();
    void controlDrag();
    void yWheelReleaseKeepsTurn();
    void stepSpinLimits_data();
    void stepSpinLimits();

private:
    template <typename T> T *find(const char *name)
    {
        T *object = window->findChild<T *>(name);
        if (!object)
            qFatal("no %s in the window", name);
        return object;
    }
    QAction *action(const char *name) { return find<QAction>(name); }
    QString data(const QString &name) const { return dataDir + "/" + name; }

    bool loadScene(const QString &path);
    bool chooseViewpoint(int index);
    int logCount(const QString &line) const;
    void dragInView(QPoint from, QPoint to);
    Placement camera() const;
    float focalDistance() const;
    QString statusText() const { return window->statusBar()->currentMessage(); }
    QImage frame() { return harness::grabViewer(viewer); }
    QPointF toPixel(Vec3 world) const;
    bool checkOrientationShown(QString *why) const;
    void keep(const QImage &image, const QString &what) const;
    QPointF centroid(const QImage &image, QColor colour, int tolerance, int *count) const;
    QPoint dragWheelTo(QwtWheel *wheel, double target);
    QPoint dragKnobTo(QwtKnob *knob, double target);
    void setStep(int axis, int degrees);
    void press(int axis);

    std::unique_ptr<harness::Scratch> scratch;
    harness::ModalAnswerer *answerer = nullptr;
    BrowserWindow *window = nullptr;
    Browser *viewer = nullptr;
    QWidget *gl = nullptr;
    QComboBox *viewpoints = nullptr;
    QComboBox *location = nullptr;
    QString dataDir;
    QString failureDir;
};

// --- Fixture ----------------------------------------------------------------

void TestNavigation::initTestCase()
{
    qRegisterMetaType<ViewpointList>();
    failureDir = QDir::currentPath();
    dataDir = harness::sourceDir() + "/tests/data/navigation";
    scratch.reset(new harness::Scratch);
    QVERIFY(scratch->isValid());
    answerer = new harness::ModalAnswerer(this);

    window = new BrowserWindow(QString());
    viewer = window->viewer();
    QVERIFY(viewer);
    gl = viewer->getGLWidget();
    viewpoints = find<QComboBox>("viewpoints");
    location = find<QComboBox>("location");
    window->resize(1000, 760);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->activateWindow();
    harness::settle(100);
    QVERIFY(gl->width() > 300 && gl->height() > 300);
}

void TestNavigation::cleanup()
{
    for (const char *name : {"xSpin", "ySpin", "zSpin"})
        find<QSpinBox>(name)->setValue(5);
    viewer->setViewing(true);
    // Put the display commands back to their start-up choices.
    if (!action("actionBlend")->isChecked())
        action("actionBlend")->trigger();
    if (!action("actionPerspective")->isChecked())
        action("actionPerspective")->trigger();
    if (!action("actionDrawStyleDefault")->isChecked())
        action("actionDrawStyleDefault")->trigger();
}

bool TestNavigation::loadScene(const QString &path)
{
    SoSeparator *before = Browser::loadedScene();
    location->lineEdit()->setText(QUrl::fromLocalFile(path).toString());
    QTest::keyClick(location->lineEdit(), Qt::Key_Return);
    harness::settle(30);
    return Browser::loadedScene() != before && viewer->currentFileName() == path;
}

// Opens the toolbar list, walks to the entry with the keyboard and takes it
// with Return, the way that also works for the entry already shown.
bool TestNavigation::chooseViewpoint(int index)
{
    viewpoints->showPopup();
    QAbstractItemView *view = viewpoints->view();
    if (!QTest::qWaitFor([view]() { return view->isVisible(); }))
        return false;
    QTest::keyClick(view, Qt::Key_Home);
    for (int i = 0; i < index; ++i)
        QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Return);
    return QTest::qWaitFor([view]() { return !view->isVisible(); });
}

int TestNavigation::logCount(const QString &line) const
{
    QFile file(scratch->file("quelvin.log"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    int count = 0;
    for (const QByteArray &l : file.readAll().split('\n'))
        if (QString::fromUtf8(l) == line)
            ++count;
    return count;
}

// A left-button drag over the view. The pointer rests before the button
// goes up, so the examiner viewer does not set the model spinning.
void TestNavigation::dragInView(QPoint from, QPoint to)
{
    QTest::mousePress(gl, Qt::LeftButton, Qt::NoModifier, from);
    for (int i = 1; i <= 10; ++i) {
        moveWithButtons(gl, from + (to - from) * i / 10, Qt::LeftButton);
        QTest::qWait(15);
    }
    QTest::qWait(300);
    QTest::mouseRelease(gl, Qt::LeftButton, Qt::NoModifier, to);
    harness::settle(30);
}

Placement TestNavigation::camera() const
{
    SoCamera *cam = viewer->getCamera();
    return {fromSb(cam->position.getValue()), fromSb(cam->orientation.getValue())};
}

float TestNavigation::focalDistance() const
{
    return viewer->getCamera()->focalDistance.getValue();
}

QPointF TestNavigation::toPixel(Vec3 world) const
{
    // The camera adapts itself to the shape of the viewport: the height
    // angle spans the shorter side.
    const SbViewportRegion region = viewer->getViewportRegion();
    const float aspect = region.getViewportAspectRatio();
    SbViewVolume volume = viewer->getCamera()->getViewVolume(aspect);
    if (aspect < 1.0f)
        volume.scale(1.0f / aspect);
    SbVec3f screen;
    volume.projectToScreen(SbVec3f(float(world.x), float(world.y), float(world.z)), screen);
    const SbVec2s origin = region.getViewportOriginPixels();
    const SbVec2s size = region.getViewportSizePixels();
    return QPointF(origin[0] + screen[0] * size[0], gl->height() - (origin[1] + screen[1] * size[1]));
}

// The status bar shows the orientation of the camera as it is now.
bool TestNavigation::checkOrientationShown(QString *why) const
{
    const QStringList tokens = orientationTokens(statusText());
    if (tokens.size() != 3) {
        *why = "status bar shows \"" + statusText() + "\"";
        return false;
    }
    const Vec3 expected = shownAngles(camera().orientation);
    const double want[3] = {expected.x, expected.y, expected.z};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const double shown = tokens[i].toDouble(&ok);
        if (!ok || angleGap(shown, want[i]) > 0.01) {
            *why = QString("status bar shows \"%1\", the camera is at %2, %3, %4")
                       .arg(statusText()).arg(expected.x).arg(expected.y).arg(expected.z);
            return false;
        }
    }
    return true;
}

void TestNavigation::keep(const QImage &image, const QString &what) const
{
    QString name = QString("tst_navigation-%1-%2-actual.png")
                       .arg(QTest::currentTestFunction())
                       .arg(what);
    name.replace(QRegularExpression("[^A-Za-z0-9_.-]"), "_");
    image.save(failureDir + "/" + name);
    qWarning("frame written to %s", qPrintable(failureDir + "/" + name));
}

QPointF TestNavigation::centroid(const QImage &image, QColor colour, int tolerance, int *count) const
{
    double sx = 0, sy = 0;
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (harness::near(image.pixelColor(x, y), colour, tolerance)) {
                sx += x;
                sy += y;
                ++n;
            }
    *count = n;
    return n ? QPointF(sx / n, sy / n) : QPointF(-1, -1);
}

void TestNavigation::setStep(int axis, int degrees)
{
    static const char *names[] = {"xSpin", "ySpin", "zSpin"};
    // What typing a number into the box ends in.
    find<QSpinBox>(names[axis])->setValue(degrees);
}

void TestNavigation::press(int axis)
{
    static const char *names[] = {"xButton", "yButton", "zButton"};
    QTest::mouseClick(find<QPushButton>(names[axis]), Qt::LeftButton);
}

// Presses in the middle of the wheel and drags along it a pixel at a time
// until its value has reached target; the button stays down.
QPoint TestNavigation::dragWheelTo(QwtWheel *wheel, double target)
{
    const QPoint start = wheel->rect().center();
    QTest::mousePress(wheel, Qt::LeftButton, Qt::NoModifier, start);
    const bool vertical = wheel->orientation() == Qt::Vertical;
    const int sign = target >= 0 ? 1 : -1;
    QPoint pos = start;
    for (int i = 0; i < 400; ++i) {
        if (target >= 0 ? wheel->value() >= target : wheel->value() <= target)
            break;
        pos += vertical ? QPoint(0, -sign) : QPoint(sign, 0);
        moveWithButtons(wheel, pos, Qt::LeftButton);
    }
    return pos;
}

// Grips the knob near its middle, pulls the pointer out to arm's length
// and turns it about the knob a degree at a time until the knob's value has
// reached target; the button stays down. The knob's values grow clockwise.
QPoint TestNavigation::dragKnobTo(QwtKnob *knob, double target)
{
    const QPointF centre = QRectF(knob->knobRect()).center();
    const double grip = 0.35 * knob->knobRect().width();
    const double reach = 60.0;
    double angle = 90.0;
    auto at = [&](double radius, double a) {
        return QPointF(centre.x() + radius * std::cos(radians(a)),
                       centre.y() - radius * std::sin(radians(a))).toPoint();
    };
    QPoint pos = at(grip, angle);
    QTest::mousePress(knob, Qt::LeftButton, Qt::NoModifier, pos);
    for (double r = grip + 5; r < reach; r += 5)
        moveWithButtons(knob, at(r, angle), Qt::LeftButton);
    const double step = target >= 0 ? -1.0 : 1.0;
    for (int i = 0; i < 400; ++i) {
        if (target >= 0 ? knob->value() >= target : knob->value() <= target)
            break;
        angle += step;
        pos = at(reach, angle);
        moveWithButtons(knob, pos, Qt::LeftButton);
    }
    return pos;
}

// --- Start-up ---------------------------------------------------------------

void TestNavigation::startUp()
{
    // Before any document the list holds the one start-up entry, and the
    // display commands show their start-up choices.
    QCOMPARE(viewpoints->count(), 1);
    QCOMPARE(viewpoints->itemText(0), QString("Default view"));
    QVERIFY(action("actionBlend")->isChecked());
    QVERIFY(!action("actionScreen_door")->isChecked());
    QVERIFY(action("actionPerspective")->isChecked());
    QVERIFY(!action("actionOrthographic")->isChecked());
    QVERIFY(action("actionDrawStyleDefault")->isChecked());
    QVERIFY(!action("actionDrawStyleWireframe")->isChecked());
    QVERIFY(viewer->getCamera()->isOfType(SoPerspectiveCamera::getClassTypeId()));

    // "Default view" stands for stored viewpoint 0, still at the origin
    // and unturned, measured to a scene centre at the origin.
    dragInView(QPoint(gl->width() / 2, gl->height() / 2),
               QPoint(gl->width() / 2 + 60, gl->height() / 2 + 20));
    const int logged = logCount("viewpointActivated");
    QCOMPARE(logged, 0);
    StdoutCapture capture(scratch->file("stdout-default.txt"));
    QVERIFY(chooseViewpoint(0));
    const QList<double> focal = focalDistances(capture.finish());
    QCOMPARE(focal.size(), 1);
    QCOMPARE(focal[0], 0.0);
    QVERIFY2(samePlacement(camera(), Placement{}, 1e-6), qPrintable(describe(camera())));
    QCOMPARE(logCount("viewpointActivated"), 1);
    QString why;
    QVERIFY2(checkOrientationShown(&why), qPrintable(why));

    // No transparency command has run yet; the first load sets the sorted
    // blend on the render action that it installs.
    QVERIFY(loadScene(data("transparency.wrl")));
    QCOMPARE(viewer->getGLRenderAction()->getTransparencyType(),
             SoGLRenderAction::SORTED_OBJECT_SORTED_TRIANGLE_BLEND);
}

// --- Display modes ----------------------------------------------------------

enum Mode { Transparency, CameraType, DrawStyle };

void TestNavigation::checkMarks_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("partner");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("entryValue");
    QTest::addColumn<int>("partnerValue");

    QTest::newRow("screen-door") << "actionScreen_door" << "actionBlend" << int(Transparency)
                                 << int(SoGLRenderAction::SCREEN_DOOR)
                                 << int(SoGLRenderAction::SORTED_OBJECT_SORTED_TRIANGLE_BLEND);
    QTest::newRow("blend") << "actionBlend" << "actionScreen_door" << int(Transparency)
                           << int(SoGLRenderAction::SORTED_OBJECT_SORTED_TRIANGLE_BLEND)
                           << int(SoGLRenderAction::SCREEN_DOOR);
    QTest::newRow("orthographic") << "actionOrthographic" << "actionPerspective" << int(CameraType)
                                  << 1 << 0;
    QTest::newRow("perspective") << "actionPerspective" << "actionOrthographic" << int(CameraType)
                                 << 0 << 1;
    QTest::newRow("wireframe") << "actionDrawStyleWireframe" << "actionDrawStyleDefault"
                               << int(DrawStyle) << int(SoQtViewer::VIEW_LINE)
                               << int(SoQtViewer::VIEW_AS_IS);
    QTest::newRow("as is") << "actionDrawStyleDefault" << "actionDrawStyleWireframe"
                           << int(DrawStyle) << int(SoQtViewer::VIEW_AS_IS)
                           << int(SoQtViewer::VIEW_LINE);
}

void TestNavigation::checkMarks()
{
    QFETCH(QString, entry);
    QFETCH(QString, partner);
    QFETCH(int, mode);
    QFETCH(int, entryValue);
    QFETCH(int, partnerValue);

    QVERIFY(loadScene(data("cameras.wrl")));
    QAction *chosen = action(qPrintable(entry));
    QAction *other = action(qPrintable(partner));

    auto current = [&]() -> int {
        switch (mode) {
        case Transparency:
            return int(viewer->getGLRenderAction()->getTransparencyType());
        case CameraType: {
            const bool ortho = viewer->getCameraType() == SoOrthographicCamera::getClassTypeId();
            if (ortho != viewer->getCamera()->isOfType(SoOrthographicCamera::getClassTypeId()))
                return -1;
            return ortho ? 1 : 0;
        }
        default: {
            const int still = int(viewer->getDrawStyle(SoQtViewer::STILL));
            return still == int(viewer->getDrawStyle(SoQtViewer::INTERACTIVE)) ? still : -1;
        }
        }
    };

    // Start from the partner chosen.
    if (!other->isChecked())
        other->trigger();
    if (chosen->isChecked())
        chosen->trigger();
    QVERIFY(other->isChecked());
    QVERIFY(!chosen->isChecked());
    QCOMPARE(current(), partnerValue);

    chosen->trigger();
    QVERIFY(chosen->isChecked());
    QVERIFY(!other->isChecked());
    QCOMPARE(current(), entryValue);

    // Choosing it again only takes its own check mark off.
    chosen->trigger();
    QVERIFY(!chosen->isChecked());
    QVERIFY(!other->isChecked());
    QCOMPARE(current(), entryValue);

    other->trigger();
    QVERIFY(other->isChecked());
    QVERIFY(!chosen->isChecked());
    QCOMPARE(current(), partnerValue);
}

void TestNavigation::wireframe()
{
    QVERIFY(loadScene(data("transparency.wrl")));
    // A point of the red plate that the blue one does not cover and that
    // lies on no edge or diagonal of either.
    const QPoint probe = toPixel({2.25, 0.6, -1.9}).toPoint();
    const QRect spot(probe - QPoint(3, 3), QSize(7, 7));
    const QColor red(255, 0, 0), black(0, 0, 0);

    QImage image = frame();
    if (harness::fractionNear(image, spot, red, 40) < 0.95)
        keep(image, "as-is");
    QVERIFY(harness::fractionNear(image, spot, red, 40) >= 0.95);

    action("actionDrawStyleWireframe")->trigger();
    QCOMPARE(viewer->getDrawStyle(SoQtViewer::STILL), SoQtViewer::VIEW_LINE);
    QCOMPARE(viewer->getDrawStyle(SoQtViewer::INTERACTIVE), SoQtViewer::VIEW_LINE);
    image = frame();
    int redPixels = 0;
    centroid(image, red, 40, &redPixels);
    const bool hollow = harness::fractionNear(image, spot, black, 20) >= 0.95;
    // Outlines stay: the plate is drawn, only its inside is gone.
    const bool outlined = redPixels > 100 && redPixels < image.width() * image.height() / 20;
    if (!hollow || !outlined)
        keep(image, "wireframe-still");
    QVERIFY2(hollow, "the inside of the plate is still filled");
    QVERIFY2(outlined, qPrintable(QString("%1 red pixels").arg(redPixels)));

    // Still in lines while the model is being dragged.
    viewer->setViewing(true);
    const QPoint middle(gl->width() / 2, gl->height() / 2);
    QTest::mousePress(gl, Qt::LeftButton, Qt::NoModifier, middle);
    moveWithButtons(gl, middle + QPoint(1, 0), Qt::LeftButton);
    moveWithButtons(gl, middle + QPoint(2, 0), Qt::LeftButton);
    image = frame();
    QTest::qWait(300);
    QTest::mouseRelease(gl, Qt::LeftButton, Qt::NoModifier, middle + QPoint(2, 0));
    if (harness::fractionNear(image, spot, black, 20) < 0.9)
        keep(image, "wireframe-interactive");
    QVERIFY(harness::fractionNear(image, spot, black, 20) >= 0.9);

    action("actionDrawStyleDefault")->trigger();
    QVERIFY(chooseViewpoint(0));
    image = frame();
    if (harness::fractionNear(image, spot, red, 40) < 0.95)
        keep(image, "as-is-again");
    QVERIFY(harness::fractionNear(image, spot, red, 40) >= 0.95);
}

struct Stipple
{
    double mixed = 0, red = 0, blue = 0, alternating = 0;
};

// Where the half-transparent blue plate covers the red one: how much is the
// even mix, how much pure red or blue, and how often neighbours differ.
static Stipple measureOverlap(const QImage &image, QRect area)
{
    Stipple s;
    s.mixed = harness::fractionNear(image, area, QColor(127, 0, 128), 30);
    s.red = harness::fractionNear(image, area, QColor(255, 0, 0), 30);
    s.blue = harness::fractionNear(image, area, QColor(0, 0, 255), 30);
    int pairs = 0, differing = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x < area.right(); ++x) {
            const QColor a = image.pixelColor(x, y), b = image.pixelColor(x + 1, y);
            ++pairs;
            if (std::abs(a.red() - b.red()) > 100 && std::abs(a.blue() - b.blue()) > 100)
                ++differing;
        }
    s.alternating = pairs ? double(differing) / pairs : 0.0;
    return s;
}

void TestNavigation::transparency_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("stippled");
    QTest::newRow("screen-door") << "actionScreen_door" << true;
    QTest::newRow("blend") << "actionBlend" << false;
}

void TestNavigation::transparency()
{
    QFETCH(QString, command);
    QFETCH(bool, stippled);

    QVERIFY(loadScene(data("transparency.wrl")));
    // Choose the other one first, so that the command really switches.
    action(stippled ? "actionBlend" : "actionScreen_door")->trigger();
    action(qPrintable(command))->trigger();
    QVERIFY(action(qPrintable(command))->isChecked());

    const QPoint middle = toPixel({0, 0, 0.1}).toPoint();
    const QRect area(middle - QPoint(15, 15), QSize(31, 31));
    const QImage image = frame();
    const Stipple s = measureOverlap(image, area);
    const QString numbers = QString("mixed %1, red %2, blue %3, alternating %4")
                                .arg(s.mixed).arg(s.red).arg(s.blue).arg(s.alternating);
    const bool ok = stippled ? (s.red > 0.3 && s.blue > 0.3 && s.mixed < 0.05 && s.alternating > 0.8)
                             : (s.mixed > 0.95 && s.alternating < 0.02);
    if (!ok)
        keep(image, command);
    QVERIFY2(ok, qPrintable(numbers));
}

void TestNavigation::screenDoorKeptAcrossLoads()
{
    QVERIFY(loadScene(data("transparency.wrl")));
    action("actionScreen_door")->trigger();
    QVERIFY(action("actionScreen_door")->isChecked());

    QVERIFY(loadScene(data("cameras.wrl")));
    QCOMPARE(viewer->getGLRenderAction()->getTransparencyType(), SoGLRenderAction::SCREEN_DOOR);
    QVERIFY(loadScene(data("transparency.wrl")));
    QCOMPARE(viewer->getGLRenderAction()->getTransparencyType(), SoGLRenderAction::SCREEN_DOOR);
    QVERIFY(action("actionScreen_door")->isChecked());
    QVERIFY(!action("actionBlend")->isChecked());

    const QPoint middle = toPixel({0, 0, 0.1}).toPoint();
    const QImage image = frame();
    const Stipple s = measureOverlap(image, QRect(middle - QPoint(15, 15), QSize(31, 31)));
    if (s.alternating < 0.8)
        keep(image, "after-load");
    QVERIFY2(s.alternating > 0.8 && s.mixed < 0.05,
             qPrintable(QString("mixed %1, alternating %2").arg(s.mixed).arg(s.alternating)));
}

// --- Home position ----------------------------------------------------------

void TestNavigation::homePosition()
{
    QVERIFY(loadScene(data("cameras.wrl")));

    // A load makes the first viewpoint the home position.
    QVERIFY(chooseViewpoint(2));
    action("actionGo_to_home_position")->trigger();
    QVERIFY2(samePlacement(camera(), kCameraViewpoints[0].placement(), 1e-5),
             qPrintable(describe(camera())));
    QString why;
    QVERIFY2(checkOrientationShown(&why), qPrintable(why));

    // Somewhere else, saved.
    setStep(Y, 20);
    press(Y);
    setStep(X, -35);
    press(X);
    const Placement saved = camera();
    const float savedFocal = focalDistance();
    action("actionDisplay_orientation")->trigger();
    const QString savedText = statusText();
    QVERIFY(!orientationTokens(savedText).isEmpty());

    action("actionSave_home_position")->trigger();
    QCOMPARE(statusText(), QString("Saved new home position"));

    // Right after saving, going home changes nothing.
    action("actionGo_to_home_position")->trigger();
    QVERIFY(samePlacement(camera(), saved, 1e-6));
    QCOMPARE(statusText(), savedText);

    // After wandering off, going home comes back.
    press(Z);
    dragInView(QPoint(gl->width() / 3, gl->height() / 3), QPoint(gl->width() / 2, gl->height() / 2));
    QVERIFY(chooseViewpoint(1));
    QVERIFY(!samePlacement(camera(), saved, 1e-3));
    action("actionGo_to_home_position")->trigger();
    QVERIFY2(samePlacement(camera(), saved, 1e-5), qPrintable(describe(camera())));
    QCOMPARE(focalDistance(), savedFocal);
    QCOMPARE(statusText(), savedText);
}

// --- Orientation read-out ---------------------------------------------------

using Presses = QList<QPair<int, int>>;
Q_DECLARE_METATYPE(Presses)

void TestNavigation::orientationText_data()
{
    QTest::addColumn<Presses>("presses");
    QTest::addColumn<QStringList>("shown");

    // From a camera looking down -z, unturned. A button press turns the
    // camera by minus its step about its own axis; turns about z, then y,
    // then x, in that order, are exactly the three angles shown.
    QTest::newRow("camera turned 30 about y") << Presses{{Y, -30}} << QStringList{"0", "-30", "0"};
    QTest::newRow("model turned 30 about y") << Presses{{Y, 30}} << QStringList{"0", "30", "0"};
    QTest::newRow("x alone") << Presses{{X, 120}} << QStringList{"120", "0", "0"};
    QTest::newRow("z alone") << Presses{{Z, -45}} << QStringList{"0", "0", "-45"};
    QTest::newRow("z, y, x") << Presses{{Z, 25}, {Y, 35}, {X, 40}} << QStringList{"40", "35", "25"};
    QTest::newRow("fractions") << Presses{{Z, 1}, {Z, 1}, {Y, -7}, {X, 3}}
                               << QStringList{"3", "-7", "2"};
    // The right-pointing axis on the world z axis: y is a whole quarter
    // turn, z is 0 and the rest goes into x.
    QTest::newRow("quarter turn y, then x") << Presses{{Y, 90}, {X, 40}} << QStringList{"40", "90", "0"};
    QTest::newRow("quarter turn -y, then x") << Presses{{Y, -90}, {X, 40}}
                                             << QStringList{"40", "-90", "0"};
    QTest::newRow("quarter turn y alone") << Presses{{Y, -90}} << QStringList{"0", "-90", "0"};
}

void TestNavigation::orientationText()
{
    QFETCH(Presses, presses);
    QFETCH(QStringList, shown);

    QVERIFY(loadScene(data("cameras.wrl")));
    for (const auto &p : presses) {
        setStep(p.first, p.second);
        press(p.first);
    }
    const QString text = statusText();
    const QStringList tokens = orientationTokens(text);
    QVERIFY2(tokens.size() == 3, qPrintable("status bar shows \"" + text + "\""));
    for (int i = 0; i < 3; ++i) {
        // How a negative zero is written is left open.
        const bool same = tokens[i] == shown[i] || (shown[i] == "0" && tokens[i] == "-0");
        QVERIFY2(same, qPrintable(QString("\"%1\", expected %2, %3, %4")
                                      .arg(text).arg(shown[0]).arg(shown[1]).arg(shown[2])));
    }
    // The menu command shows the same.
    window->statusBar()->clearMessage();
    action("actionDisplay_orientation")->trigger();
    QCOMPARE(statusText(), text);
}

// --- Viewpoints -------------------------------------------------------------

void TestNavigation::viewpointList_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<ViewpointList>("expected");

    QTest::newRow("own placements") << data("cameras.wrl") << kCameraViewpoints;
    // Viewpoints without a position field: Coin reads them as (0, 0, 0),
    // but VRML 97's default is 0 0 10 and that is where the camera must go.
    // The four of 18.wrl differ only in their field of view, which a jump
    // does not use.
    QTest::newRow("corpus 18") << harness::corpusDir() + "/freewrl/tests/18.wrl"
                               << ViewpointList{{"one", {0, 0, 10}, {0, 0, 1}, 0.0},
                                                {"two", {0, 0, 10}, {0, 0, 1}, 0.0},
                                                {"three", {0, 0, 10}, {0, 0, 1}, 0.0},
                                                {"crash", {0, 0, 10}, {0, 0, 1}, 0.0}};
    // Bound from a script in the scene; the list only uses where they are.
    QTest::newRow("corpus teleporter")
        << harness::corpusDir() + "/white_dune/docs/typical_vrml_examples/ecmascript/teleporter.wrl"
        << ViewpointList{{"1.", {0, 0, 10}, {0, 0, 1}, 0.0}, {"2.", {0, 0, 20}, {0, 0, 1}, 0.0}};
}

void TestNavigation::viewpointList()
{
    QFETCH(QString, path);
    QFETCH(ViewpointList, expected);

    StdoutCapture loading(scratch->file("stdout-load.txt"));
    QVERIFY(loadScene(path));
    loading.finish();

    QStringList items;
    for (int i = 0; i < viewpoints->count(); ++i)
        items << viewpoints->itemText(i);
    QStringList descriptions;
    for (const StoredViewpoint &v : expected)
        descriptions << v.description;
    QCOMPARE(items, descriptions);

    // The centre of what was read, by Coin's own measure.
    SoGetBoundingBoxAction box(viewer->getViewportRegion());
    box.apply(Browser::loadedScene());
    const Vec3 centre = box.getBoundingBox().isEmpty() ? Vec3{} : fromSb(box.getBoundingBox().getCenter());

    // Each entry in turn, last first, each after some looking around.
    for (int i = expected.size() - 1; i >= 0; --i) {
        viewer->setViewing(true);
        dragInView(QPoint(gl->width() / 2 - 40, gl->height() / 2),
                   QPoint(gl->width() / 2 + 50, gl->height() / 2 + 30));
        const int logged = logCount("viewpointActivated");
        StdoutCapture capture(scratch->file("stdout-jump.txt"));
        QVERIFY(chooseViewpoint(i));
        const QList<double> focal = focalDistances(capture.finish());

        const Placement want = expected[i].placement();
        QVERIFY2(samePlacement(camera(), want, 1e-5),
                 qPrintable(QString("entry %1: camera %2, expected %3")
                                .arg(i).arg(describe(camera())).arg(describe(want))));
        const double distance = length(expected[i].position - centre);
        QCOMPARE(focal.size(), 1);
        QVERIFY2(std::fabs(focal[0] - distance) < 1e-4,
                 qPrintable(QString("printed %1, expected %2").arg(focal[0]).arg(distance)));
        QVERIFY(std::fabs(focalDistance() - distance) < 1e-4);
        QCOMPARE(logCount("viewpointActivated"), logged + 1);
        QString why;
        QVERIFY2(checkOrientationShown(&why), qPrintable(why));
    }
}

void TestNavigation::sameViewpointAgainAndGoToViewpoint()
{
    QVERIFY(loadScene(data("cameras.wrl")));
    QVERIFY(chooseViewpoint(2));
    QCOMPARE(viewpoints->currentIndex(), 2);
    const Placement tilted = kCameraViewpoints[2].placement();

    // The entry already shown, taken again, still jumps.
    dragInView(QPoint(gl->width() / 2, gl->height() / 2), QPoint(gl->width() / 2 + 80, gl->height() / 2));
    QVERIFY(!samePlacement(camera(), tilted, 1e-3));
    int logged = logCount("viewpointActivated");
    QVERIFY(chooseViewpoint(2));
    QVERIFY2(samePlacement(camera(), tilted, 1e-5), qPrintable(describe(camera())));
    QCOMPARE(logCount("viewpointActivated"), logged + 1);

    // "Go to viewpoint" goes back to the entry chosen last, wherever the
    // buttons and the mouse have taken the camera since; the list is not
    // involved and nothing is logged.
    press(X);
    dragInView(QPoint(gl->width() / 2, gl->height() / 2), QPoint(gl->width() / 2, gl->height() / 2 + 70));
    QVERIFY(!samePlacement(camera(), tilted, 1e-3));
    window->statusBar()->showMessage("elsewhere");
    logged = logCount("viewpointActivated");
    StdoutCapture capture(scratch->file("stdout-return.txt"));
    action("actionGoToViewpoint")->trigger();
    const QList<double> focal = focalDistances(capture.finish());
    QVERIFY2(samePlacement(camera(), tilted, 1e-5), qPrintable(describe(camera())));
    QCOMPARE(focal.size(), 1);
    QVERIFY(std::fabs(focal[0] - length(kCameraViewpoints[2].position - kBlockCentre)) < 1e-4);
    QCOMPARE(logCount("viewpointActivated"), logged);
    QString why;
    QVERIFY2(checkOrientationShown(&why), qPrintable(why));
}

void TestNavigation::animatedViewpoint()
{
    QVERIFY(loadScene(data("animated.wrl")));
    QCOMPARE(viewpoints->count(), 2);
    QCOMPARE(viewpoints->itemText(0), QString("Roaming"));

    SoSearchAction search;
    search.setName("Roaming");
    search.setInterest(SoSearchAction::FIRST);
    search.setSearchingAll(TRUE);
    search.apply(Browser::loadedScene());
    QVERIFY(search.getPath());
    SoVRMLViewpoint *roaming = static_cast<SoVRMLViewpoint *>(search.getPath()->getTail());
    QVERIFY(roaming->isOfType(SoVRMLViewpoint::getClassTypeId()));

    // The scene moves its own viewpoint; the file put it at (0, 0, 10).
    const Vec3 filed{0, 0, 10};
    QTRY_VERIFY_WITH_TIMEOUT(length(fromSb(roaming->position.getValue()) - filed) > 5.0, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(std::fabs(roaming->orientation.getValue().getValue()[3]) < 0.99, 10000);

    const Placement stored{filed, Mat3{}};
    for (int round = 0; round < 2; ++round) {
        dragInView(QPoint(gl->width() / 2, gl->height() / 2),
                   QPoint(gl->width() / 2 - 60, gl->height() / 2 - 40));
        QVERIFY(chooseViewpoint(1));
        QVERIFY(chooseViewpoint(0));
        const Vec3 now = fromSb(roaming->position.getValue());
        QVERIFY2(length(now - filed) > 5.0, "the scene stopped moving its viewpoint");
        QVERIFY2(samePlacement(camera(), stored, 1e-5), qPrintable(describe(camera())));
        QTest::qWait(300);
    }
}

// --- Rotation buttons -------------------------------------------------------

void TestNavigation::buttonTurns_data()
{
    QTest::addColumn<int>("viewpoint");
    QTest::addColumn<int>("axis");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("presses");

    QTest::newRow("y, start-up step, straight on") << 0 << int(Y) << 5 << 1;
    QTest::newRow("x 90 twice, straight on") << 0 << int(X) << 90 << 2;
    QTest::newRow("z 170, straight on") << 0 << int(Z) << 170 << 1;
    QTest::newRow("z -30 three times, from the right") << 1 << int(Z) << -30 << 3;
    QTest::newRow("x 25, from the right") << 1 << int(X) << 25 << 1;
    QTest::newRow("y 45 twice, tilted") << 2 << int(Y) << 45 << 2;
    QTest::newRow("x -5, tilted") << 2 << int(X) << -5 << 1;
    QTest::newRow("z 60, tilted") << 2 << int(Z) << 60 << 1;
    QTest::newRow("x 30, inside") << 3 << int(X) << 30 << 1;
}

void TestNavigation::buttonTurns()
{
    QFETCH(int, viewpoint);
    QFETCH(int, axis);
    QFETCH(int, step);
    QFETCH(int, presses);

    QVERIFY(loadScene(data("cameras.wrl")));
    QVERIFY(chooseViewpoint(viewpoint));
    const StoredViewpoint &chosen = kCameraViewpoints[viewpoint];
    const double focal = length(chosen.position - kBlockCentre);
    QVERIFY(std::fabs(focalDistance() - focal) < 1e-4);

    setStep(axis, step);
    Placement expected = chosen.placement();
    const Vec3 focalPoint = expected.position + focal * (expected.orientation * kAhead);
    for (int i = 0; i < presses; ++i) {
        press(axis);
        // The model turns by +step on screen: the camera by -step.
        expected = orbit(expected, focal, axisVector(axis), -radians(step));
        QVERIFY2(samePlacement(camera(), expected, 1e-4),
                 qPrintable(QString("after press %1: camera %2, expected %3")
                                .arg(i + 1).arg(describe(camera())).arg(describe(expected))));
        const Placement now = camera();
        const Vec3 seen = now.position + double(focalDistance()) * (now.orientation * kAhead);
        QVERIFY(length(seen - focalPoint) < 1e-4);
        QVERIFY(std::fabs(focalDistance() - focal) < 1e-4);
        QString why;
        QVERIFY2(checkOrientationShown(&why), qPrintable(why));
    }
}

void TestNavigation::twoQuarterTurnsAboutX()
{
    QVERIFY(loadScene(data("cameras.wrl")));
    QVERIFY(chooseViewpoint(0));
    setStep(X, 90);
    press(X);
    press(X);

    // Half a turn about the screen's horizontal axis through the block's
    // centre: the camera is behind the block, twelve units away, upside
    // down, still looking at the centre.
    const Placement now = camera();
    QVERIFY2(length(now.position - Vec3{1, 2, -15}) < 1e-4, qPrintable(describe(now)));
    QVERIFY(length(now.orientation * kRight - Vec3{1, 0, 0}) < 1e-5);
    QVERIFY(length(now.orientation * kUp - Vec3{0, -1, 0}) < 1e-5);
    QVERIFY(length(now.orientation * kAhead - Vec3{0, 0, 1}) < 1e-5);
    QVERIFY(std::fabs(focalDistance() - 12.0f) < 1e-4);

    // On screen: the green back marker faces the user, the yellow top one
    // is below the middle.
    const QImage image = frame();
    int green = 0, yellow = 0, red = 0;
    const QPointF greenAt = centroid(image, QColor(0, 255, 0), 40, &green);
    const QPointF yellowAt = centroid(image, QColor(255, 255, 0), 40, &yellow);
    centroid(image, QColor(255, 0, 0), 40, &red);
    const QPointF middle(image.width() / 2.0, image.height() / 2.0);
    const bool ok = green > 200 && red == 0 && yellow > 50
        && QLineF(greenAt, middle).length() < 5 && yellowAt.y() > middle.y() + 20;
    if (!ok)
        keep(image, "half-turn");
    QVERIFY(ok);
}

void TestNavigation::buttonTurnsSeenOnScreen_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<int>("step");
    QTest::addColumn<QColor>("marker");
    QTest::addColumn<QPoint>("direction");

    // Right-hand rule about the screen axes (x right, y up, z out of the
    // screen): +90 about y brings the front to the right, +90 about x
    // brings it down, +90 about z takes the top to the left.
    const QColor red(255, 0, 0), yellow(255, 255, 0);
    QTest::newRow("y +90") << int(Y) << 90 << red << QPoint(1, 0);
    QTest::newRow("y -90") << int(Y) << -90 << red << QPoint(-1, 0);
    QTest::newRow("x +90") << int(X) << 90 << red << QPoint(0, 1);
    QTest::newRow("x -90") << int(X) << -90 << red << QPoint(0, -1);
    QTest::newRow("z +90") << int(Z) << 90 << yellow << QPoint(-1, 0);
    QTest::newRow("z -90") << int(Z) << -90 << yellow << QPoint(1, 0);
}

void TestNavigation::buttonTurnsSeenOnScreen()
{
    QFETCH(int, axis);
    QFETCH(int, step);
    QFETCH(QColor, marker);
    QFETCH(QPoint, direction);

    QVERIFY(loadScene(data("cameras.wrl")));
    QVERIFY(chooseViewpoint(0));
    setStep(axis, step);
    press(axis);

    const QImage image = frame();
    int count = 0;
    const QPointF at = centroid(image, marker, 40, &count);
    const QPointF offset = at - QPointF(image.width() / 2.0, image.height() / 2.0);
    // Screen y grows downwards.
    const double along = offset.x() * direction.x() + offset.y() * direction.y();
    const double across = std::fabs(offset.x() * direction.y() - offset.y() * direction.x());
    const bool ok = count > 50 && along > image.height() * 0.1 && across < 5;
    if (!ok)
        keep(image, QTest::currentDataTag());
    QVERIFY2(ok, qPrintable(QString("%1 marker pixels, offset (%2, %3)")
                                .arg(count).arg(offset.x()).arg(offset.y())));
}

void TestNavigation::stepChangeAloneMovesNothing()
{
    QVERIFY(loadScene(data("cameras.wrl")));
    QVERIFY(chooseViewpoint(2));
    const Placement before = camera();
    window->statusBar()->showMessage("untouched");

    QSpinBox *spin = find<QSpinBox>("xSpin");
    spin->setFocus();
    QTest::keyClick(spin, Qt::Key_Up);
    QCOMPARE(spin->value(), 10);
    QTest::keyClick(spin, Qt::Key_Up);
    QCOMPARE(spin->value(), 15);
    harness::settle(30);
    QVERIFY(samePlacement(camera(), before, 0.0));
    QCOMPARE(statusText(), QString("untouched"));

    // The next press uses it.
    press(X);
    const Placement expected = orbit(before, length(kCameraViewpoints[2].position - kBlockCentre),
                                     kRight, -radians(15));
    QVERIFY2(samePlacement(camera(), expected, 1e-4), qPrintable(describe(camera())));
}

void TestNavigation::zeroStep_data()
{
    QTest::addColumn<int>("axis");
    QTest::newRow("x") << int(X);
    QTest::newRow("y") << int(Y);
    QTest::newRow("z") << int(Z);
}

void TestNavigation::zeroStep()
{
    QFETCH(int, axis);
    QVERIFY(loadScene(data("cameras.wrl")));
    QVERIFY(chooseViewpoint(2));
    setStep(axis, 0);
    const Placement before = camera();
    window->statusBar()->showMessage("untouched");
    press(axis);
    QVERIFY(samePlacement(camera(), before, 1e-6));
    QString why;
    QVERIFY2(checkOrientationShown(&why), qPrintable(why));
}

// --- Wheels and knob --------------------------------------------------------

void TestNavigation::controlDrag_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("axis");
    QTest::addColumn<double>("target");
    // How the model turns on screen for a rise of the control's value.
    QTest::addColumn<int>("modelSign");
    QTest::addColumn<int>("viewpoint");

    QTest::newRow("x wheel up") << "xWheel" << int(X) << 25.0 << -1 << 0;
    QTest::newRow("x wheel down") << "xWheel" << int(X) << -25.0 << -1 << 2;
    QTest::newRow("y wheel right") << "yWheel" << int(Y) << 25.0 << 1 << 0;
    QTest::newRow("y wheel left") << "yWheel" << int(Y) << -25.0 << 1 << 1;
    QTest::newRow("z knob clockwise") << "zKnob" << int(Z) << 25.0 << -1 << 0;
    QTest::newRow("z knob anticlockwise") << "zKnob" << int(Z) << -25.0 << -1 << 2;
}

void TestNavigation::controlDrag()
{
    QFETCH(QString, control);
    QFETCH(int, axis);
    QFETCH(double, target);
    QFETCH(int, modelSign);
    QFETCH(int, viewpoint);

    QVERIFY(loadScene(data("cameras.wrl")));
    QVERIFY(chooseViewpoint(viewpoint));
    const Placement start = camera();
    const double focal = length(kCameraViewpoints[viewpoint].position - kBlockCentre);
    window->statusBar()->showMessage("untouched");

    QWidget *widget = find<QWidget>(qPrintable(control));
    QwtWheel *wheel = qobject_cast<QwtWheel *>(widget);
    QwtKnob *knob = qobject_cast<QwtKnob *>(widget);
    QVERIFY(wheel || knob);
    auto value = [&]() { return wheel ? wheel->value() : knob->value(); };
    QCOMPARE(value(), 0.0);
    QSignalSpy changes(widget, SIGNAL(valueChanged(double)));

    const QPoint last = wheel ? dragWheelTo(wheel, target) : dragKnobTo(knob, target);
    const double reached = value();
    const int notifications = changes.count();
    const Placement dragged = orbit(start, focal, axisVector(axis), radians(-modelSign * reached));
    const Placement whileDragging = camera();
    const QString statusWhileDragging = statusText();
    QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, last);

    QVERIFY2(std::fabs(reached - target) <= 4.0,
             qPrintable(QString("the control got to %1").arg(reached)));
    // Turned in several notifications, each by its own difference.
    QVERIFY(notifications >= 3);
    QVERIFY2(samePlacement(whileDragging, dragged, 1e-4),
             qPrintable(QString("camera %1, expected %2")
                            .arg(describe(whileDragging)).arg(describe(dragged))));
    QCOMPARE(statusWhileDragging, QString("untouched"));

    QTRY_COMPARE(value(), 0.0);
    harness::settle(30);
    QVERIFY2(samePlacement(camera(), dragged, 1e-5), "springing back turned the camera");
    QString why;
    QVERIFY2(checkOrientationShown(&why), qPrintable(why));
}

void TestNavigation::yWheelReleaseKeepsTurn()
{
    QVERIFY(loadScene(data("cameras.wrl")));
    QVERIFY(chooseViewpoint(0));
    const Placement start = camera();
    QwtWheel *wheel = find<QwtWheel>("yWheel");

    QPoint last = dragWheelTo(wheel, 40.0);
    const double first = wheel->value();
    QVERIFY2(first >= 40.0 && first <= 44.0, qPrintable(QString::number(first)));
    QTest::mouseRelease(wheel, Qt::LeftButton, Qt::NoModifier, last);
    QTRY_COMPARE(wheel->value(), 0.0);
    harness::settle(30);

    // The model stays turned by the drag: +first about the vertical axis,
    // so its red front has gone to the right.
    Placement expected = orbit(start, 12.0, kUp, -radians(first));
    QVERIFY2(samePlacement(camera(), expected, 1e-4), qPrintable(describe(camera())));
    const QImage image = frame();
    int count = 0;
    const QPointF red = centroid(image, QColor(255, 0, 0), 40, &count);
    if (count < 50 || red.x() < image.width() / 2.0 + 10)
        keep(image, "after-release");
    QVERIFY(count >= 50 && red.x() > image.width() / 2.0 + 10);

    // The next drag starts from 0 again.
    last = dragWheelTo(wheel, -20.0);
    const double second = wheel->value();
    QVERIFY(second < 0.0);
    QTest::mouseRelease(wheel, Qt::LeftButton, Qt::NoModifier, last);
    QTRY_COMPARE(wheel->value(), 0.0);
    harness::settle(30);
    expected = orbit(start, 12.0, kUp, -radians(first + second));
    QVERIFY2(samePlacement(camera(), expected, 1e-4), qPrintable(describe(camera())));
}

void TestNavigation::stepSpinLimits_data()
{
    QTest::addColumn<QString>("spin");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("to");

    QTest::newRow("x wraps up") << "xSpin" << 180 << int(Qt::Key_Up) << -180;
    QTest::newRow("x wraps down") << "xSpin" << -180 << int(Qt::Key_Down) << 180;
    QTest::newRow("y wraps up") << "ySpin" << 180 << int(Qt::Key_Up) << -180;
    QTest::newRow("y wraps down") << "ySpin" << -180 << int(Qt::Key_Down) << 180;
    QTest::newRow("z stops up") << "zSpin" << 180 << int(Qt::Key_Up) << 180;
    QTest::newRow("z stops down") << "zSpin" << -180 << int(Qt::Key_Down) << -180;
}

void TestNavigation::stepSpinLimits()
{
    QFETCH(QString, spin);
    QFETCH(int, from);
    QFETCH(int, key);
    QFETCH(int, to);

    QSpinBox *box = find<QSpinBox>(qPrintable(spin));
    box->setValue(from);
    box->setFocus();
    QTest::keyClick(box, Qt::Key(key));
    QCOMPARE(box->value(), to);
}

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
