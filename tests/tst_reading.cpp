// The reading road called directly, as contracts: the tolerant pass (text in,
// text out, what it left out), the guard walk (a scene Coin read as it
// stands, what is kept and what is cut), the reader's own checks, and the
// writer (scene, text, the same scene again).

#include "harness.h"
#include "quelvin_guard.h"
#include "quelvin_reader.h"
#include "quelvin_tolerant.h"
#include "quelvin_vrmlwriter.h"

#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/nodes/SoSeparator.h>

#include <QtTest>

namespace {

// Text as the rows show it: blanks run together, the scratch folder named DIR.
QString shown(const QByteArray &text, const QString &dir)
{
    QString out = QString::fromUtf8(text).simplified();
    if (!dir.isEmpty())
        out.replace(QUrl::fromLocalFile(dir).toString(QUrl::FullyEncoded), "DIR");
    // Rows without a header of their own show none.
    return out.remove(QRegularExpression("^#VRML V2.0 utf8 ?"));
}

// A row's text is VRML 97 after the usual header unless it has its own.
QByteArray document(const char *text)
{
    const QByteArray body(text);
    return body.startsWith('#') || body.startsWith('<') || body.startsWith("\xEF\xBB\xBF") ? body
                                                                                           : "#VRML V2.0 utf8\n" + body;
}

SoSeparator *coinRead(const QByteArray &text)
{
    SoInput in;
    in.setBuffer(text.constData(), size_t(text.size()));
    return SoDB::readAll(&in);
}

} // namespace

class TestReading : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase();
    void tolerant_data();
    void tolerant();
    void guard_data();
    void guard();
    void writer_data();
    void writer();
    void reader();
};

void TestReading::initTestCase()
{
    SoDB::init();
    // A library of several PROTOs, for the EXTERNPROTO rows.
    QVERIFY(harness::writeBytes(dir.filePath("protos.wrl"),
                                "#VRML V2.0 utf8\nPROTO A [ field SFFloat r 1 ] { Sphere { radius IS r } }\n"
                                "PROTO B [ field SFFloat r 1 ] { Box {} }\nPROTO C [ ] { Cone {} }\n"));
}

