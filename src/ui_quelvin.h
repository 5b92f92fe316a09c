// The main window's form: every action, menu, toolbar, dock and control of
// the window, written in the shape the form compiler gives, with no logic.
#ifndef UI_QUELVIN_H
#define UI_QUELVIN_H

#include <QtCore/QVariant>
#include <QtGui/QIcon>
#include <QtWidgets/QAction>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDockWidget>
#include <QtWidgets/QFrame>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSpacerItem>
#include <QtWidgets/QSpinBox>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QToolBar>
#include <QtWidgets/QVBoxLayout>
#include <QtWidgets/QWidget>

#include <qwt_knob.h>
#include <qwt_round_scale_draw.h>
#include <qwt_wheel.h>

QT_BEGIN_NAMESPACE

class Ui_MainWindow
{
public:
    QAction *actionOpen;
    QAction *actionSave;
    QAction *actionSave_As;
    QAction *actionClose;
    QAction *actionPage_Setup;
    QAction *actionPrint;
    QAction *actionQuit;
    QAction *actionCut;
    QAction *actionCopy;
    QAction *actionPaste;
    QAction *actionAdd;
    QAction *actionEdit;
    QAction *actionBack;
    QAction *actionNext;
    QAction *actionReload;
    QAction *actionStop;
    QAction *actionHome;
    QAction *actionGoToLocation;
    QAction *actionGoToViewpoint;
    QAction *actionAbout_Quelvin;
    QAction *actionScreen_door;
    QAction *actionBlend;
    QAction *actionOrthographic;
    QAction *actionPerspective;
    QAction *actionSave_home_position;
    QAction *actionGo_to_home_position;
    QAction *actionDisplay_orientation;
    QAction *actionRender;
    QAction *actionDelete;
    QAction *actionDrawStyleDefault;
    QAction *actionDrawStyleWireframe;
    QAction *actionUndelete;
    QAction *actionRender_multiple;
    QAction *actionSet_window_size;
    QWidget *centralwidget;
    QMenuBar *menuBar;
    QMenu *menuFile;
    QMenu *menuHelp;
    QMenu *menuView;
    QMenu *menuTransparency;
    QMenu *menuCamera_type;
    QMenu *menuDraw_style;
    QMenu *menuEdit;
    QStatusBar *statusbar;
    QToolBar *navigationBar;
    QDockWidget *horizDock;
    QWidget *dockWidgetContents_2;
    QGridLayout *gridLayout;
    QHBoxLayout *horizontalLayout_2;
    QVBoxLayout *verticalLayout_3;
    QSpacerItem *verticalSpacer;
    QSpinBox *zSpin;
    QPushButton *zButton;
    QSpacerItem *verticalSpacer_2;
    QwtKnob *zKnob;
    QFrame *line;
    QSpacerItem *horizontalSpacer_3;
    QVBoxLayout *verticalLayout;
    QSpacerItem *verticalSpacer_3;
    QSpinBox *ySpin;
    QPushButton *yButton;
    QSpacerItem *verticalSpacer_4;
    QwtWheel *yWheel;
    QSpacerItem *horizontalSpacer_4;
    QLabel *objLabel;
    QDockWidget *vertDock;
    QWidget *dockWidgetContents;
    QGridLayout *gridLayout_2;
    QVBoxLayout *verticalLayout_2;
    QSpacerItem *verticalSpacer_5;
    QHBoxLayout *horizontalLayout;
    QSpacerItem *horizontalSpacer;
    QwtWheel *xWheel;
    QSpacerItem *horizontalSpacer_2;
    QSpinBox *xSpin;
    QPushButton *xButton;
    QSpacerItem *verticalSpacer_6;

