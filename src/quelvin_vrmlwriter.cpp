#include "quelvin_vrmlwriter.h"

#include <Inventor/SoOutput.h>
#include <Inventor/actions/SoWriteAction.h>
#include <Inventor/engines/SoEngineOutput.h>
#include <Inventor/engines/SoNodeEngine.h>
#include <Inventor/fields/SoFieldData.h>
#include <Inventor/lists/SoFieldList.h>
#include <Inventor/fields/SoMFNode.h>
#include <Inventor/fields/SoSFNode.h>
#include <Inventor/misc/SoProto.h>
#include <Inventor/misc/SoProtoInstance.h>
#include <Inventor/nodes/SoGroup.h>
#include <Inventor/VRMLnodes/SoVRMLScript.h>

#include <QHash>
#include <QList>
#include <QSet>

#include <cstdlib>

// Coin's own writer is not used for VRML 97 scenes: it writes an Inventor
// Separator around the scene, names shared nodes "_+0" and so on, and
// Coin 4.0.0 crashes in SoWriteAction -> SoProto::writeDefinition ->
// SoOutput::removeDEFNode on a PROTO whose body uses another PROTO. So the
// scene is walked here, and a PROTO instance is written as the nodes Coin
// expanded it into (the declarations themselves are left out: every use of
// them is written out in full).

namespace {

const char *const kVrmlPrefix = "VRML";

bool isVrml97Node(const SoNode *node)
{
    return qstrncmp(node->getTypeId().getName().getString(), kVrmlPrefix, 4) == 0;
}

// VRML 97 identifiers: no leading digit, sign or dot, none of the
// characters the grammar reserves anywhere, and no keyword.
bool isValidId(const QByteArray &id)
{
    static const QSet<QByteArray> keywords{"DEF", "USE", "PROTO", "EXTERNPROTO", "IS", "ROUTE", "TO",
                                           "TRUE", "FALSE", "NULL", "field", "exposedField",
                                           "eventIn", "eventOut", "Script"};
    if (id.isEmpty() || keywords.contains(id))
        return false;
    const char first = id[0];
    if ((first >= '0' && first <= '9') || first == '+' || first == '-')
        return false;
    for (const char c : id) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7f || QByteArray("\"#',.[\\]{}").contains(c))
            return false;
    }
    return true;
}

// A field of a body node that takes its value from the PROTO instance
// (an IS in the declaration) carries the instance's value only once
// evaluated; any other connection (a ROUTE) is not followed, so that what
// is written is the scene as read, not one moment of its animation.
bool isProtoInterfaceField(const SoField *field)
{
    SoField *master = nullptr;
    return field->isConnected() && field->getConnectedField(master) && master
           && master->getContainer()
           && master->getContainer()->isOfType(SoProtoInstance::getClassTypeId());
}

QByteArray fieldText(SoField *field)
{
    SbString text;
    if (field->isConnected() && !isProtoInterfaceField(field)) {
        const SbBool enabled = field->isConnectionEnabled();
        field->enableConnection(FALSE);
        field->get(text);
        field->enableConnection(enabled);
    } else {
        field->get(text);
    }
    return QByteArray(text.getString());
}

class VrmlWriter
{
public:
    QByteArray write(SoNode *root);

private:
    void countUses(SoNode *node);
    void collectNodes(SoNode *node, QList<SoNode *> &nodes) const;
    void writeNode(SoNode *node);
    void writeGroupChildren(SoGroup *group);
    void writeFields(SoNode *node);
    void writeNodeValue(SoNode *node);
    void line(const QByteArray &text) { out += QByteArray(indent * 2, ' ') + text + '\n'; }
    QByteArray defName(SoNode *node);
    void collectRoutes(SoNode *node);
    void writeRoutes();

    // A ROUTE as Coin keeps it: a connection from one node's field to another's.
    struct Route
    {
        SoNode *from;
        QByteArray fromField;
        SoNode *to;
        QByteArray toField;
    };
    QList<Route> routes;
    QSet<SoNode *> routeEnds;

    QByteArray out;
    int indent = 0;
    bool anyVrml97 = false;
    QHash<SoNode *, int> uses;
    QHash<SoNode *, QByteArray> names;
    QSet<QByteArray> takenNames;
    QSet<SoNode *> written;
    int generated = 0;
};

