#pragma once

#include "commandclient.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

// One VME read or write of any number of items over the command channel: the checks made
// before anything is sent, the split into commands of at most 255 data bytes (the length
// byte), and the operator's texts for what went wrong. tarnixctl and scripts share it.
namespace VmeAccess {

struct Request
{
    quint32 address = 0;
    quint64 items = 1;
    bool read = true;
    bool echo = false;   // a write asks for its data back
    int addressMode = 2; // indices of the mode word's labels: A32
    int dataMode = 2;    // D32
    int accessMode = 0;  // User Data
    QByteArray data;     // a write's items, big-endian, items * item size bytes
};

struct Outcome
{
    enum class Status { Done, Refused, NoAnswer };
    Status status = Status::Done;
    QString message;   // empty when done
    quint32 address = 0; // the command's address where the module refused or went silent
    quint16 mode = 0;    // the answer's mode word when the module refused
    bool done() const { return status == Status::Done; }
};

// The last address of an address mode's space (index of the A16, A24, A32 labels).
quint64 addressSpaceTop(int addressMode);
// Block transfers of a FIFO or a register read at one address, whatever their length.
bool fixedAddress(int accessMode);
// Items of one command: as many as 255 data bytes hold.
int itemLimit(int dataMode);

// What is wrong with a request before it is sent (empty when nothing): the address's
// alignment to the item size, then every item inside the address mode's space; command
// names the caller in the range text ("read: the transfer ends at ...").
QString alignmentError(quint32 address, int dataMode);
QString rangeError(const QString &command, const Request &request);

// "VME error, parameter error (MODE:0x2a05)"
QString statusText(quint16 mode);
// "cannot connect to HOST:PORT: reason", after connectTo failed.
QString connectFailureText(const QString &host, quint16 port, const CommandClient &client);
// What a failed exchange of the client means to the operator.
QString failureText(CommandClient::Result result, const CommandClient &client);

// Sends the request's commands one after the other on a connected client, each with the next
// ID of ids. Every answer's data (a read's items, a write's echo) goes to data as it arrives,
// so that what came before a failure is kept. Stops at the first refusal or silence.
Outcome run(CommandClient &client, CommandIdRange &ids, const Request &request,
            const std::function<void(const QByteArray &)> &data);

} // namespace VmeAccess
