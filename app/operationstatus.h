#pragma once

#include "rbcpprogress.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

class QLabel;
class QProgressBar;
class QRbcp;
class QStatusBar;

// The right-hand end of the status bar: what a long RBCP operation (a settings read or write, a
// download) is doing and how far it got, from the worker's progress; then its outcome, which
// stays until the next operation begins. The left-hand message (the connection) is left alone.
class OperationStatus : public QObject
{
    Q_OBJECT
public:
    explicit OperationStatus(QStatusBar *bar);

    // A new operation named operation (e.g. "Download") runs on worker from now on.
    void begin(const QString &operation, QRbcp *worker);
    // The operation ended; nothing happens when none is running.
    void finish(bool ok);
    bool isRunning() const { return running; }
    QString text() const;

signals:
    // Every text shown, in order (retries included, which may show only for a moment).
    void changed(const QString &text);

private slots:
    void show(const RbcpProgress &state);

private:
    void setText(const QString &text);

    QLabel *label;
    QProgressBar *bar;
    QString operation;
    QElapsedTimer clock;
    RbcpProgress last;
    QPointer<QRbcp> worker;
    quint64 lastSequence = 0;
    bool running = false;
};
