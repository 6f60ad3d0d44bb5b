// Operations of QRbcp on the network core's settings block, its EEPROM and live registers.
#include "kelvoinfo.h"
#include "rbcp.h"

#include <QUdpSocket>

namespace {
constexpr char ProtectOff = char(0x00);
constexpr char ProtectOn = char(0xFF);
constexpr char ResetBit = char(0x80);
} // namespace

quint16 QRbcp::GetTcpPort()
{
    return tcpPort;
}

quint16 QRbcp::GetTcpCloseTimeout()
{
    return tcpCloseTimeout;
}

void QRbcp::WriteEEPROM(uint address, quint16 udp, quint16 tcp)
{
    if (abortFlag)
        throw Aborted; // stopped before anything was sent: the EEPROM was never opened

    // Once the lift of the write protect may have gone out, every way out of here puts the
    // protect back, a stop included.
    bool ok = false;
    try {
        if (!EnableWriteEEPROM(true))
            throw QStringLiteral("Unable to cancel Write Protect for EEPROM");

        // New settings always leave keep-alive on; the other flag bits stay as they are.
        char flags = 0;
        if (Read(InfoAddress, &flags) > 0)
            ok = (flags & KeepAliveBit) || Write(InfoAddress, char(flags | KeepAliveBit)) > 0;

        if (ok) {
            const char addressAndTcp[6] = {char(address >> 24), char(address >> 16), char(address >> 8),
                                           char(address),       char(tcp >> 8),      char(tcp)};
            ok = Write(AddressTcpAddress, addressAndTcp, sizeof addressAndTcp) != 0;
            if (ok) {
                const char udpBytes[2] = {char(udp >> 8), char(udp)};
                ok = Write(UdpPortAddress, udpBytes, sizeof udpBytes) != 0;
            }
        }
    } catch (...) {
        restoreWriteProtect();
        throw;
    }

    if (!protectAgain() || !ok)
        throw QStringLiteral("Unable to access EEPROM");
}

bool QRbcp::protectAgain()
{
    try {
        return EnableWriteEEPROM(false);
    } catch (ErrSts code) {
        if (code == Aborted) {
            // Stopping: the restore still leaves, once, without holding the stop up for its reply.
            const char protect = ProtectOn;
            setWriteCmd(WriteProtectAddress, &protect, 1);
            if (socket)
                socket->write(packet);
        }
        throw;
    }
}

void QRbcp::restoreWriteProtect()
{
    const QString firstFailure = errorText;
    try {
        protectAgain();
    } catch (ErrSts) {
    } catch (const QString &) {
    }
    errorText = firstFailure;
}

bool QRbcp::EnableWriteEEPROM(bool enable)
{
    return Write(WriteProtectAddress, enable ? ProtectOff : ProtectOn) > 0;
}

bool QRbcp::ResetKelvo()
{
    char control = 0;
    if (Read(ControlAddress, &control) <= 0)
        return false;
    return Write(ControlAddress, char(control | ResetBit)) > 0;
}

bool QRbcp::GetInfoKelvo(QString *text)
{
    if (infoBlock.isEmpty())
        return false;
    if (text)
        *text += KelvoInfo::text(infoBlock);
    emit setTcp(KelvoInfo::tcpPort(infoBlock));
    return true;
}

bool QRbcp::ReadInfoKelvo()
{
    // Anything short of the whole block would show stale or made-up settings.
    infoBlock.fill(0, InfoLength);
    if (Read(InfoAddress, infoBlock.data(), InfoLength) != InfoLength || !ReadTcpPort(tcpPort) ||
        !ReadTcpCloseTimeout(tcpCloseTimeout)) {
        infoBlock.clear();
        return false;
    }
    return true;
}

bool QRbcp::ReadTcpPort(quint16 &port)
{
    return Read(LiveTcpPortAddress, port);
}

bool QRbcp::ReadTcpCloseTimeout(quint16 &timeout)
{
    return Read(LiveTcpCloseTimeoutAddress, timeout);
}
