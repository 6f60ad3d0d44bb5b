#include "session.h"

#include "busscan.h"
#include "kelvoinfo.h"
#include "modeword.h"
#include "modulememory.h"
#include "vmeaccess.h"

#include "blockingaccess.h"
#include "download.h"
#include "sequence.h"
#include "programfile.h"
#include "programtext.h"
#include "runrecording.h"
#include "runwriter.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>

#include <chrono>

namespace TarnixPy {

namespace {

using Kind = Failure::Kind;

QString hex(quint64 value, int digits = 8)
{
    return QStringLiteral("0x%1").arg(value, digits, 16, QLatin1Char('0'));
}

// A mode's index in the window's list, matched without regard to case as tarnixctl does.
int pick(const std::string &value, const QStringList &labels, const char *argument)
{
    const QString text = QString::fromStdString(value);
    for (int i = 0; i < labels.size(); ++i) {
        if (labels.at(i).compare(text, Qt::CaseInsensitive) == 0)
            return i;
    }
    fail(Kind::Parameter, QStringLiteral("bad value \"%1\" for %2: one of %3")
                              .arg(text, QLatin1String(argument), labels.join(QStringLiteral(", "))));
}

struct Modes
{
    int address, data, access;
};

Modes modes(const std::string &address, const std::string &data, const std::string &access)
{
    return {pick(address, VmeModeWord::addressModeLabels(), "address_mode"),
            pick(data, VmeModeWord::dataModeLabels(), "data_mode"),
            pick(access, VmeModeWord::accessModeLabels().mid(0, VmeModeWord::IntrAccessIndex), "access")};
}

quint32 checkedAddress(const char *command, long long address, quint64 top = 0xFFFFFFFFu)
{
    if (address < 0 || quint64(address) > top)
        fail(Kind::Parameter, QStringLiteral("%1: bad address %2").arg(QLatin1String(command)).arg(address));
    return quint32(address);
}

// The module's refusal or silence, as tarnixctl words it.
[[noreturn]] void raise(const VmeAccess::Outcome &outcome, Session &session)
{
    if (outcome.status == VmeAccess::Outcome::Status::NoAnswer) {
        session.dropCommands();
        fail(Kind::Timeout, outcome.message, outcome.address);
    }
    fail(outcome.mode & VmeModeWord::StatusVmeError ? Kind::Vme : Kind::Parameter, outcome.message, outcome.address,
         outcome.mode);
}

Items::Layout itemLayout(int dataMode)
{
    return dataMode == 0 ? Items::Layout::Uint8 : dataMode == 1 ? Items::Layout::Uint16 : Items::Layout::Uint32;
}

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The module's answer items into an array of their size, in the machine's byte order.
void appendItems(Items &items, const QByteArray &data, int size)
{
    std::vector<char> &out = *items.bytes;
    for (qsizetype i = 0; i + size <= data.size(); i += size) {
        quint32 v = 0;
        for (int b = 0; b < size; ++b)
            v = (v << 8) | quint8(data.at(i + b));
        const quint8 v8 = quint8(v);
        const quint16 v16 = quint16(v);
        const char *p = size == 1 ? reinterpret_cast<const char *>(&v8)
                        : size == 2 ? reinterpret_cast<const char *>(&v16)
                                    : reinterpret_cast<const char *>(&v);
        out.insert(out.end(), p, p + size);
        ++items.count;
    }
}

// Takes the interpreter lock for a moment to let Ctrl-C end a long wait.
void checkSignals()
{
    py::gil_scoped_acquire lock;
    if (PyErr_CheckSignals() != 0)
        throw py::error_already_set();
}

} // namespace

Session::Session(const std::string &hostText, int tcpPort, int udpPort, double timeout, std::pair<int, int> idRange)
    : host(QString::fromStdString(hostText))
{
    if (QHostAddress(host).isNull())
        fail(Kind::Parameter, QStringLiteral("\"%1\" is not an IP address").arg(host));
    if (tcpPort < 0 || tcpPort > 65535)
        fail(Kind::Parameter, QStringLiteral("bad value %1 for tcp_port").arg(tcpPort));
    if (udpPort < 0 || udpPort > 65535)
        fail(Kind::Parameter, QStringLiteral("bad value %1 for udp_port").arg(udpPort));
    // Finite, at least a millisecond and at most an hour, as tarnixctl's --timeout.
    if (!(timeout >= 0.001 && timeout <= 3600))
        fail(Kind::Parameter, QStringLiteral("timeout must be 0.001 to 3600 seconds"));
    if (idRange.first < 0 || idRange.first > idRange.second || idRange.second > 255)
        fail(Kind::Parameter, QStringLiteral("bad value (%1, %2) for id_range: give (first, last), "
                                             "0 <= first <= last <= 255")
                                  .arg(idRange.first).arg(idRange.second));
    tcp = quint16(tcpPort);
    udp = quint16(udpPort);
    timeoutMs = int(timeout * 1000 + 0.5);
    ids = CommandIdRange(quint8(idRange.first), quint8(idRange.second));
}

Session::~Session() = default;

void Session::onOwnerThread()
{
    if (!owned) {
        owner = std::this_thread::get_id();
        owned = true;
    } else if (owner != std::this_thread::get_id()) {
        // The sockets belong to the thread that opened them.
        throw std::logic_error("tarnix.Module: used from another thread than the one that first talked to the module");
    }
}

CommandClient &Session::commands()
{
    onOwnerThread();
    if (client && client->isOpen())
        return *client;
    if (client)
        skippedBefore += client->skippedReports();
    client = std::make_unique<CommandClient>(timeoutMs);
    if (!client->connectTo(host, tcp)) {
        const QString text = VmeAccess::connectFailureText(host, tcp, *client);
        client.reset();
        fail(Kind::Timeout, text);
    }
    return *client;
}

QUdpThread &Session::rbcp()
{
    onOwnerThread();
    if (!udpClient) {
        udpClient = std::make_unique<QUdpThread>();
        udpClient->SetIpAddress(QHostAddress(host), udp);
        udpClient->SetWaitCount(qMax(1, timeoutMs / QRbcp::WaitSliceMs));
    }
    return *udpClient;
}

template <typename F>
auto Session::registers(F job) -> decltype(job(std::declval<QUdpThread &>()))
{
    QUdpThread &u = rbcp();
    if (!u.startUDP())
        fail(Kind::Timeout, QStringLiteral("cannot open the RBCP socket for %1").arg(host));
    try {
        return job(u);
    } catch (QRbcp::ErrSts code) {
        u.strError(code);
        const RbcpProgress at = u.progressNow();
        fail(code == QRbcp::BusError ? Kind::Vme : Kind::Timeout, u.errorLine(), at.address);
    } catch (const QString &text) {
        fail(Kind::Vme, text);
    }
}

void Session::dropCommands()
{
    if (client)
        skippedBefore += client->skippedReports();
    client.reset();
}

void Session::close()
{
    dropCommands();
    udpClient.reset();
    owned = false;
}

Items Session::read(long long address, long long count, const std::string &addressMode, const std::string &dataMode,
                    const std::string &access)
{
    const Modes m = modes(addressMode, dataMode, access);
    VmeAccess::Request r;
    r.address = checkedAddress("read", address);
    if (count < 1 || count > 0xFFFFFF)
        fail(Kind::Parameter, QStringLiteral("read: bad count %1").arg(count));
    r.items = quint64(count);
    r.addressMode = m.address;
    r.dataMode = m.data;
    r.accessMode = m.access;
    for (const QString &refusal : {VmeAccess::alignmentError(r.address, r.dataMode),
                                   VmeAccess::rangeError(QStringLiteral("read"), r)}) {
        if (!refusal.isEmpty())
            fail(Kind::Parameter, refusal, r.address);
    }
    Items items;
    items.layout = itemLayout(r.dataMode);
    const int size = VmeModeWord::itemSize(r.dataMode);
    items.bytes->reserve(size_t(count * size));
    const VmeAccess::Outcome outcome =
        VmeAccess::run(commands(), ids, r, [&](const QByteArray &data) { appendItems(items, data, size); });
    if (!outcome.done())
        raise(outcome, *this);
    return items;
}

std::optional<Items> Session::write(long long address, const WriteValues &values,
                                    const std::string &addressMode, const std::string &dataMode,
                                    const std::string &access, bool echo)
{
    const Modes m = modes(addressMode, dataMode, access);
    VmeAccess::Request r;
    r.address = checkedAddress("write", address);
    r.read = false;
    r.echo = echo;
    r.addressMode = m.address;
    r.dataMode = m.data;
    r.accessMode = m.access;
    r.items = quint64(values.values.size());
    const int size = VmeModeWord::itemSize(r.dataMode);
    const long long max = size == 4 ? 0xFFFFFFFFll : size == 2 ? 0xFFFFll : 0xFFll;
    const long long *v = values.values.data();
    r.data.reserve(qsizetype(r.items) * size);
    for (quint64 i = 0; i < r.items; ++i) {
        if (v[i] < 0 || v[i] > max)
            fail(Kind::Parameter, QStringLiteral("write: %1 is not a %2-bit item").arg(v[i]).arg(size * 8));
        for (int b = size - 1; b >= 0; --b)
            r.data.append(char(v[i] >> (8 * b)));
    }
    for (const QString &refusal : {VmeAccess::alignmentError(r.address, r.dataMode),
                                   VmeAccess::rangeError(QStringLiteral("write"), r)}) {
        if (!refusal.isEmpty())
            fail(Kind::Parameter, refusal, r.address);
    }
    Items items;
    items.layout = itemLayout(r.dataMode);
    const VmeAccess::Outcome outcome =
        VmeAccess::run(commands(), ids, r, [&](const QByteArray &data) { appendItems(items, data, size); });
    if (!outcome.done())
        raise(outcome, *this);
    if (!echo)
        return std::nullopt;
    return items;
}

Session::Info Session::info()
{
    return registers([this](QUdpThread &u) {
        if (!u.ReadInfoKelvo())
            fail(Kind::Timeout, QStringLiteral("Unable to read Kelvo information"));
        if (!u.readRegister())
            fail(Kind::Timeout, QStringLiteral("Unable to read information from Register"));
        QString text;
        u.GetInfoKelvo(&text);
        u.getInfo(&text);
        const QByteArray block = u.settingsBlock();
        Info info;
        info["mac"] = KelvoInfo::macText(block).toStdString();
        info["ip"] = QHostAddress(KelvoInfo::ipAddress(block)).toString().toStdString();
        info["tcp_port"] = (long long)KelvoInfo::tcpPort(block);
        info["udp_port"] = (long long)KelvoInfo::udpPort(block);
        info["keep_alive"] = KelvoInfo::keepAlive(block);
        info["live_tcp_port"] = (long long)u.GetTcpPort();
        info["tcp_close_timeout"] = (long long)u.GetTcpCloseTimeout();
        info["version"] = u.versionRegister().toHex().toUpper().toStdString();
        info["text"] = text.toStdString();
        return info;
    });
}

void Session::stop()
{
    enable(0ll);
}

void Session::enable(const std::variant<long long, std::vector<std::string>> &events)
{
    quint8 mask = 0;
    if (const long long *value = std::get_if<long long>(&events)) {
        if (*value < 0 || *value > 0xFF)
            fail(Kind::Parameter, QStringLiteral("enable: the mask %1 is not 0 to 0xff").arg(*value));
        mask = quint8(*value);
    } else {
        for (const std::string &name : std::get<std::vector<std::string>>(events)) {
            const int bit = ModuleMemory::eventBit(QString::fromStdString(name));
            if (bit < 0)
                fail(Kind::Parameter, QStringLiteral("enable: \"%1\" is not an event: Polling or Interrupt1 to "
                                                     "Interrupt7")
                                          .arg(QString::fromStdString(name)));
            mask |= quint8(1u << bit);
        }
    }
    registers([mask](QUdpThread &u) {
        const char byte = char(mask);
        if (u.write(QUdpThread::EventEnableAddress, &byte, 1) < 1)
            fail(Kind::Vme, QStringLiteral("Write ERROR"), QUdpThread::EventEnableAddress);
        return 0;
    });
}

std::vector<unsigned long long> Session::scan(long long from, std::optional<long long> to,
                                              std::optional<long long> step, long long offset,
                                              const std::string &addressMode, const std::string &dataMode,
                                              const std::string &access, int inFlight)
{
    const Modes m = modes(addressMode, dataMode, access);
    ScanRange range;
    range.addressMode = m.address;
    range.dataMode = m.data;
    range.accessMode = m.access;
    const quint64 top = VmeAccess::addressSpaceTop(m.address);
    const QString space = VmeModeWord::addressModeLabels().at(m.address);
    const auto number = [&](const char *name, long long value, quint64 min, quint64 max) {
        if (value < 0 || quint64(value) < min || quint64(value) > max)
            fail(Kind::Parameter, QStringLiteral("bad value %1 for %2 (%3 to %4 in %5)")
                                      .arg(hex(quint64(value), 1), QLatin1String(name), hex(min, 1), hex(max, 1), space));
        return quint64(value);
    };
    range.from = number("from_", from, 0, top);
    range.to = number("to", to.value_or(qint64(top)), 0, top);
    range.step = number("step", step.value_or(qint64(BusScan::defaultStep(m.address))), 1, top + 1);
    range.offset = number("offset", offset, 0, top);
    range.inFlight = int(qMin<quint64>(number("in_flight", inFlight, 1, 256), quint64(ids.size())));
    const QString refusal = BusScan::check(range);
    if (!refusal.isEmpty())
        fail(Kind::Parameter, refusal);

    BusScan scan(commands(), ids, range);
    std::vector<unsigned long long> found;
    scan.step = [&](quint64 base, bool answered, quint32) {
        if (answered)
            found.push_back(base);
    };
    // The wait is cut every 200 ms so that Ctrl-C ends a long scan.
    scan.waitSliceMs = 200;
    scan.idle = checkSignals;
    BusScan::Outcome outcome;
    try {
        outcome = scan.run();
    } catch (...) {
        dropCommands();
        throw;
    }
    if (outcome.status != BusScan::Outcome::Status::Done)
        dropCommands();
    switch (outcome.status) {
    case BusScan::Outcome::Status::Done: return found;
    case BusScan::Outcome::Status::Refused: fail(Kind::Parameter, outcome.message);
    case BusScan::Outcome::Status::NoAnswer: break;
    }
    fail(Kind::Timeout, outcome.message);
}

namespace {

// A program file's bytes as they stand (a binary file or a text).
QByteArray readFile(const QString &name)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        fail(Kind::File, ProgramFile::openFailureText(name, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        fail(Kind::File, ProgramFile::readFailureText(name, file.errorString()));
    return bytes;
}

} // namespace

long long Session::download(const std::variant<std::string, py::bytes> &program, bool verify)
{
    DownloadPlan plan;
    QString failure;
    bool loaded = false;
    if (const std::string *text = std::get_if<std::string>(&program)) {
        const QString given = QString::fromStdString(*text);
        // A text spans lines; anything else names a file.
        if (given.contains(QLatin1Char('\n')))
            loaded = DownloadPlan::fromProgramFile(binaryProgram(given.toUtf8(), QString()), QStringLiteral("text"),
                                                   plan, failure);
        else
            loaded = DownloadPlan::load(given, plan, failure);
    } else {
        const std::string &bytes = std::get<py::bytes>(program).cast<std::string>();
        loaded = DownloadPlan::fromProgramFile(
            binaryProgram(QByteArray(bytes.data(), qsizetype(bytes.size())), QString()), QStringLiteral("program"), plan,
            failure);
    }
    if (!loaded)
        fail(Kind::File, failure);
    return registers([&](QUdpThread &u) {
        const QString refused = plan.run(u, verify);
        if (!refused.isEmpty())
            fail(Kind::Vme, refused, u.progressNow().address);
        return (long long)plan.bytes();
    });
}

std::map<std::string, std::variant<long long, std::string>> Session::record(const std::string &pathText,
                                                                          std::optional<long long> count,
                                                                          std::optional<double> seconds,
                                                                          std::optional<std::string> program,
                                                                          bool force)
{
    const QString path = QString::fromStdString(pathText);
    if (count && *count < 1)
        fail(Kind::Parameter, QStringLiteral("record: count must be at least 1"));
    if (seconds && !(*seconds > 0 && *seconds <= 1e9))
        fail(Kind::Parameter, QStringLiteral("record: seconds must be above 0, at most 1e9"));
    // As tarnixctl record: an earlier run is replaced only when asked for.
    const QFileInfo earlier(path);
    if (!force && earlier.isFile() && earlier.size() > 0)
        fail(Kind::File, QStringLiteral("\"%1\" exists: give force=True to replace it").arg(path));
    RunHeader header;
    if (program) {
        const QString name = QString::fromStdString(*program);
        QString failure;
        if (!ProgramText::print(binaryProgram(readFile(name), name), name, header.programText, failure))
            fail(Kind::File, failure);
        header.programFile = QFileInfo(name).absoluteFilePath();
    }
    header.tool = QStringLiteral("tarnix (Python) %1").arg(QStringLiteral(TARNIX_VERSION));
    header.moduleAddress = host;
    header.tcpPort = tcp;
    header.udpPort = udp;
    CommandClient &client = commands();
    header.startNs = RunWriter::nowNs();
    RunWriter writer;
    if (!writer.open(path, header))
        fail(Kind::File, QStringLiteral("cannot write \"%1\": %2").arg(path, writer.errorString()));
    RunRecording::Hooks hooks;
    hooks.stop = [] {
        // Ctrl-C ends the run with a complete end record, as a signal ends tarnixctl record.
        py::gil_scoped_acquire lock;
        const bool interrupted = PyErr_CheckSignals() != 0;
        if (interrupted)
            PyErr_Clear();
        return interrupted;
    };
    const RunRecording run =
        RunRecording::record(client, writer, count.value_or(-1), seconds ? qint64(*seconds * 1000) : -1, hooks);
    const bool written = writer.finish(run.reason, RunWriter::nowNs());
    if (run.status == RunRecording::Status::NoAnswer) {
        dropCommands();
        fail(Kind::Timeout, run.message);
    }
    if (run.status == RunRecording::Status::WriteFailed || !written)
        fail(Kind::File, run.message.isEmpty()
                             ? QStringLiteral("writing \"%1\" failed: %2").arg(path, writer.errorString())
                             : run.message);
    const RunCounters &c = writer.counters();
    return {{"reports", (long long)c.reports.load()},
            {"bytes", (long long)c.bytes.load()},
            {"reason", run.reason.toStdString()}};
}

std::vector<std::string> Session::run(const std::string &path)
{
    QList<Sequence::Step> steps;
    if (const auto fault = Sequence::load(QString::fromStdString(path), steps))
        fail(Kind::File, fault->text() + QStringLiteral("; nothing was sent"));
    onOwnerThread();
    // The run has a connection of its own, as tarnixctl run does, with the Module's IDs.
    BlockingSequenceAccess access(host, tcp, udp, timeoutMs, ids);
    std::vector<std::string> lines;
    SequenceRunner::Outcome outcome = SequenceRunner::Running;
    QString message;
    SequenceRunner::Observer observer;
    observer.stepDone = [&](int index, const QString &result) {
        const QString line = steps.at(index).line(index) +
                             (result.startsWith(QLatin1Char(':')) ? result : QLatin1Char(' ') + result);
        lines.push_back(line.toStdString());
    };
    observer.finished = [&](SequenceRunner::Outcome o, const QString &text) {
        outcome = o;
        message = text;
    };
    SequenceRunner runner(steps, access, observer);
    runner.start();
    if (outcome == SequenceRunner::Done)
        return lines;
    fail(outcome == SequenceRunner::NoAnswer ? Kind::Timeout : Kind::Vme, message);
}

std::shared_ptr<ReportIterator> Session::reports(std::optional<long long> count, std::optional<double> seconds,
                                                 long long batch)
{
    if (count && *count < 1)
        fail(Kind::Parameter, QStringLiteral("reports: count must be at least 1"));
    if (seconds && !(*seconds > 0 && *seconds <= 1e9))
        fail(Kind::Parameter, QStringLiteral("reports: seconds must be above 0, at most 1e9"));
    if (batch < 1 || batch > (1ll << 24))
        fail(Kind::Parameter, QStringLiteral("reports: batch must be 1 to 16777216"));
    commands();
    return std::make_shared<ReportIterator>(shared_from_this(), count.value_or(-1), seconds.value_or(-1),
                                            qsizetype(batch));
}

ReportIterator::ReportIterator(std::shared_ptr<Session> session, qint64 count, double seconds, qsizetype batch)
    : session(std::move(session)), count(count), limitMs(seconds < 0 ? -1 : qint64(seconds * 1000)), batchSize(batch)
{
    clock.start();
}

std::optional<Items> ReportIterator::next()
{
    if (ended)
        return std::nullopt;
    if (!closed.isEmpty()) {
        ended = true;
        session->dropCommands();
        fail(Kind::Timeout, closed);
    }
    CommandClient &client = session->commands();
    ReportBatch batch;
    QElapsedTimer batchClock;
    qint64 received = nowNs();
    for (;;) {
        qsizetype room = batchSize - batch.size();
        if (count >= 0)
            room = qMin<qsizetype>(room, qsizetype(count - handedOut) - batch.size());
        if (!batch.takeFrom(client.stream(), room, received)) {
            session->dropCommands();
            fail(Kind::Timeout, QStringLiteral("CRC error in a header from the module"));
        }
        if (batch.size() > 0 && !batchClock.isValid())
            batchClock.start();
        const bool counted = count >= 0 && handedOut + batch.size() >= count;
        const bool timeUp = limitMs >= 0 && clock.elapsed() >= limitMs;
        if (counted || timeUp)
            ended = true;
        if (ended || batch.size() >= batchSize || (batchClock.isValid() && batchClock.hasExpired(200)))
            break;
        qint64 wait = 100;
        if (limitMs >= 0)
            wait = qBound<qint64>(0, limitMs - clock.elapsed(), wait);
        if (!client.fill(QDeadlineTimer(wait))) {
            if (!client.isOpen()) {
                // What came before the close is handed out first; the next call raises.
                closed = client.stream().pending() == 0
                             ? QStringLiteral("the module closed the connection")
                             : QStringLiteral("the module closed the connection inside a packet");
                if (batch.size() > 0)
                    break;
                session->dropCommands();
                fail(Kind::Timeout, closed);
            }
            checkSignals();
        }
        received = nowNs();
    }
    if (batch.size() == 0)
        return std::nullopt;
    handedOut += batch.size();
    return batch.take();
}

} // namespace TarnixPy

bool pybind11::detail::type_caster<TarnixPy::WriteValues>::load(handle src, bool)
{
    using TarnixPy::Failure;
    const array given = array::ensure(src);
    if (!given || given.ndim() > 1 || given.size() == 0)
        throw Failure(Failure::Kind::Parameter,
                      QStringLiteral("write: give the values as integers: one, a sequence or a 1-dimensional array"));
    const char kind = given.dtype().kind();
    if (kind != 'i' && kind != 'u')
        throw Failure(Failure::Kind::Parameter, QStringLiteral("write: the values must be integers, not %1")
                                                    .arg(QString::fromStdString(str(given.dtype()))));
    const auto wide = array_t<long long, array::c_style | array::forcecast>::ensure(given);
    value.values.assign(wide.data(), wide.data() + wide.size());
    return true;
}
