// Linked resources: the pictures, inlined scenes and link targets that a
// scene names by URL. They are looked for relative to a stack of base
// locations, read at once from local files, downloaded over HTTP into the
// working directory (where they stay and serve later requests), and links
// are followed when the user clicks what they hold.

#include "harness.h"
#include "httpserver.h"
#include "quelvin_loader.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <Inventor/SbImage.h>
#include <Inventor/SbLinear.h>
#include <Inventor/SbViewVolume.h>
#include <Inventor/SbViewportRegion.h>
#include <Inventor/fields/SoMFNode.h>
#include <Inventor/fields/SoSFNode.h>
#include <Inventor/lists/SoFieldList.h>
#include <Inventor/misc/SoChildList.h>
#include <Inventor/nodes/SoCamera.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/VRMLnodes/SoVRMLImageTexture.h>
#include <Inventor/VRMLnodes/SoVRMLInline.h>

#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QSet>
#include <QSharedPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QVector3D>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);
const QColor kBlue(0, 0, 255);
const QColor kWhite(255, 255, 255);
const QColor kCyan(0, 255, 255);
const QColor kYellow(255, 255, 0);
const QColor kMagenta(255, 0, 255);
const QColor kOrange(255, 128, 0);
const QColor kPurple(128, 0, 255);
const QColor kBackground(0, 0, 0);
const int kTolerance = 40;

QString dataDir() { return harness::sourceDir() + "/tests/data/resources"; }

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// A crate filling the middle of the view, wearing the picture its texture
// names; without a picture it is plain white. Its material glows white, so
// the picture shows with its own colours whatever the light.
QByteArray crateScene(const QStringList &urls)
{
    QStringList quoted;
    for (const QString &url : urls)
        quoted << '"' + url + '"';
    return "#VRML V2.0 utf8\n"
           "Viewpoint { position 0 0 6 description \"Front\" }\n"
           "Shape {\n"
           "  appearance Appearance {\n"
           "    material Material { diffuseColor 0 0 0 emissiveColor 1 1 1 }\n"
           "    texture ImageTexture { url [ "
        + quoted.join(' ').toUtf8()
        + " ] }\n"
          "  }\n"
          "  geometry Box { size 2 2 2 }\n"
          "}\n";
}

void moveWithButtons(QWidget *widget, QPoint pos, Qt::MouseButtons buttons)
{
    QMouseEvent event(QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, buttons,
                      Qt::NoModifier);
    QSpontaneKeyEvent::setSpontaneous(&event);
    qApp->notify(widget, &event);
}

// Calls visit for node and every node below it once: children, nodes held
// in fields (a shape's appearance and texture), and the scenes inlines got.
void walk(SoNode *node, const std::function<void(SoNode *)> &visit, QSet<SoNode *> &seen)
{
    if (!node || seen.contains(node))
        return;
    seen.insert(node);
    visit(node);
    if (node->isOfType(SoVRMLInline::getClassTypeId()))
        walk(static_cast<SoVRMLInline *>(node)->getChildData(), visit, seen);
    if (SoChildList *children = node->getChildren()) {
        for (int i = 0; i < children->getLength(); ++i)
            walk((*children)[i], visit, seen);
    }
    SoFieldList fields;
    const int count = node->getFields(fields);
    for (int i = 0; i < count; ++i) {
        SoField *field = fields[i];
        if (field->isOfType(SoSFNode::getClassTypeId())) {
            walk(static_cast<SoSFNode *>(field)->getValue(), visit, seen);
        } else if (field->isOfType(SoMFNode::getClassTypeId())) {
            SoMFNode *many = static_cast<SoMFNode *>(field);
            for (int k = 0; k < many->getNum(); ++k)
                walk((*many)[k], visit, seen);
        }
    }
}

template <class T>
QList<T *> nodesOfType(SoNode *root)
{
    QList<T *> found;
    QSet<SoNode *> seen;
    walk(root, [&](SoNode *node) {
        if (node->isOfType(T::getClassTypeId()))
            found << static_cast<T *>(node);
    }, seen);
    return found;
}

// Inline nodes below root that got their children, at any depth.
int filledInlines(SoNode *root)
{
    int count = 0;
    for (SoVRMLInline *node : nodesOfType<SoVRMLInline>(root))
        count += node->getChildData() ? 1 : 0;
    return count;
}

// Pictures in the corpus are warm (a brown squirrel with yellow letters,
// a fiery sun); the shapes they lie on are grey without them.
// Share of the drawn (not background) pixels that look like those pictures.
double warmFraction(const QImage &image)
{
    int warm = 0, drawn = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (harness::near(c, kBackground, 8))
                continue;
            ++drawn;
            const int hue = c.hsvHue();
            if (hue >= 15 && hue <= 65 && c.hsvSaturationF() >= 0.35 && c.valueF() >= 0.2)
                ++warm;
        }
    }
    return drawn ? double(warm) / double(drawn) : 0.0;
}

