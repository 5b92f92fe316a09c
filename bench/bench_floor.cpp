// The floor Quelvin is measured against: the same Coin and Qt doing the
// least a viewer must do, with nothing of Quelvin's in it. Modes:
//
//   frame FILE W H [OUT] T0          read FILE, draw one frame offscreen at W x H
//                                     (and write it to OUT as SGI RGB)
//   grid FILE W H NX NY               read, then render and write the turned
//                                     views of a grid of NX x NY intervals
//   download URL W H T0               fetch URL with QNetworkAccessManager,
//                                     read the bytes from memory, draw a frame
//   analysis FILE LOG                 read, then log the scene's boxes, counts
//                                     and per-node boxes the direct way
//
// T0 is the CLOCK_MONOTONIC time (ns) at which the caller started this
// process, so that start-up is part of the figure. Each mode prints one line
// of key=value pairs; peak_kb is the peak resident set at the measured moment.
#include "bench_clock.h"
#include <Inventor/SoDB.h>
#include <Inventor/SoFullPath.h>
#include <Inventor/SoInput.h>
#include <Inventor/SbViewportRegion.h>
#include <Inventor/actions/SoGLRenderAction.h>
#include <Inventor/actions/SoGetBoundingBoxAction.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/nodes/SoDirectionalLight.h>
#include <Inventor/nodes/SoPerspectiveCamera.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/VRMLnodes/SoVRMLGeometry.h>
#include <Inventor/VRMLnodes/SoVRMLImageTexture.h>
#include <Inventor/VRMLnodes/SoVRMLIndexedFaceSet.h>
#include <Inventor/VRMLnodes/SoVRMLText.h>
#include <Inventor/VRMLnodes/SoVRMLViewpoint.h>

#include <QByteArray>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>


// A GL context of Qt's own with a framebuffer object of the frame's size:
// the cheapest way to get Coin drawing offscreen on this platform.
struct Canvas
{
    QOffscreenSurface surface;
    QOpenGLContext context;
    QOpenGLFramebufferObject *fbo = nullptr;
    int width = 0, height = 0;

    bool open(int w, int h)
    {
        width = w;
        height = h;
        QSurfaceFormat format;
        format.setRenderableType(QSurfaceFormat::OpenGL);
        format.setProfile(QSurfaceFormat::CompatibilityProfile);
        surface.setFormat(format);
        surface.create();
        context.setFormat(format);
        if (!context.create() || !context.makeCurrent(&surface))
            return false;
        QOpenGLFramebufferObjectFormat fboFormat;
        fboFormat.setAttachment(QOpenGLFramebufferObject::CombinedDepthStencil);
        fbo = new QOpenGLFramebufferObject(w, h, fboFormat);
        return fbo->isValid() && fbo->bind();
    }
    ~Canvas()
    {
        context.makeCurrent(&surface);
        delete fbo;
    }
};

// The root a viewer draws: a camera and a headlight in front of the scene.
struct Stage
{
    SoSeparator *root = nullptr;
    SoPerspectiveCamera *camera = nullptr;

    explicit Stage(SoSeparator *scene)
    {
        root = new SoSeparator;
        root->ref();
        camera = new SoPerspectiveCamera;
        root->addChild(camera);
        root->addChild(new SoDirectionalLight);
        root->addChild(scene);
    }
    ~Stage() { root->unref(); }
};

