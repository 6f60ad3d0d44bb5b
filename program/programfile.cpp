#include "programfile.h"

#include "modeword.h"
#include "programhost.h"
#include "vmeprogram.h"

#include <QBuffer>
#include <QFileDevice>
#include <QIODevice>

namespace ProgramFile {

namespace {

void appendRecord(QByteArray &out, quint16 code, quint32 address, const QByteArray &data)
{
    VmeProgram::toByteArray(static_cast<unsigned short>(code), out);
    VmeProgram::toByteArray(static_cast<unsigned int>(address), out);
    out.append(char(data.size()));
    out.append(data);
}

// A register of fixed size: cut, or filled with zero bytes.
QByteArray sized(const QByteArray &bytes, int size)
{
    QByteArray out = bytes.left(size);
    out.append(size - out.size(), '\0');
    return out;
}

void appendPieces(QByteArray &out, quint32 address, const QByteArray &bytes)
{
    for (qsizetype k = 0; k < bytes.size(); k += PieceSize)
        appendRecord(out, WriteRecord, address + quint32(k), bytes.mid(k, PieceSize));
}

// Byte i of a record or table; bytes beyond its end read as 0.
int byteAt(const QByteArray &bytes, int i)
{
    return i < bytes.size() ? int(quint8(bytes.at(i))) : 0;
}

void keepRegisterSizes(ModuleMemory &memory)
{
    memory.interval = sized(memory.interval, 4);
    memory.startTable = sized(memory.startTable, 8);
    memory.countTable = sized(memory.countTable, 8);
    memory.vectorTable = sized(memory.vectorTable, ModuleMemory::VectorTableSize);
}

void takeRecord(quint16 code, quint32 address, const QByteArray &data, ModuleMemory &memory,
                QByteArray &pendingDefaults, QList<QByteArray> &defaults)
{
    switch (code) {
    case DefaultsRecord:
        pendingDefaults = data;
        return;
    case SettingsRecord:
        memory.events = quint8(byteAt(data, 0));
        memory.savedEnable = quint8(byteAt(data, 1));
        pendingDefaults.append(data.mid(2, 2));
        defaults.append(pendingDefaults);
        return;
    case WriteRecord:
        break;
    default:
        return;  // records this program does not know are skipped
    }
    switch (address) {
    case ModuleMemory::PollLevelAddress:
        memory.pollLevel = quint8(byteAt(data, 0));
        break;
    case ModuleMemory::IntervalAddress:
        memory.interval = data;
        break;
    case ModuleMemory::StartTableAddress:
        memory.startTable = data;
        break;
    case ModuleMemory::CountTableAddress:
        memory.countTable = data;
        break;
    case ModuleMemory::VectorTableAddress:
        memory.vectorTable = data;
        break;
    case ModuleMemory::ImageAddress:
        memory.image = data;
        break;
    default:
        // Further pieces follow the first one of their table; the stop write to address 4
        // lands here too and is replaced by the vector table's first piece.
        (address >= ModuleMemory::ImageAddress ? memory.image : memory.vectorTable).append(data);
        break;
    }
}

} // namespace

QString openFailureText(const QString &fileName, const QString &error)
{
    return QStringLiteral("\"%1\": Can't open file\n%2.").arg(fileName, error);
}

QString createFailureText(const QString &fileName, const QString &error)
{
    return QStringLiteral("\"%1\": Can't open file for writing\n%2.").arg(fileName, error);
}

QString readFailureText(const QString &fileName, const QString &error)
{
    return QStringLiteral("\"%1\": Can't read\n%2.").arg(fileName, error);
}

QString unreadableText(const QString &fileName, const QString &program)
{
    return QStringLiteral("\"%1\": Can't read an instruction of %2.").arg(fileName, program);
}

QByteArray encode(const ModuleMemory &memory, const std::array<int, 4> &defaults, quint8 checkedEvents,
                  int minID, int maxID)
{
    const char enable = char(checkedEvents & memory.events);
    QByteArray out;
    QByteArray indices;
    for (int index : defaults)
        indices.append(char(index));
    appendRecord(out, DefaultsRecord, NoAddress, indices);
    const char settings[] = {char(memory.events), enable, char(minID), char(maxID)};
    appendRecord(out, SettingsRecord, NoAddress, QByteArray(settings, 4));
    appendRecord(out, WriteRecord, ModuleMemory::EnableAddress, QByteArray(1, '\0'));
    appendRecord(out, WriteRecord, ModuleMemory::PollLevelAddress, QByteArray(1, char(memory.pollLevel)));
    appendRecord(out, WriteRecord, ModuleMemory::IntervalAddress, sized(memory.interval, 4));
    appendRecord(out, WriteRecord, ModuleMemory::StartTableAddress, sized(memory.startTable, 8));
    appendRecord(out, WriteRecord, ModuleMemory::CountTableAddress, sized(memory.countTable, 8));
    appendPieces(out, ModuleMemory::VectorTableAddress, memory.vectorTable);
    appendPieces(out, ModuleMemory::ImageAddress, memory.image);
    appendRecord(out, EnableRecord, ModuleMemory::EnableAddress, QByteArray(1, enable));
    VmeProgram::toByteArray(static_cast<unsigned short>(EndRecord), out);
    return out;
}

QString writeAll(QFileDevice &file, const QByteArray &bytes)
{
    if (file.write(bytes) == bytes.size() && file.flush())
        return {};
    return QStringLiteral("\"%1\": Can't write\n%2.").arg(file.fileName(), file.errorString());
}

void dataRead(QIODevice &device, QByteArray &bytes, int n, const QString &fileName)
{
    bytes = device.read(n);
    if (bytes.size() != n)
        throw readFailureText(fileName, device.errorString());
}

void readRecords(QIODevice &device, ModuleMemory &memory, QList<QByteArray> &defaults,
                 const ExactRead &exactRead, const QString &fileName)
{
    const auto *file = qobject_cast<const QFileDevice *>(&device);
    const QString name = !fileName.isEmpty() || !file ? fileName : file->fileName();
    const auto refuse = [&name](const QString &reason) { return readFailureText(name, reason); };
    memory = ModuleMemory();
    if (!device.isSequential() && device.size() - device.pos() > MaxFileSize) {
        keepRegisterSizes(memory);
        throw refuse(QStringLiteral("The file holds %1 bytes, more than the %2 of the largest program file")
                         .arg(device.size() - device.pos())
                         .arg(MaxFileSize));
    }
    QByteArray pendingDefaults;
    QSet<QPair<quint16, quint32>> seen;
    try {
        for (;;) {
            const QByteArray code = device.read(2);
            if (code.size() < 2)
                throw refuse(QStringLiteral("The file ends before its end record"));
            if (VmeProgram::fromByteArray16(code) == EndRecord)
                break;
            QByteArray field;
            exactRead(field, 4);
            const quint32 address = VmeProgram::fromByteArray(field);
            exactRead(field, 1);
            QByteArray data;
            exactRead(data, byteAt(field, 0));
            seen.insert({VmeProgram::fromByteArray16(code), address});
            takeRecord(VmeProgram::fromByteArray16(code), address, data, memory, pendingDefaults, defaults);
        }
    } catch (...) {
        keepRegisterSizes(memory);
        throw;
    }
    keepRegisterSizes(memory);

    // What every saved file holds; a file without it was cut short or made elsewhere.
    struct Needed
    {
        quint16 code;
        quint32 address;
        const char *what;
    };
    QList<Needed> needed{{DefaultsRecord, NoAddress, "settings"},
                         {SettingsRecord, NoAddress, "settings"},
                         {WriteRecord, ModuleMemory::PollLevelAddress, "tables"},
                         {WriteRecord, ModuleMemory::IntervalAddress, "tables"},
                         {WriteRecord, ModuleMemory::StartTableAddress, "tables"},
                         {WriteRecord, ModuleMemory::CountTableAddress, "tables"}};
    for (int k = 0; k < ModuleMemory::VectorTableSize; k += PieceSize)
        needed.append({WriteRecord, ModuleMemory::VectorTableAddress + quint32(k), "vector table"});
    needed.append({WriteRecord, ModuleMemory::ImageAddress, "program image"});
    for (const Needed &n : std::as_const(needed))
        if (!seen.contains({n.code, n.address}))
            throw refuse(QStringLiteral("The file lacks its %1").arg(QLatin1String(n.what)));
}

QByteArray keepValidDefaults(QByteArray defaults, const std::array<int, 4> &current)
{
    // The General tab offers every access mode but INTR as a default.
    const int listSizes[4] = {int(VmeModeWord::addressModeLabels().size()), VmeModeWord::IntrAccessIndex,
                              int(VmeModeWord::dataModeLabels().size()),
                              int(VmeModeWord::readWriteLabels().size())};
    for (int i = 0; i < 4 && i < defaults.size(); ++i) {
        const int index = qint8(defaults.at(i));
        if (index < 0 || index >= listSizes[i])
            defaults[i] = char(current[size_t(i)]);
    }
    return defaults;
}

QString readWhole(const QByteArray &bytes, const QString &fileName, ModuleMemory &memory,
                  QList<QByteArray> &defaults, Table &table)
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    try {
        readRecords(
            buffer, memory, defaults, [&](QByteArray &out, int n) { dataRead(buffer, out, n, fileName); }, fileName);
    } catch (const QString &failure) {
        return failure;
    }
    table = rebuild(memory, nullptr);
    return table.ok() ? QString() : unreadableText(fileName, table.refused);
}

