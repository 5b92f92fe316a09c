// Picking objects in the view with the mouse: the outline drawn around what
// was picked, the description of a picked link in the object label, and
// taking links out of the scene and putting them back with Delete, Undelete
// and "Go to viewpoint". The links in the scenes used here lead to a file
// that does not exist, so following them leaves the scene on screen.

#include "harness.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <Inventor/SbLinear.h>
#include <Inventor/SbViewVolume.h>
#include <Inventor/SbViewportRegion.h>
#include <Inventor/SoSceneManager.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/nodes/SoCamera.h>
#include <Inventor/nodes/SoGroup.h>
#include <Inventor/nodes/SoSeparator.h>

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QUrl>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

const QColor kOutline(255, 69, 0);    // (1.0, 0.27, 0.0)
const QColor kBlue(0, 0, 255);
const QColor kGreen(0, 255, 0);
const QColor kYellow(255, 255, 0);
const QColor kMagenta(255, 0, 255);
const QColor kBackground(0, 0, 0);

// A crate of the test scenes: a 2-unit cube of one colour at a place.
struct Crate
{
    float x, y, z;
    QColor colour;
};

const Crate kLinkedCrate{-3, 0, 0, kBlue};    // anchors.wrl, inside "Blue crate"
const Crate kLooseCrate{3, 0, 0, kGreen};     // anchors.wrl, inside no anchor
const Crate kOuterCrate{-3, 0, 0, kYellow};   // nested.wrl, "Outer link" only
const Crate kInnerCrate{3, 0, 0, kBlue};      // nested.wrl, "Inner link"
const Crate kFirstCrate{-4, 0, 0, kBlue};     // siblings.wrl
const Crate kSecondCrate{0, 0, 0, kGreen};
const Crate kThirdCrate{4, 0, 0, kMagenta};

void moveWithButtons(QWidget *widget, QPoint pos, Qt::MouseButtons buttons)
{
    QMouseEvent event(QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, buttons,
                      Qt::NoModifier);
    QSpontaneKeyEvent::setSpontaneous(&event);
    qApp->notify(widget, &event);
}

// Longest stretch of consecutive pixels of a colour in one row.
int longestRun(const QImage &image, int y, int left, int right, QColor colour)
{
    int best = 0, run = 0;
    for (int x = left; x <= right; ++x) {
        if (harness::near(image.pixelColor(x, y), colour, 40))
            best = std::max(best, ++run);
        else
            run = 0;
    }
    return best;
}

} // namespace

Q_DECLARE_METATYPE(Crate)

class TestSelection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void pickInsideAnchor();
    void pickOutsideAnchor();
    void pickBackground();
    void deleteAndUndelete();
    void nestedAnchors_data();
    void nestedAnchors();
    void repeatedDelete();
    void threeDeletesThreeUndeletes();
    void goToViewpointUndeletes();
    void undeleteAfterAnotherLoad();

private:
    QAction *action(const char *name)
    {
        QAction *a = window->findChild<QAction *>(name);
        if (!a)
            qFatal("no action %s", name);
        return a;
    }
    QString data(const QString &name) const { return dataDir + "/" + name; }
    bool loadScene(const QString &path);
    QPointF toPixel(float x, float y, float z) const;
    QPoint faceOf(const Crate &crate) const { return toPixel(crate.x, crate.y, crate.z + 1).toPoint(); }
    QRect outlineArea(const Crate &crate) const;
    void click(QPoint pos, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    bool key(Qt::Key k);
    bool shows(const QImage &image, const Crate &crate) const;
    bool hides(const QImage &image, const Crate &crate) const;
    int outlinePixels(const QImage &image, const QRect &area) const;
    QString label() const { return objLabel->text(); }
    SoNode *named(const char *name) const;
    void keep(const QImage &image, const QString &what) const;

    std::unique_ptr<harness::Scratch> scratch;
    harness::ModalAnswerer *answerer = nullptr;
    BrowserWindow *window = nullptr;
    Browser *viewer = nullptr;
    QWidget *gl = nullptr;
    QLabel *objLabel = nullptr;
    QComboBox *location = nullptr;
    QString dataDir;
    QString failureDir;
};