void TestReading::tolerant_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("cleaned"); // null: refused
    QTest::addColumn<QString>("leftOut");
    // clang-format off
    struct Row { const char *name, *input, *cleaned, *leftOut; };
    for (const Row &row : std::initializer_list<Row>{
        // Unknown fields, each shape of value taken out whole; past six, the names end in "...".
        {"unknown fields, every shape of value", "Shape { a 1 2.5 -3 b \"a b\" \"c\" c [ 1 2, 3 [ 4 ] \"]\" ] d Box { size 1 1 1 } e TRUE f NONE g [ Box {} Cone {} ] geometry Sphere {} }",
         "Shape { geometry Sphere {} }", "left out: 7 unknown fields (a, b, c, d, e, f, ...)"},
        {"unknown field, DEF node", "Shape { foo DEF X Box {} geometry USE X }", "Shape { geometry NULL }", "left out: 1 unknown field (foo), 1 broken reference (X)"},
        {"unknown field, USE", "DEF X Box {} Shape { foo USE X geometry Sphere {} }", "DEF X Box {} Shape { geometry Sphere {} }", "left out: 1 unknown field (foo)"},
        {"field given twice", "Sphere { radius 2 radius 3 }", "Sphere { radius 2 }", "left out: 1 repeated field (radius)"},
        // Values of the wrong shape for the field's kind.
        {"number field given a word", "Sphere { radius big }", "Sphere { }", "left out: 1 unusable field value (radius)"},
        {"node field given a number", "Shape { geometry 3 appearance Appearance {} }", "Shape { appearance Appearance {} }", "left out: 1 unusable field value (geometry)"},
        {"node list with a stray number", "Group { children [ Shape {} 7 Shape {} ] }", "Group { children [ Shape {} Shape {} ] }", "left out: 1 stray token (7)"},
        {"enum field", "FontStyle { family \"SANS\" justify [ \"BEGIN\" ] style \"BOLD\" }", "FontStyle { family \"SANS\" justify [ \"BEGIN\" ] style \"BOLD\" }", ""},
        {"image within its data", "PixelTexture { image 2 1 1 0xFF 0x00 }", "PixelTexture { image 2 1 1 0xFF 0x00 }", ""},
        {"image claiming more than its data", "PixelTexture { image 2 2 1 0xFF 0x00 }", "PixelTexture { image 0 0 0 }", "left out: 1 unusable image"},
        {"image of five components", "PixelTexture { image 1 1 5 0 }", "PixelTexture { image 0 0 0 }", "left out: 1 unusable image"},
        {"unknown node", "Shape { geometry Disk2D {} } Ghost { a 1 } Box {}", "Shape { geometry NULL } Box {}", "left out: 2 unknown nodes (Disk2D, Ghost)"},
        {"word without a body", "Group { children [ Thing ] }", "Group { children [ ] }", "left out: 1 unknown node (Thing)"},
        {"stray tokens", "} Box {} ] 12", "Box {}", "left out: 3 stray tokens (}, ], 12)"},
        // X3D's statements.
        {"X3D statements", "PROFILE Immersive COMPONENT Geospatial:1 META \"author\" \"x\" UNIT length metre 1 IMPORT I.Thing AS T DEF A Box {} EXPORT A AS B",
         "DEF A Box {}", "left out: 6 X3D statements (PROFILE, COMPONENT, META, UNIT, IMPORT, EXPORT)"},
        {"X3D interface words", "PROTO P [ inputOutput SFFloat a 1 initializeOnly SFInt32 b 0 inputOnly SFBool c "
                                "outputOnly SFBool d ] { Group {} } P {}", "PROTO P [ exposedField SFFloat a 1 field SFInt32 b 0 eventIn SFBool c eventOut SFBool d ] { Group {} } P {}", ""},
        // Headers.
        {"VRML 97 header", "#VRML V2.0 utf8\nBox {}", "Box {}", ""},
        {"header without utf8", "#VRML V2.0\nBox {}", "Box {}", ""},
        {"header after a byte-order mark", "\xEF\xBB\xBF#VRML V2.0 utf8\nBox {}", "Box {}", ""},
        {"X3D header", "#X3D V3.0 utf8\nBox {}", "Box {}", ""},
        {"VRML 3 header", "#VRML V3.0 utf8\nBox {}", "Box {}", ""},
        {"VRML 1.0 header", "#VRML V1.0 ascii\nCube {}", "#VRML V1.0 ascii Cube {}", ""},
        {"Inventor", "#Inventor V2.1 ascii\nSeparator { Cube {} }", "#Inventor V2.1 ascii Separator { Cube {} }", ""},
        {"no scene", "<html><body>Not found</body></html>", nullptr, ""},
        // PROTO and EXTERNPROTO.
        {"PROTO used", "PROTO P [ field SFFloat r 1 ] { Sphere { radius IS r } } P { r 2 }", "PROTO P [ field SFFloat r 1 ] { Sphere { radius IS r } } P { r 2 }", ""},
        {"PROTO field not declared", "PROTO P [ field SFFloat r 1 ] { Box {} } P { q 2 }", "PROTO P [ field SFFloat r 1 ] { Box {} } P { }", "left out: 1 unknown field (q)"},
        {"PROTO redefined: the first stays", "PROTO P [ field SFFloat r 1 ] { Box {} } PROTO P [ field SFInt32 n 1 ] "
                                             "{ Box {} } P { r 2 n 3 }", "PROTO P [ field SFFloat r 1 ] { Box {} } PROTO P [ field SFInt32 n 1 ] { Box {} } P { r 2 }", "left out: 1 unknown field (n)"},
        {"PROTO of no node", "PROTO P [ ] { PROTO Q [ ] { Box {} } } P {}", "PROTO P [ ] { PROTO Q [ ] { Box {} } Group { } } P {}", ""},
        {"PROTO using itself", "PROTO P [ ] { Group { children P {} } } P {}", "PROTO P [ ] { Group { children [] } } P {}", "left out: 1 unknown node (P)"},
        {"EXTERNPROTO by its own name", "EXTERNPROTO B [ field SFFloat r ] \"protos.wrl\" B { r 2 }", "EXTERNPROTO B [ field SFFloat r ] \"DIR/protos.wrl#B\" B { r 2 }", ""},
        {"EXTERNPROTO by #name", "EXTERNPROTO X [ ] \"protos.wrl#C\" X {}", "EXTERNPROTO X [ ] \"DIR/protos.wrl#C\" X {}", ""},
        {"EXTERNPROTO of a name the file lacks", "EXTERNPROTO Z [ ] \"protos.wrl\" Z {}", "EXTERNPROTO Z [ ] \"DIR/protos.wrl#A\" Z {}", ""},
        {"EXTERNPROTO #name the file lacks", "EXTERNPROTO Q [ field SFFloat r ] \"protos.wrl#Nope\" Q {}", "PROTO Q [ field SFFloat r 0 ] { Group {} } Q {}", "left out: 1 unresolved EXTERNPROTO (Q)"},
        {"EXTERNPROTO after a urn", "EXTERNPROTO C [ ] [ \"urn:x:c\" \"protos.wrl\" ] C {}", "EXTERNPROTO C [ ] \"DIR/protos.wrl#C\" C {}", ""},
        {"EXTERNPROTO on the network", "EXTERNPROTO N [ exposedField MFNode kids ] \"http://127.0.0.1/n.wrl\" N {}",
         "PROTO N [ exposedField MFNode kids [] ] { Group {} } N {}", "left out: 1 unresolved EXTERNPROTO (N)"},
        // IS.
        {"IS of an undeclared field", "PROTO P [ ] { Sphere { radius IS r } } P {}", "PROTO P [ ] { Sphere { } } P {}", "left out: 1 unknown field (radius)"},
        {"IS of another type", "PROTO P [ field SFInt32 r 1 ] { Sphere { radius IS r } } P {}", "PROTO P [ field SFInt32 r 1 ] { Sphere { } } P {}", "left out: 1 unknown field (radius)"},
        {"IS outside a PROTO", "Sphere { radius IS r }", "Sphere { }", "left out: 1 unknown field (radius)"},
        // ROUTE.
        {"ROUTE between nodes", "DEF T TimeSensor {} DEF I PositionInterpolator {} "
                                "ROUTE T.fraction_changed TO I.set_fraction", "DEF T TimeSensor {} DEF I PositionInterpolator {} ROUTE T.fraction_changed TO I.set_fraction", ""},
        {"ROUTE to a node never named", "DEF T TimeSensor {} ROUTE T.fraction_changed TO I.set_fraction", "DEF T TimeSensor {}", "left out: 1 ROUTE (I)"},
        {"ROUTE inside the node it names", "DEF G Group { children [ DEF T TimeSensor {} ROUTE T.isActive TO "
                                           "G.set_bboxSize ] }", "DEF G Group { children [ DEF T TimeSensor {} ] }", "left out: 1 ROUTE (G)"},
        // Scripts run, and what they send is guarded: their routes stay.
        {"ROUTE from a Script into coordinates", "DEF S Script { eventOut MFVec3f p } DEF C Coordinate {} "
                                                 "ROUTE S.p TO C.set_point", "DEF S Script { eventOut MFVec3f p } DEF C Coordinate {} "
                                                 "ROUTE S.p TO C.set_point", ""},
        {"ROUTE cut short", "ROUTE A.b", "", "left out: 1 ROUTE, 1 unknown node (A.b)"},
        // DEF and USE after cuts.
        {"USE of a DEF inside a cut node", "Ghost { c DEF B Box {} } Shape { geometry USE B }", "Shape { geometry NULL }", "left out: 1 unknown node (Ghost), 1 broken reference (B)"},
        {"USE in a node list", "Ghost { c DEF B Box {} } Group { children [ USE B Shape {} ] }", "Group { children [ Shape {} ] }", "left out: 1 unknown node (Ghost), 1 broken reference (B)"},
        {"USE of a node from its own inside", "DEF A Transform { children [ USE A ] }", "DEF A Transform { children [ ] }", "left out: 1 broken reference (A)"},
        {"USE of a name never defined", "Group { children USE Z }", "Group { children [] }", "left out: 1 broken reference (Z)"},
        // VRML 1.0.
        {"VRML 1.0 string ending in a backslash", "#VRML V1.0 ascii\nInfo { string \"C:\\models\\\" \n} Cube {}", "#VRML V1.0 ascii Info { string \"C:\\models\" } Cube {}", ""},
        {"VRML 1.0 extension node", "#VRML V1.0 ascii\nShiny { fields [ SFFloat a ] a 1 } Cube {}", "#VRML V1.0 ascii Shiny { fields [ SFFloat a ] a 1 } Cube {}", ""},
        {"VRML 1.0 unknown node", "#VRML V1.0 ascii\nSeparator { Ghost { a 1 } Cube {} }", "#VRML V1.0 ascii Separator { Cube {} }", "left out: 1 unknown node (Ghost)"},
        {"VRML 1.0 unknown field", "#VRML V1.0 ascii\nCube { depth 2 shine 3 }", "#VRML V1.0 ascii Cube { depth 2 }", "left out: 1 unknown field (shine)"},
        {"Script interface in its body", "Script { eventIn SFBool go field SFInt32 n 2 url \"x.js\" }", "Script { eventIn SFBool go field SFInt32 n 2 url \"x.js\" }", ""},
    })
        QTest::newRow(row.name) << document(row.input) << (row.cleaned ? QString(row.cleaned) : QString())
                                << QString(row.leftOut);
    // clang-format on
}