    void setupUi(QMainWindow *MainWindow)
    {
        if (MainWindow->objectName().isEmpty())
            MainWindow->setObjectName(QString::fromUtf8("MainWindow"));
        MainWindow->resize(556, 459);
        QSizePolicy sizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        sizePolicy.setHorizontalStretch(0);
        sizePolicy.setVerticalStretch(0);
        sizePolicy.setHeightForWidth(MainWindow->sizePolicy().hasHeightForWidth());
        MainWindow->setSizePolicy(sizePolicy);
        MainWindow->setDockNestingEnabled(false);

        actionOpen = makeAction(MainWindow, "actionOpen");
        QIcon icon;
        icon.addFile(QString::fromUtf8(":/icons/linguist-fileopen.png"), QSize(), QIcon::Normal, QIcon::Off);
        actionOpen->setIcon(icon);
        actionSave = makeAction(MainWindow, "actionSave");
        actionSave_As = makeAction(MainWindow, "actionSave_As");
        actionClose = makeAction(MainWindow, "actionClose");
        actionPage_Setup = makeAction(MainWindow, "actionPage_Setup");
        actionPrint = makeAction(MainWindow, "actionPrint");
        actionQuit = makeAction(MainWindow, "actionQuit");
        actionCut = makeAction(MainWindow, "actionCut");
        actionCopy = makeAction(MainWindow, "actionCopy");
        actionPaste = makeAction(MainWindow, "actionPaste");
        actionAdd = makeAction(MainWindow, "actionAdd");
        actionEdit = makeAction(MainWindow, "actionEdit");
        actionBack = makeAction(MainWindow, "actionBack");
        actionBack->setEnabled(false);
        QIcon icon1;
        icon1.addFile(QString::fromUtf8(":/icons/previous.png"), QSize(), QIcon::Normal, QIcon::Off);
        actionBack->setIcon(icon1);
        actionNext = makeAction(MainWindow, "actionNext");
        actionNext->setEnabled(false);
        QIcon icon2;
        icon2.addFile(QString::fromUtf8(":/icons/next.png"), QSize(), QIcon::Normal, QIcon::Off);
        actionNext->setIcon(icon2);
        actionReload = makeAction(MainWindow, "actionReload");
        actionReload->setEnabled(true);
        QIcon icon3;
        icon3.addFile(QString::fromUtf8(":/icons/linguist-editredo.png"), QSize(), QIcon::Normal, QIcon::Off);
        actionReload->setIcon(icon3);
        actionStop = makeAction(MainWindow, "actionStop");
        actionStop->setEnabled(false);
        QIcon icon4;
        icon4.addFile(QString::fromUtf8(":/icons/delete32.png"), QSize(), QIcon::Normal, QIcon::Off);
        actionStop->setIcon(icon4);
        actionHome = makeAction(MainWindow, "actionHome");
        QIcon icon5;
        icon5.addFile(QString::fromUtf8(":/icons/World2.png"), QSize(), QIcon::Normal, QIcon::Off);
        actionHome->setIcon(icon5);
        actionGoToLocation = makeAction(MainWindow, "actionGoToLocation");
        QIcon icon6;
        icon6.addFile(QString::fromUtf8(":/icons/Check.png"), QSize(), QIcon::Normal, QIcon::Off);
        actionGoToLocation->setIcon(icon6);
        actionGoToViewpoint = makeAction(MainWindow, "actionGoToViewpoint");
        actionGoToViewpoint->setIcon(icon6);
        actionAbout_Quelvin = makeAction(MainWindow, "actionAbout_Quelvin");
        actionScreen_door = makeAction(MainWindow, "actionScreen_door");
        actionScreen_door->setCheckable(true);
        actionBlend = makeAction(MainWindow, "actionBlend");
        actionBlend->setCheckable(true);
        actionOrthographic = makeAction(MainWindow, "actionOrthographic");
        actionOrthographic->setCheckable(true);
        actionPerspective = makeAction(MainWindow, "actionPerspective");
        actionPerspective->setCheckable(true);
        actionSave_home_position = makeAction(MainWindow, "actionSave_home_position");
        actionGo_to_home_position = makeAction(MainWindow, "actionGo_to_home_position");
        actionDisplay_orientation = makeAction(MainWindow, "actionDisplay_orientation");
        actionRender = makeAction(MainWindow, "actionRender");
        actionDelete = makeAction(MainWindow, "actionDelete");
        actionDrawStyleDefault = makeAction(MainWindow, "actionDrawStyleDefault");
        actionDrawStyleDefault->setCheckable(true);
        actionDrawStyleDefault->setChecked(false);
        actionDrawStyleWireframe = makeAction(MainWindow, "actionDrawStyleWireframe");
        actionDrawStyleWireframe->setCheckable(true);
        actionUndelete = makeAction(MainWindow, "actionUndelete");
        actionRender_multiple = makeAction(MainWindow, "actionRender_multiple");
        actionSet_window_size = makeAction(MainWindow, "actionSet_window_size");

        centralwidget = new QWidget(MainWindow);
        centralwidget->setObjectName(QString::fromUtf8("centralwidget"));
        MainWindow->setCentralWidget(centralwidget);

        menuBar = new QMenuBar(MainWindow);
        menuBar->setObjectName(QString::fromUtf8("menuBar"));
        menuBar->setGeometry(QRect(0, 0, 556, 26));
        menuFile = new QMenu(menuBar);
        menuFile->setObjectName(QString::fromUtf8("menuFile"));
        menuHelp = new QMenu(menuBar);
        menuHelp->setObjectName(QString::fromUtf8("menuHelp"));
        menuView = new QMenu(menuBar);
        menuView->setObjectName(QString::fromUtf8("menuView"));
        menuTransparency = new QMenu(menuView);
        menuTransparency->setObjectName(QString::fromUtf8("menuTransparency"));
        menuCamera_type = new QMenu(menuView);
        menuCamera_type->setObjectName(QString::fromUtf8("menuCamera_type"));
        menuDraw_style = new QMenu(menuView);
        menuDraw_style->setObjectName(QString::fromUtf8("menuDraw_style"));
        menuEdit = new QMenu(menuBar);
        menuEdit->setObjectName(QString::fromUtf8("menuEdit"));
        MainWindow->setMenuBar(menuBar);

        statusbar = new QStatusBar(MainWindow);
        statusbar->setObjectName(QString::fromUtf8("statusbar"));
        MainWindow->setStatusBar(statusbar);

        navigationBar = new QToolBar(MainWindow);
        navigationBar->setObjectName(QString::fromUtf8("navigationBar"));
        navigationBar->setOrientation(Qt::Horizontal);
        navigationBar->setIconSize(QSize(24, 22));
        MainWindow->addToolBar(Qt::TopToolBarArea, navigationBar);

        setupBottomDock(MainWindow);
        setupLeftDock(MainWindow);

        menuBar->addAction(menuFile->menuAction());
        menuBar->addAction(menuEdit->menuAction());
        menuBar->addAction(menuView->menuAction());
        menuBar->addAction(menuHelp->menuAction());
        menuFile->addAction(actionOpen);
        menuFile->addAction(actionRender);
        menuFile->addAction(actionRender_multiple);
        menuFile->addSeparator();
        menuFile->addAction(actionQuit);
        menuHelp->addAction(actionAbout_Quelvin);
        menuView->addAction(menuTransparency->menuAction());
        menuView->addAction(menuDraw_style->menuAction());
        menuView->addAction(menuCamera_type->menuAction());
        menuView->addAction(actionSave_home_position);
        menuView->addAction(actionGo_to_home_position);
        menuView->addAction(actionDisplay_orientation);
        menuView->addAction(actionSet_window_size);
        menuTransparency->addAction(actionScreen_door);
        menuTransparency->addAction(actionBlend);
        menuCamera_type->addAction(actionOrthographic);
        menuCamera_type->addAction(actionPerspective);
        menuDraw_style->addAction(actionDrawStyleDefault);
        menuDraw_style->addAction(actionDrawStyleWireframe);
        menuEdit->addAction(actionDelete);
        menuEdit->addAction(actionUndelete);
        navigationBar->addAction(actionOpen);
        navigationBar->addAction(actionGoToLocation);
        navigationBar->addAction(actionGoToViewpoint);

        retranslateUi(MainWindow);

        // The window's own slots and signals are named by signature, as the
        // form compiler connects them; the Qwt 6 wheel reports its release as
        // wheelReleased() where the knob keeps sliderReleased().
        QObject::connect(xButton, SIGNAL(clicked()), MainWindow, SLOT(xRotButton()));
        QObject::connect(zButton, SIGNAL(clicked()), MainWindow, SLOT(zRotButton()));
        QObject::connect(yButton, SIGNAL(clicked()), MainWindow, SLOT(yRotButton()));
        QObject::connect(xWheel, SIGNAL(valueChanged(double)), MainWindow, SLOT(xRotWheel(double)));
        QObject::connect(zKnob, SIGNAL(valueChanged(double)), MainWindow, SLOT(zRotWheel(double)));
        QObject::connect(yWheel, SIGNAL(valueChanged(double)), MainWindow, SLOT(yRotWheel(double)));
        QObject::connect(yWheel, SIGNAL(wheelReleased()), MainWindow, SLOT(yWheelReset()));
        QObject::connect(zKnob, SIGNAL(sliderReleased()), MainWindow, SLOT(zWheelReset()));
        QObject::connect(xWheel, SIGNAL(wheelReleased()), MainWindow, SLOT(xWheelReset()));
        QObject::connect(MainWindow, SIGNAL(yWheelSet(double)), yWheel, SLOT(setValue(double)));
        QObject::connect(MainWindow, SIGNAL(zWheelSet(double)), zKnob, SLOT(setValue(double)));
        QObject::connect(MainWindow, SIGNAL(xWheelSet(double)), xWheel, SLOT(setValue(double)));
        QObject::connect(xSpin, SIGNAL(valueChanged(int)), MainWindow, SLOT(xRotSet(int)));
        QObject::connect(zSpin, SIGNAL(valueChanged(int)), MainWindow, SLOT(zRotSet(int)));
        QObject::connect(ySpin, SIGNAL(valueChanged(int)), MainWindow, SLOT(yRotSet(int)));
        QObject::connect(MainWindow, SIGNAL(showMsg(QString,int)), statusbar, SLOT(showMessage(QString,int)));

        QMetaObject::connectSlotsByName(MainWindow);
    } // setupUi