void TestSelection::initTestCase()
{
    qRegisterMetaType<Crate>();
    failureDir = QDir::currentPath();
    dataDir = harness::sourceDir() + "/tests/data/navigation";
    scratch.reset(new harness::Scratch);
    QVERIFY(scratch->isValid());
    answerer = new harness::ModalAnswerer(this);

    window = new BrowserWindow(QString());
    viewer = window->viewer();
    gl = viewer->getGLWidget();
    objLabel = window->findChild<QLabel *>("objLabel");
    location = window->findChild<QComboBox *>("location");
    QVERIFY(objLabel && location);
    window->resize(1000, 760);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    harness::settle(100);
    QVERIFY(!action("actionUndelete")->isEnabled());
    QVERIFY(action("actionDelete")->isEnabled());
}

// Every case starts with the stack of deleted links empty.
void TestSelection::init()
{
    QAction *undelete = action("actionUndelete");
    for (int i = 0; i < 20 && Browser::deletedCount() > 0; ++i) {
        undelete->setEnabled(true);
        undelete->trigger();
    }
    if (undelete->isEnabled())
        undelete->trigger();
    QCOMPARE(Browser::deletedCount(), 0);
    QVERIFY(!undelete->isEnabled());
    viewer->setViewing(false);
}

bool TestSelection::loadScene(const QString &path)
{
    SoSeparator *before = Browser::loadedScene();
    location->lineEdit()->setText(QUrl::fromLocalFile(path).toString());
    QTest::keyClick(location->lineEdit(), Qt::Key_Return);
    harness::settle(30);
    viewer->setViewing(false);
    return Browser::loadedScene() != before && viewer->currentFileName() == path;
}

QPointF TestSelection::toPixel(float x, float y, float z) const
{
    // The camera adapts itself to the shape of the viewport: the height
    // angle spans the shorter side.
    const SbViewportRegion region = viewer->getViewportRegion();
    const float aspect = region.getViewportAspectRatio();
    SbViewVolume volume = viewer->getCamera()->getViewVolume(aspect);
    if (aspect < 1.0f)
        volume.scale(1.0f / aspect);
    SbVec3f screen;
    volume.projectToScreen(SbVec3f(x, y, z), screen);
    const SbVec2s origin = region.getViewportOriginPixels();
    const SbVec2s size = region.getViewportSizePixels();
    return QPointF(origin[0] + screen[0] * size[0], gl->height() - (origin[1] + screen[1] * size[1]));
}

// Where the outline of a picked crate can be: around its corners as seen,
// with room for the width of the line.
QRect TestSelection::outlineArea(const Crate &crate) const
{
    QRectF area;
    for (int i = 0; i < 8; ++i) {
        const QPointF p = toPixel(crate.x + (i & 1 ? 1 : -1), crate.y + (i & 2 ? 1 : -1),
                                  crate.z + (i & 4 ? 1 : -1));
        area = area.isNull() ? QRectF(p, QSizeF(1, 1)) : area.united(QRectF(p, QSizeF(1, 1)));
    }
    return area.toAlignedRect().adjusted(-5, -5, 5, 5);
}

// A click as the user makes it; a moment later the program has followed
// (or failed to follow) the link under it.
void TestSelection::click(QPoint pos, Qt::KeyboardModifiers modifiers)
{
    moveWithButtons(gl, pos, Qt::NoButton);
    QTest::mouseClick(gl, Qt::LeftButton, modifiers, pos);
    harness::settle(100);
}

// A key pressed over the view. Shortcuts only reach an active window, and
// the box that every load shows takes the activation away for a moment.
bool TestSelection::key(Qt::Key k)
{
    if (!window->isActiveWindow()) {
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window))
            return false;
    }
    gl->setFocus();
    QTest::keyClick(gl, k);
    harness::settle(30);
    return true;
}

bool TestSelection::shows(const QImage &image, const Crate &crate) const
{
    const QPoint p = faceOf(crate);
    return harness::fractionNear(image, QRect(p - QPoint(4, 4), QSize(9, 9)), crate.colour, 40) > 0.9;
}

