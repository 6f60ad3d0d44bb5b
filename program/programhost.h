#pragma once

// What the program model and the program editor ask of the window that owns the program
// table: the default access modes of the General tab, the bookkeeping of instruction IDs
// and vector numbers, and whether a polling program exists. The main window implements it;
// tests use a plain fake.
class ProgramHost
{
public:
    virtual ~ProgramHost();

    // Default indices of the General tab (positions in the mode-word label lists).
    virtual int addressMode() = 0;
    virtual int accessMode() = 0;
    virtual int dataMode() = 0;
    virtual int readWrite() = 0;

    // True when id lies outside the interactive range; min and max, when not null,
    // receive the range's ends.
    virtual bool checkInteractiveID(unsigned char id, unsigned char *min, unsigned char *max) = 0;
    // True when id is outside the interactive range and not used by a program instruction.
    virtual bool checkID(unsigned char id) = 0;
    // Delivers the next free program ID through id; false when none is left.
    virtual bool getFreeID(unsigned char &id) = 0;
    // used true: marks id used and returns true; used false: frees it and returns
    // whether it was marked.
    virtual bool setID(unsigned char id, bool used) = 0;

    // 0, negative or 257: a program of that number exists; 1 to 256: vector number - 1
    // is served by a vector program.
    virtual bool checkVectorID(int number) = 0;

    // The polling-present flag of the program table.
    virtual bool pollingPresent() = 0;
    virtual void setPollingPresent(bool present) = 0;
};
