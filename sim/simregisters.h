#pragma once

#include <QByteArray>
#include <QtGlobal>

// The RBCP register space of the module: the logic's registers at the bottom (version register,
// event registers and program memory) and the network core's settings block, EEPROM write
// protect and live registers at the top. Accesses that leave a mapped register, or write a
// register that cannot be written, are refused; the caller answers them with the bus error flag.
class SimRegisters
{
public:
    static constexpr quint32 VersionAddress = 0x00000000;
    static constexpr quint32 EventEnableAddress = 0x00000004;
    static constexpr quint32 LogicSize = 4096;               // 0..3 version, 4..4095 program memory
    static constexpr quint32 SettingsAddress = 0xFFFFFC10;
    static constexpr int SettingsSize = 20;
    static constexpr quint32 WriteProtectAddress = 0xFFFFFCFF;
    static constexpr quint32 ControlAddress = 0xFFFFFF10;
    static constexpr quint32 LiveTcpPortAddress = 0xFFFFFF1C;
    static constexpr quint32 CloseTimeoutAddress = 0xFFFFFF2A;
    static constexpr quint8 ControlReset = 0x80;

    // Offsets inside the settings block.
    static constexpr int FlagsOffset = 0;
    static constexpr int MacOffset = 2;
    static constexpr int IpOffset = 8;
    static constexpr int TcpPortOffset = 12;
    static constexpr int UdpPortOffset = 18;

    SimRegisters();

    void setVersion(quint32 version);
    void setSettings(quint8 flags, const QByteArray &mac, quint32 ip, quint16 tcpPort, quint16 udpPort);
    void setLiveTcpPort(quint16 port) { m_liveTcpPort = port; }
    void setCloseTimeout(quint16 timeout) { m_closeTimeout = timeout; }

    // RBCP semantics. read() fills *out with `size` bytes; both return false for a bus error
    // and then change nothing. write() sets *coreReset when the write asked for a core reset.
    bool read(quint32 address, int size, QByteArray *out) const;
    bool write(quint32 address, const QByteArray &data, bool *coreReset = nullptr);

    // Test access that ignores the write protect and read-only registers: any mapped range
    // of the logic, the settings block or the control register. False for anything else.
    bool poke(quint32 address, const QByteArray &data);

    bool writeProtected() const { return m_writeProtected; }
    quint8 control() const { return m_control; }

private:
    QByteArray m_logic;
    QByteArray m_settings;
    bool m_writeProtected = true;
    quint8 m_control = 0;
    quint16 m_liveTcpPort = 0;
    quint16 m_closeTimeout = 5;
};
