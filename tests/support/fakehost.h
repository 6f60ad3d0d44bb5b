#pragma once

#include "programhost.h"

// Stands in for the main window where a tab needs the default modes and the interactive ID
// range: programs own no IDs, the range is low..high.
class FakeHost : public ProgramHost
{
public:
    explicit FakeHost(int addressMode = 1) : address(addressMode) {}

    unsigned char low = 128;
    unsigned char high = 255;
    int address;

    int addressMode() override { return address; }
    int accessMode() override { return 0; }
    int dataMode() override { return 0; }
    int readWrite() override { return 0; }
    bool checkInteractiveID(unsigned char id, unsigned char *min, unsigned char *max) override
    {
        if (min)
            *min = low;
        if (max)
            *max = high;
        return id < low || id > high;
    }
    bool checkID(unsigned char) override { return false; }
    bool getFreeID(unsigned char &) override { return false; }
    bool setID(unsigned char, bool) override { return false; }
    bool checkVectorID(int) override { return false; }
    bool pollingPresent() override { return false; }
    void setPollingPresent(bool) override {}
};
