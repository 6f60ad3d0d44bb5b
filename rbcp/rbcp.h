#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QMutex>
#include <QString>
#include <QThread>

#include <atomic>

#include "rbcpprogress.h"

class QUdpSocket;

// Client of the network core's register protocol (RBCP over UDP).
//
// Every access is one request datagram and one reply datagram carrying the request's ID. The
// client waits for the reply in 100 ms slices (so that an abort is seen quickly), retries a
// request that got no reply with a new ID, drops replies with another ID, and splits long
// transfers into blocks. Failures are thrown: a QRbcp::ErrSts code for a transport failure
// (after describing it in errorText), a QString text for a failed step of a settings operation.
//
// The object is a QThread so that a subclass (QUdpThread) can run the accesses off the
// window's thread; QRbcp keeps QThread's run(). The socket is created by startUDP() on the
// thread that runs the accesses, without a parent, and reused by every later run. It is
// deleted by the destructor after stop() has waited for the worker to leave its run: the
// socket's notifiers belonged to that worker's event dispatcher, which is gone by then, so
// deleting it from the owner's thread touches nothing that another thread still uses.
class QRbcp : public QThread
{
    Q_OBJECT
public:
    enum ErrSts {
        Aborted = 0,
        WriteFailed = -1,
        ReadFailed = -2,
        SocketFailed = -3,
        BusError = -4,
        TimedOut = -5,
    };

    // Settings block of the network core and its neighbours in the register space.
    static constexpr uint InfoAddress = 0xFFFFFC10;
    static constexpr uint InfoLength = 20;
    static constexpr uint AddressTcpAddress = 0xFFFFFC18;
    static constexpr uint UdpPortAddress = 0xFFFFFC22;
    static constexpr uint WriteProtectAddress = 0xFFFFFCFF;
    static constexpr uint ControlAddress = 0xFFFFFF10;
    static constexpr uint LiveTcpPortAddress = 0xFFFFFF1C;
    static constexpr uint LiveTcpCloseTimeoutAddress = 0xFFFFFF2A;
    static constexpr quint8 KeepAliveBit = 0x04;

    // Length of one wait for a reply, in milliseconds.
    static constexpr int WaitSliceMs = 100;

    explicit QRbcp(QObject *parent = nullptr);
    ~QRbcp() override;

    // Stores the module's address and UDP port; false (and nothing changed) when both equal
    // the stored ones. An existing socket is not re-bound.
    virtual bool SetIpAddress(const QHostAddress &address, quint16 udp);
    virtual void SetIpAddress(const QHostAddress &address, quint16 udp, quint16 tcp);
    // Starts a run of the thread with no stop pending; an Abort() or stop() from then on, also
    // one that comes before the run has begun, ends that run. Does nothing while a run is going.
    void start(Priority priority = InheritPriority);
    // Asks a running access to stop at its next check (callable from any thread).
    virtual void Abort();
    // Abort(), then blocks until the worker has left its run.
    virtual void stop();
    // Emits closed() with the outcome of the last run; the socket stays open.
    virtual void closeSocket();
    // Reply wait per attempt in seconds (10 slices of 100 ms each); zero or less is ignored.
    virtual void SetTimeout(int seconds);
    // Number of retries after the first attempt; zero or less is ignored.
    virtual void SetRetry(int retries);

    virtual quint16 GetTcpPort();
    virtual quint16 GetTcpCloseTimeout();

    // Register accesses. The splitting forms walk any length in blocks of at most blockSize.
    virtual int Read(uint address, char *buffer);
    virtual uint Read(uint address, char *buffer, uint length);
    virtual uint ReadAll(uint address, char *buffer, uint length);
    virtual bool Read(uint address, quint16 &value);
    virtual int Write(uint address, char value);
    virtual uint Write(uint address, const char *data, uint length);
    virtual uint WriteAll(uint address, const char *data, uint length);

