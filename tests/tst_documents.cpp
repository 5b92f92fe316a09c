// Documents: what the viewer logs and lists for every corpus file and our own
// test documents, measured against a read of our own; loads from the location
// field that work or fail; saving the shown scene.

#include "harness.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/VRMLnodes/SoVRMLNodes.h>
#include <Inventor/actions/SoActions.h>
#include <Inventor/nodes/SoSeparator.h>

#include <QtTest>
#include <QtWidgets>

#include <memory>
#include <sstream>

#include <sys/resource.h>

namespace {

QStringList linesOf(const QString &path, qint64 from = 0)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

// Our own read of a document: Coin reads it again, and inlines are read at
// once, found beside the file naming them (Coin searches the directory of the
// file it is reading), as the program does for local files. The program reads
// no inline once it holds 64 base locations, one per inline met: a file that
// inlines itself ends there, and so must this copy.
int inlines = 0;

void fetchInline(const SbString &, void *, SoVRMLInline *node)
{
    SoInput in;
    if (node->url.getNum() > 0 && 1 + ++inlines < 64 && in.openFile(node->url[0].getString(), TRUE))
        node->setChildData(SoDB::readAll(&in));
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
// counted with search and bounding-box actions of our own; false when Coin
// cannot read the file.
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
            bbox.apply(paths[i]->getTail());
            log << QString(section.item).arg(i) << "  bbox min = " + triple(bbox.getBoundingBox().getMin())
                << "  bbox max = " + triple(bbox.getBoundingBox().getMax());
        }
    }
    const SoPathList found = findAll(SoVRMLViewpoint::getClassTypeId());
    for (int i = 0; i < found.getLength(); ++i)
        viewpoints << QString::fromUtf8(static_cast<SoVRMLViewpoint *>(found[i]->getTail())->description.getValue().getString());
    root->unref();
    return true;
}

// The first line where two analyses differ, or empty when they agree.
// Coin keeps a rotation as a quaternion, and its axis and angle written out
// read back a few units in the last place away; numbers may differ by that.
QString firstDifference(const QStringList &actual, const QStringList &expected)
{
    static const QRegularExpression number("-?[0-9]+(\\.[0-9]*)?(e[-+]?[0-9]+)?");
    for (int i = 0; i < qMax(actual.size(), expected.size()); ++i) {
        const QString a = actual.value(i), e = expected.value(i);
        QStringList an, en;
        for (auto m = number.globalMatch(a); m.hasNext();)
            an << m.next().captured();
        for (auto m = number.globalMatch(e); m.hasNext();)
            en << m.next().captured();
        bool same = QString(a).replace(number, "#") == QString(e).replace(number, "#") && an.size() == en.size();
        for (int j = 0; same && j < an.size(); ++j)
            same = qAbs(an[j].toDouble() - en[j].toDouble()) <= 1e-5 * qMax(1.0, qAbs(en[j].toDouble()));
        if (!same)
            return QString("line %1: \"%2\" instead of \"%3\"").arg(i).arg(a, e);
    }
    return QString();
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
    void saveThenOpen();
    // Makes windows of its own, which take the viewer-wide state: stays last.
    void fromCommandLine_data();
    void fromCommandLine();

private:
    QString log() const { return scratch->file("quelvinViewer.log"); }
    QString title() const { return window->windowHandle()->title(); }
    QStringList boxes() const
    {
        QStringList list;
        for (const harness::Box &box : answerer->boxes)
            list << box.kind + "/" + box.title + "/" + box.text;
        return list;
    }
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
    bool saveAs(const QString &target)
    {
        answerer->clear();
        answerer->queueFile(target);
        bool saved = false;
        return QMetaObject::invokeMethod(window, "saveAs", Qt::DirectConnection, Q_RETURN_ARG(bool, saved)) && saved;
    }

    std::unique_ptr<harness::Scratch> scratch;
    harness::ModalAnswerer *answerer = nullptr;
    BrowserWindow *window = nullptr;
};

