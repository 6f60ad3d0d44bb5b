// read and write: single VME accesses over the TCP command channel.
#include "ctlcommands.h"

#include "commandclient.h"
#include "hexlayout.h"
#include "modeword.h"
#include "tarnixcmd.h"

#include <cstdio>

namespace Ctl {

quint64 addressSpaceTop(int addressMode)
{
    return addressMode == 0 ? 0xFFFFu : addressMode == 1 ? 0xFFFFFFu : 0xFFFFFFFFu;
}

namespace {

int itemLimit(int dataMode) { return 255 / VmeModeWord::itemSize(dataMode); }

bool fixedAddress(int accessMode) { return accessMode >= 6 && accessMode <= 9; }

QString alignmentError(quint32 address, int dataMode)
{
    if (dataMode == 2 && address % 4)
        return QStringLiteral("The address must be 4byte aligned.");
    if (dataMode == 1 && address % 2)
        return QStringLiteral("The address must be 2byte aligned.");
    return QString();
}

// Whether every item of the transfer lies inside the address mode's range; a fixed-address
// transfer touches only its first item.
QString rangeError(const Options &o, quint64 address, quint64 items)
{
    const quint64 top = addressSpaceTop(o.addressMode);
    const quint64 size = quint64(VmeModeWord::itemSize(o.dataMode));
    const quint64 last = address + (fixedAddress(o.accessMode) ? size : items * size) - 1;
    if (last <= top)
        return QString();
    return QStringLiteral("%1: the transfer ends at 0x%2, beyond %3 (0x%4)")
        .arg(o.command)
        .arg(last, 0, 16)
        .arg(VmeModeWord::addressModeLabels().at(o.addressMode))
        .arg(top, 0, 16);
}

QString statusText(quint16 mode)
{
    QStringList parts;
    if (mode & VmeModeWord::StatusVmeError)
        parts << QStringLiteral("VME error");
    if (mode & VmeModeWord::StatusParamError)
        parts << QStringLiteral("parameter error");
    return parts.join(QStringLiteral(", ")) +
           QStringLiteral(" (MODE:0x%1)").arg(mode, 4, 16, QLatin1Char('0'));
}

QString clientFailure(CommandClient::Result r, const CommandClient &client)
{
    switch (r) {
    case CommandClient::Result::TimedOut: return QStringLiteral("no answer from the module");
    case CommandClient::Result::Closed: return QStringLiteral("the module closed the connection: ") + client.errorString();
    case CommandClient::Result::CrcError: return QStringLiteral("CRC error in a header from the module");
    case CommandClient::Result::Ok: break;
    }
    return QString();
}

// The hex dump of a transfer, printed as its data arrives: whole rows of 8 bytes as soon as a
// piece of them is there, the unfinished row at the end. Memory stays bounded however long the
// transfer.
class DumpWriter
{
public:
    DumpWriter(int dataMode, quint32 address) : dataMode(dataMode), address(address) {}

    void add(const QByteArray &data)
    {
        pending += data;
        if (pending.size() >= Piece)
            write(pending.size() / 8 * 8);
    }
    // Everything still held, the unfinished row ended by a line feed.
    void finish()
    {
        write(pending.size());
        std::fflush(stdout);
    }

private:
    static constexpr qsizetype Piece = 64 * 1024;

    void write(qsizetype bytes)
    {
        if (bytes == 0)
            return;
        QString text = HexLayout::plainText(pending.left(bytes), dataMode, true, address);
        if (!text.endsWith(QLatin1Char('\n')))
            text += QLatin1Char('\n');
        say(text);
        address += quint32(bytes);
        pending.remove(0, bytes);
    }

