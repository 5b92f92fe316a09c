// Installing as a desktop user meets it: the installed files pass the
// desktop's own validators, and the thumbnailer previews what the viewer
// shows and refuses the rest. The Debian package in a new system is
// scripts/check-package.sh's.

#include "harness.h"
#include "httpserver.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

struct Result
{
    int code = -1;
    QString output;
};

// Runs a program to its end; the time-out only keeps a hang from stopping
// the suite.
Result run(const QString &program, const QStringList &args, const QString &dir = QString(),
           const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;   // killed, if still running, as it goes
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir);
    process.start(program, args);
    if (!process.waitForFinished(120000))
        return {-1, program + " did not finish"};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, QString::fromLocal8Bit(process.readAll())};
}

// A thumbnail in which the sample's texture, a red and white checkerboard
// on a white box, shows.
bool checkered(const QString &png, int size)
{
    const QImage image(png);
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            red += c.red() > 140 && c.green() < 90 && c.blue() < 90;
        }
    return image.size() == QSize(size, size) && red > size * size / 5;
}

QStringList filesUnder(const QString &dir)
{
    QStringList found;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(dir).relativeFilePath(it.next());
    found.sort();
    return found;
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT
    QTemporaryDir samples;
    const QString thumbnailer = QStringLiteral(QUELVIN_THUMBNAILER);

    Result thumbnail(const QString &input, const QString &dir, const QStringList &extraEnv = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", dir);
        env.remove("XDG_CACHE_HOME");
        for (const QString &pair : extraEnv)
            env.insert(pair.section('=', 0, 0), pair.section('=', 1));
        return run(thumbnailer, {input, dir + "/out.png", "128"}, dir, env);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir(samples.path()).mkdir("textures"));
        QVERIFY(QFile::copy(harness::sourceDir() + "/examples/textures/checker.png",
                            samples.path() + "/textures/checker.png"));
        QVERIFY(harness::writeBytes(samples.path() + "/box.wrl", "#VRML V2.0 utf8\nViewpoint { position 0 0 2.6 }\n"
                                    "Shape { appearance Appearance { material Material { diffuseColor 1 1 1 }\n"
                                    "  texture ImageTexture { url \"textures/checker.png\" } }\n"
                                    "  geometry Box { size 2 2 2 } }\n"));
        QCOMPARE(run("sh", {"-c", "gzip -c box.wrl > box.wrz && grep -v Viewpoint box.wrl > whole.wrl"},
                     samples.path()).code, 0);
    }

    // What `cmake --install` puts into a prefix, checked by the tools the
    // desktop itself uses.
    void installedFiles()
    {
        QTemporaryDir dest;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DESTDIR", dest.path());
        const Result install = run(QUELVIN_CMAKE, {"--install", QUELVIN_BUILD_DIR, "--prefix", "/usr"}, {}, env);
        QVERIFY2(install.code == 0, qPrintable(install.output));
        const QString usr = dest.path() + "/usr";
        // The programs, the thumbnailer entry, the icons and the package's
        // documents; the other files go through the desktop's validators below.
        for (const char *file : {"bin/quelvin", "bin/quelvin-thumbnailer", "share/thumbnailers/quelvin.thumbnailer",
                                 "share/icons/hicolor/scalable/apps/quelvin.svg", "share/man/man1/quelvin.1.gz",
                                 "share/man/man1/quelvin-thumbnailer.1.gz", "share/doc/quelvin/changelog.gz",
                                 "share/doc/quelvin/copyright"}) {
            QVERIFY2(QFileInfo(usr + "/" + file).isFile(), file);
            // Compressed with neither name nor time, so two builds agree.
            if (QByteArray(file).endsWith(".gz"))
                QCOMPARE(harness::readBytes(usr + "/" + file).mid(3, 5), QByteArray(5, '\0'));
        }
        for (int size : {16, 32, 48, 64, 128, 256})
            QCOMPARE(QImage(usr + QString("/share/icons/hicolor/%1x%1/apps/quelvin.png").arg(size)).size(), QSize(size, size));

        Result check = run("desktop-file-validate", {usr + "/share/applications/org.kestrom.Quelvin.desktop"});
        QVERIFY2(check.code == 0 && !check.output.contains("error:"), qPrintable(check.output));
        check = run("appstreamcli", {"validate", "--no-net", usr + "/share/metainfo/org.kestrom.Quelvin.metainfo.xml"});
        QVERIFY2(check.code == 0, qPrintable(check.output));
        QProcessEnvironment manEnv = QProcessEnvironment::systemEnvironment();
        manEnv.insert("MANWIDTH", "80");
        manEnv.insert("MANPAGER", "cat");
        check = run("man", {"--warnings", "-l", usr + "/share/man/man1/quelvin.1.gz"}, {}, manEnv);
        QVERIFY2(check.code == 0 && check.output.contains("quelvinViewer.log") && check.output.contains("902")
                     && !check.output.contains("warning"), qPrintable(check.output));
        check = run("man", {"--warnings", "-l", usr + "/share/man/man1/quelvin-thumbnailer.1.gz"}, {}, manEnv);
        QVERIFY2(check.code == 0 && check.output.contains("10 seconds") && !check.output.contains("warning"),
                 qPrintable(check.output));

        // The file types as shared-mime-info compiles them: the longest
        // glob wins, so a .wrl.gz is VRML and not just gzip.
        check = run("update-mime-database", {usr + "/share/mime"});
        QVERIFY2(check.code == 0, qPrintable(check.output));
        const QByteArray table = harness::readBytes(usr + "/share/mime/globs2");
        for (const char *line : {":model/vrml:*.wrl\n", ":model/x-vrml-compressed:*.wrz\n",
                                 ":model/x-vrml-compressed:*.wrl.gz\n"})
            QVERIFY2(table.contains(line), line);
        QVERIFY(harness::readBytes(usr + "/share/mime/aliases").contains("x-world/x-vrml model/vrml\n"));
    }

    void thumbnailsCorpus_data()
    {
        QTest::addColumn<QString>("path");
        QFile manifest(harness::corpusDir() + "/MANIFEST.tsv");
        QVERIFY(manifest.open(QIODevice::ReadOnly));
        for (const QByteArray &line : manifest.readAll().split('\n'))
            if (line.split('\t').value(1) == "top")
                QTest::newRow(line.split('\t').value(0).constData()) << harness::corpusDir() + "/" + line.split('\t').value(0);
        QTest::newRow("textured") << samples.path() + "/box.wrl";
        QTest::newRow("gzip, textured") << samples.path() + "/box.wrz";
        QTest::newRow("no viewpoint") << samples.path() + "/whole.wrl";
        QTest::newRow("scripts that loop and throw") << harness::sourceDir() + "/tests/data/scripts/stuck.wrl";
    }

    // Every file the viewer shows gives a picture, and nothing but it is
    // written, not even in the home directory.
    void thumbnailsCorpus()
    {
        QFETCH(QString, path);
        QTemporaryDir dir;
        const Result result = thumbnail(path, dir.path());
        QVERIFY2(result.code == 0, qPrintable(result.output));
        QCOMPARE(QImage(dir.path() + "/out.png").size(), QSize(128, 128));
        QCOMPARE(filesUnder(dir.path()), QStringList{"out.png"});
        if (path.startsWith(samples.path())) {
            QVERIFY(checkered(dir.path() + "/out.png", 128));
            // From its viewpoint the box fills the picture; without one it
            // is seen whole, with the transparent background around it.
            QCOMPARE(QImage(dir.path() + "/out.png").pixelColor(0, 0).alpha() == 255, !path.endsWith("whole.wrl"));
        }
    }

    // Linked resources come from next to the model or not at all.
    void thumbnailsStayOffline()
    {
        TestHttpServer server;
        QVERIFY(server.isListening());
        server.setRoot(samples.path());
        QTemporaryDir dir;
        QVERIFY(harness::writeBytes(dir.path() + "/linked.wrl",
                                    ("#VRML V2.0 utf8\nViewpoint { position 0 0 2.6 }\nInline { url \"" + server.baseUrl()
                                     + "/box.wrl\" }\nShape { appearance Appearance { texture ImageTexture { url [ \""
                                     + server.baseUrl() + "/textures/checker.png\" \"" + samples.path()
                                     + "/textures/checker.png\" ] } }\n  geometry Box { size 2 2 2 } }\n").toUtf8()));
        const Result result = thumbnail(dir.path() + "/linked.wrl", dir.path());
        QVERIFY2(result.code == 0, qPrintable(result.output));
        QVERIFY(!checkered(dir.path() + "/out.png", 128));
        harness::settle(300);   // a request that reached the server is logged
        QCOMPARE(server.requestLines(), QStringList());
    }

    void thumbnailsRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("env");
        QTest::newRow("broken") << "broken.wrl" << harness::readBytes(harness::sourceDir() + "/tests/data/documents/broken.wrl") << "";
        QTest::newRow("empty") << "empty.wrl" << QByteArray() << "";
        QTest::newRow("an image") << "picture.wrl" << harness::readBytes(samples.path() + "/textures/checker.png") << "";
        QTest::newRow("truncated gzip") << "cut.wrz" << harness::readBytes(samples.path() + "/box.wrz").left(40) << "";
        QTest::newRow("a web page") << "page.wrl" << QByteArray("<!DOCTYPE html><html><body>Not found</body></html>") << "";
        QTest::newRow("missing") << "" << QByteArray() << "";
        QTest::newRow("fifo") << "fifo.wrl" << QByteArray() << "";
        QTest::newRow("directory") << "folder.wrl" << QByteArray() << "";
        // The watchdog, brought forward: a model that takes too long.
        QTest::newRow("out of time") << "box.wrl" << harness::readBytes(samples.path() + "/box.wrl")
                                     << "QUELVIN_THUMBNAILER_LIMIT_MS=1";
    }

    // A file that cannot be read gives no thumbnail, a non-zero exit and
    // no OUTPUT.
    void thumbnailsRefused()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, env);
        QTemporaryDir dir;
        const QString input = dir.path() + "/" + (name.isEmpty() ? QString("missing.wrl") : name);
        if (name == "fifo.wrl")
            QCOMPARE(mkfifo(QFile::encodeName(input).constData(), 0600), 0);
        else if (name == "folder.wrl")
            QVERIFY(QDir(dir.path()).mkdir(name));
        else if (!name.isEmpty())
            QVERIFY(harness::writeBytes(input, content));
        const QStringList before = filesUnder(dir.path());
        const Result result = thumbnail(input, dir.path(), env.isEmpty() ? QStringList() : QStringList{env});
        QVERIFY2(result.code > 0, qPrintable(result.output));
        QCOMPARE(filesUnder(dir.path()), before);
    }
};

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