double nonBackgroundFraction(const QImage &image)
{
    return 1.0 - harness::fractionNear(image, image.rect(), kBackground, 8);
}

// Stands on the port an http URL without a port number goes to, answering
// every GET with one body and noting the request lines.
class PortEighty : public QObject
{
public:
    explicit PortEighty(const QByteArray &answer) : body(answer)
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                auto inbox = QSharedPointer<QByteArray>::create();
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket, inbox] {
                    inbox->append(socket->readAll());
                    if (!inbox->contains("\r\n\r\n"))
                        return;
                    requestLines << QString::fromLatin1(inbox->left(inbox->indexOf("\r\n")));
                    inbox->clear();
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                                  "Content-Length: "
                                  + QByteArray::number(body.size())
                                  + "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    bool listen() { return server.listen(QHostAddress::LocalHost, 80); }

    QStringList requestLines;

private:
    QTcpServer server;
    QByteArray body;
};

} // namespace

class TestLoader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void baseLocations_data();
    void baseLocations();
    void popAndReset();

    void localTextures_data();
    void localTextures();
    void localScenes_data();
    void localScenes();
    void corpusTextures_data();
    void corpusTextures();
    void corpusInlines_data();
    void corpusInlines();
    void selfInlining_data();
    void selfInlining();

    void remoteScene();
    void remoteTextures_data();
    void remoteTextures();
    void sharedDownload();
    void existingFileNotOverwritten();
    void portEightyByDefault();

    void anchorClicks_data();
    void anchorClicks();
    void anchorHttpTarget();

private:
    QString served(const QString &name) const { return servedDir + "/" + name; }
    QString url(const QString &name) const { return server->baseUrl() + "/" + name; }
    void type(const QString &text);
    bool openLocal(const QString &path);
    bool openRemote(const QString &name);
    bool waitForDownloads();
    QPointF toPixel(float x, float y, float z) const;
    bool shows(const QImage &image, QPointF pos, QColor colour, const QString &what) const;
    bool showsCentre(const QImage &image, QColor colour, const QString &what) const;
    void click(QPoint pos);
    void keep(const QImage &image, const QString &what) const;
    QStringList filesInWorkingDirectory() const;

    std::unique_ptr<harness::Scratch> home;
    std::unique_ptr<harness::Scratch> work;
    std::unique_ptr<TestHttpServer> server;
    harness::ModalAnswerer *answerer = nullptr;
    BrowserWindow *window = nullptr;
    Browser *viewer = nullptr;
    Loader *loader = nullptr;
    QWidget *gl = nullptr;
    QComboBox *combo = nullptr;
    QLineEdit *location = nullptr;
    QString servedDir;
    QString failureDir;
    int generated = 0;
};

