// Opens VRML files the way a user does from the command line and reports
// what the first view shows, one line per file:
//
//   realworld_views FILE...
//
//   <path>\tloaded=yes|no\tshows|flat\tshare=<fraction>\tgeometry=<count>\tboxes=<titles>\tleft=<log line>
//
// "share" is the part of the frame whose colour is not the frame's most
// common one (the background, in nearly every scene). Each file gets a
// fresh window and working directory; scripts/realworld.sh runs one
// process per file so that a crash or a hang costs only that file.
#include "harness.h"
#include "quelvin_loader.h"
#include "quelvin_viewer.h"
#include "quelvin_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTextStream>
#include <QWindow>

#include <cstdio>

namespace {

// Waits for the window to be on screen and for the resources the document
// asked for (inlines, textures) to arrive, for at most limitMs.
void waitForScene(BrowserWindow &window, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < limitMs) {
        harness::settle(50);
        const QWindow *handle = window.windowHandle();
        const Loader *loader = window.viewer()->resourceLoader();
        if (handle && handle->isExposed() && (!loader || loader->pendingRequests() == 0))
            break;
    }
    harness::settle(200);
}

// Share of the pixels whose colour differs (beyond a small tolerance) from
// the most common colour of the image.
double foregroundShare(const QImage &image)
{
    if (image.isNull() || image.width() * image.height() == 0)
        return 0.0;
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y) & 0xffffff];
    QRgb background = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            background = it.key();
        }
    int other = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!harness::near(QColor(image.pixel(x, y)), QColor(background), 3))
                ++other;
    return double(other) / double(image.width() * image.height());
}

// The lines of the viewer's log that matter here: the count of geometry
// nodes and what the reader had to leave out.
void readViewerLog(QString &geometry, QString &leftOut)
{
    QFile log("quelvinViewer.log");
    if (!log.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    QTextStream in(&log);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.startsWith("No. geometry nodes = "))
            geometry = line.mid(21);
        else if (line.startsWith("left out"))
            leftOut = line;
    }
}

QString oneLine(QString text)
{
    return text.replace('\n', ' ').replace('\t', ' ').trimmed();
}

void view(const QString &path, const QString &imageDir)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    harness::Scratch scratch;
    harness::ModalAnswerer answerer;
    BrowserWindow window(absolute);
    window.show();
    waitForScene(window, 8000);

    bool refused = false;
    QStringList boxes;
    for (const harness::Box &box : answerer.boxes) {
        refused = refused || box.text.contains("Cannot load file") || box.text.startsWith("Cannot read file");
        boxes << oneLine(box.title + ": " + box.text);
    }
    const bool loaded = !refused && Browser::loadedScene() != nullptr;
    const QImage frame = harness::grabViewer(window.viewer());
    const double share = foregroundShare(frame);
    if (!imageDir.isEmpty())
        frame.save(imageDir + "/" + QString(absolute).replace('/', '_') + ".png");

    QString geometry = "?";
    QString leftOut;
    readViewerLog(geometry, leftOut);
    std::printf("%s\tloaded=%s\t%s\tshare=%.4f\tgeometry=%s\tboxes=%s\tleft=%s\n", qPrintable(path),
                loaded ? "yes" : "no", share > 0.0 ? "shows" : "flat", share, qPrintable(geometry),
                qPrintable(boxes.join(" | ")), qPrintable(oneLine(leftOut)));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStringList files = app.arguments().mid(1);
    QString imageDir;
    if (files.size() >= 2 && files.first() == "--images") {
        imageDir = QFileInfo(files.at(1)).absoluteFilePath();
        files = files.mid(2);
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: realworld_views [--images DIR] FILE...\n");
        return 2;
    }
    for (const QString &file : files)
        view(file, imageDir);
    return 0;
}
