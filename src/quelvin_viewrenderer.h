#ifndef QUELVIN_VIEWRENDERER_H
#define QUELVIN_VIEWRENDERER_H

#include <Inventor/SbViewportRegion.h>
#include <Inventor/actions/SoGLRenderAction.h>

#include <QPointer>
#include <QString>

#include <memory>
#include <vector>

class QGLWidget;
class QOpenGLFramebufferObject;
class SoNode;
class SoOffscreenRenderer;
class SoQtRenderArea;

// Draws images of what a view shows, of the view's size, and writes them as
// SGI RGB files: the same pixels and the same files SoOffscreenRenderer gives
// with its defaults (RGB, black background, sorted-object blending).
//
// The images are drawn into a framebuffer object of the view's own GL
// context, with the view's cache context, so the scene's vertex buffers and
// textures already made for the screen serve the images too, and no context
// is switched. SoOffscreenRenderer would make a GL context of its own (a
// second Mesa context, 80 MB on a 1 M-triangle mesh), build all of them a
// second time in it, and switch contexts for every render and again for
// every read-back. It is still used when the view has no GL
// context to lend (not shown yet) or no framebuffer object of that size can
// be made there.
class ViewRenderer
{
public:
    // The size is the view's viewport at this moment, for every image.
    explicit ViewRenderer(SoQtRenderArea *view);
    ~ViewRenderer();
    ViewRenderer(const ViewRenderer &) = delete;
    ViewRenderer &operator=(const ViewRenderer &) = delete;

    // Draws root and reads the pixels back. False when nothing could draw.
    bool render(SoNode *root);
    // The last image rendered; false when the file cannot be written whole.
    bool writeToRGB(const QString &path) const;

    // Whether the last render was drawn in the view's own context.
    bool drewInView() const { return inView; }

private:
    bool renderInView(SoNode *root);
    bool renderApart(SoNode *root);
    void readPixels();

    SoQtRenderArea *view;
    QPointer<QGLWidget> widget;
    SbViewportRegion viewRegion;
    SoGLRenderAction action;
    SbViewportRegion region;
    int width = 0, height = 0;
    QOpenGLFramebufferObject *fbo = nullptr;
    bool fboFailed = false;
    std::unique_ptr<SoOffscreenRenderer> apart;
    std::vector<unsigned char> pixels; // RGB, rows bottom to top as GL gives them
    int images = 0; // drawn in the view
    bool rendered = false;
    bool inView = false;
};

#endif // QUELVIN_VIEWRENDERER_H
