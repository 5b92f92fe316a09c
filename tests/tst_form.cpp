// The main window's form as the user meets it: every command with its
// text, shortcut, icon, state and place, the menus and toolbar in order, the
// two docks with their rotation controls, and the wiring between them and
// the window, found by object name on a real window.

#include "harness.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <Inventor/nodes/SoOrthographicCamera.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QDockWidget>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QTextDocument>
#include <QToolBar>
#include <QWidgetAction>
#include <QtTest>

#include <qwt_knob.h>
#include <qwt_scale_div.h>
#include <qwt_wheel.h>

namespace {

const QString kDegree = QString(QChar(0x00B0));

// The menus and toolbar an action has been put into, by object name.
QStringList placesOf(QAction *action)
{
    QStringList places;
    for (QWidget *w : action->associatedWidgets())
        if (qobject_cast<QMenu *>(w) || qobject_cast<QToolBar *>(w) || qobject_cast<QMenuBar *>(w))
            places << w->objectName();
    places.sort();
    return places;
}

// A menu or toolbar entry as a word: the action's object name, "-" for a
// separator, the submenu's object name, "recent" for an unnamed entry of
// the recent-file list, "widget:<name>" for a widget in a toolbar; hidden
// entries carry " (hidden)".
QString entryName(QAction *action)
{
    QString name;
    if (action->isSeparator())
        name = "-";
    else if (action->menu())
        name = action->menu()->objectName();
    else if (auto *widgetAction = qobject_cast<QWidgetAction *>(action))
        name = "widget:" + (widgetAction->defaultWidget() ? widgetAction->defaultWidget()->objectName()
                                                          : QStringLiteral("?"));
    else if (action->objectName().isEmpty())
        name = "recent";
    else
        name = action->objectName();
    if (!action->isVisible())
        name += " (hidden)";
    return name;
}

QStringList entriesOf(QWidget *container)
{
    QStringList entries;
    for (QAction *action : container->actions())
        entries << entryName(action);
    return entries;
}

QStringList repeated(const QString &word, int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << word;
    return list;
}

QImage premultiplied(const QImage &image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// Top left corner of a widget in its window's coordinates.
QPoint placeOf(QWidget *w)
{
    return w->mapTo(w->window(), QPoint(0, 0));
}

} // namespace

class FormTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void actions_data();
    void actions();
    void everyActionIsListed();
    void menuBar();
    void menus_data();
    void menus();
    void toolbar();
    void toolbarFields_data();
    void toolbarFields();
    void docks_data();
    void docks();
    void widgetSizes_data();
    void widgetSizes();
    void dockLayouts();
    void spinBoxes_data();
    void spinBoxes();
    void rotationControls_data();
    void rotationControls();
    void labelsAndButtons();
    void shortcutsSwitchModes_data();
    void shortcutsSwitchModes();

    // Builds a second window of its own; keep it last.
    void connections_data();
    void connections();

private:
    template <typename T> T *find(const QString &name, QObject *in = nullptr)
    {
        T *object = (in ? in : window)->findChild<T *>(name);
        if (!object)
            qWarning("no %s named %s", T::staticMetaObject.className(), qPrintable(name));
        return object;
    }

    std::unique_ptr<harness::Scratch> scratch;
    std::unique_ptr<harness::ModalAnswerer> answerer;
    BrowserWindow *window = nullptr;
    BrowserWindow *spare = nullptr;
};

