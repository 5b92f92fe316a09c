#include "quelvin_viewer.h"

#include "quelvin_glcontext.h"
#include "quelvin_loader.h"
#include "quelvin_placement.h"
#include "quelvin_reader.h"
#include "quelvin_viewrenderer.h"
#include "quelvin_script.h"
#include "quelvin_window.h"

#include <Inventor/SoDB.h>
#include <Inventor/SoFullPath.h>
#include <Inventor/SoInput.h>
#include <Inventor/SoPickedPoint.h>
#include <Inventor/SoSceneManager.h>
#include <Inventor/SoPrimitiveVertex.h>
#include <Inventor/actions/SoBoxHighlightRenderAction.h>
#include <Inventor/actions/SoCallbackAction.h>
#include <Inventor/actions/SoGetBoundingBoxAction.h>
#include <Inventor/actions/SoRayPickAction.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/events/SoMouseButtonEvent.h>
#include <Inventor/fields/SoSFRotation.h>
#include <Inventor/fields/SoSFVec3f.h>
#include <Inventor/nodes/SoBaseColor.h>
#include <Inventor/nodes/SoCamera.h>
#include <Inventor/nodes/SoComplexity.h>
#include <Inventor/nodes/SoCylinder.h>
#include <Inventor/nodes/SoOrthographicCamera.h>
#include <Inventor/nodes/SoPerspectiveCamera.h>
#include <Inventor/nodes/SoSelection.h>
#include <Inventor/nodes/SoShape.h>
#include <Inventor/nodes/SoShapeHints.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoTransform.h>
#include <Inventor/nodes/SoWWWInline.h>
#include <Inventor/VRMLnodes/SoVRMLAnchor.h>
#include <Inventor/VRMLnodes/SoVRMLGeometry.h>
#include <Inventor/VRMLnodes/SoVRMLImageTexture.h>
#include <Inventor/VRMLnodes/SoVRMLIndexedFaceSet.h>
#include <Inventor/VRMLnodes/SoVRMLInline.h>
#include <Inventor/VRMLnodes/SoVRMLText.h>
#include <Inventor/VRMLnodes/SoVRMLViewpoint.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

// The viewer's state lives at file scope because Coin's hooks and the
// selection callback are static functions that get no viewer pointer.
static BrowserWindow *parentWindow = nullptr;
static SoSelection *selection = nullptr;
static VRMLPrequalifyFileCallback *imagetexture_prequalify_cb = nullptr;
static SoVRMLAnchorCB *vrmlanchor_cb = nullptr;
static SoVRMLInlineFetchURLCB *vrmlinline_cb = nullptr;
static Loader *sloader = nullptr;
static SoSeparator *def_root = nullptr;
static SoCylinder *cylinder = nullptr;
static SoTransform *cyl_xform = nullptr;
static const float DEG_PER_RAD = 57.29578f;
static const int nvpmax = 20;
static float xRotF = 0.08726647f;
static float yRotF = 0.08726647f;
static float zRotF = 0.08726647f;
static double xWheelValPrev = 0.0;
static double yWheelValPrev = 0.0;
static double zWheelValPrev = 0.0;
static SoVRMLViewpoint *vp[nvpmax] = {};
static SoSFRotation *vp_rot[nvpmax] = {};
static SoSFVec3f *vp_pos[nvpmax] = {};
static int nvp = 0;
static int ivpCurrent = 0;
static SbVec3f sceneCentre(0.0f, 0.0f, 0.0f);
static SoSeparator *scene = nullptr;
static SoBoxHighlightRenderAction *renderAction = nullptr;
static SoVRMLAnchor *selectedAnchor = nullptr;
static SoGroup *selectedAnchorParent = nullptr;
static QList<DeletedNodeAndParent> deletedNodesAndParents;
static SoGLRenderAction::TransparencyType transparencyType =
    SoGLRenderAction::SORTED_OBJECT_SORTED_TRIANGLE_BLEND;
// Innermost anchor under the mouse at the last left-button press in
// interaction mode; null when the press hit no anchor.
static SoVRMLAnchor *pressedAnchor = nullptr;
// The innermost inline holding it, whose file its link is relative to.
static SoNode *pressedAnchorInline = nullptr;
// Whether the scene shown brought a camera of its own (VRML 1.0 and
// Inventor files do), which the viewer then moves instead of its own.
static bool sceneCamera = false;
static Browser::LoadTimes loadTimes;

static QString fromLocal8(const SbString &s)
{
    return QString::fromUtf8(s.getString());
}

static bool isInline(const SoNode *node)
{
    return node->isOfType(SoVRMLInline::getClassTypeId())
           || node->isOfType(SoWWWInline::getClassTypeId());
}

