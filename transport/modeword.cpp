#include "modeword.h"

const quint8 VmeModeWord::AccessMode[VmeModeWord::AccessModeCount] = {
    0x0, 0x1, 0x2, 0x4, 0x5, 0x6, 0x8, 0x9, 0xC, 0xD, 0x3,
};

void VmeModeWord::getMode(quint8 hi, quint8 lo)
{
    read = (hi & 0x80) == 0;
    echo = (hi & 0x40) != 0;
    noEcho = (hi & 0x20) != 0;
    dataMode = (hi >> 2) & 0x3;
    addressMode = hi & 0x3;

    const quint8 code = lo >> 4;
    accessMode = -1;
    for (int i = 0; i < AccessModeCount; ++i) {
        if (AccessMode[i] == code) {
            accessMode = i;
            break;
        }
    }
}

void VmeModeWord::getMode(quint16 word)
{
    getMode(quint8(word >> 8), quint8(word & 0xFF));
}

bool VmeModeWord::getMode(const QByteArray &bytes)
{
    if (bytes.size() < 2)
        return false;
    getMode(quint8(bytes.at(0)), quint8(bytes.at(1)));
    return true;
}

quint16 VmeModeWord::mode() const
{
    if (accessMode < 0)
        return IntrMode;
    quint8 hi = quint8(dataMode * 4 + addressMode);
    if (!read)
        hi |= 0x80;
    if (echo)
        hi |= 0x40;
    if (noEcho)
        hi |= 0x20;
    const quint8 lo = accessMode < AccessModeCount ? quint8(AccessMode[accessMode] << 4) : 0;
    return quint16((hi << 8) | lo);
}

void VmeModeWord::setMode(QByteArray &out) const
{
    const quint16 m = mode();
    out.append(char(m >> 8));
    out.append(char(m & 0xFF));
}

bool VmeModeWord::isEcho(quint16 mode)
{
    if (mode & 0x8000)
        return (mode & 0x4000) != 0;
    return (mode & 0x2000) == 0;
}

QStringList VmeModeWord::readWriteLabels()
{
    return {QStringLiteral("Read"), QStringLiteral("Write(No Data Echo)"), QStringLiteral("Write(Echo)"),
            QStringLiteral("Write(No Echo)"), QStringLiteral("Read(No Echo)")};
}

QStringList VmeModeWord::dataModeLabels()
{
    return {QStringLiteral("D8"), QStringLiteral("D16"), QStringLiteral("D32")};
}

QStringList VmeModeWord::addressModeLabels()
{
    return {QStringLiteral("A16"), QStringLiteral("A24"), QStringLiteral("A32")};
}

QStringList VmeModeWord::accessModeLabels()
{
    return {QStringLiteral("User Data"),
            QStringLiteral("User Prog."),
            QStringLiteral("User BLT"),
            QStringLiteral("Supervisor Data"),
            QStringLiteral("Supervisor Prog."),
            QStringLiteral("Supervisor BLT"),
            QStringLiteral("Fixed Address and User Data"),
            QStringLiteral("Fixed Address and User Prog."),
            QStringLiteral("Fixed Address and Supervisor Data"),
            QStringLiteral("Fixed Address and Supervisor Prog."),
            QStringLiteral("INTR")};
}