void FormTest::initTestCase()
{
    scratch.reset(new harness::Scratch);
    QVERIFY(scratch->isValid());
    answerer.reset(new harness::ModalAnswerer);
    window = new BrowserWindow(QString());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void FormTest::actions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("iconText");   // empty: derived from the text
    QTest::addColumn<QKeySequence>("shortcut");
    QTest::addColumn<bool>("checkable");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("icon");       // resource path, or empty for none
    QTest::addColumn<QStringList>("places");

    const QKeySequence none;
    const QStringList nowhere;
    const QStringList file{"menuFile"}, edit{"menuEdit"}, view{"menuView"}, help{"menuHelp"};
    const QStringList toolbar{"navigationBar"};
    auto row = [](const char *name, const char *text, QKeySequence shortcut, QStringList places) {
        QTest::newRow(name) << QString(name) << QString(text) << QString() << shortcut << false
                            << false << true << QString() << places;
    };
    auto iconRow = [](const char *name, const char *text, bool enabled, const char *icon,
                      QStringList places) {
        QTest::newRow(name) << QString(name) << QString(text) << QString() << QKeySequence()
                            << false << false << enabled << QString(icon) << places;
    };
    auto toggleRow = [](const char *name, const char *text, QKeySequence shortcut, bool checked,
                        QStringList places) {
        QTest::newRow(name) << QString(name) << QString(text) << QString() << shortcut << true
                            << checked << true << QString() << places;
    };

    QTest::newRow("actionOpen") << "actionOpen" << "&Open" << "Open" << QKeySequence(Qt::CTRL | Qt::Key_O)
                                << false << false << true << ":/icons/linguist-fileopen.png"
                                << QStringList{"menuFile", "navigationBar"};
    row("actionSave", "&Save", none, nowhere);
    row("actionSave_As", "Save &As...", none, nowhere);
    row("actionClose", "&Close", none, nowhere);
    row("actionPage_Setup", "Page Setup...", none, nowhere);
    row("actionPrint", "Print...", none, nowhere);
    row("actionQuit", "&Quit", QKeySequence(Qt::CTRL | Qt::Key_Q), file);
    // Nothing to cut, copy or paste in a viewer.
    iconRow("actionCut", "Cut", false, "", nowhere);
    iconRow("actionCopy", "Copy", false, "", nowhere);
    iconRow("actionPaste", "Paste", false, "", nowhere);
    row("actionAdd", "Add Reference", none, nowhere);
    row("actionEdit", "Edit References...", none, nowhere);
    iconRow("actionBack", "Back", false, ":/icons/previous.png", nowhere);
    iconRow("actionNext", "Next", false, ":/icons/next.png", nowhere);
    iconRow("actionReload", "Reload", true, ":/icons/linguist-editredo.png", nowhere);
    iconRow("actionStop", "Stop", false, ":/icons/delete32.png", nowhere);
    iconRow("actionHome", "Home", true, ":/icons/World2.png", nowhere);
    iconRow("actionGoToLocation", "Go to location", true, ":/icons/Check.png", toolbar);
    iconRow("actionGoToViewpoint", "Go to viewpoint", true, ":/icons/Check.png", toolbar);
    row("actionAbout_Quelvin", "&About Quelvin", none, help);
    // Ctrl+S belongs to Screen-door, not to saving.
    toggleRow("actionScreen_door", "&Screen-door", QKeySequence(Qt::CTRL | Qt::Key_S), false,
              {"menuTransparency"});
    toggleRow("actionBlend", "&Blend", QKeySequence(Qt::CTRL | Qt::Key_B), true, {"menuTransparency"});
    // Two strokes: Ctrl+C, then the plain letter.
    toggleRow("actionOrthographic", "&Orthographic", QKeySequence(Qt::CTRL | Qt::Key_C, Qt::Key_O),
              false, {"menuCamera_type"});
    toggleRow("actionPerspective", "&Perspective", QKeySequence(Qt::CTRL | Qt::Key_C, Qt::Key_P),
              true, {"menuCamera_type"});
    row("actionSave_home_position", "&Save new home position",
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H), view);
    row("actionGo_to_home_position", "Go to &home position", QKeySequence(Qt::CTRL | Qt::Key_H), view);
    row("actionDisplay_orientation", "&Display current orientation",
        QKeySequence(Qt::CTRL | Qt::Key_D), view);
    row("actionRender", "&Render", QKeySequence(Qt::CTRL | Qt::Key_R), file);
    row("actionDelete", "&Delete", QKeySequence(Qt::Key_Delete), edit);
    toggleRow("actionDrawStyleDefault", "&Default", none, true, {"menuDraw_style"});
    toggleRow("actionDrawStyleWireframe", "&Wireframe", none, false, {"menuDraw_style"});
    // Nothing deleted yet, so nothing to undelete.
    QTest::newRow("actionUndelete") << "actionUndelete" << "&Undelete" << QString()
                                    << QKeySequence(Qt::Key_Insert) << false << false << false
                                    << QString() << edit;
    row("actionRender_multiple", "Render &multiple", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R), file);
    row("actionSet_window_size", "Set &window size", QKeySequence(Qt::CTRL | Qt::Key_W), view);
}

