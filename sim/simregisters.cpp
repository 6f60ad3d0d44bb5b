#include "simregisters.h"

#include "simwire.h"

namespace {

// [start, start + size) inside [base, base + span).
bool within(quint64 start, quint64 size, quint64 base, quint64 span)
{
    return size > 0 && start >= base && start + size <= base + span;
}

} // namespace

SimRegisters::SimRegisters()
    : m_logic(int(LogicSize), '\0'), m_settings(SettingsSize, '\0')
{
}

void SimRegisters::setVersion(quint32 version)
{
    SimWire::writeBe32(m_logic.data() + VersionAddress, version);
}

void SimRegisters::setSettings(quint8 flags, const QByteArray &mac, quint32 ip, quint16 tcpPort,
                               quint16 udpPort)
{
    m_settings.fill('\0');
    m_settings[FlagsOffset] = char(flags);
    for (int i = 0; i < 6 && i < mac.size(); ++i)
        m_settings[MacOffset + i] = mac[i];
    SimWire::writeBe32(m_settings.data() + IpOffset, ip);
    SimWire::writeBe16(m_settings.data() + TcpPortOffset, tcpPort);
    SimWire::writeBe16(m_settings.data() + UdpPortOffset, udpPort);
}

bool SimRegisters::read(quint32 address, int size, QByteArray *out) const
{
    const quint64 start = address;
    const quint64 n = quint64(qMax(size, 0));
    // The version register and the program memory are one contiguous register file for reads.
    if (within(start, n, 0, LogicSize)) {
        *out = m_logic.mid(int(start), size);
        return true;
    }
    if (within(start, n, SettingsAddress, SettingsSize)) {
        *out = m_settings.mid(int(start - SettingsAddress), size);
        return true;
    }
    if (within(start, n, WriteProtectAddress, 1)) {
        *out = QByteArray(1, m_writeProtected ? char(0xFF) : char(0x00));
        return true;
    }
    if (within(start, n, ControlAddress, 1)) {
        *out = QByteArray(1, char(m_control));
        return true;
    }
    char word[2];
    if (within(start, n, LiveTcpPortAddress, 2)) {
        SimWire::writeBe16(word, m_liveTcpPort);
        *out = QByteArray(word + (start - LiveTcpPortAddress), size);
        return true;
    }
    if (within(start, n, CloseTimeoutAddress, 2)) {
        SimWire::writeBe16(word, m_closeTimeout);
        *out = QByteArray(word + (start - CloseTimeoutAddress), size);
        return true;
    }
    return false;
}

bool SimRegisters::write(quint32 address, const QByteArray &data, bool *coreReset)
{
    if (coreReset)
        *coreReset = false;
    const quint64 start = address;
    const quint64 n = quint64(data.size());
    // The version register is read-only; a write touching it is refused as a whole.
    if (within(start, n, EventEnableAddress, LogicSize - EventEnableAddress)) {
        m_logic.replace(int(start), data.size(), data);
        return true;
    }
    if (within(start, n, SettingsAddress, SettingsSize)) {
        // Only the flags byte, the address with the TCP port, and the UDP port are writable,
        // and only while the EEPROM write protect is lifted.
        const quint64 flags = SettingsAddress + FlagsOffset;
        const quint64 ipAndTcp = SettingsAddress + IpOffset;
        const quint64 udp = SettingsAddress + UdpPortOffset;
        const bool writable = within(start, n, flags, 1) || within(start, n, ipAndTcp, 6)
            || within(start, n, udp, 2);
        if (!writable || m_writeProtected)
            return false;
        m_settings.replace(int(start - SettingsAddress), data.size(), data);
        return true;
    }
    if (within(start, n, WriteProtectAddress, 1)) {
        // 0x00 lifts the protect; 0xFF, or anything else, keeps the EEPROM safe.
        m_writeProtected = data.at(0) != 0;
        return true;
    }
    if (within(start, n, ControlAddress, 1)) {
        quint8 value = quint8(data.at(0));
        if (value & ControlReset) {
            // The core restarts and clears the request bit; the module keeps its sockets.
            value &= quint8(~ControlReset);
            if (coreReset)
                *coreReset = true;
        }
        m_control = value;
        return true;
    }
    return false;
}

bool SimRegisters::poke(quint32 address, const QByteArray &data)
{
    const quint64 start = address;
    const quint64 n = quint64(data.size());
    if (within(start, n, 0, LogicSize)) {
        m_logic.replace(int(start), data.size(), data);
        return true;
    }
    if (within(start, n, SettingsAddress, SettingsSize)) {
        m_settings.replace(int(start - SettingsAddress), data.size(), data);
        return true;
    }
    if (within(start, n, ControlAddress, 1)) {
        m_control = quint8(data.at(0));
        return true;
    }
    return false;
}