    // The network core's settings block.
    virtual void WriteEEPROM(uint address, quint16 udp, quint16 tcp);
    virtual bool EnableWriteEEPROM(bool enable);
    virtual bool ResetKelvo();
    virtual bool GetInfoKelvo(QString *text);
    virtual bool ReadInfoKelvo();
    virtual bool ReadTcpPort(quint16 &port);
    virtual bool ReadTcpCloseTimeout(quint16 &timeout);

    // Appends the text of code to errorText.
    virtual void strError(ErrSts code);

    // Building blocks: a request in packet, and single accesses of at most 255 bytes with
    // retries (each returns the number of data bytes or throws).
    virtual int setReadCmd(uint address, uchar length);
    virtual int read(uint address, char *buffer, uchar length);
    virtual int setWriteCmd(uint address, const char *data, uchar length);
    virtual int write(uint address, const char *data, uchar length);

    // Prepares a run on the calling thread: resets the error text and the outcome and creates
    // the socket on first use. False when no address is set. A stop already asked for stays.
    virtual bool startUDP();
    // Sends packet and waits for the reply with ID id (any reply for a negative id): the
    // reply's size, -4 for a bus error, -5 when the waits ran out.
    virtual int commRBCP(int id);
    // Next request ID, 0 to 127.
    virtual uchar getId();

    // Reply wait per attempt counted in 100 ms slices, for callers that need less than a
    // second (tests of the time-out paths); zero or less is ignored.
    void SetWaitCount(int slices);
    // Each attempt lasts ms whatever arrives (0: the count of waits above rules): a datagram
    // with another ID or too short to be a reply is dropped and the wait goes on to the
    // attempt's deadline, so strays on the network neither shorten an attempt nor end the job.
    void SetAttemptTime(int ms) { attemptMs = qMax(0, ms); }

    // Description of the last failure (what error() points to).
    const QString &errorString() const { return errorText; }
    // The same on one line, its lines joined by "; ", for a shell or a script.
    QString errorLine() const;
    // The settings block as ReadInfoKelvo read it last (empty when it failed).
    const QByteArray &settingsBlock() const { return infoBlock; }

    // The state the worker published last (any thread): for a watcher that connects to
    // progress() after the run has begun and may have missed its first states.
    RbcpProgress progressNow() const;

signals:
    void closed(bool ok);
    void error(QString *estr);
    void setTcp(quint16 port);
    // After every answered request, before every retry and at a failure (from the worker).
    void progress(const RbcpProgress &state);

protected:
    // Appends the failure lines of one access.
    void appendAccessFailure(const char *direction, uint address, uint length);
    // Puts the EEPROM's write protect back: the result of the write, or its failure thrown. A
    // stop does not keep the request from leaving; it only skips waiting for the reply.
    bool protectAgain();
    // Progress of the job: a new job of total bytes, the step of the next requests, the request
    // about to leave (not published), a retry of it, its answer, and the failure of the job.
    void beginProgress(RbcpProgress::Step step, qint64 total);
    void setProgressStep(RbcpProgress::Step step);
    void noteRequest(quint32 address, int attempt);
    void noteAnswered(qint64 bytes);
    void noteFailed();
    void publishProgress();
    // After a failure inside WriteEEPROM: protectAgain() without letting its outcome change
    // what the first failure reported.
    void restoreWriteProtect();
    // commRBCP's wait for a client that set an attempt time.
    int awaitReply(int id);

    uchar rbcpId = 0;
    quint16 udpPort = 4660;
    quint16 tcpPort = 0;
    quint16 tcpCloseTimeout = 0;
    QHostAddress hostAddress;
    QUdpSocket *socket = nullptr;
    QString errorText;
    std::atomic_bool abortFlag{false};
    bool succeeded = false;
    uint blockSize = 128;
    int waitCount = 40;
    int attempts = 3;
    int attemptMs = 0;
    QByteArray packet;
    QByteArray infoBlock;
    // Written by the worker; the copy in published is what other threads read.
    RbcpProgress progressState;
    mutable QMutex progressMutex;
    RbcpProgress published;
};