void FormTest::actions()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, iconText);
    QFETCH(QKeySequence, shortcut);
    QFETCH(bool, checkable);
    QFETCH(bool, checked);
    QFETCH(bool, enabled);
    QFETCH(QString, icon);
    QFETCH(QStringList, places);

    QAction *action = find<QAction>(name);
    QVERIFY(action);
    QCOMPARE(action->parent(), static_cast<QObject *>(window));
    QCOMPARE(action->text(), text);
    if (!iconText.isEmpty())
        QCOMPARE(action->iconText(), iconText);
    QCOMPARE(action->shortcut(), shortcut);
    QCOMPARE(action->shortcuts().size(), shortcut.isEmpty() ? 0 : 1);
    QCOMPARE(action->isCheckable(), checkable);
    QCOMPARE(action->isChecked(), checked);
    QCOMPARE(action->isEnabled(), enabled);
    QVERIFY(action->isVisible());
    QCOMPARE(placesOf(action), places);

    if (icon.isEmpty()) {
        QVERIFY(action->icon().isNull());
    } else {
        // The picture itself, from the icon set built into the program.
        const QImage expected(icon);
        QVERIFY2(!expected.isNull(), qPrintable(icon + " is not in the program's resources"));
        QVERIFY(!action->icon().isNull());
        const QImage shown = action->icon().pixmap(expected.size()).toImage();
        QCOMPARE(shown.size(), expected.size());
        QVERIFY(premultiplied(shown) == premultiplied(expected));
    }
}

void FormTest::everyActionIsListed()
{
    // The table above covers the form's 34 commands, and nothing else of
    // the window is named like one.
    QStringList named;
    for (QAction *action : window->findChildren<QAction *>())
        if (action->objectName().startsWith("action"))
            named << action->objectName();
    QCOMPARE(named.size(), 34);
    QCOMPARE(QSet<QString>(named.begin(), named.end()).size(), 34);
}

void FormTest::menuBar()
{
    QMenuBar *bar = static_cast<QMainWindow *>(window)->menuBar();
    QVERIFY(bar);
    QCOMPARE(bar->objectName(), QStringLiteral("menuBar"));
    QStringList titles, menus;
    for (QAction *entry : bar->actions()) {
        titles << entry->text();
        menus << (entry->menu() ? entry->menu()->objectName() : QStringLiteral("?"));
    }
    QCOMPARE(titles, (QStringList{"&File", "Edit", "&View", "&Help"}));
    QCOMPARE(menus, (QStringList{"menuFile", "menuEdit", "menuView", "menuHelp"}));
    QCOMPARE(window->findChildren<QMenuBar *>().size(), 1);
}

void FormTest::menus_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("entries");

    // Twenty recent-file entries wait, hidden, between the two separators;
    // the lower separator shows only when there are recent files.
    QTest::newRow("File") << "menuFile" << "&File"
                          << (QStringList{"actionOpen", "actionRender", "actionRender_multiple", "-"}
                              + repeated("recent (hidden)", BrowserWindow::MaxRecentFiles)
                              + QStringList{"- (hidden)", "actionQuit"});
    QTest::newRow("Edit") << "menuEdit" << "Edit" << QStringList{"actionDelete", "actionUndelete"};
    QTest::newRow("View") << "menuView" << "&View"
                          << QStringList{"menuTransparency", "menuDraw_style", "menuCamera_type",
                                         "actionSave_home_position", "actionGo_to_home_position",
                                         "actionDisplay_orientation", "actionSet_window_size"};
    QTest::newRow("Transparency") << "menuTransparency" << "&Transparency"
                                  << QStringList{"actionScreen_door", "actionBlend"};
    QTest::newRow("Draw style") << "menuDraw_style" << "D&raw style"
                                << QStringList{"actionDrawStyleDefault", "actionDrawStyleWireframe"};
    QTest::newRow("Camera type") << "menuCamera_type" << "&Camera type"
                                 << QStringList{"actionOrthographic", "actionPerspective"};
    QTest::newRow("Help") << "menuHelp" << "&Help" << QStringList{"actionAbout_Quelvin"};
}

void FormTest::menus()
{
    QFETCH(QString, menu);
    QFETCH(QString, title);
    QFETCH(QStringList, entries);

    QMenu *m = find<QMenu>(menu);
    QVERIFY(m);
    QCOMPARE(m->title(), title);
    QCOMPARE(entriesOf(m), entries);
    if (menu == QLatin1String("menuFile")) {
        // Twenty separate entries, each the window's own.
        QSet<QAction *> recent;
        for (QAction *a : m->actions())
            if (entryName(a).startsWith("recent")) {
                recent << a;
                QCOMPARE(a->parent(), static_cast<QObject *>(window));
            }
        QCOMPARE(recent.size(), int(BrowserWindow::MaxRecentFiles));
    }
}

