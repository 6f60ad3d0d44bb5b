// The command thread while a run is recorded: every report to the recorder, the socket read
// without the throttling pause, and a bounded share of the reports for the log.
#include "tcpthread.h"

#include "reporttext.h"

#include <QDateTime>

#include <chrono>

void QTcpThread::startRecording(ReportRecorder *r)
{
    QMutexLocker lock(&recorderMutex);
    recorder = r;
    notShownTotal.storeRelaxed(0);
    recorderActive.storeRelease(r ? 1 : 0);
}

void QTcpThread::stopRecording()
{
    // The worker holds the mutex for one pass at most and never waits for this thread meanwhile.
    QMutexLocker lock(&recorderMutex);
    recorder = nullptr;
    recorderActive.storeRelease(0);
}

bool QTcpThread::takePackets()
{
    if (!recorderActive.loadAcquire())
        return dumpLog();
    QMutexLocker lock(&recorderMutex);
    if (!recorder) {
        lock.unlock();
        return dumpLog();
    }
    return recordPass(lock);
}

QString *QTcpThread::freeLogBuffer()
{
    for (int i = 0; i < PoolSize; ++i) {
        if (!poolLent[i].loadAcquire())
            return &logPool[i];
    }
    return nullptr;
}

bool QTcpThread::recordPass(QMutexLocker<QMutex> &lock)
{
    ReportRecorder *const w = recorder;
    const qint64 now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    if (rates)
        tally.setTime(now / 1000000);
    // The log's share: never waited for, at most one string per LogShareMs.
    QString *log = nullptr;
    if (!sinceLogShare.isValid() || sinceLogShare.elapsed() >= LogShareMs)
        log = freeLogBuffer();
    quint64 recorded = 0, skipped = 0;
    bool ok = true;
    for (;;) {
        if (!draining && (stopRequested.loadAcquire() || !sendCmd())) {
            ok = false;
            break;
        }
        kelvo_vme_master_header header;
        const char *data = nullptr;
        int dataSize = 0;
        const KelvoPacket::Frame frame = rxBuffer.peek(header, data, dataSize);
        if (frame == KelvoPacket::Frame::CrcError) {
            tally.countCrcError();
            w->countCrcError();
            errorCode = 2;
            ok = false;
            break;
        }
        if (frame == KelvoPacket::Frame::Incomplete)
            break;
        if (idLow <= header.id && header.id <= idHigh) {
            // An answer to the operator's command: to the mailbox, as without recording.
            if (mailboxLent.loadAcquire()) {
                lock.unlock();
                const bool free = checkBuf();
                lock.relock();
                if (!free) {
                    ok = false;
                    break;
                }
                if (recorder != w)
                    break; // stopped meanwhile: the rest takes the log's way
            }
            mailbox = QByteArray(data, dataSize);
            rxBuffer.take(dataSize);
            mailboxLent.storeRelease(1);
            emit relayResponse(header.id, header.mode);
            continue;
        }
        tally.count(header, data, dataSize);
        if (observer)
            observer->observe(header, data, dataSize);
        w->addPacket(data - KelvoPacket::HeaderSize, KelvoPacket::HeaderSize + dataSize, now);
        ++recorded;
        if (log && log->size() < logThreshold) {
            if (notShown) {
                *log += QStringLiteral("(%1 reports not shown here while recording; all are in the run file)\n")
                            .arg(notShown);
                notShown = 0;
            }
            ReportText::appendReport(header, data, dataSize, *log);
        } else {
            ++skipped;
        }
        rxBuffer.take(dataSize);
    }
    notShown += skipped;
    notShownTotal.fetchAndAddRelaxed(skipped);
    if (!recorded)
        w->flush(); // a quiet pass: what the recorder holds goes out now
    if (log && !log->isEmpty()) {
        handOverLog(log);
        sinceLogShare.start();
    }
    return ok;
}