Browser::Browser(BrowserWindow *parent, const char *name, SbBool embed)
    : SoQtExaminerViewer(parent, name, embed, SoQtFullViewer::BUILD_POPUP,
                         SoQtViewer::BROWSER, TRUE),
      loader(nullptr)
{
    // Coin reads inlines by itself unless told otherwise, and then never
    // calls the fetch hook (and recurses forever on a self-inlining file).
    SoVRMLInline::setReadAsSoFile(FALSE);
    imagetexture_prequalify_cb = Browser::prequalify_cb;
    SoVRMLImageTexture::setPrequalifyFileCallBack(imagetexture_prequalify_cb, nullptr);
    SoVRMLImageTexture::setDelayFetchURL(FALSE);
    vrmlanchor_cb = Browser::VRMLAnchorCB;
    SoVRMLAnchor::setFetchURLCallBack(vrmlanchor_cb, nullptr);
    vrmlinline_cb = Browser::VRMLInlineCB;
    SoVRMLInline::setFetchURLCallBack(vrmlinline_cb, nullptr);
    // VRML 1.0's inline: Coin reads its file only through this hook.
    SoWWWInline::setFetchURLCallBack(Browser::WWWInlineCB, nullptr);
    tolerant::installExternProtoHook();

    logFile.open("quelvinViewer.log", std::ios::out | std::ios::trunc);
    if (logFile.fail())
        exit(902);
    logFile << "Quelvin viewer log file\n\n";
    logFile.flush();

    for (int i = 0; i < nvpmax; i++) {
        if (!vp_rot[i])
            vp_rot[i] = new SoSFRotation;
        if (!vp_pos[i])
            vp_pos[i] = new SoSFVec3f;
    }

    parentWindow = parent;
    loader = new Loader;
    sloader = loader;
    loader->browser = this;
    renderAction = new SoBoxHighlightRenderAction;

    installOffscreenContexts();
    installScripts();
}

// A script's log lines go to the viewer log; its links take an anchor's
// road; a world it builds replaces the one shown once its call is over.
void Browser::installScripts()
{
    Scripts::Host host;
    host.log = [this](const QString &line) {
        if (holdScriptLines) {
            heldScriptLines << line;
            return;
        }
        logFile << line.toUtf8().constData() << "\n";
        logFile.flush();
    };
    host.setDescription = [](const QString &text) { parentWindow->statusBar()->showMessage(text, 0); };
    host.loadURL = [](const QString &url) {
        auto *anchor = new SoVRMLAnchor;
        anchor->ref();
        anchor->url.setValue(url.toUtf8().constData());
        QTimer::singleShot(0, [anchor]() {
            const SbString target = anchor->url[0];
            sloader->setCurrentBaseLocation(target);
            sloader->makeRequest(fromLocal8(target), anchor);
            // A download in progress keeps a reference of its own.
            anchor->unref();
        });
    };
    host.replaceWorld = [this](SoSeparator *root) {
        root->ref();
        QTimer::singleShot(0, [this, root]() {
            Scripts::startWorld(root, curFileName);
            setSceneGraph(root);
        });
    };
    host.fetch = [](const QString &url, SoNode *script) { sloader->makeRequest(url, script); };
    Scripts::install(host);
}

Browser::~Browser()
{
    logFile.close();
}

void Browser::setSceneGraph(SoNode *root)
{
    holdStill();
    sceneCamera = false;
    if (!root) {
        SoQtViewer::setSceneGraph(root);
        return;
    }
    // Left to itself, SoQt takes a scene's first Viewpoint as its camera: it
    // writes every step of navigation into that node and makes it a
    // perspective camera whatever the View menu says. A camera of our own,
    // of the type last chosen, in front of the scene leaves the scene as read.
    const SoType type = getCameraType().isDerivedFrom(SoOrthographicCamera::getClassTypeId())
                            ? SoOrthographicCamera::getClassTypeId()
                            : SoPerspectiveCamera::getClassTypeId();
    SoSeparator *shown = new SoSeparator;
    // Kept, like every root the viewer is given: a later root must not be
    // made where this one was, for whoever still holds its address.
    shown->ref();
    shown->addChild(static_cast<SoCamera *>(type.createInstance()));
    shown->addChild(root);
    SoQtViewer::setSceneGraph(shown);

    // A camera in the file sets the view again where it is drawn, after
    // ours, and the picture would never follow the user: that camera is
    // the one navigation moves, of the type the View menu says.
    const FileCamera own = firstFileCamera(root, getViewportRegion());
    if (own.camera && own.governs) {
        sceneCamera = true;
        setCamera(own.camera);
        if (!own.camera->isOfType(type))
            setCameraType(type);
        return;
    }

    // Where SoQt would have put its camera: on the first viewpoint met
    // (scene loading then chooses for itself), or before the whole scene.
    SoSearchAction search;
    search.setType(SoVRMLViewpoint::getClassTypeId(), TRUE);
    search.apply(root);
    SoCamera *camera = getCamera();
    if (!camera || (!search.getPath() && !own.camera)) {
        viewWholeScene();
        return;
    }
    // A camera that sets the view of nothing still says where it starts.
    sceneCamera = own.camera != nullptr && !search.getPath();
    const Placement placement = search.getPath() ? viewpointPlacement(search.getPath(), getViewportRegion())
                                                 : own.world;
    camera->orientation.setValue(placement.orientation);
    camera->position.setValue(placement.position);
    SoGetBoundingBoxAction bbox(getViewportRegion());
    bbox.apply(root);
    if (!bbox.getBoundingBox().isEmpty())
        camera->focalDistance = (camera->position.getValue() - bbox.getBoundingBox().getCenter()).length();
}

