#include "quelvin_placement.h"

#include <Inventor/SoFullPath.h>
#include <Inventor/actions/SoGetMatrixAction.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/nodes/SoOrthographicCamera.h>
#include <Inventor/nodes/SoPerspectiveCamera.h>
#include <Inventor/VRMLnodes/SoVRMLViewpoint.h>

#include <cmath>

SbVec3f viewpointPosition(const SoVRMLViewpoint *viewpoint)
{
    return viewpoint->position.isDefault() ? SbVec3f(0.0f, 0.0f, 10.0f)
                                           : viewpoint->position.getValue();
}

Placement viewpointPlacement(const SoPath *path, const SbViewportRegion &region)
{
    const auto *viewpoint =
        static_cast<const SoVRMLViewpoint *>(static_cast<const SoFullPath *>(path)->getTail());
    Placement placement{viewpointPosition(viewpoint), viewpoint->orientation.getValue()};
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

// The first camera a VRML 1.0 or Inventor scene draws with. One read into
// an inline is left alone: SoQt could not find it again to change its type.
SoCamera *firstFileCamera(SoNode *root)
{
    SoSearchAction search;
    search.setType(SoCamera::getClassTypeId(), TRUE);
    search.apply(root);
    SoPath *path = search.getPath();
    if (!path || path->getLength() != static_cast<SoFullPath *>(path)->getLength())
        return nullptr;
    SoNode *camera = static_cast<SoFullPath *>(path)->getTail();
    if (!camera->isOfType(SoPerspectiveCamera::getClassTypeId())
        && !camera->isOfType(SoOrthographicCamera::getClassTypeId()))
        return nullptr;
    return static_cast<SoCamera *>(camera);
}
