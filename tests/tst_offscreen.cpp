// Offscreen rendering through Coin's SoOffscreenRenderer with the GL contexts
// from quelvin_glcontext: the images it returns, the SGI files it writes, and
// what happens to an on-screen viewer's context around it.

#include "harness.h"
#include "quelvin_glcontext.h"

#include <Inventor/Qt/SoQt.h>
#include <Inventor/Qt/viewers/SoQtExaminerViewer.h>
#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/SoOffscreenRenderer.h>
#include <Inventor/actions/SoGLRenderAction.h>
#include <Inventor/nodes/SoCallback.h>
#include <Inventor/nodes/SoCube.h>
#include <Inventor/nodes/SoDirectionalLight.h>
#include <Inventor/nodes/SoMaterial.h>
#include <Inventor/nodes/SoOrthographicCamera.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoTranslation.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGLContext>
#include <QGLWidget>
#include <QImage>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QStringList>
#include <QtTest>

#include <memory>

namespace {

// Every scene is seen through the same orthographic camera, 10 units high,
// so positions in the image follow from the viewport size alone: a 2-unit
// cube at the origin fills the middle and the marker cube sits at 35% of the
// height above the centre. The marker tells a right-way-up image from a
// flipped one.
constexpr float kViewHeight = 10.0f;
constexpr float kMarkerOffset = 3.5f;

const SbColor kRed(1.0f, 0.0f, 0.0f);
const SbColor kGreen(0.0f, 1.0f, 0.0f);
const SbColor kBlue(0.0f, 0.0f, 1.0f);
const SbColor kBlack(0.0f, 0.0f, 0.0f);

enum class Content { Inventor, Vrml };

struct SceneSpec
{
    Content content = Content::Inventor;
    SbColor centre = kRed;
    bool marker = true;
};

SoSeparator *makeContent(const SceneSpec &spec)
{
    if (spec.content == Content::Vrml) {
        const QByteArray text = QStringLiteral(
            "#VRML V2.0 utf8\n"
            "Shape {\n"
            "  appearance Appearance { material Material { diffuseColor %1 %2 %3 } }\n"
            "  geometry Box { size 2 2 2 }\n"
            "}\n"
            "%4\n")
            .arg(spec.centre[0]).arg(spec.centre[1]).arg(spec.centre[2])
            .arg(spec.marker ? QStringLiteral(
                     "Transform { translation 0 %1 0 children Shape {\n"
                     "  appearance Appearance { material Material { diffuseColor 0 1 0 } }\n"
                     "  geometry Box { size 2 2 2 }\n"
                     "} }").arg(kMarkerOffset)
                             : QString())
            .toLatin1();
        SoInput in;
        in.setBuffer(text.constData(), size_t(text.size()));
        return SoDB::readAll(&in);
    }

    auto *group = new SoSeparator;
    auto *material = new SoMaterial;
    material->diffuseColor = spec.centre;
    group->addChild(material);
    group->addChild(new SoCube);
    if (spec.marker) {
        auto *markerGroup = new SoSeparator;
        auto *shift = new SoTranslation;
        shift->translation = SbVec3f(0.0f, kMarkerOffset, 0.0f);
        auto *markerMaterial = new SoMaterial;
        markerMaterial->diffuseColor = kGreen;
        markerGroup->addChild(shift);
        markerGroup->addChild(markerMaterial);
        markerGroup->addChild(new SoCube);
        group->addChild(markerGroup);
    }
    return group;
}

SoOrthographicCamera *makeCamera()
{
    auto *camera = new SoOrthographicCamera;
    camera->position = SbVec3f(0.0f, 0.0f, 10.0f);
    camera->height = kViewHeight;
    camera->nearDistance = 1.0f;
    camera->farDistance = 20.0f;
    return camera;
}

// Camera, light and content; the caller owns the returned reference.
SoSeparator *makeScene(const SceneSpec &spec)
{
    SoSeparator *content = makeContent(spec);
    if (!content)
        return nullptr;
    auto *root = new SoSeparator;
    root->ref();
    root->addChild(makeCamera());
    root->addChild(new SoDirectionalLight);
    root->addChild(content);
    return root;
}

struct SceneRef
{
    explicit SceneRef(SoSeparator *node) : root(node) {}
    ~SceneRef() { if (root) root->unref(); }
    SceneRef(const SceneRef &) = delete;
    SceneRef &operator=(const SceneRef &) = delete;
    SoSeparator *root;
};

// A copy of an offscreen renderer's buffer: rows bottom to top, as GL reads
// them and as SGI files store them.
struct Image
{
    int width = 0;
    int height = 0;
    int components = 0;
    QByteArray bytes;

