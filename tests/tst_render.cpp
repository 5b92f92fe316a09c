// Writing the view to SGI RGB files: the single image, the grid of views
// turned about the screen axes, and the render-area size command, driven
// through the window's actions and dialogs as a user would.
//
// The model is a copy of a corpus scene (a red sphere on the right, a blue
// box on the left, sky behind) in a scratch folder, since images are written
// next to the document. A failed image comparison leaves the actual image and
// a difference image in the suite's output folder.

#include "harness.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <Inventor/SbViewVolume.h>
#include <Inventor/nodes/SoCamera.h>

#include <QtTest>
#include <QtWidgets>
#include <sys/inotify.h>
#include <unistd.h>

using harness::Box;
using Boxes = QList<Box>;

static const QSize kBase(400, 300);
static const Boxes kAsked{{"input", "Render multiple images", "No. <em>x</em>-axis intervals/quadrant:"},
                          {"input", "Render multiple images", "No. <em>y-axis</em> intervals/quadrant:"}};
static const QString kDone = "Images written successfully\n", kFailed = "failed to write image\n";

class TestRender : public QObject
{
    Q_OBJECT

    harness::Scratch scratch;
    const QString modelDir = scratch.file("model");
    harness::ModalAnswerer answerer;
    BrowserWindow *window = nullptr;
    Browser *viewer = nullptr;
    int watch = -1;

