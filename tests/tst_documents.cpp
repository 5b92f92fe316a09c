// Documents: what the viewer logs and lists for every corpus file and our own
// test documents, measured against a read of our own; loads from the location
// field that work or fail; saving the shown scene.

#include "harness.h"
#include "quelvin_reader.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <Inventor/SoDB.h>
#include <Inventor/SoFullPath.h>
#include <Inventor/SoInput.h>
#include <Inventor/VRMLnodes/SoVRMLNodes.h>
#include <Inventor/actions/SoActions.h>
#include <Inventor/nodes/SoSeparator.h>

#include <QtTest>
#include <QtWidgets>

#include <memory>
#include <sstream>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QStringList linesOf(const QString &path)
{
    return QString::fromUtf8(harness::readBytes(path)).split('\n', Qt::SkipEmptyParts);
}

// Our own read of a document: Coin reads it again, and inlines are read at
// once, found beside the file naming them (Coin searches the directory of the
// file it is reading), as the program does for local files. The program reads
// no inline once it holds 64 base locations, one per inline met: a file that
// inlines itself ends there, and so must this copy.
int inlines = 0;

void fetchInline(const SbString &, void *, SoVRMLInline *node)
{
    // Found as Coin finds it; read as the program reads any file, since
    // inlined parts written by others are often more than Coin accepts.
    SoInput in;
    if (node->url.getNum() > 0 && 1 + ++inlines < 64 && in.openFile(node->url[0].getString(), TRUE)) {
        const QString found = QFile::decodeName(in.getCurFileName());
        in.closeFile();
        node->setChildData(SceneReader::readFile(found));
        (void)SceneReader::takeAccount();
    }
}

SbBool skipTexture(const SbString &, void *, SoVRMLImageTexture *) { return FALSE; }

// As a C++ stream writes them: Qt's numbers lose the sign of a negative zero.
QString triple(const SbVec3f &v)
{
    std::ostringstream out;
    out << v[0] << ", " << v[1] << ", " << v[2];
    return QString::fromStdString(out.str());
}

// Appends the lines the viewer should log and the viewpoint descriptions,
// counted with search and bounding-box actions of our own.
void analyse(SoNode *root, const SbViewportRegion &region, QStringList &log, QStringList &viewpoints)
{
    auto findAll = [root](SoType type) {
        SoSearchAction search;
        search.setType(type, TRUE);
        search.setInterest(SoSearchAction::ALL);
        search.setSearchingAll(TRUE);
        search.apply(root);
        return SoPathList(search.getPaths());
    };
    SoGetBoundingBoxAction bbox(region);
    bbox.apply(root);
    const SbBox3f box = bbox.getBoundingBox();
    log << "sceneCentre = " + triple(box.isEmpty() ? SbVec3f(0, 0, 0) : box.getCenter())
        << "bbox min = " + triple(box.getMin()) << "bbox max = " + triple(box.getMax());
    const struct { SoType type; const char *count, *item; } sections[] = {
        {SoVRMLGeometry::getClassTypeId(), "No. geometry nodes = ", "geom no. %1 VRMLGeometry"},
        {SoVRMLText::getClassTypeId(), "No. text nodes = ", "text no. %1 VRMLText"},
        {SoVRMLIndexedFaceSet::getClassTypeId(), "No. i-f-s nodes = ", "ifs no. %1 VRMLIndexedFaceSet"}};
    for (const auto &section : sections) {
        const SoPathList paths = findAll(section.type);
        log << section.count + QString::number(paths.getLength());
        for (int i = 0; i < paths.getLength(); ++i) {
            // A node inside an inline ends the full path only.
            bbox.apply(static_cast<SoFullPath *>(paths[i])->getTail());
            log << QString(section.item).arg(i) << "  bbox min = " + triple(bbox.getBoundingBox().getMin())
                << "  bbox max = " + triple(bbox.getBoundingBox().getMax());
        }
    }
    const SoPathList found = findAll(SoVRMLViewpoint::getClassTypeId());
    for (int i = 0; i < found.getLength(); ++i)
        viewpoints << QString::fromUtf8(static_cast<SoVRMLViewpoint *>(static_cast<SoFullPath *>(found[i])->getTail())
                                            ->description.getValue().getString());
}

