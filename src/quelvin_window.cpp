#include "quelvin_window.h"

#include "quelvin_http.h"
#include "quelvin_loader.h"
#include "quelvin_reader.h"
#include "quelvin_viewer.h"
#include "quelvin_vrmlwriter.h"

#include <Inventor/Qt/SoQt.h>
#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/SoSceneManager.h>
#include <Inventor/nodes/SoSeparator.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QSaveFile>
#include <QSettings>
#include <QStatusBar>
#include <QTextStream>
#include <QTimer>
#include <QWindow>

#include <csignal>
#include <cstdlib>
#include <iostream>

namespace {

// A URL as the window shows it: a password typed into it stays out of the
// status bar, titles, boxes and logs.
QString shownUrl(const QUrl &url)
{
    return url.toString(QUrl::RemoveUserInfo);
}

// SoQt draws a freshly shown viewer before X has mapped its window, so that
// first frame is lost and the view stays black until something else asks
// for a redraw. Every time the GL window is exposed, ask again.
class RedrawOnExpose : public QObject
{
public:
    RedrawOnExpose(Browser *viewer, QObject *parent) : QObject(parent), viewer(viewer) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched == parent()) {
            QWidget *gl = viewer->getGLWidget();
            QWindow *window = gl ? gl->windowHandle() : nullptr;
            if (window && window != watchedWindow) {
                window->installEventFilter(this);
                watchedWindow = window;
            }
            scheduleRedraw();
        } else if (event->type() == QEvent::Expose) {
            scheduleRedraw();
        }
        return false;
    }

private:
    void scheduleRedraw()
    {
        // Showing the window brings a Show and one or more Exposes in one
        // go; one frame answers them all (a large scene takes a second or
        // more to draw).
        if (pending)
            return;
        pending = true;
        Browser *target = viewer;
        QTimer::singleShot(0, this, [this, target]() {
            pending = false;
            target->render();
        });
    }

    Browser *viewer;
    QWindow *watchedWindow = nullptr;
    bool pending = false;
};

} // namespace

BrowserWindow::BrowserWindow(QString clArg1)
    : QMainWindow(nullptr), http(nullptr), dir(nullptr), buf(nullptr), httpGetId(0),
      httpRequestAborted(false), separatorAction(nullptr), location(nullptr),
      viewpoints(nullptr), progress(nullptr), browser(nullptr)
{
    // The icons are compiled into a static library; without a reference to
    // their registration the linker leaves them out of the program.
    Q_INIT_RESOURCE(quelvin);
    setupUi(this);
    SoQt::init(this);
    browser = new Browser(this, nullptr, TRUE);
    setCentralWidget(browser->getWidget());
    setWindowIcon(QIcon(":/icons/quelvin_3d_30.png"));
    browser->setDefaultScene();

    setupActions();
    setupMenus();
    setupToolBars();
    setupStatusBar();
    setupRotationRanges();
    readSettings();

    setDrawStyleDefault();
    setCameraPerspective();

    if (clArg1.isEmpty()) {
        setCurrentFile("");
        std::cout << "No file specified on command line" << std::endl;
    } else {
        setCurrentFile(clArg1);
        loadFile(QUrl::fromLocalFile(clArg1));
    }

    openLog();

    installEventFilter(new RedrawOnExpose(browser, this));
}

BrowserWindow::~BrowserWindow()
{
}

void BrowserWindow::openLog()
{
    logFile.open("quelvin.log", std::ios::out | std::ios::trunc);
    if (logFile.fail())
        exit(902);
    logFile << "Quelvin log file\n\n";
    logFile.flush();
}

void BrowserWindow::setupRotationRanges()
{
    xWheel->setRange(-180.0, 180.0);
    xWheel->setSingleStep(1.0);
    xWheel->setPageStepCount(1);
    yWheel->setRange(-180.0, 180.0);
    yWheel->setSingleStep(1.0);
    yWheel->setPageStepCount(1);
    // A Qwt 6 knob takes its range from its scale.
    zKnob->setScale(-180.0, 180.0);
    zKnob->setScaleStepSize(360.0);
    zKnob->setTotalSteps(360);
    zKnob->setSingleSteps(1);
    zKnob->setPageSteps(1);
}