    void retranslateUi(QMainWindow *MainWindow)
    {
        MainWindow->setWindowTitle(tr("MainWindow"));
        actionOpen->setText(tr("&Open"));
        actionOpen->setIconText(tr("Open"));
        actionOpen->setShortcut(QKeySequence(tr("Ctrl+O")));
        actionSave->setText(tr("&Save"));
        actionSave_As->setText(tr("Save &As..."));
        actionClose->setText(tr("&Close"));
        actionPage_Setup->setText(tr("Page Setup..."));
        actionPrint->setText(tr("Print..."));
        actionQuit->setText(tr("&Quit"));
        actionQuit->setShortcut(QKeySequence(tr("Ctrl+Q")));
        actionCut->setText(tr("Cut"));
        actionCopy->setText(tr("Copy"));
        actionPaste->setText(tr("Paste"));
        actionAdd->setText(tr("Add Reference"));
        actionEdit->setText(tr("Edit References..."));
        actionBack->setText(tr("Back"));
        actionNext->setText(tr("Next"));
        actionReload->setText(tr("Reload"));
        actionStop->setText(tr("Stop"));
        actionHome->setText(tr("Home"));
        actionGoToLocation->setText(tr("Go to location"));
        actionGoToViewpoint->setText(tr("Go to viewpoint"));
        actionAbout_Quelvin->setText(tr("&About Quelvin"));
        actionScreen_door->setText(tr("&Screen-door"));
        actionScreen_door->setShortcut(QKeySequence(tr("Ctrl+S")));
        actionBlend->setText(tr("&Blend"));
        actionBlend->setShortcut(QKeySequence(tr("Ctrl+B")));
        actionOrthographic->setText(tr("&Orthographic"));
        actionOrthographic->setShortcut(QKeySequence(tr("Ctrl+C, O")));
        actionPerspective->setText(tr("&Perspective"));
        actionPerspective->setShortcut(QKeySequence(tr("Ctrl+C, P")));
        actionSave_home_position->setText(tr("&Save new home position"));
        actionSave_home_position->setShortcut(QKeySequence(tr("Ctrl+Shift+H")));
        actionGo_to_home_position->setText(tr("Go to &home position"));
        actionGo_to_home_position->setShortcut(QKeySequence(tr("Ctrl+H")));
        actionDisplay_orientation->setText(tr("&Display current orientation"));
        actionDisplay_orientation->setShortcut(QKeySequence(tr("Ctrl+D")));
        actionRender->setText(tr("&Render"));
        actionRender->setShortcut(QKeySequence(tr("Ctrl+R")));
        actionDelete->setText(tr("&Delete"));
        actionDelete->setShortcut(QKeySequence(tr("Del")));
        actionDrawStyleDefault->setText(tr("&Default"));
        actionDrawStyleWireframe->setText(tr("&Wireframe"));
        actionUndelete->setText(tr("&Undelete"));
        actionUndelete->setShortcut(QKeySequence(tr("Ins")));
        actionRender_multiple->setText(tr("Render &multiple"));
        actionRender_multiple->setShortcut(QKeySequence(tr("Ctrl+Shift+R")));
        actionSet_window_size->setText(tr("Set &window size"));
        actionSet_window_size->setShortcut(QKeySequence(tr("Ctrl+W")));
        menuFile->setTitle(tr("&File"));
        menuHelp->setTitle(tr("&Help"));
        menuView->setTitle(tr("&View"));
        menuTransparency->setTitle(tr("&Transparency"));
        menuCamera_type->setTitle(tr("&Camera type"));
        menuDraw_style->setTitle(tr("D&raw style"));
        menuEdit->setTitle(tr("Edit"));
        MainWindow->setStatusTip(QString());
        horizDock->setWindowTitle(QString());
        zSpin->setSuffix(tr("\302\260"));
        zButton->setText(tr("Z"));
        ySpin->setSuffix(tr("\302\260"));
        yButton->setText(tr("Y"));
#if QT_CONFIG(tooltip)
        objLabel->setToolTip(tr("Object label"));
#endif
        objLabel->setText(tr("<html><head/><body><p><br/></p></body></html>"));
        vertDock->setWindowTitle(QString());
        xSpin->setSuffix(tr("\302\260"));
        xButton->setText(tr("X"));
    } // retranslateUi

private:
    static QString tr(const char *text)
    {
        return QApplication::translate("MainWindow", text, nullptr);
    }

