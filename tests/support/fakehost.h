#pragma once

#include "programhost.h"

#include <QSet>

// Stands in for the main window: the default modes, the interactive ID range low..high, the
// IDs marked used, the vectors served and the program numbers that exist.
class FakeHost : public ProgramHost
{
public:
    explicit FakeHost(int addressMode = 1) : address(addressMode) {}

    unsigned char low = 128;
    unsigned char high = 255;
    int address;
    int access = 0, data = 0, rw = 0;
    QSet<unsigned char> used;
    QSet<unsigned char> vectors;
    QSet<int> numbers;           // programs of number 0, below 0 or 257 that exist
    bool polling = false;
    unsigned char next = 0;

    int addressMode() override { return address; }
    int accessMode() override { return access; }
    int dataMode() override { return data; }
    int readWrite() override { return rw; }
    bool checkInteractiveID(unsigned char id, unsigned char *min, unsigned char *max) override
    {
        if (min)
            *min = low;
        if (max)
            *max = high;
        return id < low || id > high;
    }
    bool checkID(unsigned char id) override { return checkInteractiveID(id, nullptr, nullptr) && !used.contains(id); }
    bool getFreeID(unsigned char &id) override
    {
        for (int n = 0; n < 256; ++n, ++next) {
            if (checkID(next)) {
                id = next++;
                return true;
            }
        }
        return false;
    }
    bool setID(unsigned char id, bool on) override { return on ? (used.insert(id), true) : used.remove(id); }
    bool checkVectorID(int number) override
    {
        return number >= 1 && number <= 256 ? vectors.contains(quint8(number - 1)) : numbers.contains(number);
    }
    bool pollingPresent() override { return polling; }
    void setPollingPresent(bool present) override { polling = present; }
};
