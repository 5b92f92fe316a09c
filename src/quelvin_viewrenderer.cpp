#include "quelvin_viewrenderer.h"

#include <Inventor/Qt/SoQtRenderArea.h>
#include <Inventor/SoOffscreenRenderer.h>
#include <Inventor/misc/SoGLBigImage.h>
#include <Inventor/VRMLnodes/SoVRMLGroup.h>
#include <Inventor/nodes/SoSeparator.h>

#include <QGLContext>
#include <QGLWidget>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>

#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {

// Clears once the render action has set the viewport, as Coin's offscreen
// renderer does.
void clearFrame(void *, SoGLRenderAction *action)
{
    glClear(GL_DEPTH_BUFFER_BIT | GL_COLOR_BUFFER_BIT);
    action->setRenderingIsRemote(FALSE);
}

// Coin gives a group a render cache (a display list) on its third traversal
// without a change, whichever render action traversed it. A cache records
// the transparency type, and images are drawn with another one than the
// view, so lists made while drawing an image serve only later images; for a
// single image they are the scene compiled once more for nothing (on 20,000
// shapes, more than a second and 70 MB). The first image of a renderer is
// therefore drawn without render caches; from the second on (a grid), Coin
// decides as usual.
class RenderCachesOff
{
public:
    RenderCachesOff()
        : separators(SoSeparator::getNumRenderCaches()), groups(SoVRMLGroup::getNumRenderCaches())
    {
        SoSeparator::setNumRenderCaches(0);
        SoVRMLGroup::setNumRenderCaches(0);
    }
    ~RenderCachesOff()
    {
        SoSeparator::setNumRenderCaches(separators);
        SoVRMLGroup::setNumRenderCaches(groups);
    }

private:
    const int separators, groups;
};

void put16(unsigned char *at, unsigned int value)
{
    at[0] = static_cast<unsigned char>(value >> 8);
    at[1] = static_cast<unsigned char>(value & 0xff);
}

} // namespace

ViewRenderer::ViewRenderer(SoQtRenderArea *area)
    : view(area), widget(qobject_cast<QGLWidget *>(area->getGLWidget())),
      viewRegion(area->getViewportRegion()), action(viewRegion)
{
    const SbVec2s size = viewRegion.getViewportSizePixels();
    width = size[0];
    height = size[1];
    // The region SoOffscreenRenderer draws with: the view's size in pixels
    // in a default window, so that whatever reads the window size sees what
    // it saw there.
    region.setViewportPixels(0, 0, size[0], size[1]);
    action.setTransparencyType(SoGLRenderAction::SORTED_OBJECT_BLEND);
    action.addPreRenderCallback(clearFrame, nullptr);
}

ViewRenderer::~ViewRenderer()
{
    if (!fbo)
        return;
    // The framebuffer object's names belong to the view's context.
    if (widget && widget->isValid())
        widget->makeCurrent();
    delete fbo;
}

bool ViewRenderer::render(SoNode *root)
{
    rendered = false;
    inView = false;
    if (!root || width <= 0 || height <= 0)
        return false;
    inView = renderInView(root);
    rendered = inView || renderApart(root);
    return rendered;
}

bool ViewRenderer::renderInView(SoNode *root)
{
    if (fboFailed || !widget || !widget->isValid() || !widget->context())
        return false;
    QOpenGLContext *context = widget->context()->contextHandle();
    if (QOpenGLContext::currentContext() != context)
        widget->makeCurrent();
    if (!context || QOpenGLContext::currentContext() != context || context->isOpenGLES())
        return false;
    if (!fbo) {
        QOpenGLFramebufferObjectFormat format;
        format.setAttachment(QOpenGLFramebufferObject::CombinedDepthStencil);
        format.setInternalTextureFormat(GL_RGBA8);
        fbo = new QOpenGLFramebufferObject(width, height, format);
        if (!fbo->isValid()) {
            delete fbo;
            fbo = nullptr;
            fboFailed = true;
            return false;
        }
    }
    if (!fbo->bind())
        return false;

    // Everything the view's next frame might depend on goes back as it was;
    // pushed with our framebuffer bound, since its draw and read buffers are
    // part of what is kept.
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glEnable(GL_DEPTH_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    // The best texture quality whatever the view has settled for, as Coin's
    // offscreen renderer asks for it.
    const int changeLimit = SoGLBigImage::setChangeLimit(INT_MAX);
    // The view's cache context: the vertex buffers and textures Coin made
    // for the screen are used as they are.
    action.setCacheContext(view->getGLRenderAction()->getCacheContext());
    action.setViewportRegion(region);
    {
        std::optional<RenderCachesOff> firstImage;
        if (images++ == 0)
            firstImage.emplace();
        action.apply(root);
    }
    SoGLBigImage::setChangeLimit(changeLimit);
    readPixels();
    glPopAttrib();
    fbo->release();
    return true;
}

void ViewRenderer::readPixels()
{
    pixels.resize(size_t(width) * size_t(height) * 3);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_SWAP_BYTES, 0);
    glPixelStorei(GL_PACK_LSB_FIRST, 0);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    // Colours as they are in the framebuffer (the attributes are pushed).
    glPixelTransferi(GL_MAP_COLOR, 0);
    for (GLenum scale : { GL_RED_SCALE, GL_GREEN_SCALE, GL_BLUE_SCALE })
        glPixelTransferf(scale, 1.0f);
    for (GLenum bias : { GL_RED_BIAS, GL_GREEN_BIAS, GL_BLUE_BIAS })
        glPixelTransferf(bias, 0.0f);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    glPopClientAttrib();
}

bool ViewRenderer::renderApart(SoNode *root)
{
    if (!apart)
        apart.reset(new SoOffscreenRenderer(viewRegion));
    if (!apart->render(root))
        return false;
    const unsigned char *buffer = apart->getBuffer();
    if (!buffer)
        return false;
    pixels.assign(buffer, buffer + size_t(width) * size_t(height) * 3);
    return true;
}

bool ViewRenderer::writeToRGB(const QString &path) const
{
    if (!rendered)
        return false;
    // Uncompressed SGI RGB, one plane per channel, rows bottom to top, with
    // the header SoOffscreenRenderer::writeToRGB writes, its project address
    // in the name field included: the same file whichever way it was drawn.
    const size_t plane = size_t(width) * size_t(height);
    std::vector<unsigned char> file(512 + 3 * plane, 0);
    unsigned char *header = file.data();
    put16(header, 474);
    put16(header + 2, 1);
    put16(header + 4, 3);
    put16(header + 6, unsigned(width));
    put16(header + 8, unsigned(height));
    put16(header + 10, 3);
    header[19] = 255;
    static const char address[] = "https://bitbucket.org/Coin3D/";
    std::memcpy(header + 20, address, sizeof address - 1);
    for (size_t c = 0; c < 3; c++) {
        unsigned char *out = file.data() + 512 + c * plane;
        const unsigned char *in = pixels.data() + c;
        for (size_t i = 0; i < plane; i++, in += 3)
            out[i] = *in;
    }
    FILE *fp = std::fopen(path.toUtf8().constData(), "wb");
    if (!fp)
        return false;
    const bool written = std::fwrite(file.data(), 1, file.size(), fp) == file.size();
    return std::fclose(fp) == 0 && written;
}