void TestDocuments::initTestCase()
{
    // With Coin's clock stopped, animated scenes measure the same in both reads.
    SoDB::init();
    SoDB::enableRealTimeSensor(FALSE);
    scratch.reset(new harness::Scratch);
    answerer = new harness::ModalAnswerer(this);
    window = new BrowserWindow(QString());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
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
}

void TestDocuments::locationField()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, expected);
    QFETCH(QString, status);
    const QStringList before = state();
    answerer->clear();
    QComboBox *location = window->findChild<QComboBox *>("location");
    location->setEditText(typed);
    QTest::keyClick(location, Qt::Key_Return);
    QCOMPARE(boxes(), expected);
    if (status.isEmpty()) {
        QCOMPARE(state(), before);
        return;
    }
    QCOMPARE(window->statusBar()->currentMessage(), status);
    QCOMPARE(title(), QFileInfo(expected.last().section('/', 2)).fileName() + " - Quelvin");
}

// Runs with a document shown: the loads above leave one.
void TestDocuments::saveThenOpen()
{
    const QString shown = window->viewer()->currentFileName();
    const QString target = scratch->file("saved.wrl"), missing = scratch->file("missing/copy.wrl");
    QVERIFY(saveAs(target));
    QCOMPARE(window->statusBar()->currentMessage(), target + " saved");
    QCOMPARE(title(), "saved.wrl - Quelvin");
    QCOMPARE(recent().value(0), "&1 saved.wrl -> " + target);

    const qint64 from = QFileInfo(log()).size();
    answerer->clear();
    answerer->queueFile(target);
    window->findChild<QAction *>("actionOpen")->trigger();
    QCOMPARE(boxes().value(1), "information/Viewer/" + target);
    QStringList expectedLog, described;
    QVERIFY(readOurselves(shown, window->viewer()->getViewportRegion(), expectedLog, described));
    QCOMPARE(linesOf(log(), from), expectedLog);
    QCOMPARE(viewpointItems(window), described);

    QFile probe(missing);
    QVERIFY(!probe.open(QIODevice::WriteOnly));
    const QStringList before = state();
    QVERIFY(!saveAs(missing));
    QCOMPARE(boxes().mid(1), QStringList{"warning/Application/Cannot write file " + missing + ":\n" + probe.errorString() + "."});
    QCOMPARE(state(), before);

    // Saving the model over itself where it cannot be written whole: a
    // file-size limit, then a full disk. The model keeps every byte.
    for (const char *kind : {"file size", "full disk"}) {
        const QString limit(kind);
        const QString folder = scratch->file(limit);
        QVERIFY(QDir().mkpath(folder));
        const bool mounted = limit == "full disk"
                             && QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=16k", "tmpfs", folder}) == 0;
        if (limit == "full disk" && !mounted)
            QSKIP("Cannot mount a small file system here (this needs root); the full-disk save is not tried");
        const QString model = folder + "/sample.wrl";
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
        if (mounted) {
            QFile filler(folder + "/filler");
            QVERIFY(filler.open(QIODevice::WriteOnly));
            while (filler.write(QByteArray(512, 'x')) == 512 && filler.flush()) {
            }
        } else {
            QVERIFY(setrlimit(RLIMIT_FSIZE, &limited) == 0);
        }
        answerer->clear();
        bool saved = true;
        const bool called = QMetaObject::invokeMethod(window, "save", Qt::DirectConnection, Q_RETURN_ARG(bool, saved));
        setrlimit(RLIMIT_FSIZE, &unlimited);
        const QByteArray after = harness::readBytes(model);
        const QStringList shown = boxes();
        const QString status = window->statusBar()->currentMessage();
        if (mounted)
            QProcess::execute("umount", {"-l", folder});
        QVERIFY(called && !saved);
        QCOMPARE(after, bytes);
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].startsWith("warning/Application/Cannot write file " + model + ":\n") && shown[0].endsWith("."),
                 qPrintable(shown[0]));
        QVERIFY(status != model + " saved");
    }
}

