#include "quelvin_guard.h"

#include "quelvin_tolerant.h"

#include <Inventor/SoFullPath.h>
#include <Inventor/SoPath.h>
#include <Inventor/SoType.h>
#include <Inventor/actions/SoCallbackAction.h>
#include <Inventor/elements/SoCoordinateElement.h>
#include <Inventor/elements/SoLazyElement.h>
#include <Inventor/elements/SoMaterialBindingElement.h>
#include <Inventor/elements/SoMultiTextureCoordinateElement.h>
#include <Inventor/elements/SoMultiTextureEnabledElement.h>
#include <Inventor/elements/SoNormalBindingElement.h>
#include <Inventor/elements/SoNormalElement.h>
#include <Inventor/elements/SoTextureCoordinateBindingElement.h>
#include <Inventor/fields/SoFieldData.h>
#include <Inventor/fields/SoMFFloat.h>
#include <Inventor/fields/SoMFNode.h>
#include <Inventor/fields/SoSFNode.h>
#include <Inventor/misc/SoProto.h>
#include <Inventor/lists/SoFieldList.h>
#include <Inventor/lists/SoNodeList.h>
#include <Inventor/misc/SoChildList.h>
#include <Inventor/misc/SoState.h>
#include <Inventor/nodes/SoGroup.h>
#include <Inventor/nodes/SoLOD.h>
#include <Inventor/nodes/SoLevelOfDetail.h>
#include <Inventor/nodes/SoIndexedFaceSet.h>
#include <Inventor/nodes/SoIndexedLineSet.h>
#include <Inventor/nodes/SoIndexedNurbsCurve.h>
#include <Inventor/nodes/SoIndexedNurbsSurface.h>
#include <Inventor/nodes/SoIndexedPointSet.h>
#include <Inventor/nodes/SoIndexedShape.h>
#include <Inventor/nodes/SoIndexedTriangleStripSet.h>
#include <Inventor/nodes/SoFaceSet.h>
#include <Inventor/nodes/SoLineSet.h>
#include <Inventor/nodes/SoNonIndexedShape.h>
#include <Inventor/nodes/SoNurbsCurve.h>
#include <Inventor/nodes/SoNurbsSurface.h>
#include <Inventor/nodes/SoPointSet.h>
#include <Inventor/nodes/SoQuadMesh.h>
#include <Inventor/nodes/SoSwitch.h>
#include <Inventor/nodes/SoTriangleStripSet.h>
#include <Inventor/nodes/SoVertexProperty.h>
#include <Inventor/nodes/SoVertexShape.h>
#include <Inventor/VRMLnodes/SoVRMLLOD.h>
#include <Inventor/VRMLnodes/SoVRMLSwitch.h>
#include <Inventor/VRMLnodes/SoVRMLAppearance.h>
#include <Inventor/VRMLnodes/SoVRMLAudioClip.h>
#include <Inventor/VRMLnodes/SoVRMLColor.h>
#include <Inventor/VRMLnodes/SoVRMLCoordinate.h>
#include <Inventor/VRMLnodes/SoVRMLElevationGrid.h>
#include <Inventor/VRMLnodes/SoVRMLFontStyle.h>
#include <Inventor/VRMLnodes/SoVRMLGeometry.h>
#include <Inventor/VRMLnodes/SoVRMLIndexedFaceSet.h>
#include <Inventor/VRMLnodes/SoVRMLIndexedLineSet.h>
#include <Inventor/VRMLnodes/SoVRMLMaterial.h>
#include <Inventor/VRMLnodes/SoVRMLMovieTexture.h>
#include <Inventor/VRMLnodes/SoVRMLNormal.h>
#include <Inventor/VRMLnodes/SoVRMLPointSet.h>
#include <Inventor/VRMLnodes/SoVRMLScript.h>
#include <Inventor/VRMLnodes/SoVRMLTexture.h>
#include <Inventor/VRMLnodes/SoVRMLTextureCoordinate.h>
#include <Inventor/VRMLnodes/SoVRMLTextureTransform.h>

#include <QHash>
#include <QSet>
#include <QVector>

#include <algorithm>
#include <cstring>

