#include "reportformat.h"

#include "modeword.h"
#include "reporttext.h"

#include <QtEndian>

#include <charconv>

namespace {

// A line is built in a buffer on the stack and appended once: the formats are fed millions of
// reports, and an append per field costs more than the digits. The longest line (255 D8 items in
// JSON) takes under 2 KiB.
struct Line
{
    char buf[4096];
    char *p = buf;

    void put(char c) { *p++ = c; }
    void put(const char *t)
    {
        while (*t)
            *p++ = *t++;
    }
    void number(quint64 v) { p = std::to_chars(p, buf + sizeof buf, v).ptr; }
};

quint32 item(const char *data, int width)
{
    const auto *u = reinterpret_cast<const uchar *>(data);
    return width == 4 ? qFromBigEndian<quint32>(u) : width == 2 ? qFromBigEndian<quint16>(u) : u[0];
}

} // namespace

ReportFormatter::ReportFormatter(Format format, qint64 originNs, bool timed)
    : format(format), origin(originNs), timed(timed)
{
}

bool ReportFormatter::parseFormat(const QString &name, Format &f)
{
    if (name == QStringLiteral("text"))
        f = Format::Text;
    else if (name == QStringLiteral("csv"))
        f = Format::Csv;
    else if (name == QStringLiteral("jsonl"))
        f = Format::Jsonl;
    else
        return false;
    return true;
}

QByteArray ReportFormatter::head() const
{
    if (format != Format::Csv)
        return QByteArray();
    return QByteArrayLiteral("time,id,level,source,flow,address,mode,status,vme_error,param_error,width,items,d0,data\n");
}

void ReportFormatter::append(const RunReport &r, QByteArray &out)
{
    const kelvo_vme_master_header &h = r.header;
    if (format == Format::Text) {
        text.resize(0);
        ReportText::appendReport(h, r.data, r.dataSize, text);
        out.append(text.toLatin1());
        return;
    }
    const bool csv = format == Format::Csv;
    const int width = VmeModeWord::itemSize((h.mode >> 10) & 0x3);
    const int items = r.dataSize / width;
    Line l;
    auto key = [&](const char *k) {
        if (!csv) {
            l.put('"');
            l.put(k);
            l.put("\":");
        }
    };
    auto field = [&](const char *k, quint64 v) {
        key(k);
        l.number(v);
        l.put(',');
    };
    auto flag = [&](const char *k, bool b) {
        key(k);
        l.put(csv ? (b ? "1" : "0") : (b ? "true" : "false"));
        l.put(',');
    };
    if (!csv)
        l.put('{');
    key("time");
    if (timed) {
        qint64 t = r.timeNs - origin;
        if (t < 0) {
            l.put('-');
            t = -t;
        }
        l.number(quint64(t / 1000000000));
        l.put('.');
        qint64 f = t % 1000000000;
        for (int i = 8; i >= 0; --i, f /= 10)
            l.p[i] = char('0' + f % 10);
        l.p += 9;
    } else if (!csv) {
        l.put("null");
    }
    l.put(',');
    field("id", h.id);
    field("level", KelvoPacket::priorityLevel(h.length));
    key("source");
    const bool polling = KelvoPacket::isPolling(h.length);
    l.put(csv ? (polling ? "polling" : "interrupt") : (polling ? "\"polling\"" : "\"interrupt\""));
    l.put(',');
    field("flow", KelvoPacket::flowId(h.length));
    field("address", h.address);
    field("mode", h.mode);
    field("status", h.mode & 0xF);
    flag("vme_error", h.mode & VmeModeWord::StatusVmeError);
    flag("param_error", h.mode & VmeModeWord::StatusParamError);
    field("width", quint64(width) * 8);
    field("items", quint64(items));
    if (csv) {
        if (items > 0)
            l.number(item(r.data, width));
        l.put(',');
        for (int i = 0; i < items; ++i) {
            if (i)
                l.put(' ');
            l.number(item(r.data + i * width, width));
        }
        l.put('\n');
    } else {
        key("data");
        l.put('[');
        for (int i = 0; i < items; ++i) {
            if (i)
                l.put(',');
            l.number(item(r.data + i * width, width));
        }
        l.put("]}\n");
    }
    out.append(l.buf, l.p - l.buf);
}