bool TestSelection::hides(const QImage &image, const Crate &crate) const
{
    const QPoint p = faceOf(crate);
    return harness::fractionNear(image, QRect(p - QPoint(4, 4), QSize(9, 9)), crate.colour, 40) < 0.05;
}

int TestSelection::outlinePixels(const QImage &image, const QRect &area) const
{
    const QRect seen = area.intersected(image.rect());
    return int(std::lround(harness::fractionNear(image, seen, kOutline, 40) * seen.width() * seen.height()));
}

SoNode *TestSelection::named(const char *name) const
{
    SoSearchAction search;
    search.setName(name);
    search.setInterest(SoSearchAction::FIRST);
    search.setSearchingAll(TRUE);
    search.apply(Browser::loadedScene());
    return search.getPath() ? search.getPath()->getTail() : nullptr;
}

void TestSelection::keep(const QImage &image, const QString &what) const
{
    QString name = QString("tst_selection-%1-%2-actual.png").arg(QTest::currentTestFunction()).arg(what);
    name.replace(QRegularExpression("[^A-Za-z0-9_.-]"), "_");
    image.save(failureDir + "/" + name);
    qWarning("frame written to %s", qPrintable(failureDir + "/" + name));
}

// --- Picking ----------------------------------------------------------------

void TestSelection::pickInsideAnchor()
{
    QVERIFY(loadScene(data("anchors.wrl")));
    SoSeparator *scene = Browser::loadedScene();
    SoNode *root = viewer->getSceneManager()->getSceneGraph();
    QImage image = harness::grabViewer(viewer);
    QVERIFY(shows(image, kLinkedCrate));
    QVERIFY(shows(image, kLooseCrate));
    QCOMPARE(outlinePixels(image, image.rect()), 0);

    click(faceOf(kLinkedCrate));
    QCOMPARE(label(), QString("Blue crate"));
    // The link led nowhere: the scene is still the one on screen.
    harness::settle(200);
    QCOMPARE(Browser::loadedScene(), scene);
    QCOMPARE(viewer->getSceneManager()->getSceneGraph(), root);

    image = harness::grabViewer(viewer);
    const QRect around = outlineArea(kLinkedCrate);
    const int inside = outlinePixels(image, around);
    const int everywhere = outlinePixels(image, image.rect());
    const bool outlined = inside > 100 && everywhere == inside;
    if (!outlined)
        keep(image, "outline");
    QVERIFY2(outlined, qPrintable(QString("%1 outline pixels around the crate, %2 in all")
                                      .arg(inside).arg(everywhere)));
    QVERIFY(shows(image, kLinkedCrate));

    // The outline is dashed: along its longest straight row the colour
    // comes in short dashes, however long the edge is.
    int bestRow = around.top(), bestCount = 0;
    for (int y = around.top(); y <= around.bottom(); ++y) {
        const int n = outlinePixels(image, QRect(around.left(), y, around.width(), 1));
        if (n > bestCount)
            bestCount = n, bestRow = y;
    }
    const int run = longestRun(image, bestRow, around.left(), around.right(), kOutline);
    const bool dashed = bestCount >= 10 && run <= 6;
    if (!dashed)
        keep(image, "dashes");
    QVERIFY2(dashed, qPrintable(QString("row %1: %2 outline pixels, longest dash %3")
                                    .arg(bestRow).arg(bestCount).arg(run)));
}

void TestSelection::pickOutsideAnchor()
{
    QVERIFY(loadScene(data("anchors.wrl")));
    click(faceOf(kLinkedCrate));
    QCOMPARE(label(), QString("Blue crate"));

    // Shift adds the crate outside any link to what is picked; its path
    // holds no link, so the label stays as it was.
    click(faceOf(kLooseCrate), Qt::ShiftModifier);
    QCOMPARE(label(), QString("Blue crate"));
    QImage image = harness::grabViewer(viewer);
    const int linked = outlinePixels(image, outlineArea(kLinkedCrate));
    const int loose = outlinePixels(image, outlineArea(kLooseCrate));
    if (linked < 100 || loose < 100)
        keep(image, "both");
    QVERIFY2(linked >= 100 && loose >= 100, qPrintable(QString("%1 and %2").arg(linked).arg(loose)));

    // A plain click picks that crate alone: the link is let go of, which
    // empties the label, and nothing puts a description back.
    click(faceOf(kLooseCrate));
    QCOMPARE(label(), QString());
    image = harness::grabViewer(viewer);
    const int after = outlinePixels(image, outlineArea(kLooseCrate));
    const int elsewhere = outlinePixels(image, image.rect()) - after;
    if (after < 100 || elsewhere != 0)
        keep(image, "loose");
    QVERIFY2(after >= 100 && elsewhere == 0, qPrintable(QString("%1 and %2").arg(after).arg(elsewhere)));

    // With the label set by hand, a crate outside any link leaves it be.
    click(toPixel(0, 4, 0).toPoint());
    window->objLabelSet("kept");
    click(faceOf(kLooseCrate));
    QCOMPARE(label(), QString("kept"));
    QVERIFY(outlinePixels(harness::grabViewer(viewer), outlineArea(kLooseCrate)) >= 100);
}

