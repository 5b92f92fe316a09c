// quelvin-thumbnailer INPUT OUTPUT SIZE: a PNG preview of a VRML model for
// file managers. Exit status 0 with OUTPUT written; otherwise no OUTPUT and
// 1 (unreadable or not renderable), 2 (usage) or 3 (out of time).

#include "quelvin_glcontext.h"
#include "quelvin_thumbnail.h"

#include <Inventor/SoDB.h>

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// File managers wait for a thumbnailer, and a model can be too large to
// draw in reasonable time: past the limit the process ends, whatever it is
// doing, and takes back an OUTPUT it had begun to write.
#ifdef __SANITIZE_ADDRESS__
// The sanitizer build runs several times slower; it is for the test
// suites, which must see every corpus model drawn.
const long defaultLimitMs = 60000;
#else
const long defaultLimitMs = 9000;
#endif
char outputPath[4096];
volatile sig_atomic_t writing = 0;

void outOfTime(int)
{
    if (writing)
        unlink(outputPath);
    _exit(3);
}

void startWatchdog()
{
    long limit = defaultLimitMs;
    // Only ever shortened, for callers with less patience.
    if (const char *text = getenv("QUELVIN_THUMBNAILER_LIMIT_MS")) {
        const long asked = strtol(text, nullptr, 10);
        if (asked > 0 && asked < limit)
            limit = asked;
    }
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = outOfTime;
    sigaction(SIGALRM, &action, nullptr);
    struct itimerval timer;
    memset(&timer, 0, sizeof timer);
    timer.it_value.tv_sec = limit / 1000;
    timer.it_value.tv_usec = (limit % 1000) * 1000;
    setitimer(ITIMER_REAL, &timer, nullptr);
}

bool writeAll(const QByteArray &bytes)
{
    writing = 1;
    const int fd = open(outputPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        writing = 0;
        return false;
    }
    const char *at = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t done = write(fd, at, size_t(left));
        if (done < 0) {
            close(fd);
            unlink(outputPath);
            return false;
        }
        at += done;
        left -= done;
    }
    if (close(fd) != 0) {
        unlink(outputPath);
        return false;
    }
    writing = 0;
    return true;
}

int usage()
{
    fprintf(stderr, "usage: quelvin-thumbnailer INPUT OUTPUT SIZE\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4)
        return usage();
    char *end = nullptr;
    const long size = strtol(argv[3], &end, 10);
    if (!*argv[3] || *end || size < 1 || size > 100000 || strlen(argv[2]) >= sizeof outputPath)
        return usage();
    const QString input = QFile::decodeName(argv[1]);
    // A slip in a caller's arguments must not cost the user the model.
    if (QFileInfo(input).canonicalFilePath() == QFileInfo(QFile::decodeName(argv[2])).canonicalFilePath()
        && QFileInfo::exists(input)) {
        fprintf(stderr, "quelvin-thumbnailer: OUTPUT is INPUT\n");
        return 2;
    }
    strcpy(outputPath, argv[2]);
    startWatchdog();

    // Never a window: Qt's offscreen platform still gets its GL from the X
    // display named by DISPLAY. Mesa would keep compiled shaders in the
    // user's cache; a thumbnailer writes OUTPUT and nothing else.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 1);
    setenv("MESA_GLSL_CACHE_DISABLE", "true", 1);
    // Qt's own options are not ours to take from a file name.
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    QGuiApplication app(qtArgc, qtArgv);

    SoDB::init();
    installOffscreenContexts();
    Thumbnail::installLocalHooks();

    QString why;
    const QImage image = Thumbnail::render(input, int(size), &why);
    if (image.isNull()) {
        fprintf(stderr, "quelvin-thumbnailer: %s: %s\n", argv[1], why.toLocal8Bit().constData());
        return 1;
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG") || !writeAll(png)) {
        fprintf(stderr, "quelvin-thumbnailer: cannot write %s\n", argv[2]);
        return 1;
    }
    // Coin and Mesa tear down a great deal at exit; the picture is written.
    fflush(stderr);
    _exit(0);
}
