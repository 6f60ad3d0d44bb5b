#pragma once

#include <QByteArray>
#include <QString>

// Layout of the network core's 20-byte settings block (read at 0xFFFFFC10): flags at 0
// (bit 2: keep-alive), MAC address at 2, IPv4 address at 8, TCP port at 12, UDP port at 18.
// Multi-byte values are most significant byte first; bytes 1 and 14 to 17 are not used here.
namespace KelvoInfo {

constexpr int BlockSize = 20;

// TCP port stored in the block (0 for a block shorter than 20 bytes).
quint16 tcpPort(const QByteArray &block);
// UDP port stored in the block (0 for a block shorter than 20 bytes).
quint16 udpPort(const QByteArray &block);
// The MAC address as six hex pairs, "00:1A:2B:3C:4D:5E".
QString macText(const QByteArray &block);
// The IPv4 address, most significant byte first (0 for a short block).
quint32 ipAddress(const QByteArray &block);
bool keepAlive(const QByteArray &block);
// The operator's view of the block: header line, MAC, IP address, ports and keep-alive, one
// line each. Empty for a block shorter than 20 bytes.
QString text(const QByteArray &block);

} // namespace KelvoInfo