// --- Messages ---------------------------------------------------------------

void BrowserWindow::msgBox(int severity, QString origin, QString message)
{
    switch (severity) {
    case 0:
        QMessageBox::critical(nullptr, origin, message, QMessageBox::Ok, QMessageBox::NoButton);
        break;
    case 1:
        QMessageBox::warning(nullptr, origin, message, QMessageBox::Ok, QMessageBox::NoButton);
        break;
    default:
        QMessageBox::information(nullptr, origin, message, QMessageBox::Ok, QMessageBox::NoButton);
        break;
    }
}

void BrowserWindow::msgTemp(QString message, int timeout)
{
    emit showMsg(message, timeout);
    objLabel->setText(message);
}

void BrowserWindow::objLabelSet(QString text)
{
    objLabel->setText(text);
}

void BrowserWindow::helpAboutQuelvin()
{
    QMessageBox::about(this, "Quelvin",
                       tr("<strong>About Quelvin</strong><p>Quelvin is an open-source "
                          "multi-platform viewer for VRML models.<p>See "
                          "<a href=\"https://quelvin.kestrom.org/\">https://quelvin.kestrom.org/</a>"
                          " for more information."));
}

void BrowserWindow::closeEvent(QCloseEvent *event)
{
    writeSettings();
    event->accept();
}

// --- Actions, menus, toolbar and status bar --------------------------------

void BrowserWindow::setupActions()
{
    connect(actionOpen, SIGNAL(triggered()), this, SLOT(open()));
    connect(actionRender, SIGNAL(triggered()), this, SLOT(render()));
    connect(actionRender_multiple, SIGNAL(triggered()), this, SLOT(renderMult()));
    connect(actionSave, SIGNAL(triggered()), this, SLOT(save()));
    connect(actionSave_As, SIGNAL(triggered()), this, SLOT(saveAs()));

    for (int i = 0; i < MaxRecentFiles; ++i) {
        recentFileActions[i] = new QAction(this);
        recentFileActions[i]->setVisible(false);
        connect(recentFileActions[i], SIGNAL(triggered()), this, SLOT(openRecentFile()));
    }

    connect(actionQuit, SIGNAL(triggered()), this, SLOT(close()));
    connect(actionStop, SIGNAL(triggered()), this, SLOT(cancelDownload()));
    connect(actionDelete, SIGNAL(triggered()), this, SLOT(deleteObj()));
    connect(actionUndelete, SIGNAL(triggered()), this, SLOT(undeleteObj()));
    actionUndelete->setEnabled(false);

    connect(actionGoToLocation, SIGNAL(triggered()), this, SLOT(openLocation()));
    connect(actionGoToViewpoint, SIGNAL(triggered()), this, SLOT(viewpointReturn()));

    connect(actionScreen_door, SIGNAL(triggered()), this, SLOT(setTransparencyScreenDoor()));
    connect(actionBlend, SIGNAL(triggered()), this, SLOT(setTransparencyBlend()));
    actionBlend->setChecked(true);

    connect(actionDrawStyleDefault, SIGNAL(triggered()), this, SLOT(setDrawStyleDefault()));
    connect(actionDrawStyleWireframe, SIGNAL(triggered()), this, SLOT(setDrawStyleWireframe()));
    actionDrawStyleDefault->setChecked(true);

    connect(actionOrthographic, SIGNAL(triggered()), this, SLOT(setCameraOrthographic()));
    connect(actionPerspective, SIGNAL(triggered()), this, SLOT(setCameraPerspective()));
    actionPerspective->setChecked(true);

    connect(actionSave_home_position, SIGNAL(triggered()), this, SLOT(setNewHomePosition()));
    connect(actionGo_to_home_position, SIGNAL(triggered()), this, SLOT(goToHomePosition()));
    connect(actionDisplay_orientation, SIGNAL(triggered()), this, SLOT(displayOrientation()));
    connect(actionSet_window_size, SIGNAL(triggered()), this, SLOT(setSize()));
    connect(actionAbout_Quelvin, SIGNAL(triggered()), this, SLOT(helpAboutQuelvin()));

    actionCut->setEnabled(false);
    actionCopy->setEnabled(false);
    actionPaste->setEnabled(false);
}

