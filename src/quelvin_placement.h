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

// Where something standing at a placement in the frame of the tail of a
// full path stands in the world.
Placement worldPlacement(const SoPath *path, const SbViewportRegion &region, const Placement &local);

// The first camera a VRML 1.0 or Inventor scene draws with, a perspective
// or orthographic one not read from an inline; none when it has none.
// governs: it sets the view of what is drawn after it, so it is the
// camera a viewer must move. One that does not (alone in a Separator with
// the Transform placing it, as some exporters write) only says where the
// view starts: world.
struct FileCamera
{
    SoCamera *camera = nullptr;
    bool governs = false;
    Placement world;
};
FileCamera firstFileCamera(SoNode *root, const SbViewportRegion &region);

#endif // QUELVIN_PLACEMENT_H