void TestSelection::pickBackground()
{
    QVERIFY(loadScene(data("anchors.wrl")));
    click(faceOf(kLinkedCrate));
    QCOMPARE(label(), QString("Blue crate"));
    QVERIFY(outlinePixels(harness::grabViewer(viewer), outlineArea(kLinkedCrate)) > 100);

    click(toPixel(0, 4, 0).toPoint());
    QCOMPARE(label(), QString());
    const QImage image = harness::grabViewer(viewer);
    QCOMPARE(outlinePixels(image, image.rect()), 0);
    QVERIFY(shows(image, kLinkedCrate));
}

// --- Delete and Undelete ----------------------------------------------------

void TestSelection::deleteAndUndelete()
{
    QVERIFY(loadScene(data("anchors.wrl")));
    SoGroup *shelf = static_cast<SoGroup *>(named("Shelf"));
    SoNode *link = named("Link");
    QVERIFY(shelf && link);
    QCOMPARE(shelf->findChild(link), 0);

    click(faceOf(kLinkedCrate));
    QCOMPARE(label(), QString("Blue crate"));
    QVERIFY(key(Qt::Key_Delete));
    QCOMPARE(label(), QString());
    QVERIFY(action("actionUndelete")->isEnabled());
    QCOMPARE(Browser::deletedCount(), 1);
    QImage image = harness::grabViewer(viewer);
    const bool gone = hides(image, kLinkedCrate) && shows(image, kLooseCrate)
        && outlinePixels(image, image.rect()) == 0;
    if (!gone)
        keep(image, "deleted");
    QVERIFY(gone);
    QCOMPARE(shelf->findChild(link), -1);

    QVERIFY(key(Qt::Key_Insert));
    QVERIFY(!action("actionUndelete")->isEnabled());
    QCOMPARE(Browser::deletedCount(), 0);
    image = harness::grabViewer(viewer);
    if (!shows(image, kLinkedCrate))
        keep(image, "undeleted");
    QVERIFY(shows(image, kLinkedCrate));
    QVERIFY(shows(image, kLooseCrate));
    // Back in its group, after the others.
    QCOMPARE(shelf->getNumChildren(), 2);
    QCOMPARE(shelf->findChild(link), 1);
}

void TestSelection::nestedAnchors_data()
{
    QTest::addColumn<Crate>("picked");
    QTest::addColumn<QString>("description");
    QTest::addColumn<Crate>("other");
    QTest::addColumn<bool>("otherGoesToo");
    QTest::addColumn<QString>("anchor");
    QTest::addColumn<QString>("group");

    // The inner link sits straight inside the outer one: that is the group
    // it is taken from, and the outer link's own crate stays.
    QTest::newRow("inner") << kInnerCrate << "Inner link" << kOuterCrate << false << "Inner" << "Outer";
    QTest::newRow("outer") << kOuterCrate << "Outer link" << kInnerCrate << true << "Outer" << "Holder";
}

