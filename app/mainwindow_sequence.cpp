// Set-up sequences in the window. They run from the Interactive Mode tab: like its own reads and
// writes, a sequence's VME steps go through the connection with IDs of the interactive range,
// and its answers are told apart from the programs' reports the same way.
#include "mainwindow.h"

#include "generalform.h"
#include "sequence.h"
#include "tarnixcmdform.h"
#include "tcpthread.h"
#include "ui_mainwindow.h"
#include "windowsequence.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>

void MainWindow::setupSequence()
{
    auto *row = new QWidget(ui->tab_2);
    row->setObjectName(QStringLiteral("sequenceRow"));
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    runSequenceButton = new QPushButton(QStringLiteral("Run sequence..."), row);
    runSequenceButton->setObjectName(QStringLiteral("runSequence"));
    stopSequenceButton = new QPushButton(QStringLiteral("Stop sequence"), row);
    stopSequenceButton->setObjectName(QStringLiteral("stopSequence"));
    stopSequenceButton->setEnabled(false);
    layout->addWidget(runSequenceButton);
    layout->addWidget(stopSequenceButton);
    layout->addStretch();
    if (ui->tab_2->layout())
        ui->tab_2->layout()->addWidget(row);
    connect(runSequenceButton, &QPushButton::clicked, this, [this] {
        const QString name = QFileDialog::getOpenFileName(this, QStringLiteral("Run sequence"), QString(),
                                                          QStringLiteral("Sequences (*.yaml *.yml);;All files (*)"));
        if (!name.isEmpty())
            runSequence(name);
    });
    connect(stopSequenceButton, &QPushButton::clicked, this, [this] {
        if (sequence)
            sequence->stop();
        stopSequenceButton->setEnabled(false);
    });
}

void MainWindow::lockForSequence(bool locked)
{
    // The Interactive Mode tab's own accesses, the download and the General tab's RBCP jobs
    // would share the workers with the sequence.
    if (locked) {
        QList<QWidget *> candidates = ui->tab_2->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
        candidates << ui->download << ui->tab_4;
        sequenceLocked.clear();
        for (QWidget *w : candidates) {
            if (w->objectName() != QStringLiteral("sequenceRow") && w->isEnabled()) {
                w->setEnabled(false);
                sequenceLocked << w;
            }
        }
    } else {
        for (QWidget *w : std::as_const(sequenceLocked))
            w->setEnabled(true);
        sequenceLocked.clear();
        ui->download->setEnabled(udp != nullptr && phase == DownloadIdle);
    }
    runSequenceButton->setEnabled(!locked);
    stopSequenceButton->setEnabled(locked);
}

bool MainWindow::runSequence(const QString &fileName)
{
    if (sequence || phase != DownloadIdle)
        return false;
    QList<Sequence::Step> steps;
    QString refused;
    if (const auto fault = Sequence::load(fileName, steps))
        refused = fault->text();
    else
        refused = WindowSequence::refusal(steps, tcp && tcp->isConnected(), udp != nullptr);
    if (!refused.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Sequence"), refused + QStringLiteral("\nNothing was sent."));
        return false;
    }
    const int low = ui->tab_4->minID(), high = ui->tab_4->maxID();
    sequence = new WindowSequence(tcp, udp, quint8(low), quint8(high), 3000, this);
    lockForSequence(true);
    const int n = int(steps.size());
    const QString name = QFileInfo(fileName).fileName();
    ui->log->appendPlainText(QStringLiteral("sequence %1: %2 steps").arg(fileName).arg(n));
    SequenceRunner::Observer observer;
    observer.started = [this, n, name](int index) {
        ui->statusBar->showMessage(QStringLiteral("Sequence %1: step %2 of %3").arg(name).arg(index + 1).arg(n));
    };
    observer.stepDone = [this, steps](int index, const QString &result) {
        ui->log->appendPlainText(steps.at(index).line(index) +
                                 (result.startsWith(QLatin1Char(':')) ? result : QLatin1Char(' ') + result));
    };
    observer.finished = [this, name](SequenceRunner::Outcome outcome, const QString &text) {
        ui->log->appendPlainText(text);
        ui->statusBar->showMessage(QStringLiteral("Sequence %1: %2").arg(name, outcome == SequenceRunner::Done ? text : QStringLiteral("failed")));
        // The runner is still on the stack: the sequence goes once this call has returned.
        QTimer::singleShot(0, this, [this] {
            delete std::exchange(sequence, nullptr);
            lockForSequence(false);
        });
    };
    sequence->run(steps, observer);
    return true;
}