void TestLoader::initTestCase()
{
    failureDir = QDir::currentPath();
    home.reset(new harness::Scratch);
    QVERIFY(home->isValid());
    server.reset(new TestHttpServer);
    QVERIFY(server->isListening());

    // The test files, with the server's address filled in where a scene
    // names it absolutely; served over HTTP and opened locally alike.
    servedDir = home->file("served");
    QDirIterator it(dataDir(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        QByteArray bytes = readBytes(source);
        if (source.endsWith(".wrl"))
            bytes.replace("@BASE@", server->baseUrl().toUtf8());
        QVERIFY(writeBytes(servedDir + source.mid(dataDir().size()), bytes));
    }
    server->setRoot(servedDir);

    answerer = new harness::ModalAnswerer(this);
    window = new BrowserWindow(QString());
    viewer = window->viewer();
    loader = viewer->resourceLoader();
    gl = viewer->getGLWidget();
    combo = window->findChild<QComboBox *>("location");
    QVERIFY(loader && gl && combo && combo->lineEdit());
    location = combo->lineEdit();
    window->resize(1000, 760);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    harness::settle(100);
}

// Every case has a working directory of its own, so downloads of one case
// cannot serve another.
void TestLoader::init()
{
    work.reset(new harness::Scratch);
    QVERIFY(work->isValid());
    server->clearLog();
    answerer->clear();
}

void TestLoader::cleanup()
{
    // Nothing may still be on its way into the next case's directory.
    QTRY_COMPARE_WITH_TIMEOUT(loader->pendingRequests(), 0, 20000);
    work.reset();
}

// Keys go where the keyboard sends them: to the combo box, which has the
// focus and hands them on to its line edit. What the field completes from
// earlier entries is deleted, as a user would before pressing Return.
void TestLoader::type(const QString &text)
{
    location->clear();
    QTest::keyClicks(combo, text);
    if (location->hasSelectedText())
        QTest::keyClick(combo, Qt::Key_Delete);
    QCOMPARE(location->text(), text);
    QTest::keyClick(combo, Qt::Key_Return);
}

// Opens a local document through the location field; true once the
// viewer shows it.
bool TestLoader::openLocal(const QString &path)
{
    SoSeparator *before = Browser::loadedScene();
    type(QUrl::fromLocalFile(path).toString());
    harness::settle(20);
    viewer->setViewing(false);
    return Browser::loadedScene() != before && viewer->currentFileName() == path;
}

// Opens a served document by typing its URL; true once the viewer shows it.
bool TestLoader::openRemote(const QString &name)
{
    SoSeparator *before = Browser::loadedScene();
    type(url(name));
    if (!QTest::qWaitFor([&] { return Browser::loadedScene() != before; }, 20000))
        return false;
    viewer->setViewing(false);
    return true;
}

// The loader's downloads have all ended and their records are gone.
bool TestLoader::waitForDownloads()
{
    return QTest::qWaitFor([&] { return loader->pendingRequests() == 0; }, 20000);
}

QPointF TestLoader::toPixel(float x, float y, float z) const
{
    // The camera adapts itself to the shape of the viewport: the height
    // angle spans the shorter side.
    const SbViewportRegion region = viewer->getViewportRegion();
    const float aspect = region.getViewportAspectRatio();
    SbViewVolume volume = viewer->getCamera()->getViewVolume(aspect);
    if (aspect < 1.0f)
        volume.scale(1.0f / aspect);
    SbVec3f screen;
    volume.projectToScreen(SbVec3f(x, y, z), screen);
    const SbVec2s origin = region.getViewportOriginPixels();
    const SbVec2s size = region.getViewportSizePixels();
    return QPointF(origin[0] + screen[0] * size[0], gl->height() - (origin[1] + screen[1] * size[1]));
}

bool TestLoader::shows(const QImage &image, QPointF pos, QColor colour, const QString &what) const
{
    const QPoint p = pos.toPoint();
    const double fraction =
        harness::fractionNear(image, QRect(p - QPoint(5, 5), QSize(11, 11)), colour, kTolerance);
    if (fraction > 0.9)
        return true;
    qWarning("at (%d, %d) %s is %s, not %s (%.2f near)", p.x(), p.y(), qPrintable(what),
             qPrintable(image.pixelColor(p.x(), p.y()).name()), qPrintable(colour.name()), fraction);
    keep(image, what);
    return false;
}

bool TestLoader::showsCentre(const QImage &image, QColor colour, const QString &what) const
{
    return shows(image, QPointF(image.width() / 2.0, image.height() / 2.0), colour, what);
}

void TestLoader::click(QPoint pos)
{
    moveWithButtons(gl, pos, Qt::NoButton);
    QTest::mouseClick(gl, Qt::LeftButton, Qt::NoModifier, pos);
}

void TestLoader::keep(const QImage &image, const QString &what) const
{
    QString name = QString("tst_loader-%1-%2-%3-actual.png")
                       .arg(QTest::currentTestFunction(), QTest::currentDataTag() ? QTest::currentDataTag() : "", what);
    name.replace(QRegularExpression("[^A-Za-z0-9_.-]"), "_");
    image.save(failureDir + "/" + name);
    qWarning("frame written to %s", qPrintable(failureDir + "/" + name));
}

QStringList TestLoader::filesInWorkingDirectory() const
{
    QStringList names = QDir(work->path()).entryList(QDir::Files);
    names.removeAll("quelvin.log");
    names.removeAll("quelvinViewer.log");
    names.sort();
    return names;
}

// --- The stack of base locations --------------------------------------------

void TestLoader::baseLocations_data()
{
    QTest::addColumn<QStringList>("pushed");
    QTest::addColumn<QString>("top");

    QTest::newRow("http document") << QStringList{"http://server/d/a.wrl"} << "http://server/d/";
    QTest::newRow("bare path on an empty stack") << QStringList{"/home/u/m/a.wrl"} << "/home/u/m/";
    QTest::newRow("relative below http") << QStringList{"http://server/d/a.wrl", "sub/b.wrl"}
                                         << "http://server/d/sub/";
    QTest::newRow("relative upwards") << QStringList{"http://server/d/e/a.wrl", "../f/b.wrl"}
                                      << "http://server/d/f/";
    QTest::newRow("relative below a local directory") << QStringList{"/home/u/m/a.wrl", "parts/t.wrl"}
                                                      << "/home/u/m/parts/";
    QTest::newRow("absolute over another")
        << QStringList{"http://server/d/a.wrl", "http://other:8080/x/y.wrl"} << "http://other:8080/x/";
    QTest::newRow("relative on an empty stack") << QStringList{"sub/b.wrl"} << "sub/";
    QTest::newRow("host without path") << QStringList{"http://server"} << "http://";
    QTest::newRow("file name met twice") << QStringList{"/m/a.wrl.d/a.wrl"} << "/m/.d/";
    QTest::newRow("directory") << QStringList{"/home/u/m/"} << "/home/u/m/";
}

void TestLoader::baseLocations()
{
    QFETCH(QStringList, pushed);
    QFETCH(QString, top);

    Browser::resetLocation();
    QCOMPARE(loader->baseLocationDepth(), 0);
    for (const QString &location : pushed) {
        SbString text(location.toUtf8().constData());
        Browser::setBaseLocation(text);
    }
    QCOMPARE(loader->baseLocationDepth(), pushed.size());
    QCOMPARE(QString::fromUtf8(loader->topBaseLocation().getString()), top);
}

void TestLoader::popAndReset()
{
    Browser::resetLocation();
    Browser::unsetBaseLocation();    // nothing there: nothing happens
    QCOMPARE(loader->baseLocationDepth(), 0);

    for (const char *location : {"http://server/d/a.wrl", "sub/b.wrl", "/home/u/m/c.wrl"}) {
        SbString text(location);
        Browser::setBaseLocation(text);
    }
    QCOMPARE(loader->baseLocationDepth(), 3);
    Browser::unsetBaseLocation();
    QCOMPARE(loader->baseLocationDepth(), 2);
    QCOMPARE(QString::fromUtf8(loader->topBaseLocation().getString()), QString("http://server/d/sub/"));
    Browser::resetLocation();
    QCOMPARE(loader->baseLocationDepth(), 0);

    // A document opened through the window starts a stack of its own.
    for (const char *location : {"http://server/d/a.wrl", "sub/b.wrl"}) {
        SbString text(location);
        Browser::setBaseLocation(text);
    }
    QVERIFY(openLocal(served("site/twins.wrl")));
    QCOMPARE(loader->baseLocationDepth(), 1);
    QCOMPARE(QString::fromUtf8(loader->topBaseLocation().getString()), served("site/"));
}

// --- Local resources ----------------------------------------------------------

void TestLoader::localTextures_data()
{
    // The crate's texture URLs (@DATA@: the folder of the test files), the
    // files put into the working directory beforehand (name, test file to
    // copy) and the colour the crate shows.
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QStringList>("workingFiles");
    QTest::addColumn<QColor>("colour");

    QTest::newRow("relative to the document") << QStringList{"../site/img/red.png"} << QStringList() << kRed;
    QTest::newRow("absolute path") << QStringList{"@DATA@/site/img/red.png"} << QStringList() << kRed;
    QTest::newRow("GIF picture") << QStringList{"../site/img/yellow.gif"} << QStringList() << kYellow;
    QTest::newRow("working-directory copy of a file not there")
        << QStringList{"nowhere/wdcopy.png"} << QStringList{"wdcopy.png", "site/img/green.png"} << kGreen;
    QTest::newRow("working-directory copy of a file on a server")
        << QStringList{"http://127.0.0.1:9/elsewhere/wdany.png"} << QStringList{"wdany.png", "site/img/green.png"}
        << kGreen;
    QTest::newRow("full path wins over working-directory copy")
        << QStringList{"../site/img/red.png"} << QStringList{"red.png", "site/sub/blue.png"} << kRed;
    QTest::newRow("only the first URL counts")
        << QStringList{"missing.png", "../site/img/red.png"} << QStringList() << kWhite;
    QTest::newRow("file URL without working-directory copy")
        << QStringList{"file://@DATA@/site/img/red.png"} << QStringList() << kWhite;
    QTest::newRow("file URL with working-directory copy")
        << QStringList{"file://@DATA@/site/img/red.png"} << QStringList{"red.png", "site/sub/blue.png"} << kBlue;
    QTest::newRow("picture that cannot be read") << QStringList{"../broken.png"} << QStringList() << kWhite;
    QTest::newRow("scheme other than http") << QStringList{"ftp://127.0.0.1/red.png"} << QStringList() << kWhite;
}

void TestLoader::localTextures()
{
    QFETCH(QStringList, urls);
    QFETCH(QStringList, workingFiles);
    QFETCH(QColor, colour);

    for (QString &u : urls)
        u.replace("@DATA@", servedDir);
    for (int i = 0; i + 1 < workingFiles.size(); i += 2)
        QVERIFY(QFile::copy(served(workingFiles[i + 1]), work->file(workingFiles[i])));
    const QStringList before = filesInWorkingDirectory();

    const QString doc = served(QString("gen/local%1.wrl").arg(++generated));
    QVERIFY(writeBytes(doc, crateScene(urls)));
    QVERIFY(openLocal(doc));
    QVERIFY(showsCentre(harness::grabViewer(viewer), colour, "crate"));
    // Reading local resources neither downloads nor copies anything.
    QCOMPARE(server->requestLines(), QStringList());
    QCOMPARE(filesInWorkingDirectory(), before);
    QCOMPARE(loader->pendingRequests(), 0);
}

void TestLoader::localScenes_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<QColor>("left");
    QTest::addColumn<QColor>("right");
    QTest::addColumn<int>("depth");
    QTest::addColumn<QString>("top");

    // The inline pushes its folder, and its own picture is looked for there.
    QTest::newRow("texture and inline with a texture")
        << "site/scene.wrl" << kRed << kBlue << 2 << "site/sub/";
    // Side by side, each inline pushes an entry of its own.
    QTest::newRow("two sibling inlines") << "siblings.wrl" << kCyan << kYellow << 3 << "";
    // The inline's folder stays on top, so a picture named after it is
    // looked for in that folder (green there, red next to the document).
    QTest::newRow("texture after an inline from another folder")
        << "after_inline.wrl" << kWhite << kGreen << 2 << "parts/";
}