void TestSelection::nestedAnchors()
{
    QFETCH(Crate, picked);
    QFETCH(QString, description);
    QFETCH(Crate, other);
    QFETCH(bool, otherGoesToo);
    QFETCH(QString, anchor);
    QFETCH(QString, group);

    QVERIFY(loadScene(data("nested.wrl")));
    SoNode *node = named(qPrintable(anchor));
    SoGroup *parent = static_cast<SoGroup *>(named(qPrintable(group)));
    QVERIFY(node && parent);
    const int children = parent->getNumChildren();

    click(faceOf(picked));
    QCOMPARE(label(), description);
    action("actionDelete")->trigger();
    QImage image = harness::grabViewer(viewer);
    const bool deleted = hides(image, picked) && (otherGoesToo ? hides(image, other) : shows(image, other));
    if (!deleted)
        keep(image, "deleted");
    QVERIFY(deleted);
    QCOMPARE(parent->findChild(node), -1);
    QCOMPARE(parent->getNumChildren(), children - 1);

    action("actionUndelete")->trigger();
    QVERIFY(!action("actionUndelete")->isEnabled());
    image = harness::grabViewer(viewer);
    const bool back = shows(image, picked) && shows(image, other);
    if (!back)
        keep(image, "undeleted");
    QVERIFY(back);
    QCOMPARE(parent->getNumChildren(), children);
    QCOMPARE(parent->findChild(node), children - 1);
}

void TestSelection::repeatedDelete()
{
    QVERIFY(loadScene(data("siblings.wrl")));
    SoGroup *row = static_cast<SoGroup *>(named("Row"));
    SoNode *first = named("First");
    QVERIFY(row && first);

    click(faceOf(kFirstCrate));
    QCOMPARE(label(), QString("First crate"));
    QVERIFY(key(Qt::Key_Delete));
    QCOMPARE(Browser::deletedCount(), 1);
    QCOMPARE(row->getNumChildren(), 2);

    // The pick was used up: a second Delete takes nothing out and stacks
    // nothing, yet Undelete is on offer.
    QVERIFY(key(Qt::Key_Delete));
    QCOMPARE(Browser::deletedCount(), 1);
    QCOMPARE(row->getNumChildren(), 2);
    QImage image = harness::grabViewer(viewer);
    QVERIFY(hides(image, kFirstCrate) && shows(image, kSecondCrate) && shows(image, kThirdCrate));
    QVERIFY(action("actionUndelete")->isEnabled());

    QVERIFY(key(Qt::Key_Insert));
    QVERIFY(!action("actionUndelete")->isEnabled());
    QCOMPARE(row->getNumChildren(), 3);
    int copies = 0;
    for (int i = 0; i < row->getNumChildren(); ++i)
        copies += row->getChild(i) == first ? 1 : 0;
    QCOMPARE(copies, 1);

    // With Undelete off, its shortcut does nothing.
    QVERIFY(key(Qt::Key_Insert));
    QCOMPARE(row->getNumChildren(), 3);

    // Delete with no pick at all still turns Undelete on; the Undelete
    // then finds nothing and turns itself off.
    QVERIFY(key(Qt::Key_Delete));
    QVERIFY(action("actionUndelete")->isEnabled());
    QCOMPARE(Browser::deletedCount(), 0);
    QCOMPARE(row->getNumChildren(), 3);
    QVERIFY(key(Qt::Key_Insert));
    QVERIFY(!action("actionUndelete")->isEnabled());
    QCOMPARE(row->getNumChildren(), 3);
    image = harness::grabViewer(viewer);
    QVERIFY(shows(image, kFirstCrate) && shows(image, kSecondCrate) && shows(image, kThirdCrate));
}

