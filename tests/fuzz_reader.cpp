// libFuzzer target over the reading road: any bytes, as a downloaded
// document, through the tolerant pass, Coin's reader and the guard walk,
// then the actions the viewer applies at once (bounding box, search). Built
// by scripts/fuzz.sh with clang; see docs/fuzzing.md.
#include "quelvin_reader.h"

#include <Inventor/SbViewportRegion.h>
#include <Inventor/SoDB.h>
#include <Inventor/actions/SoGetBoundingBoxAction.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/errors/SoReadError.h>
#include <Inventor/VRMLnodes/SoVRMLGeometry.h>
#include <Inventor/VRMLnodes/SoVRMLImageTexture.h>
#include <Inventor/VRMLnodes/SoVRMLInline.h>
#include <Inventor/nodes/SoSeparator.h>

#include <cstdint>

static void quiet(const SoError *, void *) {}
static SbBool noTexture(const SbString &, void *, SoVRMLImageTexture *) { return TRUE; }

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    SoDB::init();
    SoReadError::setHandlerCallback(quiet, nullptr);
    // Linked files are the loader's business; nothing is fetched here.
    SoVRMLInline::setReadAsSoFile(FALSE);
    SoVRMLImageTexture::setDelayFetchURL(FALSE);
    SoVRMLImageTexture::setPrequalifyFileCallBack(noTexture, nullptr);
    tolerant::installExternProtoHook();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    SoSeparator *root = SceneReader::readBuffer(bytes, QString());
    if (root) {
        root->ref();
        SoGetBoundingBoxAction bbox(SbViewportRegion(320, 240));
        bbox.apply(root);
        SoSearchAction search;
        search.setType(SoVRMLGeometry::getClassTypeId(), TRUE);
        search.setInterest(SoSearchAction::ALL);
        search.setSearchingAll(TRUE);
        search.apply(root);
        for (int i = 0; i < search.getPaths().getLength(); i++)
            bbox.apply(search.getPaths()[i]->getTail());
        root->unref();
    }
    (void)SceneReader::takeAccount();
    return 0;
}
