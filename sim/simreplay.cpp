#include "simreplay.h"

#include "runreader.h"
#include "simconnection.h"

#include <algorithm>

bool SimRun::load(const QString &path, QString *error)
{
    RunReader reader;
    if (!reader.open(path)) {
        *error = QStringLiteral("cannot read \"%1\": %2").arg(path, reader.errorString());
        return false;
    }
    RunBatch batch;
    while (reader.next(batch)) {
        times.append(batch.timeNs);
        blocks.append(QByteArray(batch.data, batch.size));
        forEachReport(batch, [this](const RunReport &) { ++reports; });
    }
    // A run cut short by a crash is replayed up to its last whole block.
    if (reader.status() != RunReader::Status::Complete && reader.status() != RunReader::Status::Cut) {
        *error = QStringLiteral("\"%1\": %2").arg(path, reader.errorString());
        return false;
    }
    return true;
}

SimReplay::SimReplay(SimConnection *connection, std::shared_ptr<const SimRun> run, double speed)
    : QObject(connection), connection(connection), run(std::move(run)), speed(speed)
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &SimReplay::pump);
}

void SimReplay::start()
{
    clock.start();
    pump();
}

void SimReplay::pump()
{
    while (connection && block < run->blocks.size()) {
        if (speed > 0) {
            const double due = double(run->times.at(block) - run->times.first()) / speed;
            const qint64 early = qint64(due) - clock.nsecsElapsed();
            if (early > 0) {
                timer.start(int(std::clamp<qint64>(early / 1000000, 0, 1000)));
                return;
            }
        }
        if (connection->pendingBytes() >= SimConnection::HighWater) {
            timer.start(1);
            return;
        }
        const QByteArray &bytes = run->blocks.at(block);
        RunBatch b{0, bytes.constData(), bytes.size()};
        bool open = true;
        forEachReport(b, [&](const RunReport &r) {
            if (open)
                open = connection->sendPacket(QByteArray(r.data - KelvoPacket::HeaderSize,
                                                         KelvoPacket::HeaderSize + r.dataSize));
        });
        if (!open)
            return;
        ++block;
    }
}