void TestReading::tolerant()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, cleaned);
    QFETCH(QString, leftOut);
    QByteArray output;
    ReadAccount account;
    const bool read = tolerant::clean(input, dir.filePath("main.wrl"), &output, &account);
    QCOMPARE(read, !cleaned.isNull());
    if (read)
        QCOMPARE(shown(output, dir.path()), cleaned);
    QCOMPARE(account.isEmpty() ? QString() : account.text(), leftOut);
}

void TestReading::guard_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("leftOut");
    // Three coordinates: indices 0 to 2 name one, -1 ends a face.
    const QByteArray coords = "coord Coordinate { point [ 0 0 0, 1 0 0, 0 1 0 ] } ";
    // clang-format off
    struct Row { const char *name, *input, *kept, *leftOut; };
    for (const Row &row : std::initializer_list<Row>{
        {"index size - 1", "IndexedFaceSet { %C coordIndex [ 0 1 2 -1 ] }", "IndexedFaceSet { coord Coordinate { point [ 0 0 0, 1 0 0, 0 1 0 ] } coordIndex [ 0, 1, 2, -1 ] }", ""},
        {"index = size", "IndexedFaceSet { %C coordIndex [ 0 1 3 -1 1 2 0 ] }", "IndexedFaceSet { coord Coordinate { point [ 0 0 0, 1 0 0, 0 1 0 ] } coordIndex [ 1, 2, 0, -1 ] }", "left out: 1 unusable geometry data (IndexedFaceSet)"},
        {"index -2", "IndexedFaceSet { %C coordIndex [ 0 1 2 -1 0 -2 1 ] }", "IndexedFaceSet { coord Coordinate { point [ 0 0 0, 1 0 0, 0 1 0 ] } coordIndex [ 0, 1, 2, -1 ] }", "left out: 1 unusable geometry data (IndexedFaceSet)"},
        {"line index = size", "IndexedLineSet { %C coordIndex [ 0 1 -1 1 3 ] }", "IndexedLineSet { coord Coordinate { point [ 0 0 0, 1 0 0, 0 1 0 ] } coordIndex [ 0, 1, -1 ] }", "left out: 1 unusable geometry data (IndexedLineSet)"},
        {"colour index = size", "IndexedFaceSet { %C coordIndex [ 0 1 2 ] color Color { color [ 1 0 0 ] } "
                                "colorIndex [ 0 0 1 ] }", "IndexedFaceSet { coord Coordinate { point [ 0 0 0, 1 0 0, 0 1 0 ] } color NULL coordIndex [ 0, 1, 2 ] colorIndex [ ] }", "left out: 1 unusable geometry data (IndexedFaceSet)"},
        {"colour index size - 1", "IndexedFaceSet { %C coordIndex [ 0 1 2 ] color Color { color [ 1 0 0, 0 1 0 ] } "
                                  "colorIndex [ 0 1 1 ] }", "IndexedFaceSet { coord Coordinate { point [ 0 0 0, 1 0 0, 0 1 0 ] } color Color { color [ 1 0 0, 0 1 0 ] } coordIndex [ 0, 1, 2 ] colorIndex [ 0, 1, 1 ] }", ""},
        {"colours per face, too few", "IndexedFaceSet { %C coordIndex [ 0 1 2 -1 2 1 0 ] colorPerVertex FALSE "
                                      "color Color { color [ 1 0 0 ] } }", "IndexedFaceSet { coord Coordinate { point [ 0 0 0, 1 0 0, 0 1 0 ] } color NULL colorPerVertex FALSE coordIndex [ 0, 1, 2, -1, 2, 1, 0 ] }", "left out: 1 unusable geometry data (IndexedFaceSet)"},
        {"colours per vertex, too few", "IndexedFaceSet { %C coordIndex [ 0 1 2 ] color Color { color [ 1 0 0, 0 1 0 ] } }",
         "IndexedFaceSet { coord Coordinate { point [ 0 0 0, 1 0 0, 0 1 0 ] } color NULL coordIndex [ 0, 1, 2 ] }", "left out: 1 unusable geometry data (IndexedFaceSet)"},
        {"normals per vertex, enough", "IndexedFaceSet { %C coordIndex [ 0 1 2 ] normal Normal { vector [ 0 0 1, 0 0 1, "
                                       "0 0 1 ] } }", "IndexedFaceSet { coord Coordinate { point [ 0 0 0, 1 0 0, 0 1 0 ] } normal Normal { vector [ 0 0 1, 0 0 1, 0 0 1 ] } coordIndex [ 0, 1, 2 ] }", ""},
        {"texture coordinates, too few", "IndexedFaceSet { %C coordIndex [ 0 1 2 ] texCoord TextureCoordinate { "
                                         "point [ 0 0, 1 0 ] } }", "IndexedFaceSet { coord Coordinate { point [ 0 0 0, 1 0 0, 0 1 0 ] } texCoord NULL coordIndex [ 0, 1, 2 ] }", "left out: 1 unusable geometry data (IndexedFaceSet)"},
        {"point colours, too few", "PointSet { %C color Color { color [ 1 0 0 ] } }", "PointSet { coord Coordinate { point [ 0 0 0, 1 0 0, 0 1 0 ] } color NULL }", "left out: 1 unusable geometry data (PointSet)"},
        {"heights = x * z", "ElevationGrid { xDimension 2 zDimension 3 height [ 0 0 0 0 0 0 ] }", "ElevationGrid { zDimension 3 xDimension 2 height [ 0, 0, 0, 0, 0, 0 ] }", ""},
        {"heights = x * z - 1", "ElevationGrid { xDimension 2 zDimension 3 height [ 0 0 0 0 0 ] }", "ElevationGrid { zDimension 2 xDimension 2 height [ 0, 0, 0, 0, 0 ] }", "left out: 1 unusable geometry data (ElevationGrid)"},
        {"grid colours per cell", "ElevationGrid { xDimension 3 zDimension 2 height [ 0 0 0 0 0 0 ] colorPerVertex FALSE "
                                  "color Color { color [ 1 0 0, 0 1 0 ] } }", "ElevationGrid { zDimension 2 xDimension 3 height [ 0, 0, 0, 0, 0, 0 ] color Color { color [ 1 0 0, 0 1 0 ] } colorPerVertex FALSE }", ""},
        {"grid colours per cell, too few", "ElevationGrid { xDimension 3 zDimension 2 height [ 0 0 0 0 0 0 ] "
                                           "colorPerVertex FALSE color Color { color [ 1 0 0 ] } }", "ElevationGrid { zDimension 2 xDimension 3 height [ 0, 0, 0, 0, 0, 0 ] color NULL colorPerVertex FALSE }", "left out: 1 unusable geometry data (ElevationGrid)"},
        {"negative grid size", "ElevationGrid { xDimension -2 zDimension 3 height [ 0 0 0 ] }", "ElevationGrid { zDimension 3 xDimension 0 height [ 0, 0, 0 ] }", "left out: 1 unusable geometry data (ElevationGrid)"},
        {"inherited choice of no choices", "Switch { whichChoice -2 }", "Switch { whichChoice -1 }", "left out: 1 unusable geometry data (Switch)"},
        {"Shape's node fields", "Shape { appearance Box {} geometry Material {} }", "Shape { appearance NULL geometry NULL }", "left out: 2 nodes of the wrong type (Box, Material)"},
        {"Appearance's node fields", "Appearance { material Box {} texture Material {} textureTransform Cone {} }", "Appearance { material NULL texture NULL textureTransform NULL }", "left out: 3 nodes of the wrong type (Box, Material, Cone)"},
        {"IndexedFaceSet's node fields", "IndexedFaceSet { coord Normal {} normal Color {} color Sphere {} texCoord Coordinate {} }", "IndexedFaceSet { coord NULL texCoord NULL normal NULL color NULL }",
         "left out: 4 nodes of the wrong type (Normal, Coordinate, Color, Sphere)"},
        {"fontStyle", "Text { fontStyle Material {} }", "Text { fontStyle NULL }", "left out: 1 node of the wrong type (Material)"},
        {"source", "Sound { source Box {} }", "Sound { source NULL }", "left out: 1 node of the wrong type (Box)"},
        {"source, a movie", "Sound { source MovieTexture {} }", "Sound { source MovieTexture { } }", ""},
        {"cycle", "DEF A Transform { children [ Shape {} USE A ] }", "DEF A Transform { children [ Shape { } ] }", "left out: 1 cycle (A)"},
    }) {
        QByteArray text = QByteArray("#VRML V2.0 utf8\n") + row.input;
        text.replace("%C", coords);
        QTest::newRow(row.name) << text << QString(row.kept) << QString(row.leftOut);
    }
    // clang-format on
}