void BrowserWindow::setupMenus()
{
    separatorAction = menuFile->insertSeparator(actionQuit);
    for (int i = 0; i < MaxRecentFiles; ++i)
        menuFile->insertAction(separatorAction, recentFileActions[i]);
}

void BrowserWindow::setupToolBars()
{
    location = new QComboBox(this);
    location->setObjectName("location");
    location->setMinimumWidth(40);
    location->setMaximumHeight(22);
    location->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    location->setEditable(true);
    // Editable combo boxes complete from their items by default in Qt 5.
    location->setAcceptDrops(true);
    location->setToolTip("Location");
    navigationBar->insertWidget(actionGoToLocation, location);
    connect(location->lineEdit(), SIGNAL(returnPressed()), this, SLOT(openLocation()));

    viewpoints = new QComboBox(this);
    viewpoints->setObjectName("viewpoints");
    viewpoints->setMinimumWidth(160);
    viewpoints->setMaximumWidth(160 + 64);
    viewpoints->setFixedHeight(22);
    viewpoints->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    viewpoints->setToolTip("Viewpoints");
    viewpointAdd("Default view");
    navigationBar->insertWidget(actionGoToViewpoint, viewpoints);
    connect(viewpoints, SIGNAL(activated(int)), this, SLOT(viewpointActivated(int)));
}

void BrowserWindow::setupStatusBar()
{
    statusBar()->showMessage(tr("Ready"), 0);
    progress = new QProgressBar(this);
    progress->setObjectName("progress");
    progress->setTextVisible(false);
    progress->hide();
    statusBar()->addPermanentWidget(progress, 0);
}

// --- Settings and recent files ---------------------------------------------

void BrowserWindow::readSettings()
{
    QSettings settings("Kestrom", "Quelvin");
    QPoint pos = settings.value("pos", QPoint(200, 200)).toPoint();
    QSize size = settings.value("size", QSize(400, 400)).toSize();
    resize(size);
    move(pos);
    recentFiles = settings.value("recentFiles").toStringList();
    updateRecentFileActions();
}

void BrowserWindow::writeSettings()
{
    QSettings settings("Kestrom", "Quelvin");
    settings.setValue("pos", pos());
    settings.setValue("size", size());
    settings.setValue("recentFiles", recentFiles);
}

void BrowserWindow::setCurrentFile(const QString &fileName)
{
    curFile = fileName;
    setWindowModified(false);
    if (curFile.isEmpty()) {
        setWindowTitle("Quelvin");
        return;
    }
    recentFiles.removeAll(curFile);
    recentFiles.prepend(curFile);
    updateRecentFileActions();
    location->clearEditText();
    location->setEditText(QUrl::fromLocalFile(curFile).toString());
    setWindowTitle(tr("%1[*] - %2").arg(strippedName(curFile)).arg(tr("Quelvin")));
}

void BrowserWindow::updateRecentFileActions()
{
    QMutableStringListIterator i(recentFiles);
    while (i.hasNext()) {
        if (!QFile::exists(i.next()))
            i.remove();
    }
    for (int j = 0; j < MaxRecentFiles; ++j) {
        if (j < recentFiles.count()) {
            QString text = tr("&%1 %2").arg(j + 1).arg(strippedName(recentFiles[j]));
            recentFileActions[j]->setText(text);
            recentFileActions[j]->setData(recentFiles[j]);
            recentFileActions[j]->setVisible(true);
        } else {
            recentFileActions[j]->setVisible(false);
        }
    }
    separatorAction->setVisible(!recentFiles.isEmpty());
}