void Browser::actualRedraw()
{
    // SoQt draws a newly shown view as soon as it is asked to, which is
    // before X has mapped the window: a whole frame drawn for nothing (more
    // than a second on a large scene) ahead of the one that shows. The
    // window asks for a frame again whenever it is exposed.
    QWidget *gl = getGLWidget();
    QWindow *window = gl ? gl->windowHandle() : nullptr;
    if (window && !window->isExposed())
        return;
    SoQtExaminerViewer::actualRedraw();
}

// Which side of the plane across an axis the first face drawn turns its
// front to: +1, -1, or 0 when nothing is drawn. Stops at that face.
static int frontSide(SoNode *root, int axis)
{
    struct Search
    {
        int axis;
        int side;
    } search{axis, 0};
    SoCallbackAction action;
    action.addPreCallback(
        SoNode::getClassTypeId(),
        [](void *data, SoCallbackAction *, const SoNode *) {
            return static_cast<Search *>(data)->side ? SoCallbackAction::ABORT : SoCallbackAction::CONTINUE;
        },
        &search);
    action.addTriangleCallback(
        SoShape::getClassTypeId(),
        [](void *data, SoCallbackAction *state, const SoPrimitiveVertex *a, const SoPrimitiveVertex *b,
           const SoPrimitiveVertex *c) {
            auto *found = static_cast<Search *>(data);
            if (found->side)
                return;
            SbVec3f p, q, r;
            state->getModelMatrix().multVecMatrix(a->getPoint(), p);
            state->getModelMatrix().multVecMatrix(b->getPoint(), q);
            state->getModelMatrix().multVecMatrix(c->getPoint(), r);
            float along = (q - p).cross(r - p)[found->axis];
            if (state->getVertexOrdering() == SoShapeHints::CLOCKWISE)
                along = -along;
            if (std::fabs(along) > 0.0f)
                found->side = along > 0.0f ? 1 : -1;
        },
        &search);
    action.apply(root);
    return search.side;
}

// Looks along -z, VRML 97's default direction of view, from where the whole
// scene fits in the view. A flat scene (a floor, a wall, a panel of a
// robot's workspace) is looked at face on, from the side its faces turn
// to (the back of a solid face is not drawn), rather than along its edge.
void Browser::viewWholeScene()
{
    SoCamera *camera = getCamera();
    if (!camera)
        return;
    SbRotation facing = SbRotation::identity();
    if (SoNode *root = getSceneGraph()) {
        SoGetBoundingBoxAction bbox(getViewportRegion());
        bbox.apply(root);
        if (!bbox.getBoundingBox().isEmpty()) {
            float size[3];
            bbox.getBoundingBox().getSize(size[0], size[1], size[2]);
            const float thin = 1e-3f * std::max(size[0], std::max(size[1], size[2]));
            // The turns that make the camera look along -x, -y, -z.
            const SbRotation along[3] = {SbRotation(SbVec3f(0.0f, 1.0f, 0.0f), float(M_PI / 2)),
                                         SbRotation(SbVec3f(1.0f, 0.0f, 0.0f), float(-M_PI / 2)),
                                         SbRotation::identity()};
            for (int axis = 2; axis >= 0; --axis) {
                if (size[axis] > thin)
                    continue;
                facing = along[axis];
                if (frontSide(root, axis) < 0)
                    facing = facing * SbRotation(axis == 1 ? SbVec3f(0.0f, 0.0f, 1.0f) : SbVec3f(0.0f, 1.0f, 0.0f),
                                                 float(M_PI));
                break;
            }
        }
    }
    camera->orientation.setValue(facing);
    viewAll();
}