void TestSelection::threeDeletesThreeUndeletes()
{
    QVERIFY(loadScene(data("siblings.wrl")));
    SoGroup *row = static_cast<SoGroup *>(named("Row"));
    SoNode *first = named("First"), *second = named("Second"), *third = named("Third");
    QVERIFY(row && first && second && third);

    const QList<QPair<Crate, QString>> picks = {
        {kFirstCrate, "First crate"}, {kSecondCrate, "Second crate"}, {kThirdCrate, "Third crate"}};
    for (const auto &pick : picks) {
        click(faceOf(pick.first));
        QCOMPARE(label(), pick.second);
        QVERIFY(key(Qt::Key_Delete));
        QVERIFY(hides(harness::grabViewer(viewer), pick.first));
    }
    QCOMPARE(row->getNumChildren(), 0);
    QCOMPARE(Browser::deletedCount(), 3);

    // Back in reverse order, each after the ones already back.
    struct Step { Crate crate; QList<SoNode *> children; bool stillOn; };
    const QList<Step> steps = {{kThirdCrate, {third}, true},
                               {kSecondCrate, {third, second}, true},
                               {kFirstCrate, {third, second, first}, false}};
    for (const Step &step : steps) {
        QVERIFY(key(Qt::Key_Insert));
        QImage image = harness::grabViewer(viewer);
        if (!shows(image, step.crate))
            keep(image, QString::number(step.children.size()));
        QVERIFY(shows(image, step.crate));
        QList<SoNode *> children;
        for (int i = 0; i < row->getNumChildren(); ++i)
            children << row->getChild(i);
        QCOMPARE(children, step.children);
        QCOMPARE(action("actionUndelete")->isEnabled(), step.stillOn);
    }
    const QImage image = harness::grabViewer(viewer);
    QVERIFY(shows(image, kFirstCrate) && shows(image, kSecondCrate) && shows(image, kThirdCrate));
}

void TestSelection::goToViewpointUndeletes()
{
    QVERIFY(loadScene(data("siblings.wrl")));
    SoCamera *camera = viewer->getCamera();
    const SbVec3f home(0, 0, 14);
    QCOMPARE(camera->position.getValue(), home);

    click(faceOf(kSecondCrate));
    QCOMPARE(label(), QString("Second crate"));
    QVERIFY(key(Qt::Key_Delete));
    QVERIFY(hides(harness::grabViewer(viewer), kSecondCrate));

    // Look around, then go back.
    viewer->setViewing(true);
    const QPoint middle(gl->width() / 2, gl->height() / 2);
    QTest::mousePress(gl, Qt::LeftButton, Qt::NoModifier, middle);
    for (int i = 1; i <= 10; ++i) {
        moveWithButtons(gl, middle + QPoint(8 * i, 3 * i), Qt::LeftButton);
        QTest::qWait(15);
    }
    QTest::qWait(300);
    QTest::mouseRelease(gl, Qt::LeftButton, Qt::NoModifier, middle + QPoint(80, 30));
    QVERIFY((camera->position.getValue() - home).length() > 0.1f);

    action("actionGoToViewpoint")->trigger();
    QCOMPARE(camera->position.getValue(), home);
    QCOMPARE(camera->orientation.getValue(), SbRotation::identity());
    const QImage image = harness::grabViewer(viewer);
    if (!shows(image, kSecondCrate))
        keep(image, "returned");
    QVERIFY(shows(image, kSecondCrate));
    QCOMPARE(Browser::deletedCount(), 0);
    // Nothing told the Undelete command; the next use turns it off.
    QVERIFY(action("actionUndelete")->isEnabled());
    action("actionUndelete")->trigger();
    QVERIFY(!action("actionUndelete")->isEnabled());
    QVERIFY(shows(harness::grabViewer(viewer), kSecondCrate));
}

void TestSelection::undeleteAfterAnotherLoad()
{
    QVERIFY(loadScene(data("anchors.wrl")));
    SoGroup *shelf = static_cast<SoGroup *>(named("Shelf"));
    SoNode *link = named("Link");
    click(faceOf(kLinkedCrate));
    QVERIFY(key(Qt::Key_Delete));
    QCOMPARE(shelf->findChild(link), -1);

    // The stack and the command outlive the scene; undeleting puts the
    // link back into the scene it came from, which is no longer shown.
    QVERIFY(loadScene(data("siblings.wrl")));
    QVERIFY(action("actionUndelete")->isEnabled());
    QVERIFY(key(Qt::Key_Insert));
    QVERIFY(!action("actionUndelete")->isEnabled());
    QCOMPARE(shelf->findChild(link), 1);
    SoGroup *row = static_cast<SoGroup *>(named("Row"));
    QCOMPARE(row->getNumChildren(), 3);
    const QImage image = harness::grabViewer(viewer);
    QVERIFY(shows(image, kFirstCrate) && shows(image, kSecondCrate) && shows(image, kThirdCrate));
}

QTEST_MAIN(TestSelection)
#include "tst_selection.moc"