void BrowserWindow::openRecentFile()
{
    QAction *action = qobject_cast<QAction *>(sender());
    if (action)
        loadFile(QUrl::fromLocalFile(action->data().toString()));
}

QString BrowserWindow::strippedName(const QString &fullFileName)
{
    return QFileInfo(fullFileName).fileName();
}

// --- Document loading ------------------------------------------------------

void BrowserWindow::open()
{
    QString startDir;
    if (!recentFiles.isEmpty())
        startDir = QFileInfo(recentFiles.first()).absolutePath();
    else
        startDir = QString::fromLocal8Bit(qgetenv("HOME"));
    if (startDir.isEmpty())
        startDir = QDir::rootPath();
    QString fileName = QFileDialog::getOpenFileName(this, tr("Open VRML File"), startDir, QString());
    if (!fileName.isEmpty())
        loadFile(QUrl::fromLocalFile(fileName));
}

void BrowserWindow::openLocation()
{
    QUrl url(location->lineEdit()->text());
    if (validInput(url.toString()))
        loadFile(url);
}

bool BrowserWindow::validInput(const QString &text)
{
    QUrl url(text);
    if (!url.isValid() || url.isEmpty()) {
        QMessageBox::information(this, tr("HTTP"), tr("Invalid URL: %1").arg(shownUrl(url)),
                                 QMessageBox::Ok, QMessageBox::NoButton);
        return false;
    }
    return true;
}

void BrowserWindow::setSource(const QUrl &link)
{
    QMessageBox::information(this, tr("HTTP"), tr("openLink(&link) called"),
                             QMessageBox::Ok, QMessageBox::NoButton);
    if (validInput(link.toString())) {
        QMessageBox::information(this, tr("HTTP"), tr("call to LoadFile(link)"),
                                 QMessageBox::Ok, QMessageBox::NoButton);
        loadFile(link);
    }
}

void BrowserWindow::loadFile(const QUrl &url)
{
    const QString scheme = url.scheme();
    curUrl = url.toString();
    if (scheme == QLatin1String("file")) {
        loadFileScheme(url);
    } else if (scheme == QLatin1String("http")) {
        QMessageBox::information(this, tr("HTTP"), tr("scheme: %1").arg(scheme),
                                 QMessageBox::Ok, QMessageBox::NoButton);
        startDownload(url);
    } else if (scheme == QLatin1String("ftp")) {
        QMessageBox::information(this, tr("HTTP"), tr("ftp not implemented yet"),
                                 QMessageBox::Ok, QMessageBox::NoButton);
    } else {
        loadOtherScheme(url);
    }
}

