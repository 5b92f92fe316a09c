// The two measures every benchmark program takes of itself: a monotonic
// clock that a parent process can compare, and the peak resident memory.
#ifndef QUELVIN_BENCH_CLOCK_H
#define QUELVIN_BENCH_CLOCK_H

#include <QByteArray>
#include <QFile>
#include <QtGlobal>

#include <ctime>

inline qint64 monotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

inline long peakRssKb()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

#endif // QUELVIN_BENCH_CLOCK_H
