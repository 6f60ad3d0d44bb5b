#pragma once

#include "programhost.h"

#include <QList>

// Stands in for the main window where programs take IDs: records every ID marked used, in order,
// and hands out one fixed free ID (or none).
class RecordingHost : public ProgramHost
{
public:
    int defaultAddressMode = 1;
    int defaultAccessMode = 0;
    bool haveFreeId = true;
    unsigned char freeId = 0;
    QList<int> marked;

    int addressMode() override { return defaultAddressMode; }
    int accessMode() override { return defaultAccessMode; }
    int dataMode() override { return 0; }
    int readWrite() override { return 0; }
    bool checkInteractiveID(unsigned char id, unsigned char *, unsigned char *) override { return id < 128; }
    bool checkID(unsigned char id) override { return id < 128 && !marked.contains(id); }
    bool getFreeID(unsigned char &id) override
    {
        id = freeId;
        return haveFreeId;
    }
    bool setID(unsigned char id, bool used) override
    {
        if (used)
            marked.append(id);
        return used;
    }
    bool checkVectorID(int) override { return false; }
    bool pollingPresent() override { return false; }
    void setPollingPresent(bool) override {}
};
