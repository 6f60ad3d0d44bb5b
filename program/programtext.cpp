#include "programtext.h"

#include "datatext.h"
#include "modeword.h"
#include "programbook.h"
#include "programcheck.h"
#include "programfile.h"
#include "programhost.h"
#include "programlayout.h"
#include "programwarnings.h"
#include "yamlmapping.h"
#include "vmeprogram.h"

#include <QHash>
#include <QRegularExpression>

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace ProgramText {

namespace {

using ProgramCheck::Column;

// The General tab's values at start, for a file without settings records.
constexpr std::array<int, 4> StartDefaults = {1, 0, 0, 0};
constexpr int StartMinID = 128;
constexpr int StartMaxID = 255;

// Keys of an instruction, in printing order, with the editor's column they fill.
struct Key
{
    const char *name;
    Column column;
};
constexpr Key InstructionKeys[] = {
    {"id", ProgramCheck::IdColumn},
    {"address", ProgramCheck::AddressColumn},
    {"read/write", ProgramCheck::ReadWriteColumn},
    {"data mode", ProgramCheck::DataModeColumn},
    {"length", ProgramCheck::LengthColumn},
    {"data", ProgramCheck::DataColumn},
    {"access mode", ProgramCheck::AccessModeColumn},
    {"address mode", ProgramCheck::AddressModeColumn},
};

const char *const DefaultKeys[] = {"address mode", "access mode", "data mode", "read/write"};

QStringList defaultLabels(int i)
{
    switch (i) {
    case 0:
        return VmeModeWord::addressModeLabels();
    case 1:
        // The General tab offers every access mode but INTR as a default.
        return VmeModeWord::accessModeLabels().mid(0, VmeModeWord::IntrAccessIndex);
    case 2:
        return VmeModeWord::dataModeLabels();
    default:
        return VmeModeWord::readWriteLabels();
    }
}

QString eventName(int row)
{
    return row == 0 ? QStringLiteral("Polling") : QStringLiteral("Interrupt%1").arg(row);
}

// ---------------------------------------------------------------- reading

using YamlMapping::choiceOf;
using YamlMapping::Entries;
using YamlMapping::Entry;
using YamlMapping::entriesOf;
using YamlMapping::folded;
using YamlMapping::fromStd;
using YamlMapping::matchChoice;
using YamlMapping::refuse;
using YamlMapping::refuseChoice;
using YamlMapping::scalarOf;

int numberOf(const Entry &entry, const QString &name, int low, int high)
{
    bool ok = false;
    const int value = scalarOf(entry, name).toInt(&ok, 10);
    if (!ok || value < low || value > high)
        refuse(entry.mark(), QStringLiteral("\"%1\" is a number from %2 to %3").arg(name).arg(low).arg(high));
    return value;
}

// The table the text builds, answering the editor's questions as the main window does.
class TextHost : public ProgramHost
{
public:
    std::array<int, 4> defaults = StartDefaults;
    unsigned char low = StartMinID;
    unsigned char high = StartMaxID;
    ProgramBook book{[this](unsigned char &l, unsigned char &h) {
        l = low;
        h = high;
    }};
    std::vector<std::unique_ptr<VmeProgram>> owned;
    QList<VmeProgram *> programs;   // table order

    // Where each program and each instruction's cells stand in the text, for the warnings.
    struct Marks
    {
        YAML::Mark program;
        QList<std::array<YAML::Mark, ProgramCheck::ColumnCount>> cells;
    };
    QHash<const VmeProgram *, Marks> marks;
    YAML::Mark eventsMark = YAML::Mark::null_mark();
    QList<ProgramWarnings::Warning> textWarnings;  // what only the text shows

    void warn(const YAML::Mark &mark, const QString &message)
    {
        ProgramWarnings::Warning w;
        w.line = mark.line + 1;
        w.column = mark.column + 1;
        w.message = message;
        textWarnings.append(w);
    }

    int addressMode() override { return defaults[0]; }
    int accessMode() override { return defaults[1]; }
    int dataMode() override { return defaults[2]; }
    int readWrite() override { return defaults[3]; }
    bool checkInteractiveID(unsigned char id, unsigned char *min, unsigned char *max) override
    {
        return book.checkInteractiveID(id, min, max);
    }
    bool checkID(unsigned char id) override { return book.checkID(id); }
    bool getFreeID(unsigned char &id) override { return book.getFreeID(id); }
    bool setID(unsigned char id, bool used) override { return book.setID(id, used); }
    bool checkVectorID(int number) override { return book.checkVectorID(number, programs); }
    bool pollingPresent() override { return book.pollingPresent(); }
    void setPollingPresent(bool present) override { book.setPollingPresent(present); }

    void insert(std::unique_ptr<VmeProgram> program)
    {
        book.addVector(program.get());
        programs.insert(ProgramBook::insertPosition(programs, program.get()), program.get());
        owned.push_back(std::move(program));
    }
};

void readSettings(const Entries &top, TextHost &host, quint8 &events)
{
    if (top.contains(QStringLiteral("defaults"))) {
        const Entry &e = top.value(QStringLiteral("defaults"));
        QStringList keys;
        for (const char *k : DefaultKeys)
            keys << QLatin1String(k);
        const Entries d = entriesOf(e.value, e.mark(), keys, QStringLiteral("defaults"));
        for (int i = 0; i < 4; ++i) {
            if (d.contains(keys.at(i)))
                host.defaults[size_t(i)] = choiceOf(d.value(keys.at(i)), keys.at(i), defaultLabels(i));
        }
    }
    if (top.contains(QStringLiteral("interactive ids"))) {
        const Entry &e = top.value(QStringLiteral("interactive ids"));
        static const QRegularExpression range(QStringLiteral("^\\s*(\\d{1,3})\\s*-\\s*(\\d{1,3})\\s*$"));
        const QRegularExpressionMatch m = range.match(scalarOf(e, QStringLiteral("interactive ids")));
        const int low = m.hasMatch() ? m.captured(1).toInt() : -1;
        const int high = m.hasMatch() ? m.captured(2).toInt() : -1;
        if (low < 0 || low > high || high > 255)
            refuse(e.mark(), QStringLiteral("\"interactive ids\" is a range first-last of IDs 0 to 255, "
                                            "first not above last"));
        host.low = quint8(low);
        host.high = quint8(high);
    }
    events = 0;
    if (top.contains(QStringLiteral("events"))) {
        const Entry &e = top.value(QStringLiteral("events"));
        if (!e.value.IsSequence() && !e.value.IsNull())
            refuse(e.mark(), QStringLiteral("\"events\" is a list such as [Polling, Interrupt3]"));
        host.eventsMark = e.mark();
        QStringList names;
        for (int row = 0; row < 8; ++row)
            names << eventName(row);
        for (const YAML::Node &item : e.value) {
            const int row = item.IsScalar() ? matchChoice(fromStd(item.Scalar()), names) : -1;
            if (row < 0)
                refuseChoice(item.Mark(), QStringLiteral("event"), item.IsScalar() ? fromStd(item.Scalar()) : QString(),
                             names);
            events |= quint8(1u << row);
        }
    }
}

// The editor's INTR row of an interrupt level: the acknowledge that reads the interrupt's
// vector, after which the module runs the vector's program.
ProgramCheck::Row acknowledgeRow(int level)
{
    ProgramCheck::Row row;
    row[ProgramCheck::IdColumn] = QStringLiteral("0");
    row[ProgramCheck::AddressColumn] = QStringLiteral("0x%1").arg(2 * level, 8, 16, QLatin1Char('0'));
    row[ProgramCheck::ReadWriteColumn] = QStringLiteral("Read(No Echo)");
    row[ProgramCheck::DataModeColumn] = QStringLiteral("D32");
    row[ProgramCheck::LengthColumn] = QStringLiteral("1");
    row[ProgramCheck::AccessModeColumn] = VmeModeWord::accessModeLabels().at(VmeModeWord::IntrAccessIndex);
    row[ProgramCheck::AddressModeColumn] = QStringLiteral("A16");
    return row;
}

// An instruction as written, completed for the editor's checks: choices spelled as the editor
// lists them, what is left out taken from the text's defaults (length 1), the address read
// as the editor reads it. Refuses what the editor's messages would not explain.
void completeRow(ProgramCheck::Row &row, const std::array<YAML::Mark, ProgramCheck::ColumnCount> &at,
                 const YAML::Mark &itemMark, TextHost &host)
{
    using namespace ProgramCheck;
    for (const Column c : {IdColumn, AddressColumn}) {
        if (!row[c])
            refuse(itemMark, c == IdColumn ? QStringLiteral("an instruction needs \"id\" (0 to 255; it names the "
                                                            "instruction's reports)")
                                           : QStringLiteral("an instruction needs \"address\""));
    }
    struct Choice
    {
        Column column;
        const char *name;
        QStringList labels;
        int defaultIndex;
    };
    const Choice choices[] = {
        {AddressModeColumn, "address mode", VmeModeWord::addressModeLabels(), 0},
        {AccessModeColumn, "access mode", VmeModeWord::accessModeLabels(), 1},
        {DataModeColumn, "data mode", VmeModeWord::dataModeLabels(), 2},
        {ReadWriteColumn, "read/write", VmeModeWord::readWriteLabels(), 3},
    };
    for (const Choice &c : choices) {
        if (row[c.column]) {
            const int index = matchChoice(*row[c.column], c.labels);
            if (index < 0)
                refuseChoice(at[c.column], QLatin1String(c.name), *row[c.column], c.labels);
            row[c.column] = c.labels.at(index);
        } else {
            const QString label = defaultLabels(c.defaultIndex).value(host.defaults[size_t(c.defaultIndex)]);
            if (!label.isEmpty())
                row[c.column] = label;
        }
    }
    if (!row[LengthColumn])
        row[LengthColumn] = QStringLiteral("1");

    const QString address = *row[AddressColumn];
    unsigned int value = 0;
    if (!DataText::checkUInt32(address, value))
        refuse(at[AddressColumn], QStringLiteral("address \"%1\": a hexadecimal number from 0x0 to 0xFFFFFFFF")
                                      .arg(address));
    if (!address.contains(QLatin1String("0x")) && value != 0)
        host.warn(at[AddressColumn], QStringLiteral("address \"%1\" has no \"0x\": it is read as hexadecimal, 0x%2")
                                         .arg(address.trimmed())
                                         .arg(value, 8, 16, QLatin1Char('0')));
    if (row[DataColumn] && !row[ReadWriteColumn]->contains(QLatin1String("Write")))
        host.warn(at[DataColumn], QStringLiteral("\"data\" is ignored on a read"));
}

void readProgram(const YAML::Node &node, TextHost &host)
{
    static const QStringList kinds = {QStringLiteral("polling"), QStringLiteral("vector"),
                                      QStringLiteral("default vector"), QStringLiteral("interrupt")};
    static const QList<QStringList> keysOfKind = {
        {QStringLiteral("program"), QStringLiteral("interval"), QStringLiteral("level"),
         QStringLiteral("instructions")},
        {QStringLiteral("program"), QStringLiteral("vectors"), QStringLiteral("instructions")},
        {QStringLiteral("program"), QStringLiteral("instructions")},
        {QStringLiteral("program"), QStringLiteral("level"), QStringLiteral("intr"), QStringLiteral("instructions")},
    };
    const QString what = QStringLiteral("a program");
    const QString shape = QStringLiteral("a program is a mapping that starts with \"program\": %1")
                              .arg(kinds.join(QStringLiteral(", ")));
    if (!node.IsMap())
        refuse(node.Mark(), shape);
    const Entries probe = entriesOf(node, node.Mark(), keysOfKind.at(0) + keysOfKind.at(1) + keysOfKind.at(3), what);
    if (!probe.contains(QStringLiteral("program")))
        refuse(node.Mark(), shape);
    const Entry kindEntry = probe.value(QStringLiteral("program"));
    const int kindIndex = choiceOf(kindEntry, QStringLiteral("program"), kinds);
    const Entries e = entriesOf(node, node.Mark(), keysOfKind.at(kindIndex),
                                QStringLiteral("a %1 program").arg(kinds.at(kindIndex)));

    ProgramCheck::Kind kind;
    YAML::Mark kindMark = node.Mark();  // where a fault of the kind is shown
    const auto required = [&](const QString &key) {
        if (!e.contains(key))
            refuse(node.Mark(), QStringLiteral("a %1 program needs \"%2\"").arg(kinds.at(kindIndex), key));
        return e.value(key);
    };
    switch (kindIndex) {
    case 0: {
        kind.type = ProgramCheck::Kind::Polling;
        const Entry interval = required(QStringLiteral("interval"));
        static const QRegularExpression withUnit(QStringLiteral("^\\s*(\\S+?)\\s*(usec|msec|sec|us|ms|s)\\s*$"));
        const QRegularExpressionMatch m = withUnit.match(scalarOf(interval, QStringLiteral("interval")));
        if (!m.hasMatch())
            refuse(interval.mark(), QStringLiteral("\"interval\" is a number and a unit: s, ms or us"));
        kind.interval = m.captured(1);
        const QString unit = m.captured(2);
        kind.usecPerUnit = unit.startsWith(QLatin1Char('s')) ? 1e6 : unit.startsWith(QLatin1Char('m')) ? 1e3 : 1.0;
        kind.priority = numberOf(required(QStringLiteral("level")), QStringLiteral("level"), 0, 7);
        kindMark = interval.mark();
        break;
    }
    case 1:
        kind.type = ProgramCheck::Kind::Vector;
        kindMark = required(QStringLiteral("vectors")).mark();
        kind.vectorText = scalarOf(e.value(QStringLiteral("vectors")), QStringLiteral("vectors"));
        break;
    case 2:
        kind.type = ProgramCheck::Kind::Vector;
        kind.vectorIDs = false;
        break;
    default: {
        kind.type = ProgramCheck::Kind::Interrupt;
        const Entry level = required(QStringLiteral("level"));
        kind.level = numberOf(level, QStringLiteral("level"), 1, 7);
        kindMark = level.mark();
        if (e.contains(QStringLiteral("intr"))) {
            kind.intr = choiceOf(e.value(QStringLiteral("intr")), QStringLiteral("intr"),
                                 {QStringLiteral("false"), QStringLiteral("true")}) == 1;
            if (kind.intr && e.contains(QStringLiteral("instructions")))
                refuse(e.value(QStringLiteral("instructions")).mark(),
                       QStringLiteral("an INTR program (intr: true) has no \"instructions\"; to acknowledge after "
                                      "instructions, end them with \"- acknowledge\""));
        }
        break;
    }
    }

    // The editor's rows, and where each cell stands in the text.
    QList<ProgramCheck::Row> rows;
    QList<std::array<YAML::Mark, ProgramCheck::ColumnCount>> marks;
    YAML::Mark listMark = node.Mark();
    if (e.contains(QStringLiteral("instructions"))) {
        const Entry &list = e.value(QStringLiteral("instructions"));
        listMark = list.mark();
        if (!list.value.IsSequence() && !list.value.IsNull())
            refuse(list.mark(), QStringLiteral("\"instructions\" is a list of instructions"));
        QStringList keys;
        for (const Key &k : InstructionKeys)
            keys << QLatin1String(k.name);
        for (const YAML::Node &item : list.value) {
            ProgramCheck::Row row;
            std::array<YAML::Mark, ProgramCheck::ColumnCount> at;
            at.fill(item.Mark());
            if (item.IsScalar() && folded(fromStd(item.Scalar())) == QLatin1String("acknowledge")) {
                if (kindIndex != 3)
                    refuse(item.Mark(), QStringLiteral("\"acknowledge\" belongs to an interrupt program: it takes the "
                                                       "vector of the interrupt that started it"));
                row = acknowledgeRow(kind.level);
            } else {
                if (!item.IsMap())
                    refuse(item.Mark(), QStringLiteral("an instruction is \"acknowledge\" or a mapping of %1")
                                            .arg(keys.join(QStringLiteral(", "))));
                const Entries cells = entriesOf(item, list.mark(), keys, QStringLiteral("an instruction"));
                for (const Key &k : InstructionKeys) {
                    const QString name = QLatin1String(k.name);
                    if (cells.contains(name)) {
                        row[k.column] = scalarOf(cells.value(name), name);
                        at[k.column] = cells.value(name).mark();
                    }
                }
                completeRow(row, at, item.Mark(), host);
            }
            rows.append(row);
            marks.append(at);
        }
    }

    ProgramCheck::Fields fields;
    if (const auto refusal = ProgramCheck::validate(rows, kind, 1, host, fields)) {
        if (refusal->row >= 0)
            refuse(marks.at(refusal->row)[size_t(refusal->column)], refusal->message);
        const QString &m = refusal->message;
        refuse(m.startsWith(QStringLiteral("Please set at least")) ? listMark
               : m.contains(QStringLiteral("is set already")) && kindIndex != 1 ? kindEntry.mark()
                                                                                : kindMark,
               m);
    }
    auto program = std::make_unique<VmeProgram>();
    program->number = 1;  // a new program, as the table's add button makes it
    ProgramCheck::commit(fields, *program, host);
    host.marks.insert(program.get(), TextHost::Marks{node.Mark(), marks});
    host.insert(std::move(program));
}

// Where a second document begins: its "---" or the "..." that ended the first, on the last
// such line up to the second document's first node.
YAML::Mark secondDocumentMark(const QByteArray &text, const YAML::Mark &second)
{
    const QList<QByteArray> lines = text.split('\n');
    static const QRegularExpression marker(QStringLiteral("^(---|\\.\\.\\.)(\\s|$)"));
    for (int line = qMin(second.line, int(lines.size()) - 1); line >= 0; --line) {
        if (marker.match(QString::fromUtf8(lines.at(line))).hasMatch()) {
            YAML::Mark mark;
            mark.line = line;
            mark.column = 0;
            return mark;
        }
    }
    return second;
}

// ---------------------------------------------------------------- printing

// What the print takes from the file besides its table.
struct PrintSettings
{
    QStringList defaultLabels;  // the four defaults' texts; empty where the file's index has none
    quint8 events = 0;
    QByteArray startTable;
};

// What the print may leave out, for the build to add again.
struct Shortening
{
    bool defaultVector = false;  // the default vector program as the layout adds it
    bool intr = false;           // INTR-only programs the layout lays by itself
};

bool isAcknowledgeOf(const VmeInstruction &ins, int level)
{
    return ins.accessMode == VmeModeWord::IntrAccessIndex && ins.address == quint32(2 * level) && ins.id == 0 &&
           ins.read && ins.noEcho && ins.dataMode == 2 && ins.addressMode == 0 && ins.length == 1;
}

// One instruction as a flow mapping; what equals the defaults (and a length of 1) is left out.
QString instructionMap(const VmeInstruction &ins, const PrintSettings &settings)
{
    QString data;
    if (!ins.read) {
        DataText::strData(ins.dataMode, ins.data, data);
        data = data.trimmed();
    }
    const QString values[] = {
        QString::number(ins.id),
        QStringLiteral("0x%1").arg(ins.address, 8, 16, QLatin1Char('0')),
        ins.readWriteText(),
        VmeModeWord::dataModeLabels().value(ins.dataMode),
        QString::number(ins.length),
        data,
        VmeModeWord::accessModeLabels().value(ins.accessMode),
        VmeModeWord::addressModeLabels().value(ins.addressMode),
    };
    const auto defaultOf = [&settings](Column c) {
        switch (c) {
        case ProgramCheck::AddressModeColumn:
            return settings.defaultLabels.value(0);
        case ProgramCheck::AccessModeColumn:
            return settings.defaultLabels.value(1);
        case ProgramCheck::DataModeColumn:
            return settings.defaultLabels.value(2);
        case ProgramCheck::ReadWriteColumn:
            return settings.defaultLabels.value(3);
        case ProgramCheck::LengthColumn:
            return QStringLiteral("1");
        default:
            return QString();
        }
    };
    QStringList pairs;
    for (const Key &k : InstructionKeys) {
        // A cell the editor would show empty is left out; reading it back refuses it as the
        // editor does.
        const QString &value = values[k.column];
        if (!value.isEmpty() && value != defaultOf(k.column))
            pairs << QStringLiteral("%1: %2").arg(QLatin1String(k.name), value);
    }
    return QStringLiteral("{%1}").arg(pairs.join(QStringLiteral(", ")));
}

// A vector program's vectors as an operator writes them: hexadecimal, runs as first-last.
QString vectorList(const QByteArray &vectors)
{
    QList<int> sorted;
    for (const char v : vectors)
        sorted << int(quint8(v));
    std::sort(sorted.begin(), sorted.end());
    const auto hex = [](int v) { return QStringLiteral("0x%1").arg(v, 2, 16, QLatin1Char('0')); };
    QStringList runs;
    for (int i = 0; i < sorted.size();) {
        int j = i;
        while (j + 1 < sorted.size() && sorted.at(j + 1) == sorted.at(j) + 1)
            ++j;
        runs << (j == i ? hex(sorted.at(i)) : hex(sorted.at(i)) + QLatin1Char('-') + hex(sorted.at(j)));
        i = j + 1;
    }
    return runs.join(QLatin1Char(','));
}

QString intervalText(quint32 micros)
{
    if (micros != 0 && micros % 1000000 == 0)
        return QStringLiteral("%1 s").arg(micros / 1000000);
    if (micros != 0 && micros % 1000 == 0)
        return QStringLiteral("%1 ms").arg(micros / 1000);
    return QStringLiteral("%1 us").arg(micros);
}

QString programText(const VmeProgram &p, const PrintSettings &settings)
{
    QString out;
    if (p.number < 0 && p.isIntrOnly())
        return QStringLiteral("  - {program: interrupt, level: %1, intr: true}\n").arg(p.level);
    if (p.number == VmeProgram::DefaultVectorNumber && p.instructions.size() == 1)
        return QStringLiteral("  - {program: default vector, instructions: [%1]}\n")
            .arg(instructionMap(*p.instructions.first(), settings));
    if (p.number == 0) {
        out = QStringLiteral("  - program: polling\n    interval: %1\n    level: %2\n")
                  .arg(intervalText(VmeProgram::fromByteArray(p.data)))
                  .arg(p.level);
    } else if (p.number < 0) {
        out = QStringLiteral("  - program: interrupt\n    level: %1\n").arg(p.level);
    } else if (p.number == VmeProgram::DefaultVectorNumber) {
        out = QStringLiteral("  - program: default vector\n");
    } else {
        out = QStringLiteral("  - program: vector\n    vectors: %1\n").arg(vectorList(p.data));
    }
    out += QStringLiteral("    instructions:\n");
    for (const VmeInstruction *ins : p.instructions) {
        if (p.number < 0 && isAcknowledgeOf(*ins, p.level))
            out += QStringLiteral("      - acknowledge\n");
        else
            out += QStringLiteral("      - %1\n").arg(instructionMap(*ins, settings));
    }
    return out;
}

// The default vector program a build adds by itself when the text has none: a D8 read of
// address 0, no items, in the default address and access mode.
bool isAddedDefaultVector(const VmeProgram &p, const PrintSettings &settings)
{
    if (p.number != VmeProgram::DefaultVectorNumber || p.instructions.size() != 1)
        return false;
    const VmeInstruction &ins = *p.instructions.first();
    return ins.address == 0 && ins.read && !ins.echo && !ins.noEcho && ins.dataMode == 0 && ins.length == 0 &&
           VmeModeWord::addressModeLabels().value(ins.addressMode) == settings.defaultLabels.value(0) &&
           VmeModeWord::accessModeLabels().value(ins.accessMode) == settings.defaultLabels.value(1);
}

// How each interrupt level prints when INTR-only programs may be left out. A build lays the
// INTR records of the levels listed or among the events first, in level order, then those of
// the other levels: the order of the records in the image tells which were listed. A level
// whose record lies before a real interrupt program was an interrupt program of a single
// acknowledge.
enum class LevelPrint { AsIs, Omitted, ShortLine, Acknowledge };
std::array<LevelPrint, 8> levelPrints(const QList<const VmeProgram *> &interrupts, const PrintSettings &settings)
{
    std::array<LevelPrint, 8> out;
    out.fill(LevelPrint::AsIs);
    const auto start = [&settings](int level) { return level < settings.startTable.size() ? int(quint8(settings.startTable.at(level))) : 0; };
    int lastReal = -1;
    QList<int> intrOnly;
    for (const VmeProgram *p : interrupts) {
        if (p->isIntrOnly())
            intrOnly << p->level;
        else
            lastReal = std::max(lastReal, start(p->level));
    }
    QList<int> order;
    for (int level : std::as_const(intrOnly)) {
        if (start(level) < lastReal)
            out[size_t(level)] = LevelPrint::Acknowledge;
        else
            order << level;
    }
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return start(a) < start(b); });
    // The fewest listed levels that lay the records in this order: the first run ascending and
    // holding every level among the events, the rest ascending.
    const auto ascending = [&order](int from, int to) {
        for (int i = from + 1; i < to; ++i) {
            if (order.at(i - 1) > order.at(i))
                return false;
        }
        return true;
    };
    int split = int(order.size());
    for (int j = 0; j <= order.size(); ++j) {
        bool eventsFirst = true;
        for (int i = j; i < order.size(); ++i)
            eventsFirst = eventsFirst && !(settings.events & (1u << order.at(i)));
        if (eventsFirst && ascending(0, j) && ascending(j, int(order.size()))) {
            split = j;
            break;
        }
    }
    for (int i = 0; i < order.size(); ++i) {
        const int level = order.at(i);
        out[size_t(level)] = i < split && !(settings.events & (1u << level)) ? LevelPrint::ShortLine : LevelPrint::Omitted;
    }
    return out;
}