void TestLoader::localScenes()
{
    QFETCH(QString, document);
    QFETCH(QColor, left);
    QFETCH(QColor, right);
    QFETCH(int, depth);
    QFETCH(QString, top);

    QVERIFY(openLocal(served(document)));
    const QImage image = harness::grabViewer(viewer);
    QVERIFY(shows(image, toPixel(-2, 0, 1), left, "left crate"));
    QVERIFY(shows(image, toPixel(2, 0, 1), right, "right crate"));
    QCOMPARE(loader->baseLocationDepth(), depth);
    QCOMPARE(QString::fromUtf8(loader->topBaseLocation().getString()), served(top));
    QCOMPARE(server->requestLines(), QStringList());
    QCOMPARE(filesInWorkingDirectory(), QStringList());
}

void TestLoader::corpusTextures_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<bool>("copied");    // opened from a copy that has no pictures around it
    QTest::addColumn<QString>("pictures");    // the folder the pictures come from

    QTest::newRow("PNG through ../textures/")
        << "castle-demo-models/vrml_engine_doc_simple_examples/texture_transform_2.wrl" << false
        << "castle-demo-models/textures";
    QTest::newRow("JPEG through ./textures/") << "openvrml/models/orbit3.wrl" << false
                                              << "openvrml/models/textures";
    QTest::newRow("PNG not to be found")
        << "castle-demo-models/vrml_engine_doc_simple_examples/texture_transform_2.wrl" << true << "";
}

