#include "programcheck.h"

#include "datatext.h"
#include "programhost.h"
#include "vmeprogram.h"

#include <QSet>

#include <algorithm>
#include <cmath>

namespace ProgramCheck {
namespace {

const QString Intr = QStringLiteral("INTR");

QString text(const Row &row, int column)
{
    return row[column].value_or(QString());
}

// The data width of a row: "D8", "D16", and D32 for any other text.
int widthOf(const QString &dataMode)
{
    return dataMode == QLatin1String("D8") ? 0 : dataMode == QLatin1String("D16") ? 1 : 2;
}

// The mode flags that a Read/Write text stands for.
void setReadWrite(const QString &rw, VmeModeWord &mode)
{
    mode.read = !rw.contains(QLatin1String("Write"));
    mode.noEcho = rw.contains(QLatin1String("No Echo"));
    mode.echo = !mode.read && !rw.contains(QLatin1String("No Echo")) && !rw.contains(QLatin1String("No Data"));
}

// The low 32 bits of the integer part of x (finite), without the undefined conversion of a
// double beyond the integer range.
quint32 low32(double x)
{
    double r = std::fmod(std::trunc(x), 4294967296.0);
    if (r < 0)
        r += 4294967296.0;
    return quint32(r);
}

bool readNumber(const QString &text, double &value)
{
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && std::isfinite(value);
}

Refusal refuse(const QString &message, int row = -1, int column = -1)
{
    return Refusal{message, row, column};
}

std::optional<Refusal> checkRow(const Row &row, int r, ProgramHost &host, VmeInstruction &ins)
{
    const QStringList dataModes = VmeModeWord::dataModeLabels();
    const QStringList accessModes = VmeModeWord::accessModeLabels();
    const QStringList readWrites = VmeModeWord::readWriteLabels();
    const QStringList addressModes = VmeModeWord::addressModeLabels();

    // The choice columns take only the texts of their lists: any other text would be
    // committed as some other mode than it says.
    const QString width = text(row, DataModeColumn);
    if (!dataModes.contains(width))
        return refuse(QStringLiteral("Please set Data Mode."), r, DataModeColumn);
    const QString access = text(row, AccessModeColumn);
    if (!accessModes.contains(access))
        return refuse(QStringLiteral("Please set Access Mode."), r, AccessModeColumn);
    unsigned int address = 0;
    if (!DataText::checkUInt32(text(row, AddressColumn), address))
        return refuse(QStringLiteral("Please set address correctly."), r, AddressColumn);
    ins.dataMode = widthOf(width);
    if (access != Intr && ins.dataMode == 2 && address % 4 != 0)
        return refuse(QStringLiteral("The address must be 4byte aligned."), r, AddressColumn);
    if (access != Intr && ins.dataMode == 1 && address % 2 != 0)
        return refuse(QStringLiteral("The address must be 2byte aligned."), r, AddressColumn);
    const int max = maxLength(width);
    unsigned char length = 0;
    if (!DataText::checkUChar(text(row, LengthColumn), length, unsigned(max)))
        return refuse(QStringLiteral("Please set Length(0-%1) correctly.").arg(max), r, LengthColumn);
    const QString rw = text(row, ReadWriteColumn);
    if (!readWrites.contains(rw))
        return refuse(QStringLiteral("Please set Read or Write."), r, ReadWriteColumn);
    setReadWrite(rw, ins);
    if (!ins.read) {
        const QString data = text(row, DataColumn);
        const int count = DataText::check(ins.dataMode, data);
        if (count < 1)
            return refuse(QStringLiteral("Please set Data for write correctly."), r, DataColumn);
        if (count != length)
            return refuse(QStringLiteral("Please set Data for write correctly.\n"
                                         "Mismatch between %1(Length) and %2(a number of Data)")
                              .arg(length)
                              .arg(count),
                          r, DataColumn);
        DataText::data(ins.dataMode, ins.data, data);
    }
    const QString addressMode = text(row, AddressModeColumn);
    if (!addressModes.contains(addressMode))
        return refuse(QStringLiteral("Please set Address Mode."), r, AddressModeColumn);
    unsigned char id = 0;
    if (!DataText::checkUChar(text(row, IdColumn), id, 255))
        return refuse(QStringLiteral("Please set ID(0-255) correctly."), r, IdColumn);
    if (!host.checkID(id)) {
        unsigned char low = 0, high = 0;
        if (!host.checkInteractiveID(id, &low, &high))
            return refuse(QStringLiteral("\"%1-%2\" are ID for Interactive Mode").arg(low).arg(high), r, IdColumn);
    }
    ins.address = address;
    ins.length = length;
    ins.accessMode = int(accessModes.indexOf(access));
    ins.addressMode = int(addressModes.indexOf(addressMode));
    ins.id = id;
    return std::nullopt;
}

std::optional<Refusal> checkKind(const Kind &kind, int number, ProgramHost &host, Fields &fields)
{
    fields.vectorText = kind.vectorText;
    switch (kind.type) {
    case Kind::Polling: {
        if (number != 0 && host.checkVectorID(0))
            return refuse(QStringLiteral("\"Polling\" is set already."));
        quint32 micros = 0;
        if (!intervalMicros(kind.interval, kind.usecPerUnit, micros))
            return refuse(QStringLiteral("Please set a interval time between 1usec and 4294.96sec (step: 1usec)"));
        fields.number = 0;
        fields.level = kind.priority;
        VmeProgram::toByteArray(static_cast<unsigned int>(micros), fields.data);
        return std::nullopt;
    }
    case Kind::Interrupt:
        if (number != -kind.level && host.checkVectorID(-kind.level))
            return refuse(QStringLiteral("\"Interrupt Level%1\" is set already.").arg(kind.level));
        fields.number = -kind.level;
        fields.level = kind.level;
        return std::nullopt;
    case Kind::Vector:
        fields.level = -1;
        if (kind.vectorIDs) {
            QSet<unsigned char> set;
            // A list without any vector would leave the program without a number.
            if (!DataText::checkVectorNum(kind.vectorText, set) || set.isEmpty())
                return refuse(QStringLiteral("Please set Vector ID(0-255)."));
            QList<unsigned char> vectors(set.cbegin(), set.cend());
            std::sort(vectors.begin(), vectors.end());
            for (unsigned char v : vectors) {
                if (host.checkVectorID(v + 1))
                    return refuse(QStringLiteral("\"Vector%1\" is set already.").arg(v));
                fields.data.append(char(v));
            }
            fields.number = vectors.first() + 1;
            return std::nullopt;
        }
        if (number != VmeProgram::DefaultVectorNumber && host.checkVectorID(VmeProgram::DefaultVectorNumber))
            return refuse(QStringLiteral("\"Vector%1\" is set already.").arg(QStringLiteral("(default)")));
        fields.number = VmeProgram::DefaultVectorNumber;
        return std::nullopt;
    case Kind::None:
        break;
    }
    return refuse(QString());
}

bool differs(const Row &row, const VmeInstruction &ins)
{
    for (int c : {IdColumn, AddressColumn, ReadWriteColumn, DataModeColumn, LengthColumn, AccessModeColumn,
                  AddressModeColumn}) {
        if (!row[c])
            return true;
    }
    unsigned int address = 0;
    unsigned char length = 0, id = 0;
    if (!DataText::checkUInt32(text(row, AddressColumn), address) || address != ins.address ||
        !DataText::checkUChar(text(row, LengthColumn), length, 255) || length != ins.length ||
        !DataText::checkUChar(text(row, IdColumn), id, 255) || id != ins.id)
        return true;
    VmeModeWord flags;
    setReadWrite(text(row, ReadWriteColumn), flags);
    if (flags.read != ins.read || flags.noEcho != ins.noEcho || flags.echo != ins.echo)
        return true;
    // A choice cell matches when it shows what the instruction's index shows: a list text,
    // or no text for an index that no list holds.
    if (text(row, DataModeColumn) != VmeModeWord::dataModeLabels().value(ins.dataMode) ||
        text(row, AccessModeColumn) != VmeModeWord::accessModeLabels().value(ins.accessMode) ||
        text(row, AddressModeColumn) != VmeModeWord::addressModeLabels().value(ins.addressMode))
        return true;
    if (row[DataColumn]) {
        QByteArray bytes;
        if (!DataText::data(ins.dataMode, bytes, *row[DataColumn]) || bytes != ins.data)
            return true;
    }
    return false;
}

} // namespace

int maxLength(const QString &dataMode)
{
    const int width = widthOf(dataMode);
    return width == 0 ? 255 : width == 1 ? 127 : 63;
}

bool intervalMicros(const QString &text, double usecPerUnit, quint32 &micros)
{
    double value = 0;
    if (!readNumber(text, value))
        return false;
    const double us = usecPerUnit * value + 0.5;
    if (!(us >= 1.0 && us < 4294967296.0))
        return false;
    micros = quint32(us);
    return true;
}

bool convertInterval(QString &text, double oldUsecPerUnit, int unitIndex)
{
    double value = 0;
    if (!readNumber(text, value) || value < 0)
        return false;
    // A time the module's 32-bit register cannot hold stays as typed, for OK to refuse.
    const double us = value * oldUsecPerUnit + 0.5;
    if (us >= 4294967296.0)
        return false;
    const auto micros = quint32(us);
    if (unitIndex == 0 || unitIndex == 1) {
        text = QString::number(micros / (unitIndex == 0 ? 1e6 : 1e3), 'f', unitIndex == 0 ? 6 : 3);
        DataText::removeZeros(text);
    } else {
        text = QString::number(micros);
    }
    return true;
}

std::optional<Refusal> validate(const QList<Row> &rows, const Kind &kind, int number, ProgramHost &host,
                                Fields &fields)
{
    fields = Fields();
    fields.intr = kind.intr && kind.type == Kind::Interrupt;
    if (!fields.intr) {
        if (rows.isEmpty())
            return refuse(QStringLiteral("Please set at least one instruction."));
        for (int r = 0; r < rows.size(); ++r) {
            VmeInstruction ins;
            if (auto fault = checkRow(rows.at(r), r, host, ins))
                return fault;
            fields.instructions.append(ins);
        }
    }
    return checkKind(kind, number, host, fields);
}

void commit(const Fields &fields, VmeProgram &program, ProgramHost &host)
{
    if (fields.number == 0)
        host.setPollingPresent(true);
    else if (program.number == 0)
        host.setPollingPresent(false);   // the polling program became another kind
    program.number = fields.number;
    program.level = fields.level;
    program.data = fields.data;
    program.vectorText = fields.vectorText;
    program.clear();
    if (fields.intr) {
        VmeProgram intr(static_cast<unsigned int>(fields.level));
        program.instructions.swap(intr.instructions);
        return;
    }
    for (const VmeInstruction &ins : fields.instructions) {
        program.instructions.append(new VmeInstruction(ins));
        host.setID(ins.id, true);
    }
}

bool modified(const QList<Row> &rows, const Kind &kind, const VmeProgram &program)
{
    if (rows.isEmpty())
        return false;
    switch (kind.type) {
    case Kind::Polling: {
        double value = 0;
        if (!readNumber(kind.interval, value) ||
            low32(kind.usecPerUnit * value + 0.5) != VmeProgram::fromByteArray(program.data) ||
            program.number != 0 || program.level != kind.priority)
            return true;
        break;
    }
    case Kind::Interrupt:
        if (program.number != -kind.level || program.level != kind.level)
            return true;
        break;
    case Kind::Vector:
        if ((kind.vectorIDs ? kind.vectorText != program.vectorText
                            : program.number != VmeProgram::DefaultVectorNumber) ||
            program.level != -1)
            return true;
        break;
    case Kind::None:
        break;
    }
    if (kind.intr) {
        if (program.instructions.size() != 1)
            return true;
        const VmeInstruction &ins = *program.instructions.first();
        return !(ins.address == quint32(2 * program.level) && ins.id == 0 && ins.dataMode == 2 && ins.read &&
                 !ins.echo && ins.length == 4 && ins.accessMode == -1);
    }
    if (rows.size() != program.instructions.size())
        return true;
    for (int r = 0; r < rows.size(); ++r) {
        if (differs(rows.at(r), *program.instructions.at(r)))
            return true;
    }
    return false;
}

} // namespace ProgramCheck