// The same for a file; false when Coin cannot read it.
bool readOurselves(const QString &path, const SbViewportRegion &region, QStringList &log, QStringList &viewpoints,
                   const QString &inlinesFrom = QString())
{
    inlines = 0;
    // A saved copy names its inlines as the original did, relative to the
    // original's folder.
    if (!inlinesFrom.isEmpty())
        SoInput::addDirectoryFirst(QFile::encodeName(inlinesFrom).constData());
    SoVRMLInline::setFetchURLCallBack(fetchInline, nullptr);
    SoVRMLImageTexture::setPrequalifyFileCallBack(skipTexture, nullptr);
    SoInput in;
    SoSeparator *root = in.openFile(QFile::encodeName(path).constData(), TRUE) ? SoDB::readAll(&in) : nullptr;
    SoVRMLInline::setFetchURLCallBack(Browser::VRMLInlineCB, nullptr);
    SoVRMLImageTexture::setPrequalifyFileCallBack(Browser::prequalify_cb, nullptr);
    if (!inlinesFrom.isEmpty())
        SoInput::removeDirectory(QFile::encodeName(inlinesFrom).constData());
    if (!root)
        return false;
    root->ref();
    analyse(root, region, log, viewpoints);
    root->unref();
    return true;
}

const QRegularExpression number("-?[0-9]+(\\.[0-9]*)?(e[-+]?[0-9]+)?");

// The first line where two analyses differ, or empty when they agree.
// Coin keeps a rotation as a quaternion, and its axis and angle written out
// read back a few units in the last place away; through a few nested
// transforms that grows to some parts in 100,000, which numbers may differ by.
QString firstDifference(const QStringList &actual, const QStringList &expected)
{
    for (int i = 0; i < qMax(actual.size(), expected.size()); ++i) {
        const QString a = actual.value(i), e = expected.value(i);
        QStringList an, en;
        for (auto m = number.globalMatch(a); m.hasNext();)
            an << m.next().captured();
        for (auto m = number.globalMatch(e); m.hasNext();)
            en << m.next().captured();
        bool same = QString(a).replace(number, "#") == QString(e).replace(number, "#") && an.size() == en.size();
        for (int j = 0; same && j < an.size(); ++j)
            same = qAbs(an[j].toDouble() - en[j].toDouble()) <= 1e-4 * qMax(1.0, qAbs(en[j].toDouble()));
        if (!same)
            return QString("line %1: \"%2\" instead of \"%3\"").arg(i).arg(a, e);
    }
    return QString();
}

// Whether the scene shown holds a node of the type.
bool holds(SoType type)
{
    SoSearchAction search;
    search.setType(type);
    search.setSearchingAll(TRUE);
    search.apply(Browser::loadedScene());
    return search.getPath();
}