    QColor at(int x, int yFromBottom) const
    {
        const auto *p = reinterpret_cast<const uchar *>(bytes.constData())
                        + (yFromBottom * width + x) * components;
        return QColor(p[0], p[1], p[2], components == 4 ? p[3] : 255);
    }

    QImage toQImage() const
    {
        QImage image(width, height, QImage::Format_RGBA8888);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.setPixelColor(x, height - 1 - y, at(x, y));
        return image;
    }
};

Image copyBuffer(const SoOffscreenRenderer &renderer)
{
    Image image;
    const SbVec2s size = renderer.getViewportRegion().getViewportSizePixels();
    image.width = size[0];
    image.height = size[1];
    image.components = int(renderer.getComponents());
    const unsigned char *buffer = renderer.getBuffer();
    if (buffer)
        image.bytes = QByteArray(reinterpret_cast<const char *>(buffer),
                                 image.width * image.height * image.components);
    return image;
}

QString describe(const QColor &c)
{
    return QStringLiteral("(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

// Mesa's shading of a lit face varies a little between versions and
// drivers; the clear colour does not.
constexpr int kShadeTolerance = 60;
constexpr int kMinLit = 150;
constexpr int kClearTolerance = 2;

bool looksLike(const QColor &c, const SbColor &colour)
{
    const int want[3] = { int(colour[0] * 255), int(colour[1] * 255), int(colour[2] * 255) };
    const int got[3] = { c.red(), c.green(), c.blue() };
    for (int i = 0; i < 3; ++i) {
        if (want[i] > 0 ? got[i] < kMinLit : got[i] > kShadeTolerance)
            return false;
    }
    return true;
}

bool isClear(const QColor &c, const SbColor &background)
{
    return qAbs(c.red() - int(background[0] * 255)) <= kClearTolerance
        && qAbs(c.green() - int(background[1] * 255)) <= kClearTolerance
        && qAbs(c.blue() - int(background[2] * 255)) <= kClearTolerance;
}

// Empty when the image shows the scene as laid out above.
QStringList sceneProblems(const Image &image, const SceneSpec &spec, const SbColor &background)
{
    QStringList problems;
    if (image.bytes.isEmpty())
        return { QStringLiteral("renderer has no buffer") };
    const int w = image.width;
    const int h = image.height;
    const bool alpha = image.components == 4;
    const int markerRow = h / 2 + int(h * kMarkerOffset / kViewHeight);
    const int belowRow = h / 2 - int(h * kMarkerOffset / kViewHeight);

    const QColor centre = image.at(w / 2, h / 2);
    if (!looksLike(centre, spec.centre) || (alpha && centre.alpha() != 255))
        problems << QStringLiteral("centre is %1").arg(describe(centre));
    if (spec.marker) {
        const QColor marker = image.at(w / 2, markerRow);
        if (!looksLike(marker, kGreen))
            problems << QStringLiteral("marker above the centre is %1").arg(describe(marker));
    }
    const QPoint clearPoints[] = { { 0, 0 }, { w - 1, 0 }, { 0, h - 1 }, { w - 1, h - 1 },
                                   { w / 2, belowRow } };
    for (const QPoint &p : clearPoints) {
        const QColor c = image.at(p.x(), p.y());
        if (!isClear(c, background) || (alpha && c.alpha() != 0))
            problems << QStringLiteral("background at (%1,%2) from the bottom is %3")
                            .arg(p.x()).arg(p.y()).arg(describe(c));
    }
    return problems;
}

// Coin's SGI writer; verbatim and run-length storage are both read.
struct SgiFile
{
    int storage = -1;
    int bytesPerChannel = 0;
    int dimension = 0;
    int width = 0;
    int height = 0;
    int channels = 0;
    QByteArray planes; // channel after channel, rows bottom to top
    QString error;

    uchar at(int x, int y, int channel) const
    {
        return uchar(planes.at((channel * height + y) * width + x));
    }
};

quint32 bigEndian(const QByteArray &data, int offset, int bytes)
{
    quint32 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | uchar(data.at(offset + i));
    return value;
}

SgiFile readSgi(const QString &path)
{
    SgiFile sgi;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        sgi.error = file.errorString();
        return sgi;
    }
    const QByteArray data = file.readAll();
    const int headerSize = 512;
    if (data.size() < headerSize) {
        sgi.error = QStringLiteral("file has only %1 bytes").arg(data.size());
        return sgi;
    }
    if (bigEndian(data, 0, 2) != 474) {
        sgi.error = QStringLiteral("magic is %1").arg(bigEndian(data, 0, 2));
        return sgi;
    }
    sgi.storage = uchar(data.at(2));
    sgi.bytesPerChannel = uchar(data.at(3));
    sgi.dimension = int(bigEndian(data, 4, 2));
    sgi.width = int(bigEndian(data, 6, 2));
    sgi.height = int(bigEndian(data, 8, 2));
    sgi.channels = sgi.dimension < 3 ? 1 : int(bigEndian(data, 10, 2));
    if (sgi.bytesPerChannel != 1) {
        sgi.error = QStringLiteral("%1 bytes per channel").arg(sgi.bytesPerChannel);
        return sgi;
    }
    const int rows = sgi.height * sgi.channels;
    const int planeBytes = rows * sgi.width;
    if (sgi.storage == 0) {
        if (data.size() < headerSize + planeBytes) {
            sgi.error = QStringLiteral("pixel data is truncated");
            return sgi;
        }
        sgi.planes = data.mid(headerSize, planeBytes);
        return sgi;
    }
    if (sgi.storage != 1) {
        sgi.error = QStringLiteral("unknown storage %1").arg(sgi.storage);
        return sgi;
    }
    const int tables = headerSize + rows * 8;
    if (data.size() < tables) {
        sgi.error = QStringLiteral("row tables are truncated");
        return sgi;
    }
    sgi.planes.fill('\0', planeBytes);
    for (int row = 0; row < rows; ++row) {
        int in = int(bigEndian(data, headerSize + row * 4, 4));
        const int end = in + int(bigEndian(data, headerSize + rows * 4 + row * 4, 4));
        int out = row * sgi.width;
        const int rowEnd = out + sgi.width;
        while (in < end && in < data.size()) {
            const uchar code = uchar(data.at(in++));
            const int count = code & 0x7f;
            if (count == 0)
                break;
            if (out + count > rowEnd || in + ((code & 0x80) ? count : 1) > data.size()) {
                sgi.error = QStringLiteral("run overflows row %1").arg(row);
                return sgi;
            }
            if (code & 0x80) {
                for (int i = 0; i < count; ++i)
                    sgi.planes[out++] = data.at(in++);
            } else {
                const char value = data.at(in++);
                for (int i = 0; i < count; ++i)
                    sgi.planes[out++] = value;
            }
        }
    }
    return sgi;
}

} // namespace

class TestOffscreen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void render_data();
    void render();
    void twoRenderers();
    void oneRendererManyTimes();
    void tiledRendering();
    void viewerContextIsCurrentAgain();
    void renderDuringViewerRedraw();

private:
    // Saves the image beside the scratch directory, where it survives the
    // test, and names it in the log.
    QString keepImage(const QImage &image, const QString &name);
    QString keepImage(const Image &image, const QString &name)
    {
        return keepImage(image.toQImage(), name);
    }

