#pragma once

#include "commandclient.h"
#include "sequencerunner.h"
#include "tarnixcmd.h"
#include "udpthread.h"
#include "vmeaccess.h"

#include <QHostAddress>
#include <QThread>

#include <deque>
#include <memory>

// The module over blocking clients on this thread. Writes wait in a batch that goes out in one
// system call when the runner needs their answers, or when the batch holds as many commands as
// the ID range has IDs.
class BlockingSequenceAccess : public SequenceAccess
{
public:
    BlockingSequenceAccess(const QString &host, quint16 tcpPort, quint16 udpPort, int timeoutMs, const CommandIdRange &ids)
        : host(host), tcpPort(tcpPort), udpPort(udpPort), timeoutMs(timeoutMs), client(timeoutMs), ids(ids)
    {
    }

    void vmeWrite(const Vme &v, Done done) override
    {
        if (!connect(done))
            return;
        batch << command(v);
        pending.push_back(std::move(done));
    }

    void vmeRead(const Vme &v, Done done) override
    {
        if (!connect(done))
            return;
        drain();
        batch << command(v);
        pending.push_back(std::move(done));
        drain();
    }

    void drain() override
    {
        if (batch.isEmpty() && pending.empty())
            return;
        const QDeadlineTimer deadline(timeoutMs);
        CommandClient::Result r = batch.isEmpty() ? CommandClient::Result::Ok : client.send(batch, deadline);
        const QList<TarnixCmd> sent = batch;
        batch.clear();
        for (int i = 0; i < sent.size(); ++i) {
            CommandClient::Packet answer;
            // Each answer has its own time-out from the moment the one before it came.
            if (r == CommandClient::Result::Ok)
                r = client.answer(answer, QDeadlineTimer(timeoutMs));
            Done done = std::move(pending.front());
            pending.pop_front();
            Result result;
            if (r != CommandClient::Result::Ok) {
                result.outcome = Result::NoAnswer;
                result.message = VmeAccess::failureText(r, client);
            } else if (VmeModeWord::hasError(answer.header.mode)) {
                result.outcome = Result::Refused;
                result.message = QStringLiteral("%1 at 0x%2").arg(VmeAccess::statusText(answer.header.mode)).arg(answer.header.address, 8, 16, QLatin1Char('0'));
            } else {
                result.data = answer.data;
            }
            done(result);
        }
    }

    int pipelineDepth() const override { return ids.size(); }

    void registerWrite(quint32 address, const QByteArray &data, Done done) override
    {
        rbcp(done, [&](QUdpThread &u) {
            if (u.Write(address, data.constData(), uint(data.size())) != uint(data.size()))
                return Result{Result::Refused, QStringLiteral("Write ERROR at 0x%1").arg(address, 8, 16, QLatin1Char('0')), {}};
            return Result();
        });
    }

    void registerRead(quint32 address, int length, Done done) override
    {
        rbcp(done, [&](QUdpThread &u) {
            Result r;
            r.data = QByteArray(length, '\0');
            if (u.Read(address, r.data.data(), uint(length)) != uint(length))
                return Result{Result::Refused, QStringLiteral("Read ERROR at 0x%1").arg(address, 8, 16, QLatin1Char('0')), {}};
            return r;
        });
    }

    void download(const DownloadPlan &plan, Done done) override
    {
        rbcp(done, [&](QUdpThread &u) {
            const QString failure = plan.run(u, true);
            return failure.isEmpty() ? Result{Result::Ok, QStringLiteral("verified %1 bytes").arg(plan.bytes()), {}}
                                     : Result{Result::Refused, failure, {}};
        });
    }

    void wait(int ms, Done done) override
    {
        QThread::msleep(ulong(ms));
        done(Result());
    }

private:
    TarnixCmd command(const Vme &v)
    {
        TarnixCmd cmd;
        cmd.address = v.address;
        cmd.length = quint32(v.length);
        cmd.mode = v.mode;
        cmd.id = ids.next();
        cmd.data = v.data;
        return cmd;
    }

    bool connect(const Done &done)
    {
        if (connected)
            return true;
        if (client.connectTo(host, tcpPort)) {
            connected = true;
            return true;
        }
        done(Result{Result::NoAnswer, VmeAccess::connectFailureText(host, tcpPort, client), {}});
        return false;
    }

    template <typename F>
    void rbcp(const Done &done, F job)
    {
        if (!udp) {
            udp = std::make_unique<QUdpThread>();
            udp->SetIpAddress(QHostAddress(host), udpPort);
            udp->SetWaitCount(qMax(1, timeoutMs / QRbcp::WaitSliceMs));
            if (!udp->startUDP()) {
                udp.reset();
                done(Result{Result::NoAnswer, QStringLiteral("cannot open the RBCP socket for %1").arg(host), {}});
                return;
            }
        }
        Result r;
        try {
            r = job(*udp);
        } catch (QRbcp::ErrSts code) {
            udp->strError(code);
            r = Result{code == QRbcp::BusError ? Result::Refused : Result::NoAnswer, udp->errorLine(), {}};
            // The next access starts with a clean error text.
            udp.reset();
        } catch (const QString &text) {
            r = Result{Result::Refused, text, {}};
        }
        done(r);
    }

    QString host;
    quint16 tcpPort;
    quint16 udpPort;
    int timeoutMs;
    CommandClient client;
    CommandIdRange ids;
    bool connected = false;
    QList<TarnixCmd> batch;
    std::deque<Done> pending;
    std::unique_ptr<QUdpThread> udp;
};

