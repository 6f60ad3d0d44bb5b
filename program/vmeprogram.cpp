#include "vmeprogram.h"

#include "programhost.h"

#include <QtEndian>

#include <memory>

VmeProgram::VmeProgram(unsigned int level)
    : number(-int(level)), level(int(level))
{
    auto *ins = new VmeInstruction;
    ins->address = 2 * level;
    ins->read = true;
    ins->echo = false;
    ins->noEcho = false;
    ins->length = 4;
    ins->dataMode = 2;
    ins->addressMode = 0;
    ins->id = 0;
    ins->accessMode = -1;
    instructions.append(ins);
}

VmeProgram::VmeProgram(const QByteArray &bytes, int &count, int pos, ProgramHost *host)
{
    if (pos < 0)
        return;
    const qsizetype size = bytes.size();
    qsizetype p = pos;
    const auto byteAt = [&bytes](qsizetype i) { return quint8(bytes.at(i)); };

    while (count > 0) {
        if (p > size || size - p < VmeInstruction::RecordHeaderSize)
            break;
        auto ins = std::make_unique<VmeInstruction>();
        ins->address = qFromBigEndian<quint32>(bytes.constData() + p);
        ins->getMode(byteAt(p + 4), byteAt(p + 5));
        ins->id = byteAt(p + 6);
        const int byteLength = byteAt(p + 7);
        p += VmeInstruction::RecordHeaderSize;

        if (!ins->read) {
            // A write whose data runs past the end is dropped and ends the parse.
            if (size - p < byteLength)
                break;
            ins->data = bytes.mid(p, byteLength);
            p += byteLength;
        }
        ins->length = ins->dataMode == 1 ? byteLength / 2
                    : ins->dataMode == 2 ? byteLength / 4
                                         : byteLength;
        if (host)
            host->setID(ins->id, true);
        instructions.append(ins.release());
        --count;
    }
}

VmeProgram::~VmeProgram()
{
    clear();
}

void VmeProgram::clear()
{
    qDeleteAll(instructions);
    instructions.clear();
}

bool VmeProgram::isIntrOnly() const
{
    return instructions.size() == 1 && instructions.first()->accessMode < 0;
}

int VmeProgram::setProgram(QByteArray &out) const
{
    if (isIntrOnly()) {
        setINTR(unsigned(level), out);
        return 1;
    }
    for (const VmeInstruction *ins : instructions)
        ins->setRecord(out);
    return int(instructions.size());
}

bool VmeProgram::setINTR(unsigned int level, QByteArray &out)
{
    toByteArray(2 * level, out);
    toByteArray(VmeModeWord::IntrMode, out);
    out.append('\0');   // ID 0
    out.append('\x04'); // 4 bytes
    return true;
}

bool VmeProgram::checkINTR(unsigned int level, const QByteArray &bytes)
{
    if (bytes.size() < IntrRecordSize)
        return false;
    QByteArray record;
    setINTR(level, record);
    return bytes.startsWith(record);
}

bool VmeProgram::setVectorBase(QByteArray &out, ProgramHost *host)
{
    VmeInstruction ins;
    ins.address = 0;
    ins.read = true;
    ins.echo = false;
    ins.noEcho = false;
    ins.dataMode = 0;
    ins.length = 0;
    // Indices the lists do not hold (a General tab combo left without a current item)
    // fall back to the tab's own start values, A24 and "User Data", rather than spilling
    // into the other bits of the mode word.
    ins.addressMode = 1;
    ins.accessMode = 0;
    bool freeId = false;
    if (host) {
        const int addressMode = host->addressMode();
        const int accessMode = host->accessMode();
        if (addressMode >= 0 && addressMode <= 2)
            ins.addressMode = addressMode;
        if (accessMode >= 0 && accessMode < VmeModeWord::IntrAccessIndex)
            ins.accessMode = accessMode;
        unsigned char id = 0;
        freeId = host->getFreeID(id);
        host->setID(id, true);
        ins.id = id;
    }
    ins.setRecord(out);
    return freeId;
}

void VmeProgram::toByteArray(unsigned short value, QByteArray &out)
{
    char bytes[2];
    qToBigEndian(quint16(value), bytes);
    out.append(bytes, 2);
}

void VmeProgram::toByteArray(unsigned int value, QByteArray &out)
{
    char bytes[4];
    qToBigEndian(quint32(value), bytes);
    out.append(bytes, 4);
}

quint32 VmeProgram::fromByteArray(const QByteArray &bytes)
{
    return bytes.size() < 4 ? 0 : qFromBigEndian<quint32>(bytes.constData());
}

quint16 VmeProgram::fromByteArray16(const QByteArray &bytes)
{
    return bytes.size() < 2 ? 0 : qFromBigEndian<quint16>(bytes.constData());
}
