#include "reportpublisher.h"

#include <QtEndian>

#include <zmq.hpp>

ReportPublisher::ReportPublisher() = default;

ReportPublisher::~ReportPublisher() { close(); }

bool ReportPublisher::bind(const QString &endpoint, int highWaterMark)
{
    close();
    try {
        context = std::make_unique<zmq::context_t>(1);
        auto s = std::make_unique<zmq::socket_t>(*context, zmq::socket_type::pub);
        // A full queue makes send fail (EAGAIN) instead of dropping without a word, so that
        // every drop is counted; linger bounds how long the exit waits for slow subscribers.
        s->set(zmq::sockopt::xpub_nodrop, 1);
        s->set(zmq::sockopt::sndhwm, highWaterMark);
        s->set(zmq::sockopt::linger, LingerMs);
        s->bind(endpoint.toStdString());
        bound = QString::fromStdString(s->get(zmq::sockopt::last_endpoint));
        socket = std::move(s);
    } catch (const zmq::error_t &e) {
        error = QStringLiteral("cannot publish on \"%1\": %2").arg(endpoint, QString::fromUtf8(e.what()));
        socket.reset();
        context.reset();
        return false;
    }
    return true;
}

void ReportPublisher::close()
{
    socket.reset();
    context.reset();
}

QByteArray ReportPublisher::header(quint64 sequence, qint64 timeNs, quint32 reports)
{
    QByteArray h(HeaderSize, Qt::Uninitialized);
    uchar *p = reinterpret_cast<uchar *>(h.data());
    qToBigEndian(sequence, p);
    qToBigEndian(timeNs, p + 8);
    qToBigEndian(reports, p + 16);
    return h;
}

bool ReportPublisher::publish(const char *packets, qsizetype size, quint32 reports, qint64 timeNs)
{
    if (!socket || size <= 0)
        return false;
    const QByteArray head = header(sequence++, timeNs, reports);
    try {
        // A message goes as a whole or not at all: once its first frame is taken, the rest is.
        if (!socket->send(zmq::buffer(topic.constData(), size_t(topic.size())),
                          zmq::send_flags::sndmore | zmq::send_flags::dontwait)) {
            droppedCount.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        socket->send(zmq::buffer(head.constData(), size_t(head.size())),
                     zmq::send_flags::sndmore | zmq::send_flags::dontwait);
        socket->send(zmq::buffer(packets, size_t(size)), zmq::send_flags::dontwait);
    } catch (const zmq::error_t &) {
        droppedCount.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    sentCount.fetch_add(1, std::memory_order_relaxed);
    bytes.fetch_add(quint64(size), std::memory_order_relaxed);
    return true;
}