    std::unique_ptr<harness::Scratch> m_scratch;
};

QString TestOffscreen::keepImage(const QImage &image, const QString &name)
{
    QString safe = name;
    safe.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    const QString path = QFileInfo(m_scratch->path()).dir().filePath(
        QStringLiteral("tst_offscreen-%1.png").arg(safe));
    image.save(path);
    qWarning("actual image written to %s", qPrintable(path));
    return path;
}

#define EXPECT_SCENE(image, spec, background, name)                                  \
    do {                                                                             \
        const QStringList problems_ = sceneProblems((image), (spec), (background));  \
        if (!problems_.isEmpty()) {                                                  \
            keepImage((image), (name));                                              \
            QFAIL(qPrintable(problems_.join(QStringLiteral("; "))));                 \
        }                                                                            \
    } while (false)

void TestOffscreen::initTestCase()
{
    SoQt::init("tst_offscreen");
    installOffscreenContexts();
    // A second call must leave things working.
    installOffscreenContexts();
    m_scratch = std::make_unique<harness::Scratch>();
    QVERIFY(m_scratch->isValid());
}

void TestOffscreen::render_data()
{
    QTest::addColumn<int>("content");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("blueBackground");
    QTest::addColumn<int>("components");

    const int inventor = int(Content::Inventor);
    const int vrml = int(Content::Vrml);
    const int rgb = int(SoOffscreenRenderer::RGB);
    const int rgba = int(SoOffscreenRenderer::RGB_TRANSPARENCY);
    QTest::newRow("inventor 200x150 default background") << inventor << QSize(200, 150) << false << rgb;
    QTest::newRow("inventor 640x480 blue background") << inventor << QSize(640, 480) << true << rgb;
    QTest::newRow("inventor 200x150 blue background alpha") << inventor << QSize(200, 150) << true << rgba;
    QTest::newRow("vrml 640x480 default background alpha") << vrml << QSize(640, 480) << false << rgba;
    QTest::newRow("vrml 200x150 blue background") << vrml << QSize(200, 150) << true << rgb;
}

