#ifndef QUELVIN_VRMLWRITER_H
#define QUELVIN_VRMLWRITER_H

#include <QByteArray>

class SoNode;

// Writes a scene read by Coin back as a VRML document, whole, into memory.
// A scene of VRML 97 nodes becomes "#VRML V2.0 utf8" text of those nodes;
// a scene read from a VRML 1.0 document, which holds no VRML 97 node, is
// written back as VRML 1.0.
QByteArray sceneAsVrml(SoNode *root);

#endif // QUELVIN_VRMLWRITER_H
