#pragma once

#include "programwarnings.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Program files as text (YAML) that operators write, review and keep in version control.
// A text describes the program table with the General tab's settings; built, it gives the
// binary program file that the window's Save writes for the same table. The binary file
// stays the form the window saves and the module is loaded from.
//
//   defaults: {address mode: A32, access mode: User Data, data mode: D32, read/write: Read}
//   interactive ids: 128-255
//   events: [Polling, Interrupt3]        # the checked rows of the event table
//   programs:
//     - program: polling                 # polling | vector | default vector | interrupt
//       interval: 1 ms                   # number and unit: s, ms, us (or sec, msec, usec)
//       level: 0
//       instructions:
//         - {id: 0, address: 0x00001000, read/write: Read, data mode: D32, length: 1,
//            access mode: User Data, address mode: A32}
//     - program: vector
//       vectors: 4-5,9                   # the editor's vector list
//       instructions: [...]
//     - {program: interrupt, level: 1, intr: true}
//
// Instruction values are the editor's cell texts and pass the editor's checks; an address
// without "0x" is hexadecimal, as in the editor. Comments are allowed and not kept. A text is
// one YAML document: anything after its end ("..." or a second "---") is refused.
namespace ProgramText {

// The longest text read. A table that fits the module's program memory prints as a few tens of
// kilobytes; a longer text is refused at once, before it is parsed.
constexpr qsizetype MaxTextSize = 512 * 1024;

struct Fault
{
    int line = 0;    // from 1; 0 when the fault has no place in the text
    int column = 0;  // from 1
    QString message;

    // "line:column: message", or the message alone without a place.
    QString text() const;
};

// True when the start of a file (a few hundred bytes are enough) is a program text rather
// than a binary program file: text holds neither 0x00 nor 0xFF bytes, and every binary file
// the window saves begins with a settings record whose address is FF FF FF FF.
bool isText(const QByteArray &head);

// The binary program file of a text, byte for byte what the window saves for that table.
// On a fault nothing is built and file is left as it was. warnings (may be null) receives what
// builds but will not do what the text likely means, in text order, with its place.
std::optional<Fault> build(const QByteArray &text, QByteArray &file,
                           QList<ProgramWarnings::Warning> *warnings = nullptr);

// The canonical text of a binary program file (fixed order and spelling; the same table
// always prints the same text). False, with the window's message naming fileName, when the
// file cannot be read.
bool print(const QByteArray &file, const QString &fileName, QString &text, QString &error);

} // namespace ProgramText
