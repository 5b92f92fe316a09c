#ifndef QUELVIN_THUMBNAIL_H
#define QUELVIN_THUMBNAIL_H

#include <QImage>
#include <QString>

// Small pictures of a model for file managers, drawn without a viewer: the
// scene is read by SceneReader and rendered offscreen from its first
// viewpoint, or from the front with the whole scene in view.
namespace Thumbnail {

// Makes Coin fetch inlines and image textures only from local files named
// by a relative URL, next to the file that names them; anything else (an
// http: address, an absolute path) is left out. Replaces the hooks of a
// viewer, so a process uses one or the other. Call after SoDB::init().
void installLocalHooks();

// The largest side rendered, whatever size is asked for.
const int maxSize = 1024;

// The model in path seen in a square of size pixels (capped at maxSize),
// transparent where nothing is drawn. A null image when the file cannot
// be read or rendered; why says which, for the user.
QImage render(const QString &path, int size, QString *why = nullptr);

} // namespace Thumbnail

#endif // QUELVIN_THUMBNAIL_H
