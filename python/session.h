#pragma once

#include "bindings.h"
#include "reportbatch.h"

#include "commandclient.h"
#include "udpthread.h"

#include <QElapsedTimer>

#include <map>
#include <thread>
#include <utility>
#include <variant>

namespace TarnixPy {

class Session;

// Live reports of one Module, cut into batches (Module.reports).
class ReportIterator
{
public:
    ReportIterator(std::shared_ptr<Session> session, qint64 count, double seconds, qsizetype batch);
    // The next batch; nothing once the count or the time is reached.
    std::optional<Items> next();
    qint64 taken() const { return handedOut; }

private:
    std::shared_ptr<Session> session;
    qint64 count;      // -1: no limit
    qint64 limitMs;    // -1: no limit
    qsizetype batchSize;
    qint64 handedOut = 0;
    QElapsedTimer clock;
    bool ended = false;
    QString closed; // why the connection ended, raised once the reports before it are out
};

// The state behind a tarnix.Module: the module's address, the client of each channel (opened on
// first use, on the thread that uses it), and the command IDs.
class Session : public std::enable_shared_from_this<Session>
{
public:
    using Info = std::map<std::string, std::variant<long long, bool, std::string>>;

    Session(const std::string &host, int tcpPort, int udpPort, double timeout, std::pair<int, int> idRange);
    ~Session();

    Items read(long long address, long long count, const std::string &addressMode, const std::string &dataMode,
               const std::string &access);
    std::optional<Items> write(long long address, const WriteValues &values,
                               const std::string &addressMode, const std::string &dataMode,
                               const std::string &access, bool echo);
    Info info();
    void stop();
    void enable(const std::variant<long long, std::vector<std::string>> &events);
    std::vector<unsigned long long> scan(long long from, std::optional<long long> to, std::optional<long long> step,
                                         long long offset, const std::string &addressMode,
                                         const std::string &dataMode, const std::string &access, int inFlight);
    std::shared_ptr<ReportIterator> reports(std::optional<long long> count, std::optional<double> seconds,
                                            long long batch);
    long long download(const std::variant<std::string, py::bytes> &program, bool verify);
    std::map<std::string, std::variant<long long, std::string>> record(const std::string &path,
                                                                     std::optional<long long> count,
                                                                     std::optional<double> seconds,
                                                                     std::optional<std::string> program, bool force);
    std::vector<std::string> run(const std::string &path);
    void close();
    // Closes the command channel after a failure: an answer still on its way must not pass
    // for the answer to a later command. The next call connects again.
    void dropCommands();

    std::string hostName() const { return host.toStdString(); }
    int tcpPort() const { return tcp; }
    int udpPort() const { return udp; }
    long long skippedReports() const { return client ? client->skippedReports() : skippedBefore; }

    // The command channel, connected (a TimeoutError when it cannot be).
    CommandClient &commands();
    // Runs job(QUdpThread&) with the register channel, its thrown failures raised as exceptions.
    template <typename F>
    auto registers(F job) -> decltype(job(std::declval<QUdpThread &>()));

private:
    void onOwnerThread();
    QUdpThread &rbcp();

    QString host;
    quint16 tcp;
    quint16 udp;
    int timeoutMs;
    CommandIdRange ids;
    std::unique_ptr<CommandClient> client;
    std::unique_ptr<QUdpThread> udpClient;
    std::thread::id owner;
    bool owned = false;
    long long skippedBefore = 0;
};

} // namespace TarnixPy
