// Documents: opening them through every road a user has (command line, Open
// dialog, location field, recent-file entries), what the viewer writes about
// each scene into its log, what happens when a document cannot be had, and
// saving the shown scene.

#include "harness.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/SoPath.h>
#include <Inventor/actions/SoGetBoundingBoxAction.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/nodes/SoCamera.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/VRMLnodes/SoVRMLGeometry.h>
#include <Inventor/VRMLnodes/SoVRMLImageTexture.h>
#include <Inventor/VRMLnodes/SoVRMLIndexedFaceSet.h>
#include <Inventor/VRMLnodes/SoVRMLInline.h>
#include <Inventor/VRMLnodes/SoVRMLText.h>
#include <Inventor/VRMLnodes/SoVRMLViewpoint.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMetaMethod>
#include <QNetworkProxy>
#include <QProgressBar>
#include <QStatusBar>
#include <QTcpServer>
#include <QVector3D>
#include <QWindow>
#include <QtTest>

#include <memory>
#include <sstream>

using harness::Box;

Q_DECLARE_METATYPE(harness::Box)

namespace {

QString dataFile(const QString &name)
{
    return harness::sourceDir() + "/tests/data/documents/" + name;
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QStringList linesOf(const QByteArray &text)
{
    QStringList lines = QString::fromUtf8(text).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

Box information(const QString &title, const QString &text) { return {"information", title, text}; }
Box warning(const QString &title, const QString &text) { return {"warning", title, text}; }

QString describe(const QList<Box> &boxes)
{
    QStringList parts;
    for (const Box &box : boxes)
        parts << QStringLiteral("%1 \"%2\" \"%3\"").arg(box.kind, box.title, box.text);
    return parts.join(QStringLiteral(" | "));
}

#define COMPARE_BOXES(actual, expected)                                                      \
    do {                                                                                     \
        const QList<Box> got_ = (actual);                                                    \
        const QList<Box> wanted_ = (expected);                                               \
        QVERIFY2(got_ == wanted_,                                                            \
                 qPrintable("got: " + describe(got_) + "\nwanted: " + describe(wanted_)));    \
    } while (0)

// The file dialog records its start directory as text; only the kind and
// caption are the program's business here.
QList<Box> withoutFileDialogDirectory(QList<Box> boxes)
{
    for (Box &box : boxes)
        if (box.kind == QLatin1String("file"))
            box.text.clear();
    return boxes;
}

// What the viewer is expected to write into its log for the hand-made test
// documents, worked out from the geometry in each file.
QStringList expectedAnalysis(const QString &name)
{
    if (name == QLatin1String("tour.wrl"))
        return {
            "sceneCentre = 1.5, 0, 0",
            "bbox min = -1, -2, -3",
            "bbox max = 4, 2, 3",
            "No. geometry nodes = 2",
            "geom no. 0 VRMLGeometry",
            "  bbox min = -1, -2, -3",
            "  bbox max = 1, 2, 3",
            "geom no. 1 VRMLGeometry",
            "  bbox min = -1, -1, 0",
            "  bbox max = 1, 1, 0.5",
            "No. text nodes = 0",
            "No. i-f-s nodes = 1",
            "ifs no. 0 VRMLIndexedFaceSet",
            "  bbox min = -1, -1, 0",
            "  bbox max = 1, 1, 0.5",
        };
    if (name == QLatin1String("shared_geometry.wrl"))
        return {
            "sceneCentre = 0, 0, 0",
            "bbox min = -4, -1, -1",
            "bbox max = 4, 1, 1",
            "No. geometry nodes = 2",
            "geom no. 0 VRMLGeometry",
            "  bbox min = -1, -1, -1",
            "  bbox max = 1, 1, 1",
            "geom no. 1 VRMLGeometry",
            "  bbox min = -1, -1, -1",
            "  bbox max = 1, 1, 1",
            "No. text nodes = 0",
            "No. i-f-s nodes = 0",
        };
    if (name == QLatin1String("switch_viewpoints.wrl"))
        return {
            "sceneCentre = 0, 0, 0",
            "bbox min = -0.5, -0.5, -0.5",
            "bbox max = 0.5, 0.5, 0.5",
            "No. geometry nodes = 1",
            "geom no. 0 VRMLGeometry",
            "  bbox min = -0.5, -0.5, -0.5",
            "  bbox max = 0.5, 0.5, 0.5",
            "No. text nodes = 0",
            "No. i-f-s nodes = 0",
        };
    // Six significant digits: the far box's x runs to 1234567.5 and the
    // near box is 2/3 wide; the single boxes are measured without the
    // translation above them.
    if (name == QLatin1String("no_viewpoints.wrl"))
        return {
            "sceneCentre = 617284, 0, 0",
            "bbox min = -0.333333, -1, -1",
            "bbox max = 1.23457e+06, 1, 1",
            "No. geometry nodes = 2",
            "geom no. 0 VRMLGeometry",
            "  bbox min = -0.5, -0.5, -0.5",
            "  bbox max = 0.5, 0.5, 0.5",
            "geom no. 1 VRMLGeometry",
            "  bbox min = -0.333333, -1, -1",
            "  bbox max = 0.333333, 1, 1",
            "No. text nodes = 0",
            "No. i-f-s nodes = 0",
        };
    if (name == QLatin1String("viewpoints25.wrl"))
        return {
            "sceneCentre = 0, 0, 0",
            "bbox min = -13, -0.5, -0.5",
            "bbox max = 13, 0.5, 0.5",
            "No. geometry nodes = 1",
            "geom no. 0 VRMLGeometry",
            "  bbox min = -13, -0.5, -0.5",
            "  bbox max = 13, 0.5, 0.5",
            "No. text nodes = 0",
            "No. i-f-s nodes = 0",
        };
    return {};
}

QStringList expectedViewpoints(const QString &name)
{
    if (name == QLatin1String("tour.wrl"))
        return {"Front", "Side", QString::fromUtf8("Caf\xc3\xa9 on top")};
    if (name == QLatin1String("shared_geometry.wrl"))
        return {"Both boxes"};
    if (name == QLatin1String("switch_viewpoints.wrl"))
        return {"Hidden near", "Hidden far", "Behind the visible choice"};
    if (name == QLatin1String("viewpoints25.wrl")) {
        QStringList stops;
        for (int i = 1; i <= 20; ++i)
            stops << QStringLiteral("Stop %1").arg(i, 2, 10, QChar('0'));
        return stops;
    }
    return {};
}

// --- An analysis of the same document, made without the program ----------

// The expectation for a real document comes from a read of its own: the
// file is read again with Coin, inlines are resolved against the directory
// of the file that names them and read at once, as the program's loader
// does for local files while the scene is read, and the documented analysis
// is computed on that copy with search and bounding-box actions of our own.
// Nothing of the program's scene, loader or log code takes part, so a
// document the program reads or measures differently shows up as a
// difference. Textures are left unread: they change no count or box.
class IndependentReader
{
public:
    static SoSeparator *read(const QString &path)
    {
        directories = QStringList{QFileInfo(path).absolutePath()};
        inlineHooks = 0;
        SoVRMLInline::setReadAsSoFile(FALSE);
        SoVRMLInline::setFetchURLCallBack(fetchInline, nullptr);
        SoVRMLImageTexture::setPrequalifyFileCallBack(skipTexture, nullptr);
        SoSeparator *root = nullptr;
        SoInput in;
        if (in.openFile(QFile::encodeName(path).constData(), FALSE))
            root = SoDB::readAll(&in);
        // Back to the program's hooks, as its viewer registered them.
        SoVRMLInline::setFetchURLCallBack(Browser::VRMLInlineCB, nullptr);
        SoVRMLImageTexture::setPrequalifyFileCallBack(Browser::prequalify_cb, nullptr);
        if (root)
            root->ref();
        return root;
    }

private:
    // The program keeps one base location for the document and one more for
    // every inline it meets, and reads no inline once there are 64; a file
    // that inlines itself ends there, and so must this copy.
    static constexpr int maxBaseLocations = 64;

    static void fetchInline(const SbString &, void *, SoVRMLInline *node)
    {
        if (node->url.getNum() < 1)
            return;
        ++inlineHooks;
        if (1 + inlineHooks >= maxBaseLocations)
            return;
        const QString url = QString::fromUtf8(node->url[0].getString());
        const QString path = QFileInfo(url).isAbsolute()
                                 ? url
                                 : QDir(directories.last()).absoluteFilePath(url);
        SoInput in;
        if (!QFileInfo(path).isFile() || !in.openFile(QFile::encodeName(path).constData(), FALSE))
            return;
        directories.append(QFileInfo(path).absolutePath());
        node->setChildData(SoDB::readAll(&in));
        directories.removeLast();
    }

    static SbBool skipTexture(const SbString &, void *, SoVRMLImageTexture *) { return FALSE; }

    static QStringList directories;
    static int inlineHooks;
};

QStringList IndependentReader::directories;
int IndependentReader::inlineHooks = 0;

void writeBox(std::ostringstream &out, const char *indent, const SbBox3f &box)
{
    const SbVec3f &lo = box.getMin();
    const SbVec3f &hi = box.getMax();
    out << indent << "bbox min = " << lo[0] << ", " << lo[1] << ", " << lo[2] << "\n";
    out << indent << "bbox max = " << hi[0] << ", " << hi[1] << ", " << hi[2] << "\n";
}

SoPathList findAll(SoNode *root, SoType type)
{
    SoSearchAction search;
    search.setType(type, TRUE);
    search.setInterest(SoSearchAction::ALL);
    search.setSearchingAll(TRUE);
    search.apply(root);
    return search.getPaths();
}

QStringList analyse(SoNode *root, const SbViewportRegion &region)
{
    std::ostringstream out;
    SoGetBoundingBoxAction bbox(region);
    bbox.apply(root);
    const SbBox3f box = bbox.getBoundingBox();
    const SbVec3f centre = box.isEmpty() ? SbVec3f(0, 0, 0) : box.getCenter();
    out << "sceneCentre = " << centre[0] << ", " << centre[1] << ", " << centre[2] << "\n";
    writeBox(out, "", box);
    struct Section { SoType type; const char *count; const char *item; const char *name; };
    const Section sections[] = {
        {SoVRMLGeometry::getClassTypeId(), "No. geometry nodes = ", "geom no. ", "VRMLGeometry"},
        {SoVRMLText::getClassTypeId(), "No. text nodes = ", "text no. ", "VRMLText"},
        {SoVRMLIndexedFaceSet::getClassTypeId(), "No. i-f-s nodes = ", "ifs no. ", "VRMLIndexedFaceSet"},
    };
    for (const Section &section : sections) {
        const SoPathList paths = findAll(root, section.type);
        out << section.count << paths.getLength() << "\n";
        for (int i = 0; i < paths.getLength(); ++i) {
            out << section.item << i << " " << section.name << "\n";
            bbox.apply(paths[i]->getTail());
            writeBox(out, "  ", bbox.getBoundingBox());
        }
    }
    return linesOf(QByteArray::fromStdString(out.str()));
}

QStringList viewpointDescriptions(SoNode *root)
{
    QStringList descriptions;
    const SoPathList paths = findAll(root, SoVRMLViewpoint::getClassTypeId());
    for (int i = 0; i < paths.getLength(); ++i) {
        auto *viewpoint = static_cast<SoVRMLViewpoint *>(paths[i]->getTail());
        descriptions << QString::fromUtf8(viewpoint->description.getValue().getString());
    }
    return descriptions;
}

QString coinFileName(const QString &path)
{
    SoInput in;
    if (!in.openFile(QFile::encodeName(path).constData(), FALSE))
        return QString();
    return QString::fromUtf8(in.getCurFileName());
}

// Everything a failed load must leave as it was.
struct DocumentState
{
    SoSeparator *scene = nullptr;
    SoNode *shownRoot = nullptr;
    QString title;
    QStringList recent;
    QStringList viewpoints;
    QString coinName;
    QByteArray log;
};

} // namespace

class TestDocuments : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void saveWithoutCurrentFileAsksForName();
    void saveSlotsOnlyThroughMetaObject();
    void successfulLoads_data();
    void successfulLoads();
    void sceneAnalysis_data();
    void sceneAnalysis();
    void failedLoadsKeepDocument_data();
    void failedLoadsKeepDocument();
    void saveThenOpen_data();
    void saveThenOpen();
    void saveToMissingDirectory();
    void saveOverCurrentFile();
    // Makes windows of its own, which take the viewer-wide state with them:
    // it has to stay last.
    void corpusFromCommandLine_data();
    void corpusFromCommandLine();

private:
    enum Route { OpenDialog, LocationField, RecentEntry };

    QString doc(const QString &name) const { return docs + "/" + name; }
    QString viewerLogPath() const { return scratch->file("quelvinViewer.log"); }
    QAction *action(const char *name) const { return window->findChild<QAction *>(name); }
    QLineEdit *locationEdit() const { return window->findChild<QComboBox *>("location")->lineEdit(); }
    QString shownTitle() const { return window->windowHandle()->title(); }
    QString statusText() const { return window->statusBar()->currentMessage(); }
    QStringList viewpointItems(BrowserWindow *w = nullptr) const;
    QStringList recentEntries() const;
    QAction *recentEntry(const QString &path) const;
    void typeLocation(const QString &text);
    bool load(Route route, const QString &text);
    bool invokeSave(const char *slot);
    DocumentState state() const;
    QString differences(const DocumentState &before, const DocumentState &after) const;

    std::unique_ptr<harness::Scratch> scratch;
    harness::ModalAnswerer *answerer = nullptr;
    BrowserWindow *window = nullptr;
    QString docs;
};

QStringList TestDocuments::viewpointItems(BrowserWindow *w) const
{
    QComboBox *combo = (w ? w : window)->findChild<QComboBox *>("viewpoints");
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

// The recent-file entries stand in the File menu without object names of
// their own; the form's actions all have one.
QStringList TestDocuments::recentEntries() const
{
    QStringList entries;
    const auto actions = window->findChild<QMenu *>("menuFile")->actions();
    for (QAction *a : actions)
        if (!a->isSeparator() && a->objectName().isEmpty() && a->isVisible())
            entries << a->text() + " -> " + a->data().toString();
    return entries;
}

QAction *TestDocuments::recentEntry(const QString &path) const
{
    const auto actions = window->findChild<QMenu *>("menuFile")->actions();
    for (QAction *a : actions)
        if (a->objectName().isEmpty() && a->isVisible() && a->data().toString() == path)
            return a;
    return nullptr;
}

// Keys go to the combo box, which has the keyboard focus for its line edit
// and hands them on, as they come from a real keyboard.
void TestDocuments::typeLocation(const QString &text)
{
    QComboBox *combo = window->findChild<QComboBox *>("location");
    combo->lineEdit()->selectAll();
    QTest::keyClick(combo, Qt::Key_Backspace);
    // QTest types ASCII only; other letters go as their own key with text.
    for (const QChar ch : text) {
        if (ch.unicode() < 128)
            QTest::keyClick(combo, ch.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, combo, Qt::Key(ch.toUpper().unicode()), QString(ch),
                                Qt::NoModifier);
    }
    QTest::keyClick(combo, Qt::Key_Return);
}

bool TestDocuments::load(Route route, const QString &text)
{
    switch (route) {
    case OpenDialog:
        if (text.isEmpty())
            answerer->queueCancel();
        else
            answerer->queueFile(text);
        action("actionOpen")->trigger();
        return true;
    case LocationField:
        typeLocation(text);
        return true;
    case RecentEntry:
        if (QAction *entry = recentEntry(text)) {
            entry->trigger();
            return true;
        }
        qWarning("no recent-file entry for %s", qPrintable(text));
        return false;
    }
    return false;
}

bool TestDocuments::invokeSave(const char *slot)
{
    bool result = false;
    const bool invoked = QMetaObject::invokeMethod(window, slot, Qt::DirectConnection,
                                                   Q_RETURN_ARG(bool, result));
    if (!invoked)
        qWarning("%s could not be invoked", slot);
    return invoked && result;
}

DocumentState TestDocuments::state() const
{
    DocumentState s;
    s.scene = Browser::loadedScene();
    s.shownRoot = window->viewer()->getSceneGraph();
    s.title = shownTitle();
    s.recent = recentEntries();
    s.viewpoints = viewpointItems();
    s.coinName = window->viewer()->currentFileName();
    s.log = readBytes(viewerLogPath());
    return s;
}

QString TestDocuments::differences(const DocumentState &a, const DocumentState &b) const
{
    QStringList d;
    if (a.scene != b.scene)
        d << "the loaded scene changed";
    if (a.shownRoot != b.shownRoot)
        d << "the shown scene graph changed";
    if (a.title != b.title)
        d << "title: " + a.title + " => " + b.title;
    if (a.recent != b.recent)
        d << "recent files: " + a.recent.join(", ") + " => " + b.recent.join(", ");
    if (a.viewpoints != b.viewpoints)
        d << "viewpoints: " + a.viewpoints.join(", ") + " => " + b.viewpoints.join(", ");
    if (a.coinName != b.coinName)
        d << "file name: " + a.coinName + " => " + b.coinName;
    if (a.log != b.log)
        d << "viewer log grew by: " + QString::fromUtf8(b.log.mid(a.log.size()));
    return d.join("; ");
}

void TestDocuments::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    // Nothing in these tests may reach past this machine: any download goes
    // through a proxy that is not there.
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", probe.serverPort()));
    }
    // Animated scenes (time sensors driving interpolators) would otherwise
    // measure differently from one moment to the next; with Coin's clock
    // stopped, two reads of one document see the same scene.
    SoDB::init();
    SoDB::enableRealTimeSensor(FALSE);

