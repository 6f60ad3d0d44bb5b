#pragma once

#include "download.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A set-up sequence for a crate: VME and register accesses, waits and checks in the order the
// operator wrote them, as a YAML text:
//
//   defaults: {address mode: A32, data mode: D32, access mode: User Data}
//   steps:
//     - write: {address: 0x00100000, data: [0x1, 0x2]}
//     - read: {address: 0x00100000, count: 2, expect: [0x1, 0x2], mask: 0xFFFF}
//     - wait: 50 ms
//     - poll: {address: 0x00100010, mask: 0x1, expect: 0x1, timeout: 1 s, interval: 10 ms}
//     - register write: {address: 0x00000100, data: [0x12, 0x34]}
//     - register read: {address: 0x00000100, count: 2, expect: [0x12, 0x34]}
//     - download: adc.yaml              # a program file, text or binary; read back as written
//     - enable: [Polling, Interrupt3]   # or: enable: stop
//     - include: tdc.yaml               # another sequence, relative to this file
//
// A step may carry `name: TEXT`, which shows in every message about it. VME steps take the
// access's modes as keys of their own (address mode, data mode, access mode) and otherwise the
// file's defaults; an included file starts from its own defaults. Numbers are decimal, "0x"
// hexadecimal or "0" octal. Register accesses of the network core's settings block
// (0xFFFFFC00 and up) are refused unless the step says `settings: true`.
namespace Sequence {

// Where a step or a fault is: the file as named (an include's path joined to its parent's
// folder), its line and column from 1 (0: no place).
struct Place
{
    QString file;
    int line = 0;
    int column = 0;

    // "file:line:column" or "file" alone.
    QString text() const;
};

struct Fault
{
    Place place;
    QString message;
    // "file:line:column: message".
    QString text() const;
};

struct Step
{
    enum Kind { Write, Read, Wait, Poll, RegisterWrite, RegisterRead, Download, Enable };
    Kind kind = Write;
    Place place;
    QString name;

    // VME steps: the modes as list indexes (VmeModeWord's labels).
    int addressMode = 2;
    int dataMode = 2;
    int accessMode = 0;

    quint32 address = 0;
    QList<quint32> data;    // write, register write: one item per entry (register items are bytes)
    int count = 1;          // read, register read: items
    QList<quint32> expect;  // read, register read, poll: empty, one for every item, or one each
    quint32 mask = 0xFFFFFFFF;
    int waitMs = 0;         // wait; poll: the time-out
    int intervalMs = 10;    // poll
    bool settings = false;  // register steps: the settings block may be touched

    DownloadPlan plan;      // download
    QString programFile;
    quint8 enable = 0;      // enable: the mask, 0 for stop

    // The size of one item in bytes (register steps: 1).
    int itemSize() const;
    // Whether every item of the access goes to its one address (a FIFO register).
    bool fixedAddress() const;
    // "write 0x00100000 A32 D32 0x00000001 0x00000002", as the step is printed.
    QString text() const;
    // "3 \"reset\" write 0x00100000 A32 D32 0x00000001", as a step is listed (its number from 0).
    QString line(int index) const;
    // "step 3 \"reset\" (read 0x00100000)" for messages.
    QString label(int index) const;
};

// Reads a sequence file and every file it includes or downloads. A fault names its file and
// place; nothing of a faulty sequence is returned.
std::optional<Fault> load(const QString &fileName, QList<Step> &steps);
// The same for a text already in memory, named fileName (includes relative to its folder).
std::optional<Fault> parse(const QByteArray &text, const QString &fileName, QList<Step> &steps);

// Whether a register range touches the network core's settings block.
bool touchesSettings(quint32 address, int size);
constexpr quint32 SettingsFirst = 0xFFFFFC00;

// Largest sequence file read: far beyond any crate's set-up, small enough to refuse a wrong file
// at once.
constexpr qint64 FileLimit = 4 * 1024 * 1024;

} // namespace Sequence
