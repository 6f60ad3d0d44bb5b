#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// The 16-bit mode word of one VME access, decoded into its fields.
//
//  bit 15     write (0 = read)
//  bit 14     echo: the data of a write comes back in the response
//  bit 13     no echo
//  bits 11-10 data mode (D8, D16, D32)
//  bits 9-8   address mode (A16, A24, A32)
//  bits 7-4   access code (see AccessMode)
//  bits 3-0   status in responses: 0x4 VME error, 0x1 parameter error
class VmeModeWord
{
public:
    static constexpr int AccessModeCount = 11;
    static constexpr int IntrAccessIndex = 10;
    static constexpr quint16 IntrMode = 0x2830;
    static constexpr quint16 StatusVmeError = 0x0004;
    static constexpr quint16 StatusParamError = 0x0001;

    // Access codes (bits 7-4) indexed by the access-mode index of every list.
    static const quint8 AccessMode[AccessModeCount];

    bool read = true;
    bool echo = false;
    bool noEcho = false;
    int dataMode = 0;
    int accessMode = 0;
    int addressMode = 0;

    void getMode(quint8 hi, quint8 lo);
    void getMode(quint16 word);
    bool getMode(const QByteArray &bytes);
    void setMode(QByteArray &out) const;
    quint16 mode() const;

    // Whether a response to, or a report of, this mode carries data after its header.
    static bool isEcho(quint16 mode);

    static bool hasError(quint16 mode) { return (mode & (StatusVmeError | StatusParamError)) != 0; }
    static int itemSize(int dataMode) { return dataMode == 1 ? 2 : dataMode == 2 ? 4 : 1; }

    // The vocabulary lists; a list index is the field value of the mode word.
    static QStringList readWriteLabels();
    static QStringList dataModeLabels();
    static QStringList addressModeLabels();
    static QStringList accessModeLabels();
};