void TestOffscreen::render()
{
    QFETCH(int, content);
    QFETCH(QSize, size);
    QFETCH(bool, blueBackground);
    QFETCH(int, components);

    SceneSpec spec;
    spec.content = Content(content);
    SceneRef scene(makeScene(spec));
    QVERIFY(scene.root);

    SoOffscreenRenderer renderer(SbViewportRegion(short(size.width()), short(size.height())));
    if (blueBackground)
        renderer.setBackgroundColor(kBlue);
    renderer.setComponents(SoOffscreenRenderer::Components(components));
    const SbColor background = blueBackground ? kBlue : kBlack;

    QVERIFY(renderer.render(scene.root));
    const Image image = copyBuffer(renderer);
    QCOMPARE(image.width, size.width());
    QCOMPARE(image.height, size.height());
    EXPECT_SCENE(image, spec, background, QTest::currentDataTag());

    const QString path = m_scratch->file(QStringLiteral("render.rgb"));
    QVERIFY(renderer.writeToRGB(path.toLocal8Bit().constData()));
    const SgiFile sgi = readSgi(path);
    QVERIFY2(sgi.error.isEmpty(), qPrintable(sgi.error));
    QCOMPARE(sgi.dimension, 3);
    QCOMPARE(sgi.width, size.width());
    QCOMPARE(sgi.height, size.height());
    QCOMPARE(sgi.channels, components);
    for (int c = 0; c < sgi.channels; ++c) {
        for (int y = 0; y < sgi.height; ++y) {
            for (int x = 0; x < sgi.width; ++x) {
                const uchar fromBuffer = uchar(image.bytes.at((y * image.width + x) * components + c));
                if (sgi.at(x, y, c) != fromBuffer) {
                    keepImage(image, QString::fromLatin1(QTest::currentDataTag()) + "-buffer");
                    QFAIL(qPrintable(QStringLiteral("file has %1 at x=%2 y=%3 channel %4, buffer %5")
                                         .arg(sgi.at(x, y, c)).arg(x).arg(y).arg(c).arg(fromBuffer)));
                }
            }
        }
    }
}

void TestOffscreen::twoRenderers()
{
    SceneSpec redSpec;
    SceneSpec greenSpec;
    greenSpec.centre = kGreen;
    greenSpec.marker = false;
    SceneRef red(makeScene(redSpec));
    SceneRef green(makeScene(greenSpec));

    auto first = std::make_unique<SoOffscreenRenderer>(SbViewportRegion(200, 150));
    QVERIFY(first->render(red.root));
    EXPECT_SCENE(copyBuffer(*first), redSpec, kBlack, "first");

    SoOffscreenRenderer second{ SbViewportRegion(640, 480) };
    second.setBackgroundColor(kBlue);
    QVERIFY(second.render(green.root));
    EXPECT_SCENE(copyBuffer(second), greenSpec, kBlue, "second");

    // Both alive: the first one's context must still be its own.
    first->setBackgroundColor(kBlue);
    QVERIFY(first->render(green.root));
    EXPECT_SCENE(copyBuffer(*first), greenSpec, kBlue, "first-again");

    first.reset();
    QVERIFY(second.render(red.root));
    EXPECT_SCENE(copyBuffer(second), redSpec, kBlue, "second-after-first-destroyed");
}