    static QAction *makeAction(QMainWindow *MainWindow, const char *name)
    {
        QAction *action = new QAction(MainWindow);
        action->setObjectName(QString::fromUtf8(name));
        return action;
    }

    static QSpinBox *makeStepSpin(QWidget *parent, const char *name, bool wrapping)
    {
        QSpinBox *spin = new QSpinBox(parent);
        spin->setObjectName(QString::fromUtf8(name));
        QSizePolicy policy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        spin->setSizePolicy(policy);
        spin->setMinimumSize(QSize(60, 23));
        spin->setMaximumSize(QSize(60, 23));
        spin->setWrapping(wrapping);
        spin->setFrame(true);
        spin->setAlignment(Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
        spin->setMinimum(-180);
        spin->setMaximum(180);
        spin->setSingleStep(5);
        spin->setValue(5);
        return spin;
    }

    static QPushButton *makeAxisButton(QWidget *parent, const char *name)
    {
        QPushButton *button = new QPushButton(parent);
        button->setObjectName(QString::fromUtf8(name));
        button->setSizePolicy(QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed));
        button->setMinimumSize(QSize(60, 27));
        button->setMaximumSize(QSize(60, 27));
        return button;
    }

    void setupBottomDock(QMainWindow *MainWindow)
    {
        horizDock = new QDockWidget(MainWindow);
        horizDock->setObjectName(QString::fromUtf8("horizDock"));
        horizDock->setSizePolicy(QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed));
        horizDock->setMinimumSize(QSize(0, 100));
        horizDock->setMaximumSize(QSize(524287, 100));
        horizDock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetVerticalTitleBar);
        horizDock->setAllowedAreas(Qt::BottomDockWidgetArea | Qt::TopDockWidgetArea);
        dockWidgetContents_2 = new QWidget();
        dockWidgetContents_2->setObjectName(QString::fromUtf8("dockWidgetContents_2"));
        dockWidgetContents_2->setSizePolicy(QSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed));
        dockWidgetContents_2->setMinimumSize(QSize(300, 100));
        dockWidgetContents_2->setMaximumSize(QSize(16777215, 100));
        gridLayout = new QGridLayout(dockWidgetContents_2);
        gridLayout->setObjectName(QString::fromUtf8("gridLayout"));
        horizontalLayout_2 = new QHBoxLayout();
        horizontalLayout_2->setObjectName(QString::fromUtf8("horizontalLayout_2"));
        horizontalLayout_2->setContentsMargins(-1, -1, 0, -1);
        verticalLayout_3 = new QVBoxLayout();
        verticalLayout_3->setObjectName(QString::fromUtf8("verticalLayout_3"));
        verticalSpacer = new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
        verticalLayout_3->addItem(verticalSpacer);
        zSpin = makeStepSpin(dockWidgetContents_2, "zSpin", false);
        verticalLayout_3->addWidget(zSpin);
        zButton = makeAxisButton(dockWidgetContents_2, "zButton");
        verticalLayout_3->addWidget(zButton);
        verticalSpacer_2 = new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
        verticalLayout_3->addItem(verticalSpacer_2);
        horizontalLayout_2->addLayout(verticalLayout_3);

        zKnob = new QwtKnob(dockWidgetContents_2);
        zKnob->setObjectName(QString::fromUtf8("zKnob"));
        zKnob->setSizePolicy(QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed));
        zKnob->setMinimumSize(QSize(0, 0));
        zKnob->setMaximumSize(QSize(70, 80));
        zKnob->setTotalAngle(360);
        // Qwt 6 calls the line marker a tick.
        zKnob->setMarkerStyle(QwtKnob::Tick);
        // Sized for its scale's labels, a Qwt 6 knob keeps only what they
        // leave of the area, about a third of it; a knob of fixed width with
        // a scale of ticks alone fills it.
        zKnob->setKnobWidth(44);
        zKnob->scaleDraw()->enableComponent(QwtAbstractScaleDraw::Labels, false);
        horizontalLayout_2->addWidget(zKnob);

        line = new QFrame(dockWidgetContents_2);
        line->setObjectName(QString::fromUtf8("line"));
        line->setFrameShape(QFrame::VLine);
        line->setFrameShadow(QFrame::Sunken);
        horizontalLayout_2->addWidget(line);
        horizontalSpacer_3 = new QSpacerItem(5, 20, QSizePolicy::Fixed, QSizePolicy::Minimum);
        horizontalLayout_2->addItem(horizontalSpacer_3);

        verticalLayout = new QVBoxLayout();
        verticalLayout->setObjectName(QString::fromUtf8("verticalLayout"));
        verticalLayout->setSizeConstraint(QLayout::SetFixedSize);
        verticalSpacer_3 = new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
        verticalLayout->addItem(verticalSpacer_3);
        ySpin = makeStepSpin(dockWidgetContents_2, "ySpin", true);
        verticalLayout->addWidget(ySpin);
        yButton = makeAxisButton(dockWidgetContents_2, "yButton");
        verticalLayout->addWidget(yButton);
        verticalSpacer_4 = new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
        verticalLayout->addItem(verticalSpacer_4);
        horizontalLayout_2->addLayout(verticalLayout);

        yWheel = new QwtWheel(dockWidgetContents_2);
        yWheel->setObjectName(QString::fromUtf8("yWheel"));
        yWheel->setSizePolicy(QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed));
        yWheel->setMinimumSize(QSize(64, 24));
        yWheel->setMaximumSize(QSize(64, 24));
        yWheel->setMouseTracking(false);
        yWheel->setTickCount(10);
        yWheel->setWheelBorderWidth(2);
        horizontalLayout_2->addWidget(yWheel);

        horizontalSpacer_4 = new QSpacerItem(5, 20, QSizePolicy::Fixed, QSizePolicy::Minimum);
        horizontalLayout_2->addItem(horizontalSpacer_4);

        objLabel = new QLabel(dockWidgetContents_2);
        objLabel->setObjectName(QString::fromUtf8("objLabel"));
        objLabel->setSizePolicy(QSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred));
        objLabel->setMinimumSize(QSize(200, 0));
        QFont font;
        font.setFamily(QString::fromUtf8("Times New Roman"));
        font.setPointSize(16);
        objLabel->setFont(font);
        objLabel->setFrameShape(QFrame::StyledPanel);
        objLabel->setFrameShadow(QFrame::Plain);
        objLabel->setWordWrap(true);
        horizontalLayout_2->addWidget(objLabel);

        gridLayout->addLayout(horizontalLayout_2, 0, 0, 1, 1);
        horizDock->setWidget(dockWidgetContents_2);
        MainWindow->addDockWidget(Qt::BottomDockWidgetArea, horizDock);
    }

    void setupLeftDock(QMainWindow *MainWindow)
    {
        vertDock = new QDockWidget(MainWindow);
        vertDock->setObjectName(QString::fromUtf8("vertDock"));
        vertDock->setSizePolicy(QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred));
        vertDock->setMinimumSize(QSize(80, 0));
        vertDock->setMaximumSize(QSize(80, 524287));
        QIcon icon5;
        icon5.addFile(QString::fromUtf8(":/icons/World2.png"), QSize(), QIcon::Normal, QIcon::Off);
        vertDock->setWindowIcon(icon5);
        vertDock->setFeatures(QDockWidget::DockWidgetMovable);
        vertDock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
        dockWidgetContents = new QWidget();
        dockWidgetContents->setObjectName(QString::fromUtf8("dockWidgetContents"));
        dockWidgetContents->setSizePolicy(QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred));
        dockWidgetContents->setMinimumSize(QSize(80, 0));
        dockWidgetContents->setMaximumSize(QSize(80, 16777215));
        gridLayout_2 = new QGridLayout(dockWidgetContents);
        gridLayout_2->setObjectName(QString::fromUtf8("gridLayout_2"));
        verticalLayout_2 = new QVBoxLayout();
        verticalLayout_2->setObjectName(QString::fromUtf8("verticalLayout_2"));
        verticalSpacer_5 = new QSpacerItem(20, 10, QSizePolicy::Minimum, QSizePolicy::Expanding);
        verticalLayout_2->addItem(verticalSpacer_5);
        horizontalLayout = new QHBoxLayout();
        horizontalLayout->setObjectName(QString::fromUtf8("horizontalLayout"));
        horizontalLayout->setSizeConstraint(QLayout::SetFixedSize);
        horizontalSpacer = new QSpacerItem(28, 14, QSizePolicy::Expanding, QSizePolicy::Minimum);
        horizontalLayout->addItem(horizontalSpacer);
        xWheel = new QwtWheel(dockWidgetContents);
        xWheel->setObjectName(QString::fromUtf8("xWheel"));
        xWheel->setSizePolicy(QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed));
        xWheel->setMinimumSize(QSize(24, 64));
        xWheel->setMaximumSize(QSize(24, 64));
        xWheel->setOrientation(Qt::Vertical);
        horizontalLayout->addWidget(xWheel);
        horizontalSpacer_2 = new QSpacerItem(28, 14, QSizePolicy::Expanding, QSizePolicy::Minimum);
        horizontalLayout->addItem(horizontalSpacer_2);
        verticalLayout_2->addLayout(horizontalLayout);
        xSpin = makeStepSpin(dockWidgetContents, "xSpin", true);
        verticalLayout_2->addWidget(xSpin);
        xButton = makeAxisButton(dockWidgetContents, "xButton");
        verticalLayout_2->addWidget(xButton);
        verticalSpacer_6 = new QSpacerItem(20, 5, QSizePolicy::Minimum, QSizePolicy::Fixed);
        verticalLayout_2->addItem(verticalSpacer_6);
        gridLayout_2->addLayout(verticalLayout_2, 0, 0, 1, 1);
        vertDock->setWidget(dockWidgetContents);
        MainWindow->addDockWidget(Qt::LeftDockWidgetArea, vertDock);
    }
};

namespace Ui {
    class MainWindow: public Ui_MainWindow {};
} // namespace Ui

QT_END_NAMESPACE

#endif // UI_QUELVIN_H
