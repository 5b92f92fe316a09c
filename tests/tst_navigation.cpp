// Looking around a model: the rotation buttons, wheels and knob with the
// orientation they show, the viewpoint list, the home position and the display
// modes, driven through the window as a user does. Expected placements come
// from the scene files and Coin's rotation arithmetic, never from the program.
// Then picking with the mouse, and taking links out of the scene and back with
// Delete, Undelete and "Go to viewpoint". The links lead to a file that does
// not exist, so following one leaves the scene on screen. Every crate of those
// scenes is a glowing 2-unit cube on the x axis.
#include "harness.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <Inventor/SbViewVolume.h>
#include <Inventor/SoFullPath.h>
#include <Inventor/VRMLnodes/SoVRMLViewpoint.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/nodes/SoOrthographicCamera.h>
#include <Inventor/nodes/SoPerspectiveCamera.h>
#include <Inventor/nodes/SoSeparator.h>
#include <qwt_knob.h>
#include <QtTest>
#include <QtWidgets>
#include <fcntl.h>
#include <unistd.h>

using harness::moveHeld;

class TestNavigation : public QObject
{
    Q_OBJECT
    harness::Scratch scratch;
    harness::ModalAnswerer answerer;
    BrowserWindow *window = new BrowserWindow(QString());
    Browser *viewer = window->viewer();
    QWidget *gl = viewer->getGLWidget();
    QComboBox *list = window->findChild<QComboBox *>("viewpoints");
    QImage last;

    QAction *action(const QString &name) { return window->findChild<QAction *>(name); }
    SoCamera *camera() { return viewer->getCamera(); }
    QString status() { return window->statusBar()->currentMessage(); }
    QString data(const char *name) { return harness::sourceDir() + "/tests/data/navigation/" + name; }
    QImage frame() { return last = harness::grabViewer(viewer); }

    // Viewing or picking, as the test needs the mouse.
    bool load(const QString &path, bool viewing = true)
    {
        harness::typeLocation(window, QUrl::fromLocalFile(path).toString());
        viewer->setViewing(viewing);
        return viewer->currentFileName() == path;
    }

    // Taken from the open list, which also works for the entry already shown.
    bool choose(int index)
    {
        list->showPopup();
        list->view()->setCurrentIndex(list->model()->index(index, 0));
        QTest::keyClick(list->view(), Qt::Key_Return);
        return list->currentIndex() == index && !list->view()->isVisible();
    }

    void drag(QPoint by) { harness::drag(gl, by); }

    // Let go while still moving: the model spins on by itself.
    void flick(QPoint by)
    {
        const QPoint from(gl->width() / 2, gl->height() / 2);
        QTest::mousePress(gl, Qt::LeftButton, Qt::NoModifier, from);
        for (int i = 1; i <= 4; ++i)
            moveHeld(gl, from + by * i / 4);
        QTest::mouseRelease(gl, Qt::LeftButton, Qt::NoModifier, from + by);
    }

    // The placements the shown scene's viewpoint nodes hold, those inside
    // inlines included.
    QList<SbVec3f> viewpointFields()
    {
        SoSearchAction search;
        search.setType(SoVRMLViewpoint::getClassTypeId());
        search.setInterest(SoSearchAction::ALL);
        search.setSearchingAll(TRUE);
        search.apply(Browser::loadedScene());
        QList<SbVec3f> fields;
        for (int i = 0; i < search.getPaths().getLength(); ++i) {
            auto *node = static_cast<SoVRMLViewpoint *>(static_cast<SoFullPath *>(search.getPaths()[i])->getTail());
            SbVec3f axis;
            float angle;
            node->orientation.getValue(axis, angle);
            fields << node->position.getValue() << axis << SbVec3f(angle, 0, 0);
        }
        return fields;
    }

    void press(char axis, int step)
    {
        window->findChild<QSpinBox *>(QString(axis) + "Spin")->setValue(step);
        QTest::mouseClick(window->findChild<QPushButton *>(QString(axis) + "Button"), Qt::LeftButton);
    }