void TestReading::guard()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, kept);
    QFETCH(QString, leftOut);
    SoSeparator *root = coinRead(input);
    QVERIFY(root);
    root->ref();
    ReadAccount account;
    guardScene(root, &account);
    // What is kept shows in the writer's text.
    const QString scene = shown(sceneAsVrml(root), QString());
    root->unref();
    QCOMPARE(scene, kept);
    QCOMPARE(account.isEmpty() ? QString() : account.text(), leftOut);
}

void TestReading::writer_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("unnamed"); // a name Coin read, taken away first
    QTest::addColumn<QString>("written");
    // clang-format off
    struct Row { const char *name, *input, *unnamed, *written; };
    for (const Row &row : std::initializer_list<Row>{
        {"shared without a name", "Group { children [ DEF B Shape { geometry Box {} } USE B ] }", "B", "Group { children [ DEF N1 Shape { geometry Box { } } USE N1 ] }"},
        {"shared with a name", "Group { children [ DEF B Shape { geometry Box {} } USE B ] }", "", "Group { children [ DEF B Shape { geometry Box { } } USE B ] }"},
        {"one name twice", "Shape { geometry DEF A Box {} } Shape { geometry DEF A Sphere {} }", "", "Shape { geometry DEF A Box { } } Shape { geometry DEF A_1 Sphere { } }"},
        {"PROTO instance", "PROTO P [ field SFFloat r 1 ] { Sphere { radius IS r } } Shape { geometry P { r 2 } }",
         "", "Shape { geometry Sphere { radius 2 } }"},
        {"PROTO of several nodes", "PROTO P [ ] { Shape {} Group {} } Group { children P {} }", "", "Group { children [ Group { children [ Shape { } Group { } ] } ] }"},
        {"quotes and backslashes", "WorldInfo { info [ \"say \\\"hi\\\"\", \"C:\\\\dir\\\\\" ] title \"a\\\\b\" }",
         "", "WorldInfo { title \"a\\\\b\" info [ \"say \\\"hi\\\"\", \"C:\\\\dir\\\\\" ] }"},
        {"truth, colour, number, vectors", "Transform { translation 1 2 3 rotation 0 1 0 1.5 children Shape { "
                                           "appearance Appearance { material Material { diffuseColor 1 0 0 } "
                                           "textureTransform TextureTransform { scale 2 2 } } "
                                           "geometry Cylinder { top FALSE height 2.5 } } }", "", "Transform { children [ Shape { appearance Appearance { material Material { diffuseColor 1 0 0 } textureTransform TextureTransform { scale 2 2 } } geometry Cylinder { height 2.5 top FALSE } } ] translation 1 2 3 rotation 0 1 0 1.5 }"},
        {"image, integer, time, text", "Switch { whichChoice 0 choice [ Shape { appearance Appearance { texture "
                                       "PixelTexture { image 2 1 3 0xFF0000 0x00FF00 } } geometry Text { string "
                                       "[ \"a\" \"b\" ] } } ] } TimeSensor { cycleInterval 2 } Anchor { description "
                                       "\"d\" }", "", "Switch { whichChoice 0 choice [ Shape { appearance Appearance { texture PixelTexture { image 2 1 3 0xff0000 0xff00 } } geometry Text { string [ \"a\", \"b\" ] } } ] } TimeSensor { cycleInterval 2 } Anchor { description \"d\" }"},
        {"lists", "Shape { geometry IndexedFaceSet { coord Coordinate { point [ 0 0 0, 1 0 0, 0 1 0 ] } coordIndex "
                  "[ 0 1 2 -1 ] texCoord TextureCoordinate { point [ 0 0, 1 0, 0 1 ] } color Color { color [ 1 0 0 ] } "
                  "colorPerVertex FALSE } } OrientationInterpolator { key [ 0 1 ] keyValue [ 0 1 0 0, 0 1 0 1 ] } "
                  "ElevationGrid { xDimension 2 zDimension 1 height [ 0.5 1 ] }", "", "Shape { geometry IndexedFaceSet { coord Coordinate { point [ 0 0 0, 1 0 0, 0 1 0 ] } texCoord TextureCoordinate { point [ 0 0, 1 0, 0 1 ] } color Color { color 1 0 0 } colorPerVertex FALSE coordIndex [ 0, 1, 2, -1 ] } } OrientationInterpolator { key [ 0, 1 ] keyValue [ 0 0 1 0, 0 1 0 1 ] } ElevationGrid { zDimension 1 xDimension 2 height [ 0.5, 1 ] }"},
        {"ROUTE", "DEF T TimeSensor {} DEF I PositionInterpolator { key [ 0 1 ] keyValue [ 0 0 0, 1 1 1 ] } "
                  "DEF X Transform {} ROUTE T.fraction_changed TO I.set_fraction ROUTE I.value_changed TO "
                  "X.set_translation", "", "DEF T TimeSensor { } DEF I PositionInterpolator { key [ 0, 1 ] keyValue [ 0 0 0, 1 1 1 ] } DEF X Transform { } ROUTE T.fraction_changed TO I.set_fraction ROUTE I.value_changed TO X.translation"},
        {"Script", "Script { eventIn SFBool go eventOut SFInt32 out field SFInt32 n 2 field SFNode none NULL "
                   "url \"javascript: function go() {}\" }", "", "Script { url \"javascript: function go() {}\" eventIn SFBool go eventOut SFInt32 out field SFInt32 n 2 field SFNode none NULL }"},
        {"VRML 1.0", "#VRML V1.0 ascii\nSeparator { Material { diffuseColor 1 0 0 } Cube { width 2 } }", "", "#VRML V1.0 ascii Material { diffuseColor 1 0 0 } Cube { width 2 }"},
    })
        QTest::newRow(row.name) << document(row.input) << QByteArray(row.unnamed) << QString(row.written);
    // clang-format on
}