    int dataMode;
    quint32 address;
    QByteArray pending;
};

// One VME access of the command channel, split into as many commands as the length byte needs.
int vmeAccess(const Options &o, quint32 address, bool read, const QByteArray &writeData,
              quint64 items)
{
    const int size = VmeModeWord::itemSize(o.dataMode);
    CommandClient client(o.timeoutMs);
    if (!client.connectTo(o.target, o.tcpPort))
        return fail(NoAnswer, QStringLiteral("cannot connect to %1:%2: %3")
                                  .arg(o.target).arg(o.tcpPort).arg(client.errorString()));
    VmeModeWord word;
    word.read = read;
    word.echo = !read && o.echo;
    word.dataMode = o.dataMode;
    word.addressMode = o.addressMode;
    word.accessMode = o.accessMode;

    // A write's echo is shown only when asked for; the data up to a failure is shown before it.
    DumpWriter dump(o.dataMode, address);
    const bool show = read || o.echo;
    CommandIdRange ids(o.idFirst, o.idLast);
    quint64 done = 0;
    do {
        const quint64 n = qMin<quint64>(items - done, quint64(itemLimit(o.dataMode)));
        TarnixCmd cmd;
        cmd.address = fixedAddress(o.accessMode) ? address : quint32(address + done * size);
        cmd.length = quint32(n * size);
        cmd.mode = word.mode();
        cmd.id = ids.next();
        if (!read)
            cmd.data = writeData.mid(qsizetype(done * size), qsizetype(n * size));
        CommandClient::Packet answer;
        const CommandClient::Result r = client.exchange(cmd, answer);
        if (r != CommandClient::Result::Ok) {
            if (show)
                dump.finish();
            return fail(NoAnswer, clientFailure(r, client));
        }
        if (VmeModeWord::hasError(answer.header.mode)) {
            if (show)
                dump.finish();
            return fail(Refused, QStringLiteral("%1 at 0x%2")
                                     .arg(statusText(answer.header.mode))
                                     .arg(cmd.address, 8, 16, QLatin1Char('0')));
        }
        if (show)
            dump.add(answer.data);
        done += n;
    } while (done < items);
    if (show)
        dump.finish();
    return Success;
}

} // namespace

int readCommand(const Options &o)
{
    if (o.args.isEmpty() || o.args.size() > 2)
        return fail(BadUsage, QStringLiteral("read: give ADDRESS and at most a COUNT"));
    quint64 address = 0;
    if (!parseNumber(o.args.at(0), 0xFFFFFFFFu, address))
        return fail(BadUsage, QStringLiteral("read: bad address \"%1\"").arg(o.args.at(0)));
    quint64 count = 1;
    if (o.args.size() == 2 && (!parseNumber(o.args.at(1), 0xFFFFFFu, count) || count == 0))
        return fail(BadUsage, QStringLiteral("read: bad count \"%1\"").arg(o.args.at(1)));
    const QString aligned = alignmentError(quint32(address), o.dataMode);
    if (!aligned.isEmpty())
        return fail(BadUsage, aligned);
    const QString range = rangeError(o, address, count);
    if (!range.isEmpty())
        return fail(BadUsage, range);
    return vmeAccess(o, quint32(address), true, QByteArray(), count);
}

int writeCommand(const Options &o)
{
    if (o.args.size() < 2)
        return fail(BadUsage, QStringLiteral("write: give ADDRESS and at least one DATA item"));
    quint64 address = 0;
    if (!parseNumber(o.args.at(0), 0xFFFFFFFFu, address))
        return fail(BadUsage, QStringLiteral("write: bad address \"%1\"").arg(o.args.at(0)));
    const QString aligned = alignmentError(quint32(address), o.dataMode);
    if (!aligned.isEmpty())
        return fail(BadUsage, aligned);
    const QString range = rangeError(o, address, quint64(o.args.size() - 1));
    if (!range.isEmpty())
        return fail(BadUsage, range);
    const int size = VmeModeWord::itemSize(o.dataMode);
    const quint64 max = size == 4 ? 0xFFFFFFFFu : size == 2 ? 0xFFFFu : 0xFFu;
    QByteArray data;
    for (int i = 1; i < o.args.size(); ++i) {
        quint64 v = 0;
        if (!parseNumber(o.args.at(i), max, v))
            return fail(BadUsage, QStringLiteral("write: \"%1\" is not a %2-bit item")
                                      .arg(o.args.at(i)).arg(size * 8));
        for (int b = size - 1; b >= 0; --b)
            data.append(char(v >> (8 * b)));
    }
    return vmeAccess(o, quint32(address), false, data, quint64(o.args.size() - 1));
}

} // namespace Ctl
