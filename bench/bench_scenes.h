// Stress scenes for the benchmark, written into a scratch directory when it
// runs (they are large and made in well under a second each, so they are
// never kept in the repository).
#ifndef QUELVIN_BENCH_SCENES_H
#define QUELVIN_BENCH_SCENES_H

#include <QString>

namespace scenes {

// One IndexedFaceSet of 2 x cells x cells triangles: cells = 707 gives about
// a million triangles and 36 MB.
bool writeMesh(const QString &path, int cells);
// count Transforms, each with a Shape of its own (Box, Sphere, Cone in turn).
bool writeShapes(const QString &path, int count);
// count Viewpoints around a few shapes.
bool writeViewpoints(const QString &path, int count);
// chains Inline chains of depth files each, side by side in dir: the
// document inlines the first file of every chain, which inlines the next.
bool writeInlines(const QString &dir, const QString &document, int chains, int depth);
// count textured Boxes: half share one PNG, half have one each.
bool writeTextures(const QString &dir, const QString &document, int count);

// count instances of a PROTO holding a sphere and a Script that colours
// it at start and bobs it on each tick; the first driven instances take
// their ticks from one TimeSensor. Without scripts, the same PROTO lacks
// its Script and the routes from it.
bool writeScripted(const QString &path, int count, bool scripts, int driven);

} // namespace scenes

#endif
