#include "quelvin_thumbnail.h"

#include "quelvin_placement.h"
#include "quelvin_reader.h"
#include "quelvin_script.h"
#include "quelvin_tolerant.h"

#include <Inventor/SbLinear.h>
#include <Inventor/SbViewportRegion.h>
#include <Inventor/SoFullPath.h>
#include <Inventor/SoOffscreenRenderer.h>
#include <Inventor/actions/SoGLRenderAction.h>
#include <Inventor/actions/SoGetBoundingBoxAction.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/nodes/SoDirectionalLight.h>
#include <Inventor/nodes/SoGroup.h>
#include <Inventor/nodes/SoPerspectiveCamera.h>
#include <Inventor/nodes/SoResetTransform.h>
#include <Inventor/nodes/SoRotation.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/SbImage.h>
#include <Inventor/VRMLnodes/SoVRMLImageTexture.h>
#include <Inventor/VRMLnodes/SoVRMLInline.h>
#include <Inventor/nodes/SoWWWInline.h>
#include <Inventor/VRMLnodes/SoVRMLViewpoint.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace {

// Directories of the files being read, innermost last; the document's
// stays at the bottom for nodes that fetch after the read has ended.
QStringList readingDirectories;
// Files inlined once are shared by later inlines of the same file, so a
// model that inlines one part many times over reads it once.
QHash<QString, SoSeparator *> inlined;
// A file inlining itself stops here; the watchdog of the caller covers
// whatever else takes too long.
const int maxInlineDepth = 16;

QString localFile(const SoMFString &urls)
{
    if (readingDirectories.isEmpty())
        return QString();
    for (int i = 0; i < urls.getNum(); ++i) {
        const QString text = QString::fromUtf8(urls[i].getString()).trimmed();
        const QUrl url(text);
        // A scheme means the network or some other machine's idea of a
        // place; an absolute path is nothing the model brought along.
        if (text.isEmpty() || !url.isRelative() || text.startsWith('/'))
            continue;
        const QString path = QDir::cleanPath(
            QDir(readingDirectories.last()).filePath(url.path(QUrl::FullyDecoded)));
        if (SceneReader::isReadableFile(path))
            return path;
    }
    return QString();
}

SbBool textureHook(const SbString &, void *, SoVRMLImageTexture *node)
{
    const QString path = localFile(node->url);
    SbImage image;
    if (!path.isEmpty() && SceneReader::isSafeImage(path))
        (void)image.readFile(QFile::encodeName(path).constData());
    node->setImage(image);
    // TRUE: the texture is dealt with, Coin must not look for the file.
    return TRUE;
}

// The children of an inline; a part without a header is read as the
// version that names it.
SoSeparator *inlineChildren(const SoMFString &urls, const char *header)
{
    if (readingDirectories.size() > maxInlineDepth)
        return nullptr;
    const QString path = localFile(urls);
    if (path.isEmpty())
        return nullptr;
    SoSeparator *child = inlined.value(path);
    if (!child) {
        readingDirectories << QFileInfo(path).absolutePath();
        child = SceneReader::readFile(path, header);
        readingDirectories.removeLast();
        if (!child)
            return nullptr;
        child->ref();
        inlined.insert(path, child);
    }
    return child;
}

void inlineHook(const SbString &, void *, SoVRMLInline *node)
{
    if (SoSeparator *child = inlineChildren(node->url, SceneReader::vrml2Header))
        node->setChildData(child);
}

void wwwInlineHook(const SbString &, void *, SoWWWInline *node)
{
    SoMFString urls;
    urls.setValue(node->name.getValue());
    if (SoSeparator *child = inlineChildren(urls, SceneReader::vrml1Header))
        node->setChildData(child);
}

// Near and far planes around the whole box, as a viewer sets them every
// frame; a camera read from a file carries none.
void clipAround(SoCamera *camera, const SbBox3f &box)
{
    float nearest = 0.1f, farthest = 100.0f;
    if (!box.isEmpty()) {
        SbVec3f direction;
        camera->orientation.getValue().multVec(SbVec3f(0.0f, 0.0f, -1.0f), direction);
        const SbVec3f from = camera->position.getValue();
        const SbVec3f &lo = box.getMin(), &hi = box.getMax();
        float low = HUGE_VALF, high = -HUGE_VALF;
        for (int corner = 0; corner < 8; ++corner) {
            const SbVec3f point(corner & 1 ? hi[0] : lo[0], corner & 2 ? hi[1] : lo[1],
                                corner & 4 ? hi[2] : lo[2]);
            const float along = (point - from).dot(direction);
            low = std::min(low, along);
            high = std::max(high, along);
        }
        if (std::isfinite(low) && std::isfinite(high) && high > 0.0f) {
            farthest = high * 1.05f + 1e-3f;
            nearest = std::max(low * 0.95f, farthest * 1e-4f);
        }
    }
    camera->nearDistance = nearest;
    camera->farDistance = farthest;
}

} // namespace

