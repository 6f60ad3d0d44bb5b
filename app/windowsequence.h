#pragma once

#include "sequencerunner.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

class QTcpThread;
class QUdpThread;

// A sequence run through the window's own workers: VME accesses through the connection's
// worker (commands with IDs of the interactive range, answers matched by ID and mode word),
// register writes, the stop and the download's writes as jobs of the General tab's RBCP worker.
// Nothing here blocks: each access ends with a worker's signal or a timer.
class WindowSequence : public QObject, public SequenceAccess
{
    Q_OBJECT
public:
    WindowSequence(QTcpThread *tcp, QUdpThread *udp, quint8 idLow, quint8 idHigh, int timeoutMs, QObject *parent = nullptr);
    ~WindowSequence() override;

    // What the window's workers cannot do for a sequence, or an empty text: register reads
    // (the RBCP worker has no such job), VME steps without a connection, register steps
    // without the worker.
    static QString refusal(const QList<Sequence::Step> &steps, bool connected, bool worker);

    void run(QList<Sequence::Step> steps, SequenceRunner::Observer observer);
    void stop();
    // An answer from the connection's worker (the window hands each one on before it is cleared).
    void answered(quint8 id, quint16 mode, QByteArray *buf);

    void vmeWrite(const Vme &access, Done done) override { command(access, std::move(done)); }
    void vmeRead(const Vme &access, Done done) override { command(access, std::move(done)); }
    void registerWrite(quint32 address, const QByteArray &data, Done done) override;
    void registerRead(quint32 address, int length, Done done) override;
    void download(const DownloadPlan &plan, Done done) override;
    void wait(int ms, Done done) override;

private:
    void command(const Vme &access, Done done);
    // Starts one RBCP job once the worker is between runs; then runs when the job ends.
    void rbcpJob(std::function<void()> set, std::function<void(bool)> then);

    QPointer<QTcpThread> tcp;
    QPointer<QUdpThread> udp;
    quint8 idLow, idHigh, nextId;
    int timeoutMs;
    struct Waiting
    {
        quint16 mode;
        Done done;
    };
    QHash<quint8, Waiting> waiting;
    QTimer answerTimer;
    std::function<void(bool)> jobEnd;
    std::unique_ptr<SequenceRunner> runner;
};