    scratch.reset(new harness::Scratch);
    QVERIFY(scratch->isValid());
    docs = scratch->file("docs");
    QVERIFY(QDir().mkpath(docs));
    QVERIFY(QDir().mkpath(doc("folder")));
    const QStringList names = {"tour.wrl", "shared_geometry.wrl", "switch_viewpoints.wrl",
                               "no_viewpoints.wrl", "broken.wrl", "viewpoints25.wrl"};
    for (const QString &name : names)
        QVERIFY2(QFile::copy(dataFile(name), doc(name)), qPrintable(name));

    answerer = new harness::ModalAnswerer(this);
    window = new BrowserWindow(QString());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(answerer->boxes.isEmpty());
    QCOMPARE(shownTitle(), QStringLiteral("Quelvin"));
}

// Must run while the window still has no current file.
void TestDocuments::saveWithoutCurrentFileAsksForName()
{
    const QStringList recentBefore = recentEntries();
    const QString target = scratch->file("first.wrl");

    answerer->clear();
    answerer->queueCancel();
    QVERIFY(!invokeSave("save"));
    QCOMPARE(answerer->boxes.size(), 1);
    QCOMPARE(answerer->boxes[0].kind, QStringLiteral("file"));
    QCOMPARE(shownTitle(), QStringLiteral("Quelvin"));
    QCOMPARE(recentEntries(), recentBefore);
    QVERIFY(QDir(scratch->path()).entryList({"*.wrl"}, QDir::Files).isEmpty());

    // Still no current file, so it asks again; this time a name is given.
    answerer->clear();
    answerer->queueFile(target);
    QVERIFY(invokeSave("save"));
    QCOMPARE(answerer->boxes.size(), 1);
    QCOMPARE(answerer->boxes[0].kind, QStringLiteral("file"));
    QCOMPARE(statusText(), target + " saved");
    QCOMPARE(shownTitle(), QStringLiteral("first.wrl - Quelvin"));
    QCOMPARE(recentEntries().value(0), "&1 first.wrl -> " + target);
    QVERIFY(QFileInfo(target).size() > 0);

    // What was shown, the default disc, comes back when the file is opened.
    const QByteArray logBefore = readBytes(viewerLogPath());
    answerer->clear();
    QVERIFY(load(OpenDialog, target));
    COMPARE_BOXES(withoutFileDialogDirectory(answerer->boxes),
                  QList<Box>({{"file", "Open VRML File", QString()}, information("Viewer", target)}));
    const QStringList analysis = linesOf(readBytes(viewerLogPath()).mid(logBefore.size()));
    QVERIFY2(analysis.contains("No. geometry nodes = 1"), qPrintable(analysis.join('\n')));
}