static void drawFrame(SoGLRenderAction &action, SoNode *root, Canvas &canvas, std::vector<unsigned char> &pixels)
{
    QOpenGLFunctions *gl = canvas.context.functions();
    gl->glClearColor(0, 0, 0, 1);
    gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    action.apply(root);
    pixels.resize(size_t(canvas.width) * size_t(canvas.height) * 3);
    gl->glPixelStorei(GL_PACK_ALIGNMENT, 1);
    gl->glReadPixels(0, 0, canvas.width, canvas.height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
}

// SGI RGB, uncompressed: a 512-byte header and one plane per channel.
static bool writeRgb(const char *path, const std::vector<unsigned char> &pixels, int w, int h)
{
    FILE *out = std::fopen(path, "wb");
    if (!out)
        return false;
    unsigned char header[512] = {};
    auto put16 = [&](int at, int v) { header[at] = uchar(v >> 8); header[at + 1] = uchar(v); };
    auto put32 = [&](int at, long v) { put16(at, int(v >> 16)); put16(at + 2, int(v & 0xffff)); };
    put16(0, 474);
    header[2] = 0;    // verbatim
    header[3] = 1;    // one byte per channel
    put16(4, 3);
    put16(6, w);
    put16(8, h);
    put16(10, 3);
    put32(16, 255);
    std::fwrite(header, 1, sizeof(header), out);
    std::vector<unsigned char> plane(size_t(w) * size_t(h));
    for (int c = 0; c < 3; c++) {
        for (size_t i = 0; i < plane.size(); i++)
            plane[i] = pixels[i * 3 + size_t(c)];
        std::fwrite(plane.data(), 1, plane.size(), out);
    }
    return std::fclose(out) == 0;
}

static SoSeparator *readScene(SoInput &in)
{
    SoSeparator *scene = SoDB::readAll(&in);
    if (scene)
        scene->ref();
    return scene;
}

static int frameOf(SoSeparator *scene, int w, int h, qint64 t0, const char *extra, const char *out = nullptr)
{
    if (!scene)
        return 2;
    Canvas canvas;
    if (!canvas.open(w, h))
        return 3;
    const SbViewportRegion region(static_cast<short>(w), static_cast<short>(h));
    Stage stage(scene);
    stage.camera->viewAll(scene, region);
    SoGLRenderAction action(region);
    std::vector<unsigned char> pixels;
    drawFrame(action, stage.root, canvas, pixels);
    if (out && !writeRgb(out, pixels, w, h))
        return 4;
    const qint64 t1 = monotonicNs();
    std::printf("frame_ms=%.1f peak_kb=%ld%s\n", (t1 - t0) / 1e6, peakRssKb(), extra);
    return 0;
}

static int frameMode(const char *file, int w, int h, qint64 t0, const char *out)
{
    SoInput in;
    if (!in.openFile(file))
        return 2;
    SoSeparator *scene = readScene(in);
    return frameOf(scene, w, h, t0, "", out);
}

static int gridMode(const char *file, int w, int h, int nX, int nY)
{
    SoInput in;
    if (!in.openFile(file))
        return 2;
    SoSeparator *scene = readScene(in);
    if (!scene)
        return 2;
    Canvas canvas;
    if (!canvas.open(w, h))
        return 3;
    const SbViewportRegion region(static_cast<short>(w), static_cast<short>(h));
    Stage stage(scene);
    stage.camera->viewAll(scene, region);
    const SbRotation home = stage.camera->orientation.getValue();
    const SbVec3f homePosition = stage.camera->position.getValue();
    const float focal = stage.camera->focalDistance.getValue();
    SbVec3f dir;
    home.multVec(SbVec3f(0, 0, -1), dir);
    const SbVec3f focalPoint = homePosition + focal * dir;
    const QByteArray base = (QFileInfo(file).path() + "/" + QFileInfo(file).baseName()).toUtf8();
    SoGLRenderAction action(region);
    std::vector<unsigned char> pixels;
    const double dX = nX ? 90.0 / nX : 0.0, dY = nY ? 90.0 / nY : 0.0;
    int images = 0;
    const qint64 t0 = monotonicNs();
    for (int iY = 1 - 2 * nY; iY <= 2 * nY; iY++) {
        for (int iX = -nX; iX <= nX; iX++) {
            const SbRotation turn = SbRotation(SbVec3f(1, 0, 0), float(iX * dX / -57.29578))
                                    * SbRotation(SbVec3f(0, 1, 0), float(iY * dY / -57.29578));
            const SbRotation orientation = turn * home;
            orientation.multVec(SbVec3f(0, 0, -1), dir);
            stage.camera->orientation = orientation;
            stage.camera->position = focalPoint - focal * dir;
            drawFrame(action, stage.root, canvas, pixels);
            char name[1024];
            std::snprintf(name, sizeof(name), "%s_floor_%03d_%03d.rgb", base.constData(),
                          int(iX < 0 ? iX * dX + 360 : iX * dX), int(iY < 0 ? iY * dY + 360 : iY * dY));
            if (!writeRgb(name, pixels, w, h))
                return 4;
            images++;
        }
    }
    const qint64 t1 = monotonicNs();
    std::printf("grid_ms=%.1f images=%d peak_kb=%ld\n", (t1 - t0) / 1e6, images, peakRssKb());
    return 0;
}

static int downloadMode(const char *url, int w, int h, qint64 t0)
{
    QNetworkAccessManager manager;
    const qint64 asked = monotonicNs();
    QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(QString::fromUtf8(url))));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    if (reply->error() != QNetworkReply::NoError)
        return 5;
    const QByteArray body = reply->readAll();
    const qint64 received = monotonicNs();
    delete reply;
    SoInput in;
    in.setBuffer(body.constData(), size_t(body.size()));
    SoSeparator *scene = readScene(in);
    char extra[64];
    std::snprintf(extra, sizeof(extra), " transfer_ms=%.1f bytes=%d", (received - asked) / 1e6, body.size());
    return frameOf(scene, w, h, t0, extra);
}

