#include "operationstatus.h"

#include "rbcp.h"

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>

OperationStatus::OperationStatus(QStatusBar *statusBar)
    : QObject(statusBar), label(new QLabel(statusBar)), bar(new QProgressBar(statusBar))
{
    label->setObjectName(QStringLiteral("operationText"));
    bar->setObjectName(QStringLiteral("operationProgress"));
    bar->setRange(0, 1000);
    bar->setFixedWidth(90);
    bar->setTextVisible(true);
    bar->setFormat(QStringLiteral("%p%"));
    bar->hide();
    statusBar->addPermanentWidget(label);
    statusBar->addPermanentWidget(bar);
}

void OperationStatus::begin(const QString &name, QRbcp *newWorker)
{
    operation = name;
    running = true;
    last = RbcpProgress();
    clock.start();
    bar->setRange(0, 1000);
    bar->setValue(0);
    bar->show();
    setText(operation + QStringLiteral("..."));
    if (newWorker != worker) {
        // A worker not watched before may have published its first states before this call.
        worker = newWorker;
        lastSequence = 0;
        connect(newWorker, &QRbcp::progress, this, &OperationStatus::show, Qt::UniqueConnection);
        const RbcpProgress now = newWorker->progressNow();
        if (now.sequence)
            show(now);
    }
}

void OperationStatus::show(const RbcpProgress &state)
{
    if (sender() && sender() != worker)
        return;
    if (state.sequence <= lastSequence)
        return; // already shown through progressNow()
    lastSequence = state.sequence;
    if (!running || state.step == RbcpProgress::Idle)
        return;
    last = state;
    // Stopping the programs is one byte: a busy bar says more than 0 % jumping to 100 %.
    if (state.step == RbcpProgress::StoppingPrograms)
        bar->setRange(0, 0);
    else {
        bar->setRange(0, 1000);
        bar->setValue(state.permille());
    }
    setText(operation + QStringLiteral(": ") + state.text());
}

void OperationStatus::finish(bool ok)
{
    if (!running)
        return;
    running = false;
    const QString seconds = QString::number(clock.elapsed() / 1000.0, 'f', 1);
    bar->setRange(0, 1000);
    if (ok) {
        bar->setValue(1000);
        setText(QStringLiteral("%1 done: %2 bytes in %3 s").arg(operation).arg(last.done).arg(seconds));
        return;
    }
    bar->setValue(last.step == RbcpProgress::StoppingPrograms ? 0 : last.permille());
    QString where;
    if (last.step != RbcpProgress::Idle)
        where = QStringLiteral(": %1 at 0x%2 after %3 of %4 bytes")
                    .arg(RbcpProgress::stepText(last.step))
                    .arg(last.address, 8, 16, QLatin1Char('0'))
                    .arg(last.done)
                    .arg(last.total);
    setText(QStringLiteral("%1 failed%2 (%3 s)").arg(operation, where, seconds));
}

QString OperationStatus::text() const
{
    return label->text();
}

void OperationStatus::setText(const QString &text)
{
    label->setText(text);
    emit changed(text);
}