QStringList viewpointItems(BrowserWindow *window)
{
    QComboBox *combo = window->findChild<QComboBox *>("viewpoints");
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

const QString data = harness::sourceDir() + "/tests/data/documents/";

// What reading leaves out of corpus files that bare Coin refuses or that
// hold what would crash it, and the scripts that run and what they print
// (%1: the file's path), as the viewer logs them after the analysis.
const struct { const char *path; const char *leftOut; } corpusLeftOut[] = {
    {"castle-demo-models/vrml_2/inline_test.wrl", "left out: 5 unknown fields (alphaChannel), 1 unknown node (InlineLoadControl)"},
    {"titania/Library/Tests/Text/Text.wrl", "left out: 2 unknown fields (metadata, centerOfRotation), 2 broken references (Text, Text_1), 4 ROUTEs (Text_1)\nscripts: 1 running"},
    {"coin3d-coin/models/io/incorrect/bug055.wrl", "left out: 1 stray token (0)"},
    {"castle-demo-models/vrml_2/kings_head_gif.wrl", "left out: 1 unknown field (alphaChannel)"},
    {"castle-demo-models/vrml_2/waves/waves.wrl.gz", "left out: 1 unknown field (enabled)"},
    {"castle-demo-models/vrml_2/warnings/not_enough_coords.wrl", "left out: 1 unusable geometry data (IndexedFaceSet)"},
    {"openvrml/tests/vrml97/bad/unrecognized-node.wrl", "left out: 1 unknown node (UnrecognizedNode)"},
    {"openvrml/models/jsTouch.wrl", "left out: 1 broken reference (TheGroup)\nscripts: 1 running\n Browser: Quelvin 0.1\n World: file://%1"},
    {"openvrml/models/rotation_toy.wrl", "scripts: 5 running"},
    {"white_dune/warbird/warbird.wrl", "scripts: 25 running"},
    {"ecmascript/teleporter.wrl", "scripts: 1 running"},
    {"ecmascript/simple3Dmodeller.wrl", "scripts: 1 running"},
    {"ecmascript/switching_animations.wrl", "scripts: 1 running"},
    {"titania/Library/Tests/Navigation/Viewpoint.wrl", "left out: 1 X3D statement (META), 1 unknown field (centerOfRotation)"},
    {"white_dune/docs/usage_docs/nxtdials.wrl.gz", "left out: 1 unresolved EXTERNPROTO (SuperExtrusion), 3 nodes of the wrong type (Group)"},
};

QString expectedLeftOut(const QString &path)
{
    for (const auto &entry : corpusLeftOut)
        if (path.endsWith(QLatin1String(entry.path)))
            return QString(entry.leftOut).replace("%1", harness::corpusDir() + "/" + path);
    return QString();
}

// The crash families of Coin 4.0.0, each in a small file of data + crashes/
// (what reading makes of each construct is tst_reading's), and what the log
// says after the analysis, line by line: what was left out and the scripts
// that run ("" for nothing, "refused" for a file that must give "Cannot load
// file"); geometry nodes shown.
const struct { const char *name; const char *leftOut; int geometry; } variants[] = {
    {"self_externproto.wrl", "left out: 1 unresolved EXTERNPROTO (Me)", 1},
    {"deep.wrl", "refused", 0},   // made at run time: groups 10,000 deep
    {"proto_self_use.wrl", "left out: 1 broken reference (S)\nscripts: 0 running, 1 not started (1 no supported url)", 1},
    {"indices.wrl", "left out: 2 unusable geometry data (IndexedFaceSet, IndexedLineSet)", 2},
    {"wrong_types.wrl", "left out: 2 nodes of the wrong type (Color, WorldInfo), 1 unusable geometry data (IndexedFaceSet)", 2},
    {"self_use.wrl", "left out: 1 broken reference (A)", 1},
    {"elevation.wrl", "left out: 1 unusable geometry data (ElevationGrid)", 1},
    {"pixel_texture.wrl", "left out: 1 unusable image", 1},
    {"script_route.wrl", "scripts: 0 running, 1 not started (1 no supported url)", 1},
    {"inventor_names.wrl", "left out: 2 unknown nodes (NurbsCurve, Separator)", 1},
    {"vrml1_indices.wrl", "left out: 1 unusable geometry data (IndexedFaceSet)", 0},
    {"shared_shapes.iv", "left out: 3 unusable geometry data (IndexedFaceSet, NurbsCurve, IndexedLineSet)", 0},
    {"page.wrl", "refused", 0},
    // Not readable (a box of two numbers); Save must then keep it as it is.
    {"broken.wrl", "refused", 0},
    // An exporter's failed division, which Coin refuses with the whole file.
    {"nan.wrl", "left out: 1 unusable number", 1},
    // Robot simulators' Humanoid, whose body shows only its viewpoints: its humanoidBody is drawn.
    {"humanoid.wrl", "", 1},
    // Parts written to be inlined, opened by themselves: read if they hold nodes and nothing else.
    {"headerless.wrl", "", 1},
    {"headerless_vrml1.wrl", "", 0},
    {"headerless_notes.wrl", "refused", 0},
};

// Copies the variants into dir, where a failed save risks nothing of ours,
// and makes the deep one and a fifo there.
void writeVariants(const QString &dir)
{
    const QDir crashes(data + "crashes");
    for (const QString &name : crashes.entryList(QDir::Files) + QStringList{"../broken.wrl"})
        QFile::copy(crashes.filePath(name), dir + "/" + QFileInfo(name).fileName());
    harness::writeBytes(dir + "/deep.wrl", "#VRML V2.0 utf8\n" + QByteArray("Group { children [ ").repeated(10000)
                                               + QByteArray("] } ").repeated(10000));
    mkfifo(QFile::encodeName(dir + "/fifo.wrl").constData(), 0600);
}

// Another VRML 97 reader, view3dscene's converter, as a second opinion on
// what the program writes: whether it reads the file, and whether it finds
// any shape in it. Empty when the tool is not installed.
QString oracle(const QString &path, bool *shapes)
{
    const QString tool = QStandardPaths::findExecutable("tovrmlx3d");
    if (tool.isEmpty())
        return QString();
    QProcess process;
    process.start(tool, {path, "--encoding=classic"});
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return "did not finish";
    *shapes = process.readAllStandardOutput().contains("Shape");
    return process.exitCode() == 0 ? "read" : "failed: " + QString::fromUtf8(process.readAllStandardError()).left(300);
}

} // namespace