void TestDocuments::saveSlotsOnlyThroughMetaObject()
{
    for (const char *signature : {"save()", "saveAs()"}) {
        const int index = window->metaObject()->indexOfSlot(signature);
        QVERIFY2(index >= 0, signature);
        QCOMPARE(window->metaObject()->method(index).returnType(), int(QMetaType::Bool));
    }
    // Neither command is in a menu or on a toolbar.
    for (const char *name : {"actionSave", "actionSave_As"}) {
        QAction *a = action(name);
        QVERIFY2(a, name);
        QVERIFY2(a->associatedWidgets().isEmpty(), name);
    }
}

void TestDocuments::successfulLoads_data()
{
    QTest::addColumn<int>("route");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("content");  // the test document it is a copy of
    QTest::addColumn<QString>("typed");    // for the location field: how the user writes it
    QTest::addColumn<QList<Box>>("leadingBoxes");
    QTest::addColumn<QString>("status");

    const QString fileStatus = QStringLiteral("%1 loaded  scheme: 'file'");
    const QString localStatus = QStringLiteral("loaded local file %1");
    const QList<Box> dialog{{"file", "Open VRML File", QString()}};
    const QList<Box> tryingLocal{information("HTTP", "trying to load as local file")};
    const QString spaced = QString::fromUtf8("Caf\xc3\xa9 tour.wrl");
    QTest::newRow("open dialog") << int(OpenDialog) << "tour.wrl" << "tour.wrl" << QString()
                                 << dialog << fileStatus;
    QTest::newRow("file URL in location field") << int(LocationField) << "shared_geometry.wrl"
                                                << "shared_geometry.wrl" << "file://%1"
                                                << QList<Box>() << fileStatus;
    QTest::newRow("bare path in location field")
        << int(LocationField) << "no_viewpoints.wrl" << "no_viewpoints.wrl" << "%1" << tryingLocal
        << localStatus;
    QTest::newRow("recent-file entry") << int(RecentEntry) << "tour.wrl" << "tour.wrl" << QString()
                                       << QList<Box>() << fileStatus;
    QTest::newRow("open dialog, blank and accent in the name")
        << int(OpenDialog) << spaced << "tour.wrl" << QString() << dialog << fileStatus;
    QTest::newRow("bare path with blank and accent")
        << int(LocationField) << spaced << "tour.wrl" << "%1" << tryingLocal << localStatus;
}

