#include "reportformat.h"

#include "modeword.h"
#include "reporttext.h"

#include <QtEndian>

#include <charconv>

namespace {

void number(QByteArray &out, quint64 v)
{
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr - buf);
}

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

void ReportFormatter::appendTime(qint64 timeNs, QByteArray &out) const
{
    qint64 t = timeNs - origin;
    if (t < 0) {
        out.append('-');
        t = -t;
    }
    number(out, quint64(t / 1000000000));
    char frac[10];
    qint64 f = t % 1000000000;
    frac[0] = '.';
    for (int i = 9; i >= 1; --i, f /= 10)
        frac[i] = char('0' + f % 10);
    out.append(frac, 10);
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
    const char sep = ',';
    const bool vmeError = h.mode & VmeModeWord::StatusVmeError;
    const bool paramError = h.mode & VmeModeWord::StatusParamError;
    auto flag = [&](bool b) {
        if (csv)
            out.append(b ? '1' : '0');
        else
            out.append(b ? "true" : "false");
    };
    auto key = [&](const char *k) {
        if (!csv)
            out.append('"').append(k).append("\":");
    };
    if (!csv)
        out.append('{');
    key("time");
    if (timed)
        appendTime(r.timeNs, out);
    else if (!csv)
        out.append("null");
    out.append(sep);
    key("id");
    number(out, h.id);
    out.append(sep);
    key("level");
    number(out, KelvoPacket::priorityLevel(h.length));
    out.append(sep);
    key("source");
    if (csv)
        out.append(KelvoPacket::isPolling(h.length) ? "polling" : "interrupt");
    else
        out.append(KelvoPacket::isPolling(h.length) ? "\"polling\"" : "\"interrupt\"");
    out.append(sep);
    key("flow");
    number(out, KelvoPacket::flowId(h.length));
    out.append(sep);
    key("address");
    number(out, h.address);
    out.append(sep);
    key("mode");
    number(out, h.mode);
    out.append(sep);
    key("status");
    number(out, h.mode & 0xF);
    out.append(sep);
    key("vme_error");
    flag(vmeError);
    out.append(sep);
    key("param_error");
    flag(paramError);
    out.append(sep);
    key("width");
    number(out, quint64(width) * 8);
    out.append(sep);
    key("items");
    number(out, quint64(items));
    out.append(sep);
    if (csv) {
        if (items > 0)
            number(out, item(r.data, width));
        out.append(sep);
        for (int i = 0; i < items; ++i) {
            if (i)
                out.append(' ');
            number(out, item(r.data + i * width, width));
        }
        out.append('\n');
    } else {
        key("data");
        out.append('[');
        for (int i = 0; i < items; ++i) {
            if (i)
                out.append(',');
            number(out, item(r.data + i * width, width));
        }
        out.append("]}\n");
    }
}