void BrowserWindow::loadFileScheme(const QUrl &url)
{
    const QString path = url.toLocalFile();
    Loader *loader = browser->resourceLoader();
    const Loader::Place shown = loader->openDocument();
    browser->resetLocation();
    SbString base(path.toUtf8().constData());
    browser->setBaseLocation(base);
    if (QFileInfo(path).fileName().isEmpty()) {
        loader->documentFailed(shown);
        return;
    }

    QString reason;
    SoInput *in = new SoInput;
    if (!SceneReader::isReadableFile(path, &reason)
        || !in->openFile(QFile::encodeName(path).constData(), FALSE)) {
        delete in;
        loader->documentFailed(shown);
        if (reason.isEmpty())
            reason = QFile(path).errorString();
        QMessageBox::warning(this, tr("Application"),
                             tr("Cannot read file %1:\n%2.").arg(path).arg(reason),
                             QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (!showDocument(in, shown))
        return;
    sceneFile = path;
    setCurrentFile(path);
    statusBar()->showMessage(tr("%1 loaded  scheme: '%2'").arg(path).arg(url.scheme()), 2000);
}

// Hands an opened document to the viewer under the wait cursor the caller
// set, and takes both back whatever happens. A document that cannot be
// shown leaves the scene shown as it was, down to where its linked
// resources are looked for and the downloads it still waits for.
bool BrowserWindow::showDocument(SoInput *in, const Loader::Place &shown)
{
    Loader *loader = browser->resourceLoader();
    bool loaded;
    {
        const ReadingFile document(loader);
        loaded = browser->loadFile(in);
    }
    delete in;
    if (!loaded) {
        loader->documentFailed(shown);
        QMessageBox::warning(this, tr("Application"), tr("Cannot load file"),
                             QMessageBox::Ok, QMessageBox::NoButton);
        QApplication::restoreOverrideCursor();
        return false;
    }
    loader->documentShown();
    QApplication::restoreOverrideCursor();
    return true;
}

void BrowserWindow::loadOtherScheme(const QUrl &url)
{
    QMessageBox::information(this, tr("HTTP"), tr("trying to load as local file"),
                             QMessageBox::Ok, QMessageBox::NoButton);
    const QString name = url.toString();
    if (QFileInfo(name).fileName().isEmpty()) {
        QMessageBox::warning(this, tr("Application"),
                             tr("maybe a directory, wait next version for implementation"),
                             QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }
    if (!QFileInfo(name).exists()) {
        QMessageBox::warning(this, tr("Browser"), tr("Cant handle \"%1\"").arg(shownUrl(url)),
                             QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }
    SoInput *in = new SoInput;
    if (!SceneReader::isReadableFile(name)
        || !in->openFile(QFile::encodeName(name).constData(), FALSE)) {
        delete in;
        QMessageBox::warning(this, tr("Application"), tr("Not a file"),
                             QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const Loader::Place shown = browser->resourceLoader()->openDocument();
    browser->resetLocation();
    SbString base(name.toUtf8().constData());
    browser->setBaseLocation(base);
    if (!showDocument(in, shown))
        return;
    sceneFile = name;
    setCurrentFile(name);
    statusBar()->showMessage(tr("loaded local file %1").arg(name), 2000);
}

// --- Document download -----------------------------------------------------

void BrowserWindow::startDownload(const QUrl &url)
{
    const QString displayName =
        strippedName(url.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority));
    // The scene shown keeps its base locations until the new one is in:
    // a download that fails must not leave its names resolving here.
    downloadUrl = url.toString();

    // An earlier client keeps running and reporting: a new download never
    // stops the previous one.
    http = new Http(this);
    connect(http, &Http::requestFinished, this, &BrowserWindow::httpRequestFinished);
    connect(http, &Http::dataReadProgress, this, &BrowserWindow::updateDataReadProgress);
    connect(http, &Http::responseHeaderReceived, this, &BrowserWindow::readResponseHeader);
    connect(http, &Http::requestStarted, this, &BrowserWindow::requestStarted);

    const int port = url.port() != -1 ? url.port() : 80;
    http->setHost(url.host(), quint16(port));
    if (!url.userName().isEmpty())
        http->setUser(url.userName(), url.password());
    httpRequestAborted = false;
    httpGetId = http->get(url.path());
    progress->show();
    statusBar()->showMessage(tr("Downloading %1.").arg(displayName), 2000);
}

void BrowserWindow::requestStarted()
{
    statusBar()->showMessage(tr("requestStarted"), 500);
}

void BrowserWindow::readResponseHeader(const HttpResponseHeader &responseHeader)
{
    if (responseHeader.statusCode() == 200)
        return;
    QMessageBox::information(this, tr("HTTP"),
                             tr("#2Download failed: %1.").arg(responseHeader.reasonPhrase()),
                             QMessageBox::Ok, QMessageBox::NoButton);
    httpRequestAborted = true;
    progress->hide();
    // The box ran a nested event loop; the client that reported may no
    // longer be the current one, but it is the one to stop.
    if (Http *client = qobject_cast<Http *>(sender()))
        client->abort();
    else if (http)
        http->abort();
}

void BrowserWindow::updateDataReadProgress(int bytesRead, int totalBytes)
{
    if (httpRequestAborted)
        return;
    progress->setMaximum(totalBytes);
    progress->setValue(bytesRead);
}

void BrowserWindow::cancelDownload()
{
    statusBar()->showMessage(tr("Download canceled."), 2000);
    httpRequestAborted = true;
    if (http)
        http->abort();
}

void BrowserWindow::httpRequestFinished(int requestId, bool error)
{
    statusBar()->showMessage(
        tr("finished;status code: %1.").arg(http->lastResponse().statusCode()), 1000);
    if (httpRequestAborted) {
        progress->hide();
        QMessageBox::information(this, tr("Browser"),
                                 tr("#1Download failed: %1.").arg(http->errorString()),
                                 QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }
    if (requestId != httpGetId)
        return;
    progress->hide();
    if (error)
        return;
    QMessageBox::information(this, tr("BrowserWindow::httpRequestFinished"),
                             tr("trying to load file to browser"),
                             QMessageBox::Ok, QMessageBox::NoButton);
    if (QFile::exists(curFile))
        curFile = QString();

    const QByteArray body = http->readAll();
    SoInput *in = new DocumentInput(body, curUrl);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const Loader::Place shown = browser->resourceLoader()->openDocument();
    browser->resetLocation();
    SbString base(downloadUrl.toUtf8().constData());
    browser->setBaseLocation(base);
    if (showDocument(in, shown)) {
        sceneFile.clear();
        QUrl url(location->lineEdit()->text());
        statusBar()->showMessage(shownUrl(url), 0);
        setWindowTitle(tr("%1[*] - %2")
                           .arg(url.toString(QUrl::RemoveAuthority | QUrl::RemovePath
                                             | QUrl::RemoveQuery | QUrl::RemoveFragment))
                           .arg("Browser"));
    }
}

// --- Saving ----------------------------------------------------------------

bool BrowserWindow::save()
{
    if (curFile.isEmpty())
        return saveAs();
    return saveFile(curFile);
}

bool BrowserWindow::saveAs()
{
    QString fileName = QFileDialog::getSaveFileName(this, QString(), QString(), QString());
    if (fileName.isEmpty())
        return false;
    return saveFile(fileName);
}

void BrowserWindow::documentWasModified()
{
}

// The disc shown before any document is opened, as a VRML 97 document.
static const char defaultSceneVrml[] =
    "#VRML V2.0 utf8\n\n"
    "Transform {\n"
    "  rotation 1 0 0 0.5\n"
    "  children Shape {\n"
    "    appearance Appearance { material Material { diffuseColor 0.5 0.4 0 } }\n"
    "    geometry Cylinder { height 0.1 radius 1 }\n"
    "  }\n"
    "}\n";

static QByteArray currentSceneAsVrml()
{
    SoSeparator *root = Browser::loadedScene();
    if (!root)
        return QByteArray(defaultSceneVrml);
    return sceneAsVrml(root);
}

static bool sameFile(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QFileInfo first(a), second(b);
    const QString canonical = first.canonicalFilePath();
    return canonical.isEmpty() ? first.absoluteFilePath() == second.absoluteFilePath()
                               : canonical == second.canonicalFilePath();
}

bool BrowserWindow::saveFile(const QString &fileName)
{
    auto refuse = [this, &fileName](const QString &reason) {
        QMessageBox::warning(this, tr("Application"),
                             tr("Cannot write file %1:\n%2.").arg(fileName).arg(reason),
                             QMessageBox::Ok);
        return false;
    };
    // The current file whose own scene is not shown (its load failed, or
    // only the default disc is up) holds the user's model: writing what is
    // shown over it would destroy that model.
    if (QFileInfo::exists(fileName) && sameFile(fileName, curFile) && !sameFile(sceneFile, curFile))
        return refuse(tr("the scene shown was not read from this file"));

    // The document is made whole before the target is touched, goes to a
    // temporary file beside it and takes the target's place only once every
    // byte is known to be on disk: a full disk or a size limit half-way
    // leaves the old file as it was.
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    const QByteArray text = currentSceneAsVrml();
    // Past a file-size limit the kernel would kill the program instead of
    // failing the write.
    std::signal(SIGXFSZ, SIG_IGN);
    QSaveFile file(fileName);
    QString reason;
    if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        QTextStream stream(&file);
        stream.setCodec("UTF-8");
        stream << QString::fromUtf8(text);
        stream.flush();
        if (stream.status() != QTextStream::Ok || !file.flush())
            reason = file.errorString();
        else if (file.size() != text.size())
            reason = tr("only %1 of %2 bytes could be written").arg(file.size()).arg(text.size());
        if (reason.isEmpty() && !file.commit())
            reason = file.errorString();
        else if (!reason.isEmpty())
            file.cancelWriting();
    } else {
        reason = file.errorString();
    }
    QApplication::restoreOverrideCursor();
    if (!reason.isEmpty())
        return refuse(reason);
    sceneFile = fileName;
    setCurrentFile(fileName);
    statusBar()->showMessage(tr("%1 saved").arg(fileName), 2000);
    return true;
}

// --- Viewpoints ------------------------------------------------------------

void BrowserWindow::viewpointAdd(const QString &text)
{
    viewpoints->addItem(text);
}

void BrowserWindow::viewpointRemoveAll()
{
    const int count = viewpoints->count();
    for (int i = 0; i < count; ++i)
        viewpoints->removeItem(0);
}

void BrowserWindow::viewpointActivated(int index)
{
    browser->viewpointJump(index);
    displayOrientation();
    logFile << "viewpointActivated\n";
    logFile.flush();
}

void BrowserWindow::viewpointReturn()
{
    browser->viewpointReturnToCurrent();
    displayOrientation();
}

// --- Selection and deletion ------------------------------------------------

void BrowserWindow::deleteObj()
{
    browser->deleteObject();
    actionUndelete->setEnabled(true);
}

void BrowserWindow::undeleteObj()
{
    if (browser->undeleteObject() < 1)
        actionUndelete->setEnabled(false);
}

// --- Rotation controls -----------------------------------------------------

void BrowserWindow::xRotSet(int d) { browser->xRotSet(d); }
void BrowserWindow::yRotSet(int d) { browser->yRotSet(d); }
void BrowserWindow::zRotSet(int d) { browser->zRotSet(d); }

void BrowserWindow::xRotButton() { browser->xRotButton(); displayOrientation(); }
void BrowserWindow::yRotButton() { browser->yRotButton(); displayOrientation(); }
void BrowserWindow::zRotButton() { browser->zRotButton(); displayOrientation(); }

void BrowserWindow::xRotWheel(double value) { browser->xRotWheel(value); }
void BrowserWindow::yRotWheel(double value) { browser->yRotWheel(value); }
void BrowserWindow::zRotWheel(double value) { browser->zRotWheel(value); }

void BrowserWindow::xWheelReset()
{
    browser->xWheelSetPrev(0.0);
    emit xWheelSet(0.0);
    displayOrientation();
}

void BrowserWindow::yWheelReset()
{
    browser->yWheelSetPrev(0.0);
    emit yWheelSet(0.0);
    displayOrientation();
}

void BrowserWindow::zWheelReset()
{
    browser->zWheelSetPrev(0.0);
    emit zWheelSet(0.0);
    displayOrientation();
}

// --- Display modes, orientation and home position --------------------------

void BrowserWindow::setDrawStyleDefault()
{
    browser->setDrawStyle(SoQtViewer::STILL, SoQtViewer::VIEW_AS_IS);
    browser->setDrawStyle(SoQtViewer::INTERACTIVE, SoQtViewer::VIEW_AS_IS);
    actionDrawStyleWireframe->setChecked(false);
}

void BrowserWindow::setDrawStyleWireframe()
{
    browser->setDrawStyle(SoQtViewer::STILL, SoQtViewer::VIEW_LINE);
    browser->setDrawStyle(SoQtViewer::INTERACTIVE, SoQtViewer::VIEW_LINE);
    actionDrawStyleDefault->setChecked(false);
}

void BrowserWindow::setTransparencyScreenDoor()
{
    browser->setTransparencyScreenDoor();
    actionBlend->setChecked(false);
}

void BrowserWindow::setTransparencyBlend()
{
    browser->setTransparencyBlend();
    actionScreen_door->setChecked(false);
}

void BrowserWindow::setCameraOrthographic()
{
    browser->setCameraOrthographic();
    actionPerspective->setChecked(false);
}

void BrowserWindow::setCameraPerspective()
{
    browser->setCameraPerspective();
    actionOrthographic->setChecked(false);
}

void BrowserWindow::setNewHomePosition()
{
    browser->saveHomePosition();
    statusBar()->showMessage(tr("Saved new home position"), 2000);
}

void BrowserWindow::goToHomePosition()
{
    browser->resetToHomePosition();
    displayOrientation();
}

void BrowserWindow::displayOrientation()
{
    float orientation[3] = { 0.0f, 0.0f, 0.0f };
    browser->getOrientation(orientation);
    QString message = tr("Orientation = ");
    const QChar degree(0x00B0);
    for (int i = 0; i < 3; ++i) {
        QString number;
        number.setNum(orientation[i], 'g', 5);
        message += number + degree;
        if (i < 2)
            message += ", ";
    }
    statusBar()->showMessage(message, 0);
}

// --- Offscreen rendering ---------------------------------------------------

void BrowserWindow::render()
{
    browser->osRender();
}

void BrowserWindow::renderMult()
{
    bool ok = false;
    const int nX = QInputDialog::getInt(this, tr("Render multiple images"),
                                        tr("No. <em>x</em>-axis intervals/quadrant:"),
                                        6, 0, 90, 1, &ok);
    if (!ok)
        return;
    const int nY = QInputDialog::getInt(this, tr("Render multiple images"),
                                        tr("No. <em>y-axis</em> intervals/quadrant:"),
                                        6, 0, 90, 1, &ok);
    if (!ok)
        return;
    browser->osRenderMult(nX, nY);
}

void BrowserWindow::setSize()
{
    SbViewportRegion region = browser->getViewportRegion();
    const SbVec2s pixels = region.getViewportSizePixels();
    const short sizeX = pixels[0];
    const short sizeY = pixels[1];
    const int dWidth = width() - sizeX;
    const int dHeight = height() - sizeY;

    bool ok = false;
    const int newSizeX = QInputDialog::getInt(this, tr("Window size"),
                                              tr("Render-area width (pixels):"),
                                              sizeX, 100, 2000, 10, &ok);
    if (!ok)
        return;
    // A render area that was never laid out has no width to keep the
    // aspect ratio by; propose a square then.
    const int proposal = sizeX > 0 ? sizeY * newSizeX / sizeX : newSizeX;
    const int newSizeY = QInputDialog::getInt(this, tr("Window size"),
                                              tr("Render-area height (pixels):"),
                                              proposal, 100, 2000, 10, &ok);
    if (!ok)
        return;
    // SoQt treats this window as the viewer's shell and, while the window is
    // resized, stretches the viewer to the whole window and takes that as
    // the viewport until the layout catches up; so the window goes first and
    // the region handed over last is the one that holds.
    resize(newSizeX + dWidth, newSizeY + dHeight);
    region.setWindowSize(short(newSizeX), short(newSizeY));
    region.setViewportPixels(short(0), short(0), short(newSizeX), short(newSizeY));
    browser->getSceneManager()->setViewportRegion(region);
}
