#include "reporttext.h"

#include "modeword.h"

namespace ReportText {

const QString Separator = QString(63, QLatin1Char('-')) + QLatin1Char('\n');

namespace {

const char HexDigits[] = "0123456789abcdef";

// Small writer over a pre-sized QString: the log is fed millions of these lines, so the
// digits are written straight into the string instead of going through arg().
class Writer
{
public:
    Writer(QString &out, qsizetype reserve) : s(out), start(out.size())
    {
        s.resize(start + reserve);
        p = s.data() + start;
    }
    ~Writer() { s.resize(p - s.constData()); }

    void text(const char *t)
    {
        while (*t)
            *p++ = QChar(QLatin1Char(*t++));
    }
    void hex(quint32 v, int digits)
    {
        for (int i = digits - 1; i >= 0; --i)
            *p++ = QChar(QLatin1Char(HexDigits[(v >> (4 * i)) & 0xF]));
    }
    void dec(quint32 v)
    {
        char buf[12];
        int n = 0;
        do {
            buf[n++] = char('0' + v % 10);
            v /= 10;
        } while (v);
        while (n)
            *p++ = QChar(QLatin1Char(buf[--n]));
    }
    void ch(char c) { *p++ = QChar(QLatin1Char(c)); }
    void separator()
    {
        for (int i = 0; i < 63; ++i)
            *p++ = QChar(QLatin1Char('-'));
        *p++ = QChar(QLatin1Char('\n'));
    }

private:
    QString &s;
    qsizetype start;
    QChar *p;
};

// Upper bound of one header text: six lines of at most 40 characters.
constexpr int HeaderTextMax = 240;
// Upper bound of the data rows of count bytes: 3 characters a byte, 13 a row start, a line feed a row.
constexpr int rowsTextMax(int count) { return count * 3 + ((count + 15) / 16) * 14 + 1; }

void writeHeader(Writer &w, const kelvo_vme_master_header &h)
{
    w.text("Address : 0x");
    w.hex(h.address, 8);
    w.text("\nLength : ");
    const int dataMode = (h.mode >> 10) & 0x3;
    quint32 items = KelvoPacket::dataLength(h.length);
    if (dataMode == 1)
        items /= 2;
    else if (dataMode == 2)
        items /= 4;
    w.dec(items);
    w.text("\nPriority Level : ");
    w.dec(KelvoPacket::priorityLevel(h.length));
    w.text(KelvoPacket::isPolling(h.length) ? " (Polling)\n" : " (Interrupt)\n");
    w.text("Flow ID : ");
    w.dec(KelvoPacket::flowId(h.length));
    w.text("\nMode : 0x");
    w.hex(h.mode, 4);
    w.ch('(');
    if ((h.mode & 0xF0) == (quint32(VmeModeWord::AccessMode[VmeModeWord::IntrAccessIndex]) << 4)) {
        w.text("INTR");
    } else {
        w.text((h.mode & 0x8000) ? "Write" : "Read");
        static const char *const widths[] = {" D8", " D16", " D32", ""};
        w.text(widths[dataMode]);
    }
    if (VmeModeWord::hasError(h.mode))
        w.text(" Error");
    w.text(")\nID : 0x");
    w.hex(h.id, 2);
    w.ch('\n');
}

void writeRows(Writer &w, const char *data, int count, quint32 address)
{
    for (int i = 0; i < count; ++i) {
        const auto b = quint8(data[i]);
        const int col = i % 16;
        if (col == 0) {
            w.text("[0x");
            w.hex(address + quint32(i), 8);
            w.text("]:");
        }
        w.hex(b, 2);
        w.ch(col == 15 ? '\n' : ' ');
    }
    if (count > 0 && count % 16 != 0)
        w.ch('\n');
}

} // namespace

void dumpVmeHeader(const kelvo_vme_master_header &header, QString &out)
{
    Writer w(out, HeaderTextMax);
    writeHeader(w, header);
}

void dumpPacket(const char *data, int count, QString &out, quint32 address)
{
    if (count <= 0)
        return;
    Writer w(out, rowsTextMax(count));
    writeRows(w, data, count, address);
}

void appendReport(const kelvo_vme_master_header &header, const char *data, int count, QString &out)
{
    Writer w(out, HeaderTextMax + 3 * 64 + (count > 0 ? rowsTextMax(count) : 0));
    w.separator();
    writeHeader(w, header);
    if (count > 0) {
        w.separator();
        writeRows(w, data, count, header.address);
    }
    w.separator();
}

} // namespace ReportText