void TestDocuments::successfulLoads()
{
    QFETCH(int, route);
    QFETCH(QString, file);
    QFETCH(QString, content);
    QFETCH(QString, typed);
    QFETCH(QList<Box>, leadingBoxes);
    QFETCH(QString, status);
    const QString path = doc(file);
    if (!QFile::exists(path))
        QVERIFY(QFile::copy(doc(content), path));

    const QByteArray logBefore = readBytes(viewerLogPath());
    answerer->clear();
    QVERIFY(load(Route(route), typed.isEmpty() ? path : typed.arg(path)));

    COMPARE_BOXES(withoutFileDialogDirectory(answerer->boxes), leadingBoxes << information("Viewer", path));
    QCOMPARE(statusText(), status.arg(path));
    QCOMPARE(shownTitle(), file + " - Quelvin");
    QCOMPARE(locationEdit()->text(), "file://" + path);
    const QStringList recent = recentEntries();
    QCOMPARE(recent.value(0), "&1 " + file + " -> " + path);
    QCOMPARE(recent.filter(" -> " + path).size(), 1);
    QCOMPARE(linesOf(readBytes(viewerLogPath()).mid(logBefore.size())), expectedAnalysis(content));
    QCOMPARE(viewpointItems(), expectedViewpoints(content));
    QCOMPARE(window->viewer()->currentFileName(), path);
}