void TestLoader::corpusTextures()
{
    QFETCH(QString, document);
    QFETCH(bool, copied);
    QFETCH(QString, pictures);

    QString path = harness::corpusDir() + "/" + document;
    QVERIFY2(QFile::exists(path), qPrintable(path));
    if (copied) {
        const QString copy = served("gen/corpus/" + QFileInfo(path).fileName());
        QVERIFY(writeBytes(copy, readBytes(path)));
        path = copy;
    }
    QVERIFY(openLocal(path));
    viewer->viewAll();
    const QImage image = harness::grabViewer(viewer);
    const double warm = warmFraction(image);

    const QList<SoVRMLImageTexture *> textures = nodesOfType<SoVRMLImageTexture>(Browser::loadedScene());
    QVERIFY(!textures.isEmpty());
    for (SoVRMLImageTexture *texture : textures) {
        // Each texture holds the picture its URL names, or none at all.
        const QString name = QFileInfo(QString::fromUtf8(texture->url[0].getString())).fileName();
        const SbVec3s size = texture->getImage()->getSize();
        const QSize expected = pictures.isEmpty()
            ? QSize(0, 0)
            : QImage(harness::corpusDir() + "/" + pictures + "/" + name).size();
        QVERIFY(pictures.isEmpty() || expected.isValid());
        QCOMPARE(QSize(size[0], size[1]), expected);
    }
    QVERIFY(nonBackgroundFraction(image) > 0.02);
    if (pictures.isEmpty()) {
        if (warm > 0.01)
            keep(image, "frame");
        QVERIFY2(warm <= 0.01, qPrintable(QString("%1 of the shapes look like a picture").arg(warm)));
    } else {
        if (warm < 0.1)
            keep(image, "frame");
        QVERIFY2(warm >= 0.1, qPrintable(QString("%1 of the shapes show the pictures").arg(warm)));
    }
}

void TestLoader::corpusInlines_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<bool>("copied");
    QTest::addColumn<int>("inlines");    // inline nodes that got their children
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("pictures");

    // Two folders down, to crates wearing a picture from three folders up.
    QTest::newRow("nested inlines in subfolders")
        << "castle-demo-models/vrml_2/relative_names.wrl" << false << 2 << 3 << true;
    QTest::newRow("two levels of inlines")
        << "choreonoid/sample/WRS2018/model/resource/RedCarDoorFR.wrl" << false << 4 << 5 << false;
    QTest::newRow("inlines not to be found")
        << "choreonoid/sample/WRS2018/model/resource/RedCarDoorFR.wrl" << true << 0 << 3 << false;
}

