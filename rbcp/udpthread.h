#pragma once

#include "rbcp.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QVector>

// One queued register write of a CmdWrite job.
class RbcpProcess
{
public:
    explicit RbcpProcess(bool write) : write(write) {}

    bool write;
    quint32 address = 0;
    QByteArray data;
};

// Runs one RBCP job per start, off the window's thread: reading the network core's settings
// and the logic's version, writing new network settings, writing queued register records, or
// clearing the event enable mask. A job is set (setCmd, setNewAddress, setWrite) and the thread
// started only while no run is going; every run ends with command CmdNone and an empty queue.
//
// Signals: setTcp, setFlg and closed come straight from the worker (queued to receivers on the
// window's thread). error and received lend a pointer to errorText and infoText; they are handed
// over through the window's thread and dropped there when this object was deleted in between,
// so a receiver never gets a pointer into a dead object. Both texts stay untouched until the
// next start.
class QUdpThread : public QRbcp
{
    Q_OBJECT
public:
    enum Command {
        CmdNone = 0,
        CmdReadInfo = 1,
        CmdNewAddress = 2,
        CmdWrite = 3,
        CmdSetFlag = 4,
    };

    // Register 0 of the module's logic: 4 bytes of version.
    static constexpr uint VersionAddress = 0x00000000;
    // Event enable mask of the VME master: 0 stops every program.
    static constexpr uint EventEnableAddress = 0x00000004;
    // Bytes a settings read moves (settings block, live TCP port and close time-out, version),
    // and the most a settings write moves before it reads them back (write protect off, flags
    // read and perhaps written, address and TCP port, UDP port, write protect on).
    static constexpr qint64 SettingsReadBytes = 20 + 2 + 2 + 4;
    static constexpr qint64 SettingsWriteBytes = 1 + 2 + 6 + 2 + 1;

    // The parent (the General tab) gets error, setTcp and received in its displayError,
    // displayTcp and displayInfo slots, where it has them.
    explicit QUdpThread(QObject *parent = nullptr);
    ~QUdpThread() override;

    // New network settings to write; sets the command to CmdNewAddress.
    virtual void setNewAddress(uint address, quint16 tcp, quint16 udp);
    virtual void setCmd(Command cmd);
    // Queues one register write (a copy of data); sets the command to CmdWrite.
    virtual void setWrite(uint address, const QByteArray &data);
    virtual void readInfo();
    virtual bool readRegister();
    // Appends the version lines to text.
    virtual void getInfo(QString *text);
    // The version register as readRegister read it last (empty when it failed).
    const QByteArray &versionRegister() const { return registerData; }

    Command currentCommand() const { return command; }
    int queuedCount();

signals:
    void received(QString *text);
    void setFlg();

    // Worker to window thread; relayed as error and received there.
    void errorReady(QPrivateSignal);
    void infoReady(QPrivateSignal);

protected:
    void run() override;

    Command command = CmdNone;
    QString infoText;
    uint newAddress = 0;
    quint16 newTcpPort = 0;
    quint16 newUdpPort = 0;
    QByteArray registerData;
    QMutex queueMutex;
    QVector<RbcpProcess *> queue;

private:
    void clearQueue();
};