class TestDocuments : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void locationField_data();
    void locationField();
    void save();
    // Makes windows of its own, which take the viewer-wide state: stays last.
    void fromCommandLine_data();
    void fromCommandLine();

private:
    QString log() const { return scratch->file("quelvinViewer.log"); }
    QString title() const { return window->windowHandle()->title(); }
    QStringList boxes() const { return answerer->lines(); }
    QStringList recent() const
    {
        QStringList entries;
        for (QAction *a : window->findChild<QMenu *>("menuFile")->actions())
            if (!a->isSeparator() && a->objectName().isEmpty() && a->isVisible())
                entries << a->text() + " -> " + a->data().toString();
        return entries;
    }
    // What a failed load or save must leave as it was.
    QStringList state() const
    {
        return QStringList{title(), QString::number(QFileInfo(log()).size()),
                           QString::number(quintptr(Browser::loadedScene()))} + recent() + viewpointItems(window);
    }
    // The window's save or saveAs, as its menu entry calls it, the file
    // dialog answered with target; true when it saved.
    bool saves(BrowserWindow *w, const char *slot, const QString &target = QString())
    {
        answerer->clear();
        if (!target.isEmpty())
            answerer->queueFile(target);
        bool saved = false;
        return QMetaObject::invokeMethod(w, slot, Qt::DirectConnection, Q_RETURN_ARG(bool, saved)) && saved;
    }

    std::unique_ptr<harness::Scratch> scratch;
    QTemporaryDir made;
    harness::ModalAnswerer *answerer = nullptr;
    BrowserWindow *window = nullptr;
};

void TestDocuments::initTestCase()
{
    // With Coin's clock stopped, animated scenes measure the same in both reads.
    SoDB::init();
    SoDB::enableRealTimeSensor(FALSE);
    scratch.reset(new harness::Scratch);
    writeVariants(made.path());
    answerer = new harness::ModalAnswerer(this);
    window = new BrowserWindow(QString());
    QVERIFY(harness::shown(window));
}

