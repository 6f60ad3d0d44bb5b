#pragma once

#include "packet.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QTcpSocket>

struct TarnixCmd;

// The command IDs of one run, taken in turn from an inclusive range and wrapping inside it. The
// range must hold no ID that the module's programs use, or their reports could pass for answers.
class CommandIdRange
{
public:
    CommandIdRange(quint8 first = 128, quint8 last = 255) : first(first), last(last), id(first) {}

    quint8 next()
    {
        const quint8 taken = id;
        id = id == last ? first : quint8(id + 1);
        return taken;
    }
    int size() const { return last - first + 1; }

    quint8 first, last;

private:
    quint8 id;
};

// A blocking client of the module's TCP command channel, on the calling thread.
//
// The module answers every command with one packet that carries the command's ID and mode word
// (the status bits 3 to 0 filled in); everything else on the connection is a report of a program
// it runs. send() writes a command and notes it as outstanding; answer() takes the next packet
// that answers an outstanding command and skips the reports. A caller may send several commands
// before it collects their answers, as long as no two outstanding commands share an ID (a
// CommandIdRange gives size() different IDs in turn, so at most that many may be in flight).
// Every wait ends at its deadline however much other traffic arrives.
class CommandClient
{
public:
    enum class Result { Ok, TimedOut, Closed, CrcError };

    struct Packet
    {
        kelvo_vme_master_header header;
        QByteArray data;
    };

    explicit CommandClient(int timeoutMs) : timeoutMs(timeoutMs) {}

    bool connectTo(const QString &host, quint16 port);

    // Writes one command packet whole and notes it as outstanding.
    Result send(const TarnixCmd &cmd, QDeadlineTimer deadline);
    // Several commands in one write (one system call, not one per command).
    Result send(const QList<TarnixCmd> &cmds, QDeadlineTimer deadline);
    // The answer to an outstanding command (which one: its header's id), in the order they
    // arrive; reports are skipped and counted.
    Result answer(Packet &packet, QDeadlineTimer deadline);
    // One command and its answer within the client's time-out.
    Result exchange(const TarnixCmd &cmd, Packet &packet);

    // Whether a packet answers the command of this id and mode word: the module echoes both,
    // with only the status bits filled in.
    static bool answers(const kelvo_vme_master_header &header, quint8 id, quint16 mode);
    static constexpr quint16 StatusBits = 0x000F;

    int outstanding() const { return int(waiting.size()); }
    qint64 skippedReports() const { return skipped; }

    // The next whole packet of the stream, whatever it is.
    Result next(Packet &packet, QDeadlineTimer deadline);
    // Reads what the socket has, waiting until the deadline for something to arrive; false
    // when nothing came (time-out, or the peer closed: see isOpen).
    bool fill(QDeadlineTimer deadline);
    bool isOpen() const { return socket.state() == QAbstractSocket::ConnectedState; }
    // The packets received and not yet taken.
    PacketStream &stream() { return packets; }
    QString errorString() const { return socket.errorString(); }
    int timeout() const { return timeoutMs; }

private:
    QTcpSocket socket;
    PacketStream packets;
    QHash<quint8, quint16> waiting; // outstanding command ID -> its mode word
    qint64 skipped = 0;
    int timeoutMs;
};
