#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVector>

#include <memory>

class SimConnection;

// A recorded run held in memory: its packet blocks with their time stamps.
struct SimRun
{
    QVector<qint64> times; // ns since the epoch, one per block
    QVector<QByteArray> blocks;
    qint64 reports = 0;

    // Reads a run file (or a raw capture, sent as one block); false with error set.
    bool load(const QString &path, QString *error);
};

// Sends a recorded run's reports to one client: each block when its time since the run's
// first block has come (divided by speed), or as fast as the socket takes them (speed 0). The
// packets go out through the connection, so its faults apply to them as to any report.
class SimReplay : public QObject
{
    Q_OBJECT
public:
    SimReplay(SimConnection *connection, std::shared_ptr<const SimRun> run, double speed);
    void start();

private:
    void pump();

    QPointer<SimConnection> connection;
    std::shared_ptr<const SimRun> run;
    double speed;
    QTimer timer;
    QElapsedTimer clock;
    int block = 0;
};
