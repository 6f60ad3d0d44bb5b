// Program texts from untrusted bytes. Any input is refused with its place in the text, or
// built; what is built holds every program and instruction the text lists (unless a warning
// says why not), and prints as a text that builds to the very same bytes.

#include "datatext.h"
#include "fuzzcheck.h"
#include "programfile.h"
#include "programtext.h"
#include "programwarnings.h"
#include "vmeprogram.h"
#include "yamlmapping.h"

#include <yaml-cpp/yaml.h>

#include <cstddef>
#include <cstdint>
#include <algorithm>

namespace {

using YamlMapping::folded;

QString scalar(const YAML::Node &map, const char *key)
{
    const YAML::Node value = map[key];
    return value && value.IsScalar() ? QString::fromStdString(value.Scalar()) : QString();
}

// The table's program of the number a listed program takes; null when none.
const VmeProgram *find(const ProgramFile::Table &table, int number)
{
    for (const auto &p : table.programs) {
        if (p->number == number)
            return p.get();
    }
    return nullptr;
}

// The number of the program a text's entry lists (the text built, so its shape is sound).
int numberOf(const YAML::Node &entry)
{
    const QString kind = folded(scalar(entry, "program"));
    if (kind == QLatin1String("polling"))
        return 0;
    if (kind == QLatin1String("interrupt"))
        return -scalar(entry, "level").toInt();
    if (kind == QLatin1String("defaultvector"))
        return VmeProgram::DefaultVectorNumber;
    QSet<unsigned char> vectors;
    DataText::checkVectorNum(scalar(entry, "vectors"), vectors);
    return *std::min_element(vectors.cbegin(), vectors.cend()) + 1;
}

// Every instruction the entry lists is the built program's, in order: count, ID and address.
void checkListed(const YAML::Node &entry, const VmeProgram &built)
{
    const YAML::Node list = entry["instructions"];
    if (!list || !list.IsSequence()) {
        FUZZ_CHECK(built.isIntrOnly());
        return;
    }
    FUZZ_CHECK(qsizetype(list.size()) == built.instructions.size() || (list.size() == 1 && built.isIntrOnly()));
    for (std::size_t k = 0; k < list.size() && qsizetype(k) < built.instructions.size(); ++k) {
        const VmeInstruction &ins = *built.instructions.at(qsizetype(k));
        if (!list[k].IsMap()) {  // the acknowledge
            FUZZ_CHECK(ins.id == 0 && ins.address == quint32(2 * built.level));
            continue;
        }
        FUZZ_CHECK(!built.isIntrOnly() || folded(scalar(list[k], "access mode")) == QLatin1String("intr"));
        unsigned char id = 0;
        unsigned int address = 0;
        FUZZ_CHECK(DataText::checkUChar(scalar(list[k], "id"), id, 255) && id == ins.id);
        FUZZ_CHECK(DataText::checkUInt32(scalar(list[k], "address"), address) && address == ins.address);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    QByteArray built = "untouched";
    QList<ProgramWarnings::Warning> warnings;
    if (const auto fault = ProgramText::build(text, built, &warnings)) {
        FUZZ_CHECK(built == "untouched");
        FUZZ_CHECK(!fault->message.isEmpty());
        FUZZ_CHECK((fault->line >= 1 && fault->column >= 1) || fault->message.contains(QLatin1String("bytes")));
        return 0;
    }

    // Fidelity: the table read back from the file holds each listed program with its
    // instructions. A default vector program may be left out only with its warning.
    ModuleMemory memory;
    QList<QByteArray> handed;
    ProgramFile::Table table;
    FUZZ_CHECK(ProgramFile::readWhole(built, QStringLiteral("f"), memory, handed, table).isEmpty());
    bool defaultVectorDropped = false;
    for (const ProgramWarnings::Warning &w : std::as_const(warnings))
        defaultVectorDropped = defaultVectorDropped || w.message.contains(QLatin1String("default vector program is left"));
    // Every document the bytes hold: a program listed after the first must not vanish either.
    std::size_t listed = 0;
    for (const YAML::Node &root : YAML::LoadAll(text.toStdString())) {
        const YAML::Node programs = root.IsMap() ? root["programs"] : YAML::Node();
        for (std::size_t i = 0; programs && programs.IsSequence() && i < programs.size(); ++i, ++listed) {
            const int number = numberOf(programs[i]);
            const VmeProgram *p = find(table, number);
            FUZZ_CHECK(p || (number == VmeProgram::DefaultVectorNumber && defaultVectorDropped));
            if (p)
                checkListed(programs[i], *p);
        }
    }
    FUZZ_CHECK(table.programs.size() + (defaultVectorDropped ? 1 : 0) >= listed);

    // The print is the same table: it builds to the same bytes, and prints unchanged.
    QString printed, error;
    FUZZ_CHECK(ProgramText::print(built, QStringLiteral("f"), printed, error));
    QByteArray again;
    FUZZ_CHECK(!ProgramText::build(printed.toUtf8(), again));
    FUZZ_CHECK(again == built);
    QString reprinted;
    FUZZ_CHECK(ProgramText::print(again, QStringLiteral("f"), reprinted, error));
    FUZZ_CHECK(reprinted == printed);
    return 0;
}
