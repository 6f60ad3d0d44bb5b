#pragma once

#include "sequence.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// The module as a sequence sees it: VME accesses of the command channel, register accesses of
// RBCP, a download, the enable mask and a wait. tarnixctl implements it over its blocking
// clients, the window over its two workers.
//
// Every call ends with one call of done, either before it returns (a blocking implementation)
// or later on the caller's thread (a worker's signal, a timer). A VME write may be left
// outstanding: the runner issues up to pipelineDepth() writes before it needs their answers,
// and calls drain() where it waits for all of them; the done calls come in the order of the
// writes.
class SequenceAccess
{
public:
    struct Result
    {
        enum Outcome { Ok, Refused, NoAnswer };
        Outcome outcome = Ok;
        QString message;   // what failed; for a download done, what was done
        QByteArray data;   // bytes read
    };
    using Done = std::function<void(const Result &)>;

    // One VME command: at most 255 bytes, its mode word built from the step's modes.
    struct Vme
    {
        quint32 address = 0;
        quint16 mode = 0;
        int length = 0;    // bytes
        QByteArray data;   // a write's bytes
    };

    virtual ~SequenceAccess() = default;
    virtual void vmeWrite(const Vme &access, Done done) = 0;
    virtual void vmeRead(const Vme &access, Done done) = 0;
    virtual void registerWrite(quint32 address, const QByteArray &data, Done done) = 0;
    virtual void registerRead(quint32 address, int length, Done done) = 0;
    // The whole download (DownloadPlan's order and wait), verified where the access can read.
    virtual void download(const DownloadPlan &plan, Done done) = 0;
    // The event enable mask (0 stops every program).
    virtual void enable(quint8 mask, Done done) { registerWrite(ModuleMemory::EnableAddress, QByteArray(1, char(mask)), done); }
    virtual void wait(int ms, Done done) = 0;
    virtual int pipelineDepth() const { return 1; }
    // Collects the answers of outstanding writes (a blocking implementation blocks here).
    virtual void drain() {}
};

// Runs a sequence's steps in order over an access, stopping at the first failure.
//
// The runner itself never blocks: it issues a step's accesses and goes on when they are done,
// so it serves a blocking access on one thread and a worker's signals on the window's thread
// alike. stop() ends the run before the next step.
class SequenceRunner
{
public:
    enum Outcome { Running, Done, CheckFailed, Refused, NoAnswer, Stopped };

    struct Observer
    {
        std::function<void(int index)> started;                      // a step begins
        std::function<void(int index, const QString &text)> stepDone; // "ok" or what was read
        std::function<void(Outcome, const QString &message)> finished;
    };

    SequenceRunner(QList<Sequence::Step> steps, SequenceAccess &access, Observer observer);

    void start();
    void stop() { stopAsked = true; }
    Outcome outcome() const { return result; }
    int count() const { return int(steps.size()); }
    const QList<Sequence::Step> &stepList() const { return steps; }

    // The VME commands of a step (split into commands of at most 255 bytes).
    static QList<SequenceAccess::Vme> commands(const Sequence::Step &step);
    // The difference of read items from a step's expect, or an empty text.
    static QString mismatch(const Sequence::Step &step, const QByteArray &data);

private:
    void advance();
    void issue(int index);
    void finishStep(int index, const SequenceAccess::Result &r, const QString &text = QStringLiteral("ok"));
    void fail(Outcome outcome, int index, const QString &message);
    void readAll(int index, QList<SequenceAccess::Vme> commands, QByteArray sofar,
                 std::function<void(const QByteArray &)> then);
    void pollOnce(int index, qint64 deadlineMs);

    QList<Sequence::Step> steps;
    SequenceAccess &access;
    Observer observer;
    int next = 0;          // the next step to issue
    int writesInFlight = 0;
    bool busy = false;     // a non-write step is under way
    bool inLoop = false;   // advance() is on the stack
    bool again = false;    // a completion came while it was
    bool pollInLoop = false;
    bool pollAgain = false;
    bool stopAsked = false;
    Outcome result = Running;
};
