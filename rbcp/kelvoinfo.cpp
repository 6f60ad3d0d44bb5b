#include "kelvoinfo.h"

#include <QStringList>

namespace {
constexpr int FlagsOffset = 0;
constexpr int MacOffset = 2;
constexpr int IpOffset = 8;
constexpr int TcpOffset = 12;
constexpr int UdpOffset = 18;
constexpr uchar KeepAlive = 0x04;

uchar byteAt(const QByteArray &block, int offset)
{
    return uchar(block.at(offset));
}

quint16 wordAt(const QByteArray &block, int offset)
{
    return quint16((byteAt(block, offset) << 8) | byteAt(block, offset + 1));
}
} // namespace

namespace KelvoInfo {

quint16 tcpPort(const QByteArray &block)
{
    return block.size() < BlockSize ? 0 : wordAt(block, TcpOffset);
}

quint16 udpPort(const QByteArray &block)
{
    return block.size() < BlockSize ? 0 : wordAt(block, UdpOffset);
}

QString macText(const QByteArray &block)
{
    if (block.size() < BlockSize)
        return QString();
    QStringList mac;
    for (int i = 0; i < 6; ++i)
        mac << QStringLiteral("%1").arg(byteAt(block, MacOffset + i), 2, 16, QLatin1Char('0')).toUpper();
    return mac.join(QLatin1Char(':'));
}

quint32 ipAddress(const QByteArray &block)
{
    return block.size() < BlockSize ? 0 : quint32(wordAt(block, IpOffset)) << 16 | wordAt(block, IpOffset + 2);
}

bool keepAlive(const QByteArray &block)
{
    return block.size() >= BlockSize && (byteAt(block, FlagsOffset) & KeepAlive);
}

QString text(const QByteArray &block)
{
    if (block.size() < BlockSize)
        return QString();

    QString ip = QStringLiteral("IP Address : %1").arg(byteAt(block, IpOffset), 2, 10, QLatin1Char('0'));
    for (int i = 1; i < 4; ++i)
        ip += QStringLiteral(".%1").arg(byteAt(block, IpOffset + i), 2, 10, QLatin1Char('0'));

    QString out = QStringLiteral("--------- Kelvo(EEPROM) Information ---------\n");
    out += QStringLiteral("MAC Address : ") + macText(block) + QLatin1Char('\n');
    out += ip + QLatin1Char('\n');
    out += QStringLiteral("TCP Port : %1\n").arg(tcpPort(block));
    out += QStringLiteral("UDP Port : %1\n").arg(udpPort(block));
    out += QStringLiteral("Keep Alive : ");
    out += keepAlive(block) ? QStringLiteral("ON\n") : QStringLiteral("OFF\n");
    return out;
}

} // namespace KelvoInfo
