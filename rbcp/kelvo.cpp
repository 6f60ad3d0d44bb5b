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
    // Once the write protect is lifted it must go back on whatever happens; the normal way
    // back is the explicit restore below, every other way out restores it best-effort.
    bool protectHandled = false;
    try {
        if (!EnableWriteEEPROM(true))
            throw QStringLiteral("Unable to cancel Write Protect for EEPROM");

        // New settings always leave keep-alive on; the other flag bits stay as they are.
        bool ok = false;
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

        protectHandled = true;
        const bool restored = EnableWriteEEPROM(false);
        if (!restored || !ok)
            throw QStringLiteral("Unable to access EEPROM");
    } catch (...) {
        if (!protectHandled)
            restoreWriteProtect();
        throw;
    }
}

void QRbcp::restoreWriteProtect()
{
    const QString firstFailure = errorText;
    const char protect = ProtectOn;
    if (abortFlag) {
        // Stopping: send the restore once and do not hold the stop up waiting for its reply.
        setWriteCmd(WriteProtectAddress, &protect, 1);
        if (socket)
            socket->write(packet);
    } else {
        try {
            EnableWriteEEPROM(false);
        } catch (ErrSts) {
        } catch (const QString &) {
        }
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
