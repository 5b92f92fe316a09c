// Holds Quelvin to the floor that Coin and Qt set by themselves
// (bench_floor): writes stress scenes into a scratch directory, then runs
// Quelvin's own code paths and the floor in separate processes, alternating,
// for several rounds, and prints medians and ratios. Figures, not verdicts.
//
//   bench_quelvin [--rounds N] [--smoke]     the whole benchmark (the driver)
//   bench_quelvin frame FILE T0               window with FILE on its command
//                                             line, up to its first frame
//   bench_quelvin open TARGET T0              empty window, then TARGET (a path
//                                             or an http:// URL) through the
//                                             location field, up to its frame
//   bench_quelvin render FILE T0              window with FILE, first frame,
//                                             then File > Render, to its box
//   bench_quelvin grid FILE NX NY             the grid of views of FILE
//   bench_quelvin animate FILE SECONDS        window with FILE; after its first
//                                             frame, frames drawn and the time
//                                             its scripts took per frame
//   bench_quelvin serve FILE                  serves FILE on 127.0.0.1
//   bench_quelvin scenes DIR                  only writes the scenes (for profiling)
//
// T0 is the CLOCK_MONOTONIC time (ns) at which the driver started the
// process. Boxes are answered as soon as they are shown, and frames are
// seen through the render action, so nothing is polled.
#include "bench_clock.h"
#include "bench_scenes.h"
#include "harness.h"
#include "httpserver.h"
#include "quelvin_script.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <Inventor/actions/SoGLRenderAction.h>
#include <Inventor/nodes/SoSeparator.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>


// --- The measured side --------------------------------------------------------

namespace {

// Presses a box's default button as soon as the box is shown: the user who
// clicks at once, without the polling a test harness does.
class AnswerAtOnce : public QObject
{
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (QMessageBox *box = qobject_cast<QMessageBox *>(watched)) {
                QTimer::singleShot(0, box, [box]() {
                    QAbstractButton *button = box->defaultButton();
                    if (!button && !box->buttons().isEmpty())
                        button = box->buttons().first();
                    if (button)
                        button->click();
                    else
                        box->reject();
                });
            }
        }
        return false;
    }
};

// Follows the viewer's renders into a window that is on screen (a render
// that starts before X has mapped the window shows nothing). A render runs
// inside one event; the first event the application delivers after it marks
// its end, and an event posted from the render makes sure there is one.
class FrameWatch : public QObject
{
public:
    explicit FrameWatch(BrowserWindow *w) : window(w)
    {
        follow();
        qApp->installEventFilter(this);
    }

    // When the first frame of the scene last waited for ended, and the
    // peak resident memory then; later frames of that scene change neither.
    qint64 frameEndNs = 0;
    long frameEndPeakKb = 0;
    int frames = 0;    // completed renders into the exposed window

    // Returns once a frame of `scene` has been drawn completely.
    bool waitForFrameOf(SoNode *scene)
    {
        return waitFor([&]() { return framedOnce && sceneOfFirstFrame == scene; });
    }
    template <typename Done> bool waitFor(Done done)
    {
        QElapsedTimer limit;
        limit.start();
        // Wakes the loop now and then to look at the clock; no polling of
        // the state, which changes only inside events.
        QTimer wake;
        wake.start(250);
        while (!done()) {
            if (limit.elapsed() > 300000)
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            follow();
        }
        return true;
    }

protected:
    bool eventFilter(QObject *, QEvent *) override
    {
        if (rendering) {
            rendering = false;
            frames++;
            if (!framedOnce || sceneBeingDrawn != sceneOfFirstFrame) {
                frameEndNs = monotonicNs();
                frameEndPeakKb = peakRssKb();
                sceneOfFirstFrame = sceneBeingDrawn;
                framedOnce = true;
            }
        }
        return false;
    }

private:
    static void preRender(void *data, SoGLRenderAction *)
    {
        FrameWatch *watch = static_cast<FrameWatch *>(data);
        QWindow *handle = watch->window->windowHandle();
        if (handle && handle->isExposed() && !watch->rendering) {
            watch->rendering = true;
            watch->sceneBeingDrawn = Browser::loadedScene();
            QCoreApplication::postEvent(watch, new QEvent(QEvent::User));
        }
    }
    // Loading a document installs a render action of its own.
    void follow()
    {
        for (SoGLRenderAction *action : { window->viewer()->getGLRenderAction(), Browser::sceneRenderAction() }) {
            if (action && !watched.contains(action)) {
                action->addPreRenderCallback(&FrameWatch::preRender, this);
                watched << action;
            }
        }
    }

