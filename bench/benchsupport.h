#pragma once
// Small measuring aids the window benchmarks share.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <functional>

// Runs the event loop until done() holds or ms have passed; false on time-out.
inline bool spinUntil(const std::function<bool()> &done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Peak resident memory of this process in KiB (VmHWM), -1 where it cannot be read.
inline qint64 peakRssKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray s = f.readAll();
    const int i = s.indexOf("VmHWM:");
    return i < 0 ? -1 : s.mid(i + 6, s.indexOf('\n', i) - i - 6).trimmed().split(' ').first().toLongLong();
}

// The longest gap between ticks of a 5 ms timer on the window's thread, less the 5 ms: how long
// the window's event loop stood still between start() and stop().
struct StallMeter
{
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 worst = 0;
    StallMeter()
    {
        timer.setInterval(5);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.elapsed();
            worst = qMax(worst, now - last - 5);
            last = now;
        });
    }
    void start()
    {
        worst = 0;
        clock.start();
        last = 0;
        timer.start();
    }
    qint64 stop()
    {
        worst = qMax(worst, clock.elapsed() - last - 5);
        timer.stop();
        return worst;
    }
};