void TestLoader::corpusInlines()
{
    QFETCH(QString, document);
    QFETCH(bool, copied);
    QFETCH(int, inlines);
    QFETCH(int, depth);
    QFETCH(bool, pictures);

    QString path = harness::corpusDir() + "/" + document;
    QVERIFY2(QFile::exists(path), qPrintable(path));
    if (copied) {
        const QString copy = served("gen/corpus/" + QFileInfo(path).fileName());
        QVERIFY(writeBytes(copy, readBytes(path)));
        path = copy;
    }
    QVERIFY(openLocal(path));
    QCOMPARE(filledInlines(Browser::loadedScene()), inlines);
    QCOMPARE(loader->baseLocationDepth(), depth);

    viewer->viewAll();
    const QImage image = harness::grabViewer(viewer);
    const double drawn = nonBackgroundFraction(image);
    const bool drawnAsExpected = inlines > 0 ? drawn > 0.02 : drawn < 0.001;
    if (!drawnAsExpected)
        keep(image, "frame");
    QVERIFY2(drawnAsExpected, qPrintable(QString("%1 of the frame drawn").arg(drawn)));
    if (pictures) {
        const double warm = warmFraction(image);
        if (warm < 0.1)
            keep(image, "pictures");
        QVERIFY2(warm >= 0.1, qPrintable(QString("%1 of the shapes show pictures").arg(warm)));
    }
}

void TestLoader::selfInlining_data()
{
    QTest::addColumn<QString>("document");

    QTest::newRow("file inlining itself") << "self.wrl";
    QTest::newRow("two files inlining each other") << "ping.wrl";
    QTest::newRow("corpus file inlining itself") << "corpus:castle-demo-models/vrml_2/warnings/errors/recurse_inline.wrl";
}

void TestLoader::selfInlining()
{
    QFETCH(QString, document);

    const QString path = document.startsWith("corpus:") ? harness::corpusDir() + "/" + document.mid(7)
                                                        : served(document);
    QVERIFY(openLocal(path));
    // The document's entry and one per inline met; files are read while the
    // stack holds fewer than 64 entries, so the 63rd inline stays empty.
    const int limit = Loader::maxInlineDepth;
    QCOMPARE(limit, 64);
    QCOMPARE(loader->baseLocationDepth(), limit);
    QCOMPARE(filledInlines(Browser::loadedScene()), limit - 2);
    const QImage image = harness::grabViewer(viewer);
    QVERIFY(!image.isNull());

    // Still at work: another document opens as usual.
    QVERIFY(openLocal(served("site/twins.wrl")));
    QCOMPARE(loader->baseLocationDepth(), 1);
}

// --- Remote resources -----------------------------------------------------

void TestLoader::remoteScene()
{
    QVERIFY(openRemote("site/scene.wrl"));
    QVERIFY(waitForDownloads());
    // The picture, the inline, and then the inline's own picture, named
    // relative to the inline's folder.
    QCOMPARE(server->requestLines(),
             QStringList({"GET /site/scene.wrl HTTP/1.1", "GET /site/img/red.png HTTP/1.1",
                          "GET /site/sub/part.wrl HTTP/1.1", "GET /site/sub/blue.png HTTP/1.1"}));
    QCOMPARE(filesInWorkingDirectory(), QStringList({"blue.png", "part.wrl", "red.png"}));
    QCOMPARE(readBytes(work->file("red.png")), readBytes(served("site/img/red.png")));
    QCOMPARE(readBytes(work->file("part.wrl")), readBytes(served("site/sub/part.wrl")));
    QCOMPARE(readBytes(work->file("blue.png")), readBytes(served("site/sub/blue.png")));
    QCOMPARE(filledInlines(Browser::loadedScene()), 1);
    QImage image = harness::grabViewer(viewer);
    QVERIFY(shows(image, toPixel(-2, 0, 1), kRed, "downloaded picture"));
    QVERIFY(shows(image, toPixel(2, 0, 1), kBlue, "downloaded inline"));
    QCOMPARE(QString::fromUtf8(loader->topBaseLocation().getString()), url("site/sub/"));

    // Next time the working directory has them all: only the document is
    // fetched.
    server->clearLog();
    QVERIFY(openRemote("site/scene.wrl"));
    QVERIFY(waitForDownloads());
    QCOMPARE(server->requestLines(), QStringList({"GET /site/scene.wrl HTTP/1.1"}));
    QCOMPARE(filledInlines(Browser::loadedScene()), 1);
    image = harness::grabViewer(viewer);
    QVERIFY(shows(image, toPixel(-2, 0, 1), kRed, "kept picture"));
    QVERIFY(shows(image, toPixel(2, 0, 1), kBlue, "kept inline"));
    QCOMPARE(filesInWorkingDirectory(), QStringList({"blue.png", "part.wrl", "red.png"}));

    // So does a local document naming the same file names anywhere else.
    const QString doc = served("gen/elsewhere.wrl");
    QVERIFY(writeBytes(doc, crateScene({"http://127.0.0.1:9/gone/red.png"})));
    QVERIFY(openLocal(doc));
    QVERIFY(showsCentre(harness::grabViewer(viewer), kRed, "crate"));
}