void TestDocuments::sceneAnalysis_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QList<Box>>("boxes");
    QTest::addColumn<QVector3D>("camera");

    const Box dialog{"file", "Open VRML File", QString()};
    QTest::newRow("25 viewpoints")
        << "viewpoints25.wrl"
        << QList<Box>({dialog, warning("Quelvin viewer", "More viewpoints than we can store; dropping some"),
                       information("Viewer", doc("viewpoints25.wrl"))})
        << QVector3D(-12, 0, 10);
    QTest::newRow("viewpoints only in inactive choices")
        << "switch_viewpoints.wrl"
        << QList<Box>({dialog, information("Viewer", doc("switch_viewpoints.wrl"))})
        << QVector3D(0, 0, 10);
    // With no viewpoint of its own, the camera goes to the first one of the
    // scene before.
    QTest::newRow("no viewpoints")
        << "no_viewpoints.wrl" << QList<Box>({dialog, information("Viewer", doc("no_viewpoints.wrl"))})
        << QVector3D(0, 0, 20);
    QTest::newRow("shared geometry")
        << "shared_geometry.wrl"
        << QList<Box>({dialog, information("Viewer", doc("shared_geometry.wrl"))})
        << QVector3D(0, 0, 12);
}

void TestDocuments::sceneAnalysis()
{
    QFETCH(QString, file);
    QFETCH(QList<Box>, boxes);
    QFETCH(QVector3D, camera);

    // A scene with viewpoints first, so that an empty list is the new
    // scene's doing.
    answerer->clear();
    QVERIFY(load(OpenDialog, doc("tour.wrl")));
    QCOMPARE(viewpointItems().size(), 3);

    const QByteArray logBefore = readBytes(viewerLogPath());
    answerer->clear();
    QVERIFY(load(OpenDialog, doc(file)));
    COMPARE_BOXES(withoutFileDialogDirectory(answerer->boxes), boxes);
    QCOMPARE(viewpointItems(), expectedViewpoints(file));
    QCOMPARE(Browser::viewpointCount(), expectedViewpoints(file).size());
    QCOMPARE(linesOf(readBytes(viewerLogPath()).mid(logBefore.size())), expectedAnalysis(file));
    const SbVec3f position = window->viewer()->getCamera()->position.getValue();
    QCOMPARE(QVector3D(position[0], position[1], position[2]), camera);
}

