// Reads each file named on the command line the way the program does, and
// prints for each: size, time of the tolerant pass, time of Coin's read of
// what the pass gives, their ratio, whether bare Coin reads the file as it
// is (with QUELVIN_BARE set), whether the program gets a scene, and what
// was left out. No window; figures only.
#include "quelvin_reader.h"
#include "quelvin_tolerant.h"

#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/VRMLnodes/SoVRMLInline.h>
#include <Inventor/nodes/SoSeparator.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    SoDB::init();
    tolerant::installExternProtoHook();
    // Inlines are the loader's business, not part of one file's read.
    SoVRMLInline::setReadAsSoFile(FALSE);
    std::printf("%-60s %10s %9s %9s %6s %5s %5s  %s\n", "file", "bytes", "pass ms", "coin ms",
                "ratio", "coin", "ours", "left out");
    for (int i = 1; i < argc; i++) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        QByteArray bytes;
        if (!tolerant::loadFileBytes(path, &bytes, nullptr)) {
            std::printf("%-60s unreadable\n", argv[i]);
            continue;
        }
        // A copy of its own, as the program's read has: mended in place.
        QByteArray text(bytes.constData(), bytes.size());
        QElapsedTimer clock;
        clock.start();
        QByteArray cleaned;
        ReadAccount account;
        const bool ok = tolerant::clean(std::move(text), QFileInfo(path).absoluteFilePath(),
                                        &cleaned, &account);
        const double passMs = clock.nsecsElapsed() / 1e6;
        // QUELVIN_DUMP=1 shows what Coin is given.
        if (qEnvironmentVariableIsSet("QUELVIN_DUMP"))
            std::fwrite(cleaned.constData(), 1, size_t(cleaned.size()), stderr);

        // Bare Coin on the file as it is, only when asked: it crashes on
        // the files the guards are for.
        SoSeparator *plain = nullptr;
        if (qEnvironmentVariableIsSet("QUELVIN_BARE")) {
            SoInput in;
            in.setBuffer(bytes.constData(), size_t(bytes.size()));
            plain = SoDB::readAll(&in);
            if (plain) {
                plain->ref();
                plain->unref();
            }
        }
        // Coin's own time on the text it can read whole.
        clock.restart();
        SoInput cleanedIn;
        cleanedIn.setBuffer(cleaned.constData(), size_t(cleaned.size()));
        SoSeparator *coinRead = ok ? SoDB::readAll(&cleanedIn) : nullptr;
        const double coinMs = clock.nsecsElapsed() / 1e6;
        if (coinRead) {
            coinRead->ref();
            coinRead->unref();
        }
        SoSeparator *ours = ok ? SceneReader::readFile(path) : nullptr;
        const ReadAccount taken = SceneReader::takeAccount();
        if (ours) {
            ours->ref();
            ours->unref();
        }
        std::printf("%-60s %10d %9.1f %9.1f %6.2f %5s %5s  %s\n",
                    QFileInfo(path).fileName().left(60).toLocal8Bit().constData(), bytes.size(),
                    passMs, coinMs, coinMs > 0 ? passMs / coinMs : 0.0, plain ? "yes" : "no",
                    ours ? "yes" : "no",
                    taken.isEmpty() ? "" : taken.text().toUtf8().constData());
    }
    return 0;
}
