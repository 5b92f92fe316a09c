// Linked resources: the pictures, inlined scenes and link targets that a
// scene names by URL. They are looked for relative to a stack of base
// locations, read at once from local files, downloaded over HTTP into the
// working directory (where they stay and serve later requests), and links
// are followed when the user clicks what they hold. Then documents typed
// into the location field as http URLs: the boxes and status messages the
// window shows while it fetches them, what goes over the wire, and what is
// shown when the download ends, fails, is stopped or is overtaken by
// another one.

#include "harness.h"
#include "httpserver.h"
#include "quelvin_http.h"
#include "quelvin_loader.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <Inventor/nodes/SoSeparator.h>

#include <QProgressBar>
#include <QStatusBar>
#include <QtTest>

#include <cstring>
#include <memory>

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

const QColor kRed(255, 0, 0), kGreen(0, 255, 0), kBlue(0, 0, 255), kWhite(255, 255, 255);
// The robot's parts, top to bottom, and the picture on the plate beside them.
const QList<QColor> kRobot{Qt::cyan, Qt::yellow, Qt::magenta, kGreen};

QString data(const QString &name) { return harness::sourceDir() + "/tests/data/resources/" + name; }

// A glowing box wearing the picture at url, seen from distance.
QByteArray texturedBox(const QByteArray &url, int distance = 6)
{
    return "#VRML V2.0 utf8\nViewpoint { position 0 0 " + QByteArray::number(distance) + " }\nShape { appearance Appearance {"
           " material Material { diffuseColor 0 0 0 emissiveColor 1 1 1 } texture ImageTexture { url \"" + url + "\" } }"
           " geometry Box { } }";
}

// Port 80 belongs to the machine. In a network of the suite's own, with only
// its loopback up, a server of ours can take it; making one takes root.
bool ownNetwork()
{
    if (unshare(CLONE_NEWNET) != 0)
        return false;
    ifreq loopback = {};
    strncpy(loopback.ifr_name, "lo", IFNAMSIZ - 1);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &loopback) == 0;
    loopback.ifr_flags |= IFF_UP;
    up = up && ioctl(fd, SIOCSIFFLAGS, &loopback) == 0;
    if (fd >= 0)
        close(fd);
    return up;
}

// What the status bar says while a download starts: setting the host is a
// request of its own, before the GET begins.
QStringList started(const QString &name)
{
    return {"Downloading " + name + ".", "requestStarted", "finished;status code: 0.", "requestStarted"};
}

const QString kScheme = "information/HTTP/scheme: http";
const QString kAborted = "information/Browser/#1Download failed: Request aborted.";
// A document read from memory leaves the viewer no file name to show.
const QStringList kShown{kScheme, "information/BrowserWindow::httpRequestFinished/trying to load file to browser",
                         "information/Viewer/"};

} // namespace

class TestLoader : public QObject
{
    Q_OBJECT
    // Sockets belong to the network they were made in, so the suite moves
    // into its own before it makes any.
    const bool isolated = ownNetwork();
    harness::Scratch home;
    std::unique_ptr<harness::Scratch> work;
    TestHttpServer server;
    TestHttpServer pages; // of the typed documents
    std::unique_ptr<TestHttpServer> standardPort; // on 80, where the suite is isolated
    QStringList messages; // shown in the status bar; the bar going blank is none
    harness::ModalAnswerer answerer;
    BrowserWindow *window = nullptr;
    Browser *viewer = nullptr;
    Loader *loader = nullptr;

    QString url(const QString &path) const { return server.baseUrl() + path; }
    QString pageUrl(const QString &name) const { return pages.baseUrl() + "/" + name; }

    // Typed and Return pressed; true once the document is shown and what it
    // names has come.
    bool open(const QString &location)
    {
        SoSeparator *before = Browser::loadedScene();
        harness::typeLocation(window, location);
        viewer->setViewing(false);
        return QTest::qWaitFor([&] { return Browser::loadedScene() != before && !loader->pendingRequests(); }, 20000);
    }

    // Whether the frame has a visible area of the colour.
    bool shows(QColor colour)
    {
        QImage image;
        // What scripts change shows a few frames later.
        if (QTest::qWaitFor([&] { image = harness::grabViewer(viewer);
                                 return harness::fractionNear(image, image.rect(), colour, 40) > 0.02; }, 2000))
            return true;
        harness::keepImage(image, QTest::currentTestFunction() + colour.name() + "-actual");
        return false;
    }