void TestDocuments::failedLoadsKeepDocument_data()
{
    QTest::addColumn<int>("route");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QList<Box>>("boxes");

    // A port that nobody listens on, so a download starts and fails at once.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    const QString absent = doc("absent.wrl");
    const QString victim = doc("victim.wrl");
    const QString broken = doc("broken.wrl");
    const QString cannotLoad = QStringLiteral("Cannot load file");
    const Box tryingLocal = information("HTTP", "trying to load as local file");
    const QString cannotRead = QStringLiteral("Cannot read file %1:\n%2.");

    QTest::newRow("file URL of a missing file")
        << int(LocationField) << "file://" + absent
        << QList<Box>({warning("Application", cannotRead.arg(absent, QFile(absent).errorString()))});
    QTest::newRow("recent entry of a file removed since")
        << int(RecentEntry) << victim
        << QList<Box>({warning("Application", cannotRead.arg(victim, QFile(victim).errorString()))});
    QTest::newRow("unparsable file from the Open dialog")
        << int(OpenDialog) << broken
        << QList<Box>({{"file", "Open VRML File", QString()}, warning("Application", cannotLoad)});
    QTest::newRow("unparsable file as file URL")
        << int(LocationField) << "file://" + broken << QList<Box>({warning("Application", cannotLoad)});
    QTest::newRow("unparsable file as bare path")
        << int(LocationField) << broken << QList<Box>({tryingLocal, warning("Application", cannotLoad)});
    QTest::newRow("http URL nobody answers")
        << int(LocationField) << QStringLiteral("http://127.0.0.1:%1/remote.wrl").arg(closedPort)
        << QList<Box>({information("HTTP", "scheme: http")});
    QTest::newRow("ftp URL")
        << int(LocationField) << "ftp://127.0.0.1/remote.wrl"
        << QList<Box>({information("HTTP", "ftp not implemented yet")});
    QTest::newRow("bare path ending in a slash")
        << int(LocationField) << doc("folder") + "/"
        << QList<Box>({tryingLocal,
                       warning("Application", "maybe a directory, wait next version for implementation")});
    QTest::newRow("bare path of a missing file")
        << int(LocationField) << doc("nowhere.wrl")
        << QList<Box>({tryingLocal, warning("Browser", "Cant handle \"" + doc("nowhere.wrl") + "\"")});
    QTest::newRow("empty location") << int(LocationField) << QString()
                                    << QList<Box>({information("HTTP", "Invalid URL: ")});
    QTest::newRow("cancelled Open dialog") << int(OpenDialog) << QString()
                                           << QList<Box>({{"file", "Open VRML File", QString()}});
    QTest::newRow("file URL ending in a slash")
        << int(LocationField) << "file://" + doc("folder") + "/" << QList<Box>();
}

