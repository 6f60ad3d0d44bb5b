#pragma once

#include "packet.h"
#include "reportobserver.h"
#include "reportrates.h"
#include "reportrecorder.h"
#include "tarnixcmd.h"

#include <QAbstractSocket>
#include <QAtomicInt>
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QTimer>
#include <QVector>

#include <memory>

class QTcpSocket;

// Worker thread that owns the TCP command connection to the module: it sends the queued
// commands, cuts the module's byte stream into packets, hands responses in the interactive
// ID range to the window and formats everything else (program reports) for the log.
//
// Hand-over to the window: the mailbox, the five log strings and the error text stay owned by
// this object and are lent by pointer. Each has a "lent" flag; the worker writes a buffer only
// while it is not lent. The worker never signals the window directly with a pointer: it posts
// to this object (which lives on the window's thread), and the relay slot emits the public
// signal there and takes the buffer back afterwards. A relay still queued when this object is
// destroyed is discarded by Qt together with the object, so the window never sees a pointer
// into a dead thread object.
//
// Log strings reach the window one per pass of its event loop: when several are waiting at
// once (a fast module, -s 0), the rest wait in arrival order for a zero timer, so that the window
// repaints and takes input between two appends. Before the window learns of an error, whatever
// is still waiting is appended (flushLog).
//
// The connection ends on the first socket error or as soon as the socket is no longer
// connected (a close, a reset, a keep-alive or retransmission time-out), except for the
// time-out of a short read wait on a live socket. Whatever the module sent before the end is
// still parsed and delivered, each packet once.
class QTcpThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int PoolSize = 5;

    QTcpThread(const QString &host, quint16 port, QObject *parent = nullptr);
    ~QTcpThread() override;

    virtual void abort();
    virtual void stop();
    virtual void dumpVmeHeader(const kelvo_vme_master_header &header, QString &out);
    virtual void dumpPacket(const char *data, int count, QString &out, quint32 address);
    virtual void setCmd(TarnixCmd *cmd);
    virtual void setParam(quint8 idLow, quint8 idHigh, int logThreshold, int readBufferKB, int readMax,
                          int sleepMs);

    // One step of the header CRC-8: folds byte into the running value crc.
    static quint8 crcCal(quint8 crc, quint8 byte);

    // Where the reports of this connection are counted (kept by the window across connections);
    // set before start. Counts reach it a few times a second and when the connection ends.
    void setRates(ReportRates *shared) { rates = shared; }
    // What else looks at every report of this connection (the histograms); set before start,
    // used on the worker only, published with the rates.
    void setObserver(std::unique_ptr<ReportObserver> o) { observer = std::move(o); }

    // Recording a run (window's thread). From startRecording on, every report also goes to
    // recorder, the socket is read without the throttling pause (-r and -s apply again once
    // stopped), and the log gets a bounded share: one hand-over every LogShareMs at most, each
    // of at most the log threshold, with a line saying how many reports it did not show.
    // stopRecording returns once the worker no longer touches the recorder (at most one read's
    // pass later); the caller then closes it.
    void startRecording(ReportRecorder *recorder);
    void stopRecording();
    static constexpr int LogShareMs = 100;
    quint64 reportsNotShown() const { return notShownTotal.loadRelaxed(); }

    QString errorString();
    bool isConnected() const { return connectedFlag.loadAcquire() != 0; }
    int queuedCount();

signals:
    void connected();
    void closed();
    void error(QString *text);
    void received(quint8 id, quint16 mode, QByteArray *buf);
    void appendLog(QString *log);

    // Worker to relay, queued onto the window's thread.
    void relayResponse(quint8 id, quint16 mode);
    void relayLog(int index);
    void relayError();

public slots:
    void onError(QAbstractSocket::SocketError err);
    void onError();

protected:
    void run() override;
    virtual bool sendCmd();
    virtual bool recv();
    virtual bool dumpLog();
    virtual void sleepThread(unsigned long ms);
    virtual bool checkBuf();
    virtual QString *getBuffer();

    // Created and destroyed by run() on the worker thread; null outside a connection. A subclass
    // may act on it from the worker's virtual steps (sendCmd, recv).
    QTcpSocket *socket = nullptr;

private slots:
    void deliverResponse(quint8 id, quint16 mode);
    void deliverLog(int index);
    void deliverError();
    void appendNextLog();

private:
    // Appends every log string still waiting, in order (window's thread).
    void flushLog();
    void handOverLog(QString *s);
    int poolIndex(const QString *s) const;
    // Parses what is left in the socket after the connection ended from outside.
    void drainAfterRemoteClose();
    // Whether a wait for the window may go on: not while a stop is asked for (or, while
    // draining after a remote close, not once the window asked to stop).
    bool keepWaiting();
    // Hands the tally to rates when its interval is over, or at once with force: the last
    // merge of the connection.
    void publishRates(bool force);
    // One pass over the received bytes: the log's pass, or the recording pass while a run is
    // recorded.
    bool takePackets();
    bool recordPass(QMutexLocker<QMutex> &lock);
    QString *freeLogBuffer();

    QObject *owner;
    QString host;
    quint16 port;
    QByteArray mailbox;
    PacketStream rxBuffer;
    QString errorText;
    int errorCode = 0;
    QAtomicInt stopRequested{0};
    QAtomicInt connectedFlag{0};
    QAtomicInt userStop{0};
    bool draining = false;
    int logThreshold = 131072;
    int readMax = 1024;
    unsigned long sleepMs = 40;
    qint64 readBufferKB = 8;
    quint8 idLow = 128;
    quint8 idHigh = 255;
    QList<QString> logPool;
    QMutex queueMutex;
    QVector<TarnixCmd *> queue;

    QList<int> waitingLogs; // window's thread only
    QTimer logPacer;

    QAtomicInt mailboxLent{0};
    QAtomicInt poolLent[PoolSize];
    QMutex errorMutex;
    bool connectionLost = false;

    ReportRates *rates = nullptr;

    // Recording: the recorder is used by the worker only while it holds recorderMutex, which it
    // never holds while waiting for the window.
    QMutex recorderMutex;
    ReportRecorder *recorder = nullptr;
    QAtomicInt recorderActive{0};
    bool recordingApplied = false; // worker: the socket is set up for recording
    quint64 notShown = 0;          // worker: reports since the log's last share
    QAtomicInteger<quint64> notShownTotal{0};
    QElapsedTimer sinceLogShare;   // worker
    ReportTally tally;          // worker only
    QElapsedTimer sinceMerge;   // worker only
    std::unique_ptr<ReportObserver> observer; // worker only while running
};
