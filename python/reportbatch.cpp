// Reports as numpy structured arrays, and arrays handed to Python without a copy.
#include "reportbatch.h"

#include "modeword.h"

#include <cstring>

namespace TarnixPy {

namespace {

// Field offsets of a report row: 8-byte time first, then the header's fields from the widest
// down, the item count, and the data columns; rows padded to 8 bytes so every time is aligned.
constexpr qsizetype TimeAt = 0, AddressAt = 8, FlowAt = 12, ModeAt = 14, IdAt = 16, LevelAt = 17,
                    PollingAt = 18, StatusAt = 19, ItemsAt = 20, DataAt = 24;

template <typename T>
void put(char *row, qsizetype at, T value)
{
    std::memcpy(row + at, &value, sizeof value);
}

} // namespace

qsizetype reportRowSize(int dataItems)
{
    return (DataAt + 4 * qsizetype(dataItems) + 7) / 8 * 8;
}

py::dtype reportDtype(int dataItems)
{
    py::list names, formats, offsets;
    const auto field = [&](const char *name, py::object format, qsizetype at) {
        names.append(name);
        formats.append(format);
        offsets.append(at);
    };
    field("time", py::str("M8[ns]"), TimeAt);
    field("id", py::str("u1"), IdAt);
    field("level", py::str("u1"), LevelAt);
    field("polling", py::str("?"), PollingAt);
    field("flow", py::str("u2"), FlowAt);
    field("address", py::str("u4"), AddressAt);
    field("mode", py::str("u2"), ModeAt);
    field("status", py::str("u1"), StatusAt);
    field("items", py::str("u2"), ItemsAt);
    field("data", py::make_tuple(py::str("u4"), py::make_tuple(dataItems)), DataAt);
    py::dict fields;
    fields["names"] = names;
    fields["formats"] = formats;
    fields["offsets"] = offsets;
    fields["itemsize"] = reportRowSize(dataItems);
    return py::dtype::from_args(fields);
}

py::array toArray(Items &&items)
{
    py::dtype type = items.layout == Items::Layout::Reports ? reportDtype(items.dataItems)
                     : items.layout == Items::Layout::Uint8  ? py::dtype::of<uint8_t>()
                     : items.layout == Items::Layout::Uint16 ? py::dtype::of<uint16_t>()
                                                             : py::dtype::of<uint32_t>();
    std::vector<char> *bytes = items.bytes.release();
    // The capsule owns the buffer from here on; numpy frees it with the last view of the array.
    py::capsule owner(bytes, [](void *p) { delete static_cast<std::vector<char> *>(p); });
    const std::vector<py::ssize_t> shape{py::ssize_t(items.count)};
    if (items.count == 0)
        return py::array(type, shape, std::vector<py::ssize_t>{});
    return py::array(type, shape, std::vector<py::ssize_t>{}, bytes->data(), owner);
}

void ReportBatch::add(const kelvo_vme_master_header &h, const char *data, int dataSize, qint64 timeNs)
{
    VmeModeWord word;
    word.getMode(h.mode);
    const int size = VmeModeWord::itemSize(word.dataMode);
    const int items = (dataSize + size - 1) / size;
    if (items > width)
        widen(items);
    const qsizetype rowSize = reportRowSize(width);
    std::vector<char> &b = *bytes;
    const size_t at = size_t(rowCount * rowSize);
    if (b.capacity() < at + size_t(rowSize))
        b.reserve(qMax<size_t>(2 * b.capacity(), 1 << 16));
    b.resize(at + size_t(rowSize)); // zero: padding and the columns past the report's items
    char *row = b.data() + at;
    put(row, TimeAt, timeNs);
    put(row, AddressAt, h.address);
    put(row, FlowAt, quint16(KelvoPacket::flowId(h.length)));
    put(row, ModeAt, h.mode);
    put(row, IdAt, h.id);
    put(row, LevelAt, quint8(KelvoPacket::priorityLevel(h.length)));
    put(row, PollingAt, quint8(KelvoPacket::isPolling(h.length)));
    put(row, StatusAt, quint8(h.mode & 0x000F));
    put(row, ItemsAt, quint16(items));
    const auto *u = reinterpret_cast<const uchar *>(data);
    for (int i = 0; i < items; ++i) {
        // Items are big-endian on the wire; a short last item keeps its bytes at the top.
        quint32 v = 0;
        for (int k = 0; k < size; ++k) {
            const int byte = i * size + k;
            v = (v << 8) | (byte < dataSize ? u[byte] : 0u);
        }
        put(row, DataAt + 4 * i, v);
    }
    ++rowCount;
}

void ReportBatch::widen(int items)
{
    const qsizetype from = reportRowSize(width), to = reportRowSize(items);
    std::vector<char> &b = *bytes;
    b.resize(size_t(rowCount * to));
    for (qsizetype r = rowCount - 1; r >= 0; --r) {
        char *row = b.data() + r * to;
        std::memmove(row, b.data() + r * from, size_t(from));
        std::memset(row + from, 0, size_t(to - from));
    }
    width = items;
}

bool ReportBatch::takeFrom(PacketStream &stream, qsizetype limit, qint64 timeNs)
{
    for (qsizetype n = 0; n < limit; ++n) {
        kelvo_vme_master_header header;
        const char *data = nullptr;
        int dataSize = 0;
        switch (stream.peek(header, data, dataSize)) {
        case KelvoPacket::Frame::Complete:
            add(header, data, dataSize, timeNs);
            stream.take(dataSize);
            break;
        case KelvoPacket::Frame::Incomplete: return true;
        case KelvoPacket::Frame::CrcError: return false;
        }
    }
    return true;
}

Items ReportBatch::take()
{
    Items out;
    out.layout = Items::Layout::Reports;
    out.dataItems = width;
    out.count = rowCount;
    out.bytes = std::move(bytes);
    bytes = std::make_unique<std::vector<char>>();
    rowCount = 0;
    width = 1;
    return out;
}

} // namespace TarnixPy