// The nodes a node leads to, in writing order.
void VrmlWriter::collectNodes(SoNode *node, QList<SoNode *> &nodes) const
{
    if (!isVrml97Node(node)) {
        if (node->isOfType(SoGroup::getClassTypeId())) {
            SoGroup *group = static_cast<SoGroup *>(node);
            for (int i = 0; i < group->getNumChildren(); i++)
                nodes << group->getChild(i);
        }
        return;
    }
    const SoFieldData *data = node->getFieldData();
    for (int i = 0; data && i < data->getNumFields(); i++) {
        SoField *field = data->getField(node, i);
        if (field->isOfType(SoSFNode::getClassTypeId())) {
            if (SoNode *child = static_cast<SoSFNode *>(field)->getValue())
                nodes << child;
        } else if (field->isOfType(SoMFNode::getClassTypeId())) {
            SoMFNode *list = static_cast<SoMFNode *>(field);
            for (int j = 0; j < list->getNum(); j++)
                if ((*list)[j])
                    nodes << (*list)[j];
        }
    }
}

void VrmlWriter::countUses(SoNode *node)
{
    if (node->isOfType(SoProto::getClassTypeId()))
        return;
    anyVrml97 = anyVrml97 || isVrml97Node(node);
    if (uses[node]++ > 0)
        return;   // a node met again (or inside itself) is written once and then used
    collectRoutes(node);
    QList<SoNode *> nodes;
    collectNodes(node, nodes);
    for (SoNode *child : nodes)
        countUses(child);
}

void VrmlWriter::collectRoutes(SoNode *node)
{
    if (!isVrml97Node(node))
        return;
    const SoFieldData *data = node->getFieldData();
    for (int i = 0; data && i < data->getNumFields(); i++) {
        SoField *field = data->getField(node, i);
        SoFieldList masters;
        const int count = field->isConnectedFromField() ? field->getConnections(masters) : 0;
        for (int j = 0; j < count; j++) {
            SoFieldContainer *container = masters[j]->getContainer();
            SbName masterName;
            if (!container || !container->isOfType(SoNode::getClassTypeId())
                || container->isOfType(SoProtoInstance::getClassTypeId())
                || !container->getFieldName(masters[j], masterName))
                continue;
            SoNode *from = static_cast<SoNode *>(container);
            routes << Route{from, QByteArray(masterName.getString()), node,
                            QByteArray(data->getFieldName(i).getString())};
            routeEnds << from << node;
        }
        // Coin's time sensors and interpolators are node engines: a ROUTE
        // from one of their eventOuts is an engine connection.
        SoEngineOutput *output = nullptr;
        SbName outputName;
        if (field->isConnectedFromEngine() && field->getConnectedEngine(output) && output
            && output->getNodeContainer() && output->getNodeContainer()->getOutputName(output, outputName)) {
            SoNode *from = output->getNodeContainer();
            routes << Route{from, QByteArray(outputName.getString()), node,
                            QByteArray(data->getFieldName(i).getString())};
            routeEnds << from << node;
        }
    }
}

// Routes between nodes that were both written; the rest led into parts of
// the scene that are not part of the document (a PROTO's interface).
void VrmlWriter::writeRoutes()
{
    for (const Route &route : routes) {
        if (!names.contains(route.from) || !names.contains(route.to))
            continue;
        // Coin takes an eventIn of a plain field (Extrusion's set_spine)
        // into the field itself; VRML 97 routes only to the eventIn.
        QByteArray toField = route.toField;
        SoField *target = route.to->getField(SbName(toField.constData()));
        if (target && target->getFieldType() == SoField::NORMAL_FIELD)
            toField.prepend("set_");
        line("ROUTE " + names.value(route.from) + "." + route.fromField + " TO "
             + names.value(route.to) + "." + toField);
    }
}

// Nodes the author named keep their name where it is a valid and unused
// identifier; shared nodes without one get a made-up name.
QByteArray VrmlWriter::defName(SoNode *node)
{
    QByteArray name(node->getName().getString());
    if (!isValidId(name) || takenNames.contains(name)) {
        const QByteArray stem = isValidId(name) ? name + "_" : QByteArray("N");
        do
            name = stem + QByteArray::number(++generated);
        while (takenNames.contains(name));
    }
    takenNames.insert(name);
    return name;
}

void VrmlWriter::writeNodeValue(SoNode *node)
{
    if (written.contains(node) && names.contains(node)) {
        line("USE " + names.value(node));
        return;
    }
    writeNode(node);
}

void VrmlWriter::writeGroupChildren(SoGroup *group)
{
    for (int i = 0; i < group->getNumChildren(); i++) {
        SoNode *child = group->getChild(i);
        if (!child->isOfType(SoProto::getClassTypeId()))
            writeNodeValue(child);
    }
}

