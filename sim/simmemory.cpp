#include "simmemory.h"

#include <algorithm>
#include <cstring>

quint64 SimVmeMemory::spaceSize(int addressMode)
{
    switch (addressMode) {
    case 0: return Q_UINT64_C(1) << 16;
    case 1: return Q_UINT64_C(1) << 24;
    case 2: return Q_UINT64_C(1) << 32;
    default: return 0;
    }
}

bool SimVmeMemory::fits(int addressMode, quint64 address, quint64 size)
{
    const quint64 space = spaceSize(addressMode);
    return address < space && size <= space - address;
}

QByteArray SimVmeMemory::read(int addressMode, quint32 address, int size) const
{
    QByteArray out(size, '\0');
    if (!fits(addressMode, address, quint64(std::max(size, 0))))
        return out;
    const auto &pages = m_pages[addressMode];
    int done = 0;
    while (done < size) {
        const quint32 at = address + quint32(done);
        const quint32 offset = at & (PageSize - 1);
        const int chunk = int(std::min<quint32>(PageSize - offset, quint32(size - done)));
        const auto it = pages.constFind(at >> PageBits);
        if (it != pages.constEnd())
            std::memcpy(out.data() + done, it->constData() + offset, size_t(chunk));
        done += chunk;
    }
    return out;
}

void SimVmeMemory::write(int addressMode, quint32 address, const QByteArray &bytes)
{
    const int size = int(bytes.size());
    if (!fits(addressMode, address, quint64(size)))
        return;
    auto &pages = m_pages[addressMode];
    int done = 0;
    while (done < size) {
        const quint32 at = address + quint32(done);
        const quint32 offset = at & (PageSize - 1);
        const int chunk = int(std::min<quint32>(PageSize - offset, quint32(size - done)));
        const char *src = bytes.constData() + done;
        auto it = pages.find(at >> PageBits);
        if (it == pages.end()) {
            const bool allZero = std::all_of(src, src + chunk, [](char c) { return c == 0; });
            if (!allZero)
                it = pages.insert(at >> PageBits, QByteArray(int(PageSize), '\0'));
        }
        if (it != pages.end())
            std::memcpy(it->data() + offset, src, size_t(chunk));
        done += chunk;
    }
}

int SimVmeMemory::pageCount() const
{
    return int(m_pages[0].size() + m_pages[1].size() + m_pages[2].size());
}