QString programsText(const ProgramFile::Table &table, const PrintSettings &settings, Shortening shortening)
{
    QList<const VmeProgram *> interrupts;
    for (const auto &program : table.programs) {
        if (program->number < 0)
            interrupts << program.get();
    }
    std::array<LevelPrint, 8> levels;
    levels.fill(LevelPrint::AsIs);
    if (shortening.intr)
        levels = levelPrints(interrupts, settings);
    QString out;
    for (const auto &program : table.programs) {
        const VmeProgram &p = *program;
        if (shortening.defaultVector && isAddedDefaultVector(p, settings))
            continue;
        if (p.number < 0 && p.number >= -7 && p.isIntrOnly()) {
            const LevelPrint how = levels[size_t(p.level)];
            if (how == LevelPrint::Omitted)
                continue;
            if (how == LevelPrint::Acknowledge) {
                out += QStringLiteral("  - {program: interrupt, level: %1, instructions: [acknowledge]}\n").arg(p.level);
                continue;
            }
        }
        out += programText(p, settings);
    }
    return out.isEmpty() ? QStringLiteral("programs: []\n") : QStringLiteral("programs:\n") + out;
}

// The table's warnings at their places in the text, with what only the text shows, in text order.
QList<ProgramWarnings::Warning> placedWarnings(const TextHost &host, quint8 events)
{
    using ProgramWarnings::Warning;
    QList<Warning> out = host.textWarnings;
    for (Warning w : ProgramWarnings::check(host.programs, events, host.low, host.high)) {
        const TextHost::Marks marks = host.marks.value(host.programs.value(w.program));
        YAML::Mark mark = marks.program;
        if (w.place == Warning::OnEvents && host.eventsMark.line >= 0)
            mark = host.eventsMark;
        if (w.instruction >= 0 && w.instruction < marks.cells.size())
            mark = marks.cells.at(w.instruction)[w.place == Warning::OnId     ? ProgramCheck::IdColumn
                                                 : w.place == Warning::OnData ? ProgramCheck::DataColumn
                                                                              : ProgramCheck::AddressColumn];
        w.line = mark.line + 1;
        w.column = mark.column + 1;
        out.append(w);
    }
    std::stable_sort(out.begin(), out.end(), [](const Warning &a, const Warning &b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    return out;
}

} // namespace

QString Fault::text() const
{
    return line > 0 ? QStringLiteral("%1:%2: %3").arg(line).arg(column).arg(message) : message;
}

bool isText(const QByteArray &head)
{
    return !head.isEmpty() && !head.contains('\0') && !head.contains('\xFF');
}

std::optional<Fault> build(const QByteArray &text, QByteArray &file, QList<ProgramWarnings::Warning> *warnings)
{
    TextHost host;
    quint8 events = 0;
    if (text.size() > MaxTextSize) {
        Fault f;
        f.message = QStringLiteral("the text holds %1 bytes, more than the %2 a program text may hold")
                        .arg(text.size())
                        .arg(MaxTextSize);
        return f;
    }
    try {
        const std::vector<YAML::Node> documents = YAML::LoadAll(text.toStdString());
        if (documents.size() > 1)
            refuse(secondDocumentMark(text, documents.at(1).Mark()),
                   QStringLiteral("a program text is one document: nothing may follow its end (\"...\" or "
                                  "a second \"---\")"));
        const YAML::Node root = documents.empty() ? YAML::Node() : documents.front();
        const Entries top = entriesOf(root, YAML::Mark(), {QStringLiteral("defaults"), QStringLiteral("interactive ids"),
                                                           QStringLiteral("events"), QStringLiteral("programs")},
                                      QStringLiteral("a program text"));
        readSettings(top, host, events);
        YAML::Mark programsMark = root.Mark();
        if (top.contains(QStringLiteral("programs"))) {
            const Entry &list = top.value(QStringLiteral("programs"));
            programsMark = list.mark();
            if (!list.value.IsSequence() && !list.value.IsNull())
                refuse(list.mark(), QStringLiteral("\"programs\" is a list of programs"));
            for (const YAML::Node &node : list.value)
                readProgram(node, host);
        }

        ModuleMemory memory;
        ProgramLayout::Result laid = ProgramLayout(&host).lay(host.programs, events, memory);
        for (VmeProgram *added : laid.added)
            host.owned.emplace_back(added);
        if (!laid.ok()) {
            const bool onEvents = laid.outcome == ProgramLayout::PollingMissing && top.contains(QStringLiteral("events"));
            refuse(onEvents ? top.value(QStringLiteral("events")).mark() : programsMark, laid.message);
        }
        file = ProgramFile::encode(memory, host.defaults, events, host.low, host.high);
        if (warnings)
            *warnings = placedWarnings(host, events);
        return std::nullopt;
    } catch (const YamlMapping::Refusal &r) {
        Fault f;
        if (r.mark.line >= 0) {
            f.line = r.mark.line + 1;
            f.column = r.mark.column + 1;
        }
        f.message = r.message;
        return f;
    } catch (const YAML::Exception &e) {
        Fault f;
        if (e.mark.line >= 0) {
            f.line = e.mark.line + 1;
            f.column = e.mark.column + 1;
        }
        f.message = fromStd(e.msg);
        return f;
    }
}

bool print(const QByteArray &file, const QString &fileName, QString &text, QString &error)
{
    ModuleMemory memory;
    QList<QByteArray> handed;
    ProgramFile::Table table;
    error = ProgramFile::readWhole(file, fileName, memory, handed, table);
    if (!error.isEmpty())
        return false;

    // The General tab takes the last settings the file hands it; without any it keeps its own.
    const QByteArray settingsRecord = handed.isEmpty() ? QByteArray() : handed.last();
    PrintSettings settings;
    settings.events = memory.savedEnable;
    settings.startTable = memory.startTable;
    QStringList defaults;
    for (int i = 0; i < 4; ++i) {
        const int index = settingsRecord.size() > 5 ? int(qint8(settingsRecord.at(i))) : StartDefaults[size_t(i)];
        const QString label = defaultLabels(i).value(index);
        settings.defaultLabels << label;
        defaults << QStringLiteral("%1: %2").arg(QLatin1String(DefaultKeys[i]),
                                                 label.isEmpty() ? QString::number(index) : label);
    }
    const int low = settingsRecord.size() > 5 ? int(quint8(settingsRecord.at(4))) : StartMinID;
    const int high = settingsRecord.size() > 5 ? int(quint8(settingsRecord.at(5))) : StartMaxID;
    QStringList events;
    for (int row = 0; row < 8; ++row) {
        if (memory.savedEnable & (1u << row))
            events << eventName(row);
    }
    const QString head = QStringLiteral("defaults: {%1}\ninteractive ids: %2-%3\nevents: [%4]\n")
                             .arg(defaults.join(QStringLiteral(", ")))
                             .arg(low)
                             .arg(high)
                             .arg(events.join(QStringLiteral(", ")));

    // The shortest print that builds to these very bytes: what the build adds by itself is left
    // out where adding it again gives the same file, else printed in full.
    const Shortening tries[] = {{true, true}, {false, true}, {true, false}};
    for (const Shortening &shortening : tries) {
        const QString candidate = head + programsText(table, settings, shortening);
        QByteArray again;
        if (!build(candidate.toUtf8(), again) && again == file) {
            text = candidate;
            return true;
        }
    }
    text = head + programsText(table, settings, Shortening{});
    return true;
}

} // namespace ProgramText