void VrmlWriter::writeNode(SoNode *node)
{
    if (!isVrml97Node(node)) {
        // Inventor grouping (a PROTO body of several nodes, a wrapper of
        // Coin's) becomes a Group; any other Inventor node has no VRML 97
        // form and is left out.
        if (!node->isOfType(SoGroup::getClassTypeId()))
            return;
        written.insert(node);
        line("Group {");
        ++indent;
        line("children [");
        ++indent;
        writeGroupChildren(static_cast<SoGroup *>(node));
        --indent;
        line("]");
        --indent;
        line("}");
        return;
    }
    QByteArray head(node->getTypeId().getName().getString() + 4);
    const bool named = QByteArray(node->getName().getString()).size() > 0;
    if (uses.value(node) > 1 || named || routeEnds.contains(node)) {
        names.insert(node, defName(node));
        head = "DEF " + names.value(node) + " " + head;
    }
    written.insert(node);
    line(head + " {");
    ++indent;
    writeFields(node);
    --indent;
    line("}");
}

void VrmlWriter::writeFields(SoNode *node)
{
    const bool script = node->isOfType(SoVRMLScript::getClassTypeId());
    static const QSet<QByteArray> scriptOwnFields{"url", "directOutput", "mustEvaluate"};
    const SoFieldData *data = node->getFieldData();
    for (int i = 0; data && i < data->getNumFields(); i++) {
        SoField *field = data->getField(node, i);
        const QByteArray name(data->getFieldName(i).getString());
        QByteArray prefix = name + " ";
        const int kind = field->getFieldType();
        if (script && !scriptOwnFields.contains(name)) {
            // A script's interface is declared where it is written.
            const QByteArray type(field->getTypeId().getName().getString());
            if (kind == SoField::EVENTIN_FIELD || kind == SoField::EVENTOUT_FIELD) {
                line((kind == SoField::EVENTIN_FIELD ? "eventIn " : "eventOut ") + type + " " + name);
                continue;
            }
            prefix = "field " + type + " " + name + " ";
        } else if (kind != SoField::NORMAL_FIELD && kind != SoField::EXPOSED_FIELD) {
            continue;
        }
        const bool declared = prefix.startsWith("field ");
        if (field->isOfType(SoSFNode::getClassTypeId())) {
            SoNode *value = static_cast<SoSFNode *>(field)->getValue();
            if (!value) {
                if (declared || !field->isDefault())
                    line(prefix + "NULL");
                continue;
            }
            line(prefix.trimmed());
            ++indent;
            writeNodeValue(value);
            --indent;
        } else if (field->isOfType(SoMFNode::getClassTypeId())) {
            SoMFNode *list = static_cast<SoMFNode *>(field);
            if (list->getNum() == 0 && !declared)
                continue;
            line(prefix + "[");
            ++indent;
            for (int j = 0; j < list->getNum(); j++)
                if ((*list)[j])
                    writeNodeValue((*list)[j]);
            --indent;
            line("]");
        } else if (declared || !field->isDefault() || isProtoInterfaceField(field)) {
            line(prefix + fieldText(field));
        }
    }
}

QByteArray VrmlWriter::write(SoNode *root)
{
    countUses(root);
    if (!anyVrml97 && root->isOfType(SoGroup::getClassTypeId())
        && static_cast<SoGroup *>(root)->getNumChildren() > 0) {
        // A VRML 1.0 scene is Inventor nodes throughout, which VRML 97 has
        // no words for; it goes back out in its own format, for which
        // Coin's writer is sound (VRML 1.0 has no PROTO).
        SoOutput output;
        output.setBuffer(malloc(65536), 65536, realloc);
        output.setHeaderString("#VRML V1.0 ascii");
        SoGroup *group = static_cast<SoGroup *>(root);
        SoWriteAction writer(&output);
        for (int i = 0; i < group->getNumChildren(); i++)
            writer.apply(group->getChild(i));
        void *buffer = nullptr;
        size_t size = 0;
        output.getBuffer(buffer, size);
        QByteArray text(static_cast<const char *>(buffer), int(size));
        free(buffer);
        return text;
    }
    out = "#VRML V2.0 utf8\n\n";
    // The root Coin reads a file into is its own Separator, not part of
    // the document.
    if (!isVrml97Node(root) && root->isOfType(SoGroup::getClassTypeId()))
        writeGroupChildren(static_cast<SoGroup *>(root));
    else
        writeNodeValue(root);
    writeRoutes();
    return out;
}

} // namespace

QByteArray sceneAsVrml(SoNode *root)
{
    if (!root)
        return QByteArray();
    root->ref();
    VrmlWriter writer;
    const QByteArray text = writer.write(root);
    root->unrefNoDelete();
    return text;
}
