#ifndef QUELVIN_GUARD_H
#define QUELVIN_GUARD_H

class SoNode;
class ReadAccount;

// Coin 4.0.0 trusts what it has read: it follows cycles without end, casts
// the node in a field to the type the field should hold, and indexes
// coordinates, colours, normals and texture coordinates with whatever the
// file says (crashing in Coin or in Mesa at the first frame). One walk
// over a freshly read graph, before any action sees it, takes out what
// would crash: cycles are cut, nodes of the wrong type leave their field,
// geometry keeps only the faces its arrays back and drops colours, normals
// and texture coordinates that do not match, and grid sizes are bounded by
// their data.
void guardScene(SoNode *root, ReadAccount *account);

// Pixels a texture may have; simage allocates whatever an image header
// claims without checking the allocation.
const long long maxTexturePixels = 16LL * 1024 * 1024;

#endif // QUELVIN_GUARD_H