namespace Thumbnail {

void installLocalHooks()
{
    // Without this Coin reads inlines itself, from anywhere.
    SoVRMLInline::setReadAsSoFile(FALSE);
    SoVRMLInline::setFetchURLCallBack(inlineHook, nullptr);
    SoWWWInline::setFetchURLCallBack(wwwInlineHook, nullptr);
    SoVRMLImageTexture::setDelayFetchURL(FALSE);
    SoVRMLImageTexture::setPrequalifyFileCallBack(textureHook, nullptr);
    tolerant::installExternProtoHook();
    // A preview shows what scripts build at start, and nothing after.
    Scripts::install(Scripts::Host(), false);
}

QImage render(const QString &path, int size, QString *why)
{
    auto fail = [why](const QString &reason) {
        if (why)
            *why = reason;
        return QImage();
    };
    QString reason;
    if (!SceneReader::isReadableFile(path, &reason))
        return fail(reason.isEmpty() ? QStringLiteral("Cannot read file") : reason);
    size = std::max(1, std::min(size, maxSize));

    readingDirectories = QStringList{QFileInfo(path).absolutePath()};
    SoSeparator *scene = SceneReader::readFile(path);
    (void)SceneReader::takeAccount();
    if (!scene)
        return fail(QStringLiteral("Cannot load file"));
    scene->ref();
    Scripts::startWorld(scene, path);

    const SbViewportRegion region{short(size), short(size)};
    auto *camera = new SoPerspectiveCamera;
    auto *headlightTurn = new SoRotation;
    auto *headlight = new SoDirectionalLight;
    auto *root = new SoSeparator;
    root->ref();
    root->addChild(camera);
    // A headlight, as a viewer gives, turned with the camera and then
    // forgotten by the transformations of the scene.
    auto *lightGroup = new SoGroup;
    lightGroup->addChild(headlightTurn);
    lightGroup->addChild(headlight);
    lightGroup->addChild(new SoResetTransform);
    root->addChild(lightGroup);
    root->addChild(scene);

    // The first viewpoint a viewer lists, inactive choices included.
    SoSearchAction search;
    search.setType(SoVRMLViewpoint::getClassTypeId(), TRUE);
    search.setInterest(SoSearchAction::FIRST);
    search.setSearchingAll(TRUE);
    search.apply(scene);
    if (search.getPath()) {
        auto *viewpoint = static_cast<SoVRMLViewpoint *>(static_cast<SoFullPath *>(search.getPath())->getTail());
        const Placement placement = viewpointPlacement(search.getPath(), region);
        camera->position = placement.position;
        camera->orientation = placement.orientation;
        const float angle = viewpoint->fieldOfView.getValue();
        if (angle > 0.01f && angle < 3.1f)
            camera->heightAngle = angle;
    } else {
        camera->viewAll(scene, region);
    }
    // A VRML 1.0 or Inventor camera in the file decides the view where it
    // is drawn; it carries near and far planes for a scene of its day.
    const FileCamera own = firstFileCamera(scene, region);
    SoCamera *shownFrom = own.governs ? own.camera : camera;
    if (own.camera && !own.governs && !search.getPath()) {
        camera->position = own.world.position;
        camera->orientation = own.world.orientation;
    }
    headlightTurn->rotation = shownFrom->orientation.getValue();
    headlight->direction = SbVec3f(0.0f, 0.0f, -1.0f);

    SoGetBoundingBoxAction bbox(region);
    bbox.apply(scene);
    clipAround(shownFrom, bbox.getBoundingBox());

    SoOffscreenRenderer renderer(region);
    renderer.setComponents(SoOffscreenRenderer::RGB_TRANSPARENCY);
    renderer.setBackgroundColor(SbColor(0.0f, 0.0f, 0.0f));
    renderer.getGLRenderAction()->setTransparencyType(SoGLRenderAction::SORTED_OBJECT_SORTED_TRIANGLE_BLEND);
    const bool drawn = renderer.render(root);
    QImage image;
    if (drawn) {
        // Coin's rows run bottom to top.
        const QImage view(renderer.getBuffer(), size, size, size * 4, QImage::Format_RGBA8888);
        image = view.mirrored();
    }
    Scripts::startWorld(nullptr, QString());
    root->unref();
    scene->unref();
    if (image.isNull())
        return fail(QStringLiteral("Cannot render the scene"));
    return image;
}

} // namespace Thumbnail