void TestDocuments::failedLoadsKeepDocument()
{
    QFETCH(int, route);
    QFETCH(QString, input);
    QFETCH(QList<Box>, boxes);

    // The entry of a file removed since the menu was last refreshed.
    const bool removed = route == RecentEntry;
    if (removed) {
        QVERIFY(QFile::copy(doc("shared_geometry.wrl"), input));
        answerer->clear();
        QVERIFY(load(OpenDialog, input));
        QCOMPARE(answerer->boxes.size(), 2);
    }
    // A document with viewpoints is shown when the failure happens.
    answerer->clear();
    QVERIFY(load(OpenDialog, doc("tour.wrl")));
    QCOMPARE(answerer->boxes.size(), 2);
    QCOMPARE(viewpointItems(), expectedViewpoints("tour.wrl"));
    if (removed) {
        QVERIFY(QFile::remove(input));
        QVERIFY(recentEntry(input));
    }

    const DocumentState before = state();
    answerer->clear();
    QVERIFY(load(Route(route), input));
    if (input.startsWith("http:")) {
        // The download runs on; it is over when the progress bar goes.
        QProgressBar *progress = window->findChild<QProgressBar *>("progress");
        QTRY_VERIFY_WITH_TIMEOUT(!progress->isVisible(), 30000);
        harness::settle(100);
    }
    COMPARE_BOXES(withoutFileDialogDirectory(answerer->boxes), boxes);
    const QString changed = differences(before, state());
    QVERIFY2(changed.isEmpty(), qPrintable(changed));
    QCOMPARE(Browser::viewpointCount(), 3);

    // The scene still shown is still the viewer's to work with.
    answerer->clear();
    QMetaObject::invokeMethod(window, "viewpointActivated", Qt::DirectConnection, Q_ARG(int, 1));
    QCOMPARE(Browser::currentViewpoint(), 1);
    QVERIFY(answerer->boxes.isEmpty());
}

void TestDocuments::saveThenOpen_data()
{
    QTest::addColumn<QString>("source");

    QTest::newRow("viewpoints, box and face set") << doc("tour.wrl");
    QTest::newRow("shared geometry") << doc("shared_geometry.wrl");
    QTest::newRow("viewpoints in switches") << doc("switch_viewpoints.wrl");
    const QString corpus = harness::corpusDir();
    QTest::newRow("corpus: face sets with normals") << corpus + "/castle-demo-models/vrml_2/normals.wrl";
    QTest::newRow("corpus: text, gzip-compressed") << corpus + "/castle-demo-models/vrml_2/cones.wrl.gz";
    QTest::newRow("corpus: extrusions") << corpus + "/castle-demo-models/vrml_2/extrusion_concave_cap.wrl";
}

void TestDocuments::saveThenOpen()
{
    QFETCH(QString, source);
    static int round = 0;
    const QString target = scratch->file(QStringLiteral("saved-%1-").arg(++round)
                                         + QFileInfo(source).completeBaseName() + ".wrl");

    QByteArray log = readBytes(viewerLogPath());
    answerer->clear();
    QVERIFY(load(OpenDialog, source));
    COMPARE_BOXES(answerer->boxes.mid(1), QList<Box>{information("Viewer", source)});
    const QStringList original = linesOf(readBytes(viewerLogPath()).mid(log.size()));
    const QStringList originalViewpoints = viewpointItems();
    QVERIFY(!original.isEmpty());

    answerer->clear();
    answerer->queueFile(target);
    QVERIFY(invokeSave("saveAs"));
    QCOMPARE(answerer->boxes.size(), 1);
    QCOMPARE(answerer->boxes[0].kind, QStringLiteral("file"));
    QCOMPARE(statusText(), target + " saved");
    QCOMPARE(shownTitle(), QFileInfo(target).fileName() + " - Quelvin");
    QCOMPARE(recentEntries().value(0), "&1 " + QFileInfo(target).fileName() + " -> " + target);
    QVERIFY(QFileInfo(target).size() > 0);

    log = readBytes(viewerLogPath());
    answerer->clear();
    QVERIFY(load(OpenDialog, target));
    COMPARE_BOXES(withoutFileDialogDirectory(answerer->boxes),
                  QList<Box>({{"file", "Open VRML File", QString()}, information("Viewer", target)}));
    QCOMPARE(linesOf(readBytes(viewerLogPath()).mid(log.size())), original);
    QCOMPARE(viewpointItems(), originalViewpoints);
}

