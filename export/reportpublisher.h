#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>

namespace zmq {
class context_t;
class socket_t;
} // namespace zmq

// Publishes the module's reports on a ZeroMQ PUB socket, one message per batch of whole report
// packets as they came off the command channel. Each message has three frames:
//   1. the topic: the module's "address:port", so that a subscriber picks a crate by prefix;
//   2. a header of HeaderSize bytes, big-endian like the module's own packets: the message's
//      sequence number (u64, from 0, one per batch whether sent or dropped, so that a gap
//      says what a subscriber missed), the time the batch was read (i64, ns since the epoch)
//      and the number of reports in it (u32); later versions may only append fields;
//   3. the packets, byte for byte as the module sent them (12-byte header, then data).
// A subscriber that falls behind never slows the readout: once its queue holds the high-water
// mark's messages, further batches are dropped (for every subscriber: the socket refuses the
// message as a whole) and counted. Used from one thread; the counters may be read from any.
class ReportPublisher
{
public:
    static constexpr int HeaderSize = 20;
    static constexpr int DefaultHighWaterMark = 1000;
    static constexpr int LingerMs = 500;

    ReportPublisher();
    ~ReportPublisher();
    ReportPublisher(const ReportPublisher &) = delete;
    ReportPublisher &operator=(const ReportPublisher &) = delete;

    // Binds to a ZeroMQ endpoint ("tcp://127.0.0.1:5556", "tcp://*:5556", "ipc:///run/x");
    // "tcp://HOST:*" takes a free port. False with errorString() when it cannot.
    bool bind(const QString &endpoint, int highWaterMark = DefaultHighWaterMark);
    // The endpoint actually bound (with the port chosen for "*").
    QString endpoint() const { return bound; }
    QString errorString() const { return error; }
    bool isBound() const { return socket != nullptr; }

    void setTopic(const QByteArray &topic) { this->topic = topic; }
    // Sends one batch (never waits); false when it was dropped.
    bool publish(const char *packets, qsizetype size, quint32 reports, qint64 timeNs);
    void close();

    quint64 sent() const { return sentCount.load(std::memory_order_relaxed); }
    quint64 dropped() const { return droppedCount.load(std::memory_order_relaxed); }
    quint64 sentBytes() const { return bytes.load(std::memory_order_relaxed); }

    static QByteArray header(quint64 sequence, qint64 timeNs, quint32 reports);

private:
    std::unique_ptr<zmq::context_t> context;
    std::unique_ptr<zmq::socket_t> socket;
    QByteArray topic;
    QString bound;
    QString error;
    quint64 sequence = 0;
    std::atomic<quint64> sentCount{0};
    std::atomic<quint64> droppedCount{0};
    std::atomic<quint64> bytes{0};
};
