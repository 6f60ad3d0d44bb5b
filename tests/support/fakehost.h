#pragma once

#include "programbook.h"
#include "programhost.h"
#include "vmeprogram.h"

#include <QList>

// Stands in for the main window: the General tab's default modes and interactive range
// low..high, with the window's own bookkeeping (ProgramBook) over the programs in table, which
// it owns. Every ID marked used through it is also recorded, in order.
class FakeHost : public ProgramHost
{
public:
    explicit FakeHost(int addressMode = 1) : address(addressMode) {}
    ~FakeHost() override { qDeleteAll(table); }

    unsigned char low = 128;
    unsigned char high = 255;
    int address;
    int access = 0, data = 0, rw = 0;
    ProgramBook book{[this](unsigned char &l, unsigned char &h) { l = low, h = high; }};
    QList<VmeProgram *> table;
    QList<int> marked;

    int addressMode() override { return address; }
    int accessMode() override { return access; }
    int dataMode() override { return data; }
    int readWrite() override { return rw; }
    bool checkInteractiveID(unsigned char id, unsigned char *min, unsigned char *max) override
    {
        return book.checkInteractiveID(id, min, max);
    }
    bool checkID(unsigned char id) override { return book.checkID(id); }
    bool getFreeID(unsigned char &id) override { return book.getFreeID(id); }
    bool setID(unsigned char id, bool used) override
    {
        if (used)
            marked.append(id);
        return book.setID(id, used);
    }
    bool checkVectorID(int number) override { return book.checkVectorID(number, table); }
    bool pollingPresent() override { return book.pollingPresent(); }
    void setPollingPresent(bool present) override { book.setPollingPresent(present); }
};