namespace {

// The node types each SFNode field of a VRML 97 node may hold.
bool fitsField(const SbName &field, SoNode *value)
{
    static const struct { const char *field; SoType (*type)(); } table[] = {
        { "appearance", SoVRMLAppearance::getClassTypeId },
        { "geometry", SoVRMLGeometry::getClassTypeId },
        { "material", SoVRMLMaterial::getClassTypeId },
        { "texture", SoVRMLTexture::getClassTypeId },
        { "textureTransform", SoVRMLTextureTransform::getClassTypeId },
        { "coord", SoVRMLCoordinate::getClassTypeId },
        { "normal", SoVRMLNormal::getClassTypeId },
        { "color", SoVRMLColor::getClassTypeId },
        { "texCoord", SoVRMLTextureCoordinate::getClassTypeId },
        { "fontStyle", SoVRMLFontStyle::getClassTypeId },
        { nullptr, nullptr } };
    if (field == "source")
        return value->isOfType(SoVRMLAudioClip::getClassTypeId())
               || value->isOfType(SoVRMLMovieTexture::getClassTypeId());
    for (int i = 0; table[i].field; i++)
        if (field == table[i].field)
            return value->isOfType(table[i].type());
    return true;
}

bool isVrml97(SoNode *node)
{
    return strncmp(node->getTypeId().getName().getString(), "VRML", 4) == 0
           && !node->isOfType(SoVRMLScript::getClassTypeId());
}

// Number of faces (or polylines) in an index list, each ended by -1 or by
// the end of the list.
int countRuns(const SoMFInt32 &index)
{
    int runs = 0;
    bool open = false;
    for (int i = 0; i < index.getNum(); i++) {
        if (index[i] < 0) {
            runs += open ? 1 : 0;
            open = false;
        } else {
            open = true;
        }
    }
    return runs + (open ? 1 : 0);
}

int maxIndex(const SoMFInt32 &index)
{
    int most = -1;
    for (int i = 0; i < index.getNum(); i++)
        most = std::max(most, index[i]);
    return most;
}

bool indicesWithin(const SoMFInt32 &index, int count)
{
    for (int i = 0; i < index.getNum(); i++)
        if (index[i] < -1 || index[i] >= count)
            return false;
    return true;
}

// Keeps only the faces whose coordinate indices all name a coordinate.
// Returns whether anything had to go.
bool keepBackedFaces(SoMFInt32 &coordIndex, int coordinates)
{
    if (indicesWithin(coordIndex, coordinates))
        return false;
    QVector<int32_t> kept;
    QVector<int32_t> face;
    bool good = true;
    for (int i = 0; i <= coordIndex.getNum(); i++) {
        const int v = i < coordIndex.getNum() ? coordIndex[i] : -1;
        if (v == -1 || i == coordIndex.getNum()) {
            if (good && !face.isEmpty()) {
                kept += face;
                kept.append(-1);
            }
            face.clear();
            good = true;
        } else if (v < 0 || v >= coordinates) {
            good = false;
        } else {
            face.append(v);
        }
    }
    coordIndex.setValues(0, kept.size(), kept.constData());
    coordIndex.setNum(kept.size());
    return true;
}

// The size of the array a node field holds; 0 when it holds nothing, or a
// node of another type, which the walk takes out of the field.
template <class NodeType> int countOf(const SoSFNode &field, int (*count)(NodeType *))
{
    SoNode *node = field.getValue();
    return node && node->isOfType(NodeType::getClassTypeId()) ? count(static_cast<NodeType *>(node))
                                                                : 0;
}

int coordCount(SoVRMLCoordinate *n) { return n->point.getNum(); }
int colorCount(SoVRMLColor *n) { return n->color.getNum(); }
int normalCount(SoVRMLNormal *n) { return n->vector.getNum(); }
int texCoordCount(SoVRMLTextureCoordinate *n) { return n->point.getNum(); }

// A colour or normal array with its index list and binding, checked against
// the faces it must cover.
bool attributeFits(const SoSFNode &node, const SoMFInt32 &index, bool perVertex,
                   const SoMFInt32 &coordIndex, int count, int faces)
{
    if (!node.getValue())
        return true;
    if (perVertex) {
        if (index.getNum() > 0)
            return index.getNum() >= coordIndex.getNum() && indicesWithin(index, count);
        return maxIndex(coordIndex) < count;
    }
    if (index.getNum() > 0)
        return index.getNum() >= faces && indicesWithin(index, count) && maxIndex(index) >= -1;
    return count >= faces;
}

void dropAttribute(SoSFNode &node, SoMFInt32 *index)
{
    node.setValue(nullptr);
    if (index)
        index->setNum(0);
}

void guardIndexedFaceSet(SoVRMLIndexedFaceSet *set, ReadAccount *account)
{
    const int coords = countOf<SoVRMLCoordinate>(set->coord, coordCount);
    bool changed = keepBackedFaces(set->coordIndex, coords);
    if (changed) {
        // Per-vertex lists no longer line up with the faces kept.
        dropAttribute(set->color, &set->colorIndex);
        dropAttribute(set->normal, &set->normalIndex);
        dropAttribute(set->texCoord, &set->texCoordIndex);
    }
    const int faces = countRuns(set->coordIndex);
    if (!attributeFits(set->color, set->colorIndex, set->colorPerVertex.getValue(), set->coordIndex,
                       countOf<SoVRMLColor>(set->color, colorCount), faces)) {
        dropAttribute(set->color, &set->colorIndex);
        changed = true;
    }
    if (!attributeFits(set->normal, set->normalIndex, set->normalPerVertex.getValue(),
                       set->coordIndex, countOf<SoVRMLNormal>(set->normal, normalCount), faces)) {
        dropAttribute(set->normal, &set->normalIndex);
        changed = true;
    }
    if (!attributeFits(set->texCoord, set->texCoordIndex, true, set->coordIndex,
                       countOf<SoVRMLTextureCoordinate>(set->texCoord, texCoordCount), faces)) {
        dropAttribute(set->texCoord, &set->texCoordIndex);
        changed = true;
    }
    if (changed && account)
        account->add(LeftOut::UnusableGeometryData, "IndexedFaceSet");
}

void guardIndexedLineSet(SoVRMLIndexedLineSet *set, ReadAccount *account)
{
    const int coords = countOf<SoVRMLCoordinate>(set->coord, coordCount);
    bool changed = keepBackedFaces(set->coordIndex, coords);
    if (changed)
        dropAttribute(set->color, &set->colorIndex);
    const int lines = countRuns(set->coordIndex);
    if (!attributeFits(set->color, set->colorIndex, set->colorPerVertex.getValue(), set->coordIndex,
                       countOf<SoVRMLColor>(set->color, colorCount), lines)) {
        dropAttribute(set->color, &set->colorIndex);
        changed = true;
    }
    if (changed && account)
        account->add(LeftOut::UnusableGeometryData, "IndexedLineSet");
}

void guardPointSet(SoVRMLPointSet *set, ReadAccount *account)
{
    const int points = countOf<SoVRMLCoordinate>(set->coord, coordCount);
    if (set->color.getValue() && countOf<SoVRMLColor>(set->color, colorCount) < points) {
        dropAttribute(set->color, nullptr);
        if (account)
            account->add(LeftOut::UnusableGeometryData, "PointSet");
    }
}

void guardElevationGrid(SoVRMLElevationGrid *grid, ReadAccount *account)
{
    long long x = std::max(0, int(grid->xDimension.getValue()));
    long long z = std::max(0, int(grid->zDimension.getValue()));
    const long long heights = grid->height.getNum();
    bool changed = x != grid->xDimension.getValue() || z != grid->zDimension.getValue();
    // The grid is as big as its heights, and no bigger than a texture.
    if (x * z > heights || x * z > maxTexturePixels) {
        z = x > 0 ? std::min(heights, maxTexturePixels) / x : 0;
        if (z == 0)
            x = 0;
        changed = true;
    }
    if (changed) {
        grid->xDimension.setValue(int(x));
        grid->zDimension.setValue(int(z));
    }
    const long long vertices = x * z;
    const long long cells = std::max(0LL, x - 1) * std::max(0LL, z - 1);
    if (grid->color.getValue()
        && countOf<SoVRMLColor>(grid->color, colorCount)
               < (grid->colorPerVertex.getValue() ? vertices : cells)) {
        dropAttribute(grid->color, nullptr);
        changed = true;
    }
    if (grid->normal.getValue()
        && countOf<SoVRMLNormal>(grid->normal, normalCount)
               < (grid->normalPerVertex.getValue() ? vertices : cells)) {
        dropAttribute(grid->normal, nullptr);
        changed = true;
    }
    if (grid->texCoord.getValue()
        && countOf<SoVRMLTextureCoordinate>(grid->texCoord, texCoordCount) < vertices) {
        dropAttribute(grid->texCoord, nullptr);
        changed = true;
    }
    if (changed && account)
        account->add(LeftOut::UnusableGeometryData, "ElevationGrid");
}

// Coin 4.0.0 takes an inherited switch index modulo the number of children,
// and so divides by zero on a switch without any.
void guardSwitch(SoSFInt32 &which, int children, const char *name, ReadAccount *account)
{
    if (which.getValue() == SO_SWITCH_INHERIT && children == 0) {
        which.setValue(SO_SWITCH_NONE);
        if (account)
            account->add(LeftOut::UnusableGeometryData, name);
    }
}

void guardGeometry(SoNode *node, ReadAccount *account)
{
    const SoType type = node->getTypeId();
    if (type.isDerivedFrom(SoSwitch::getClassTypeId()))
        guardSwitch(static_cast<SoSwitch *>(node)->whichChild,
                    static_cast<SoSwitch *>(node)->getNumChildren(), "Switch", account);
    else if (type.isDerivedFrom(SoVRMLSwitch::getClassTypeId()))
        guardSwitch(static_cast<SoVRMLSwitch *>(node)->whichChoice,
                    static_cast<SoVRMLSwitch *>(node)->getNumChildren(), "Switch", account);
    if (type.isDerivedFrom(SoVRMLIndexedFaceSet::getClassTypeId()))
        guardIndexedFaceSet(static_cast<SoVRMLIndexedFaceSet *>(node), account);
    else if (type.isDerivedFrom(SoVRMLIndexedLineSet::getClassTypeId()))
        guardIndexedLineSet(static_cast<SoVRMLIndexedLineSet *>(node), account);
    else if (type.isDerivedFrom(SoVRMLPointSet::getClassTypeId()))
        guardPointSet(static_cast<SoVRMLPointSet *>(node), account);
    else if (type.isDerivedFrom(SoVRMLElevationGrid::getClassTypeId()))
        guardElevationGrid(static_cast<SoVRMLElevationGrid *>(node), account);
}

// --- Inventor and VRML 1.0 shapes ---------------------------------------
//
// These take coordinates, normals, texture coordinates and colours from the
// traversal state, and bindings there decide which index list addresses
// which array. Coin 4.0.0 checks none of it: a coordinate index of
// 2147483647 makes its normal generator ask for memory without end, and
// colours and normals past their arrays are read wherever they point. What
// a shape may index is known only where it is drawn, so a callback action
// visits every place (all children of switches and levels of detail too)
// and each shape keeps only the faces that the arrays in force there back.
// Cuts only take faces away, so a shape drawn in several places ends safe
// in all of them.

bool isInventorShape(const SoNode *node)
{
    return node->isOfType(SoIndexedShape::getClassTypeId())
           || node->isOfType(SoNonIndexedShape::getClassTypeId())
           || node->isOfType(SoNurbsCurve::getClassTypeId())
           || node->isOfType(SoNurbsSurface::getClassTypeId())
           || node->isOfType(SoIndexedNurbsCurve::getClassTypeId())
           || node->isOfType(SoIndexedNurbsSurface::getClassTypeId());
}

// Bindings with the values SoMaterialBindingElement and
// SoNormalBindingElement share.
enum Binding { Overall = 2, PerPart, PerPartIndexed, PerFace, PerFaceIndexed, PerVertex, PerVertexIndexed };

// What one attribute array holds where a shape is drawn; a negative count
// when the shape does not index it there.
struct Attribute
{
    int count;
    Binding binding;
};

struct InForce
{
    int coordinates;
    Attribute colours, normals, texCoords;
};

InForce inForce(SoCallbackAction *action, const SoNode *shape)
{
    SoState *state = action->getState();
    // A vertexProperty replaces, for its own shape, the arrays it holds.
    SoNode *property = shape->isOfType(SoVertexShape::getClassTypeId())
                           ? static_cast<const SoVertexShape *>(shape)->vertexProperty.getValue()
                           : nullptr;
    if (property) {
        state->push();
        property->doAction(action);
    }
    InForce in;
    in.coordinates = SoCoordinateElement::getInstance(state)->getNum();
    in.colours = { SoLazyElement::getInstance(state)->getNumDiffuse(),
                   Binding(SoMaterialBindingElement::get(state)) };
    // Without normals Coin makes its own; with texture coordinates of no
    // explicit list it computes them.
    const int normals = SoNormalElement::getInstance(state)->getNum();
    in.normals = { normals > 0 ? normals : -1, Binding(SoNormalBindingElement::get(state)) };
    const SoMultiTextureCoordinateElement *tex = SoMultiTextureCoordinateElement::getInstance(state);
    // Texture coordinates are read only under a texture.
    const bool textured = !state->isElementEnabled(SoMultiTextureEnabledElement::getClassStackIndex())
                          || SoMultiTextureEnabledElement::get(state, 0);
    const bool explicitTex = textured && tex->getType(0) == SoMultiTextureCoordinateElement::EXPLICIT
                             && tex->getNum(0) > 0;
    in.texCoords = { explicitTex ? tex->getNum(0) : -1,
                     SoTextureCoordinateBindingElement::get(state)
                             == SoTextureCoordinateBindingElement::PER_VERTEX
                         ? PerVertex
                         : PerVertexIndexed };
    if (property)
        state->pop();
    if (in.colours.binding < Overall || in.colours.binding > PerVertexIndexed)
        in.colours.binding = Overall;
    if (in.normals.binding < Overall || in.normals.binding > PerVertexIndexed)
        in.normals.binding = PerVertexIndexed;
    return in;
}

struct Run
{
    int begin;    // position in the coordinate index list
    int end;
    int unit;     // first part or face the run takes under a per-part or per-face binding
};

// Parts or faces a run of the given length takes: a line set binds per
// segment or per line, a strip set per strip or per triangle.
int unitsOf(const SoNode *shape, int length, bool perPart)
{
    if (shape->isOfType(SoIndexedLineSet::getClassTypeId()) || shape->isOfType(SoLineSet::getClassTypeId()))
        return perPart ? std::max(0, length - 1) : 1;
    if (shape->isOfType(SoIndexedTriangleStripSet::getClassTypeId())
        || shape->isOfType(SoTriangleStripSet::getClassTypeId()))
        return perPart ? 1 : std::max(0, length - 2);
    if (shape->isOfType(SoIndexedPointSet::getClassTypeId()) || shape->isOfType(SoPointSet::getClassTypeId()))
        return length;
    return 1;
}

bool isIndexedBinding(Binding b) { return b == PerPartIndexed || b == PerFaceIndexed || b == PerVertexIndexed; }

// An index list counts as given when its first entry is one (Coin's rule).
bool listGiven(const SoMFInt32 *list) { return list && list->getNum() > 0 && (*list)[0] >= 0; }

// Marks the runs that would read past an attribute's array.
void markBeyond(const SoNode *shape, const SoMFInt32 &coordIndex, const QVector<Run> &runs,
                const SoMFInt32 *list, Attribute attribute, QVector<bool> *bad)
{
    if (attribute.count < 0 || attribute.binding == Overall)
        return;
    Binding binding = attribute.binding;
    const bool given = listGiven(list);
    // VRML 1.0 binds per vertex through the coordinate indices.
    if (binding == PerVertex && shape->getNodeType() == SoNode::VRML1)
        binding = PerVertexIndexed;
    const bool vrml1Vertex = attribute.binding == PerVertex && binding == PerVertexIndexed;
    const int count = attribute.count;
    int vertex = 0;
    for (int r = 0; r < runs.size(); r++) {
        const Run &run = runs[r];
        const int length = run.end - run.begin;
        bool out = false;
        if (binding == PerVertex) {
            out = vertex + length > count;
        } else if (binding == PerVertexIndexed) {
            for (int p = run.begin; p < run.end && !out; p++) {
                const int v = given && !vrml1Vertex ? (p < list->getNum() ? (*list)[p] : -1) : coordIndex[p];
                out = v < 0 || v >= count;
            }
        } else {
            const int units = unitsOf(shape, length, binding == PerPart || binding == PerPartIndexed);
            if (isIndexedBinding(binding) && given) {
                for (int u = run.unit; u < run.unit + units && !out; u++)
                    out = u >= list->getNum() || (*list)[u] < 0 || (*list)[u] >= count;
            } else {
                out = run.unit + units > count;
            }
        }
        vertex += length;
        if (out)
            (*bad)[r] = true;
    }
}

// The runs of an index list, each ended by a negative entry or the end.
QVector<Run> runsOf(const SoNode *shape, const SoMFInt32 &index, bool perPart)
{
    QVector<Run> runs;
    int begin = -1;
    int unit = 0;
    for (int i = 0; i <= index.getNum(); i++) {
        const bool ends = i == index.getNum() || index[i] < 0;
        if (ends && begin >= 0) {
            runs.append(Run{ begin, i, unit });
            unit += unitsOf(shape, i - begin, perPart);
            begin = -1;
        } else if (!ends && begin < 0) {
            begin = i;
        }
    }
    return runs;
}

// Keeps the entries of a list that belong to the runs kept: positions for
// a list parallel to the coordinate indices, units for a per-part or
// per-face list.
void keepRuns(SoMFInt32 &list, const QVector<Run> &runs, const QVector<bool> &bad, const SoNode *shape,
              bool byUnit, bool perPart)
{
    QVector<int32_t> kept;
    for (int r = 0; r < runs.size(); r++) {
        if (bad[r])
            continue;
        const int from = byUnit ? runs[r].unit : runs[r].begin;
        const int to = byUnit ? from + unitsOf(shape, runs[r].end - runs[r].begin, perPart) : runs[r].end;
        for (int i = from; i < to && i < list.getNum(); i++)
            kept.append(list[i]);
        if (!byUnit)
            kept.append(-1);
    }
    list.setValues(0, kept.size(), kept.constData());
    list.setNum(kept.size());
}

// Points the entries of an index list that go past an array at its
// first entry, as the VRML 97 walk drops colours that do not fit: the
// faces stay. A list that is not given, for which Coin takes the
// coordinate indices or the faces in turn, is written out first. Returns
// whether the list changed.
bool clampList(const SoNode *shape, SoMFInt32 &list, const SoMFInt32 &coordIndex, const QVector<Run> &runs,
               Attribute attribute)
{
    const bool given = listGiven(&list);
    QVector<int32_t> values;
    if (attribute.binding == PerVertexIndexed) {
        values.resize(coordIndex.getNum());
        for (int p = 0; p < coordIndex.getNum(); p++) {
            const int v = !given ? coordIndex[p] : p < list.getNum() ? list[p] : 0;
            values[p] = coordIndex[p] < 0 ? -1 : v < 0 || v >= attribute.count ? 0 : v;
        }
    } else {
        const bool perPart = attribute.binding == PerPartIndexed;
        int units = 0;
        for (const Run &run : runs)
            units += unitsOf(shape, run.end - run.begin, perPart);
        // Coin 4.0.0 reads a per-face list that is not given through a
        // null pointer (SoIndexedFaceSet::generatePrimitives), so one is
        // always written; as long as the coordinate indices, so that a
        // place binding per vertex through it reads within it too.
        values.resize(std::max(units, given ? list.getNum() : coordIndex.getNum()));
        for (int u = 0; u < values.size(); u++) {
            const int v = !given ? (u < units ? u : 0) : u < list.getNum() ? list[u] : 0;
            values[u] = v < 0 || v >= attribute.count ? 0 : v;
        }
    }
    bool same = given && list.getNum() == values.size();
    for (int i = 0; same && i < values.size(); i++)
        same = list[i] == values[i];
    if (same)
        return false;
    if (!given && attribute.binding == PerVertexIndexed) {
        // Coin's own choice is enough when it stays within the array.
        bool within = true;
        for (int i = 0; within && i < values.size(); i++)
            within = values[i] == coordIndex[i];
        if (within)
            return false;
    }
    list.setValues(0, values.size(), values.constData());
    list.setNum(values.size());
    return true;
}

// Returns whether the shape had to change. With clamp, index lists that
// go past their arrays are mended in place; without, the faces that use
// them go, as faces whose coordinates are missing always do.
bool guardIndexedShape(SoIndexedShape *shape, const InForce &in, bool clamp)
{
    SoMFInt32 &coordIndex = shape->coordIndex;
    // The runs as parts, and the same as faces where these differ.
    const bool colourPerPart = in.colours.binding == PerPart || in.colours.binding == PerPartIndexed;
    const bool normalPerPart = in.normals.binding == PerPart || in.normals.binding == PerPartIndexed;
    const bool vrml1 = shape->getNodeType() == SoNode::VRML1;
    // VRML 1.0 binds per vertex through the coordinate indices, which no
    // list can mend.
    auto mendable = [clamp, vrml1](const Attribute &a) {
        return clamp && isIndexedBinding(a.binding) && !(vrml1 && a.binding == PerVertex);
    };
    QVector<Run> runs = runsOf(shape, coordIndex, colourPerPart);
    QVector<Run> normalRuns = runsOf(shape, coordIndex, normalPerPart);
    QVector<bool> bad(runs.size(), false);
    for (int r = 0; r < runs.size(); r++)
        for (int p = runs[r].begin; p < runs[r].end && !bad[r]; p++)
            bad[r] = coordIndex[p] >= in.coordinates;
    bool stray = false;    // entries below -1, which Coin takes for indices
    for (int i = 0; i < coordIndex.getNum(); i++)
        stray = stray || coordIndex[i] < -1;
    if (!mendable(in.colours))
        markBeyond(shape, coordIndex, runs, &shape->materialIndex, in.colours, &bad);
    if (!mendable(in.normals))
        markBeyond(shape, coordIndex, normalRuns, &shape->normalIndex, in.normals, &bad);
    if (!mendable(in.texCoords))
        markBeyond(shape, coordIndex, runs, &shape->textureCoordIndex, in.texCoords, &bad);
    bool changed = false;
    if (stray || bad.contains(true)) {
        struct { SoMFInt32 *list; Binding binding; const QVector<Run> *runs; bool perPart; } lists[] = {
            { &shape->materialIndex, in.colours.binding, &runs, colourPerPart },
            { &shape->normalIndex, in.normals.binding, &normalRuns, normalPerPart },
            { &shape->textureCoordIndex, in.texCoords.binding, &runs, false } };
        for (const auto &entry : lists)
            if (listGiven(entry.list) && isIndexedBinding(entry.binding))
                keepRuns(*entry.list, *entry.runs, bad, shape, entry.binding != PerVertexIndexed, entry.perPart);
        keepRuns(coordIndex, runs, bad, shape, false, false);
        runs = runsOf(shape, coordIndex, colourPerPart);
        normalRuns = runsOf(shape, coordIndex, normalPerPart);
        changed = true;
    }
    if (in.colours.count >= 0 && mendable(in.colours))
        changed = clampList(shape, shape->materialIndex, coordIndex, runs, in.colours) || changed;
    if (in.normals.count >= 0 && mendable(in.normals))
        changed = clampList(shape, shape->normalIndex, coordIndex, normalRuns, in.normals) || changed;
    if (in.texCoords.count >= 0 && mendable(in.texCoords))
        changed = clampList(shape, shape->textureCoordIndex, coordIndex, runs, in.texCoords) || changed;
    return changed;
}

// Non-indexed shapes take consecutive coordinates from startIndex. Returns
// how many vertices, faces and parts the first `faces` faces take.
struct Extent
{
    long long vertices = 0, faces = 0, parts = 0;
};

bool fits(const Extent &e, long long start, const InForce &in)
{
    auto fitsAttribute = [&](const Attribute &a) {
        if (a.count < 0 || a.binding == Overall)
            return true;
        if (a.binding == PerVertex || a.binding == PerVertexIndexed)
            return start + e.vertices <= a.count;    // whether Coin counts from startIndex or from 0
        return (a.binding == PerPart || a.binding == PerPartIndexed ? e.parts : e.faces) <= a.count;
    };
    return start >= 0 && start + e.vertices <= in.coordinates && fitsAttribute(in.colours)
           && fitsAttribute(in.normals) && fitsAttribute(in.texCoords);
}

bool guardNonIndexedShape(SoNonIndexedShape *shape, const InForce &in)
{
    const long long start = shape->startIndex.getValue();
    SoMFInt32 *numVertices = nullptr;
    if (shape->isOfType(SoFaceSet::getClassTypeId()))
        numVertices = &static_cast<SoFaceSet *>(shape)->numVertices;
    else if (shape->isOfType(SoLineSet::getClassTypeId()))
        numVertices = &static_cast<SoLineSet *>(shape)->numVertices;
    else if (shape->isOfType(SoTriangleStripSet::getClassTypeId()))
        numVertices = &static_cast<SoTriangleStripSet *>(shape)->numVertices;
    if (numVertices) {
        // -1 takes the coordinates left.
        Extent e;
        int kept = 0;
        for (; kept < numVertices->getNum(); kept++) {
            long long n = (*numVertices)[kept];
            if (n < 0)
                n = std::max(0LL, in.coordinates - start - e.vertices);
            Extent next = e;
            next.vertices += n;
            next.faces += unitsOf(shape, int(std::min(n, 1LL << 30)), false);
            next.parts += unitsOf(shape, int(std::min(n, 1LL << 30)), true);
            if (!fits(next, start, in))
                break;
            e = next;
        }
        if (kept == numVertices->getNum())
            return false;
        numVertices->setNum(kept);
        return true;
    }
    if (shape->isOfType(SoQuadMesh::getClassTypeId())) {
        SoQuadMesh *mesh = static_cast<SoQuadMesh *>(shape);
        const long long perRow = std::max(0, int(mesh->verticesPerRow.getValue()));
        long long rows = std::max(0, int(mesh->verticesPerColumn.getValue()));
        const long long before = rows;
        auto extent = [perRow](long long rowCount) {
            Extent e;
            e.vertices = perRow * rowCount;
            e.faces = std::max(0LL, perRow - 1) * std::max(0LL, rowCount - 1);
            e.parts = std::max(0LL, rowCount - 1);
            return e;
        };
        if (!fits(extent(rows), start, in)) {
            rows = perRow > 0 ? std::max(0LL, std::min(rows, in.coordinates / perRow)) : 0;
            while (rows > 0 && !fits(extent(rows), start, in))
                rows--;
        }
        if (rows == before && mesh->verticesPerRow.getValue() >= 0 && mesh->verticesPerColumn.getValue() >= 0)
            return false;
        mesh->verticesPerColumn.setValue(int(rows));
        mesh->verticesPerRow.setValue(int(perRow));
        return true;
    }
    if (shape->isOfType(SoPointSet::getClassTypeId())) {
        SoPointSet *set = static_cast<SoPointSet *>(shape);
        long long points = set->numPoints.getValue();
        if (points < 0)
            points = std::max(0LL, in.coordinates - start);
        auto extent = [](long long n) {
            Extent e;
            e.vertices = e.faces = e.parts = n;
            return e;
        };
        if (fits(extent(points), start, in))
            return false;
        while (points > 0 && !fits(extent(points), start, in))
            points = std::min(points - 1, std::max(0LL, in.coordinates - std::max(0LL, start)));
        set->numPoints.setValue(int(points));
        return true;
    }
    return false;
}

// NURBS: Coin reads numControlPoints control points (through coordIndex
// for the indexed kinds) and the last knot without looking, and a curve
// without a point reads before its array. One that cannot be drawn safely
// goes from the scene.
bool indexedWithin(const SoMFInt32 &index, long long needed, int count)
{
    if (index.getNum() < needed)
        return false;
    for (long long i = 0; i < needed; i++)
        if (index[int(i)] < 0 || index[int(i)] >= count)
            return false;
    return true;
}

bool nurbsDrawable(const SoNode *node, const InForce &in)
{
    auto order = [](const SoMFFloat &knots, long long points) {
        return points >= 1 && knots.getNum() >= points + 2;
    };
    if (node->isOfType(SoNurbsCurve::getClassTypeId())) {
        const SoNurbsCurve *c = static_cast<const SoNurbsCurve *>(node);
        const long long n = c->numControlPoints.getValue();
        return order(c->knotVector, n) && n <= in.coordinates;
    }
    if (node->isOfType(SoIndexedNurbsCurve::getClassTypeId())) {
        const SoIndexedNurbsCurve *c = static_cast<const SoIndexedNurbsCurve *>(node);
        const long long n = c->numControlPoints.getValue();
        return order(c->knotVector, n) && indexedWithin(c->coordIndex, n, in.coordinates);
    }
    const bool indexed = node->isOfType(SoIndexedNurbsSurface::getClassTypeId());
    const SoSFInt32 &u = indexed ? static_cast<const SoIndexedNurbsSurface *>(node)->numUControlPoints
                                 : static_cast<const SoNurbsSurface *>(node)->numUControlPoints;
    const SoSFInt32 &v = indexed ? static_cast<const SoIndexedNurbsSurface *>(node)->numVControlPoints
                                 : static_cast<const SoNurbsSurface *>(node)->numVControlPoints;
    const SoMFFloat &uKnots = indexed ? static_cast<const SoIndexedNurbsSurface *>(node)->uKnotVector
                                      : static_cast<const SoNurbsSurface *>(node)->uKnotVector;
    const SoMFFloat &vKnots = indexed ? static_cast<const SoIndexedNurbsSurface *>(node)->vKnotVector
                                      : static_cast<const SoNurbsSurface *>(node)->vKnotVector;
    const SoSFInt32 &s = indexed ? static_cast<const SoIndexedNurbsSurface *>(node)->numSControlPoints
                                 : static_cast<const SoNurbsSurface *>(node)->numSControlPoints;
    const SoSFInt32 &t = indexed ? static_cast<const SoIndexedNurbsSurface *>(node)->numTControlPoints
                                 : static_cast<const SoNurbsSurface *>(node)->numTControlPoints;
    const SoMFFloat &sKnots = indexed ? static_cast<const SoIndexedNurbsSurface *>(node)->sKnotVector
                                      : static_cast<const SoNurbsSurface *>(node)->sKnotVector;
    const SoMFFloat &tKnots = indexed ? static_cast<const SoIndexedNurbsSurface *>(node)->tKnotVector
                                      : static_cast<const SoNurbsSurface *>(node)->tKnotVector;
    const long long points = (long long)u.getValue() * v.getValue();
    if (!order(uKnots, u.getValue()) || !order(vKnots, v.getValue()))
        return false;
    if (indexed ? !indexedWithin(static_cast<const SoIndexedNurbsSurface *>(node)->coordIndex, points, in.coordinates)
                : points > in.coordinates)
        return false;
    // Texture coordinates are read when all four texture counts are set.
    const long long texPoints = (long long)s.getValue() * t.getValue();
    if (s.getValue() == 0 || t.getValue() == 0 || sKnots.getNum() == 0 || tKnots.getNum() == 0 || in.texCoords.count < 0)
        return true;
    if (!order(sKnots, s.getValue()) || !order(tKnots, t.getValue()))
        return false;
    return indexed ? indexedWithin(static_cast<const SoIndexedNurbsSurface *>(node)->textureCoordIndex.getNum() > 0
                                       ? static_cast<const SoIndexedNurbsSurface *>(node)->textureCoordIndex
                                       : static_cast<const SoIndexedNurbsSurface *>(node)->coordIndex,
                                   texPoints, in.texCoords.count)
                   : texPoints <= in.texCoords.count;
}

struct ShapeWalk
{
    bool mend = true;    // mend index lists, or take faces away
    bool changedNow = false;
    QVector<SoNode *> changed;
    QVector<QPair<SoNode *, SoNode *>> undrawable;    // parent, shape
};

// A level of detail shows the child for the distance of the camera, which
// the user moves, and a VRML 97 switch the choice an event sets: every
// child is visited, each in the state the node is met in.
SoCallbackAction::Response visitEveryChild(void *, SoCallbackAction *action, const SoNode *node)
{
    SoChildList *children = const_cast<SoNode *>(node)->getChildren();
    for (int i = 0; children && i < children->getLength(); i++) {
        action->getState()->push();
        children->traverse(action, i);
        action->getState()->pop();
    }
    return SoCallbackAction::PRUNE;
}

SoCallbackAction::Response checkShape(void *data, SoCallbackAction *action, const SoNode *node)
{
    ShapeWalk *walk = static_cast<ShapeWalk *>(data);
    SoNode *shape = const_cast<SoNode *>(node);
    if (!isInventorShape(shape))
        return SoCallbackAction::CONTINUE;
    const InForce in = inForce(action, shape);
    bool changed = false;
    if (shape->isOfType(SoIndexedShape::getClassTypeId())) {
        changed = guardIndexedShape(static_cast<SoIndexedShape *>(shape), in, walk->mend);
    } else if (shape->isOfType(SoNonIndexedShape::getClassTypeId())) {
        changed = guardNonIndexedShape(static_cast<SoNonIndexedShape *>(shape), in);
    } else if (!nurbsDrawable(shape, in)) {
        const SoFullPath *path = static_cast<const SoFullPath *>(action->getCurPath());
        const auto place = qMakePair(path->getLength() > 1 ? path->getNodeFromTail(1) : nullptr, shape);
        // Taken out when the walks are over.
        changed = !walk->undrawable.contains(place);
        if (changed)
            walk->undrawable.append(place);
    }
    walk->changedNow = walk->changedNow || changed;
    if (changed && !walk->changed.contains(shape))
        walk->changed.append(shape);
    return SoCallbackAction::CONTINUE;
}

void guardInventorShapes(SoNode *root, ReadAccount *account)
{
    ShapeWalk walk;
    SoCallbackAction action;
    action.setCallbackAll(TRUE);
    action.addPreCallback(SoShape::getClassTypeId(), checkShape, &walk);
    for (SoType type : { SoLOD::getClassTypeId(), SoLevelOfDetail::getClassTypeId(),
                         SoVRMLLOD::getClassTypeId(), SoVRMLSwitch::getClassTypeId() })
        action.addPreCallback(type, visitEveryChild, nullptr);
    action.apply(root);
    // A list mended for one place may not fit another place the shape is
    // drawn in: later walks only take faces away, which keeps every place
    // that was safe safe, until nothing changes.
    walk.mend = false;
    for (int pass = 0; walk.changedNow && pass < 8; pass++) {
        walk.changedNow = false;
        action.apply(root);
    }
    if (walk.changedNow)
        for (SoNode *shape : walk.changed)
            if (shape->isOfType(SoIndexedShape::getClassTypeId()))
                static_cast<SoIndexedShape *>(shape)->coordIndex.setNum(0);
    if (account)
        for (SoNode *shape : walk.changed)
            account->add(LeftOut::UnusableGeometryData, QString::fromUtf8(shape->getTypeId().getName().getString()));
    for (const auto &place : walk.undrawable) {
        if (!place.first || !place.first->isOfType(SoGroup::getClassTypeId()))
            continue;
        SoGroup *parent = static_cast<SoGroup *>(place.first);
        for (int i = parent->getNumChildren() - 1; i >= 0; i--)
            if (parent->getChild(i) == place.second)
                parent->removeChild(i);
    }
}

// One way from a node to another: a child of a group, or a node field.
struct Edge
{
    SoNode *from;
    SoNode *to;
    SoField *field;    // null for a child of a group's child list
    int index;
};

void edgesOf(SoNode *node, QVector<Edge> *edges)
{
    edges->clear();
    // A VRML 97 group's child list mirrors its children (or choice, or
    // level) field, which the field walk below covers.
    const bool vrmlType = strncmp(node->getTypeId().getName().getString(), "VRML", 4) == 0;
    if (!vrmlType && node->isOfType(SoGroup::getClassTypeId())) {
        SoChildList *children = node->getChildren();
        for (int i = 0; children && i < children->getLength(); i++)
            edges->append(Edge{ node, (*children)[i], nullptr, i });
    }
    SoFieldList fields;
    node->getFields(fields);
    for (int f = 0; f < fields.getLength(); f++) {
        SoField *field = fields[f];
        if (field->isOfType(SoSFNode::getClassTypeId())) {
            SoNode *value = static_cast<SoSFNode *>(field)->getValue();
            if (value)
                edges->append(Edge{ node, value, field, 0 });
        } else if (field->isOfType(SoMFNode::getClassTypeId())) {
            SoMFNode *list = static_cast<SoMFNode *>(field);
            for (int i = 0; i < list->getNum(); i++)
                if ((*list)[i])
                    edges->append(Edge{ node, (*list)[i], field, i });
        }
    }
}

// Takes in now what node and the nodes below it get through connections.
void holdValues(SoNode *node)
{
    QVector<SoNode *> stack{ node };
    QSet<SoNode *> seen;
    QVector<Edge> edges;
    while (!stack.isEmpty()) {
        SoNode *at = stack.takeLast();
        if (seen.contains(at))
            continue;
        seen.insert(at);
        SoFieldList fields;
        at->getFields(fields);
        for (int f = 0; f < fields.getLength(); f++)
            if (fields[f]->isConnected())
                fields[f]->evaluate();
        edgesOf(at, &edges);
        for (const Edge &edge : edges)
            stack.append(edge.to);
    }
}

void cutEdge(const Edge &edge)
{
    if (!edge.field) {
        static_cast<SoGroup *>(edge.from)->removeChild(edge.index);
    } else if (edge.field->isOfType(SoSFNode::getClassTypeId())) {
        static_cast<SoSFNode *>(edge.field)->setValue(nullptr);
    } else {
        static_cast<SoMFNode *>(edge.field)->deleteValues(edge.index, 1);
    }
}

} // namespace

