#include "sequence.h"

#include "datatext.h"
#include "modeword.h"
#include "programcheck.h"
#include "yamlmapping.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <yaml-cpp/yaml.h>

namespace Sequence {

namespace {

const QStringList StepKinds = {QStringLiteral("write"),         QStringLiteral("read"),
                               QStringLiteral("wait"),          QStringLiteral("poll"),
                               QStringLiteral("register write"), QStringLiteral("register read"),
                               QStringLiteral("download"),      QStringLiteral("enable"),
                               QStringLiteral("include")};
const QStringList ModeKeys = {QStringLiteral("address mode"), QStringLiteral("data mode"),
                              QStringLiteral("access mode")};
// Access modes a sequence's VME step may take: every one but the interrupt acknowledge.
QStringList accessLabels() { return VmeModeWord::accessModeLabels().mid(0, VmeModeWord::IntrAccessIndex); }

QString hex8(quint32 v) { return QStringLiteral("0x%1").arg(v, 8, 16, QLatin1Char('0')); }

struct Refused
{
    Fault fault;
};

using YamlMapping::fromStd;

// Reads one file's steps, with the files it includes, into steps.
class Reader
{
public:
    QList<Step> steps;

    void file(const QString &name, const Place &from, QStringList chain)
    {
        const QString path = QFileInfo(name).absoluteFilePath();
        if (chain.contains(path))
            refuse(from, QStringLiteral("\"%1\" includes itself (%2)")
                             .arg(name, (chain.mid(int(chain.indexOf(path))) << path).join(QStringLiteral(" -> "))));
        QFile f(name);
        if (!f.open(QIODevice::ReadOnly))
            refuse(from, QStringLiteral("cannot open \"%1\": %2").arg(name, f.errorString()));
        if (f.size() > FileLimit)
            refuse(from, QStringLiteral("\"%1\" holds %2 bytes, more than a sequence may (%3)")
                             .arg(name).arg(f.size()).arg(FileLimit));
        const QByteArray text = f.readAll();
        chain << path;
        parseText(text, name, chain);
    }

    void parseText(const QByteArray &text, const QString &name, const QStringList &chain)
    {
        fileName = name;
        std::vector<YAML::Node> docs;
        try {
            docs = YAML::LoadAll(text.toStdString());
        } catch (const YAML::Exception &e) {
            refuse(e.mark, fromStd(e.msg));
        }
        if (docs.empty() || docs.at(0).IsNull())
            refuse(Place{fileName, 0, 0}, QStringLiteral("the file holds no sequence; it is a mapping of defaults, steps"));
        if (docs.size() > 1)
            refuse(docs.at(1).Mark(), QStringLiteral("a sequence file holds one document; this is a second"));
        const YAML::Node root = docs.at(0);
        const Entries top = entriesOf(root, root.Mark(), {QStringLiteral("defaults"), QStringLiteral("steps")},
                                      QStringLiteral("a sequence"));
        int modes[3] = {2, 2, 0};
        if (top.contains(QStringLiteral("defaults"))) {
            const Entry &d = top[QStringLiteral("defaults")];
            const Entries defaults = entriesOf(d.value, d.mark(), ModeKeys, QStringLiteral("\"defaults\""));
            readModes(defaults, modes);
        }
        if (!top.contains(QStringLiteral("steps")))
            refuse(root.Mark(), QStringLiteral("a sequence needs \"steps\""));
        const Entry &s = top[QStringLiteral("steps")];
        if (!s.value.IsSequence())
            refuse(s.mark(), QStringLiteral("\"steps\" is a list of steps"));
        for (const YAML::Node &node : s.value) {
            // Every step's include runs a reader of its own, which changes the file name.
            fileName = name;
            step(node, modes, chain);
        }
    }

private:
    using Entry = YamlMapping::Entry;
    using Entries = YamlMapping::Entries;

    QString fileName;

    [[noreturn]] void refuse(const Place &place, const QString &message) { throw Refused{Fault{place, message}}; }
    [[noreturn]] void refuse(const YAML::Mark &mark, const QString &message)
    {
        refuse(Place{fileName, mark.line >= 0 ? mark.line + 1 : 0, mark.line >= 0 ? mark.column + 1 : 0}, message);
    }

    Place placeOf(const YAML::Mark &mark) const
    {
        return Place{fileName, mark.line >= 0 ? mark.line + 1 : 0, mark.line >= 0 ? mark.column + 1 : 0};
    }

