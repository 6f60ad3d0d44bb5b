#include "programtext.h"

#include "datatext.h"
#include "modeword.h"
#include "programbook.h"
#include "programcheck.h"
#include "programfile.h"
#include "programhost.h"
#include "programlayout.h"
#include "vmeprogram.h"

#include <QHash>
#include <QRegularExpression>

#include <yaml-cpp/yaml.h>

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

// A refusal raised while walking the text.
struct Refused
{
    Fault fault;
};

[[noreturn]] void refuse(const YAML::Mark &mark, const QString &message)
{
    Fault f;
    if (mark.line >= 0) {
        f.line = mark.line + 1;
        f.column = mark.column + 1;
    }
    f.message = message;
    throw Refused{f};
}

QString fromStd(const std::string &s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// One entry of a mapping: the key's and the value's node.
struct Entry
{
    YAML::Node key;
    YAML::Node value;
    // An empty value has no place of its own: its key stands for it.
    YAML::Mark mark() const { return value.IsNull() || value.Mark().line < 0 ? key.Mark() : value.Mark(); }
};
using Entries = QHash<QString, Entry>;

Entries entriesOf(const YAML::Node &node, const YAML::Mark &where, const QStringList &allowed, const QString &what)
{
    if (!node.IsMap())
        refuse(node.Mark().line >= 0 ? node.Mark() : where,
               QStringLiteral("%1 is a mapping of %2").arg(what, allowed.join(QStringLiteral(", "))));
    Entries entries;
    for (auto it = node.begin(); it != node.end(); ++it) {
        const YAML::Node key = it->first;
        const QString name = key.IsScalar() ? fromStd(key.Scalar()) : QString();
        if (!allowed.contains(name))
            refuse(key.Mark(), QStringLiteral("unknown key \"%1\" in %2; known: %3")
                                   .arg(name, what, allowed.join(QStringLiteral(", "))));
        if (entries.contains(name))
            refuse(key.Mark(), QStringLiteral("\"%1\" is given twice").arg(name));
        entries.insert(name, Entry{key, it->second});
    }
    return entries;
}

// The text of a single value; an empty value is an empty text.
QString scalarOf(const Entry &entry, const QString &name)
{
    if (entry.value.IsNull())
        return QString();
    if (!entry.value.IsScalar())
        refuse(entry.mark(), QStringLiteral("\"%1\" takes a single value").arg(name));
    return fromStd(entry.value.Scalar());
}

int choiceOf(const Entry &entry, const QString &name, const QStringList &choices)
{
    const int index = int(choices.indexOf(scalarOf(entry, name)));
    if (index < 0)
        refuse(entry.mark(), QStringLiteral("\"%1\" is one of: %2").arg(name, choices.join(QStringLiteral(", "))));
    return index;
}

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
        for (const YAML::Node &item : e.value) {
            int row = 0;
            while (row < 8 && !(item.IsScalar() && fromStd(item.Scalar()) == eventName(row)))
                ++row;
            if (row == 8)
                refuse(item.Mark(), QStringLiteral("an event is Polling or Interrupt1 to Interrupt7"));
            events |= quint8(1u << row);
        }
    }
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
                       QStringLiteral("an INTR program has no \"instructions\""));
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
            const Entries cells = entriesOf(item, list.mark(), keys, QStringLiteral("an instruction"));
            ProgramCheck::Row row;
            std::array<YAML::Mark, ProgramCheck::ColumnCount> at;
            at.fill(item.Mark());
            for (const Key &k : InstructionKeys) {
                const QString name = QLatin1String(k.name);
                if (cells.contains(name)) {
                    row[k.column] = scalarOf(cells.value(name), name);
                    at[k.column] = cells.value(name).mark();
                }
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

QString instructionLine(const VmeInstruction &ins)
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
    QStringList pairs;
    for (const Key &k : InstructionKeys) {
        // A cell the editor would show empty is left out; reading it back refuses it as the
        // editor does.
        if (!values[k.column].isEmpty())
            pairs << QStringLiteral("%1: %2").arg(QLatin1String(k.name), values[k.column]);
    }
    return QStringLiteral("      - {%1}\n").arg(pairs.join(QStringLiteral(", ")));
}

QString intervalText(quint32 micros)
{
    if (micros != 0 && micros % 1000000 == 0)
        return QStringLiteral("%1 s").arg(micros / 1000000);
    if (micros != 0 && micros % 1000 == 0)
        return QStringLiteral("%1 ms").arg(micros / 1000);
    return QStringLiteral("%1 us").arg(micros);
}

QString programText(const VmeProgram &p)
{
    QString out;
    if (p.number < 0 && p.isIntrOnly())
        return QStringLiteral("  - {program: interrupt, level: %1, intr: true}\n").arg(p.level);
    if (p.number == 0) {
        out = QStringLiteral("  - program: polling\n    interval: %1\n    level: %2\n")
                  .arg(intervalText(VmeProgram::fromByteArray(p.data)))
                  .arg(p.level);
    } else if (p.number < 0) {
        out = QStringLiteral("  - program: interrupt\n    level: %1\n").arg(p.level);
    } else if (p.number == VmeProgram::DefaultVectorNumber) {
        out = QStringLiteral("  - program: default vector\n");
    } else {
        out = QStringLiteral("  - program: vector\n    vectors: %1\n").arg(DataText::vectorText(p.number, p.data));
    }
    out += QStringLiteral("    instructions:\n");
    for (const VmeInstruction *ins : p.instructions)
        out += instructionLine(*ins);
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

std::optional<Fault> build(const QByteArray &text, QByteArray &file)
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
        return std::nullopt;
    } catch (const Refused &r) {
        return r.fault;
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
    const QByteArray settings = handed.isEmpty() ? QByteArray() : handed.last();
    QStringList defaults;
    for (int i = 0; i < 4; ++i) {
        const int index = settings.size() > 5 ? int(qint8(settings.at(i))) : StartDefaults[size_t(i)];
        const QString label = defaultLabels(i).value(index);
        defaults << QStringLiteral("%1: %2").arg(QLatin1String(DefaultKeys[i]),
                                                 label.isEmpty() ? QString::number(index) : label);
    }
    const int low = settings.size() > 5 ? int(quint8(settings.at(4))) : StartMinID;
    const int high = settings.size() > 5 ? int(quint8(settings.at(5))) : StartMaxID;
    QStringList events;
    for (int row = 0; row < 8; ++row) {
        if (memory.savedEnable & (1u << row))
            events << eventName(row);
    }

    text = QStringLiteral("defaults: {%1}\ninteractive ids: %2-%3\nevents: [%4]\n")
               .arg(defaults.join(QStringLiteral(", ")))
               .arg(low)
               .arg(high)
               .arg(events.join(QStringLiteral(", ")));
    if (table.programs.empty()) {
        text += QStringLiteral("programs: []\n");
        return true;
    }
    text += QStringLiteral("programs:\n");
    for (const auto &program : table.programs)
        text += programText(*program);
    return true;
}

} // namespace ProgramText