void TestOffscreen::oneRendererManyTimes()
{
    // As a grid of thumbnails would use it: one renderer, one scene whose
    // colour changes between frames, and sizes that make Coin both reuse and
    // replace its context (it drops one far bigger than needed).
    SceneSpec spec;
    SceneRef scene(makeScene(spec));
    auto *material = static_cast<SoMaterial *>(
        static_cast<SoSeparator *>(scene.root->getChild(2))->getChild(0));
    const QSize sizes[] = { QSize(200, 150), QSize(640, 480), QSize(64, 48) };

    SoOffscreenRenderer renderer{ SbViewportRegion(200, 150) };
    for (int i = 0; i < 50; ++i) {
        const QSize size = sizes[i % 3];
        spec.centre = (i % 2) ? kBlue : kRed;
        material->diffuseColor = spec.centre;
        renderer.setViewportRegion(SbViewportRegion(short(size.width()), short(size.height())));
        QVERIFY2(renderer.render(scene.root), qPrintable(QStringLiteral("render %1").arg(i)));
        const Image image = copyBuffer(renderer);
        QCOMPARE(image.width, size.width());
        EXPECT_SCENE(image, spec, kBlack, QStringLiteral("many-%1").arg(i));
    }
}

void TestOffscreen::tiledRendering()
{
    // Images larger than the biggest offscreen buffer are drawn tile by tile,
    // each tile read back into its place in the full image. Coin works out
    // the tile limit once per process, so small tiles need a process of
    // their own.
    const char *limit = "COIN_OFFSCREENRENDERER_MAX_TILESIZE";
    if (qEnvironmentVariableIsSet(limit))
        QSKIP("this process already renders in small tiles");
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(limit), QStringLiteral("128"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                { QStringLiteral("render"), QStringLiteral("twoRenderers"),
                  QStringLiteral("oneRendererManyTimes") });
    QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));
    child.waitForFinished(-1);
    const QByteArray output = child.readAll();
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             output.constData());
}

namespace {

struct ShownViewer
{
    explicit ShownViewer(SoNode *scene)
        : viewer(new SoQtExaminerViewer(nullptr))
    {
        viewer->setDecoration(FALSE);
        viewer->setSize(SbVec2s(320, 240));
        viewer->setSceneGraph(scene);
        viewer->show();
        glWidget = qobject_cast<QGLWidget *>(viewer->getGLWidget());
    }
    ~ShownViewer() { delete viewer; }
    ShownViewer(const ShownViewer &) = delete;
    ShownViewer &operator=(const ShownViewer &) = delete;

    // Shown, sized and drawn once by Qt itself, so that the next explicit
    // render() is the frame that reaches the window.
    bool settle() const
    {
        if (!glWidget || !QTest::qWaitForWindowExposed(glWidget))
            return false;
        QCoreApplication::processEvents();
        return true;
    }

    // What the X server shows of the viewer's GL window, which is where a
    // frame drawn into the wrong context would be missing.
    QImage shot() const
    {
        return glWidget->screen()->grabWindow(glWidget->winId()).toImage();
    }

