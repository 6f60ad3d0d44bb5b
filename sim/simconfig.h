#pragma once

#include "simchannel.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <memory>

struct SimRun;

// VME address modes as they appear in bits 9..8 of the mode word.
enum SimAddressMode { SimA16 = 0, SimA24 = 1, SimA32 = 2 };

// An inclusive address range.
struct SimRange
{
    quint32 first = 0;
    quint32 last = 0;
    bool overlaps(quint64 start, quint64 size) const
    {
        return size > 0 && start <= last && start + size - 1 >= first;
    }
};

// A VME range where no slave answers: accesses touching it end with the VME error bit.
struct SimUnmapped
{
    int addressMode = SimA32;
    SimRange range;
};

// A VME range of one address mode: where a slave sits, or where a fault applies.
struct SimVmeRange
{
    int addressMode = SimA32;
    SimRange range;
};

// Fault injection, switchable at run time.
struct SimFaults
{
    // RBCP channel
    double rbcpDropFraction = 0.0; // share of replies that are lost (the request is still carried out)
    quint32 rbcpDropSeed = 1;      // seed of the drop decisions, so a run can be repeated
    int rbcpDelayMs = 0;           // every reply leaves this much later
    bool rbcpStaleId = false;      // each reply is preceded by a copy with the previous request's ID
    QVector<SimRange> rbcpBusErrors; // register accesses touching these answer with the bus error flag
    QVector<SimRange> rbcpLostWrites; // writes are acknowledged, but bytes inside these are not stored

    // VME accesses touching these are refused with the parameter error bit
    QVector<SimVmeRange> vmeParamErrors;

    // TCP channel, counted per connection from its first packet (1-based); 0 switches off
    qint64 tcpCorruptCrcPacket = 0;  // this packet leaves with a wrong header CRC
    qint64 tcpCloseAfterPackets = 0; // the connection is closed once this many packets were sent
    bool tcpByteAtATime = false;     // every packet trickles out one byte per write
    qint64 tcpMuteAfterPackets = 0;  // after this many packets nothing more is sent (still open)
    int tcpByteIntervalMs = 1;       // pause between the trickled bytes
    bool tcpNoAnswers = false;       // commands are carried out but answered by nothing
};

// A burst of reports, as a running program would send them.
struct SimReportBurst
{
    quint8 id = 5;           // outside the default interactive range 128..255
    quint16 flowId = 0;      // 12 bits
    bool polling = true;     // bit 28 of the length word
    quint8 level = 0;        // priority level, 3 bits
    quint32 address = 0;
    int addressMode = SimA32;
    bool withData = true;    // a "Read" report with data, or a "Read(No Echo)" bare header
    int items = 1;           // data size in D32 items (1..63); item 0 of report k holds k
    qint64 count = 1;        // reports to send; 0 = until stopped
    int rate = 0;            // reports per second; 0 = as fast as the socket takes them
    QVector<SimChannel> channels; // items that look like detector channels instead of 0
    quint32 channelSeed = 1;
};

// A VME interrupt that the module sees raised: level 1..7 with the vector its source returns to
// the acknowledge, once when the module starts (periodMs 0) or every periodMs milliseconds.
struct SimIrq
{
    int level = 1;
    quint8 vector = 0;
    int periodMs = 0;
};

// A status register of a slave that needs set-up: a VME write touching `trigger` clears `bits`
// in every 32-bit word of the range, and delayMs later they read as set (a "ready" bit).
struct SimStatusRegister
{
    int addressMode = SimA32;
    SimRange range;
    quint32 trigger = 0;
    quint32 bits = 1;
    int delayMs = 0;
};

struct SimConfig
{
    QHostAddress address = QHostAddress(QHostAddress::LocalHost); // both channels listen here
    quint16 tcpPort = 24;
    quint16 udpPort = 4660;

    quint32 version = 0x01020AFF;           // register 0
    QByteArray mac = QByteArray::fromHex("001A2B3C4D5E");
    quint32 settingsIp = 0x7F000001;        // IPv4 address in the settings block
    quint8 flags = 0x04;                    // settings block byte 0: keep-alive on
    quint16 closeTimeout = 5;               // live TCP close time-out register
    quint32 interruptVector = 0;            // what an acknowledge returns with no interrupt raised
    QVector<SimIrq> irqs;                   // interrupts raised on the VME bus

    QVector<SimUnmapped> unmapped;
    // The slaves of a crate: once an address mode has one, only they answer in that mode and
    // every other access of the mode ends with the VME error bit. A mode without any answers
    // everywhere (but in the unmapped ranges).
    QVector<SimVmeRange> slaves;
    SimFaults faults;

    bool reportsOnConnect = false;          // every new connection gets `reports`
    SimReportBurst reports;

    std::shared_ptr<const SimRun> replay;   // a recorded run sent to every client that connects
    double replaySpeed = 1;                 // its pace: 1 as recorded, 0 as fast as the socket takes it

    bool verbose = false;                   // log every command and register access to stderr
    // Status registers that set their bits a while after a write elsewhere (simstatus.h).
    QVector<SimStatusRegister> statusRegisters;
};

// Parses "first-last" or "first+size" (numbers in C notation: 0x.., 0.., decimal).
bool parseSimRange(const QString &text, SimRange *range);
// Parses "A16:first-last" (A16, A24 or A32).
bool parseSimUnmapped(const QString &text, SimUnmapped *unmapped);
// The same into a SimVmeRange.
bool parseSimVmeRange(const QString &text, SimVmeRange *range);
// Parses "L:V" or "L:V:period-ms" (level 1..7, vector 0..255, period 1..3600000).
bool parseSimIrq(const QString &text, SimIrq *irq);
// Parses a MAC address "00:1A:2B:3C:4D:5E" (or with '-' separators).
bool parseSimMac(const QString &text, QByteArray *mac);