void TestDocuments::locationField_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("status");   // empty: the load fails and the shown document stays

    const QString other = data + "switch_viewpoints.wrl", tour = data + "tour.wrl", absent = data + "absent.wrl";
    const QString trying = "information/HTTP/trying to load as local file", cannot = "warning/Application/Cannot ";
    QTest::newRow("file URL") << "file://" + other << QStringList{"information/Viewer/" + other}
                              << other + " loaded  scheme: 'file'";
    QTest::newRow("bare path") << tour << QStringList{trying, "information/Viewer/" + tour} << "loaded local file " + tour;
    QTest::newRow("missing file URL") << "file://" + absent
        << QStringList{cannot + QString("read file %1:\n%2.").arg(absent, QFile(absent).errorString())} << QString();
    QTest::newRow("unparsable") << "file://" + data + "broken.wrl" << QStringList{cannot + "load file"} << QString();
    QTest::newRow("ftp") << "ftp://127.0.0.1/a.wrl" << QStringList{"information/HTTP/ftp not implemented yet"} << QString();
    QTest::newRow("bare directory") << data
        << QStringList{trying, "warning/Application/maybe a directory, wait next version for implementation"} << QString();
    QTest::newRow("bare missing path") << absent << QStringList{trying, "warning/Browser/Cant handle \"" + absent + "\""}
                                       << QString();
    QTest::newRow("empty") << QString() << QStringList{"information/HTTP/Invalid URL: "} << QString();
    QTest::newRow("bare directory name") << data.chopped(1) << QStringList{trying, "warning/Application/Not a file"}
                                         << QString();
    // Not typed: a link handed to the window, as a rich-text label would.
    QTest::newRow("link") << "link:file://" + tour
                          << QStringList{"information/HTTP/openLink(&link) called", "information/HTTP/call to LoadFile(link)",
                                         "information/Viewer/" + tour} << tour + " loaded  scheme: 'file'";
}

void TestDocuments::locationField()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, expected);
    QFETCH(QString, status);
    const QStringList before = state();
    answerer->clear();
    if (typed.startsWith("link:"))
        QVERIFY(QMetaObject::invokeMethod(window, "setSource", Q_ARG(QUrl, QUrl(typed.mid(5)))));
    else
        harness::typeLocation(window, typed);
    QCOMPARE(boxes(), expected);
    if (status.isEmpty()) {
        QCOMPARE(state(), before);
        return;
    }
    QCOMPARE(window->statusBar()->currentMessage(), status);
    QCOMPARE(title(), QFileInfo(expected.last().section('/', 2)).fileName() + " - Quelvin");
}

// Runs with a document shown: the loads above leave one. What is saved
// reads back as it was shown: fromCommandLine checks that on every file.
void TestDocuments::save()
{
    const QString target = scratch->file("saved.wrl"), missing = scratch->file("missing/copy.wrl");
    QVERIFY(saves(window, "saveAs", target));
    QCOMPARE(window->statusBar()->currentMessage(), target + " saved");
    QCOMPARE(title(), "saved.wrl - Quelvin");
    QCOMPARE(recent().value(0), "&1 saved.wrl -> " + target);

    QFile probe(missing);
    QVERIFY(!probe.open(QIODevice::WriteOnly));
    const QStringList before = state();
    QVERIFY(!saves(window, "saveAs", missing));
    QCOMPARE(boxes().mid(1), QStringList{"warning/Application/Cannot write file " + missing + ":\n" + probe.errorString() + "."});
    QCOMPARE(state(), before);

    // Saving the model over itself where it cannot be written whole, past a
    // file-size limit (as on a full disk, the write stops half-way): the
    // model keeps every byte.
    const QString model = scratch->file("sample.wrl");
    QVERIFY(QFile::copy(harness::sourceDir() + "/examples/sample.wrl", model));
    answerer->clear();
    answerer->queueFile(model);
    window->findChild<QAction *>("actionOpen")->trigger();
    QCOMPARE(title(), "sample.wrl - Quelvin");
    const QByteArray bytes = harness::readBytes(model);
    rlimit unlimited{}, limited{};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &unlimited) == 0);
    limited = unlimited;
    limited.rlim_cur = 1024;
    QVERIFY(bytes.size() > 1024 && setrlimit(RLIMIT_FSIZE, &limited) == 0);
    const bool saved = saves(window, "save");
    setrlimit(RLIMIT_FSIZE, &unlimited);
    QVERIFY(!saved);
    QCOMPARE(harness::readBytes(model), bytes);
    QCOMPARE(boxes().size(), 1);
    QVERIFY2(boxes()[0].startsWith("warning/Application/Cannot write file " + model + ":\n") && boxes()[0].endsWith("."),
             qPrintable(boxes()[0]));
    QVERIFY(window->statusBar()->currentMessage() != model + " saved");
}

