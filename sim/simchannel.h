#pragma once

#include <QString>
#include <QtGlobal>

// A detector channel behind a data item of the reports: an ADC that mostly sees a peak (normal, at
// `peak` with standard deviation `width`) and now and then a hit anywhere in its range (a flat
// background, a `flat` share of the reports), values 0 to `max`.
struct SimChannel
{
    int item = 1;
    double peak = 1000;
    double width = 50;
    double flat = 0.1;
    quint32 max = 4095;
};

// "ITEM:PEAK:WIDTH[:FLAT[:MAX]]", e.g. "1:1200:40:0.2:4095"; false when it does not read.
bool parseSimChannel(const QString &text, SimChannel *channel);

// The channel's value in report k of a burst seeded with seed: the same for the same seed,
// item and k, however the reports are cut into chunks or connections.
quint32 simChannelValue(const SimChannel &channel, quint32 seed, quint64 k);
