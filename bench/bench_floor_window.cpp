// The floor of a real window: a bare SoQt examiner viewer as the central
// widget of a QMainWindow, opening FILE, up to the end of its first frame on
// screen. What any SoQt program pays for a window, a GL context on it, the
// viewer's widgets and mapping them; the small scenes, whose whole run is
// little more than that, are compared with this rather than with an
// offscreen frame.
//
//   bench_floor_window FILE W H T0
//
// W x H is the size the view is given (the render area of Quelvin's default
// window); T0 is the CLOCK_MONOTONIC time (ns) at which the caller started
// this process. Prints frame_ms and peak_kb, like bench_floor.
#include "bench_clock.h"

#include <Inventor/Qt/SoQt.h>
#include <Inventor/Qt/viewers/SoQtExaminerViewer.h>
#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/VRMLnodes/SoVRMLImageTexture.h>
#include <Inventor/actions/SoGLRenderAction.h>
#include <Inventor/nodes/SoSeparator.h>

#include <QApplication>
#include <QMainWindow>
#include <QWindow>

#include <cstdio>
#include <cstdlib>

namespace {

// A render starts inside one event; the first event delivered after it
// marks its end, and the event posted from the render makes sure there is
// one. Renders before the window is exposed show nothing and do not count.
class FirstFrame : public QObject
{
public:
    FirstFrame(QMainWindow *shown, SoGLRenderAction *action) : window(shown)
    {
        action->addPreRenderCallback(&FirstFrame::preRender, this);
        qApp->installEventFilter(this);
    }
    qint64 endNs = 0;
    long peakKb = 0;

protected:
    bool eventFilter(QObject *, QEvent *) override
    {
        if (rendering && !endNs) {
            endNs = monotonicNs();
            peakKb = peakRssKb();
            QCoreApplication::exit(0);
        }
        return false;
    }

private:
    static void preRender(void *data, SoGLRenderAction *)
    {
        auto *watch = static_cast<FirstFrame *>(data);
        QWindow *handle = watch->window->windowHandle();
        if (handle && handle->isExposed() && !watch->rendering) {
            watch->rendering = true;
            QCoreApplication::postEvent(watch, new QEvent(QEvent::User));
        }
    }
    QMainWindow *window;
    bool rendering = false;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: bench_floor_window FILE W H T0\n");
        return 1;
    }
    const int w = atoi(argv[2]), h = atoi(argv[3]);
    const qint64 t0 = atoll(argv[4]);
    QApplication app(argc, argv);
    QMainWindow window;
    SoQt::init(&window);
    // A frame is only complete with its textures, as in bench_floor.
    SoVRMLImageTexture::setDelayFetchURL(FALSE);
    SoInput in;
    if (!in.openFile(argv[1]))
        return 2;
    SoSeparator *scene = SoDB::readAll(&in);
    if (!scene)
        return 2;
    scene->ref();
    SoQtExaminerViewer viewer(&window);
    window.setCentralWidget(viewer.getWidget());
    viewer.setSceneGraph(scene);
    viewer.getGLWidget()->setMinimumSize(w, h);
    viewer.getGLWidget()->setMaximumSize(w, h);
    FirstFrame watch(&window, viewer.getGLRenderAction());
    window.show();
    app.exec();
    if (!watch.endNs)
        return 3;
    std::printf("frame_ms=%.1f peak_kb=%ld\n", (watch.endNs - t0) / 1e6, watch.peakKb);
    return 0;
}
