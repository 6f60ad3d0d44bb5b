#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QUdpThread;

// Stands in for the General tab: the worker connects its signals to these slots by name. Every
// signal becomes one line of `events` ("error:<text>", "info:<text>", "tcp:<port>", "setFlg",
// "closed:<ok>").
class RbcpRecorder : public QObject
{
    Q_OBJECT
public:
    QStringList events;

    bool ended() const { return !events.isEmpty() && events.last().startsWith(QLatin1String("closed")); }
    // Also records the worker's closed() and setFlg() signals.
    void watch(QUdpThread *worker);

public slots:
    void displayError(QString *text) { events << QStringLiteral("error:") + *text; }
    void displayInfo(QString *text) { events << QStringLiteral("info:") + *text; }
    void displayTcp(quint16 port) { events << QStringLiteral("tcp:%1").arg(port); }
};
