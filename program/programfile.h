#pragma once

#include "modulememory.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QtGlobal>

#include <array>
#include <functional>
#include <memory>
#include <vector>

class ProgramHost;
class QFileDevice;
class QIODevice;
class VmeProgram;

// Program files: the module memory as the register writes of a download, framed by the
// General tab's default modes and ID range, so that a file rebuilds the program table.
//
// Every record but the last: code (2 bytes), address (4), data length n (1), n data bytes;
// all big-endian. The file ends with the code EndRecord alone.
//   DefaultsRecord  address NoAddress: default indices (address mode, access mode, data mode,
//                   read/write)
//   SettingsRecord  address NoAddress: events laid, enable mask, first and last interactive ID
//   WriteRecord     a register address: the bytes to write there (tables and image in
//                   pieces of at most PieceSize bytes)
//   EnableRecord    address 4: the enable mask, written last
namespace ProgramFile {

enum RecordCode : quint16 {
    DefaultsRecord = 0x3330,
    SettingsRecord = 0x3338,
    WriteRecord = 0x333F,
    EnableRecord = 0x333E,
    EndRecord = 0x333B,
};
constexpr quint32 NoAddress = 0xFFFFFFFF;
constexpr int PieceSize = 128;

// The largest file a Save writes: every record at its largest, the image full.
constexpr qint64 LargestSavedFile = 2 * (7 + 4)                                                  // defaults, settings
                                    + 2 * (7 + 1) + (7 + 4) + 2 * (7 + 8)                         // stop, registers
                                    + ModuleMemory::VectorTableSize / PieceSize * (7 + PieceSize) // vector table
                                    + (ModuleMemory::ImageLimit + PieceSize - 1) / PieceSize * (7 + PieceSize)
                                    + (7 + 1) + 2;                                                // enable, end
// A longer file is refused before its records are read. The margin over LargestSavedFile lets
// a file with a somewhat oversized image be read, to be refused with what is wrong with it.
constexpr qint64 MaxFileSize = 64 * 1024;

// Message texts; %1 is the file name, %2 the system's error text.
QString openFailureText(const QString &fileName, const QString &error);
QString createFailureText(const QString &fileName, const QString &error);
QString readFailureText(const QString &fileName, const QString &error);
// A program of the file holds an instruction that cannot be read (program: its row name).
QString unreadableText(const QString &fileName, const QString &program);

// The file bytes. defaults: the four default indices (each kept to 8 bits); checkedEvents:
// the event-table check boxes, stored and-ed with the events laid.
QByteArray encode(const ModuleMemory &memory, const std::array<int, 4> &defaults, quint8 checkedEvents,
                  int minID, int maxID);

// Writes bytes to file and flushes them: empty when all went through, else the write failure text.
QString writeAll(QFileDevice &file, const QByteArray &bytes);

// Fills bytes with exactly n bytes of device, or throws readFailureText as a QString.
void dataRead(QIODevice &device, QByteArray &bytes, int n, const QString &fileName);

// Every read of a record's address, length and data; must behave as dataRead.
using ExactRead = std::function<void(QByteArray &bytes, int n)>;

// Reads records from device up to the end record into memory, which starts empty. defaults
// receives, in file order, each defaults array the file hands to the General tab (the defaults
// record followed by the ID range of a settings record). A file that ends before its end record,
// or lacks the settings, tables or image that every saved file holds, throws the read failure
// text; memory then holds what was read. Either way the fixed-size registers keep their sizes
// (missing bytes read as 0). A device longer than MaxFileSize is refused before any record is
// read. The failure texts name fileName, or the device's file name when fileName is empty.
void readRecords(QIODevice &device, ModuleMemory &memory, QList<QByteArray> &defaults,
                 const ExactRead &exactRead, const QString &fileName = QString());

// A defaults array to hand to the General tab in which every default index outside its list
// is replaced by the tab's current one (address mode, access mode, data mode, read/write).
QByteArray keepValidDefaults(QByteArray defaults, const std::array<int, 4> &current);

// The program table rebuilt from the module memory.
struct Table
{
    // Polling program, vector programs by first vector, default vector program, the
    // interrupt programs of all seven levels.
    std::vector<std::unique_ptr<VmeProgram>> programs;
    QSet<quint8> usedVectors;
    // IDs of the instruction records read, in the order read (INTR-only programs read none).
    QList<quint8> ids;
    // Row name of the program that could not be read (an access code the mode word does not
    // define, or records that would lie outside the image); empty when all were read.
    QString refused;
    bool ok() const { return refused.isEmpty(); }
};

// Rebuilds the table. Only when every program could be read are the IDs marked used with
// host (may be null); otherwise the table is empty and the host untouched.
Table rebuild(const ModuleMemory &memory, ProgramHost *host);

// A whole file held in bytes, read as the window opens one: its records into memory (which
// starts empty), then the table rebuilt from them without marking IDs. Empty when all was
// read, else the message naming fileName.
QString readWhole(const QByteArray &bytes, const QString &fileName, ModuleMemory &memory,
                  QList<QByteArray> &defaults, Table &table);

// Row name of a program ("Polling", "Vector5", "Vector(default)", "Interrupt3").
QString programName(const VmeProgram &program);

} // namespace ProgramFile