void FormTest::toolbar()
{
    const QList<QToolBar *> bars = window->findChildren<QToolBar *>();
    QCOMPARE(bars.size(), 1);
    QToolBar *bar = bars.first();
    QCOMPARE(bar->objectName(), QStringLiteral("navigationBar"));
    QCOMPARE(window->toolBarArea(bar), Qt::TopToolBarArea);
    QCOMPARE(bar->orientation(), Qt::Horizontal);
    QCOMPARE(bar->iconSize(), QSize(24, 22));
    QCOMPARE(entriesOf(bar), (QStringList{"actionOpen", "widget:location", "actionGoToLocation",
                                          "widget:viewpoints", "actionGoToViewpoint"}));
    // In that order on screen too.
    int previous = -1;
    for (QAction *a : bar->actions()) {
        QWidget *w = bar->widgetForAction(a);
        QVERIFY(w && w->isVisible());
        QVERIFY2(w->x() > previous, qPrintable(entryName(a)));
        previous = w->x();
    }
}

void FormTest::toolbarFields_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<int>("minimumWidth");
    QTest::addColumn<int>("maximumWidth");   // -1: not limited by the program
    QTest::addColumn<int>("minimumHeight");  // -1: not limited by the program
    QTest::addColumn<int>("maximumHeight");
    QTest::addColumn<QSizePolicy::Policy>("horizontal");
    QTest::addColumn<QSizePolicy::Policy>("vertical");

    QTest::newRow("location") << "location" << "Location" << true << 40 << -1 << -1 << 22
                              << QSizePolicy::Expanding << QSizePolicy::Preferred;
    QTest::newRow("viewpoints") << "viewpoints" << "Viewpoints" << false << 160 << 224 << 22 << 22
                                << QSizePolicy::Preferred << QSizePolicy::Fixed;
}

void FormTest::toolbarFields()
{
    QFETCH(QString, name);
    QFETCH(QString, toolTip);
    QFETCH(bool, editable);
    QFETCH(int, minimumWidth);
    QFETCH(int, maximumWidth);
    QFETCH(int, minimumHeight);
    QFETCH(int, maximumHeight);
    QFETCH(QSizePolicy::Policy, horizontal);
    QFETCH(QSizePolicy::Policy, vertical);

    QComboBox *combo = find<QComboBox>(name);
    QVERIFY(combo);
    QCOMPARE(combo->toolTip(), toolTip);
    QCOMPARE(combo->isEditable(), editable);
    QCOMPARE(combo->minimumWidth(), minimumWidth);
    if (maximumWidth >= 0)
        QCOMPARE(combo->maximumWidth(), maximumWidth);
    if (minimumHeight >= 0)
        QCOMPARE(combo->minimumHeight(), minimumHeight);
    QCOMPARE(combo->maximumHeight(), maximumHeight);
    QCOMPARE(combo->sizePolicy().horizontalPolicy(), horizontal);
    QCOMPARE(combo->sizePolicy().verticalPolicy(), vertical);
    if (editable) {
        // Typed locations complete from earlier ones, and files can be dropped in.
        QVERIFY(combo->lineEdit());
        QVERIFY(combo->completer());
        QVERIFY(combo->acceptDrops());
    }
}

void FormTest::docks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Qt::DockWidgetArea>("area");
    QTest::addColumn<Qt::DockWidgetAreas>("allowed");
    QTest::addColumn<QDockWidget::DockWidgetFeatures>("features");
    QTest::addColumn<QString>("contents");
    QTest::addColumn<bool>("ownIcon");

    // Movable only: neither can be closed nor floated away.
    QTest::newRow("horizDock") << "horizDock" << Qt::BottomDockWidgetArea
                               << Qt::DockWidgetAreas(Qt::TopDockWidgetArea | Qt::BottomDockWidgetArea)
                               << QDockWidget::DockWidgetFeatures(QDockWidget::DockWidgetMovable
                                                                  | QDockWidget::DockWidgetVerticalTitleBar)
                               << "dockWidgetContents_2" << false;
    QTest::newRow("vertDock") << "vertDock" << Qt::LeftDockWidgetArea
                              << Qt::DockWidgetAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea)
                              << QDockWidget::DockWidgetFeatures(QDockWidget::DockWidgetMovable)
                              << "dockWidgetContents" << true;
}

void FormTest::docks()
{
    QFETCH(QString, name);
    QFETCH(Qt::DockWidgetArea, area);
    QFETCH(Qt::DockWidgetAreas, allowed);
    QFETCH(QDockWidget::DockWidgetFeatures, features);
    QFETCH(QString, contents);
    QFETCH(bool, ownIcon);

    QDockWidget *dock = find<QDockWidget>(name);
    QVERIFY(dock);
    QCOMPARE(window->dockWidgetArea(dock), area);
    QCOMPARE(dock->allowedAreas(), allowed);
    QCOMPARE(dock->features(), features);
    QVERIFY(!dock->isFloating());
    QVERIFY(dock->isVisible());
    QCOMPARE(dock->windowTitle(), QString());
    QVERIFY(dock->widget());
    QCOMPARE(dock->widget()->objectName(), contents);
    QCOMPARE(dock->testAttribute(Qt::WA_SetWindowIcon), ownIcon);
    if (ownIcon) {
        const QImage expected(":/icons/World2.png");
        QVERIFY(!expected.isNull());
        QVERIFY(premultiplied(dock->windowIcon().pixmap(expected.size()).toImage())
                == premultiplied(expected));
    }
    QVERIFY(!window->isDockNestingEnabled());
}