    QAction *action(const char *name) { return window->findChild<QAction *>(name); }
    Boxes run(const char *name, QList<int> answers = {})
    {
        answerer.clear();
        for (int answer : answers)
            answer < 0 ? answerer.queueCancel() : answerer.queueInt(answer);
        action(name)->trigger();
        return answerer.boxes;
    }
    QImage renderSingle()
    {
        const QString target = modelDir + "/18.rgb";
        const bool ok = run("actionRender") == Boxes{{"information", "Quelvin viewer", "Image written to " + target}};
        return ok ? harness::readSgi(target) : QImage();
    }
    // Both images come from the same GL implementation, so only a few edge
    // pixels may differ, and only a little.
    bool matches(const QImage &image, const QImage &reference, const char *what)
    {
        return harness::imagesMatch(image, reference, 12, 0.003, what);
    }
    // The files written in the model's folder since the last call, in the
    // order the kernel saw them closed.
    QStringList written()
    {
        QStringList names;
        alignas(inotify_event) char buffer[64 * 1024];
        for (ssize_t got, at = 0; (got = ::read(watch, buffer, sizeof buffer)) > 0; at = 0)
            for (const inotify_event *e; at < got; at += ssize_t(sizeof(inotify_event) + e->len))
                names << QFile::decodeName((e = reinterpret_cast<const inotify_event *>(buffer + at))->name);
        return names;
    }

private slots:
    // The model is loaded, the render area set to the base size, and the
    // model framed by the examiner's "View All" button (the fifth beside the
    // view): its first viewpoint alone stands between the two shapes.
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(modelDir + "/helpers"));
        const QString corpus = harness::corpusDir() + "/freewrl/tests";
        QVERIFY(QFile::copy(corpus + "/18.wrl", modelDir + "/18.wrl"));
        QVERIFY(QFile::copy(corpus + "/helpers/Simple.wrl", modelDir + "/helpers/Simple.wrl"));
        watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(inotify_add_watch(watch, QFile::encodeName(modelDir).constData(), IN_CLOSE_WRITE) >= 0);
        window = new BrowserWindow(modelDir + "/18.wrl");
        viewer = window->viewer();
        QVERIFY(harness::shown(window));
        run("actionSet_window_size", {kBase.width(), kBase.height()});
        QTRY_COMPARE(viewer->getGLWidget()->size(), kBase);
        QTest::mouseClick(viewer->getWidget()->findChildren<QPushButton *>().at(4), Qt::LeftButton);
        harness::settle(50);
    }

    void singleImage()
    {
        const QImage image = renderSingle();
        QCOMPARE(image.size(), kBase);
        // Drawn by the same software GL as the reference: a few edge pixels may differ a little.
        QVERIFY(harness::matchesBaseline(image, "start-view", 12, 0.003));
    }

    void commands_data()
    {
        QTest::addColumn<QList<int>>("intervals"); // about the x and the y axis
        QTest::addColumn<QString>("blocked"); // a directory in the way of this image
        QTest::addColumn<QString>("report");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("sequence"); // images written one after the other

        const QStringList quarterY{"18_000_270.rgb", "18_000_000.rgb", "18_000_090.rgb", "18_000_180.rgb"};
        QTest::newRow("0 and 1") << QList<int>{0, 1} << "" << kDone << 4 << quarterY;
        QTest::newRow("2 and 1") << QList<int>{2, 1} << "" << kDone << 20
                                 << QStringList{"18_270_270.rgb", "18_315_270.rgb", "18_000_270.rgb"};
        // 90/7 degrees is no whole number: the names cut the angles, not round them.
        QTest::newRow("7 and 1") << QList<int>{7, 1} << "" << kDone << 60
                                 << QStringList{"18_334_270.rgb", "18_347_270.rgb", "18_000_270.rgb", "18_012_270.rgb"};
        QTest::newRow("no y intervals") << QList<int>{3, 0} << "" << kDone << 0 << QStringList();
        QTest::newRow("blocked at 4") << QList<int>{0, 1} << quarterY[3] << kFailed << 3 << QStringList(quarterY.mid(0, 3));
    }

    // Every image written is a real SGI file of the render area's size; a
    // failure to write ends the command there, with no report of success.
    void commands()
    {
        QFETCH(QList<int>, intervals);
        QFETCH(QString, blocked);
        QFETCH(QString, report);
        QFETCH(int, count);
        QFETCH(QStringList, sequence);
        written();
        const QString obstacle = modelDir + "/" + blocked;
        auto unblock = qScopeGuard([&]() { blocked.isEmpty() || QDir(obstacle).removeRecursively(); });
        QVERIFY(blocked.isEmpty() || (QFile::remove(obstacle), QDir().mkpath(obstacle)));
        QCOMPARE(run("actionRender_multiple", intervals), (kAsked + Boxes{{"information", "Quelvin viewer", report}}));
        const QStringList names = written();
        QCOMPARE(names.size(), count);
        QCOMPARE(names.mid(names.indexOf(sequence.value(0)), sequence.size()), sequence);
        for (const QString &name : names)
            QVERIFY2(harness::readSgi(modelDir + "/" + name).size() == kBase, qPrintable(name));
    }

    // The grid's 000_090 view is its 000_000 view turned a quarter about the
    // vertical axis, as the y button turns it; and the grid keeps the view it
    // began from (its 000_000 view) as the home position, in place of the one
    // saved before.
    void gridTurnsAndHome()
    {
        action("actionSave_home_position")->trigger();
        QPushButton *turnY = window->findChild<QPushButton *>("yButton");
        window->findChild<QSpinBox *>("ySpin")->setValue(90);
        QTest::mouseClick(turnY, Qt::LeftButton);
        harness::settle(50); // the viewer fits its clipping planes when it next draws
        QCOMPARE(run("actionRender_multiple", {0, 1}), (kAsked + Boxes{{"information", "Quelvin viewer", kDone}}));
        action("actionGo_to_home_position")->trigger();
        harness::settle(50);
        QVERIFY(matches(renderSingle(), harness::readSgi(modelDir + "/18_000_000.rgb"), "grid-000"));
        QTest::mouseClick(turnY, Qt::LeftButton);
        harness::settle(50);
        QVERIFY(matches(renderSingle(), harness::readSgi(modelDir + "/18_000_090.rgb"), "grid-090"));
    }

    // Cancelling the height changes nothing; a new size holds for the viewport
    // at once, and so for the next image.
    void setSize()
    {
        run("actionSet_window_size", {500, -1}); // the height cancelled
        harness::settle(100);
        QCOMPARE(viewer->getGLWidget()->size(), kBase);
        QVERIFY(viewer->getViewportRegion().getViewportSizePixels() == SbVec2s(400, 300));
        run("actionSet_window_size", {640, 480});
        QVERIFY(viewer->getViewportRegion().getViewportSizePixels() == SbVec2s(640, 480));
        QCOMPARE(renderSingle().size(), QSize(640, 480));
    }

    // Worlds whose look comes from their scripts (tests/data/scripts): the
    // colour seen at x = 3 (after a click on the middle, or in turn with
    // red as time runs), and lines the viewer log holds after the load.
    void scripts_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("doing");
        QTest::addColumn<QColor>("seen");
        QTest::addColumn<QStringList>("logged");
        const QColor green(0, 255, 0);
        const QStringList one{"scripts: 1 running"}, two{"scripts: 2 running"};
        QTest::newRow("moved at start") << "moved.wrl" << "" << green << one;
        QTest::newRow("from a .js file") << "moved_js.wrl" << "" << green << one;
        QTest::newRow("in PROTO instances and an inline") << "proto.wrl" << "" << green << QStringList{"scripts: 3 running"};
        QTest::newRow("values, methods, an eventIn") << "values.wrl" << "" << green << two;
        QTest::newRow("createVrmlFromString, a script in it") << "created.wrl" << "" << green << two;
        QTest::newRow("TimeSensor") << "timed.wrl" << "time" << QColor(0, 0, 255) << one;
        QTest::newRow("TouchSensor") << "clicked.wrl" << "click" << green << one;
        QTest::newRow("Browser calls") << "browser.wrl" << "" << green << two + QStringList{"Quelvin 1 Transform", "ticks 3"};
        QTest::newRow("geometry a PROTO's Script builds") << "built.wrl" << "" << green << one;
        QTest::newRow("replaceWorld") << "replaced.wrl" << "" << green << one;
        // The link is followed as an anchor's: the red box takes the green one's place.
        QTest::newRow("loadURL") << "loaded.wrl" << "" << QColor(Qt::red) << QStringList{};
        QTest::newRow("loops, throws, fails") << "stuck.wrl" << "" << green << QStringList{
            "scripts: 1 running, 5 not started (1 load failure, 1 no supported url, 1 ran too long, 2 syntax error)",
            "script Broken: SyntaxError: Expected token `}' (stuck.wrl:2)",
            "script AlsoBroken: SyntaxError: Expected token `}' (stuck.wrl:2)",
            "script Forever: initialize() ran longer than 250 ms and was stopped",
            "script Thrower: TypeError: Value is null and could not be converted to an object (stuck.wrl:2) in initialize()"};
        QTest::newRow("values out of range") << "bad_indices.wrl" << "" << green << QStringList{
            "script Wrecker: picture not sent: an image whose size does not match its pixels",
            "script values left out: 1 unusable geometry data (IndexedFaceSet)"};
    }

    void scripts()
    {
        QFETCH(QString, file);
        QFETCH(QString, doing);
        QFETCH(QColor, seen);
        QFETCH(QStringList, logged);
        const QString path = harness::sourceDir() + "/tests/data/scripts/" + file;
        const int from = harness::readBytes(scratch.file("quelvinViewer.log")).size();
        harness::typeLocation(window, path);
        QCOMPARE(viewer->currentFileName(), path);
        viewer->setViewing(false);
        harness::settle(50);
        // Where the point (x, 0, 1), on the boxes' front faces, is seen.
        auto pixel = [this](float x) {
            SbVec3f s;
            viewer->getCamera()->getViewVolume(viewer->getViewportRegion().getViewportAspectRatio())
                .projectToScreen(SbVec3f(x, 0, 1), s);
            return QPoint(int(s[0] * viewer->getGLWidget()->width()), int((1 - s[1]) * viewer->getGLWidget()->height()));
        };
        if (doing == "click")
            QTest::mouseClick(viewer->getGLWidget(), Qt::LeftButton, Qt::NoModifier, pixel(0));
        const QRect spot(pixel(3) - QPoint(4, 4), QSize(9, 9));
        auto log = [&]() { return QString::fromUtf8(harness::readBytes(scratch.file("quelvinViewer.log")).mid(from)).split('\n'); };
        for (const QColor &colour : doing == "time" ? QList<QColor>{Qt::red, seen, Qt::red} : QList<QColor>{seen}) {
            QImage image;
            QElapsedTimer clock;
            clock.start();
            while (harness::fractionNear(image = harness::grabViewer(viewer), spot, colour, 40) < 0.9 && clock.elapsed() < 5000)
                harness::settle(10);
            QVERIFY2(harness::fractionNear(image, spot, colour, 40) >= 0.9, qPrintable(colour.name() + "\n" + log().join('\n')));
        }
        for (const QString &line : logged)
            QVERIFY2(log().contains(line), qPrintable(line + " not in\n" + log().join('\n')));
    }
};

QTEST_MAIN(TestRender)
#include "tst_render.moc"
