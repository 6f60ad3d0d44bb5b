#pragma once

#include "bindings.h"

#include "packet.h"

#include <vector>

namespace TarnixPy {

// Reports gathered into the rows of a numpy structured array (reportDtype): the header's
// fields decoded, the data items read big-endian at the report's item size. Rows are kept
// flat while they come and laid out when taken, as wide as the widest report.
class ReportBatch
{
public:
    // One whole report framed from the stream, received at timeNs (ns since 1970, UTC).
    void add(const kelvo_vme_master_header &header, const char *data, int dataSize, qint64 timeNs);
    // Takes every whole packet of stream, at most limit of them; false on a broken header CRC
    // (the packets before it are taken).
    bool takeFrom(PacketStream &stream, qsizetype limit, qint64 timeNs);

    qsizetype size() const { return qsizetype(rows.size()); }
    // The rows as an array's bytes; the batch is empty afterwards.
    Items take();

private:
    struct Row
    {
        qint64 time;
        quint32 address;
        quint16 flow;
        quint16 mode;
        quint8 id;
        quint8 level;
        bool polling;
        quint8 status;
        quint16 items;
        qsizetype first; // its first item in values
    };
    std::vector<Row> rows;
    std::vector<quint32> values;
    int widest = 0;
};

// Bytes of one row with dataItems data columns, and the offsets of its fields.
qsizetype reportRowSize(int dataItems);

} // namespace TarnixPy
