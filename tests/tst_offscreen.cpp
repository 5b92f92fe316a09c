// Offscreen rendering through Coin with the GL contexts of quelvin_glcontext:
// the images, the SGI files, and an on-screen viewer's context around it.

#include "harness.h"
#include "quelvin_glcontext.h"
#include "quelvin_viewrenderer.h"

#include <Inventor/Qt/SoQt.h>
#include <Inventor/Qt/viewers/SoQtExaminerViewer.h>
#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/SoOffscreenRenderer.h>
#include <Inventor/nodes/SoMaterial.h>
#include <Inventor/nodes/SoSeparator.h>

#include <QGLWidget>
#include <QOpenGLContext>
#include <QScreen>
#include <QtTest>

// The scene below seen 10 units high: the centre cube fills the middle and a
// green one sits 35% of the height above it, which tells a flipped image.
// Lit faces vary a little with Mesa's version (tolerance 60); the clear colour does not (2).
static bool showsScene(const QImage &image, QColor centre, QColor background, const QString &name)
{
    const int w = image.width(), h = image.height(), dy = h * 35 / 100;
    const bool ok = !image.isNull() && harness::near(image.pixelColor(w / 2, h / 2), centre, 60)
        && harness::near(image.pixelColor(w / 2, h / 2 - dy), Qt::green, 60)
        && harness::near(image.pixelColor(w / 2, h / 2 + dy), background, 2)
        && harness::near(image.pixelColor(0, 0), background, 2)
        && harness::near(image.pixelColor(w - 1, h - 1), background, 2);
    if (!ok)
        harness::keepImage(image, name + "-actual");
    return ok;
}

class TestOffscreen : public QObject
{
    Q_OBJECT
    harness::Scratch scratch; // the working directory
    SoSeparator *scene = nullptr;

private slots:
    void initTestCase()
    {
        SoQt::init("tst_offscreen");
        installOffscreenContexts();
        static const char text[] = "#Inventor V2.1 ascii\n"
            "OrthographicCamera { position 0 0 10 height 10 nearDistance 1 farDistance 20 }\n"
            "DirectionalLight {} Material { diffuseColor 1 0 0 } Cube {}\n"
            "Translation { translation 0 3.5 0 } Material { diffuseColor 0 1 0 } Cube {}\n";
        SoInput in;
        in.setBuffer(text, sizeof text - 1);
        scene = SoDB::readAll(&in);
        scene->ref();
    }

    void oneRendererManyTimes()
    {
        // As thumbnails would use it; changing sizes make Coin both reuse its context and replace it.
        SoOffscreenRenderer renderer(SbViewportRegion(200, 150));
        for (int i = 0; i < 9; ++i) {
            const QSize size = QList<QSize>{ { 200, 150 }, { 640, 480 }, { 64, 48 } }.at(i % 3);
            const QColor centre = i % 2 ? Qt::blue : Qt::red, background = i % 4 ? Qt::black : Qt::blue;
            const int components = i < 3 ? 4 : 3;
            static_cast<SoMaterial *>(scene->getChild(2))->diffuseColor.setValue(centre.redF(), centre.greenF(), centre.blueF());
            renderer.setViewportRegion(SbViewportRegion(short(size.width()), short(size.height())));
            renderer.setBackgroundColor(SbColor(background.redF(), background.greenF(), background.blueF()));
            renderer.setComponents(SoOffscreenRenderer::Components(components));
            QVERIFY2(renderer.render(scene), qPrintable(QString::number(i)));
            // Coin's buffer runs bottom to top, like GL.
            const QImage image = QImage(renderer.getBuffer(), size.width(), size.height(), size.width() * components,
                components == 4 ? QImage::Format_RGBA8888 : QImage::Format_RGB888).mirrored().convertToFormat(QImage::Format_RGB32);
            QVERIFY2(showsScene(image, centre, background, QString::number(i)), qPrintable(QString::number(i)));
            QVERIFY(renderer.writeToRGB("out.rgb")); // into the scratch directory
            QVERIFY(harness::imagesMatch(harness::readSgi("out.rgb"), image, 0, 0.0, "sgi"));
        }
    }

    void viewerContextStaysCurrent()
    {
        SoQtExaminerViewer viewer(nullptr);
        viewer.setSceneGraph(scene);
        viewer.show();
        auto *gl = qobject_cast<QGLWidget *>(viewer.getGLWidget());
        QVERIFY(gl && QTest::qWaitForWindowExposed(gl));
        harness::settle(); // sized and drawn once by Qt itself
        gl->makeCurrent();
        QOpenGLContext *context = QOpenGLContext::currentContext();
        SoOffscreenRenderer renderer(SbViewportRegion(200, 150));
        QVERIFY(context && renderer.render(scene));
        QCOMPARE(QOpenGLContext::currentContext(), context);
        QVERIFY(renderer.getBuffer()); // reads back in the offscreen context once more
        QCOMPARE(QOpenGLContext::currentContext(), context);
        // The view's images, drawn in the view's own context, are the files Coin's renderer writes.
        SoOffscreenRenderer apart(viewer.getViewportRegion());
        ViewRenderer inView(&viewer);
        QVERIFY(apart.render(scene) && apart.writeToRGB("apart.rgb") && inView.render(scene) && inView.writeToRGB("view.rgb"));
        QVERIFY(inView.drewInView());
        QCOMPARE(harness::readBytes("view.rgb"), harness::readBytes("apart.rgb"));
        // A frame drawn into the wrong context would be missing from what the X server shows.
        static_cast<SoMaterial *>(scene->getChild(2))->diffuseColor.setValue(0, 0, 1);
        viewer.render();
        QVERIFY(showsScene(gl->screen()->grabWindow(gl->winId()).toImage(), Qt::blue, Qt::black, "viewer"));
    }
};

QTEST_MAIN(TestOffscreen)
#include "tst_offscreen.moc"