void TestDocuments::fromCommandLine_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("leftOut");
    QTest::addColumn<int>("geometry");    // -1: as an independent read counts them
    // The manifest's first two columns: path, role.
    const QString corpus = harness::corpusDir();
    for (const QString &line : linesOf(corpus + "/MANIFEST.tsv"))
        if (line.section('\t', 1, 1) == QLatin1String("top")) {
            const QString path = line.section('\t', 0, 0);
            QTest::newRow(qPrintable(path)) << corpus + "/" + path << expectedLeftOut(path) << -1;
        }
    // 25 viewpoints, of which 20 are kept; viewpoints in inactive choices; not readable.
    QTest::newRow("viewpoints25.wrl") << data + "viewpoints25.wrl" << QString() << -1;
    QTest::newRow("switch_viewpoints.wrl") << data + "switch_viewpoints.wrl" << QString() << -1;
    // A viewpoint and a shape that come in through an inline.
    QTest::newRow("inlined.wrl") << harness::sourceDir() + "/tests/data/navigation/inlined.wrl" << QString() << -1;
    for (const auto &variant : variants)
        QTest::newRow(variant.name) << made.path() + "/" + variant.name << variant.leftOut << variant.geometry;
    // Inputs on which the fuzzer once crashed the reading: whatever shows.
    const QDir found(harness::sourceDir() + "/tests/data/fuzz");
    for (const QString &name : found.entryList(QDir::Files))
        QTest::newRow(qPrintable("fuzz/" + name)) << found.filePath(name) << "any" << 0;
    // Blocks whoever opens it for reading until a writer comes.
    QTest::newRow("fifo.wrl") << made.path() + "/fifo.wrl" << "not a file" << 0;
    // The scenes the README opens.
    for (const char *name : {"sample.wrl", "second.wrl"})
        QTest::newRow(name) << harness::sourceDir() + "/examples/" + name << QString() << -1;
}

