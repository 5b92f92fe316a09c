// Documents: what the viewer logs and lists for every corpus file and our own
// test documents, measured against a read of our own; loads from the location
// field that work or fail; saving the shown scene.

#include "harness.h"
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
bool readOurselves(const QString &path, const SbViewportRegion &region, QStringList &log, QStringList &viewpoints)
{
    inlines = 0;
    SoVRMLInline::setFetchURLCallBack(fetchInline, nullptr);
    SoVRMLImageTexture::setPrequalifyFileCallBack(skipTexture, nullptr);
    SoInput in;
    SoSeparator *root = in.openFile(QFile::encodeName(path).constData(), TRUE) ? SoDB::readAll(&in) : nullptr;
    SoVRMLInline::setFetchURLCallBack(Browser::VRMLInlineCB, nullptr);
    SoVRMLImageTexture::setPrequalifyFileCallBack(Browser::prequalify_cb, nullptr);
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
    root->unref();
    return true;
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
}

void TestDocuments::fromCommandLine_data()
{
    QTest::addColumn<QString>("path");
    // The manifest's first two columns: path, role.
    const QString corpus = harness::corpusDir();
    for (const QString &line : linesOf(corpus + "/MANIFEST.tsv"))
        if (line.section('\t', 1, 1) == QLatin1String("top"))
            QTest::newRow(qPrintable(line.section('\t', 0, 0))) << corpus + "/" + line.section('\t', 0, 0);
    // 25 viewpoints, of which 20 are kept; viewpoints in inactive choices; not readable.
    for (const char *name : {"viewpoints25.wrl", "switch_viewpoints.wrl", "broken.wrl"})
        QTest::newRow(name) << data + name;
    // A viewpoint and a shape that come in through an inline.
    QTest::newRow("inlined.wrl") << harness::sourceDir() + "/tests/data/navigation/inlined.wrl";
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
}

QTEST_MAIN(TestDocuments)
#include "tst_documents.moc"