    BrowserWindow *window;
    QList<SoGLRenderAction *> watched;
    bool rendering = false;
    SoNode *sceneBeingDrawn = nullptr;
    SoNode *sceneOfFirstFrame = nullptr;
    bool framedOnce = false;
};

void printLoadTimes()
{
    const Browser::LoadTimes times = Browser::lastLoadTimes();
    std::printf(" read_ms=%.1f analysis_ms=%.1f", times.readMs, times.analysisMs);
}

// A window started on a file as a user starts the program, every box
// answered as it comes; shown() waits for the first frame of the file.
struct Opened
{
    explicit Opened(const QString &file) : window(file), watch(&window) { window.show(); }
    bool shown() { return Browser::loadedScene() && watch.waitForFrameOf(Browser::loadedScene()); }

    harness::Scratch scratch;
    AnswerAtOnce answerer;
    // Before the window: opening the file shows its first box.
    const bool answering = (qApp->installEventFilter(&answerer), true);
    BrowserWindow window;
    FrameWatch watch;
};

int frameMode(const QString &file, qint64 t0)
{
    Opened opened(file);
    if (!opened.shown())
        return 2;
    BrowserWindow &window = opened.window;
    FrameWatch &watch = opened.watch;
    const SbVec2s size = window.viewer()->getViewportRegion().getViewportSizePixels();
    std::printf("frame_ms=%.1f peak_kb=%ld size=%dx%d", (watch.frameEndNs - t0) / 1e6, watch.frameEndPeakKb,
                size[0], size[1]);
    printLoadTimes();
    std::printf("\n");
    return 0;
}

// The road a user takes to a picture: start with the file, see it, File >
// Render, the box saying where the image went.
int renderMode(const QString &file, qint64 t0)
{
    Opened opened(file);
    if (!opened.shown())
        return 2;
    BrowserWindow &window = opened.window;
    FrameWatch &watch = opened.watch;
    const qint64 shown = watch.frameEndNs;
    QAction *render = window.findChild<QAction *>("actionRender");
    if (!render)
        return 3;
    render->trigger();
    const qint64 written = monotonicNs();
    const QString image = QFileInfo(file).path() + "/" + QFileInfo(file).baseName() + ".rgb";
    if (!QFileInfo(image).isFile())
        return 4;
    std::printf("render_ms=%.1f frame_ms=%.1f peak_kb=%ld\n", (written - t0) / 1e6, (shown - t0) / 1e6,
                peakRssKb());
    return 0;
}

int animateMode(const QString &file, double seconds)
{
    Opened opened(file);
    if (!opened.shown())
        return 2;
    FrameWatch &watch = opened.watch;
    const qint64 busy = Scripts::busyNs(), t0 = monotonicNs();
    const int frames = watch.frames;
    QElapsedTimer clock;
    clock.start();
    watch.waitFor([&]() { return clock.elapsed() >= seconds * 1000; });
    const int drawn = watch.frames - frames;
    if (drawn < 1)
        return 3;
    std::printf("frames=%d frame_us=%.0f script_us=%.1f running=%d\n", drawn, (monotonicNs() - t0) / 1e3 / drawn,
                (Scripts::busyNs() - busy) / 1e3 / drawn, Scripts::runningCount());
    return 0;
}

int openMode(const QString &target, qint64 t0)
{
    harness::Scratch scratch;
    AnswerAtOnce answerer;
    qApp->installEventFilter(&answerer);
    BrowserWindow window{QString()};
    FrameWatch watch(&window);
    window.show();
    if (!watch.waitForFrameOf(nullptr))
        return 2;
    const qint64 shown = watch.frameEndNs;
    QComboBox *location = window.findChild<QComboBox *>("location");
    if (!location)
        return 3;
    const bool remote = target.startsWith("http://");
    location->lineEdit()->setText(remote ? target : QUrl::fromLocalFile(target).toString());
    const qint64 asked = monotonicNs();
    QMetaObject::invokeMethod(&window, "openLocation");
    if (!watch.waitFor([]() { return Browser::loadedScene() != nullptr; }))
        return 4;
    if (!watch.waitForFrameOf(Browser::loadedScene()))
        return 5;
    std::printf("open_ms=%.1f start_ms=%.1f peak_kb=%ld", (watch.frameEndNs - asked) / 1e6,
                (shown - t0) / 1e6, watch.frameEndPeakKb);
    printLoadTimes();
    std::printf("\n");
    return 0;
}