static void box(FILE *log, const char *indent, const SbBox3f &b)
{
    const SbVec3f &lo = b.getMin(), &hi = b.getMax();
    std::fprintf(log, "%sbbox min = %g, %g, %g\n%sbbox max = %g, %g, %g\n", indent, lo[0], lo[1],
                 lo[2], indent, hi[0], hi[1], hi[2]);
}

static int analysisMode(const char *file, const char *logName)
{
    SoInput in;
    if (!in.openFile(file))
        return 2;
    SoSeparator *scene = readScene(in);
    if (!scene)
        return 2;
    FILE *log = std::fopen(logName, "w");
    if (!log)
        return 4;
    const qint64 t0 = monotonicNs();
    SoGetBoundingBoxAction bbox(SbViewportRegion(640, 480));
    bbox.apply(scene);
    const SbBox3f sceneBox = bbox.getBoundingBox();
    const SbVec3f c = sceneBox.isEmpty() ? SbVec3f(0, 0, 0) : sceneBox.getCenter();
    std::fprintf(log, "sceneCentre = %g, %g, %g\n", c[0], c[1], c[2]);
    box(log, "", sceneBox);
    SoSearchAction search;
    search.setInterest(SoSearchAction::ALL);
    search.setSearchingAll(TRUE);
    const SoType types[] = { SoVRMLViewpoint::getClassTypeId(), SoVRMLGeometry::getClassTypeId(),
                             SoVRMLText::getClassTypeId(), SoVRMLIndexedFaceSet::getClassTypeId() };
    for (const SoType &type : types) {
        search.setType(type, TRUE);
        search.apply(scene);
        const SoPathList &paths = search.getPaths();
        std::fprintf(log, "count = %d\n", paths.getLength());
        if (type == types[0])
            continue;
        for (int i = 0; i < paths.getLength(); i++) {
            std::fprintf(log, "item %d %s\n", i, type.getName().getString());
            bbox.apply(static_cast<SoFullPath *>(paths[i])->getTail());
            box(log, "  ", bbox.getBoundingBox());
        }
        search.reset();
        search.setInterest(SoSearchAction::ALL);
        search.setSearchingAll(TRUE);
    }
    std::fclose(log);
    const qint64 t1 = monotonicNs();
    std::printf("analysis_ms=%.1f peak_kb=%ld\n", (t1 - t0) / 1e6, peakRssKb());
    return 0;
}

int main(int argc, char **argv)
{
    // The same run-time libraries the program opens (images, fonts), by
    // the names that exist without -dev packages.
    setenv("COIN_SIMAGE_LIBNAME", "libsimage.so.20", 0);
    setenv("COIN_ZLIB_LIBNAME", "libz.so.1", 0);
    setenv("COIN_FREETYPE2_LIBNAME", "libfreetype.so.6", 0);
    setenv("COIN_FONTCONFIG_LIBNAME", "libfontconfig.so.1", 0);
    QGuiApplication app(argc, argv);
    SoDB::init();
    // A frame is only complete with its textures: read them with the scene,
    // not in a thread that finishes after the frame.
    SoVRMLImageTexture::setDelayFetchURL(FALSE);
    const QByteArray mode = argc > 1 ? argv[1] : "";
    if (mode == "frame" && (argc == 6 || argc == 7))
        return frameMode(argv[2], atoi(argv[3]), atoi(argv[4]), atoll(argv[argc - 1]), argc == 7 ? argv[5] : nullptr);
    if (mode == "grid" && argc == 7)
        return gridMode(argv[2], atoi(argv[3]), atoi(argv[4]), atoi(argv[5]), atoi(argv[6]));
    if (mode == "download" && argc == 6)
        return downloadMode(argv[2], atoi(argv[3]), atoi(argv[4]), atoll(argv[5]));
    if (mode == "analysis" && argc == 4)
        return analysisMode(argv[2], argv[3]);
    std::fprintf(stderr, "usage: bench_floor frame FILE W H [OUT] T0 | grid FILE W H NX NY | "
                         "download URL W H T0 | analysis FILE LOG\n");
    return 1;
}
