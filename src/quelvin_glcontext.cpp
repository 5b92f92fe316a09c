#include "quelvin_glcontext.h"

#include <Inventor/C/glue/gl.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QPointer>
#include <QSurfaceFormat>
#include <QThread>
#include <QWindow>

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <type_traits>

Q_LOGGING_CATEGORY(lcGlContext, "quelvin.glcontext")

namespace {

// Whatever context was current before Coin switched to one of ours. The
// surface is kept behind a QPointer so that a viewer window closed in the
// meantime is not touched.
struct CurrentBinding
{
    QPointer<QOpenGLContext> context;
    QSurface *surface = nullptr;
    QPointer<QObject> surfaceGuard;

    static CurrentBinding capture()
    {
        CurrentBinding binding;
        QOpenGLContext *current = QOpenGLContext::currentContext();
        if (!current || !current->surface())
            return binding;
        binding.context = current;
        binding.surface = current->surface();
        switch (binding.surface->surfaceClass()) {
        case QSurface::Window:
            binding.surfaceGuard = static_cast<QWindow *>(binding.surface);
            break;
        case QSurface::Offscreen:
            binding.surfaceGuard = static_cast<QOffscreenSurface *>(binding.surface);
            break;
        }
        return binding;
    }

    void restore() const
    {
        if (context.isNull() || surfaceGuard.isNull() || !surface->surfaceHandle())
            return;
        if (!context->makeCurrent(surface))
            qCWarning(lcGlContext) << "could not make the previous GL context current again";
    }
};

struct QtContext
{
    QOffscreenSurface *surface = nullptr;
    QOpenGLContext *context = nullptr;
    QOpenGLFramebufferObject *fbo = nullptr;
    CurrentBinding previous;
};

// What Coin receives. Coin 4.0.0's GLX glue treats every offscreen handle as
// its own context record while working out the largest tile size
// (cc_glglue_context_max_dimensions() asks glxglue_context_pbuffer_max(),
// which reads a "this is a pbuffer" flag some 64 bytes in), even when the
// contexts come from the application. Leading zeroes make that read answer
// "not a pbuffer", so Coin falls back to the viewport limit. Should Coin
// forget our callbacks during its exit-time cleanup while a renderer still
// lives, its own destructor reads the same record, finds nothing to release
// and free()s it, hence calloc.
struct Handle
{
    char coinProbeArea[256];
    QtContext *impl;
};
static_assert(std::is_standard_layout<Handle>::value, "Handle must have C layout");
static_assert(std::is_trivial<Handle>::value, "Handle is allocated with calloc");
static_assert(offsetof(Handle, coinProbeArea) == 0, "the zeroes must come first");

QtContext *implOf(void *handle)
{
    return handle ? static_cast<Handle *>(handle)->impl : nullptr;
}

bool onGuiThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    return qobject_cast<QGuiApplication *>(app) && QThread::currentThread() == app->thread();
}

void discard(QtContext *d)
{
    // The framebuffer object's GL names belong to the context, so delete it
    // while that context is current; everything else goes with the context.
    if (d->fbo && d->context && d->context->makeCurrent(d->surface)) {
        delete d->fbo;
        d->fbo = nullptr;
        d->context->doneCurrent();
    }
    delete d->fbo;
    delete d->context;
    delete d->surface;
    delete d;
}