int gridMode(const QString &file, int nX, int nY)
{
    Opened opened(file);
    if (!opened.shown())
        return 2;
    BrowserWindow &window = opened.window;
    Browser *viewer = window.viewer();
    const int images = 4 * nY * (2 * nX + 1);
    // The on-screen redraw each view gets, alone, for the same count.
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < images; i++)
        viewer->render();
    const double redrawMs = clock.nsecsElapsed() / 1e6;
    clock.restart();
    viewer->osRenderMult(nX, nY);
    const double gridMs = clock.nsecsElapsed() / 1e6;
    std::printf("grid_ms=%.1f redraw_ms=%.1f images=%d peak_kb=%ld\n", gridMs, redrawMs, images,
                peakRssKb());
    return 0;
}

int serveMode(const QString &file)
{
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly))
        return 2;
    TestHttpServer server;
    if (!server.isListening())
        return 3;
    server.addRoute("/" + QFileInfo(file).fileName(), source.readAll(), "model/vrml");
    std::printf("port=%d\n", server.port());
    std::fflush(stdout);
    return qApp->exec();
}

// --- The driver -----------------------------------------------------------------

// Everything the benchmark reads, under dir; the sample scene is copied
// because the grid writes its images next to the document.
bool writeScenes(const QString &dir, int meshCells, int shapes, int httpCells, int scripted)
{
    QDir().mkpath(dir);
    if (!scenes::writeScripted(dir + "/scripted.wrl", scripted, true, 100)
        || !scenes::writeScripted(dir + "/unscripted.wrl", scripted, false, 100)
        || !scenes::writeScripted(dir + "/animated.wrl", 100, true, 100) || !scenes::writeMesh(dir + "/mesh.wrl", meshCells) || !scenes::writeShapes(dir + "/shapes.wrl", shapes)
        || !scenes::writeViewpoints(dir + "/viewpoints.wrl", 20)
        || !scenes::writeInlines(dir + "/inlines", "top.wrl", 25, 8)
        || !scenes::writeTextures(dir + "/textures", "top.wrl", 50)
        || !scenes::writeMesh(dir + "/document.wrl", httpCells))
        return false;
    const QString examples = harness::sourceDir() + "/examples";
    for (const QString &sub : { QString(), QString("/textures"), QString("/parts") }) {
        QDir().mkpath(dir + "/sample" + sub);
        for (const QString &name : QDir(examples + sub).entryList(QDir::Files))
            QFile::copy(examples + sub + "/" + name, dir + "/sample" + sub + "/" + name);
    }
    return true;
}

typedef std::map<QString, double> Figures;

QString benchDir() { return QCoreApplication::applicationDirPath(); }

// Runs one measured process; its last line of key=value pairs, as numbers.
bool runOne(const QString &program, QStringList args, const QString &workDir, Figures *out,
            bool passT0)
{
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    const qint64 t0 = monotonicNs();
    if (passT0)
        args << QString::number(t0);
    process.start(program, args);
    if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        std::fprintf(stderr, "failed: %s %s (exit %d)\n%s\n", qPrintable(program),
                     qPrintable(args.join(' ')), process.exitCode(),
                     process.readAllStandardError().right(2000).constData());
        return false;
    }
    QList<QByteArray> lines = process.readAllStandardOutput().trimmed().split('\n');
    for (const QByteArray &pair : lines.last().split(' ')) {
        const int eq = pair.indexOf('=');
        if (eq > 0)
            (*out)[QString::fromUtf8(pair.left(eq))] = pair.mid(eq + 1).toDouble();
    }
    if (lines.last().contains("size=")) {
        const QByteArray size = lines.last().mid(lines.last().indexOf("size=") + 5).split(' ').first();
        (*out)["width"] = size.split('x').value(0).toDouble();
        (*out)["height"] = size.split('x').value(1).toDouble();
    }
    return true;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// Half the range of the rounds, as a share of their median: the noise.
double spread(const std::vector<double> &values)
{
    if (values.size() < 2)
        return 0.0;
    const auto range = std::minmax_element(values.begin(), values.end());
    const double middle = median(values);
    return middle > 0 ? (*range.second - *range.first) / 2.0 / middle : 0.0;
}

struct Row
{
    QString label;
    QString unit;
    std::vector<double> quelvin, floor;
    QString target;
};

