#ifndef QUELVIN_GLCONTEXT_H
#define QUELVIN_GLCONTEXT_H

// Gives Coin's offscreen renderer GL contexts made by Qt. Call once after
// SoDB/SoQt init and after a QGuiApplication exists; safe to call more than
// once.
//
// Coin's own GLX offscreen contexts are indirect pixmap contexts, which
// current X servers refuse, so without this every SoOffscreenRenderer::render()
// fails. Each context handed to Coin here is a QOpenGLContext on a
// QOffscreenSurface drawing into a framebuffer object of the requested size.
//
// Call it before anything renders offscreen: Coin probes the largest usable
// tile size once per process and keeps the answer, so a probe that failed
// with the built-in contexts would disable offscreen rendering for good.
//
// Contexts are only made on the GUI thread; Coin's requests from other
// threads fail cleanly (render() returns false).
void installOffscreenContexts();

#endif