    // A drag in viewing mode turns what is shown, whatever camera the scene
    // brought with it.
    bool turns()
    {
        viewer->setViewing(true);
        const QImage before = harness::grabViewer(viewer);
        harness::drag(viewer->getGLWidget(), QPoint(120, 40));
        const QImage after = harness::grabViewer(viewer);
        viewer->setViewing(false);
        if (after == before)
            harness::keepImage(after, QTest::currentTestFunction() + QString("-unturned"));
        return after != before;
    }

    // Every file a download may have left, hidden ones included.
    QStringList files() const { return QDir(work->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid() && server.isListening() && pages.isListening());
        server.setRoot(data(""));
        pages.setRoot(data("download"));
        pages.addSlow("/slow.wrl", 256, 50);
        // Answers, then never sends a byte of the body.
        pages.addSlow("/silent.wrl", 1, 3600 * 1000);
        if (isolated) {
            standardPort.reset(new TestHttpServer(80));
            QVERIFY(standardPort->isListening());
            standardPort->setRoot(data("download"));
        }
        server.addDrop("/gen/cut.png", 20);
        // Names a scene must not get written into the working directory.
        server.addRoute("/gen/.profile", "echo planted\n");
        server.addRoute("/gen/sub/planted.png", harness::readBytes(data("site/img/green.png")));
        server.addRoute("/gen/run", "echo planted\n");
        server.addRoute("/gen/empty.png", "");
        server.addRoute("/gen/moved.js", harness::readBytes(harness::sourceDir() + "/tests/data/scripts/moved.js"));
        server.addRoute("/gen/scripted.wrl", harness::readBytes(harness::sourceDir() + "/tests/data/scripts/moved_js.wrl")
                                                 .replace("[ \"absent.js\" \"moved.js\" ]", "\"moved.js\""));
        server.addRoute("/gen/built.wrl", harness::readBytes(harness::sourceDir() + "/tests/data/scripts/browser.wrl"));
        server.addRoute("/gen/red_box.wrl", harness::readBytes(harness::sourceDir() + "/tests/data/scripts/red_box.wrl"));
        server.addRoute("/gen/slow.wrl", "#VRML V2.0 utf8\n" + QByteArray(200, '#') + "\nShape { geometry Box { } }\n");
        server.addSlow("/gen/slow.wrl", 16, 200);
        Http::stallTimeoutMs = 1500;
        window = new BrowserWindow(QString());
        viewer = window->viewer();
        loader = viewer->resourceLoader();
        QVERIFY(loader);
        connect(window->statusBar(), &QStatusBar::messageChanged, this, [this](const QString &message) {
            if (!message.isEmpty())
                messages << message;
        });
        QVERIFY(harness::shown(window, QSize(1000, 760)));
    }