void Browser::holdStill()
{
    // A flick of the mouse leaves the model spinning on its own; a command
    // that places the camera must not have its placement turned on from.
    if (isAnimating())
        stopAnimating();
}

void Browser::resetToHomePosition()
{
    holdStill();
    SoQtExaminerViewer::resetToHomePosition();
}

void Browser::setDefaultScene()
{
    def_root = getDefaultScene();
    setSceneGraph(def_root);
}

SoSeparator *Browser::getDefaultScene()
{
    SoSeparator *root = new SoSeparator;
    SoBaseColor *colour = new SoBaseColor;
    colour->rgb.setValue(0.5f, 0.4f, 0.0f);
    cylinder = new SoCylinder;
    cylinder->height = 0.1f;
    cyl_xform = new SoTransform;
    cyl_xform->rotation.setValue(SbVec3f(1.0f, 0.0f, 0.0f), 0.5f);
    SoComplexity *complexity = new SoComplexity;
    root->addChild(colour);
    root->addChild(complexity);
    root->addChild(cyl_xform);
    root->addChild(cylinder);
    return root;
}

// --- Scene loading and analysis -------------------------------------------

void Browser::writeBox(const char *indent, const SbBox3f &box)
{
    const SbVec3f &lo = box.getMin();
    const SbVec3f &hi = box.getMax();
    logFile << indent << "bbox min = " << lo[0] << ", " << lo[1] << ", " << lo[2] << "\n";
    logFile << indent << "bbox max = " << hi[0] << ", " << hi[1] << ", " << hi[2] << "\n";
}

static SoPathList searchAll(SoSearchAction &search, SoType type, SoNode *root)
{
    search.reset();
    search.setType(type, TRUE);
    search.setInterest(SoSearchAction::ALL);
    search.setSearchingAll(TRUE);
    search.apply(root);
    return search.getPaths();
}

// One search for geometry serves all three sections of the log: text and
// face sets are kinds of geometry, found in the same traversal order, and
// their boxes are those already measured. Searching the scene once per
// kind, and measuring every node again, took most of the analysis of a
// scene of many shapes.
void Browser::logGeometry(SoSearchAction &search, SoGetBoundingBoxAction &bbox, SoNode *root)
{
    const SoType geometryType = SoVRMLGeometry::getClassTypeId();
    const SoPathList paths = searchAll(search, geometryType, root);
    const int count = paths.getLength();
    std::vector<SoNode *> nodes(static_cast<size_t>(count));
    std::vector<SbBox3f> boxes(static_cast<size_t>(count));
    logFile << "No. geometry nodes = " << count << "\n";
    const char *geometryName = geometryType.getName().getString();
    for (int i = 0; i < count; i++) {
        logFile << "geom no. " << i << " " << geometryName << "\n";
        // A plain path ends at an inline; the node found inside is the
        // tail of the full path.
        nodes[size_t(i)] = static_cast<SoFullPath *>(paths[i])->getTail();
        bbox.apply(nodes[size_t(i)]);
        boxes[size_t(i)] = bbox.getBoundingBox();
        writeBox("  ", boxes[size_t(i)]);
    }
    const struct
    {
        SoType type;
        const char *countLabel;
        const char *itemLabel;
    } kinds[] = {
        { SoVRMLText::getClassTypeId(), "No. text nodes = ", "text no. " },
        { SoVRMLIndexedFaceSet::getClassTypeId(), "No. i-f-s nodes = ", "ifs no. " },
    };
    for (const auto &kind : kinds) {
        std::vector<int> found;
        for (int i = 0; i < count; i++)
            if (nodes[size_t(i)]->isOfType(kind.type))
                found.push_back(i);
        logFile << kind.countLabel << found.size() << "\n";
        const char *typeName = kind.type.getName().getString();
        for (size_t k = 0; k < found.size(); k++) {
            logFile << kind.itemLabel << k << " " << typeName << "\n";
            writeBox("  ", boxes[size_t(found[k])]);
        }
    }
}

