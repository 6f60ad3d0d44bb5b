#pragma once

#include "packet.h"

// Something that looks at every report where the command thread frames it (a histogram filler,
// a recorder), worker side and unlocked: observe() is called once per report, publish() a few times
// a second and once when the connection ends, to hand what was gathered to the window's copy.
class ReportObserver
{
public:
    virtual ~ReportObserver() = default;
    virtual void observe(const kelvo_vme_master_header &header, const char *data, int dataSize) = 0;
    virtual void publish() = 0;
};