// Opens each file as the first argument of a new window, as a user starting
// the program would (and draws a frame of each file made to crash): shown
// with the analysis an
// independent read gives (plus what was left out), or refused with one box;
// never a crash or a hang.
void TestDocuments::fromCommandLine()
{
    QFETCH(QString, path);
    QFETCH(QString, leftOut);
    QFETCH(int, geometry);
    harness::Scratch here;   // the window opens its logs where it starts
    answerer->clear();
    auto *started = new BrowserWindow(path);   // never deleted: the viewer outlives it
    if (geometry >= 0) {
        // Files made to crash: drawn once, where Coin and Mesa would fail.
        // The others stay still, as animations would move them before Save.
        QVERIFY(harness::shown(started));
        (void)harness::grabViewer(started->viewer());
    }
    const QStringList log = linesOf(here.file("quelvinViewer.log"));

    if (leftOut == "any") {
        QVERIFY2(boxes() == QStringList{"warning/Application/Cannot load file"}
                     || boxes() == QStringList{"information/Viewer/" + path},
                 qPrintable(boxes().join('\n')));
        return;
    }
    if (leftOut == "refused" || leftOut == "not a file") {
        QCOMPARE(boxes(), QStringList{leftOut == "refused"
                                          ? "warning/Application/Cannot load file"
                                          : "warning/Application/Cannot read file " + path + ":\nNot a regular file."});
        QCOMPARE(log, QStringList{"Quelvin viewer log file"});
        QCOMPARE(viewpointItems(started), QStringList{"Default view"});
        if (leftOut == "not a file")
            return;
        // Save keeps a document that could not be read as it was.
        if (!path.startsWith(made.path()))
            return;   // only our own copies are put at risk
        const QByteArray before = harness::readBytes(path);
        QVERIFY(!saves(started, "save"));
        QCOMPARE(boxes(), QStringList{"warning/Application/Cannot write file " + path
                                      + ":\nthe scene shown was not read from this file."});
        QCOMPARE(harness::readBytes(path), before);
        return;
    }
    QStringList expectedLog{"Quelvin viewer log file"}, described;
    QStringList expectedBoxes{"information/Viewer/" + path};
    // Bare Coin crashes on some of the variants: no independent read there.
    if (geometry < 0 && readOurselves(path, started->viewer()->getViewportRegion(), expectedLog, described)) {
        if (described.size() > 20)
            expectedBoxes.prepend("warning/Quelvin viewer/More viewpoints than we can store; dropping some");
        expectedLog << leftOut.split('\n', Qt::SkipEmptyParts);
        // Scripts move and build what they drive before the analysis, which
        // a read of the file alone cannot know: only the lines agree there.
        if (holds(SoVRMLScript::getClassTypeId()))
            QCOMPARE(QStringList(log).replaceInStrings(number, "#"), expectedLog.replaceInStrings(number, "#"));
        else
            QCOMPARE(log, expectedLog);
        QCOMPARE(viewpointItems(started), described.mid(0, 20));
    } else {
        // Bare Coin refuses the file: the analysis is there, and ends with
        // what had to go.
        QVERIFY2(log.size() >= 7, qPrintable(log.join('\n')));
        const QStringList last = leftOut.split('\n');
        QCOMPARE(log.mid(log.size() - last.size()).join('\n'), leftOut.isEmpty() ? log.last() : leftOut);
        if (leftOut.isEmpty())
            QVERIFY2(!log.last().startsWith("left out"), qPrintable(log.last()));
        if (geometry >= 0)
            QVERIFY2(log.contains("No. geometry nodes = " + QString::number(geometry)), qPrintable(log.join('\n')));
    }
    QCOMPARE(boxes(), expectedBoxes);

    // Save: what was read is written out and reads back to the same
    // analysis, in this program and in another VRML 97 reader.
    const QString copy = here.file("saved.wrl");
    QVERIFY(saves(started, "saveAs", copy));
    // What was written is the scene as it stood then, which an animation
    // may have moved since it was read (the file dialog lets time run).
    QStringList analysis{"Quelvin viewer log file"}, shownViewpoints;
    analyse(Browser::loadedScene(), started->viewer()->getViewportRegion(), analysis, shownViewpoints);
    QCOMPARE(boxes().filter(QRegularExpression("^(warning|critical)")), QStringList());
    QStringList reread{"Quelvin viewer log file"}, redescribed;
    QVERIFY(readOurselves(copy, started->viewer()->getViewportRegion(), reread, redescribed, QFileInfo(path).absolutePath()));
    // Time and proximity sensors drive what they move from the clock or the
    // camera, each time it is read: only the lines themselves can agree
    // there, not their numbers.
    if (holds(SoVRMLTimeSensor::getClassTypeId()) || holds(SoVRMLProximitySensor::getClassTypeId()))
        QCOMPARE(reread.replaceInStrings(number, "#"), analysis.replaceInStrings(number, "#"));
    else
        QCOMPARE(firstDifference(reread, analysis), QString());
    QCOMPARE(redescribed, shownViewpoints);
    bool originalShapes = false, copyShapes = false;
    const QString verdict = oracle(copy, &copyShapes);
    if (verdict.isEmpty())
        return;   // no second reader installed
    QCOMPARE(verdict, QString("read"));
    if (oracle(path, &originalShapes) == "read" && originalShapes)
        QVERIFY(copyShapes);
}

QTEST_MAIN(TestDocuments)
#include "tst_documents.moc"