void FormTest::widgetSizes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("dock");
    QTest::addColumn<QSizePolicy::Policy>("horizontal");
    QTest::addColumn<QSizePolicy::Policy>("vertical");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QSize>("maximum");

    const QSizePolicy::Policy F = QSizePolicy::Fixed, P = QSizePolicy::Preferred;
    const int big = QWIDGETSIZE_MAX;
    QTest::newRow("horizDock") << "horizDock" << "" << P << F << QSize(0, 100) << QSize(524287, 100);
    QTest::newRow("vertDock") << "vertDock" << "" << F << P << QSize(80, 0) << QSize(80, 524287);
    QTest::newRow("dockWidgetContents_2") << "dockWidgetContents_2" << "horizDock"
                                          << QSizePolicy::MinimumExpanding << F << QSize(300, 100)
                                          << QSize(big, 100);
    QTest::newRow("dockWidgetContents") << "dockWidgetContents" << "vertDock" << F << P
                                        << QSize(80, 0) << QSize(80, big);
    for (const char *spin : {"zSpin", "ySpin"})
        QTest::newRow(spin) << spin << "horizDock" << F << F << QSize(60, 23) << QSize(60, 23);
    QTest::newRow("xSpin") << "xSpin" << "vertDock" << F << F << QSize(60, 23) << QSize(60, 23);
    for (const char *button : {"zButton", "yButton"})
        QTest::newRow(button) << button << "horizDock" << F << F << QSize(60, 27) << QSize(60, 27);
    QTest::newRow("xButton") << "xButton" << "vertDock" << F << F << QSize(60, 27) << QSize(60, 27);
    QTest::newRow("zKnob") << "zKnob" << "horizDock" << F << F << QSize(0, 0) << QSize(70, 80);
    QTest::newRow("yWheel") << "yWheel" << "horizDock" << F << F << QSize(64, 24) << QSize(64, 24);
    QTest::newRow("xWheel") << "xWheel" << "vertDock" << F << F << QSize(24, 64) << QSize(24, 64);
    QTest::newRow("objLabel") << "objLabel" << "horizDock" << QSizePolicy::Expanding << P
                              << QSize(200, 0) << QSize(big, big);
}

void FormTest::widgetSizes()
{
    QFETCH(QString, name);
    QFETCH(QString, dock);
    QFETCH(QSizePolicy::Policy, horizontal);
    QFETCH(QSizePolicy::Policy, vertical);
    QFETCH(QSize, minimum);
    QFETCH(QSize, maximum);

    QWidget *w = find<QWidget>(name);
    QVERIFY(w);
    if (!dock.isEmpty()) {
        QDockWidget *holder = find<QDockWidget>(dock);
        QVERIFY(holder);
        QVERIFY(holder->isAncestorOf(w));
    }
    QCOMPARE(w->sizePolicy().horizontalPolicy(), horizontal);
    QCOMPARE(w->sizePolicy().verticalPolicy(), vertical);
    // A zero minimum leaves that dimension to the widget's own layout.
    if (minimum.width() > 0)
        QCOMPARE(w->minimumWidth(), minimum.width());
    if (minimum.height() > 0)
        QCOMPARE(w->minimumHeight(), minimum.height());
    if (!w->layout())
        QCOMPARE(w->minimumSize(), minimum);
    QCOMPARE(w->maximumSize(), maximum);
    QVERIFY(w->isVisible());
}