    SoQtExaminerViewer *viewer;
    QGLWidget *glWidget = nullptr;
};

QColor centreOf(const QImage &image)
{
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

} // namespace

void TestOffscreen::viewerContextIsCurrentAgain()
{
    SceneSpec viewerSpec;
    viewerSpec.marker = false;
    SceneRef viewerScene(makeScene(viewerSpec));
    auto *viewerMaterial = static_cast<SoMaterial *>(
        static_cast<SoSeparator *>(viewerScene.root->getChild(2))->getChild(0));
    ShownViewer shown(viewerScene.root);
    QVERIFY(shown.settle());

    shown.glWidget->makeCurrent();
    QOpenGLContext *viewerContext = QOpenGLContext::currentContext();
    QVERIFY(viewerContext);
    QSurface *viewerSurface = viewerContext->surface();

    SceneSpec offSpec;
    offSpec.centre = kGreen;
    SceneRef offScene(makeScene(offSpec));
    SoOffscreenRenderer renderer{ SbViewportRegion(200, 150) };
    QVERIFY(renderer.render(offScene.root));
    QCOMPARE(QOpenGLContext::currentContext(), viewerContext);
    QCOMPARE(viewerContext->surface(), viewerSurface);
    QCOMPARE(QGLContext::currentContext(), shown.glWidget->context());

    // getBuffer() switches to the offscreen context once more to read back.
    const Image image = copyBuffer(renderer);
    QCOMPARE(QOpenGLContext::currentContext(), viewerContext);
    EXPECT_SCENE(image, offSpec, kBlack, "offscreen-with-viewer");

    // The framebuffer object must have been bound in the offscreen context,
    // not in the viewer's.
    GLint boundFramebuffer = -1;
    viewerContext->functions()->glGetIntegerv(GL_FRAMEBUFFER_BINDING, &boundFramebuffer);
    QCOMPARE(boundFramebuffer, 0);

    // And the viewer still draws to its window.
    viewerMaterial->diffuseColor = kBlue;
    shown.viewer->render();
    const QImage shot = shown.shot();
    if (!looksLike(centreOf(shot), kBlue)) {
        keepImage(shot, QStringLiteral("viewer-after-offscreen"));
        QFAIL(qPrintable(QStringLiteral("viewer centre is %1").arg(describe(centreOf(shot)))));
    }
}

namespace {

// Renders offscreen from inside the viewer's own traversal, which is how a
// node that needs a picture of something else would do it.
struct NestedRender
{
    SoSeparator *scene = nullptr;
    SceneSpec spec;
    int calls = 0;
    int failures = 0;
    QStringList problems;
    Image lastImage;

    static void callback(void *data, SoAction *action)
    {
        if (!action->isOfType(SoGLRenderAction::getClassTypeId()))
            return;
        auto *self = static_cast<NestedRender *>(data);
        ++self->calls;
        QOpenGLContext *before = QOpenGLContext::currentContext();
        SoOffscreenRenderer renderer{ SbViewportRegion(200, 150) };
        if (!renderer.render(self->scene)) {
            ++self->failures;
            self->problems << QStringLiteral("render() failed");
            return;
        }
        self->lastImage = copyBuffer(renderer);
        self->problems << sceneProblems(self->lastImage, self->spec, kBlack);
        if (QOpenGLContext::currentContext() != before) {
            ++self->failures;
            self->problems << QStringLiteral("viewer's context not current after the offscreen render");
        }
    }
};

} // namespace

void TestOffscreen::renderDuringViewerRedraw()
{
    NestedRender nested;
    nested.spec.centre = kGreen;
    SceneRef offScene(makeScene(nested.spec));
    nested.scene = offScene.root;

    // The callback comes before the viewer's cube, so the cube only reaches
    // the window if the viewer's context was put back.
    auto *callbackNode = new SoCallback;
    callbackNode->setCallback(NestedRender::callback, &nested);
    auto *viewerRoot = new SoSeparator;
    viewerRoot->ref();
    viewerRoot->addChild(makeCamera());
    viewerRoot->addChild(new SoDirectionalLight);
    viewerRoot->addChild(callbackNode);
    auto *material = new SoMaterial;
    material->diffuseColor = kRed;
    viewerRoot->addChild(material);
    viewerRoot->addChild(new SoCube);
    SceneRef viewerScene(viewerRoot);

    ShownViewer shown(viewerRoot);
    QVERIFY(shown.settle());
    nested.calls = 0;
    shown.viewer->render();

    QVERIFY(nested.calls > 0);
    if (!nested.problems.isEmpty()) {
        if (!nested.lastImage.bytes.isEmpty())
            keepImage(nested.lastImage, QStringLiteral("nested-offscreen"));
        QFAIL(qPrintable(nested.problems.join(QStringLiteral("; "))));
    }
    const QImage shot = shown.shot();
    if (!looksLike(centreOf(shot), kRed)) {
        keepImage(shot, QStringLiteral("viewer-with-nested-offscreen"));
        QFAIL(qPrintable(QStringLiteral("viewer centre is %1").arg(describe(centreOf(shot)))));
    }
}

QTEST_MAIN(TestOffscreen)
#include "tst_offscreen.moc"