// The text written, and read again the same scene: the same text once more.
void TestReading::writer()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, unnamed);
    QFETCH(QString, written);
    SoSeparator *root = coinRead(input);
    QVERIFY(root);
    root->ref();
    if (!unnamed.isEmpty())
        SoNode::getByName(unnamed.constData())->setName("");
    const QByteArray text = sceneAsVrml(root);
    SoSeparator *again = coinRead(text);
    QVERIFY2(again, text.constData());
    again->ref();
    QCOMPARE(shown(text, QString()), written);
    QCOMPARE(sceneAsVrml(again), text);
    again->unref();
    root->unref();
}

// The reader's own checks around the pass: image sizes read before simage
// may allocate them, what is not read, what a read leaves in the account.
void TestReading::reader()
{
    auto sgi = [this](int width, int height) {
        QByteArray head(512, '\0');
        head[0] = char(0x01), head[1] = char(0xda), head[3] = 1, head[5] = 2;
        head[6] = char(width >> 8), head[7] = char(width), head[8] = char(height >> 8), head[9] = char(height);
        const QString path = dir.filePath(QString("%1x%2.rgb").arg(width).arg(height));
        return harness::writeBytes(path, head) ? path : QString();
    };
    QCOMPARE(SceneReader::isSafeImage(sgi(4096, 4096)), true);
    QCOMPARE(SceneReader::isSafeImage(sgi(4097, 4096)), false);
    QCOMPARE(SceneReader::isSafeImage(sgi(0, 16)), false);
    QCOMPARE(SceneReader::isSafeImage(dir.filePath("protos.wrl")), false);
    QCOMPARE(SceneReader::isSafeImage(dir.path()), false);

    auto read = [](SoSeparator *root) { return root && (root->ref(), root->unref(), true); };
    QVERIFY(read(SceneReader::readFile(dir.filePath("protos.wrl"))));
    QVERIFY(!read(SceneReader::readFile(dir.path())));
    QVERIFY(!read(SceneReader::readBuffer("\x1f\x8b broken", QString())));
    QVERIFY(read(SceneReader::readBuffer(document("Sphere { foo 1 }"), QString())));
    QVERIFY(read(SceneReader::readBuffer(document("Shape { geometry Box {} appearance Box {} }"), QString())));
    QCOMPARE(SceneReader::takeAccount().text(), "left out: 1 unknown field (foo), 1 node of the wrong type (Box)");
    QVERIFY(SceneReader::takeAccount().isEmpty());
}

QTEST_GUILESS_MAIN(TestReading)
#include "tst_reading.moc"