void FormTest::dockLayouts()
{
    // The bottom dock reads left to right: z step and button, knob, line,
    // y step and button, wheel, label. The left dock reads top to bottom:
    // wheel, step, button.
    const QStringList row{"zSpin", "zKnob", "line", "ySpin", "yWheel", "objLabel"};
    int previous = -1;
    for (const QString &name : row) {
        QWidget *w = find<QWidget>(name);
        QVERIFY(w);
        QVERIFY2(placeOf(w).x() > previous, qPrintable(name));
        previous = placeOf(w).x();
    }
    auto below = [this](const char *upper, const char *lower) {
        QWidget *a = find<QWidget>(upper);
        QWidget *b = find<QWidget>(lower);
        return a && b && placeOf(b).y() >= placeOf(a).y() + a->height()
            && qAbs(placeOf(a).x() - placeOf(b).x()) < 20;
    };
    QVERIFY(below("zSpin", "zButton"));
    QVERIFY(below("ySpin", "yButton"));
    QVERIFY(below("xWheel", "xSpin"));
    QVERIFY(below("xSpin", "xButton"));
    // The viewer sits right of the left dock and above the bottom one.
    QWidget *view = window->centralWidget();
    QCOMPARE(view, window->viewer()->getWidget());
    QVERIFY(placeOf(view).x() >= placeOf(find<QWidget>("vertDock")).x() + 80);
    QVERIFY(placeOf(find<QWidget>("horizDock")).y() >= placeOf(view).y() + view->height());
}

void FormTest::spinBoxes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("wrapping");

    QTest::newRow("xSpin") << "xSpin" << true;
    QTest::newRow("ySpin") << "ySpin" << true;
    QTest::newRow("zSpin") << "zSpin" << false;
}

void FormTest::spinBoxes()
{
    QFETCH(QString, name);
    QFETCH(bool, wrapping);

    QSpinBox *spin = find<QSpinBox>(name);
    QVERIFY(spin);
    QCOMPARE(spin->value(), 5);
    QCOMPARE(spin->text(), "5" + kDegree);
    QCOMPARE(spin->suffix(), kDegree);
    QCOMPARE(spin->minimum(), -180);
    QCOMPARE(spin->maximum(), 180);
    QCOMPARE(spin->singleStep(), 5);
    QCOMPARE(spin->wrapping(), wrapping);
    QVERIFY(spin->hasFrame());
    QCOMPARE(spin->alignment(), Qt::AlignRight | Qt::AlignVCenter);

    // Stepping past either end: x and y come round, z stops.
    spin->setValue(180);
    QTest::keyClick(spin, Qt::Key_Up);
    QCOMPARE(spin->value(), wrapping ? -180 : 180);
    spin->setValue(-180);
    QTest::keyClick(spin, Qt::Key_Down);
    QCOMPARE(spin->value(), wrapping ? 180 : -180);
    QTest::keyClick(spin, Qt::Key_Down);
    QCOMPARE(spin->value(), wrapping ? 175 : -180);
    spin->setValue(5);
    QTest::keyClick(spin, Qt::Key_Up);
    QCOMPARE(spin->text(), "10" + kDegree);
    spin->setValue(5);
}

void FormTest::rotationControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Qt::Orientation>("orientation");  // knob: unused

    QTest::newRow("xWheel") << "xWheel" << Qt::Vertical;
    QTest::newRow("yWheel") << "yWheel" << Qt::Horizontal;
    QTest::newRow("zKnob") << "zKnob" << Qt::Horizontal;
}

void FormTest::rotationControls()
{
    QFETCH(QString, name);
    QFETCH(Qt::Orientation, orientation);

    QWidget *control = find<QWidget>(name);
    QVERIFY(control);
    // The value is held to the range; checked quietly, as the window would
    // turn the camera.
    const QSignalBlocker quiet(control);
    if (auto *wheel = qobject_cast<QwtWheel *>(control)) {
        QCOMPARE(wheel->minimum(), -180.0);
        QCOMPARE(wheel->maximum(), 180.0);
        QCOMPARE(wheel->singleStep(), 1.0);
        QCOMPARE(wheel->orientation(), orientation);
        if (name == QLatin1String("yWheel")) {
            QCOMPARE(wheel->tickCount(), 10);
            QCOMPARE(wheel->wheelBorderWidth(), 2);
            QVERIFY(!wheel->hasMouseTracking());
        }
        const double before = wheel->value();
        wheel->setValue(500.0);
        QCOMPARE(wheel->value(), 180.0);
        wheel->setValue(-500.0);
        QCOMPARE(wheel->value(), -180.0);
        wheel->setValue(before);
    } else {
        auto *knob = qobject_cast<QwtKnob *>(control);
        QVERIFY(knob);
        QCOMPARE(knob->lowerBound(), -180.0);
        QCOMPARE(knob->upperBound(), 180.0);
        QCOMPARE(knob->scaleDiv().lowerBound(), -180.0);
        QCOMPARE(knob->scaleDiv().upperBound(), 180.0);
        // One major step spans the whole range.
        QCOMPARE(knob->scaleStepSize(), 360.0);
        QCOMPARE(knob->totalAngle(), 360.0);
        QCOMPARE(knob->markerStyle(), QwtKnob::Tick);
        const double before = knob->value();
        knob->setValue(500.0);
        QCOMPARE(knob->value(), 180.0);
        knob->setValue(-500.0);
        QCOMPARE(knob->value(), -180.0);
        knob->setValue(before);
    }
}

