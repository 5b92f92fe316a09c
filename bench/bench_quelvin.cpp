// Times the things people wait for: opening large models, one offscreen
// image, and the default grid of 312 images. Prints figures only.
#include "harness.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <QTextStream>

#include <cstdio>

static long peakRssKb()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

static double openThroughLocation(BrowserWindow *window, const QString &path)
{
    QComboBox *location = window->findChild<QComboBox *>("location");
    location->lineEdit()->setText(QUrl::fromLocalFile(path).toString());
    QElapsedTimer clock;
    clock.start();
    QMetaObject::invokeMethod(window, "openLocation");
    return clock.nsecsElapsed() / 1e6;
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    harness::Scratch scratch;
    harness::ModalAnswerer answerer;
    BrowserWindow *window = new BrowserWindow(QString());
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        return 1;
    Browser *viewer = window->viewer();

    const QString corpus = harness::corpusDir();
    const QStringList models = {
        "castle-demo-models/vrml_2/waves/waves.wrl.gz",
        "castle-demo-models/x3d/regular_labirynth_chinchilla.wrl.gz",
        "castle-demo-models/lights_materials/transparent_materials.wrl",
        "white_dune/docs/usage_docs/nxtdials.wrl.gz",
        "white_dune/docs/typical_vrml_examples/ecmascript/switching_animations.wrl",
        "choreonoid/share/model/Labo1/Labo1.wrl",
    };
    printf("%-72s %10s %12s  %s\n", "open (includes the 'Viewer' box round trip)", "ms",
           "peak RSS kB", "outcome");
    for (const QString &model : models) {
        SoSeparator *before = Browser::loadedScene();
        const double ms = openThroughLocation(window, corpus + "/" + model);
        printf("%-72s %10.1f %12ld  %s\n", qPrintable(model), ms, peakRssKb(),
               Browser::loadedScene() != before ? "shown" : "Coin could not read it");
    }

    // Images go next to the document: work on a copy in the scratch dir.
    const QString model = scratch.file("labirynth.wrl.gz");
    QFile::copy(corpus + "/castle-demo-models/x3d/regular_labirynth_chinchilla.wrl.gz", model);
    openThroughLocation(window, model);
    QElapsedTimer clock;
    clock.start();
    viewer->osRender();
    printf("%-72s %10.1f\n", "one offscreen image at the window's size", clock.nsecsElapsed() / 1e6);

    const SbVec2s size = viewer->getViewportRegion().getViewportSizePixels();
    clock.restart();
    viewer->osRenderMult(6, 6);
    const double gridMs = clock.nsecsElapsed() / 1e6;
    printf("%-72s %10.1f  (%d x %d px, %.1f ms per image)\n", "grid 6 x 6 = 312 images", gridMs,
           size[0], size[1], gridMs / 312.0);
    printf("peak RSS at end: %ld kB\n", peakRssKb());
    return 0;
}