void TestDocuments::fromCommandLine_data()
{
    QTest::addColumn<QString>("path");
    // The manifest's first two columns: path, role.
    const QString corpus = harness::corpusDir();
    for (const QString &line : linesOf(corpus + "/MANIFEST.tsv"))
        if (line.section('\t', 1, 1) == QLatin1String("top"))
            QTest::newRow(qPrintable(line.section('\t', 0, 0))) << corpus + "/" + line.section('\t', 0, 0);
    // 25 viewpoints, of which 20 are kept; viewpoints in inactive choices.
    for (const char *name : {"viewpoints25.wrl", "switch_viewpoints.wrl"})
        QTest::newRow(name) << data + name;
    // Not readable; Save must then keep it as it is, so it is a copy.
    const QString broken = scratch->file("broken.wrl");
    QVERIFY(QFile::exists(broken) || QFile::copy(data + "broken.wrl", broken));
    QTest::newRow("broken.wrl") << broken;
    // The scenes the README opens.
    for (const char *name : {"sample.wrl", "second.wrl"})
        QTest::newRow(name) << harness::sourceDir() + "/examples/" + name;
}

void TestDocuments::fromCommandLine()
{
    QFETCH(QString, path);
    harness::Scratch here;   // the window opens its logs where it starts
    answerer->clear();
    auto *started = new BrowserWindow(path);   // never deleted: the viewer outlives it

    QStringList expectedLog{"Quelvin viewer log file"}, described, expectedItems{"Default view"},
        expectedBoxes{"warning/Application/Cannot load file"};
    if (readOurselves(path, started->viewer()->getViewportRegion(), expectedLog, described)) {
        expectedItems = described.mid(0, 20);
        expectedBoxes = QStringList{"information/Viewer/" + path};
        if (described.size() > 20)
            expectedBoxes.prepend("warning/Quelvin viewer/More viewpoints than we can store; dropping some");
    }
    QCOMPARE(boxes(), expectedBoxes);
    QCOMPARE(linesOf(here.file("quelvinViewer.log")), expectedLog);
    QCOMPARE(viewpointItems(started), expectedItems);

    // Save: a document that could not be read stays as it was; one that was
    // read is written out and reads back to the same analysis, in this
    // program and in another VRML 97 reader.
    answerer->clear();
    bool saved = false;
    if (expectedBoxes == QStringList{"warning/Application/Cannot load file"}) {
        if (!path.startsWith(scratch->path()))
            return;   // only our own copy is put at risk
        const QByteArray before = harness::readBytes(path);
        QVERIFY(QMetaObject::invokeMethod(started, "save", Qt::DirectConnection, Q_RETURN_ARG(bool, saved)));
        QVERIFY(!saved);
        QCOMPARE(boxes(), QStringList{"warning/Application/Cannot write file " + path
                                      + ":\nthe scene shown was not read from this file."});
        QCOMPARE(harness::readBytes(path), before);
        return;
    }
    const QString copy = here.file("saved.wrl");
    answerer->queueFile(copy);
    QVERIFY(QMetaObject::invokeMethod(started, "saveAs", Qt::DirectConnection, Q_RETURN_ARG(bool, saved)));
    QVERIFY(saved);
    QCOMPARE(boxes().filter(QRegularExpression("^(warning|critical)")), QStringList());
    QStringList reread{"Quelvin viewer log file"}, redescribed;
    QVERIFY(readOurselves(copy, started->viewer()->getViewportRegion(), reread, redescribed, QFileInfo(path).absolutePath()));
    QCOMPARE(firstDifference(reread, expectedLog), QString());
    QCOMPARE(redescribed, described);
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
