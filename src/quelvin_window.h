#ifndef QUELVIN_WINDOW_H
#define QUELVIN_WINDOW_H

#include <QMainWindow>
#include <QStringList>
#include <QUrl>
#include <fstream>

#include "quelvin_loader.h"
#include "ui_quelvin.h"

class QAction;
class QBuffer;
class QCloseEvent;
class QComboBox;
class QDir;
class QProgressBar;
class SoInput;
class Browser;
class Http;
class HttpResponseHeader;

class BrowserWindow : public QMainWindow, private Ui::MainWindow
{
    Q_OBJECT

public:
    explicit BrowserWindow(QString clArg1);
    ~BrowserWindow() override;

    enum { MaxRecentFiles = 20 };

    static void msgBox(int severity, QString origin, QString message);
    void msgTemp(QString message, int timeout);

    void viewpointAdd(const QString &text);
    void viewpointRemoveAll();
    void objLabelSet(QString text);

    Browser *viewer() const { return browser; }

signals:
    void xWheelSet(double);
    void yWheelSet(double);
    void zWheelSet(double);
    void showMsg(QString, int);

private slots:
    void open();
    void render();
    void renderMult();
    void openLocation();
    void openRecentFile();
    void setSource(const QUrl &link);
    bool save();
    bool saveAs();
    void documentWasModified();
    void requestStarted();
    void httpRequestFinished(int requestId, bool error);
    void readResponseHeader(const HttpResponseHeader &responseHeader);
    void updateDataReadProgress(int bytesRead, int totalBytes);
    void cancelDownload();
    void deleteObj();
    void undeleteObj();
    void xRotSet(int);
    void yRotSet(int);
    void zRotSet(int);
    void xRotButton();
    void yRotButton();
    void zRotButton();
    void xRotWheel(double);
    void yRotWheel(double);
    void zRotWheel(double);
    void xWheelReset();
    void yWheelReset();
    void zWheelReset();
    void viewpointActivated(int);
    void viewpointReturn();
    void setDrawStyleDefault();
    void setDrawStyleWireframe();
    void setTransparencyScreenDoor();
    void setTransparencyBlend();
    void setCameraOrthographic();
    void setCameraPerspective();
    void setNewHomePosition();
    void goToHomePosition();
    void setSize();
    void displayOrientation();
    void helpAboutQuelvin();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void setupActions();
    void setupMenus();
    void setupToolBars();
    void setupStatusBar();
    void setupRotationRanges();
    void readSettings();
    void writeSettings();
    void openLog();

    void loadFile(const QUrl &url);
    void loadFileScheme(const QUrl &url);
    void loadOtherScheme(const QUrl &url);
    bool showDocument(SoInput *in, const Loader::Place &shown);
    void startDownload(const QUrl &url);
    bool validInput(const QString &text);
    bool saveFile(const QString &fileName);
    void setCurrentFile(const QString &fileName);
    void updateRecentFileActions();
    QString strippedName(const QString &fullFileName);

    std::ofstream logFile;
    QStringList recentFiles;
    QString curFile;
    QString sceneFile;    // the local file the shown scene was read from or saved to, if any
    QString curUrl;
    QString downloadUrl;    // the document being downloaded
    Http *http;
    QDir *dir;
    QBuffer *buf;
    int httpGetId;
    bool httpRequestAborted;
    QAction *recentFileActions[MaxRecentFiles];
    QAction *separatorAction;
    QComboBox *location;
    QComboBox *viewpoints;
    QProgressBar *progress;
    Browser *browser;
};

#endif // QUELVIN_WINDOW_H
