#pragma once

#include <QMetaType>
#include <QString>

// Where an RBCP job stands, as the worker knows it after each request: what it is doing, the
// bytes answered so far of the bytes the job moves, the register of the request in flight and
// which attempt of it this is. Handed to the window by value, so nothing is shared.
struct RbcpProgress
{
    enum Step { Idle, ReadingSettings, WritingSettings, StoppingPrograms, WritingRegisters, Enabling };

    Step step = Idle;
    qint64 done = 0;
    qint64 total = 0;
    quint32 address = 0;
    int attempt = 1;
    int attempts = 1;
    bool failed = false;  // the job ended on a failure at address
    quint64 sequence = 0; // counts the states a worker has published; a later one has a larger value

    static QString stepText(Step step);
    // What the status bar says while the job runs, e.g. "Writing registers: 640 of 3104 bytes,
    // no answer, attempt 2 of 3".
    QString text() const;
    // Per mille of the job's bytes answered, 0 to 1000.
    int permille() const;
};
Q_DECLARE_METATYPE(RbcpProgress)