    // A working directory per case, so downloads of one case cannot serve
    // another; the last one is left before the next is entered.
    void init()
    {
        work.reset();
        work.reset(new harness::Scratch);
        server.clearLog();
        answerer.clear();
    }
    // No download of this case may report into the next one.
    void cleanup()
    {
        QTRY_COMPARE_WITH_TIMEOUT(loader->pendingRequests(), 0, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(pages.openConnections(), 0, 20000);
    }

    void baseLocations_data()
    {
        QTest::addColumn<QStringList>("pushed");
        QTest::addColumn<QString>("top");
        QTest::newRow("http document") << QStringList{"http://server/d/a.wrl"} << "http://server/d/";
        QTest::newRow("local path") << QStringList{"/home/u/m/a.wrl"} << "/home/u/m/";
        QTest::newRow("relative below http") << QStringList{"http://server/d/a.wrl", "sub/b.wrl"} << "http://server/d/sub/";
        QTest::newRow("absolute over another") << QStringList{"/home/u/a.wrl", "http://o:81/x/y.wrl"} << "http://o:81/x/";
        QTest::newRow("host without path") << QStringList{"http://server"} << "http://";
        // A document named from the working directory: its textures are beside it.
        QTest::newRow("relative document") << QStringList{"../m/a.wrl"} << "@UP@/m/";
    }

    void baseLocations()
    {
        QFETCH(QStringList, pushed);
        QFETCH(QString, top);
        top.replace("@UP@", QDir::cleanPath(QDir::currentPath() + "/.."));
        Browser::resetLocation();
        for (const QString &location : pushed) {
            SbString text(location.toUtf8().constData());
            Browser::setBaseLocation(text);
        }
        QCOMPARE(loader->baseLocationDepth(), pushed.size());
        QCOMPARE(QString(loader->topBaseLocation().getString()), top);
        Browser::unsetBaseLocation();
        QCOMPARE(loader->baseLocationDepth(), pushed.size() - 1);
    }

    void localScenes_data()
    {
        QTest::addColumn<QString>("document");
        QTest::addColumn<int>("depth");
        QTest::addColumn<QList<QColor>>("colours");

        // The inline's own picture is named relative to the inline's folder.
        QTest::newRow("texture, inline with a texture") << data("site/scene.wrl") << 2 << QList<QColor>{kRed, kBlue};
        QTest::newRow("two sibling inlines") << data("siblings.wrl") << 3 << QList<QColor>{Qt::cyan, Qt::yellow};
        // Parts inlined side by side from a folder below, each pushing an
        // entry that stays: each is found next to the file that names it, as
        // is the picture after them. Shown whole, as the file names no viewpoint.
        QTest::newRow("robot") << data("robot/robot.wrl") << 4 << kRobot;
        // VRML 1.0: its own camera, and parts in WWWInlines, one of them VRML 97.
        QTest::newRow("VRML 1.0 world") << data("vrml1/world.wrl") << 4 << QList<QColor>{Qt::magenta, Qt::yellow};
        QTest::newRow("a wall, no viewpoint") << data("wall.wrl") << 1 << QList<QColor>{kRed};
        QTest::newRow("VRML 1.0 camera placed apart") << data("vrml1/above.wrl") << 3 << QList<QColor>{Qt::magenta, Qt::yellow};
        // Each inline met pushes an entry; files are read while there are fewer than 64.
        QTest::newRow("file inlining itself") << data("self.wrl") << 64 << QList<QColor>();
        // Two folders down, to shapes wearing a picture from three folders up.
        QTest::newRow("corpus") << harness::corpusDir() + "/castle-demo-models/vrml_2/relative_names.wrl" << 3
                                << QList<QColor>();
        // No viewpoint, and the model far from where a camera at rest looks.
        QTest::newRow("corpus without a viewpoint")
            << harness::corpusDir() + "/castle-demo-models/vrml_2/extrusion_concave_cap.wrl" << 1 << QList<QColor>();
    }

    void localScenes()
    {
        QFETCH(QString, document);
        QFETCH(int, depth);
        QFETCH(QList<QColor>, colours);
        QVERIFY(open(QUrl::fromLocalFile(document).toString()));
        QCOMPARE(viewer->currentFileName(), document);
        QCOMPARE(loader->baseLocationDepth(), depth);
        for (const QColor &colour : colours)
            QVERIFY(shows(colour));
        // Whatever the scene, the first view shows some of it.
        const QImage first = harness::grabViewer(viewer);
        QVERIFY(harness::fractionNear(first, first.rect(), first.pixelColor(0, 0), 8) < 0.98);
        QVERIFY(turns());
        // The corpus picture is warm (a brown squirrel, yellow letters); the
        // shapes under it are grey or red.
        const QImage image = harness::grabViewer(viewer);
        int warm = 0;
        for (int i = 0; i < image.width() * image.height(); ++i) {
            const QColor c = image.pixelColor(i % image.width(), i / image.width());
            warm += c.hsvHue() >= 15 && c.hsvHue() <= 65 && c.hsvSaturationF() >= 0.35 && c.valueF() >= 0.2;
        }
        if (QTest::currentDataTag() == QString("corpus") && warm < image.width() * image.height() / 200) {
            harness::keepImage(image, "corpus-actual");
            QFAIL("the corpus picture is not shown");
        }
        QCOMPARE(server.requestLines(), QStringList());
        QCOMPARE(files(), QStringList());
    }

    void remoteScene_data()
    {
        // The paths the server is asked for besides the document's, in order
        // when the order is given; the files then in the working directory;
        // the colours shown.
        QTest::addColumn<QString>("document");
        QTest::addColumn<QStringList>("fetched");
        QTest::addColumn<bool>("ordered");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QList<QColor>>("colours");
        // The picture, the inline, then the inline's own picture, named relative
        // to the inline's folder.
        QTest::newRow("texture, inline with a texture")
            << "/site/scene.wrl" << QStringList{"/site/img/red.png", "/site/sub/tower.wrl", "/site/sub/blue.png"} << true
            << QStringList{"blue.png", "red.png", "tower.wrl"} << QList<QColor>{kRed, kBlue};
        // Every part and the picture come from next to the file naming them,
        // after the place the stack of locations gives has nothing.
        QTest::newRow("robot")
            << "/robot/robot.wrl"
            << QStringList{"/robot/parts/WAIST.wrl", "/robot/parts/parts/CHEST.wrl", "/robot/parts/CHEST.wrl",
                           "/robot/parts/parts/parts/HEAD.wrl", "/robot/parts/HEAD.wrl",
                           "/robot/parts/parts/site/img/green.png", "/site/img/green.png"} << false
            << QStringList{"CHEST.wrl", "HEAD.wrl", "WAIST.wrl", "green.png"} << kRobot;
        QTest::newRow("VRML 1.0 world")
            << "/vrml1/world.wrl"
            << QStringList{"/vrml1/parts/crate.wrl", "/vrml1/parts/parts/ball.wrl", "/vrml1/parts/ball.wrl",
                           "/vrml1/parts/parts/parts/notes.wrl", "/vrml1/parts/notes.wrl"} << false
            << QStringList{"ball.wrl", "crate.wrl", "notes.wrl"} << QList<QColor>{Qt::magenta, Qt::yellow};
        // A script's file beside the document: the box it moves turns green.
        QTest::newRow("script file") << "/gen/scripted.wrl" << QStringList{"/gen/moved.js"} << true
                                     << QStringList{"moved.js"} << QList<QColor>{kGreen};
        // A script's createVrmlFromURL: the box it reads turns green once there.
        QTest::newRow("script builds") << "/gen/built.wrl" << QStringList{"/gen/red_box.wrl"} << true
                                       << QStringList{"red_box.wrl"} << QList<QColor>{kGreen};
    }

    void remoteScene()
    {
        QFETCH(QString, document);
        QFETCH(QStringList, fetched);
        QFETCH(bool, ordered);
        QFETCH(QStringList, files);
        QFETCH(QList<QColor>, colours);
        QStringList requests{"GET " + document + " HTTP/1.1"};
        for (const QString &path : fetched)
            requests << "GET " + path + " HTTP/1.1";
        // Next time the working directory has them all.
        for (const QStringList &expected : {requests, QStringList{requests.first()}}) {
            server.clearLog();
            QVERIFY(open(url(document)));
            QStringList seen = server.requestLines();
            if (!ordered) {
                QCOMPARE(seen.value(0), expected.first());
                std::sort(seen.begin() + 1, seen.end());
                QStringList sorted = expected;
                std::sort(sorted.begin() + 1, sorted.end());
                QCOMPARE(seen, sorted);
            } else {
                QCOMPARE(seen, expected);
            }
            QCOMPARE(this->files(), files);
            // Parts that come after the document are framed on request.
            viewer->viewAll();
            for (const QColor &colour : colours)
                QVERIFY(shows(colour));
            QVERIFY(turns());
        }
        for (const QString &path : fetched)
            if (QFile::exists(data(path.mid(1))))
                QCOMPARE(harness::readBytes(work->file(QFileInfo(path).fileName())), harness::readBytes(data(path.mid(1))));
    }

    void remoteTextures_data()
    {
        // The crate's texture URL (@USER@: the server with user and password),
        // the request line and authorization the server is to see for it, the
        // file in the working directory afterwards and the crate's colour.
        QTest::addColumn<QString>("texture");
        QTest::addColumn<QString>("request");
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("user and password") << "@USER@/site/img/green.png" << "GET /site/img/green.png HTTP/1.1"
                                           << "Basic " + QByteArray("user:secret").toBase64() << "green.png" << kGreen;
        // A failed download leaves nothing behind to be served next time.
        QTest::newRow("not found") << "lost.png" << "GET /gen/lost.png HTTP/1.1" << QByteArray() << "" << kWhite;
        QTest::newRow("dropped") << "cut.png" << "GET /gen/cut.png HTTP/1.1" << QByteArray() << "" << kWhite;
        QTest::newRow("empty body") << "empty.png" << "GET /gen/empty.png HTTP/1.1" << QByteArray() << "" << kWhite;
        // Names that are not fetched at all.
        QTest::newRow("dotfile") << ".profile" << "" << QByteArray() << "" << kWhite;
        QTest::newRow("path-like name") << "sub%2Fplanted.png" << "" << QByteArray() << "" << kWhite;
        QTest::newRow("no extension") << "run" << "" << QByteArray() << "" << kWhite;
        // A green picture put there under the name is neither fetched nor overwritten.
        QTest::newRow("already there") << "../site/img/red.png" << "" << QByteArray() << "red.png" << kGreen;
    }

    void remoteTextures()
    {
        QFETCH(QString, texture);
        QFETCH(QString, request);
        QFETCH(QByteArray, authorization);
        QFETCH(QString, file);
        QFETCH(QColor, colour);
        const QByteArray green = harness::readBytes(data("site/img/green.png"));
        const bool planted = request.isEmpty() && !file.isEmpty();
        if (planted)
            QVERIFY(harness::writeBytes(work->file(file), green));
        texture.replace("@USER@", server.baseUrl().replace("http://", "http://user:secret@"));
        server.addRoute("/gen/doc.wrl", texturedBox(texture.toUtf8()));
        QVERIFY(open(url("/gen/doc.wrl")));
        QCOMPARE(server.requestLines(), QStringList({"GET /gen/doc.wrl HTTP/1.1", request}).filter(" "));
        QCOMPARE(server.authorizations().value(1), authorization);
        QCOMPARE(files(), QStringList{file}.filter("."));
        QVERIFY(shows(colour));
        if (planted)
            QCOMPARE(harness::readBytes(work->file(file)), green);
    }

    // Downloads still coming when the user moves on: to another document,
    // or out of the program.
    void interruptedDownloads()
    {
        server.addRoute("/gen/late.wrl", "#VRML V2.0 utf8\nInline { url \"" + url("/gen/slow.wrl").toUtf8() + "\" }\n");
        harness::typeLocation(window, url("/gen/late.wrl"));
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/gen/slow.wrl"), 1, 20000);
        SoSeparator *before = Browser::loadedScene();
        harness::typeLocation(window, QUrl::fromLocalFile(data("site/scene.wrl")).toString());
        QTRY_VERIFY_WITH_TIMEOUT(Browser::loadedScene() != before, 20000);
        QCOMPARE(server.requestCount("/gen/slow.wrl"), 1);
        QVERIFY(loader->pendingRequests() > 0);   // the inline of the last document is still coming
        SoSeparator *shown = Browser::loadedScene();
        const int depth = loader->baseLocationDepth();
        const SbString top = loader->topBaseLocation();
        QTRY_COMPARE_WITH_TIMEOUT(loader->pendingRequests(), 0, 20000);
        QCOMPARE(Browser::loadedScene(), shown);
        QCOMPARE(loader->baseLocationDepth(), depth);
        QCOMPARE(QString(loader->topBaseLocation().getString()), QString(top.getString()));

        // A mistyped name while a picture is on its way: the scene shown
        // still gets it, and still looks for its names where it did.
        server.addRoute("/gen/arriving.wrl", texturedBox("late.png", 3));
        server.addRoute("/gen/late.png", harness::readBytes(data("site/img/red.png")));
        server.addSlow("/gen/late.png", 16, 150);
        harness::typeLocation(window, url("/gen/arriving.wrl"));
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/gen/late.png"), 1, 20000);
        const int arrivingDepth = loader->baseLocationDepth();
        const QString arrivingTop = loader->topBaseLocation().getString();
        answerer.clear();
        harness::typeLocation(window, QUrl::fromLocalFile(home.file("mistyped.wrl")).toString());
        QTRY_VERIFY_WITH_TIMEOUT(!answerer.boxes.isEmpty(), 20000);
        QVERIFY(loader->pendingRequests() > 0);
        QCOMPARE(loader->baseLocationDepth(), arrivingDepth);
        QCOMPARE(QString(loader->topBaseLocation().getString()), arrivingTop);
        QTRY_COMPARE_WITH_TIMEOUT(loader->pendingRequests(), 0, 20000);
        QVERIFY(shows(kRed));

        // Quitting while a picture trickles in leaves no part of it.
        work.reset();
        work.reset(new harness::Scratch);
        server.addRoute("/gen/quit.wrl", texturedBox("slow.png"));
        server.addSlow("/gen/slow.png", 64, 100);
        harness::typeLocation(window, url("/gen/quit.wrl"));
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/gen/slow.png"), 1, 20000);
        harness::settle(300);
        QVERIFY(QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit"));
        QCOMPARE(files(), QStringList());
    }

    void anchors_data()
    {
        // Where the user clicks (share of the view's size) and the colour of
        // the scene the click leads to (none: the scene stays).
        QTest::addColumn<QString>("document");
        QTest::addColumn<QPointF>("where");
        QTest::addColumn<QColor>("target");
        QTest::newRow("shape inside a link") << "anchors.wrl" << QPointF(0.5, 0.5) << QColor(Qt::cyan);
        QTest::newRow("background") << "anchors.wrl" << QPointF(0.05, 0.05) << QColor();
        QTest::newRow("http link") << "anchor_http.wrl" << QPointF(0.5, 0.5) << kWhite;
        // Inside an inline inside an inline; the target lies beside the file holding the link.
        QTest::newRow("two inlines deep") << "deep/outer.wrl" << QPointF(0.5, 0.5) << QColor(Qt::cyan);
    }

    void anchors()
    {
        QFETCH(QString, document);
        QFETCH(QPointF, where);
        QFETCH(QColor, target);
        // A link to the server names its address, known only now.
        QString path = data(document);
        if (harness::readBytes(path).contains("@BASE@"))
            QVERIFY(harness::writeBytes(path = home.file(document),
                                        harness::readBytes(path).replace("@BASE@", server.baseUrl().toUtf8())));
        server.addSlow("/remote/far.wrl", 8, 20); // slow enough to see the scene stay meanwhile
        QVERIFY(open(QUrl::fromLocalFile(path).toString()));
        SoSeparator *scene = Browser::loadedScene();
        SoNode *root = viewer->getSceneGraph();
        QVERIFY(shows(kBlue));
        QWidget *gl = viewer->getGLWidget();
        QTest::mouseClick(gl, Qt::LeftButton, Qt::NoModifier, QPoint(where.x() * gl->width(), where.y() * gl->height()));
        if (document == "anchor_http.wrl") {
            QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/remote/far.wrl"), 1, 20000);
            QCOMPARE(viewer->getSceneGraph(), root);
            QTRY_COMPARE_WITH_TIMEOUT(loader->pendingRequests(), 0, 20000);
        }
        harness::settle(300);
        QCOMPARE(viewer->getSceneGraph() != root, target.isValid());
        QVERIFY(shows(target.isValid() ? target : kBlue));
        // The target is shown as it is, not taken in as a document.
        QCOMPARE(Browser::loadedScene(), scene);
    }

    void downloads_data()
    {
        // The document typed (a name on the test server, or a whole URL),
        // what the user does once its body is coming (Stop, or open plain.wrl
        // too; "password": the URL is typed with user information), the boxes
        // and status messages in order, and the colour of the scene shown in
        // the end (green: the one shown before stays).
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QColor>("colour");
        const QString ok = "finished;status code: 200.";
        QTest::newRow("plain") << "plain.wrl" << "" << kShown << (started("plain.wrl") << ok << pageUrl("plain.wrl"))
                               << QColor(Qt::red);
        // Only the path goes into the request line.
        QTest::newRow("query") << "plain.wrl?lod=2" << "" << kShown
                               << (started("plain.wrl?lod=2") << ok << pageUrl("plain.wrl?lod=2")) << QColor(Qt::red);
        // A whole URL without a port: served on 80, by a server of its own.
        QTest::newRow("without a port") << "http://127.0.0.1/plain.wrl" << "" << kShown
                                        << (started("plain.wrl") << ok << "http://127.0.0.1/plain.wrl") << QColor(Qt::red);
        // Compressed, as servers keep large models.
        QTest::newRow("gzip") << "plain.wrl.gz" << "" << kShown
                              << (started("plain.wrl.gz") << ok << pageUrl("plain.wrl.gz")) << QColor(Qt::red);
        // A page where a model was: refused as a file would be, the scene stays.
        QTest::newRow("web page") << "page.html" << ""
                                  << QStringList{kShown[0], kShown[1], "warning/Application/Cannot load file"}
                                  << (started("page.html") << ok) << QColor(Qt::green);
        // Typed with a user and a password, shown without them.
        QTest::newRow("password") << "plain.wrl" << "password" << kShown
                                  << (started("plain.wrl") << "finished;status code: 0." << "requestStarted" << ok
                                      << pageUrl("plain.wrl")) << QColor(Qt::red);
        // Ends as a dropped connection does, once nothing has come for a while.
        QTest::newRow("server silent") << "silent.wrl" << "" << QStringList{kScheme}
                                       << (started("silent.wrl") << ok) << QColor(Qt::green);
        QTest::newRow("not found") << "gone.wrl" << "" << QStringList{kScheme, "information/HTTP/#2Download failed: Not Found.", kAborted}
                                   << (started("gone.wrl") << "finished;status code: 404.") << QColor(Qt::green);
        QTest::newRow("stop") << "slow.wrl" << "stop" << QStringList{kScheme, kAborted}
                              << (started("slow.wrl") << "Download canceled." << ok) << QColor(Qt::green);
        // The first one's end is not the download the window waits for.
        QTest::newRow("second while first runs")
            << "slow.wrl" << "second" << QStringList{kScheme} + kShown
            << (started("slow.wrl") + started("plain.wrl") << ok << pageUrl("plain.wrl") << ok) << QColor(Qt::red);
    }

    void downloads()
    {
        QFETCH(QString, name);
        QFETCH(QString, meanwhile);
        QFETCH(QStringList, boxes);
        QFETCH(QStringList, shown);
        QFETCH(QColor, colour);
        // Every case starts with a green crate opened from a local file.
        harness::typeLocation(window, data("download/other.wrl"));
        QVERIFY(shows(Qt::green));
        harness::settle(50);
        pages.clearLog();
        answerer.clear();
        messages.clear();
        TestHttpServer *serving = &pages;
        if (name.startsWith("http:")) {
            if (!standardPort)
                QSKIP("Port 80 needs a network of the suite's own, which only root can make");
            serving = standardPort.get();
        }
        SoSeparator *before = Browser::loadedScene();
        const QString title = window->windowHandle()->title();
        auto *progress = window->findChild<QProgressBar *>("progress");
        const int stale = progress->value();
        const QString typed = serving == &pages ? pageUrl(name) : name;
        harness::typeLocation(window, meanwhile == "password" ? QString(typed).replace("http://", "http://user:secret@") : typed);
        QVERIFY(progress->isVisible());
        if (meanwhile == "stop" || meanwhile == "second") {
            // The bar keeps the last download's figures until bytes arrive.
            const int size = QFileInfo(data("download/slow.wrl")).size();
            QTRY_VERIFY_WITH_TIMEOUT(progress->maximum() == size && progress->value() != stale && progress->value() > 0, 20000);
            QVERIFY(progress->value() < size);
            meanwhile == "stop" ? window->findChild<QAction *>("actionStop")->trigger() : harness::typeLocation(window, pageUrl("plain.wrl"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(messages, shown, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(answerer.lines(), boxes, 20000);
        harness::settle(300); // and nothing more comes
        QCOMPARE(messages, shown);
        QCOMPARE(answerer.lines(), boxes);
        const QString file = name.section('/', -1).section('?', 0, 0);
        const QStringList requests{"GET /" + file + " HTTP/1.1", "GET /plain.wrl HTTP/1.1"};
        QCOMPARE(serving->requestLines(), requests.mid(0, meanwhile == "second" ? 2 : 1));
        QVERIFY(!progress->isVisible());
        QCOMPARE(Browser::loadedScene() != before, colour == Qt::red);
        QVERIFY(shows(colour));
        QCOMPARE(window->windowHandle()->title(), colour == Qt::red ? "http: - Browser" : title);
    }
};

QTEST_MAIN(TestLoader)
#include "tst_loader.moc"