int driver(int rounds, bool smoke)
{
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return 2;
    const QString dir = scratch.path();
    QDir().mkpath(dir + "/run");
    const QString run = dir + "/run";
    const QString quelvin = QCoreApplication::applicationFilePath();
    const QString floorProgram = benchDir() + "/bench_floor";
    const QString windowFloor = benchDir() + "/bench_floor_window";

    // Smoke runs use small scenes and a small grid: they only show that
    // every row can be measured.
    const int meshCells = smoke ? 30 : 707;
    const int shapes = smoke ? 200 : 20000;
    const int gridX = smoke ? 1 : 6, gridY = smoke ? 1 : 6;
    const int httpCells = smoke ? 30 : 640;
    const int scripted = smoke ? 20 : 1000;
    QElapsedTimer clock;
    clock.start();
    const QString mesh = dir + "/mesh.wrl", many = dir + "/shapes.wrl", views = dir + "/viewpoints.wrl";
    const QString inlines = dir + "/inlines/top.wrl", textures = dir + "/textures/top.wrl";
    const QString document = dir + "/document.wrl";
    if (!writeScenes(dir, meshCells, shapes, httpCells, scripted)) {
        std::fprintf(stderr, "cannot write the scenes into %s\n", qPrintable(dir));
        return 2;
    }
    const QString sample = dir + "/sample/sample.wrl";
    std::printf("scenes written in %.1f s into %s (%.1f MB mesh, %.1f MB shapes, %.1f MB document)\n",
                clock.elapsed() / 1000.0, qPrintable(dir), QFileInfo(mesh).size() / 1e6,
                QFileInfo(many).size() / 1e6, QFileInfo(document).size() / 1e6);
    std::fflush(stdout);

    QProcess server;
    server.start(quelvin, { "serve", document });
    if (!server.waitForReadyRead(30000)) {
        std::fprintf(stderr, "the HTTP server did not start\n");
        return 2;
    }
    const int port = server.readLine().trimmed().mid(5).toInt();
    const QString url = QString("http://127.0.0.1:%1/document.wrl").arg(port);

    // The render-area size of a default window, for the floor's frames.
    Figures probe;
    if (!runOne(quelvin, { "frame", views }, run, &probe, true))
        return 3;
    const QString w = QString::number(int(probe["width"])), h = QString::number(int(probe["height"]));

    // The large models are held to the offscreen floor, where the scene is
    // nearly all of the run; the small ones to a bare viewer's window, whose
    // fixed cost is most of theirs. Both floors are printed for each.
    const struct { QString key, label, file; bool large; } models[] = {
        { "mesh", QString("mesh, %1 triangles").arg(2 * meshCells * meshCells), mesh, true },
        { "shapes", QString("%1 separate shapes").arg(shapes), many, true },
        { "viewpoints", "20 viewpoints", views, false },
        { "inlines", "inlines, depth 8, 200 files", inlines, false },
        { "textures", "50 textured shapes", textures, false },
    };
    std::map<QString, Row> rows;
    QStringList order;
    auto row = [&](const QString &key, const QString &label, const QString &unit,
                   const QString &target) -> Row & {
        if (!rows.count(key)) {
            order << key;
            rows[key] = Row{ label, unit, {}, {}, target };
        }
        return rows[key];
    };
    bool ok = true;
    for (int r = 0; r < rounds && ok; r++) {
        const bool floorFirst = r % 2 == 1;
        for (const auto &model : models) {
            Figures q, f, fw;
            for (int side = 0; side < 2 && ok; side++) {
                if ((side == 0) != floorFirst)
                    ok = runOne(quelvin, { "frame", model.file }, run, &q, true);
                else
                    ok = runOne(floorProgram, { "frame", model.file, w, h }, run, &f, true)
                         && runOne(windowFloor, { model.file, w, h }, run, &fw, true);
            }
            if (!ok)
                break;
            const QString offscreenTarget = model.large ? "<= 1.2" : "", windowTarget = model.large ? "" : "<= 1.2";
            row("t:" + model.key, "start to first frame: " + model.label, "ms", offscreenTarget)
                .quelvin.push_back(q["frame_ms"]);
            rows["t:" + model.key].floor.push_back(f["frame_ms"]);
            row("tw:" + model.key, "  against a bare viewer's window", "ms", windowTarget)
                .quelvin.push_back(q["frame_ms"]);
            rows["tw:" + model.key].floor.push_back(fw["frame_ms"]);
            row("m:" + model.key, "peak memory: " + model.label, "MB", offscreenTarget)
                .quelvin.push_back(q["peak_kb"] / 1024.0);
            rows["m:" + model.key].floor.push_back(f["peak_kb"] / 1024.0);
            row("mw:" + model.key, "  against a bare viewer's window", "MB", windowTarget)
                .quelvin.push_back(q["peak_kb"] / 1024.0);
            rows["mw:" + model.key].floor.push_back(fw["peak_kb"] / 1024.0);
            if (model.large) {
                // The row a user lives: open, see, File > Render; against
                // reading, one offscreen frame and writing it.
                Figures qr, fr;
                for (int side = 0; side < 2 && ok; side++) {
                    if ((side == 0) != floorFirst)
                        ok = runOne(quelvin, { "render", model.file }, run, &qr, true);
                    else
                        ok = runOne(floorProgram, { "frame", model.file, w, h, run + "/floor.rgb" }, run, &fr, true);
                }
                if (!ok)
                    break;
                row("r:" + model.key, "open, frame, File > Render: " + model.label, "ms", "<= 1.2")
                    .quelvin.push_back(qr["render_ms"]);
                rows["r:" + model.key].floor.push_back(fr["frame_ms"]);
                row("rm:" + model.key, "peak memory, open to Render: " + model.label, "MB", "<= 1.2")
                    .quelvin.push_back(qr["peak_kb"] / 1024.0);
                rows["rm:" + model.key].floor.push_back(fr["peak_kb"] / 1024.0);
            }
            if (model.key == "shapes") {
                Figures fa;
                ok = runOne(floorProgram, { "analysis", model.file, run + "/floor.log" }, run, &fa, false);
                row("a:shapes", QString("analysis (viewer log), %1 shapes").arg(shapes), "ms", "")
                    .quelvin.push_back(q["analysis_ms"]);
                rows["a:shapes"].floor.push_back(fa["analysis_ms"]);
            }
        }
        if (!ok)
            break;
        Figures qg, fg;
        ok = runOne(quelvin, { "grid", sample, QString::number(gridX), QString::number(gridY) }, run, &qg, false)
             && runOne(floorProgram, { "grid", sample, w, h, QString::number(gridX), QString::number(gridY) },
                       run, &fg, false);
        if (!ok)
            break;
        const QString images = QString::number(int(qg["images"]));
        row("g", QString("grid %1 x %2 = %3 images, sample.wrl").arg(gridX).arg(gridY).arg(images), "ms",
            "<= 1.5")
            .quelvin.push_back(qg["grid_ms"]);
        rows["g"].floor.push_back(fg["grid_ms"]);
        row("g:redraw", "  on-screen redraws alone, " + images + " of them", "ms", "").quelvin.push_back(qg["redraw_ms"]);
        rows["g:redraw"].floor.push_back(0.0);

        // Scripts against the same world without them, both in Quelvin, in
        // the order with, without, without, with: the first program to
        // start after the grid's is a few percent slower than the next. And
        // the scripts' share of the time between frames.
        Figures withScripts[2], without[2], animated;
        ok = runOne(quelvin, { "frame", dir + "/scripted.wrl" }, run, &withScripts[0], true)
             && runOne(quelvin, { "frame", dir + "/unscripted.wrl" }, run, &without[0], true)
             && runOne(quelvin, { "frame", dir + "/unscripted.wrl" }, run, &without[1], true)
             && runOne(quelvin, { "frame", dir + "/scripted.wrl" }, run, &withScripts[1], true)
             && runOne(quelvin, { "animate", dir + "/animated.wrl", smoke ? "1" : "5" }, run, &animated, false);
        if (!ok)
            break;
        const QString instances = QString("%1 PROTO instances").arg(scripted);
        for (int k = 0; k < 2; k++) {
            row("s:t", "first frame: " + instances + " with Scripts / without", "ms", "<= 1.3")
                .quelvin.push_back(withScripts[k]["frame_ms"]);
            rows["s:t"].floor.push_back(without[k]["frame_ms"]);
            row("s:m", "peak memory: " + instances + " with Scripts / without", "MB", "<= 1.2")
                .quelvin.push_back(withScripts[k]["peak_kb"] / 1024.0);
            rows["s:m"].floor.push_back(without[k]["peak_kb"] / 1024.0);
        }
        row("s:a", "TimeSensor driving 100 scripts: their time / a frame's", "us", "< 0.10")
            .quelvin.push_back(animated["script_us"]);
        rows["s:a"].floor.push_back(animated["frame_us"]);

        Figures disk, remote, fetched;
        ok = runOne(floorProgram, { "download", url, w, h }, run, &fetched, true)
             && runOne(quelvin, { "open", url }, run, &remote, true)
             && runOne(quelvin, { "open", document }, run, &disk, true);
        if (!ok)
            break;
        const QString mb = QString::number(QFileInfo(document).size() / 1e6, 'f', 0);
        row("h", QString("HTTP %1 MB document vs disk + transfer").arg(mb), "ms", "<= 1.2")
            .quelvin.push_back(remote["open_ms"]);
        rows["h"].floor.push_back(disk["open_ms"] + fetched["transfer_ms"]);
        row("h:disk", "  of which: Quelvin from disk, open to frame", "ms", "").quelvin.push_back(disk["open_ms"]);
        rows["h:disk"].floor.push_back(0.0);
        row("h:transfer", "  of which: loopback transfer (QNetworkAccessManager)", "ms", "").quelvin.push_back(0.0);
        rows["h:transfer"].floor.push_back(fetched["transfer_ms"]);
        row("h:floor", "  floor download mode: start, fetch, read, frame", "ms", "").quelvin.push_back(0.0);
        rows["h:floor"].floor.push_back(fetched["frame_ms"]);
        std::fprintf(stderr, "round %d of %d done\n", r + 1, rounds);
    }
    server.kill();
    server.waitForFinished(5000);
    if (!ok)
        return 4;

    std::printf("\nmedians of %d rounds, render area %s x %s px; ratio = Quelvin / floor; noise = half the\n"
                "range of the rounds over their median, the larger of the two sides\n\n",
                rounds,
                qPrintable(w), qPrintable(h));
    std::printf("| %-52s | %10s | %10s | %6s | %7s | %6s |\n", "case", "Quelvin", "floor", "ratio", "target",
                "noise");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", QByteArray(54, '-').constData(), QByteArray(12, '-').constData(),
                QByteArray(12, '-').constData(), QByteArray(8, '-').constData(), QByteArray(9, '-').constData(),
                QByteArray(8, '-').constData());
    int missing = 0;
    for (const QString &key : order) {
        const Row &entry = rows[key];
        const double q = median(entry.quelvin), f = median(entry.floor);
        // Rows with a target compare two figures; both must have come.
        if (!entry.target.isEmpty() && (q <= 0 || f <= 0))
            missing++;
        const QString qs = q > 0 ? QString("%1 %2").arg(q, 0, 'f', 0).arg(entry.unit) : QString("-");
        const QString fs = f > 0 ? QString("%1 %2").arg(f, 0, 'f', 0).arg(entry.unit) : QString("-");
        const QString ratio = q > 0 && f > 0 ? QString::number(q / f, 'f', 2) : QString("-");
        const double noise = std::max(spread(entry.quelvin), spread(entry.floor));
        const QString noiseText = rounds > 1 ? QString("%1 %").arg(100.0 * noise, 0, 'f', 0) : QString("-");
        std::printf("| %-52s | %10s | %10s | %6s | %7s | %6s |\n", qPrintable(entry.label), qPrintable(qs),
                    qPrintable(fs), qPrintable(ratio), qPrintable(entry.target), qPrintable(noiseText));
    }
    if (missing)
        std::fprintf(stderr, "%d rows without a figure\n", missing);
    return missing ? 5 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0);
    if (mode == "frame" && args.size() == 3)
        return frameMode(args[1], args[2].toLongLong());
    if (mode == "open" && args.size() == 3)
        return openMode(args[1], args[2].toLongLong());
    if (mode == "render" && args.size() == 3)
        return renderMode(args[1], args[2].toLongLong());
    if (mode == "grid" && args.size() == 4)
        return gridMode(args[1], args[2].toInt(), args[3].toInt());
    if (mode == "animate" && args.size() == 3)
        return animateMode(args[1], args[2].toDouble());
    if (mode == "serve" && args.size() == 2)
        return serveMode(args[1]);
    if (mode == "scenes" && args.size() == 2)
        return writeScenes(args[1], 707, 20000, 640, 1000) ? 0 : 2;
    int rounds = 5;
    bool smoke = false;
    for (int i = 0; i < args.size(); i++) {
        if (args[i] == "--smoke") {
            smoke = true;
            rounds = 1;
        } else if (args[i] == "--rounds" && i + 1 < args.size()) {
            rounds = std::max(1, args[++i].toInt());
        } else {
            std::fprintf(stderr, "usage: bench_quelvin [--rounds N] [--smoke]\n");
            return 1;
        }
    }
    return driver(rounds, smoke);
}