void guardScene(SoNode *root, ReadAccount *account)
{
    if (!root)
        return;
    struct Frame
    {
        SoNode *node;
        QVector<Edge> edges;
        int next;
    };
    // Depth first, without recursion: the graph may be deep.
    SoNodeList held;
    QList<SoNode *> instances; // PROTO instances whose first node went into a field
    QSet<SoNode *> visited;
    QSet<SoNode *> onPath;
    QVector<Edge> toCut;
    QVector<Frame> stack;
    stack.append(Frame{ root, {}, 0 });
    edgesOf(root, &stack.last().edges);
    visited.insert(root);
    onPath.insert(root);
    guardGeometry(root, account);
    bool inventorShapes = isInventorShape(root);
    while (!stack.isEmpty()) {
        Frame &frame = stack.last();
        if (frame.next >= frame.edges.size()) {
            onPath.remove(frame.node);
            stack.removeLast();
            continue;
        }
        const Edge edge = frame.edges[frame.next++];
        if (onPath.contains(edge.to)) {
            toCut.append(edge);
            if (account)
                account->add(LeftOut::Cycle, QString::fromUtf8(edge.to->getName().getString()));
            continue;
        }
        if (edge.field && edge.from->isOfType(SoVertexShape::getClassTypeId())
            && edge.field == edge.from->getField("vertexProperty")
            && !edge.to->isOfType(SoVertexProperty::getClassTypeId())) {
            // Coin applies whatever node this holds as its shape's arrays.
            toCut.append(edge);
            if (account)
                account->add(LeftOut::WrongNodeType,
                             QString::fromUtf8(edge.to->getTypeId().getName().getString()));
            continue;
        }
        if (edge.field && isVrml97(edge.from) && edge.field->isOfType(SoSFNode::getClassTypeId())) {
            SbName fieldName;
            edge.from->getFieldName(edge.field, fieldName);
            if (!fitsField(fieldName, edge.to)) {
                // Coin gives a PROTO instance whose body holds several
                // nodes as a plain group; VRML 97 makes the first of them
                // the instance.
                SoNode *first = edge.to->getTypeId() == SoGroup::getClassTypeId()
                                        && static_cast<SoGroup *>(edge.to)->getNumChildren() > 0
                                    ? static_cast<SoGroup *>(edge.to)->getChild(0)
                                    : nullptr;
                if (first && fitsField(fieldName, first) && !onPath.contains(first)) {
                    // Held to the end of the walk: nodes met earlier may
                    // still point into the group.
                    held.append(edge.to);
                    if (!instances.contains(edge.to))
                        instances.append(edge.to);
                    static_cast<SoSFNode *>(edge.field)->setValue(first);
                    frame.edges[frame.next - 1].to = first;
                    frame.next--;
                    continue;
                }
                toCut.append(edge);
                if (account) {
                    QString type = QString::fromUtf8(edge.to->getTypeId().getName().getString());
                    if (type.startsWith("VRML"))
                        type.remove(0, 4);
                    account->add(LeftOut::WrongNodeType, type);
                }
                continue;
            }
        }
        if (visited.contains(edge.to))
            continue;
        visited.insert(edge.to);
        onPath.insert(edge.to);
        guardGeometry(edge.to, account);
        inventorShapes = inventorShapes || isInventorShape(edge.to);
        Frame child{ edge.to, {}, 0 };
        edgesOf(edge.to, &child.edges);
        stack.append(child);
    }
    // Later entries of one list first, so earlier indices stay right.
    std::sort(toCut.begin(), toCut.end(), [](const Edge &a, const Edge &b) {
        return a.from != b.from ? a.from < b.from
                                : a.field != b.field ? a.field < b.field : a.index > b.index;
    });
    for (const Edge &edge : toCut)
        cutEdge(edge);
    // The other nodes of such an instance are not drawn, but live on: a
    // Script that builds the first one, a sensor, their routes. They are
    // kept in a Switch that shows none of its choices, at the end of the
    // root, where scripts are found.
    if (!instances.isEmpty() && root->isOfType(SoGroup::getClassTypeId())) {
        auto *keeper = new SoVRMLSwitch;
        QSet<SoNode *> kept;
        for (SoNode *node : instances) {
            SoGroup *instance = static_cast<SoGroup *>(node);
            for (int i = 1; i < instance->getNumChildren(); i++) {
                SoNode *other = instance->getChild(i);
                if (other->isOfType(SoProto::getClassTypeId()) || kept.contains(other))
                    continue;
                kept.insert(other);
                // The instance goes with the group once nothing else holds
                // it, and the fields it gave its nodes (IS) are cut from
                // them then: they keep the values they have now.
                holdValues(other);
                keeper->addChoice(other);
            }
        }
        static_cast<SoGroup *>(root)->addChild(keeper);
        guardScene(keeper, account);
    }
    // Only scenes with Inventor or VRML 1.0 shapes pay for a second walk.
    if (inventorShapes)
        guardInventorShapes(root, account);
}
