// libFuzzer target over the reading road: any bytes, as a downloaded
// document, through the tolerant pass, Coin's reader and the guard walk,
// with the document's scripts started, then the actions the viewer applies
// at once (bounding box, search). The same bytes then stand as the source
// of a script in a scene it can reach geometry of, and the triangles of
// that scene are generated as a frame would. Built by scripts/fuzz.sh with
// clang; see docs/fuzzing.md.
#include "quelvin_reader.h"
#include "quelvin_script.h"

#include <Inventor/SbViewportRegion.h>
#include <Inventor/SoDB.h>
#include <Inventor/actions/SoGetBoundingBoxAction.h>
#include <Inventor/actions/SoCallbackAction.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/errors/SoReadError.h>
#include <Inventor/sensors/SoSensorManager.h>
#include <Inventor/VRMLnodes/SoVRMLGeometry.h>
#include <Inventor/VRMLnodes/SoVRMLImageTexture.h>
#include <Inventor/VRMLnodes/SoVRMLInline.h>
#include <Inventor/nodes/SoSeparator.h>

#include <QCoreApplication>
#include <QFile>

#include <cstdint>

static void quiet(const SoError *, void *) {}
static SbBool noTexture(const SbString &, void *, SoVRMLImageTexture *) { return TRUE; }
static void triangle(void *, SoCallbackAction *, const SoPrimitiveVertex *, const SoPrimitiveVertex *,
                     const SoPrimitiveVertex *) {}

// Every kind of geometry data a script can send into, with a tick to
// handle; %1 is the script's source.
static const char scriptScene[] = "#VRML V2.0 utf8\n"
    "DEF G Group { children Shape { appearance Appearance { texture DEF P PixelTexture { image 1 1 1 0 } }\n"
    " geometry DEF F IndexedFaceSet { coord DEF C Coordinate { point [0 0 0, 1 0 0, 0 1 0] } coordIndex [0 1 2]\n"
    "  color DEF K Color { color [1 0 0] } normal DEF N Normal { vector [0 0 1] } } } }\n"
    "Shape { geometry DEF E ElevationGrid { xDimension 2 zDimension 2 height [0 0 0 0] } }\n"
    "DEF S Script { directOutput TRUE field SFNode face USE F field SFNode group USE G eventIn SFFloat tick\n"
    " eventOut MFVec3f p eventOut MFInt32 i eventOut MFColor c eventOut MFVec3f n eventOut SFImage img\n"
    " eventOut MFNode kids eventOut MFFloat h eventOut SFInt32 x url \"javascript:%1\" }\n"
    "ROUTE S.p TO C.set_point ROUTE S.i TO F.set_coordIndex ROUTE S.c TO K.set_color ROUTE S.n TO N.set_vector\n"
    "ROUTE S.img TO P.set_image ROUTE S.kids TO G.addChildren ROUTE S.h TO E.set_height ROUTE S.x TO E.set_xDimension\n";

static void generate(SoNode *root)
{
    SoCallbackAction triangles;
    triangles.addTriangleCallback(SoVRMLGeometry::getClassTypeId(), triangle, nullptr);
    triangles.apply(root);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    SoDB::init();
    SoReadError::setHandlerCallback(quiet, nullptr);
    // Linked files are the loader's business; nothing is fetched here.
    SoVRMLInline::setReadAsSoFile(FALSE);
    SoVRMLImageTexture::setDelayFetchURL(FALSE);
    SoVRMLImageTexture::setPrequalifyFileCallBack(noTexture, nullptr);
    tolerant::installExternProtoHook();
    static int argc = 1;
    static char name[] = "fuzz_reader";
    static char *argv[] = { name, nullptr };
    new QCoreApplication(argc, argv);
    Scripts::install(Scripts::Host());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    SoSeparator *root = SceneReader::readBuffer(bytes, QString());
    if (root) {
        root->ref();
        Scripts::startWorld(root, QString());
        SoGetBoundingBoxAction bbox(SbViewportRegion(320, 240));
        bbox.apply(root);
        SoSearchAction search;
        search.setType(SoVRMLGeometry::getClassTypeId(), TRUE);
        search.setInterest(SoSearchAction::ALL);
        search.setSearchingAll(TRUE);
        search.apply(root);
        for (int i = 0; i < search.getPaths().getLength(); i++)
            bbox.apply(search.getPaths()[i]->getTail());
        Scripts::startWorld(nullptr, QString());
        root->unref();
    }
    if (size < 4096) {
        // Quotes and backslashes would end the string the source sits in.
        QByteArray source = bytes;
        source.replace('\\', "\\\\").replace('"', "\\\"");
        root = SceneReader::readBuffer(QByteArray(scriptScene).replace("%1", source), QString());
        if (root) {
            root->ref();
            Scripts::startWorld(root, QString());
            if (SoField *tick = SoNode::getByName("S") ? SoNode::getByName("S")->getField("tick") : nullptr)
                tick->set("0.5");
            SoDB::getSensorManager()->processDelayQueue(TRUE);
            generate(root);
            Scripts::startWorld(nullptr, QString());
            root->unref();
        }
    }
    (void)SceneReader::takeAccount();
    return 0;
}