    // The shared mapping readers, their refusals placed in the file being read.
    template <typename F>
    auto placed(F read) -> decltype(read())
    {
        try {
            return read();
        } catch (const YamlMapping::Refusal &r) {
            refuse(r.mark, r.message);
        }
    }
    Entries entriesOf(const YAML::Node &node, const YAML::Mark &where, const QStringList &allowed, const QString &what)
    {
        return placed([&] { return YamlMapping::entriesOf(node, where, allowed, what); });
    }
    QString scalarOf(const Entry &e, const QString &name)
    {
        return placed([&] { return YamlMapping::scalarOf(e, name); });
    }
    int choiceOf(const Entry &e, const QString &name, const QStringList &choices)
    {
        return placed([&] { return YamlMapping::choiceOf(e, name, choices); });
    }

    quint32 numberOf(const YAML::Node &node, const YAML::Mark &mark, const QString &name, quint64 max)
    {
        quint64 value = 0;
        if (!node.IsScalar() || !DataText::readBasePrefix(fromStd(node.Scalar()).trimmed(), value) || value > max)
            refuse(node.Mark().line >= 0 ? node.Mark() : mark,
                   QStringLiteral("\"%1\" is a number from 0 to 0x%2 (decimal, 0x hexadecimal or 0 octal)")
                       .arg(name).arg(max, 0, 16));
        return quint32(value);
    }
    quint32 numberOf(const Entry &e, const QString &name, quint64 max) { return numberOf(e.value, e.mark(), name, max); }

    // One value or a list of them.
    QList<quint32> itemsOf(const Entry &e, const QString &name, quint64 max)
    {
        QList<quint32> items;
        if (e.value.IsSequence()) {
            for (const YAML::Node &n : e.value)
                items << numberOf(n, e.mark(), name, max);
            if (items.isEmpty())
                refuse(e.mark(), QStringLiteral("\"%1\" needs at least one item").arg(name));
        } else {
            items << numberOf(e, name, max);
        }
        return items;
    }

    // A time with its unit, as the program text's intervals: "50 ms", "1 s", "200 us".
    int durationOf(const YAML::Node &node, const YAML::Mark &mark, const QString &name)
    {
        static const QHash<QString, double> units = {
            {QStringLiteral("s"), 1e6},     {QStringLiteral("sec"), 1e6},  {QStringLiteral("ms"), 1e3},
            {QStringLiteral("msec"), 1e3},  {QStringLiteral("us"), 1.0},   {QStringLiteral("usec"), 1.0}};
        const QString text = node.IsScalar() ? fromStd(node.Scalar()).simplified() : QString();
        const int space = int(text.lastIndexOf(QLatin1Char(' ')));
        quint32 micros = 0;
        const QString unit = text.mid(space + 1);
        if (space < 0 || !units.contains(unit) || !ProgramCheck::intervalMicros(text.left(space), units.value(unit), micros)
            || micros > 3600u * 1000 * 1000)
            refuse(node.Mark().line >= 0 ? node.Mark() : mark,
                   QStringLiteral("\"%1\" is a time with its unit, s, ms or us (e.g. 50 ms), up to an hour").arg(name));
        // The host waits in whole milliseconds; a shorter time still waits one.
        return int(qMax<quint32>(1, (micros + 999) / 1000));
    }
    int durationOf(const Entry &e, const QString &name) { return durationOf(e.value, e.mark(), name); }

    void readModes(const Entries &entries, int modes[3])
    {
        const QStringList labels[3] = {VmeModeWord::addressModeLabels(), VmeModeWord::dataModeLabels(), accessLabels()};
        for (int i = 0; i < 3; ++i) {
            if (entries.contains(ModeKeys.at(i)))
                modes[i] = choiceOf(entries[ModeKeys.at(i)], ModeKeys.at(i), labels[i]);
        }
    }

    quint8 enableOf(const Entry &e)
    {
        const QString choices = QStringLiteral("\"enable\" is \"stop\" or a list of events: Polling, Interrupt1 to Interrupt7");
        if (e.value.IsScalar() && fromStd(e.value.Scalar()) == QStringLiteral("stop"))
            return 0;
        if (!e.value.IsSequence() || e.value.size() == 0)
            refuse(e.mark(), choices);
        quint8 mask = 0;
        for (const YAML::Node &n : e.value) {
            const QString event = n.IsScalar() ? fromStd(n.Scalar()) : QString();
            int bit = -1;
            if (event == QStringLiteral("Polling"))
                bit = 0;
            else if (event.size() == 10 && event.startsWith(QStringLiteral("Interrupt")) && event.at(9) >= QLatin1Char('1')
                     && event.at(9) <= QLatin1Char('7'))
                bit = event.at(9).unicode() - '0';
            if (bit < 0)
                refuse(n.Mark().line >= 0 ? n.Mark() : e.mark(), choices);
            mask |= quint8(1u << bit);
        }
        return mask;
    }