void FormTest::labelsAndButtons()
{
    QLabel *label = find<QLabel>("objLabel");
    QVERIFY(label);
    QCOMPARE(label->font().family(), QStringLiteral("Times New Roman"));
    QCOMPARE(label->font().pointSize(), 16);
    QVERIFY(label->wordWrap());
    QCOMPARE(label->toolTip(), QStringLiteral("Object label"));
    QCOMPARE(label->frameShape(), QFrame::StyledPanel);
    QCOMPARE(label->frameShadow(), QFrame::Plain);
    // Rich text that shows nothing until an anchor is picked.
    QVERIFY(Qt::mightBeRichText(label->text()));
    QTextDocument shown;
    shown.setHtml(label->text());
    QCOMPARE(shown.toPlainText().trimmed(), QString());

    const QList<QPair<QString, QString>> buttons{{"xButton", "X"}, {"yButton", "Y"}, {"zButton", "Z"}};
    for (const auto &b : buttons) {
        QPushButton *button = find<QPushButton>(b.first);
        QVERIFY(button);
        QCOMPARE(button->text(), b.second);
    }

    QFrame *line = find<QFrame>("line");
    QVERIFY(line);
    QCOMPARE(line->frameShape(), QFrame::VLine);
    QCOMPARE(line->frameShadow(), QFrame::Sunken);

    QCOMPARE(window->statusTip(), QString());
}

void FormTest::shortcutsSwitchModes_data()
{
    QTest::addColumn<QString>("before");      // action triggered first, for the opposite state
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<QString>("checked");
    QTest::addColumn<QString>("unchecked");

    QTest::newRow("Ctrl+S") << "actionBlend" << QKeySequence(Qt::CTRL | Qt::Key_S)
                            << "actionScreen_door" << "actionBlend";
    QTest::newRow("Ctrl+B") << "actionScreen_door" << QKeySequence(Qt::CTRL | Qt::Key_B)
                            << "actionBlend" << "actionScreen_door";
    QTest::newRow("Ctrl+C, O") << "actionPerspective" << QKeySequence(Qt::CTRL | Qt::Key_C, Qt::Key_O)
                               << "actionOrthographic" << "actionPerspective";
    QTest::newRow("Ctrl+C, P") << "actionOrthographic" << QKeySequence(Qt::CTRL | Qt::Key_C, Qt::Key_P)
                               << "actionPerspective" << "actionOrthographic";
}

void FormTest::shortcutsSwitchModes()
{
    QFETCH(QString, before);
    QFETCH(QKeySequence, keys);
    QFETCH(QString, checked);
    QFETCH(QString, unchecked);

    QAction *start = find<QAction>(before);
    QAction *on = find<QAction>(checked);
    QAction *off = find<QAction>(unchecked);
    QVERIFY(start && on && off);

    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    // The user has clicked into the view: keys go to the window, not to a
    // text field that would take Ctrl+C as copy.
    window->viewer()->getGLWidget()->setFocus();

    start->trigger();
    QVERIFY(!on->isChecked());
    answerer->clear();

    QTest::keySequence(window, keys);
    QTRY_VERIFY(on->isChecked());
    QVERIFY(!off->isChecked());
    // No save dialog or anything else popped up.
    QVERIFY2(answerer->boxes.isEmpty(), qPrintable(answerer->texts().join(", ")));

    const bool orthographic = window->viewer()->getCameraType()
        == SoOrthographicCamera::getClassTypeId();
    if (checked == QLatin1String("actionOrthographic"))
        QVERIFY(orthographic);
    if (checked == QLatin1String("actionPerspective"))
        QVERIFY(!orthographic);
}

