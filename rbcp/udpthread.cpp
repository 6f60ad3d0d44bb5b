#include "udpthread.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QPointer>

namespace {
const QString VersionRule = QStringLiteral("---------------------------------------------\n");

void connectToParent(QObject *sender, const char *signal, QObject *parent, const char *slot)
{
    // A test may give a plain object without these slots.
    const QByteArray normalized = QMetaObject::normalizedSignature(slot + 1);
    if (parent->metaObject()->indexOfSlot(normalized.constData()) >= 0)
        QObject::connect(sender, signal, parent, slot);
}
} // namespace

QUdpThread::QUdpThread(QObject *parent) : QRbcp(parent)
{
    qRegisterMetaType<QString *>("QString*");
    qRegisterMetaType<quint16>("quint16");

    // The hand-over of the lent texts runs as an event of an object on the window's thread
    // that outlives this one (the parent), and checks that this object still exists.
    QObject *context = parent ? parent : this;
    const QPointer<QUdpThread> self(this);
    connect(this, &QUdpThread::errorReady, context, [self] {
        if (self)
            emit self->error(&self->errorText);
    }, Qt::QueuedConnection);
    connect(this, &QUdpThread::infoReady, context, [self] {
        if (self)
            emit self->received(&self->infoText);
    }, Qt::QueuedConnection);

    if (parent) {
        connectToParent(this, SIGNAL(error(QString *)), parent, SLOT(displayError(QString *)));
        connectToParent(this, SIGNAL(setTcp(quint16)), parent, SLOT(displayTcp(quint16)));
        connectToParent(this, SIGNAL(received(QString *)), parent, SLOT(displayInfo(QString *)));
    }
}

QUdpThread::~QUdpThread()
{
    stop();
    clearQueue();
}

void QUdpThread::setNewAddress(uint address, quint16 tcp, quint16 udp)
{
    newAddress = address;
    newTcpPort = tcp;
    newUdpPort = udp;
    command = CmdNewAddress;
}

void QUdpThread::setCmd(Command cmd)
{
    command = cmd;
}

void QUdpThread::setWrite(uint address, const QByteArray &data)
{
    auto *record = new RbcpProcess(true);
    record->address = address;
    record->data = data;
    {
        QMutexLocker lock(&queueMutex);
        queue.append(record);
    }
    command = CmdWrite;
}

int QUdpThread::queuedCount()
{
    QMutexLocker lock(&queueMutex);
    return int(queue.size());
}

void QUdpThread::clearQueue()
{
    QMutexLocker lock(&queueMutex);
    qDeleteAll(queue);
    queue.clear();
}

bool QUdpThread::readRegister()
{
    registerData.fill(0, 4);
    if (Read(VersionAddress, registerData.data(), 4) == 0) {
        registerData.clear();
        return false;
    }
    return true;
}

void QUdpThread::getInfo(QString *text)
{
    if (!text)
        return;
    *text += VersionRule;
    if (registerData.size() < 4)
        return;
    *text += QStringLiteral("FPGA Version : ") + QString::fromLatin1(registerData.left(4).toHex().toUpper()) +
             QLatin1Char('\n') + VersionRule;
}

void QUdpThread::readInfo()
{
    if (!ReadInfoKelvo())
        throw QStringLiteral("Unable to read Kelvo information");
    if (!readRegister())
        throw QStringLiteral("Unable to read information from Register");
    infoText.clear();
    GetInfoKelvo(&infoText);
    getInfo(&infoText);
    emit infoReady(QPrivateSignal());
}

void QUdpThread::run()
{
    if (!startUDP())
        return;

    try {
        switch (command) {
        case CmdReadInfo:
            beginProgress(RbcpProgress::ReadingSettings, SettingsReadBytes);
            readInfo();
            break;
        case CmdNewAddress:
            beginProgress(RbcpProgress::WritingSettings, SettingsWriteBytes + SettingsReadBytes);
            WriteEEPROM(newAddress, newUdpPort, newTcpPort);
            readInfo();
            break;
        case CmdWrite: {
            qint64 total = 0;
            for (const RbcpProcess *record : std::as_const(queue))
                total += record->write ? record->data.size() : 0;
            beginProgress(RbcpProgress::WritingRegisters, total);
            for (const RbcpProcess *record : std::as_const(queue)) {
                if (!record->write)
                    continue;
                // Writing the event enable mask is what sets the programs going again.
                setProgressStep(record->address == EventEnableAddress ? RbcpProgress::Enabling
                                                                      : RbcpProgress::WritingRegisters);
                const uint length = uint(record->data.size());
                if (length == 0 || Write(record->address, record->data.constData(), length) != length)
                    throw QStringLiteral("Write ERROR");
            }
            break;
        }
        case CmdSetFlag: {
            beginProgress(RbcpProgress::StoppingPrograms, 1);
            const char mask = 0;
            if (write(EventEnableAddress, &mask, 1) < 1)
                throw QStringLiteral("Write ERROR");
            emit setFlg();
            break;
        }
        case CmdNone:
        default:
            break;
        }
        succeeded = true;
    } catch (const QString &text) {
        errorText = text;
        noteFailed();
        if (!abortFlag)
            emit errorReady(QPrivateSignal());
    } catch (ErrSts code) {
        strError(code);
        noteFailed();
        if (!abortFlag)
            emit errorReady(QPrivateSignal());
    }

    clearQueue();
    command = CmdNone;
    emit closed(succeeded);
}
