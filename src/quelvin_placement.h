#ifndef QUELVIN_PLACEMENT_H
#define QUELVIN_PLACEMENT_H

#include <Inventor/SbLinear.h>

class SbViewportRegion;
class SoCamera;
class SoNode;
class SoPath;
class SoVRMLViewpoint;

// Where a viewpoint stands in the world. Exporters (Blender's camera
// among them) place viewpoints with the Transforms above them, so a
// viewpoint's own fields are only where it stands in its parent's frame.
struct Placement
{
    SbVec3f position;
    SbRotation orientation;
};

// A viewpoint's own position: VRML 97 puts an unset one at 0 0 10, where
// Coin leaves it at the origin.
SbVec3f viewpointPosition(const SoVRMLViewpoint *viewpoint);

// The placement of the viewpoint at the tail of a full path, through the
// transforms along it, inlines included.
Placement viewpointPlacement(const SoPath *path, const SbViewportRegion &region);

// The first camera a VRML 1.0 or Inventor scene draws with, a perspective
// or orthographic one; null when it has none. It sets the view again where
// it is drawn, so it is the camera a viewer must move.
SoCamera *firstFileCamera(SoNode *root);

#endif // QUELVIN_PLACEMENT_H
