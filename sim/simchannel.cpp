#include "simchannel.h"

#include <QStringList>

#include <cmath>

namespace {

// A counter-based generator: the report's number goes in, so that no state is carried between
// reports (splitmix64's finaliser).
quint64 mix(quint64 z)
{
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// A uniform number in (0, 1].
double unit(quint64 bits)
{
    return (double(bits >> 11) + 1.0) / 9007199254740992.0;
}

} // namespace

bool parseSimChannel(const QString &text, SimChannel *channel)
{
    const QStringList f = text.split(QLatin1Char(':'));
    if (f.size() < 3 || f.size() > 5)
        return false;
    SimChannel c;
    bool ok = false;
    c.item = f[0].toInt(&ok);
    if (!ok || c.item < 0 || c.item > 62)
        return false;
    c.peak = f[1].toDouble(&ok);
    if (!ok || !std::isfinite(c.peak))
        return false;
    c.width = f[2].toDouble(&ok);
    if (!ok || !(c.width >= 0 && c.width < 1e12))
        return false;
    if (f.size() > 3) {
        c.flat = f[3].toDouble(&ok);
        if (!ok || !(c.flat >= 0 && c.flat <= 1))
            return false;
    }
    if (f.size() > 4) {
        c.max = f[4].toUInt(&ok, 0);
        if (!ok)
            return false;
    }
    *channel = c;
    return true;
}

quint32 simChannelValue(const SimChannel &c, quint32 seed, quint64 k)
{
    const quint64 base = mix(mix((quint64(seed) << 8) | quint64(c.item)) ^ k);
    const quint64 a = mix(base), b = mix(base + 1), pick = mix(base + 2);
    if (unit(pick) <= c.flat)
        return quint32((double(a >> 11) / 9007199254740992.0) * (double(c.max) + 1.0)); // [0, max]
    // Box and Muller: one normal number from two uniform ones.
    const double z = std::sqrt(-2.0 * std::log(unit(a))) * std::cos(6.283185307179586 * unit(b));
    const double v = std::round(c.peak + c.width * z);
    return v <= 0 ? 0u : v >= double(c.max) ? c.max : quint32(v);
}
