#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// Stands in for the main window of a command connection: the thread connects to these slots by
// name. Records the events, responses and log text in order; `onReceived` may pass responses on
// (to a tab, say).
class TcpOwner : public QObject
{
    Q_OBJECT
public:
    QStringList events;          // "connected", "error", "closed"
    QList<QByteArray> responses;
    QList<quint8> ids;
    QList<quint16> modes;
    QString log;
    QString lastError;
    QStringList errors;
    int logDeliveries = 0;
    int passes = 0;              // a test may advance it once per pass of the event loop
    QList<int> appendPasses;     // the pass in which each log string arrived
    int logSizeAtError = -1;
    std::function<void(quint8, quint16, const QByteArray &)> onReceived;

    bool up() const { return !events.isEmpty() && events.last() == QLatin1String("connected"); }

public slots:
    void startTcp() { events << QStringLiteral("connected"); }
    void stopped() { events << QStringLiteral("closed"); }
    void displayError(QString *text)
    {
        lastError = *text;
        errors << *text;
        logSizeAtError = int(log.size());
        events << QStringLiteral("error");
    }
    void received(quint8 id, quint16 mode, QByteArray *buf)
    {
        ids << id;
        modes << mode;
        responses << *buf;
        if (onReceived)
            onReceived(id, mode, *buf);
        buf->clear();
    }
    void appendLog(QString *text)
    {
        log += *text;
        ++logDeliveries;
        appendPasses << passes;
        text->clear();
    }
};