void FormTest::connections_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QString>("receiver");
    QTest::addColumn<QString>("slot");  // empty: nothing of the window's at all

    auto row = [](const QString &sender, const char *signal, const char *receiver, const char *slot) {
        QTest::newRow(qPrintable(sender + "." + signal + (*slot ? " -> " : " -> nothing") + slot))
            << sender << QString(signal) << QString(receiver) << QString(slot);
    };

    // Inside the form.
    row("xButton", "clicked()", "window", "xRotButton()");
    row("zButton", "clicked()", "window", "zRotButton()");
    row("yButton", "clicked()", "window", "yRotButton()");
    row("xWheel", "valueChanged(double)", "window", "xRotWheel(double)");
    row("zKnob", "valueChanged(double)", "window", "zRotWheel(double)");
    row("yWheel", "valueChanged(double)", "window", "yRotWheel(double)");
    // Qwt 6 wheels report their release as wheelReleased(); the knob keeps sliderReleased().
    row("yWheel", "wheelReleased()", "window", "yWheelReset()");
    row("zKnob", "sliderReleased()", "window", "zWheelReset()");
    row("xWheel", "wheelReleased()", "window", "xWheelReset()");
    row("window", "yWheelSet(double)", "yWheel", "setValue(double)");
    row("window", "zWheelSet(double)", "zKnob", "setValue(double)");
    row("window", "xWheelSet(double)", "xWheel", "setValue(double)");
    row("xSpin", "valueChanged(int)", "window", "xRotSet(int)");
    row("zSpin", "valueChanged(int)", "window", "zRotSet(int)");
    row("ySpin", "valueChanged(int)", "window", "yRotSet(int)");
    row("window", "showMsg(QString,int)", "statusbar", "showMessage(QString,int)");

    // Commands.
    const QList<QPair<const char *, const char *>> commands{
        {"actionOpen", "open()"},
        {"actionRender", "render()"},
        {"actionRender_multiple", "renderMult()"},
        {"actionSave", "save()"},
        {"actionSave_As", "saveAs()"},
        {"actionQuit", "close()"},
        {"actionStop", "cancelDownload()"},
        {"actionDelete", "deleteObj()"},
        {"actionUndelete", "undeleteObj()"},
        {"actionGoToLocation", "openLocation()"},
        {"actionGoToViewpoint", "viewpointReturn()"},
        {"actionScreen_door", "setTransparencyScreenDoor()"},
        {"actionBlend", "setTransparencyBlend()"},
        {"actionDrawStyleDefault", "setDrawStyleDefault()"},
        {"actionDrawStyleWireframe", "setDrawStyleWireframe()"},
        {"actionOrthographic", "setCameraOrthographic()"},
        {"actionPerspective", "setCameraPerspective()"},
        {"actionSave_home_position", "setNewHomePosition()"},
        {"actionGo_to_home_position", "goToHomePosition()"},
        {"actionDisplay_orientation", "displayOrientation()"},
        {"actionSet_window_size", "setSize()"},
        {"actionAbout_Quelvin", "helpAboutQuelvin()"},
    };
    for (const auto &c : commands)
        row(c.first, "triggered()", "window", c.second);
    for (int i = 0; i < BrowserWindow::MaxRecentFiles; ++i)
        row(QStringLiteral("recent %1").arg(i), "triggered()", "window", "openRecentFile()");
    for (const char *idle : {"actionClose", "actionPage_Setup", "actionPrint", "actionCut",
                             "actionCopy", "actionPaste", "actionAdd", "actionEdit", "actionBack",
                             "actionNext", "actionReload", "actionHome"})
        row(idle, "triggered()", "window", "");

    // The toolbar fields.
    row("location field", "returnPressed()", "window", "openLocation()");
    row("viewpoints", "activated(int)", "window", "viewpointActivated(int)");
}

void FormTest::connections()
{
    QFETCH(QString, sender);
    QFETCH(QString, signal);
    QFETCH(QString, receiver);
    QFETCH(QString, slot);

    // Connections are taken apart to find them, so on a window of their own.
    if (!spare)
        spare = new BrowserWindow(QString());

    auto resolve = [this](const QString &name) -> QObject * {
        if (name == QLatin1String("window"))
            return spare;
        if (name == QLatin1String("location field")) {
            QComboBox *location = find<QComboBox>("location", spare);
            return location ? location->lineEdit() : nullptr;
        }
        if (name.startsWith("recent ")) {
            QMenu *file = find<QMenu>("menuFile", spare);
            const int index = name.mid(7).toInt();
            // The recent entries follow Open, Render, Render multiple and a separator.
            return file && file->actions().size() > 4 + index ? file->actions().at(4 + index) : nullptr;
        }
        return find<QObject>(name, spare);
    };

    QObject *from = resolve(sender);
    QObject *to = resolve(receiver);
    QVERIFY(from);
    QVERIFY(to);
    const QByteArray signalCode = QByteArray::number(QSIGNAL_CODE) + signal.toLatin1();
    if (slot.isEmpty()) {
        QVERIFY(!QObject::disconnect(from, signalCode.constData(), to, nullptr));
    } else {
        const QByteArray slotCode = QByteArray::number(QSLOT_CODE) + slot.toLatin1();
        QVERIFY(QObject::disconnect(from, signalCode.constData(), to, slotCode.constData()));
    }
}

QTEST_MAIN(FormTest)
#include "tst_form.moc"
