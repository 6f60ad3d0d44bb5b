// Program files from untrusted bytes: the record reader, then the rebuild of the program
// table from what was read. Input: the file's bytes.

#include "../support/fakehost.h"
#include "fuzzcheck.h"
#include "programfile.h"
#include "vmeprogram.h"

#include <QBuffer>
#include <QList>

#include <cstddef>
#include <cstdint>

namespace {

bool sameMemory(const ModuleMemory &a, const ModuleMemory &b)
{
    return a.events == b.events && a.pollLevel == b.pollLevel && a.interval == b.interval &&
           a.startTable == b.startTable && a.countTable == b.countTable && a.vectorTable == b.vectorTable &&
           a.image == b.image;
}

// Table order: polling, vector programs by first vector, default ones, levels 1 to 7.
int rank(const VmeProgram &program)
{
    return program.number >= 0 ? program.number : 1000 - program.number;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const QString name = QStringLiteral("f");
    ModuleMemory memory;
    QList<QByteArray> defaults;
    try {
        ProgramFile::readRecords(buffer, memory, defaults, [&](QByteArray &out, int n) {
            ProgramFile::dataRead(buffer, out, n, name);
        });
    } catch (const QString &text) {
        // A QBuffer has no file name; the exact reads carry the one given.
        FUZZ_CHECK(text.startsWith(QStringLiteral("\"f\": Can't read\n")) ||
                   text.startsWith(QStringLiteral("\"\": Can't read\n")));
        return 0;
    }
    FUZZ_CHECK(memory.interval.size() == 4 && memory.startTable.size() == 8 && memory.countTable.size() == 8);
    FUZZ_CHECK(memory.vectorTable.size() == ModuleMemory::VectorTableSize);
    for (const QByteArray &handed : defaults) {
        const QByteArray kept = ProgramFile::keepValidDefaults(handed, {0, 0, 0, 0});
        FUZZ_CHECK(kept.size() == handed.size());
        for (int i = 0; i < 4 && i < kept.size(); ++i)
            FUZZ_CHECK(qint8(kept.at(i)) >= 0 && qint8(kept.at(i)) < (i == 1 ? 10 : i == 3 ? 5 : 3));
    }

    // What was read is saved and read back unchanged (an empty image is saved without a record,
    // and a file without one is refused).
    QByteArray saved = ProgramFile::encode(memory, {1, 2, 3, 4}, 0xFF, 5, 6);
    QBuffer again(&saved);
    again.open(QIODevice::ReadOnly);
    ModuleMemory reread;
    QList<QByteArray> rereadDefaults;
    if (!memory.image.isEmpty()) {
        ProgramFile::readRecords(again, reread, rereadDefaults, [&](QByteArray &out, int n) {
            ProgramFile::dataRead(again, out, n, name);
        });
        FUZZ_CHECK(again.atEnd());
        FUZZ_CHECK(sameMemory(memory, reread) && reread.savedEnable == memory.events);
        FUZZ_CHECK(rereadDefaults == QList<QByteArray>{QByteArray::fromHex("010203040506")});
    }

    FakeHost host;
    const ProgramFile::Table table = ProgramFile::rebuild(memory, &host);
    if (!table.ok()) {
        FUZZ_CHECK(table.programs.empty() && host.marked.isEmpty());
        return 0;
    }
    int instructions = 0;
    int vectorsServed = 0;
    int previous = -1;
    for (const auto &program : table.programs) {
        FUZZ_CHECK(rank(*program) >= previous);
        previous = rank(*program);
        FUZZ_CHECK(!program->instructions.isEmpty());
        if (program->isIntrOnly())
            continue;
        instructions += int(program->instructions.size());
        for (const VmeInstruction *ins : program->instructions)
            FUZZ_CHECK(ins->accessMode >= 0);
        if (program->number >= 1 && program->number <= 256) {
            FUZZ_CHECK(quint8(program->data.at(0)) == program->number - 1);
            vectorsServed += int(program->data.size());
        }
    }
    FUZZ_CHECK(vectorsServed == int(table.usedVectors.size()));
    FUZZ_CHECK(host.marked.size() == instructions);
    return 0;
}