bool Browser::loadFile(SoInput *in)
{
    (void)SceneReader::takeAccount();
    QElapsedTimer clock;
    clock.start();
    SoSeparator *root = SceneReader::readInput(in);
    if (!root) {
        unsetBaseLocation();
        return false;
    }
    loadTimes.readMs = clock.nsecsElapsed() / 1e6;
    clock.restart();
    scene = root;
    scene->ref();
    curFileName = fromLocal8(in->getCurFileName() ? in->getCurFileName() : "");
    const DocumentInput *document = dynamic_cast<DocumentInput *>(in);
    // Before the analysis: geometry that scripts build at start is
    // measured. What they print waits for the end of the analysis.
    holdScriptLines = true;
    Scripts::startWorld(scene, document ? document->location() : curFileName);
    holdScriptLines = false;

    SoGetBoundingBoxAction bbox(getViewportRegion());
    bbox.apply(scene);
    SbBox3f box = bbox.getBoundingBox();
    sceneCentre = box.isEmpty() ? SbVec3f(0.0f, 0.0f, 0.0f) : box.getCenter();
    logFile << "sceneCentre = " << sceneCentre[0] << ", " << sceneCentre[1] << ", "
            << sceneCentre[2] << "\n";
    writeBox("", box);

    SoSearchAction search;
    SoPathList viewpointPaths = searchAll(search, SoVRMLViewpoint::getClassTypeId(), scene);
    nvp = viewpointPaths.getLength();
    if (nvp > nvpmax) {
        BrowserWindow::msgBox(1, "Quelvin viewer",
                              "More viewpoints than we can store; dropping some");
        nvp = nvpmax;
    }
    parentWindow->viewpointRemoveAll();
    // A viewpoint stands where the transforms above it put it; one used
    // in several places stands where it is met first.
    QHash<SoNode *, Placement> placed;
    for (int i = 0; i < nvp; i++) {
        SoVRMLViewpoint *node =
            static_cast<SoVRMLViewpoint *>(static_cast<SoFullPath *>(viewpointPaths[i])->getTail());
        auto where = placed.find(node);
        if (where == placed.end())
            where = placed.insert(node, viewpointPlacement(viewpointPaths[i], getViewportRegion()));
        vp[i] = node;
        vp_rot[i]->setValue(where->orientation);
        vp_pos[i]->setValue(where->position);
        parentWindow->viewpointAdd(QString::fromUtf8(node->description.getValue().getString()));
    }

    logGeometry(search, bbox, scene);
    // Includes the local inlines read with the document.
    const ReadAccount leftOut = SceneReader::takeAccount();
    if (!leftOut.isEmpty())
        logFile << leftOut.text().toUtf8().constData() << "\n";
    const QString scripts = Scripts::takeAccount();
    if (!scripts.isEmpty())
        heldScriptLines.prepend(scripts);
    for (const QString &line : heldScriptLines)
        logFile << line.toUtf8().constData() << "\n";
    heldScriptLines.clear();
    logFile.flush();
    loadTimes.analysisMs = clock.nsecsElapsed() / 1e6;

    selection = new SoSelection;
    selection->policy = SoSelection::SHIFT;
    selection->addChild(scene);
    selection->addSelectionCallback(Browser::made_selection, reinterpret_cast<void *>(1));
    selection->addDeselectionCallback(Browser::made_selection, reinterpret_cast<void *>(0));

    SoSeparator *newRoot = new SoSeparator;
    newRoot->ref();
    newRoot->addChild(selection);
    setSceneGraph(newRoot);

    setGLRenderAction(renderAction);
    renderAction->setLinePattern(0x3030);
    renderAction->setColor(SbColor(1.0f, 0.27f, 0.0f));
    renderAction->setLineWidth(2.0f);
    renderAction->setTransparencyType(transparencyType);

    QMessageBox::information(parentWindow, "Viewer", curFileName, QMessageBox::Ok);

    // Without a viewpoint of its own a scene is shown whole, or from its
    // own camera; that view stands in for the first viewpoint, so "Go to
    // viewpoint" comes back to it.
    if (nvp == 0) {
        holdStill();
        if (!sceneCamera)
            viewWholeScene();
        if (SoCamera *camera = getCamera()) {
            vp[0] = nullptr;
            vp_rot[0]->setValue(camera->orientation.getValue());
            vp_pos[0]->setValue(camera->position.getValue());
        }
    }
    viewpointJump(0);
    saveHomePosition();
    return true;
}

void Browser::loadURL(SbString &location)
{
    const QString path = QFile::decodeName(location.getString());
    if (!SceneReader::isReadableFile(path))
        return;
    const ReadingFile target(sloader, location, true);
    setBaseLocation(location);
    SoSeparator *root = SceneReader::readFile(path);
    if (root) {
        // Kept for the rest of the run like every scene the program reads:
        // the anchor that asked for it may still be on the stack of an
        // event traversal of the scene it replaces.
        root->ref();
        Scripts::startWorld(root, path);
        setSceneGraph(root);
    } else {
        unsetBaseLocation();
    }
}

// --- Viewpoints ------------------------------------------------------------

