#include "quelvin_placement.h"

#include <Inventor/SoFullPath.h>
#include <Inventor/actions/SoGetMatrixAction.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/VRMLnodes/SoVRMLInline.h>
#include <Inventor/nodes/SoOrthographicCamera.h>
#include <Inventor/nodes/SoPerspectiveCamera.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoShape.h>
#include <Inventor/nodes/SoWWWInline.h>
#include <Inventor/VRMLnodes/SoVRMLViewpoint.h>

#include <cmath>

SbVec3f viewpointPosition(const SoVRMLViewpoint *viewpoint)
{
    return viewpoint->position.isDefault() ? SbVec3f(0.0f, 0.0f, 10.0f)
                                           : viewpoint->position.getValue();
}

Placement worldPlacement(const SoPath *path, const SbViewportRegion &region, const Placement &local)
{
    Placement placement = local;
    SoGetMatrixAction toWorld(region);
    toWorld.apply(const_cast<SoPath *>(path));
    const SbMatrix &matrix = toWorld.getMatrix();
    SbVec3f translation, scale;
    SbRotation rotation, scaleOrientation;
    matrix.getTransform(translation, rotation, scale, scaleOrientation);
    SbVec3f position;
    matrix.multVecMatrix(placement.position, position);
    // A singular transform (a zero scale) has no placement to give.
    if (std::isfinite(position[0]) && std::isfinite(position[1]) && std::isfinite(position[2])) {
        placement.position = position;
        placement.orientation = placement.orientation * rotation;
    }
    return placement;
}

Placement viewpointPlacement(const SoPath *path, const SbViewportRegion &region)
{
    const auto *viewpoint =
        static_cast<const SoVRMLViewpoint *>(static_cast<const SoFullPath *>(path)->getTail());
    return worldPlacement(path, region, {viewpointPosition(viewpoint), viewpoint->orientation.getValue()});
}

// Whether anything is drawn after the tail of the path before the
// Separator holding it closes: a camera alone in a Separator (with the
// Transform that places it) sets the view of nothing.
static bool drawsAfter(const SoFullPath *path)
{
    const SoType kinds[] = {SoShape::getClassTypeId(), SoWWWInline::getClassTypeId(),
                            SoVRMLInline::getClassTypeId()};
    SoSearchAction search;
    search.setSearchingAll(TRUE);
    for (int j = path->getLength() - 2; j >= 0; --j) {
        SoNode *parent = path->getNode(j);
        if (!parent->isOfType(SoGroup::getClassTypeId()))
            return false;
        auto *group = static_cast<SoGroup *>(parent);
        for (int c = path->getIndex(j + 1) + 1; c < group->getNumChildren(); ++c) {
            for (const SoType &kind : kinds) {
                search.reset();
                search.setType(kind, TRUE);
                search.apply(group->getChild(c));
                if (search.getPath())
                    return true;
            }
        }
        if (parent->isOfType(SoSeparator::getClassTypeId()))
            return false;
    }
    return false;
}

FileCamera firstFileCamera(SoNode *root, const SbViewportRegion &region)
{
    FileCamera found;
    SoSearchAction search;
    search.setType(SoCamera::getClassTypeId(), TRUE);
    search.apply(root);
    auto *path = static_cast<SoFullPath *>(search.getPath());
    // One read into an inline is left alone: SoQt could not find it again
    // to change its type.
    if (!path || search.getPath()->getLength() != path->getLength())
        return found;
    SoNode *tail = path->getTail();
    if (!tail->isOfType(SoPerspectiveCamera::getClassTypeId())
        && !tail->isOfType(SoOrthographicCamera::getClassTypeId()))
        return found;
    found.camera = static_cast<SoCamera *>(tail);
    found.governs = drawsAfter(path);
    found.world = worldPlacement(path, region, {found.camera->position.getValue(),
                                                found.camera->orientation.getValue()});
    return found;
}