    void step(const YAML::Node &node, const int defaults[3], const QStringList &chain)
    {
        if (!node.IsMap())
            refuse(node.Mark(), QStringLiteral("a step is a mapping of one of: %1, with an optional name")
                                    .arg(StepKinds.join(QStringLiteral(", "))));
        Step s;
        s.place = placeOf(node.Mark());
        int kind = -1;
        Entry body;
        for (auto it = node.begin(); it != node.end(); ++it) {
            const QString key = it->first.IsScalar() ? fromStd(it->first.Scalar()) : QString();
            if (key == QStringLiteral("name")) {
                s.name = scalarOf(Entry{it->first, it->second}, key);
                continue;
            }
            const int k = int(StepKinds.indexOf(key));
            if (k < 0)
                refuse(it->first.Mark(), QStringLiteral("unknown step \"%1\"; known: %2, and name")
                                             .arg(key, StepKinds.join(QStringLiteral(", "))));
            if (kind >= 0)
                refuse(it->first.Mark(), QStringLiteral("a step does one thing: \"%1\" and \"%2\" in one step")
                                             .arg(StepKinds.at(kind), key));
            kind = k;
            body = Entry{it->first, it->second};
        }
        if (kind < 0)
            refuse(node.Mark(), QStringLiteral("a step names what it does: one of %1").arg(StepKinds.join(QStringLiteral(", "))));
        const QString what = QStringLiteral("\"%1\"").arg(StepKinds.at(kind));
        switch (kind) {
        case 0: // write
        case 1: { // read
            const bool write = kind == 0;
            QStringList keys = ModeKeys;
            keys << QStringLiteral("address")
                 << (write ? QStringList{QStringLiteral("data")}
                           : QStringList{QStringLiteral("count"), QStringLiteral("expect"), QStringLiteral("mask")});
            const Entries e = entriesOf(body.value, body.mark(), keys, what);
            int modes[3] = {defaults[0], defaults[1], defaults[2]};
            readModes(e, modes);
            s.kind = write ? Step::Write : Step::Read;
            s.addressMode = modes[0];
            s.dataMode = modes[1];
            s.accessMode = modes[2];
            vmeTarget(s, e, body, write ? QStringLiteral("data") : QString());
            break;
        }
        case 2: // wait
            s.kind = Step::Wait;
            s.waitMs = durationOf(body, QStringLiteral("wait"));
            break;
        case 3: { // poll
            QStringList keys = ModeKeys;
            keys << QStringLiteral("address") << QStringLiteral("mask") << QStringLiteral("expect")
                 << QStringLiteral("timeout") << QStringLiteral("interval");
            const Entries e = entriesOf(body.value, body.mark(), keys, what);
            int modes[3] = {defaults[0], defaults[1], defaults[2]};
            readModes(e, modes);
            s.kind = Step::Poll;
            s.addressMode = modes[0];
            s.dataMode = modes[1];
            s.accessMode = modes[2];
            for (const char *needed : {"address", "expect", "timeout"}) {
                if (!e.contains(QLatin1String(needed)))
                    refuse(body.mark(), QStringLiteral("%1 needs \"%2\"").arg(what, QLatin1String(needed)));
            }
            vmeTarget(s, e, body, QString());
            s.waitMs = durationOf(e[QStringLiteral("timeout")], QStringLiteral("timeout"));
            if (e.contains(QStringLiteral("interval")))
                s.intervalMs = durationOf(e[QStringLiteral("interval")], QStringLiteral("interval"));
            break;
        }
        case 4: // register write
        case 5: { // register read
            const bool write = kind == 4;
            QStringList keys = {QStringLiteral("address"), QStringLiteral("settings")};
            keys << (write ? QStringList{QStringLiteral("data")}
                           : QStringList{QStringLiteral("count"), QStringLiteral("expect"), QStringLiteral("mask")});
            const Entries e = entriesOf(body.value, body.mark(), keys, what);
            s.kind = write ? Step::RegisterWrite : Step::RegisterRead;
            if (e.contains(QStringLiteral("settings")))
                s.settings = choiceOf(e[QStringLiteral("settings")], QStringLiteral("settings"),
                                      {QStringLiteral("false"), QStringLiteral("true")}) == 1;
            vmeTarget(s, e, body, write ? QStringLiteral("data") : QString());
            const int size = write ? int(s.data.size()) : s.count;
            if (quint64(s.address) + quint64(size) > 0x100000000ull)
                refuse(e[QStringLiteral("address")].mark(), QStringLiteral("the access runs past 0xffffffff"));
            if (!s.settings && touchesSettings(s.address, size))
                refuse(e[QStringLiteral("address")].mark(),
                       QStringLiteral("the access touches the network core's settings block (0xfffffc00 and up); "
                                      "\"settings: true\" lets the step do so"));
            break;
        }
        case 6: { // download
            s.kind = Step::Download;
            const QString program = scalarOf(body, QStringLiteral("download"));
            s.programFile = relative(program);
            QString failure;
            if (program.isEmpty() || !DownloadPlan::load(s.programFile, s.plan, failure))
                refuse(body.mark(), program.isEmpty() ? QStringLiteral("\"download\" names a program file") : failure);
            break;
        }
        case 7: // enable
            s.kind = Step::Enable;
            s.enable = enableOf(body);
            break;
        case 8: { // include
            const QString included = scalarOf(body, QStringLiteral("include"));
            if (included.isEmpty())
                refuse(body.mark(), QStringLiteral("\"include\" names a sequence file"));
            if (!s.name.isEmpty())
                refuse(body.mark(), QStringLiteral("an include takes no name: its steps carry their own"));
            Reader inner;
            inner.file(relative(included), placeOf(body.mark()), chain);
            steps += inner.steps;
            return;
        }
        }
        steps << s;
    }

