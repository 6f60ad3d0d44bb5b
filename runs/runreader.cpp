#include "runreader.h"

#include "runformat.h"

#include <QDateTime>

using RunFormat::get16;
using RunFormat::get32;

namespace {

constexpr qint64 ReadPiece = 1 << 20;

qint64 parseIsoNs(const QString &text)
{
    // yyyy-MM-ddTHH:mm:ss[.fraction]Z
    QDateTime t = QDateTime::fromString(text.left(19), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    if (!t.isValid())
        return 0;
    t.setTimeSpec(Qt::UTC);
    qint64 ns = t.toSecsSinceEpoch() * 1000000000;
    if (text.size() > 20 && text.at(19) == QLatin1Char('.')) {
        qint64 scale = 100000000;
        for (qsizetype i = 20; i < text.size() && text.at(i).isDigit() && scale > 0; ++i, scale /= 10)
            ns += (text.at(i).unicode() - '0') * scale;
    }
    return ns;
}

} // namespace

bool RunParser::isRunFile(const QByteArray &head)
{
    return head.size() >= 4 && head.startsWith(QByteArrayLiteral("\x0A\x0D\x0D\x0A"));
}

void RunParser::append(const char *data, qsizetype size)
{
    if (taken) {
        buffer.remove(0, taken);
        taken = 0;
    }
    buffer.append(data, size);
}

RunParser::Step RunParser::malformed(const QString &why)
{
    error = QStringLiteral("at byte %1: %2").arg(offset).arg(why);
    return Step::Malformed;
}

bool RunParser::takeSectionHeader(const RunFormat::Block &b)
{
    if (b.bodySize < 16 || get16(b.body + 4, bigEndian) != 1)
        return false;
    interfaces.clear();
    const bool first = !sectionSeen;
    sectionSeen = true;
    QList<RunFormat::Option> options;
    if (!RunFormat::readOptions(b.body + 16, b.bodySize - 16, bigEndian, options))
        return false;
    if (!first)
        return true; // a later section (files joined end to end) keeps the first one's header
    for (const RunFormat::Option &o : options) {
        const QString value = QString::fromUtf8(o.value);
        if (o.code == RunFormat::ShbOs) {
            head.os = value;
        } else if (o.code == RunFormat::ShbUserAppl) {
            head.tool = value;
        } else if (o.code == RunFormat::OptComment) {
            const qsizetype eq = value.indexOf(QLatin1Char('='));
            const QString key = eq < 0 ? QString() : value.left(eq);
            const QString v = value.mid(eq + 1);
            if (key == QStringLiteral("module"))
                head.moduleAddress = v;
            else if (key == QStringLiteral("tcp-port"))
                head.tcpPort = v.toUShort();
            else if (key == QStringLiteral("udp-port"))
                head.udpPort = v.toUShort();
            else if (key == QStringLiteral("start"))
                head.startNs = parseIsoNs(v);
            else if (key == QStringLiteral("program-file"))
                head.programFile = v;
            else if (key == QStringLiteral("program-text"))
                head.programText = v.startsWith(QLatin1Char('\n')) ? v.mid(1) : v;
            else
                head.comments.append(value);
        }
    }
    return true;
}

bool RunParser::takeInterface(const RunFormat::Block &b)
{
    if (b.bodySize < 8)
        return false;
    Interface i;
    i.ours = get16(b.body, bigEndian) == RunFormat::LinkType;
    QList<RunFormat::Option> options;
    if (!RunFormat::readOptions(b.body + 8, b.bodySize - 8, bigEndian, options))
        return false;
    quint8 resol = 6;
    for (const RunFormat::Option &o : options) {
        if (o.code == RunFormat::IfTsResol && o.value.size() >= 1)
            resol = quint8(o.value.at(0));
    }
    if (!RunFormat::resolution(resol, i.nsPerUnit, i.divisor))
        return false;
    interfaces.append(i);
    interfaceSeen = true;
    return true;
}

bool RunParser::takeStatistics(const RunFormat::Block &b)
{
    if (b.bodySize < 12)
        return false;
    const quint32 iface = get32(b.body, bigEndian);
    if (iface >= quint32(interfaces.size()))
        return false;
    if (!interfaces.at(int(iface)).ours)
        return true;
    const Interface &i = interfaces.at(int(iface));
    auto ns = [&](const uchar *p) {
        const quint64 units = (quint64(get32(p, bigEndian)) << 32) | get32(p + 4, bigEndian);
        return qint64((units / i.divisor) * i.nsPerUnit + (units % i.divisor) * i.nsPerUnit / i.divisor);
    };
    QList<RunFormat::Option> options;
    if (!RunFormat::readOptions(b.body + 12, b.bodySize - 12, bigEndian, options))
        return false;
    RunEnd e;
    e.endNs = ns(b.body + 4);
    for (const RunFormat::Option &o : options) {
        if (o.code == RunFormat::IsbStartTime && o.value.size() == 8)
            e.startNs = ns(reinterpret_cast<const uchar *>(o.value.constData()));
        if (o.code == RunFormat::IsbEndTime && o.value.size() == 8)
            e.endNs = ns(reinterpret_cast<const uchar *>(o.value.constData()));
        if (o.code != RunFormat::OptComment)
            continue;
        const QString c = QString::fromUtf8(o.value);
        const qsizetype eq = c.indexOf(QLatin1Char('='));
        const QString key = c.left(eq), v = c.mid(eq + 1);
        if (key == QStringLiteral("bytes"))
            e.bytes = v.toULongLong();
        else if (key == QStringLiteral("reports"))
            e.reports = v.toULongLong();
        else if (key == QStringLiteral("crc-errors"))
            e.crcErrors = v.toULongLong();
        else if (key == QStringLiteral("end")) {
            e.reason = v;
            e.present = true; // only an end record carries the reason
        }
    }
    if (e.present)
        tail = e;
    return true;
}

RunParser::Step RunParser::next(RunBatch &batch)
{
    for (;;) {
        const auto *p = reinterpret_cast<const uchar *>(buffer.constData()) + taken;
        RunFormat::Block b;
        qsizetype need = 0;
        QString why;
        switch (RunFormat::parseBlock(p, pending(), bigEndian, b, need, why)) {
        case RunFormat::Parse::NeedMore:
            return Step::NeedMore;
        case RunFormat::Parse::Malformed:
            return malformed(why);
        case RunFormat::Parse::Block:
            break;
        }
        if (!sectionSeen && b.type != RunFormat::SectionHeaderType)
            return malformed(QStringLiteral("not a run file: no section header at the start"));
        bool ok = true;
        bool isBatch = false;
        switch (b.type) {
        case RunFormat::SectionHeaderType:
            ok = takeSectionHeader(b);
            break;
        case RunFormat::InterfaceDescriptionType:
            ok = takeInterface(b);
            break;
        case RunFormat::InterfaceStatisticsType:
            ok = takeStatistics(b);
            break;
        case RunFormat::EnhancedPacketType: {
            if (b.bodySize < quint32(RunFormat::EnhancedPacketFixed))
                return malformed(QStringLiteral("packet block too short"));
            const quint32 iface = get32(b.body, bigEndian);
            const quint32 captured = get32(b.body + 12, bigEndian);
            if (iface >= quint32(interfaces.size()))
                return malformed(QStringLiteral("packet block of interface %1, which is not described").arg(iface));
            if (captured > b.bodySize - quint32(RunFormat::EnhancedPacketFixed))
                return malformed(QStringLiteral("packet block with %1 bytes of data in a body of %2")
                                     .arg(captured).arg(b.bodySize));
            const Interface &i = interfaces.at(int(iface));
            if (!i.ours) {
                ++skipped;
                break;
            }
            const quint64 units = (quint64(get32(b.body + 4, bigEndian)) << 32) | get32(b.body + 8, bigEndian);
            batch.timeNs = qint64((units / i.divisor) * i.nsPerUnit + (units % i.divisor) * i.nsPerUnit / i.divisor);
            batch.data = reinterpret_cast<const char *>(b.body + RunFormat::EnhancedPacketFixed);
            batch.size = captured;
            isBatch = true;
            break;
        }
        default:
            break; // blocks of other kinds (name resolution, custom, ...) carry nothing of ours
        }
        if (!ok)
            return malformed(QStringLiteral("bad block of type 0x%1").arg(b.type, 8, 16, QLatin1Char('0')));
        taken += b.size;
        offset += b.size;
        if (isBatch)
            return Step::Batch;
    }
}

bool RunReader::open(const QString &path)
{
    const bool ok = path == QStringLiteral("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!ok) {
        error = file.errorString();
        state = Status::ReadError;
        return false;
    }
    // Told apart by the first four bytes: a raw capture starts with a packet header, whose
    // CRC byte would not pass with these bytes in front.
    while (rawHead.size() < 4) {
        const QByteArray piece = file.read(4 - rawHead.size());
        if (piece.isEmpty())
            break;
        rawHead += piece;
    }
    read = rawHead.size();
    raw = !RunParser::isRunFile(rawHead);
    if (raw)
        rawStream.append(rawHead);
    else
        parser.append(rawHead);
    return true;
}

bool RunReader::fill()
{
    if (eof)
        return false;
    const QByteArray piece = file.read(ReadPiece);
    if (piece.isEmpty()) {
        eof = true;
        if (file.error() != QFileDevice::NoError && !file.atEnd()) {
            error = file.errorString();
            state = Status::ReadError;
        }
        return false;
    }
    read += piece.size();
    if (raw)
        rawStream.append(piece);
    else
        parser.append(piece);
    return true;
}

bool RunReader::nextRaw(RunBatch &batch)
{
    for (;;) {
        // Whole packets lie end to end in the stream: the batch is the span of those there.
        kelvo_vme_master_header h;
        const char *data = nullptr;
        int size = 0;
        const char *first = nullptr;
        qsizetype span = 0;
        KelvoPacket::Frame frame;
        while ((frame = rawStream.peek(h, data, size)) == KelvoPacket::Frame::Complete && span < ReadPiece) {
            if (!first)
                first = data - KelvoPacket::HeaderSize;
            rawStream.take(size);
            span += KelvoPacket::HeaderSize + size;
        }
        if (span) {
            batch = {0, first, span};
            return true;
        }
        if (frame == KelvoPacket::Frame::CrcError) {
            error = QStringLiteral("CRC error in the header at byte %1").arg(read - rawStream.pending());
            state = Status::Malformed;
            return false;
        }
        if (!fill()) {
            if (state == Status::Reading) {
                if (rawStream.pending()) {
                    error = QStringLiteral("%1 bytes at the end are not a whole packet").arg(rawStream.pending());
                    state = Status::Cut;
                } else {
                    state = Status::Complete;
                }
            }
            return false;
        }
    }
}

bool RunReader::next(RunBatch &batch)
{
    if (state != Status::Reading)
        return false;
    if (raw)
        return nextRaw(batch);
    for (;;) {
        switch (parser.next(batch)) {
        case RunParser::Step::Batch:
            return true;
        case RunParser::Step::Malformed:
            error = parser.errorString();
            state = Status::Malformed;
            return false;
        case RunParser::Step::NeedMore:
            if (fill())
                continue;
            if (state != Status::Reading)
                return false;
            if (!parser.started() && parser.consumed() == 0) {
                error = QStringLiteral("not a whole run file header");
                state = parser.pending() ? Status::Cut : Status::Malformed;
            } else if (parser.pending()) {
                error = QStringLiteral("cut short: %1 bytes after the last whole block at byte %2")
                            .arg(parser.pending()).arg(parser.consumed());
                state = Status::Cut;
            } else if (!parser.end().present) {
                error = QStringLiteral("cut short: no end record after the last whole block");
                state = Status::Cut;
            } else {
                state = Status::Complete;
            }
            return false;
        }
    }
}
