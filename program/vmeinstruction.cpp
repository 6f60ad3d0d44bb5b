#include "vmeinstruction.h"

#include "vmeprogram.h"

quint8 VmeInstruction::byteLength() const
{
    return quint8(quint32(length) * quint32(itemSize(dataMode)));
}

QString VmeInstruction::readWriteText() const
{
    if (read)
        return noEcho ? QStringLiteral("Read(No Echo)") : QStringLiteral("Read");
    return echo     ? QStringLiteral("Write(Echo)")
           : noEcho ? QStringLiteral("Write(No Echo)")
                    : QStringLiteral("Write(No Data Echo)");
}

void VmeInstruction::setRecord(QByteArray &out) const
{
    const quint16 word = mode();
    const quint8 bytes = byteLength();
    VmeProgram::toByteArray(address, out);
    VmeProgram::toByteArray(word, out);
    out.append(char(id));
    out.append(char(bytes));
    // The module takes data only for a write; the mode word sent is the one that counts
    // (an unknown access code goes out as the INTR word, which is a read).
    if (word & 0x8000) {
        const QByteArray written = data.left(bytes);
        out.append(written);
        out.append(bytes - written.size(), '\0');
    }
}