void TestDocuments::saveToMissingDirectory()
{
    answerer->clear();
    QVERIFY(load(OpenDialog, doc("tour.wrl")));
    const QString target = doc("missing/deeper/copy.wrl");
    QString reason;
    {
        QFile probe(target);
        QVERIFY(!probe.open(QIODevice::WriteOnly));
        reason = probe.errorString();
    }
    const QString title = shownTitle();
    const QStringList recent = recentEntries();

    answerer->clear();
    answerer->queueFile(target);
    QVERIFY(!invokeSave("saveAs"));
    QVERIFY2(answerer->boxes.size() == 2 && answerer->boxes[0].kind == QLatin1String("file")
                 && answerer->boxes[1]
                        == warning("Application",
                                   QStringLiteral("Cannot write file %1:\n%2.").arg(target, reason)),
             qPrintable(describe(answerer->boxes)));
    QCOMPARE(shownTitle(), title);
    QCOMPARE(recentEntries(), recent);
    QVERIFY(!QFileInfo::exists(doc("missing")));

    // Save goes on writing to the document that is still current.
    answerer->clear();
    QVERIFY(invokeSave("save"));
    QVERIFY(answerer->boxes.isEmpty());
    QCOMPARE(statusText(), doc("tour.wrl") + " saved");
}

void TestDocuments::saveOverCurrentFile()
{
    const QString target = doc("over.wrl");
    QVERIFY(QFile::copy(doc("tour.wrl"), target));
    const QByteArray log = readBytes(viewerLogPath());
    answerer->clear();
    QVERIFY(load(OpenDialog, target));
    QCOMPARE(answerer->boxes.size(), 2);
    const QStringList original = linesOf(readBytes(viewerLogPath()).mid(log.size()));
    QCOMPARE(original, expectedAnalysis("tour.wrl"));

    // The document is current, so Save writes over it without asking; and
    // a second save over the first.
    for (int round = 0; round < 2; ++round) {
        answerer->clear();
        QVERIFY(invokeSave("save"));
        QVERIFY2(answerer->boxes.isEmpty(), qPrintable(describe(answerer->boxes)));
        QCOMPARE(statusText(), target + " saved");
        QVERIFY(QFileInfo(target).size() > 0);
        QCOMPARE(QDir(docs).entryList({"over.wrl*", ".over.wrl*"}, QDir::Files | QDir::Hidden),
                 QStringList{"over.wrl"});

        const QByteArray before = readBytes(viewerLogPath());
        answerer->clear();
        QVERIFY(load(OpenDialog, target));
        COMPARE_BOXES(answerer->boxes.mid(1), QList<Box>{information("Viewer", target)});
        QCOMPARE(linesOf(readBytes(viewerLogPath()).mid(before.size())), original);
        QCOMPARE(viewpointItems(), expectedViewpoints("tour.wrl"));
    }
}

// --- The corpus of real documents -----------------------------------------

void TestDocuments::corpusFromCommandLine_data()
{
    QTest::addColumn<QString>("path");

    const QString corpus = harness::corpusDir();
    const QStringList manifest = linesOf(readBytes(corpus + "/MANIFEST.tsv"));
    QVERIFY2(manifest.size() > 1, qPrintable(corpus + "/MANIFEST.tsv"));
    const QStringList header = manifest.first().split('\t');
    const int pathColumn = header.indexOf("path");
    const int roleColumn = header.indexOf("role");
    QVERIFY(pathColumn >= 0 && roleColumn >= 0);
    int rows = 0;
    for (const QString &line : manifest.mid(1)) {
        const QStringList fields = line.split('\t');
        if (fields.value(roleColumn) != QLatin1String("top"))
            continue;
        const QString relative = fields.value(pathColumn);
        QTest::newRow(qPrintable(relative)) << corpus + "/" + relative;
        ++rows;
    }
    QVERIFY(rows > 0);
}

void TestDocuments::corpusFromCommandLine()
{
    QFETCH(QString, path);
    QVERIFY(QFileInfo(path).isFile());

    // Every window opens its logs in the working directory of its start.
    harness::Scratch here;
    answerer->clear();
    auto *started = new BrowserWindow(path);
    const QList<Box> boxes = answerer->boxes;
    const QByteArray log = readBytes(here.file("quelvinViewer.log"));
    const QStringList items = viewpointItems(started);

    SoSeparator *copy = IndependentReader::read(path);
    QStringList expectedLog{"Quelvin viewer log file", ""};
    QList<Box> expectedBoxes;
    QStringList expectedItems{"Default view"};
    if (copy) {
        expectedLog << analyse(copy, started->viewer()->getViewportRegion());
        expectedItems = viewpointDescriptions(copy).mid(0, 20);
        if (viewpointDescriptions(copy).size() > 20)
            expectedBoxes << warning("Quelvin viewer", "More viewpoints than we can store; dropping some");
        expectedBoxes << information("Viewer", coinFileName(path));
        copy->unref();
    } else {
        expectedBoxes << warning("Application", "Cannot load file");
    }

    COMPARE_BOXES(boxes, expectedBoxes);
    QCOMPARE(linesOf(log), expectedLog);
    QCOMPARE(items, expectedItems);
    // The window is left alone, never deleted: its viewer lives on in the
    // viewer-wide state.
}

QTEST_MAIN(TestDocuments)
#include "tst_documents.moc"