void TestLoader::remoteTextures_data()
{
    // The crate's texture URL (@BASE@: the server), how the server treats
    // the picture's path, the request line and authorization expected for
    // it, the file the download leaves in the working directory (none when
    // empty) and the crate's colour.
    QTest::addColumn<QString>("textureUrl");
    QTest::addColumn<QString>("behaviour");
    QTest::addColumn<QString>("requestLine");
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QColor>("colour");

    QTest::newRow("relative picture") << "../site/img/red.png"
                                      << "" << "GET /site/img/red.png HTTP/1.1" << QByteArray() << "red.png"
                                      << kRed;
    QTest::newRow("absolute picture with user and password")
        << "@USERBASE@/site/img/green.png"
        << "" << "GET /site/img/green.png HTTP/1.1" << QByteArray("Basic " + QByteArray("user:secret").toBase64())
        << "green.png" << kGreen;
    QTest::newRow("query left out") << "../site/img/red.png?size=large"
                                    << "" << "GET /site/img/red.png HTTP/1.1" << QByteArray()
                                    << "red.png?size=large" << kRed;
    QTest::newRow("not found") << "lost404.png"
                               << "" << "GET /gen/lost404.png HTTP/1.1" << QByteArray() << "" << kWhite;
    QTest::newRow("server error with a picture as body")
        << "lost500.png"
        << "error" << "GET /gen/lost500.png HTTP/1.1" << QByteArray() << "" << kWhite;
    QTest::newRow("redirected") << "moved.png"
                                << "redirect" << "GET /gen/moved.png HTTP/1.1" << QByteArray() << "" << kWhite;
    QTest::newRow("connection dropped mid-body")
        << "cut.png"
        << "drop" << "GET /gen/cut.png HTTP/1.1" << QByteArray() << "" << kWhite;
}

void TestLoader::remoteTextures()
{
    QFETCH(QString, textureUrl);
    QFETCH(QString, behaviour);
    QFETCH(QString, requestLine);
    QFETCH(QByteArray, authorization);
    QFETCH(QString, file);
    QFETCH(QColor, colour);

    textureUrl.replace("@USERBASE@", server->baseUrl().replace("http://", "http://user:secret@"));
    const QString picturePath = "/gen/" + textureUrl;
    if (behaviour == "error")
        server->addRoute(picturePath, readBytes(served("site/img/red.png")), "image/png", 500);
    else if (behaviour == "redirect")
        server->addRedirect(picturePath, url("site/img/red.png"));
    else if (behaviour == "drop")
        server->addDrop(picturePath, 20);

    const QString name = QString("gen/remote%1.wrl").arg(++generated);
    QVERIFY(writeBytes(served(name), crateScene({textureUrl})));
    QVERIFY(openRemote(name));
    QVERIFY(waitForDownloads());

    QCOMPARE(server->requestLines(), QStringList({"GET /" + name + " HTTP/1.1", requestLine}));
    QCOMPARE(server->authorizations().value(1), authorization);
    // A failed download leaves nothing behind to be served next time.
    QCOMPARE(filesInWorkingDirectory(), file.isEmpty() ? QStringList() : QStringList{file});
    if (!file.isEmpty()) {
        const QString source = served(requestLine.section(' ', 1, 1).mid(1));
        QCOMPARE(readBytes(work->file(file)), readBytes(source));
    }
    QVERIFY(showsCentre(harness::grabViewer(viewer), colour, "crate"));
}

void TestLoader::sharedDownload()
{
    // Both textures ask for the same file while its download runs: one GET
    // serves them both.
    QVERIFY(openRemote("site/twins.wrl"));
    QVERIFY(waitForDownloads());
    QCOMPARE(server->requestLines(),
             QStringList({"GET /site/twins.wrl HTTP/1.1", "GET /site/img/green.png HTTP/1.1"}));
    QCOMPARE(filesInWorkingDirectory(), QStringList{"green.png"});
    QCOMPARE(readBytes(work->file("green.png")), readBytes(served("site/img/green.png")));
    const QImage image = harness::grabViewer(viewer);
    QVERIFY(shows(image, toPixel(-2, 0, 1), kGreen, "left crate"));
    QVERIFY(shows(image, toPixel(2, 0, 1), kGreen, "right crate"));
}

void TestLoader::existingFileNotOverwritten()
{
    const QByteArray mine = readBytes(served("site/img/green.png"));
    QVERIFY(writeBytes(work->file("red.png"), mine));

    QVERIFY(openRemote("site/scene.wrl"));
    QVERIFY(waitForDownloads());
    QCOMPARE(server->requestCount("/site/img/red.png"), 0);
    QCOMPARE(server->requestCount("/site/sub/part.wrl"), 1);
    QCOMPARE(readBytes(work->file("red.png")), mine);
    const QImage image = harness::grabViewer(viewer);
    QVERIFY(shows(image, toPixel(-2, 0, 1), kGreen, "crate wearing the working directory's picture"));
    QVERIFY(shows(image, toPixel(2, 0, 1), kBlue, "downloaded inline"));
}