// Leaves no context current.
QtContext *makeContext(unsigned int width, unsigned int height)
{
    // Coin draws with the fixed-function pipeline, so ask for a plain desktop
    // GL context rather than the application's default format, which might be
    // a core profile.
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);

    auto *d = new QtContext;
    d->surface = new QOffscreenSurface;
    d->surface->setFormat(format);
    d->surface->create();
    d->context = new QOpenGLContext;
    d->context->setFormat(format);
    if (!d->surface->isValid() || !d->context->create() || d->context->isOpenGLES()
        || !d->context->makeCurrent(d->surface)) {
        // Coin asks again with ever smaller sizes; once is enough to say so.
        static bool warned = false;
        if (!warned)
            qCWarning(lcGlContext) << "could not create an offscreen desktop GL context";
        warned = true;
        discard(d);
        return nullptr;
    }

    QOpenGLFramebufferObjectFormat fboFormat;
    fboFormat.setAttachment(QOpenGLFramebufferObject::CombinedDepthStencil);
    fboFormat.setInternalTextureFormat(GL_RGBA8);
    d->fbo = new QOpenGLFramebufferObject(int(width), int(height), fboFormat);
    const bool fboOk = d->fbo->isValid();
    d->context->doneCurrent();
    if (!fboOk) {
        // Too large for this GL; Coin retries with a smaller size and
        // renders in tiles.
        qCDebug(lcGlContext) << "no framebuffer object of" << width << "x" << height;
        discard(d);
        return nullptr;
    }
    return d;
}

void *createOffscreen(unsigned int width, unsigned int height)
{
    // QOffscreenSurface may be a hidden native window, which only the GUI
    // thread may make; Coin treats a null handle as "no offscreen context".
    if (!onGuiThread()) {
        qCWarning(lcGlContext) << "offscreen GL contexts can only be made on the GUI thread";
        return nullptr;
    }
    if (width == 0 || height == 0 || width > INT_MAX || height > INT_MAX)
        return nullptr;

    // Coin may ask for a context in the middle of drawing a viewer (NURBS
    // tessellation, SoSceneTexture2), so the viewer's context has to be
    // current again when we return.
    const CurrentBinding previous = CurrentBinding::capture();
    auto *handle = static_cast<Handle *>(std::calloc(1, sizeof(Handle)));
    QtContext *d = handle ? makeContext(width, height) : nullptr;
    previous.restore();
    if (!d) {
        std::free(handle);
        return nullptr;
    }
    handle->impl = d;
    return handle;
}

SbBool makeCurrent(void *handle)
{
    QtContext *d = implOf(handle);
    if (!d)
        return FALSE;
    // Making ours current a second time before releasing it must not forget
    // which context to go back to.
    if (QOpenGLContext::currentContext() != d->context)
        d->previous = CurrentBinding::capture();
    if (!d->context->makeCurrent(d->surface)) {
        // Coin gives up on this context without releasing it.
        d->previous.restore();
        d->previous = CurrentBinding();
        return FALSE;
    }
    // Coin reads pixels back with glReadPixels from whatever framebuffer is
    // bound, so ours must be bound both for drawing and for the later read.
    if (!d->fbo->bind()) {
        d->context->doneCurrent();
        d->previous.restore();
        d->previous = CurrentBinding();
        return FALSE;
    }
    return TRUE;
}

void reinstatePrevious(void *handle)
{
    QtContext *d = implOf(handle);
    if (!d)
        return;
    const CurrentBinding previous = d->previous;
    d->previous = CurrentBinding();
    // Someone else already switched contexts; leave theirs alone.
    if (QOpenGLContext::currentContext() != d->context)
        return;
    d->fbo->release();
    d->context->doneCurrent();
    previous.restore();
}

void destruct(void *handle)
{
    auto *h = static_cast<Handle *>(handle);
    if (!h)
        return;
    QtContext *d = h->impl;
    std::free(h);
    if (!onGuiThread()) {
        // Either the application object is already gone (a renderer that
        // outlives it) and Qt's window-system objects can no longer be torn
        // down, or this thread may not touch them. Leaking them beats
        // crashing.
        return;
    }
    const bool ours = QOpenGLContext::currentContext() == d->context;
    const CurrentBinding previous = ours ? d->previous : CurrentBinding::capture();
    discard(d);
    previous.restore();
}

} // namespace

void installOffscreenContexts()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        qCWarning(lcGlContext) << "installOffscreenContexts() needs a QGuiApplication";
        return;
    }
    static cc_glglue_offscreen_cb_functions callbacks = {
        createOffscreen, makeCurrent, reinstatePrevious, destruct
    };
    cc_glglue_context_set_offscreen_cb_functions(&callbacks);
}
