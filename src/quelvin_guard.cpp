#include "quelvin_guard.h"

#include "quelvin_tolerant.h"

#include <Inventor/SoType.h>
#include <Inventor/fields/SoFieldData.h>
#include <Inventor/fields/SoMFNode.h>
#include <Inventor/fields/SoSFNode.h>
#include <Inventor/lists/SoFieldList.h>
#include <Inventor/lists/SoNodeList.h>
#include <Inventor/misc/SoChildList.h>
#include <Inventor/nodes/SoGroup.h>
#include <Inventor/nodes/SoSwitch.h>
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
    QSet<SoNode *> visited;
    QSet<SoNode *> onPath;
    QVector<Edge> toCut;
    QVector<Frame> stack;
    stack.append(Frame{ root, {}, 0 });
    edgesOf(root, &stack.last().edges);
    visited.insert(root);
    onPath.insert(root);
    guardGeometry(root, account);
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
}