    // A file named in this one: relative to this file's folder.
    QString relative(const QString &name) const
    {
        if (QFileInfo(name).isAbsolute())
            return name;
        return QDir::cleanPath(QFileInfo(fileName).dir().filePath(name));
    }

    // address, data or count, expect, mask of an access, checked against its item size.
    void vmeTarget(Step &s, const Entries &e, const Entry &body, const QString &dataKey)
    {
        const bool vme = s.kind == Step::Write || s.kind == Step::Read || s.kind == Step::Poll;
        const QString what = QStringLiteral("\"%1\"").arg(fromStd(body.key.Scalar()));
        if (!e.contains(QStringLiteral("address")))
            refuse(body.mark(), QStringLiteral("%1 needs \"address\"").arg(what));
        const quint64 top = !vme ? 0xFFFFFFFFu : s.addressMode == 0 ? 0xFFFFu : s.addressMode == 1 ? 0xFFFFFFu : 0xFFFFFFFFu;
        const Entry &a = e[QStringLiteral("address")];
        s.address = numberOf(a, QStringLiteral("address"), top);
        const int size = s.itemSize();
        if (vme && s.address % quint32(size))
            refuse(a.mark(), QStringLiteral("a %1 access starts at a multiple of %2").arg(VmeModeWord::dataModeLabels().at(s.dataMode)).arg(size));
        const quint64 itemMax = size == 4 ? 0xFFFFFFFFu : size == 2 ? 0xFFFFu : 0xFFu;
        if (!dataKey.isEmpty()) {
            if (!e.contains(dataKey))
                refuse(body.mark(), QStringLiteral("%1 needs \"data\"").arg(what));
            s.data = itemsOf(e[dataKey], dataKey, itemMax);
            s.count = int(s.data.size());
        } else {
            if (e.contains(QStringLiteral("count"))) {
                const Entry &c = e[QStringLiteral("count")];
                s.count = int(numberOf(c, QStringLiteral("count"), 65536));
                if (s.count == 0)
                    refuse(c.mark(), QStringLiteral("\"count\" is a number from 1 to 65536"));
            }
            if (e.contains(QStringLiteral("mask")))
                s.mask = numberOf(e[QStringLiteral("mask")], QStringLiteral("mask"), itemMax);
            else
                s.mask = quint32(itemMax);
            if (e.contains(QStringLiteral("expect"))) {
                const Entry &x = e[QStringLiteral("expect")];
                s.expect = itemsOf(x, QStringLiteral("expect"), itemMax);
                if (s.expect.size() != 1 && s.expect.size() != s.count)
                    refuse(x.mark(), QStringLiteral("\"expect\" is one value for every item or a list of %1").arg(s.count));
            } else if (e.contains(QStringLiteral("mask"))) {
                refuse(e[QStringLiteral("mask")].mark(), QStringLiteral("\"mask\" goes with \"expect\""));
            }
        }
        if (vme && !s.fixedAddress()) {
            const quint64 last = quint64(s.address) + quint64(s.count) * quint64(size) - 1;
            if (last > top)
                refuse(a.mark(), QStringLiteral("the access ends at 0x%1, beyond %2 (0x%3)")
                                     .arg(last, 0, 16).arg(VmeModeWord::addressModeLabels().at(s.addressMode))
                                     .arg(top, 0, 16));
        }
    }
};

} // namespace

QString Place::text() const
{
    return line > 0 ? QStringLiteral("%1:%2:%3").arg(file).arg(line).arg(column) : file;
}

QString Fault::text() const { return place.text() + QStringLiteral(": ") + message; }

int Step::itemSize() const
{
    if (kind == RegisterWrite || kind == RegisterRead)
        return 1;
    return VmeModeWord::itemSize(dataMode);
}

bool Step::fixedAddress() const { return accessMode >= 6 && accessMode <= 9; }

QString Step::text() const
{
    static const char *const kinds[] = {"write", "read", "wait", "poll", "register write", "register read",
                                        "download", "enable"};
    QString t = QLatin1String(kinds[kind]);
    const QString modes = QStringLiteral(" %1 %2").arg(VmeModeWord::addressModeLabels().at(addressMode),
                                                       VmeModeWord::dataModeLabels().at(dataMode));
    const int digits = 2 * itemSize();
    auto items = [digits](const QList<quint32> &values) {
        QStringList parts;
        for (quint32 v : values)
            parts << QStringLiteral("0x%1").arg(v, digits, 16, QLatin1Char('0'));
        return parts.join(QLatin1Char(' '));
    };
    switch (kind) {
    case Write:
        return t + QLatin1Char(' ') + hex8(address) + modes + QLatin1Char(' ') + items(data);
    case Read:
    case RegisterRead:
        t += QLatin1Char(' ') + hex8(address) + (kind == Read ? modes : QString()) + QStringLiteral(" count %1").arg(count);
        if (!expect.isEmpty())
            t += QStringLiteral(" expect ") + items(expect) +
                 (mask == (digits == 8 ? 0xFFFFFFFFu : (1u << (4 * digits)) - 1) ? QString()
                                                                                  : QStringLiteral(" mask ") + items({mask}));
        return t;
    case Poll:
        return t + QLatin1Char(' ') + hex8(address) + modes + QStringLiteral(" mask ") + items({mask}) +
               QStringLiteral(" expect ") + items(expect) + QStringLiteral(" timeout %1 ms interval %2 ms").arg(waitMs).arg(intervalMs);
    case RegisterWrite:
        return t + QLatin1Char(' ') + hex8(address) + QLatin1Char(' ') + items(data);
    case Wait:
        return t + QStringLiteral(" %1 ms").arg(waitMs);
    case Download:
        return t + QLatin1Char(' ') + programFile + QStringLiteral(" (%1 bytes, enable 0x%2)")
                                                     .arg(plan.bytes()).arg(quint8(plan.mask.data.isEmpty() ? 0 : plan.mask.data.at(0)), 2, 16, QLatin1Char('0'));
    case Enable:
        return t + (enable ? QStringLiteral(" 0x%1").arg(enable, 2, 16, QLatin1Char('0')) : QStringLiteral(" stop"));
    }
    return t;
}

QString Step::line(int index) const
{
    return QStringLiteral("%1 %2%3").arg(index + 1).arg(name.isEmpty() ? QString() : QStringLiteral("\"%1\" ").arg(name), text());
}

QString Step::label(int index) const
{
    QString t = QStringLiteral("step %1").arg(index + 1);
    if (!name.isEmpty())
        t += QStringLiteral(" \"%1\"").arg(name);
    const QString head = text();
    // The kind and the address, without the data.
    const int cut = kind == RegisterWrite || kind == RegisterRead || kind == Wait ? 3 : 2;
    return t + QStringLiteral(" (%1)").arg(head.section(QLatin1Char(' '), 0, cut - 1));
}

bool touchesSettings(quint32 address, int size)
{
    return quint64(address) + quint64(qMax(size, 1)) - 1 >= SettingsFirst;
}

std::optional<Fault> load(const QString &fileName, QList<Step> &steps)
{
    Reader reader;
    try {
        reader.file(fileName, Place{fileName, 0, 0}, {});
    } catch (const Refused &r) {
        return r.fault;
    }
    steps = reader.steps;
    return std::nullopt;
}

std::optional<Fault> parse(const QByteArray &text, const QString &fileName, QList<Step> &steps)
{
    Reader reader;
    try {
        reader.parseText(text, fileName, {QFileInfo(fileName).absoluteFilePath()});
    } catch (const Refused &r) {
        return r.fault;
    }
    steps = reader.steps;
    return std::nullopt;
}

} // namespace Sequence
