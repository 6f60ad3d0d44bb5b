#pragma once

#include "bindings.h"

#include "packet.h"

#include <vector>

namespace TarnixPy {

// Reports gathered into the rows of a numpy structured array (reportDtype): the header's
// fields decoded, the data items read big-endian at the report's item size. Rows are written
// in their final layout as they come, as wide as the widest report so far (a wider one lays
// the rows before it out again), so taking them moves the buffer without a copy.
class ReportBatch
{
public:
    // One whole report framed from the stream, received at timeNs (ns since 1970, UTC).
    void add(const kelvo_vme_master_header &header, const char *data, int dataSize, qint64 timeNs);
    // Takes every whole packet of stream, at most limit of them; false on a broken header CRC
    // (the packets before it are taken).
    bool takeFrom(PacketStream &stream, qsizetype limit, qint64 timeNs);

    qsizetype size() const { return rowCount; }
    // The rows as an array's bytes; the batch is empty afterwards.
    Items take();

private:
    // Lays the rows out again with more data columns, from the last row back.
    void widen(int items);

    std::unique_ptr<std::vector<char>> bytes = std::make_unique<std::vector<char>>();
    qsizetype rowCount = 0;
    int width = 1; // data columns of every row so far
};

// Bytes of one row with dataItems data columns, and the offsets of its fields.
qsizetype reportRowSize(int dataItems);

} // namespace TarnixPy