    // Drags a wheel along, or the knob's top rightwards (clockwise, where its
    // values grow) or back, a pixel at a time until it reaches target;
    // returns the value it had when the button went up.
    double dragTo(QWidget *w, double target)
    {
        auto *knob = qobject_cast<QwtKnob *>(w);
        const QPoint start = knob ? knob->knobRect().center() - QPoint(0, knob->knobRect().height() / 3) : w->rect().center();
        const QPoint step = (target < 0 ? -1 : 1) * (!knob && w->height() > w->width() ? QPoint(0, -1) : QPoint(1, 0));
        QPoint pos = start;
        QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, pos);
        while (qAbs(w->property("value").toDouble()) < qAbs(target) && (pos - start).manhattanLength() < 400)
            moveHeld(w, pos += step);
        const double reached = w->property("value").toDouble();
        QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, pos);
        return reached;
    }

    bool placed(SbVec3f position, SbRotation orientation, float tolerance = 1e-4f)
    {
        SbMatrix have, want;
        camera()->orientation.getValue().getValue(have);
        orientation.getValue(want);
        return (camera()->position.getValue() - position).length() < tolerance && have.equals(want, tolerance);
    }

    bool undeleteOn() { return action("actionUndelete")->isEnabled(); }
    QString label() { return window->findChild<QLabel *>("objLabel")->text(); }

    // Where the point (x, y, 1), on the crates' front faces, is seen.
    QPoint pixel(float x, float y = 0)
    {
        SbVec3f s;
        camera()->getViewVolume(viewer->getViewportRegion().getViewportAspectRatio()).projectToScreen(SbVec3f(x, y, 1), s);
        return QPoint(int(s[0] * gl->width()), int((1 - s[1]) * gl->height()));
    }

    void click(float x, float y = 0)
    {
        QTest::mouseClick(gl, Qt::LeftButton, Qt::NoModifier, pixel(x, y));
        harness::settle(100);
    }

    // Fraction of a crate's face, in a new frame, that shows its colour.
    double seen(float x, QColor colour)
    {
        return harness::fractionNear(frame(), QRect(pixel(x) - QPoint(4, 4), QSize(9, 9)), colour, 40);
    }

    // Orange outline pixels left of the middle (side < 0), right of it (> 0) or anywhere (0).
    int outline(int side)
    {
        frame();
        const int w = last.width() / 2, h = last.height();
        const QRect r = side < 0 ? QRect(0, 0, w, h) : side > 0 ? QRect(w, 0, w, h) : last.rect();
        return qRound(harness::fractionNear(last, r, QColor(255, 69, 0), 40) * r.width() * h);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(harness::shown(window, QSize(1000, 760)));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            harness::keepImage(last, QString(QTest::currentTestFunction()) + "-actual");
    }

    void turns_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("viewpoint");
        QTest::addColumn<double>("amount"); // a button's step (pressed twice), or how far a wheel goes
        QTest::addColumn<int>("sign");      // how the model turns on screen as amount rises
        QTest::addColumn<QString>("shown"); // after the presses
        // Half a turn about the horizontal through the block's centre: the
        // camera ends behind it at (1, 2, -15), upside down.
        QTest::newRow("x button 90") << "xButton" << 0 << 90.0 << 1 << "";
        QTest::newRow("y button -15") << "yButton" << 0 << -15.0 << 1 << "Orientation = 0°, -30°, 0°";
        // The camera a quarter turn about y: z shows 0, x all the rest.
        QTest::newRow("x button 20, from the right") << "xButton" << 1 << 20.0 << 1 << "Orientation = 40°, -90°, 0°";
        QTest::newRow("z button -30, from the right") << "zButton" << 1 << -30.0 << 1 << "";
        QTest::newRow("z button 15") << "zButton" << 0 << 15.0 << 1 << "Orientation = 0°, 0°, 30°";
        QTest::newRow("x wheel +10") << "xWheel" << 0 << 10.0 << -1 << "";
        QTest::newRow("x wheel -10, from the right") << "xWheel" << 1 << -10.0 << -1 << "";
        QTest::newRow("y wheel +10") << "yWheel" << 0 << 10.0 << 1 << "";
        QTest::newRow("z knob +10, from the right") << "zKnob" << 1 << 10.0 << -1 << "";
    }

    void turns()
    {
        QFETCH(QString, control);
        QFETCH(int, viewpoint);
        QFETCH(double, amount);
        QFETCH(int, sign);
        QFETCH(QString, shown);
        QVERIFY(load(data("cameras.wrl")));
        QVERIFY(choose(viewpoint));
        const SbRotation start = camera()->orientation.getValue();
        const SbVec3f centre(1, 2, -3); // of the block, where both viewpoints look
        const float focal = (camera()->position.getValue() - centre).length();
        const char axis = control[0].toLatin1();
        double turned = 2 * amount;
        if (control.endsWith("Button")) {
            press(axis, int(amount));
            press(axis, int(amount));
            QVERIFY(shown.isEmpty() || status() == shown);
        } else {
            QWidget *w = window->findChild<QWidget *>(control);
            turned = dragTo(w, amount);
            QVERIFY2(qAbs(turned - amount) < 6, qPrintable(QString::number(turned))); // a pixel turns the knob by some degrees
            QTRY_COMPARE(w->property("value").toDouble(), 0.0); // springing back turns nothing back
        }
        // The camera turns the other way about its own axis, round the centre.
        const SbRotation want = SbRotation(SbVec3f(axis == 'x', axis == 'y', axis == 'z'), float(-sign * turned * M_PI / 180)) * start;
        SbVec3f back;
        want.multVec(SbVec3f(0, 0, focal), back);
        QVERIFY(placed(centre + back, want));
        QVERIFY(qAbs(camera()->focalDistance.getValue() - focal) < 1e-4f);
    }

    void viewpoints_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QVector3D>("position");
        QTest::addColumn<QVector4D>("orientation");
        QTest::addColumn<QString>("shown"); // empty: not compared
        QTest::addColumn<QColor>("centre"); // seen in the middle of the view; invalid: not compared
        const QString cameras = data("cameras.wrl");
        const QString corpus = harness::corpusDir() + "/white_dune/docs/typical_vrml_examples/ecmascript/teleporter.wrl";
        QTest::newRow("straight on") << cameras << 0 << "Straight on" << QVector3D(1, 2, 9) << QVector4D(0, 0, 1, 0) << "" << QColor();
        QTest::newRow("right") << cameras << 1 << "From the right" << QVector3D(11, 2, -3) << QVector4D(0, 1, 0, 1.5707964f) << ""
                               << QColor();
        // Its turn split into turns about the fixed x, y and z axes, worked out apart.
        QTest::newRow("tilted") << cameras << 2 << "Tilted, looking past the centre" << QVector3D(4, 6, 5) << QVector4D(1, 1, 0, -0.6f)
                                << "Orientation = 25.816°, 23.532°, -5.4659°" << QColor();
        // A viewpoint without a position stands at 0 0 10.
        QTest::newRow("corpus 1.") << corpus << 0 << "1." << QVector3D(0, 0, 10) << QVector4D(0, 0, 1, 0) << "" << QColor();
        QTest::newRow("inside an inline") << data("inlined.wrl") << 0 << "Inside an inline" << QVector3D(2, 1, 8)
                                          << QVector4D(0, 1, 0, 0.25f) << "" << QColor();
        // Where the Transforms above put them.
        QTest::newRow("turned and moved") << data("placed.wrl") << 0 << "Turned and moved" << QVector3D(5, 0, 0)
                                          << QVector4D(0, 1, 0, 1.5707964f) << "" << QColor(Qt::red);
        QTest::newRow("used twice") << data("placed.wrl") << 2 << "Used twice" << QVector3D(0, 0, 13)
                                    << QVector4D(0, 0, 1, 0) << "" << QColor();
    }

    void viewpoints()
    {
        QFETCH(QString, file);
        QFETCH(int, index);
        QFETCH(QString, description);
        QFETCH(QVector3D, position);
        QFETCH(QVector4D, orientation);
        QFETCH(QString, shown);
        QFETCH(QColor, centre);
        QVERIFY(load(file));
        QCOMPARE(list->itemText(index), description);
        const QList<SbVec3f> read = viewpointFields();
        QVERIFY(!read.isEmpty());
        drag(QPoint(80, 30));
        // Navigating moves the viewer's camera, never the scene's viewpoints.
        QCOMPARE(viewpointFields(), read);
        const int logged = harness::readBytes("quelvin.log").count("viewpointActivated\n");

        fflush(stdout);
        const int saved = dup(1), fd = ::open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        ::close(fd);
        const bool chosen = choose(index);
        fflush(stdout);
        dup2(saved, 1);
        ::close(saved);
        QVERIFY(chosen);

        const SbVec3f axis(orientation.x(), orientation.y(), orientation.z());
        QVERIFY(placed(SbVec3f(position.x(), position.y(), position.z()), SbRotation(axis, orientation.w()), 1e-5f));
        if (!shown.isEmpty())
            QCOMPARE(status(), shown);
        if (centre.isValid())
            QVERIFY(harness::fractionNear(frame(), QRect(gl->width() / 2 - 8, gl->height() / 2 - 8, 16, 16), centre, 40) > 0.9);
        QCOMPARE(harness::readBytes("quelvin.log").count("viewpointActivated\n"), logged + 1);
        // How far the camera now is from the scene's centre is checked with the turns.
        QCOMPARE(harness::readBytes("stdout.txt"), "Focal distance = " + QByteArray::number(camera()->focalDistance.getValue(), 'f', 6) + "\n");
        QCOMPARE(viewpointFields(), read);
    }

    // A model left spinning by a flick of the mouse stays where each
    // command puts it. "Go to viewpoint" jumps as the list does, and the
    // other rotation controls turn as the button does.
    void spinStops_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("viewpoint list") << "list";
        QTest::newRow("Go to home position") << "actionGo_to_home_position";
        QTest::newRow("x button") << "xButton";
        QTest::newRow("load") << "load";
        QTest::newRow("grid render") << "actionRender_multiple";
    }

    void spinStops()
    {
        QFETCH(QString, command);
        QVERIFY(load(data("cameras.wrl")));
        flick(QPoint(160, 40));
        QVERIFY(viewer->isAnimating());
        if (command == "list") {
            QVERIFY(choose(1));
        } else if (command == "load") {
            QVERIFY(load(data("transparency.wrl")));
        } else if (command.startsWith("action")) {
            // No intervals: the grid has no image, so nothing is written.
            answerer.queueInt(0);
            answerer.queueInt(0);
            action(command)->trigger();
        } else {
            press(command[0].toLatin1(), 10);
        }
        const SbVec3f position = camera()->position.getValue();
        const SbRotation orientation = camera()->orientation.getValue();
        const QString shown = status();
        harness::settle(500);
        QVERIFY(!viewer->isAnimating());
        QVERIFY(placed(position, orientation, 1e-6f));
        QCOMPARE(status(), shown);
    }

    void animatedViewpoint()
    {
        QVERIFY(load(data("animated.wrl")));
        auto *roaming = static_cast<SoVRMLViewpoint *>(SoNode::getByName("Roaming"));
        QVERIFY(roaming);
        // The scene moves its viewpoint far from where the file put it.
        QTRY_VERIFY((roaming->position.getValue() - SbVec3f(0, 0, 10)).length() > 5);
        drag(QPoint(-60, -40));
        QVERIFY(choose(1));
        QVERIFY(choose(0));
        QVERIFY((roaming->position.getValue() - SbVec3f(0, 0, 10)).length() > 5);
        QVERIFY(placed(SbVec3f(0, 0, 10), SbRotation::identity(), 1e-5f));
    }

    void homePosition()
    {
        QVERIFY(load(data("cameras.wrl")));
        press('y', 20);
        press('x', -35);
        const SbVec3f position = camera()->position.getValue();
        const SbRotation orientation = camera()->orientation.getValue();
        action("actionSave_home_position")->trigger();
        QCOMPARE(status(), QString("Saved new home position"));
        drag(QPoint(60, 60));
        QVERIFY(choose(1));
        QVERIFY(!placed(position, orientation));
        action("actionGo_to_home_position")->trigger();
        QVERIFY(placed(position, orientation, 1e-5f));
    }

    // On a half-transparent blue plate in the middle, over a red one.
    void displayModes()
    {
        QVERIFY(load(data("transparency.wrl")));
        // Each menu entry of a pair takes the other's check mark off.
        const QStringList pairs = {"actionScreen_door", "actionBlend", "actionOrthographic", "actionPerspective",
                                   "actionDrawStyleWireframe", "actionDrawStyleDefault"};
        for (int i = 0; i < pairs.size(); ++i) {
            action(pairs[i])->trigger();
            QVERIFY2(action(pairs[i])->isChecked() && !action(pairs[i ^ 1])->isChecked(), qPrintable(pairs[i]));
            QCOMPARE(bool(camera()->isOfType(SoOrthographicCamera::getClassTypeId())), i == 2);
        }
        const QRect all(0, 0, gl->width(), gl->height()), middle(gl->width() / 2 - 15, gl->height() / 2 - 15, 31, 31);
        QVERIFY(harness::fractionNear(frame(), all, Qt::red, 40) > 0.1);
        action("actionDrawStyleWireframe")->trigger();
        const double lines = harness::fractionNear(frame(), all, Qt::red, 40);
        QVERIFY2(lines > 0.0005 && lines < 0.02, qPrintable(QString::number(lines)));
        action("actionDrawStyleDefault")->trigger();

        // Screen-door stipples the blue over the red instead of mixing them,
        // and stays on across loads.
        action("actionScreen_door")->trigger();
        QVERIFY(load(data("cameras.wrl")));
        QVERIFY(load(data("transparency.wrl")));
        QVERIFY(action("actionScreen_door")->isChecked());
        QVERIFY(harness::fractionNear(frame(), middle, Qt::red, 30) > 0.3);
        QVERIFY(harness::fractionNear(last, middle, Qt::blue, 30) > 0.3);
        action("actionBlend")->trigger();
        QVERIFY(harness::fractionNear(frame(), middle, QColor(127, 0, 128), 30) > 0.95);

        // The camera type chosen holds for the next scene, viewpoints or not,
        // and for a VRML 1.0 file's own camera, which stays the one moved.
        action("actionOrthographic")->trigger();
        const QString vrml1 = harness::sourceDir() + "/tests/data/resources/vrml1/world.wrl";
        for (const QString &file : {data("cameras.wrl"), data("transparency.wrl"), vrml1}) {
            QVERIFY(load(file));
            QVERIFY(action("actionOrthographic")->isChecked());
            QVERIFY2(camera()->getTypeId() == SoOrthographicCamera::getClassTypeId(), qPrintable(file));
        }
        action("actionPerspective")->trigger();
        QCOMPARE(camera()->getTypeId(), SoPerspectiveCamera::getClassTypeId());
        const QImage before = frame();
        drag(QPoint(80, 30));
        QVERIFY(frame() != before);
    }

    void picking()
    {
        QVERIFY(load(data("anchors.wrl"), false));
        QCOMPARE(outline(0), 0);
        click(-3);
        QCOMPARE(label(), QString("Blue crate"));
        QVERIFY(outline(-1) > 100);
        QCOMPARE(outline(1), 0);

        click(0, 4);
        QCOMPARE(label(), QString());
        QCOMPARE(outline(0), 0);

        // The green crate is in no link: outlined, the label left as it is.
        window->objLabelSet("kept");
        click(3);
        QCOMPARE(label(), QString("kept"));
        QVERIFY(outline(1) > 100);
        QCOMPARE(outline(-1), 0);
    }

    void nestedAnchors()
    {
        QVERIFY(load(data("nested.wrl"), false));
        click(3);
        QCOMPARE(label(), QString("Inner link"));
        action("actionDelete")->trigger();
        QVERIFY(seen(3, Qt::blue) < 0.05 && seen(-3, Qt::yellow) > 0.9);
        action("actionUndelete")->trigger();
        // The outer link takes the inner one, put back inside it, along.
        click(-3);
        QCOMPARE(label(), QString("Outer link"));
        action("actionDelete")->trigger();
        QVERIFY(seen(3, Qt::blue) < 0.05 && seen(-3, Qt::yellow) < 0.05);
        action("actionUndelete")->trigger();
        QVERIFY(seen(3, Qt::blue) > 0.9 && seen(-3, Qt::yellow) > 0.9);
        QVERIFY(!undeleteOn());
    }

    void deleting()
    {
        QVERIFY(load(data("siblings.wrl"), false));
        const float xs[] = {-4, 0, 4};
        const QColor colours[] = {Qt::blue, Qt::green, Qt::magenta};
        const QStringList labels = {"First crate", "Second crate", "Third crate"};
        for (int i = 0; i < 3; ++i) {
            click(xs[i]);
            QCOMPARE(label(), labels[i]);
            action("actionDelete")->trigger();
            QVERIFY(seen(xs[i], colours[i]) < 0.05);
            QVERIFY(undeleteOn());
        }
        for (int i = 2; i >= 0; --i) {
            action("actionUndelete")->trigger();
            for (int j = 0; j < 3; ++j)
                QCOMPARE(seen(xs[j], colours[j]) > 0.5, j >= i);
            QCOMPARE(undeleteOn(), i > 0);
        }

        // The pick is used up by a Delete: the next one takes nothing out.
        click(-4);
        action("actionDelete")->trigger();
        action("actionDelete")->trigger();
        QCOMPARE(Browser::deletedCount(), 1);
        QVERIFY(seen(0, Qt::green) > 0.9 && seen(4, Qt::magenta) > 0.9);
        action("actionUndelete")->trigger();
        QVERIFY(!undeleteOn());
        // Delete with nothing picked still offers Undelete, which then finds
        // nothing and turns itself off.
        action("actionDelete")->trigger();
        QVERIFY(undeleteOn());
        action("actionUndelete")->trigger();
        QVERIFY(!undeleteOn() && seen(-4, Qt::blue) > 0.9);

        // "Go to viewpoint" puts the camera back and the deleted links too.
        click(0);
        action("actionDelete")->trigger();
        press('y', 15);
        QVERIFY((camera()->position.getValue() - SbVec3f(0, 0, 14)).length() > 0.1f);
        action("actionGoToViewpoint")->trigger();
        QCOMPARE(camera()->position.getValue(), SbVec3f(0, 0, 14));
        QCOMPARE(camera()->orientation.getValue(), SbRotation::identity());
        QVERIFY(seen(0, Qt::green) > 0.9);
        QCOMPARE(Browser::deletedCount(), 0);
    }
};

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