QString programName(const VmeProgram &program)
{
    if (program.number == 0)
        return QStringLiteral("Polling");
    if (program.number < 0)
        return QStringLiteral("Interrupt%1").arg(-program.number);
    if (program.number == VmeProgram::DefaultVectorNumber)
        return QStringLiteral("Vector(default)");
    return QStringLiteral("Vector%1").arg(program.number - 1);
}

Table rebuild(const ModuleMemory &memory, ProgramHost *host)
{
    Table table;
    std::unique_ptr<VmeProgram> polling;
    std::vector<std::unique_ptr<VmeProgram>> vectors;
    std::vector<std::unique_ptr<VmeProgram>> defaultPrograms;
    std::vector<std::unique_ptr<VmeProgram>> interrupts;
    std::vector<const VmeProgram *> parsed;  // whose IDs are marked, in the order read

    // Reads count records at pos. A record that lies outside the image, or whose access
    // code the mode word does not define (it would be written back as an interrupt
    // acknowledge), refuses the program: nothing of the file reaches the table.
    const auto read = [&](int pos, int count, int number) -> std::unique_ptr<VmeProgram> {
        int left = count;
        auto program = std::make_unique<VmeProgram>(memory.image, left, pos, nullptr);
        program->number = number;
        bool readable = left == 0;
        for (const VmeInstruction *ins : program->instructions)
            readable = readable && ins->accessMode >= 0;
        if (!readable) {
            table.refused = programName(*program);
            return nullptr;
        }
        parsed.push_back(program.get());
        return program;
    };
    const QByteArray &starts = memory.startTable;
    const QByteArray &counts = memory.countTable;

    if (memory.events & 1) {
        polling = read(8 * byteAt(starts, 0), byteAt(counts, 0) + 1, 0);
        if (!polling)
            return table;
        polling->level = memory.pollLevel;
        polling->data = memory.interval;
    }

    for (int level = 1; level <= 7; ++level) {
        const int start = 8 * byteAt(starts, level);
        const int count = byteAt(counts, level);
        if (count == 0 && VmeProgram::checkINTR(unsigned(level), memory.image.mid(start))) {
            interrupts.push_back(std::make_unique<VmeProgram>(unsigned(level)));
            continue;
        }
        auto program = read(start, count + 1, -level);
        if (!program)
            return table;
        program->level = level;
        interrupts.push_back(std::move(program));
    }

    const QByteArray &entries = memory.vectorTable;
    for (int v = 0; v < 256; ++v) {
        const int count = byteAt(entries, 4 * v) + 1;
        const int offset = byteAt(entries, 4 * v + 1) * 256 + byteAt(entries, 4 * v + 2);
        const bool toDefault = byteAt(entries, 4 * v + 3) == 0xFF;

        // Vectors whose entries point at one program share it.
        VmeProgram *same = nullptr;
        for (const auto *list : {&vectors, &defaultPrograms})
            for (const auto &program : *list)
                if (program->imageOffset == offset)
                    same = program.get();
        if (same) {
            if (same->number != VmeProgram::DefaultVectorNumber)
                same->data.append(char(v));
            continue;
        }

        auto program = read(offset, count, toDefault ? VmeProgram::DefaultVectorNumber : v + 1);
        if (!program)
            return table;
        program->level = -1;
        program->imageOffset = offset;
        if (toDefault) {
            defaultPrograms.push_back(std::move(program));
        } else {
            program->data = QByteArray(1, char(v));
            vectors.push_back(std::move(program));
        }
    }

    for (const VmeProgram *program : parsed)
        for (const VmeInstruction *ins : program->instructions)
            table.ids.append(ins->id);
    if (host)
        for (quint8 id : std::as_const(table.ids))
            host->setID(id, true);
    for (const auto &program : vectors)
        for (char v : std::as_const(program->data))
            table.usedVectors.insert(quint8(v));
    if (polling)
        table.programs.push_back(std::move(polling));
    for (auto *list : {&vectors, &defaultPrograms, &interrupts})
        for (auto &program : *list)
            table.programs.push_back(std::move(program));
    return table;
}

} // namespace ProgramFile