void TestLoader::portEightyByDefault()
{
    PortEighty eighty(readBytes(served("site/sub/blue.png")));
    if (!eighty.listen())
        QSKIP("port 80 of 127.0.0.1 is taken");

    const QString doc = served(QString("gen/eighty.wrl"));
    QVERIFY(writeBytes(doc, crateScene({"http://127.0.0.1/pictures/eighty.png"})));
    QVERIFY(openLocal(doc));
    QVERIFY(waitForDownloads());
    QCOMPARE(eighty.requestLines, QStringList{"GET /pictures/eighty.png HTTP/1.1"});
    QCOMPARE(filesInWorkingDirectory(), QStringList{"eighty.png"});
    QVERIFY(showsCentre(harness::grabViewer(viewer), kBlue, "crate"));
}

// --- Links --------------------------------------------------------------------

void TestLoader::anchorClicks_data()
{
    // Where the user clicks (a point of anchors.wrl), and the colour of the
    // scene the click leads to (none: the scene stays).
    QTest::addColumn<QVector3D>("point");
    QTest::addColumn<QColor>("target");

    QTest::newRow("shape inside a link") << QVector3D(-4, 0, 1) << kCyan;
    QTest::newRow("background") << QVector3D(0, 0, 0) << QColor();
    QTest::newRow("shape outside any link") << QVector3D(4, 0, 1) << QColor();
    QTest::newRow("shape of the outer link") << QVector3D(0, 2.5f, 1) << kOrange;
    QTest::newRow("shape of a link inside another") << QVector3D(0, -2.5f, 1) << kPurple;
}

void TestLoader::anchorClicks()
{
    QFETCH(QVector3D, point);
    QFETCH(QColor, target);

    QVERIFY(openLocal(served("anchors.wrl")));
    SoSeparator *scene = Browser::loadedScene();
    SoNode *root = viewer->getSceneGraph();
    QImage image = harness::grabViewer(viewer);
    QVERIFY(shows(image, toPixel(-4, 0, 1), kBlue, "linked crate"));
    QVERIFY(shows(image, toPixel(4, 0, 1), kGreen, "loose crate"));
    QVERIFY(shows(image, toPixel(0, 2.5f, 1), kYellow, "outer crate"));
    QVERIFY(shows(image, toPixel(0, -2.5f, 1), kMagenta, "inner crate"));
    QVERIFY(shows(image, toPixel(0, 0, 0), kBackground, "gap"));

    click(toPixel(point.x(), point.y(), point.z()).toPoint());
    if (target.isValid()) {
        QTRY_VERIFY(viewer->getSceneGraph() != root);
        image = harness::grabViewer(viewer);
        QVERIFY(showsCentre(image, target, "target"));
        // The target is shown as it is, not taken in as a document.
        QCOMPARE(Browser::loadedScene(), scene);
        // The link's folder, then the target's: one link was followed.
        QCOMPARE(loader->baseLocationDepth(), 3);
    } else {
        harness::settle(300);
        QCOMPARE(viewer->getSceneGraph(), root);
        image = harness::grabViewer(viewer);
        QVERIFY(shows(image, toPixel(-4, 0, 1), kBlue, "linked crate"));
        QVERIFY(shows(image, toPixel(4, 0, 1), kGreen, "loose crate"));
        QCOMPARE(loader->baseLocationDepth(), 1);
    }
    QCOMPARE(server->requestLines(), QStringList());
}

void TestLoader::anchorHttpTarget()
{
    // Slow enough that the scene can be seen to stay while it comes.
    server->addSlow("/remote/far.wrl", 8, 20);
    QVERIFY(openLocal(served("anchor_http.wrl")));
    SoSeparator *scene = Browser::loadedScene();
    SoNode *root = viewer->getSceneGraph();
    QVERIFY(shows(harness::grabViewer(viewer), toPixel(-4, 0, 1), kBlue, "linked crate"));

    click(toPixel(-4, 0, 1).toPoint());
    QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/remote/far.wrl"), 1, 20000);
    QCOMPARE(viewer->getSceneGraph(), root);
    QVERIFY(shows(harness::grabViewer(viewer), toPixel(-4, 0, 1), kBlue, "linked crate while downloading"));

    QVERIFY(waitForDownloads());
    QVERIFY(viewer->getSceneGraph() != root);
    QVERIFY(showsCentre(harness::grabViewer(viewer), kWhite, "target"));
    QCOMPARE(Browser::loadedScene(), scene);
    QCOMPARE(server->requestLines(), QStringList{"GET /remote/far.wrl HTTP/1.1"});
    QCOMPARE(filesInWorkingDirectory(), QStringList{"far.wrl"});
    // The target's folder was pushed and, its link being absolute, taken
    // back: the link's folder is on top.
    QCOMPARE(loader->baseLocationDepth(), 2);
    QCOMPARE(QString::fromUtf8(loader->topBaseLocation().getString()), url("remote/"));
}

QTEST_MAIN(TestLoader)
#include "tst_loader.moc"