void Browser::viewpointJump(int i)
{
    if (i < 0 || i >= nvpmax)
        return;
    holdStill();
    SoCamera *camera = getCamera();
    if (!camera)
        return;
    camera->orientation.setValue(vp_rot[i]->getValue());
    camera->position.setValue(vp_pos[i]->getValue());
    float focal = (vp_pos[i]->getValue() - sceneCentre).length();
    camera->focalDistance.setValue(focal);
    ivpCurrent = i;
    printf("Focal distance = %f\n", double(focal));
    fflush(stdout);
}

void Browser::viewpointReturnToCurrent()
{
    viewpointJump(ivpCurrent);
    undeleteObject();
}

// --- Selection, anchors and deletion --------------------------------------

void Browser::made_selection(void *data, SoPath *path)
{
    const bool selecting = data != nullptr;
    QString label;
    SoGroup *group = nullptr;
    // Through inlines too: a plain path ends at the first one.
    SoFullPath *full = static_cast<SoFullPath *>(path);
    for (int i = 0; i < full->getLength(); i++) {
        SoNode *node = full->getNode(i);
        if (node->getTypeId() == SoVRMLAnchor::getClassTypeId()) {
            if (selecting) {
                selectedAnchor = static_cast<SoVRMLAnchor *>(node);
                // The anchor's own parent, even when that is another
                // anchor, so that Delete really cuts a nested anchor out.
                selectedAnchorParent = group;
                label = fromLocal8(selectedAnchor->description.getValue());
            } else {
                label = QString();
            }
            if (parentWindow)
                parentWindow->objLabelSet(label);
        }
        if (selecting && node->isOfType(SoGroup::getClassTypeId()))
            group = static_cast<SoGroup *>(node);
    }
    path->getHead()->touch();
}

void Browser::deleteObject()
{
    if (!selectedAnchor || !selectedAnchorParent)
        return;
    if (selection)
        selection->deselectAll();
    selectedAnchor->ref();
    selectedAnchorParent->removeChild(selectedAnchor);
    DeletedNodeAndParent entry = { selectedAnchor, selectedAnchorParent };
    deletedNodesAndParents.insert(0, entry);
    // A second Delete without a new pick would only stack the same anchor
    // twice and make Undelete add it twice; the pick is used up instead.
    selectedAnchor = nullptr;
    selectedAnchorParent = nullptr;
}

int Browser::undeleteObject()
{
    if (deletedNodesAndParents.isEmpty())
        return 0;
    DeletedNodeAndParent entry = deletedNodesAndParents.takeFirst();
    entry.parent->addChild(entry.node);
    entry.node->unref();
    return deletedNodesAndParents.size();
}

SbBool Browser::processSoEvent(const SoEvent *event)
{
    if (!isViewing()
        && SoMouseButtonEvent::isButtonPressEvent(event, SoMouseButtonEvent::BUTTON1)) {
        pressedAnchor = nullptr;
        pressedAnchorInline = nullptr;
        SoNode *root = getSceneManager()->getSceneGraph();
        if (root) {
            SoRayPickAction pick(getViewportRegion());
            pick.setPoint(event->getPosition());
            pick.setRadius(2.0f);
            pick.apply(root);
            if (SoPickedPoint *point = pick.getPickedPoint()) {
                // The full path: anchors inside inlines are past the end
                // of the plain one.
                const SoFullPath *path = static_cast<const SoFullPath *>(point->getPath());
                int i = path->getLength() - 1;
                while (i >= 0 && !path->getNode(i)->isOfType(SoVRMLAnchor::getClassTypeId()))
                    i--;
                if (i >= 0)
                    pressedAnchor = static_cast<SoVRMLAnchor *>(path->getNode(i));
                while (--i >= 0 && !pressedAnchorInline)
                    if (isInline(path->getNode(i)))
                        pressedAnchorInline = path->getNode(i);
            }
        }
    }
    return SoQtExaminerViewer::processSoEvent(event);
}

SoVRMLAnchor *Browser::pickedAnchor()
{
    return pressedAnchor;
}

// --- Rotation controls ----------------------------------------------------

static float degreesToRadians(double degrees)
{
    return float(degrees / double(DEG_PER_RAD));
}

void Browser::xRotSet(int degrees) { xRotF = degreesToRadians(degrees); }
void Browser::yRotSet(int degrees) { yRotF = degreesToRadians(degrees); }
void Browser::zRotSet(int degrees) { zRotF = degreesToRadians(degrees); }

void Browser::xRotButton() { xyzRot(SbRotation(SbVec3f(1, 0, 0), -xRotF)); }
void Browser::yRotButton() { xyzRot(SbRotation(SbVec3f(0, 1, 0), -yRotF)); }
void Browser::zRotButton() { xyzRot(SbRotation(SbVec3f(0, 0, 1), -zRotF)); }

