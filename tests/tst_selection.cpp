// Picking with the mouse, and taking links out of the scene and back with
// Delete, Undelete and "Go to viewpoint". The links lead to a file that does
// not exist, so following one leaves the scene on screen. Every crate of the
// scenes is a glowing 2-unit cube on the x axis.
#include "harness.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <Inventor/SbViewVolume.h>
#include <Inventor/SbViewportRegion.h>
#include <Inventor/nodes/SoCamera.h>
#include <QtTest>
#include <QtWidgets>

class TestSelection : public QObject
{
    Q_OBJECT
    harness::Scratch scratch;
    harness::ModalAnswerer answerer;
    BrowserWindow *window = new BrowserWindow(QString());
    Browser *viewer = window->viewer();
    QImage last;

    void trigger(const char *name) { window->findChild<QAction *>(name)->trigger(); }
    bool undeleteOn() { return window->findChild<QAction *>("actionUndelete")->isEnabled(); }
    QString label() { return window->findChild<QLabel *>("objLabel")->text(); }

    bool load(const QString &name)
    {
        const QString path = harness::sourceDir() + "/tests/data/navigation/" + name;
        harness::typeLocation(window, QUrl::fromLocalFile(path).toString());
        viewer->setViewing(false);
        return viewer->currentFileName() == path;
    }

    // Where the point (x, y, 1), on the crates' front faces, is seen.
    QPoint pixel(float x, float y = 0)
    {
        SbVec3f s;
        viewer->getCamera()->getViewVolume(viewer->getViewportRegion().getViewportAspectRatio())
            .projectToScreen(SbVec3f(x, y, 1), s);
        return QPoint(int(s[0] * viewer->getGLWidget()->width()), int((1 - s[1]) * viewer->getGLWidget()->height()));
    }

    void click(float x, float y = 0)
    {
        QTest::mouseClick(viewer->getGLWidget(), Qt::LeftButton, Qt::NoModifier, pixel(x, y));
        harness::settle(100);
    }

    // Fraction of a crate's face, in a new frame, that shows its colour.
    double seen(float x, QColor colour)
    {
        return harness::fractionNear(last = harness::grabViewer(viewer), QRect(pixel(x) - QPoint(4, 4), QSize(9, 9)), colour, 40);
    }

    // Orange outline pixels left of the middle (side < 0), right of it (> 0) or anywhere (0).
    int outline(int side)
    {
        last = harness::grabViewer(viewer);
        const int w = last.width() / 2, h = last.height();
        const QRect r = side < 0 ? QRect(0, 0, w, h) : side > 0 ? QRect(w, 0, w, h) : last.rect();
        return qRound(harness::fractionNear(last, r, QColor(255, 69, 0), 40) * r.width() * h);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(harness::shown(window, QSize(1000, 760)));
        QVERIFY(!undeleteOn());
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            harness::keepImage(last, QString(QTest::currentTestFunction()) + "-actual");
    }

    void picking()
    {
        QVERIFY(load("anchors.wrl"));
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
        QVERIFY(load("nested.wrl"));
        click(3);
        QCOMPARE(label(), QString("Inner link"));
        trigger("actionDelete");
        QVERIFY(seen(3, Qt::blue) < 0.05 && seen(-3, Qt::yellow) > 0.9);
        trigger("actionUndelete");
        // The outer link takes the inner one, put back inside it, along.
        click(-3);
        QCOMPARE(label(), QString("Outer link"));
        trigger("actionDelete");
        QVERIFY(seen(3, Qt::blue) < 0.05 && seen(-3, Qt::yellow) < 0.05);
        trigger("actionUndelete");
        QVERIFY(seen(3, Qt::blue) > 0.9 && seen(-3, Qt::yellow) > 0.9);
        QVERIFY(!undeleteOn());
    }

    void deleting()
    {
        QVERIFY(load("siblings.wrl"));
        const float xs[] = {-4, 0, 4};
        const QColor colours[] = {Qt::blue, Qt::green, Qt::magenta};
        const QStringList labels = {"First crate", "Second crate", "Third crate"};
        for (int i = 0; i < 3; ++i) {
            click(xs[i]);
            QCOMPARE(label(), labels[i]);
            trigger("actionDelete");
            QVERIFY(seen(xs[i], colours[i]) < 0.05);
            QVERIFY(undeleteOn());
        }
        for (int i = 2; i >= 0; --i) {
            trigger("actionUndelete");
            for (int j = 0; j < 3; ++j)
                QCOMPARE(seen(xs[j], colours[j]) > 0.5, j >= i);
            QCOMPARE(undeleteOn(), i > 0);
        }

        // The pick is used up by a Delete: the next one takes nothing out.
        click(-4);
        trigger("actionDelete");
        trigger("actionDelete");
        QCOMPARE(Browser::deletedCount(), 1);
        QVERIFY(seen(0, Qt::green) > 0.9 && seen(4, Qt::magenta) > 0.9);
        trigger("actionUndelete");
        QVERIFY(!undeleteOn());
        // Delete with nothing picked still offers Undelete, which then finds
        // nothing and turns itself off.
        trigger("actionDelete");
        QVERIFY(undeleteOn());
        trigger("actionUndelete");
        QVERIFY(!undeleteOn() && seen(-4, Qt::blue) > 0.9);

        // "Go to viewpoint" puts the camera back and the deleted links too.
        click(0);
        trigger("actionDelete");
        QTest::mouseClick(window->findChild<QPushButton *>("yButton"), Qt::LeftButton);
        QVERIFY((viewer->getCamera()->position.getValue() - SbVec3f(0, 0, 14)).length() > 0.1f);
        trigger("actionGoToViewpoint");
        QCOMPARE(viewer->getCamera()->position.getValue(), SbVec3f(0, 0, 14));
        QCOMPARE(viewer->getCamera()->orientation.getValue(), SbRotation::identity());
        QVERIFY(seen(0, Qt::green) > 0.9);
        QCOMPARE(Browser::deletedCount(), 0);
    }
};

QTEST_MAIN(TestSelection)
#include "tst_selection.moc"
