#ifndef QUELVIN_VIEWER_H
#define QUELVIN_VIEWER_H

#include <Inventor/Qt/viewers/SoQtExaminerViewer.h>
#include <Inventor/SbLinear.h>
#include <Inventor/SbString.h>
#include <QString>
#include <QStringList>
#include <fstream>

class SoInput;
class SoNode;
class SoPath;
class SoSeparator;
class SoVRMLAnchor;
class SoVRMLImageTexture;
class SoVRMLInline;
class SoGroup;
class SoGLRenderAction;
class BrowserWindow;
class Loader;

// A deleted anchor and the group it was cut from, so Undelete can put it back.
struct DeletedNodeAndParent
{
    SoNode *node;
    SoGroup *parent;
};

class Browser : public SoQtExaminerViewer
{
public:
    // Where the last successful loadFile() spent its time; read by the
    // benchmark, which times the whole road from outside as well.
    struct LoadTimes
    {
        double readMs = 0.0;
        double analysisMs = 0.0;
    };

    Browser(BrowserWindow *parent, const char *name, SbBool embed);
    ~Browser() override;

    void setSceneGraph(SoNode *root) override;
    void resetToHomePosition() override;
    void setDefaultScene();

    bool loadFile(SoInput *in);
    void loadURL(SbString &location);

    void viewpointJump(int i);
    void viewpointReturnToCurrent();

    void deleteObject();
    int undeleteObject();

    void xRotSet(int degrees);
    void yRotSet(int degrees);
    void zRotSet(int degrees);
    void xRotButton();
    void yRotButton();
    void zRotButton();
    void xRotWheel(double value);
    void yRotWheel(double value);
    void zRotWheel(double value);
    void xWheelSetPrev(double value);
    void yWheelSetPrev(double value);
    void zWheelSetPrev(double value);

    void setTransparencyScreenDoor();
    void setTransparencyBlend();
    void setCameraOrthographic();
    void setCameraPerspective();
    void getOrientation(float *orientation);

    void osRender();
    void osRenderMult(int nX, int nY);

    static void resetLocation();
    static void setBaseLocation(SbString &location);
    static void unsetBaseLocation();

    static SbBool prequalify_cb(const SbString &url, void *closure, SoVRMLImageTexture *node);
    static void VRMLAnchorCB(const SbString &url, void *closure, SoVRMLAnchor *node);
    static void VRMLInlineCB(const SbString &url, void *closure, SoVRMLInline *node);
    static void WWWInlineCB(const SbString &url, void *closure, class SoWWWInline *node);

    // Read access for the window's commands and for tests.
    QString currentFileName() const { return curFileName; }
    Loader *resourceLoader() const { return loader; }
    static SoSeparator *loadedScene();
    static int viewpointCount();
    static int currentViewpoint();
    static SbVec3f centreOfScene();
    static int deletedCount();
    static LoadTimes lastLoadTimes();
    // The render action every loaded scene is drawn with.
    static SoGLRenderAction *sceneRenderAction();

    // The anchor the user last picked in the view. Coin calls the anchor hook
    // for every anchor under any left click, so the hook follows only this one.
    static SoVRMLAnchor *pickedAnchor();

protected:
    SbBool processSoEvent(const SoEvent *event) override;
    void actualRedraw() override;

private:
    SoSeparator *getDefaultScene();
    void installScripts();
    void viewWholeScene();
    void holdStill();
    void xyzRot(SbRotation rot);
    void writeBox(const char *indent, const SbBox3f &box);
    void logGeometry(class SoSearchAction &search, class SoGetBoundingBoxAction &bbox, SoNode *root);
    bool renderInto(class ViewRenderer &renderer, SoNode *root, const QString &path);

    static void made_selection(void *data, SoPath *path);

    QString curFileName;
    Loader *loader;
    std::ofstream logFile;
    // What scripts log while a scene loads, written after its analysis.
    bool holdScriptLines = false;
    QStringList heldScriptLines;
};

#endif // QUELVIN_VIEWER_H