void Browser::xRotWheel(double value)
{
    float angle = float((xWheelValPrev - value) / -double(DEG_PER_RAD));
    xyzRot(SbRotation(SbVec3f(1, 0, 0), angle));
    xWheelValPrev = value;
}

void Browser::yRotWheel(double value)
{
    float angle = float((yWheelValPrev - value) / double(DEG_PER_RAD));
    xyzRot(SbRotation(SbVec3f(0, 1, 0), angle));
    yWheelValPrev = value;
}

void Browser::zRotWheel(double value)
{
    float angle = float((zWheelValPrev - value) / -double(DEG_PER_RAD));
    xyzRot(SbRotation(SbVec3f(0, 0, 1), angle));
    zWheelValPrev = value;
}

void Browser::xWheelSetPrev(double value) { xWheelValPrev = value; }
void Browser::yWheelSetPrev(double value) { yWheelValPrev = value; }
void Browser::zWheelSetPrev(double value) { zWheelValPrev = value; }

void Browser::xyzRot(SbRotation rot)
{
    holdStill();
    SoCamera *camera = getCamera();
    if (!camera)
        return;
    const float focal = camera->focalDistance.getValue();
    SbVec3f dir;
    camera->orientation.getValue().multVec(SbVec3f(0, 0, -1), dir);
    const SbVec3f focalPoint = camera->position.getValue() + focal * dir;
    const SbRotation orientation = rot * camera->orientation.getValue();
    camera->orientation.setValue(orientation);
    orientation.multVec(SbVec3f(0, 0, -1), dir);
    camera->position.setValue(focalPoint - focal * dir);
}

// --- Display modes and orientation ----------------------------------------

void Browser::setTransparencyScreenDoor()
{
    transparencyType = SoGLRenderAction::SCREEN_DOOR;
    renderAction->setTransparencyType(transparencyType);
    if (scene)
        scene->touch();
}

void Browser::setTransparencyBlend()
{
    transparencyType = SoGLRenderAction::SORTED_OBJECT_SORTED_TRIANGLE_BLEND;
    renderAction->setTransparencyType(transparencyType);
    if (scene)
        scene->touch();
}

void Browser::setCameraOrthographic()
{
    setCameraType(SoOrthographicCamera::getClassTypeId());
}

void Browser::setCameraPerspective()
{
    setCameraType(SoPerspectiveCamera::getClassTypeId());
}

void Browser::getOrientation(float *orientation)
{
    SoCamera *camera = getCamera();
    if (!camera)
        return;
    SbMatrix matrix;
    camera->orientation.getValue().getValue(matrix);
    const SbMat &m = matrix.getValue();
    double sinY = -m[0][2];
    double radicand = 1.0 - sinY * sinY;
    double cosY = std::sqrt(radicand > 0.0 ? radicand : 0.0);
    double sinX, cosX, sinZ, cosZ;
    if (cosY < 0.001) {
        cosY = 0.0;
        sinY = sinY >= 0.0 ? 1.0 : -1.0;
    }
    if (cosY != 0.0) {
        sinX = m[1][2] / cosY;
        cosX = m[2][2] / cosY;
        sinZ = m[0][1] / cosY;
        cosZ = m[0][0] / cosY;
    } else {
        sinZ = 0.0;
        cosZ = 1.0;
        sinX = -m[2][1];
        cosX = m[1][1];
    }
    const float x = float(std::atan2(sinX, cosX));
    const float y = float(std::atan2(sinY, cosY));
    const float z = float(std::atan2(sinZ, cosZ));
    orientation[0] = x * -DEG_PER_RAD;
    orientation[1] = y * -DEG_PER_RAD;
    orientation[2] = z * -DEG_PER_RAD;
}

// --- Offscreen rendering --------------------------------------------------

bool Browser::renderInto(ViewRenderer &renderer, SoNode *root, const QString &path)
{
    // Writing after a failed render would read a buffer Coin never made.
    if (!root || !renderer.render(root)) {
        BrowserWindow::msgBox(2, "Quelvin viewer", "Failed to render\n");
        return false;
    }
    if (!renderer.writeToRGB(path)) {
        BrowserWindow::msgBox(2, "Quelvin viewer", "failed to write image\n");
        return false;
    }
    return true;
}

void Browser::osRender()
{
    QFileInfo source(curFileName);
    QFileInfo target;
    target.setFile(QDir(source.path()), source.baseName() + ".rgb");
    ViewRenderer renderer(this);
    SoNode *root = getSceneManager()->getSceneGraph();
    if (renderInto(renderer, root, target.filePath()))
        BrowserWindow::msgBox(2, "Quelvin viewer", "Image written to " + target.filePath());
}

