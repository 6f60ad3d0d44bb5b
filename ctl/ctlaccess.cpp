// read and write: single VME accesses over the TCP command channel.
#include "ctlcommands.h"

#include "commandclient.h"
#include "hexlayout.h"
#include "modeword.h"
#include "vmeaccess.h"

#include <cstdio>

namespace Ctl {

quint64 addressSpaceTop(int addressMode)
{
    return VmeAccess::addressSpaceTop(addressMode);
}

namespace {

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

VmeAccess::Request accessRequest(const Options &o, quint64 address, quint64 items)
{
    VmeAccess::Request r;
    r.address = quint32(address);
    r.items = items;
    r.addressMode = o.addressMode;
    r.dataMode = o.dataMode;
    r.accessMode = o.accessMode;
    return r;
}

// One VME access of the command channel on a connection of its own.
int vmeAccess(const Options &o, quint32 address, bool read, const QByteArray &writeData,
              quint64 items)
{
    CommandClient client(o.timeoutMs);
    if (!client.connectTo(o.target, o.tcpPort))
        return fail(NoAnswer, VmeAccess::connectFailureText(o.target, o.tcpPort, client));
    VmeAccess::Request request = accessRequest(o, address, items);
    request.read = read;
    request.echo = !read && o.echo;
    request.data = writeData;

    // A write's echo is shown only when asked for; the data up to a failure is shown before it.
    DumpWriter dump(o.dataMode, address);
    const bool show = read || o.echo;
    CommandIdRange ids(o.idFirst, o.idLast);
    const VmeAccess::Outcome outcome = VmeAccess::run(client, ids, request, [&](const QByteArray &data) {
        if (show)
            dump.add(data);
    });
    if (show)
        dump.finish();
    if (outcome.done())
        return Success;
    return fail(outcome.status == VmeAccess::Outcome::Status::Refused ? Refused : NoAnswer, outcome.message);
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
    const QString aligned = VmeAccess::alignmentError(quint32(address), o.dataMode);
    if (!aligned.isEmpty())
        return fail(BadUsage, aligned);
    const QString range = VmeAccess::rangeError(o.command, accessRequest(o, address, count));
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
    const QString aligned = VmeAccess::alignmentError(quint32(address), o.dataMode);
    if (!aligned.isEmpty())
        return fail(BadUsage, aligned);
    const QString range = VmeAccess::rangeError(o.command, accessRequest(o, address, quint64(o.args.size() - 1)));
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
