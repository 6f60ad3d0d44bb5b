#include "vmeaccess.h"

#include "modeword.h"
#include "tarnixcmd.h"

#include <QStringList>

namespace VmeAccess {

quint64 addressSpaceTop(int addressMode)
{
    return addressMode == 0 ? 0xFFFFu : addressMode == 1 ? 0xFFFFFFu : 0xFFFFFFFFu;
}

bool fixedAddress(int accessMode) { return accessMode >= 6 && accessMode <= 9; }

int itemLimit(int dataMode) { return 255 / VmeModeWord::itemSize(dataMode); }

QString alignmentError(quint32 address, int dataMode)
{
    if (dataMode == 2 && address % 4)
        return QStringLiteral("The address must be 4byte aligned.");
    if (dataMode == 1 && address % 2)
        return QStringLiteral("The address must be 2byte aligned.");
    return QString();
}

// A fixed-address transfer touches only its first item.
QString rangeError(const QString &command, const Request &r)
{
    const quint64 top = addressSpaceTop(r.addressMode);
    const quint64 size = quint64(VmeModeWord::itemSize(r.dataMode));
    const quint64 last = r.address + (fixedAddress(r.accessMode) ? size : r.items * size) - 1;
    if (last <= top)
        return QString();
    return QStringLiteral("%1: the transfer ends at 0x%2, beyond %3 (0x%4)")
        .arg(command)
        .arg(last, 0, 16)
        .arg(VmeModeWord::addressModeLabels().at(r.addressMode))
        .arg(top, 0, 16);
}

QString statusText(quint16 mode)
{
    QStringList parts;
    if (mode & VmeModeWord::StatusVmeError)
        parts << QStringLiteral("VME error");
    if (mode & VmeModeWord::StatusParamError)
        parts << QStringLiteral("parameter error");
    return parts.join(QStringLiteral(", ")) + QStringLiteral(" (MODE:0x%1)").arg(mode, 4, 16, QLatin1Char('0'));
}

QString connectFailureText(const QString &host, quint16 port, const CommandClient &client)
{
    return QStringLiteral("cannot connect to %1:%2: %3").arg(host).arg(port).arg(client.errorString());
}

QString failureText(CommandClient::Result r, const CommandClient &client)
{
    switch (r) {
    case CommandClient::Result::TimedOut: return QStringLiteral("no answer from the module");
    case CommandClient::Result::Closed:
        return QStringLiteral("the module closed the connection: ") + client.errorString();
    case CommandClient::Result::CrcError: return QStringLiteral("CRC error in a header from the module");
    case CommandClient::Result::Ok: break;
    }
    return QString();
}

Outcome run(CommandClient &client, CommandIdRange &ids, const Request &r,
            const std::function<void(const QByteArray &)> &data)
{
    const int size = VmeModeWord::itemSize(r.dataMode);
    VmeModeWord word;
    word.read = r.read;
    word.echo = !r.read && r.echo;
    word.dataMode = r.dataMode;
    word.addressMode = r.addressMode;
    word.accessMode = r.accessMode;
    const quint16 mode = word.mode();

    Outcome outcome;
    quint64 done = 0;
    do {
        const quint64 n = qMin<quint64>(r.items - done, quint64(itemLimit(r.dataMode)));
        TarnixCmd cmd;
        cmd.address = fixedAddress(r.accessMode) ? r.address : quint32(r.address + done * size);
        cmd.length = quint32(n * size);
        cmd.mode = mode;
        cmd.id = ids.next();
        if (!r.read)
            cmd.data = r.data.mid(qsizetype(done * size), qsizetype(n * size));
        outcome.address = cmd.address;
        CommandClient::Packet answer;
        const CommandClient::Result result = client.exchange(cmd, answer);
        if (result != CommandClient::Result::Ok) {
            outcome.status = Outcome::Status::NoAnswer;
            outcome.message = failureText(result, client);
            return outcome;
        }
        if (VmeModeWord::hasError(answer.header.mode)) {
            outcome.status = Outcome::Status::Refused;
            outcome.mode = answer.header.mode;
            outcome.message = QStringLiteral("%1 at 0x%2")
                                  .arg(statusText(answer.header.mode))
                                  .arg(cmd.address, 8, 16, QLatin1Char('0'));
            return outcome;
        }
        if (data && !answer.data.isEmpty())
            data(answer.data);
        done += n;
    } while (done < r.items);
    return outcome;
}

} // namespace VmeAccess