void Browser::osRenderMult(int nX, int nY)
{
    ViewRenderer renderer(this);
    SoNode *root = getSceneManager()->getSceneGraph();
    QFileInfo source(curFileName);
    const QByteArray baseName = source.baseName().toUtf8();
    const QDir directory(source.path());
    const double dThetaX = nX ? 90.0 / nX : 0.0;
    const double dThetaY = nY ? 90.0 / nY : 0.0;
    holdStill();
    saveHomePosition();
    for (int iY = 1 - 2 * nY; iY <= 2 * nY; iY++) {
        const double thetaY = iY * dThetaY;
        const double thetaYname = thetaY < 0.0 ? thetaY + 360.0 : thetaY;
        const SbRotation rotY(SbVec3f(0, 1, 0), float(thetaY / -double(DEG_PER_RAD)));
        for (int iX = -nX; iX <= nX; iX++) {
            const double thetaX = iX * dThetaX;
            const double thetaXname = thetaX < 0.0 ? thetaX + 360.0 : thetaX;
            const SbRotation rotX(SbVec3f(1, 0, 0), float(thetaX / -double(DEG_PER_RAD)));
            resetToHomePosition();
            xyzRot(rotY);
            xyzRot(rotX);
            if (scene)
                scene->touch();
            char name[512];
            snprintf(name, sizeof(name), "%s_%03d_%03d.rgb", baseName.constData(),
                     int(thetaXname), int(thetaYname));
            QFileInfo target;
            target.setFile(directory, QString::fromUtf8(name));
            SoQtRenderArea::render();
            if (!renderInto(renderer, root, target.filePath()))
                return;
        }
    }
    BrowserWindow::msgBox(2, "Quelvin viewer", "Images written successfully\n");
}

// --- Base locations and scene hooks ----------------------------------------

void Browser::resetLocation() { sloader->resetBaseLocation(); }
void Browser::setBaseLocation(SbString &location) { sloader->setCurrentBaseLocation(location); }
void Browser::unsetBaseLocation() { sloader->unsetBaseLocation(); }

SbBool Browser::prequalify_cb(const SbString &, void *, SoVRMLImageTexture *node)
{
    if (node->url.getNum() > 0)
        sloader->makeRequest(fromLocal8(node->url[0]), node);
    // The loader has taken the fetch over. Coin 4 reads FALSE here as a
    // failed read and reports "Could not read texture file" for every
    // texture, including the ones the loader has just set.
    return TRUE;
}

void Browser::VRMLInlineCB(const SbString &, void *, SoVRMLInline *node)
{
    if (node->url.getNum() < 1)
        return;
    SbString url = node->url[0];
    sloader->setCurrentBaseLocation(url);
    sloader->makeRequest(fromLocal8(url), node);
}

void Browser::WWWInlineCB(const SbString &, void *, SoWWWInline *node)
{
    const SbString url = node->name.getValue();
    // Coin's own name for a WWWInline that names nothing.
    if (url.getLength() == 0 || url == "<Undefined file>")
        return;
    sloader->setCurrentBaseLocation(url);
    sloader->makeRequest(fromLocal8(url), node);
}

void Browser::VRMLAnchorCB(const SbString &, void *, SoVRMLAnchor *node)
{
    if (node->url.getNum() < 1 || node != pressedAnchor)
        return;
    pressedAnchor = nullptr;
    // A link inside an inline is relative to the inline's file.
    const QString namedIn = pressedAnchorInline ? sloader->inlineFile(pressedAnchorInline) : QString();
    // The hook runs inside the event traversal of the scene that the
    // anchor's target is about to replace; follow the link once that
    // traversal has unwound.
    node->ref();
    QTimer::singleShot(0, [node, namedIn]() {
        SbString url = node->url.getNum() > 0 ? node->url[0] : SbString();
        const QUrl link(fromLocal8(url));
        if (!namedIn.isEmpty() && link.isRelative() && !link.path().startsWith('/'))
            url = SbString(QUrl(namedIn).resolved(link).toString().toUtf8().constData());
        if (url.getLength() > 0) {
            sloader->setCurrentBaseLocation(url);
            sloader->makeRequest(fromLocal8(url), node);
        }
        node->unref();
    });
}

// --- Inspection -----------------------------------------------------------

SoSeparator *Browser::loadedScene() { return scene; }
int Browser::viewpointCount() { return nvp; }
int Browser::currentViewpoint() { return ivpCurrent; }
SbVec3f Browser::centreOfScene() { return sceneCentre; }
int Browser::deletedCount() { return deletedNodesAndParents.size(); }
Browser::LoadTimes Browser::lastLoadTimes() { return loadTimes; }
SoGLRenderAction *Browser::sceneRenderAction() { return renderAction; }
