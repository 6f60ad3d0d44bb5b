#include "runplayer.h"

#include "reporttext.h"

#include <QDateTime>

RunPlayer::RunPlayer(ReportRates *rates, int logThreshold, QObject *parent)
    : QObject(parent), rates(rates), logThreshold(logThreshold)
{
    connect(&timer, &QTimer::timeout, this, &RunPlayer::slice);
}

bool RunPlayer::open(const QString &path)
{
    if (!reader.open(path)) {
        error = reader.errorString();
        return false;
    }
    return true;
}

void RunPlayer::start(bool recordedPace)
{
    paced = recordedPace;
    clock.start();
    timer.start(0);
}

void RunPlayer::stop()
{
    if (timer.isActive())
        end(true, QStringLiteral("stopped"));
}

void RunPlayer::end(bool ok, const QString &message)
{
    timer.stop();
    if (rates)
        rates->merge(tally, QDateTime::currentMSecsSinceEpoch());
    if (observer)
        observer->publish();
    if (!text.isEmpty()) {
        emit logText(&text);
        text.clear();
    }
    emit finished(ok, message);
}

void RunPlayer::slice()
{
    QElapsedTimer work;
    work.start();
    const bool share = !sinceShare.isValid() || sinceShare.elapsed() >= LogShareMs;
    tally.setTime(QDateTime::currentMSecsSinceEpoch());
    while (work.elapsed() < SliceMs) {
        if (!haveBatch) {
            if (!reader.next(batch)) {
                const bool whole = reader.status() == RunReader::Status::Complete;
                end(whole, whole ? QStringLiteral("played to its end") : reader.errorString());
                return;
            }
            haveBatch = true;
        }
        if (paced && !reader.isRaw()) {
            if (firstNs < 0)
                firstNs = batch.timeNs;
            const qint64 early = (batch.timeNs - firstNs) - clock.nsecsElapsed();
            if (early > 0) {
                timer.start(int(qMin<qint64>(early / 1000000, 100)));
                break;
            }
        }
        const bool whole = forEachReport(batch, [&](const RunReport &r) {
            tally.count(r.header, r.data, r.dataSize);
            if (observer)
                observer->observe(r.header, r.data, r.dataSize);
            ++played;
            if (share && text.size() < logThreshold) {
                if (notShown) {
                    text += QStringLiteral("(%1 reports not shown here; all are in the run file)\n").arg(notShown);
                    notShown = 0;
                }
                ReportText::appendReport(r.header, r.data, r.dataSize, text);
            } else {
                ++notShown;
                ++notShownTotal;
            }
        });
        haveBatch = false;
        if (!whole) {
            end(false, QStringLiteral("a block holds something that is not a whole report"));
            return;
        }
    }
    if (timer.interval() != 0 && !paced)
        timer.start(0);
    if (rates)
        rates->merge(tally, QDateTime::currentMSecsSinceEpoch());
    if (observer)
        observer->publish();
    if (!text.isEmpty()) {
        sinceShare.start();
        emit logText(&text);
        text.clear();
    }
}
