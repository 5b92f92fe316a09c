// The main window's form as the user meets it: every command with its text,
// shortcut, state, place and slot, found by object name on real windows. The
// rotation controls are left to the navigation suite, which turns them.

#include "harness.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QToolBar>
#include <QtTest>

class FormTest : public QObject
{
    Q_OBJECT

    harness::Scratch scratch;
    harness::ModalAnswerer answerer;
    BrowserWindow *window = nullptr;
    // Connections are taken apart to find them, so on a window of their own.
    BrowserWindow *spare = nullptr;

private slots:
    void initTestCase()
    {
        window = new BrowserWindow(QString());
        spare = new BrowserWindow(QString());
        QVERIFY(harness::shown(window));
    }

    void actions();
    void shortcuts();
    void about();
};

void FormTest::actions()
{
    // name|text|shortcut|state (o: checkable, x: checked, -: disabled)|menus and toolbar|slot
    for (const char *row : {
             "actionOpen|&Open|Ctrl+O||menuFile,navigationBar|open()",
             "actionSave|&Save||||save()", "actionSave_As|Save &As...||||saveAs()",
             "actionClose|&Close||||", "actionPage_Setup|Page Setup...||||", "actionPrint|Print...||||",
             "actionQuit|&Quit|Ctrl+Q||menuFile|close()",
             "actionCut|Cut||-||", "actionCopy|Copy||-||", "actionPaste|Paste||-||",
             "actionAdd|Add Reference||||", "actionEdit|Edit References...||||",
             "actionBack|Back||-||", "actionNext|Next||-||", "actionReload|Reload||||",
             "actionStop|Stop||-||cancelDownload()", "actionHome|Home||||",
             "actionGoToLocation|Go to location|||navigationBar|openLocation()",
             "actionGoToViewpoint|Go to viewpoint|||navigationBar|viewpointReturn()",
             "actionAbout_Quelvin|&About Quelvin|||menuHelp|helpAboutQuelvin()",
             // Ctrl+S belongs to Screen-door, not to saving.
             "actionScreen_door|&Screen-door|Ctrl+S|o|menuTransparency|setTransparencyScreenDoor()",
             "actionBlend|&Blend|Ctrl+B|x|menuTransparency|setTransparencyBlend()",
             "actionOrthographic|&Orthographic|Ctrl+C, O|o|menuCamera_type|setCameraOrthographic()",
             "actionPerspective|&Perspective|Ctrl+C, P|x|menuCamera_type|setCameraPerspective()",
             "actionSave_home_position|&Save new home position|Ctrl+Shift+H||menuView|setNewHomePosition()",
             "actionGo_to_home_position|Go to &home position|Ctrl+H||menuView|goToHomePosition()",
             "actionDisplay_orientation|&Display current orientation|Ctrl+D||menuView|displayOrientation()",
             "actionRender|&Render|Ctrl+R||menuFile|render()",
             "actionDelete|&Delete|Del||menuEdit|deleteObj()",
             "actionDrawStyleDefault|&Default||x|menuDraw_style|setDrawStyleDefault()",
             "actionDrawStyleWireframe|&Wireframe||o|menuDraw_style|setDrawStyleWireframe()",
             // Nothing deleted yet, so nothing to undelete.
             "actionUndelete|&Undelete|Ins|-|menuEdit|undeleteObj()",
             "actionRender_multiple|Render &multiple|Ctrl+Shift+R||menuFile|renderMult()",
             "actionSet_window_size|Set &window size|Ctrl+W||menuView|setSize()"}) {
        const QStringList f = QString(row).split('|');
        QAction *action = window->findChild<QAction *>(f[0]), *twin = spare->findChild<QAction *>(f[0]);
        QVERIFY2(action && twin, row);
        QStringList places;
        for (QWidget *w : action->associatedWidgets())
            if (qobject_cast<QMenu *>(w) || qobject_cast<QToolBar *>(w))
                places << w->objectName();
        places.sort();
        const QString state = !action->isEnabled() ? "-"
            : !action->isCheckable()               ? ""
            : action->isChecked()                  ? "x" : "o";
        const bool wired = f[5].isEmpty()
            ? !QObject::disconnect(twin, SIGNAL(triggered()), spare, nullptr)
            : QObject::disconnect(twin, SIGNAL(triggered()), spare, qPrintable("1" + f[5]));
        QCOMPARE(QStringList({f[0], action->text(), action->shortcut().toString(), state,
                              places.join(','), wired ? f[5] : "<other slot>"}).join('|'),
                 QString(row));
    }
}

void FormTest::shortcuts()
{
    // keys|action triggered first|action the keys check instead
    for (const char *row : {"Ctrl+S|actionBlend|actionScreen_door",
                            "Ctrl+C, O|actionPerspective|actionOrthographic"}) {
        const QStringList f = QString(row).split('|');
        QAction *before = window->findChild<QAction *>(f[1]), *after = window->findChild<QAction *>(f[2]);
        QVERIFY2(before && after, row);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        // Keys go to the view, not to a text field that would take Ctrl+C as copy.
        window->viewer()->getGLWidget()->setFocus();
        before->trigger();
        QVERIFY2(!after->isChecked(), row);
        QTest::keySequence(window, QKeySequence(f[0]));
        QTRY_VERIFY2(after->isChecked() && !before->isChecked(), row);
        // No Save dialog or anything else popped up.
        QVERIFY2(answerer.boxes.isEmpty(), qPrintable(answerer.boxes.value(0).text));
    }
}

void FormTest::about()
{
    answerer.clear();
    window->findChild<QAction *>("actionAbout_Quelvin")->trigger();
    const harness::Box about{"about", "Quelvin",
        "<strong>About Quelvin</strong><p>Quelvin is an open-source multi-platform viewer for VRML models.<p>See "
        "<a href=\"https://quelvin.kestrom.org/\">https://quelvin.kestrom.org/</a> for more information."};
    QCOMPARE(answerer.boxes, QList<harness::Box>{about});
}

QTEST_MAIN(FormTest)
#include "tst_form.moc"
