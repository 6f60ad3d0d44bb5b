// The Received Log tab's run controls and what a run's header says of the window.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "programfile.h"
#include "programtext.h"
#include "recordcontrol.h"
#include "runwriter.h"
#include "streamtap.h"
#include "tcpthread.h"

#include <QCoreApplication>
#include <QLabel>
#include <QSysInfo>

void MainWindow::setupRecordControl()
{
    auto *status = new QLabel(ui->statusBar);
    status->setObjectName(QStringLiteral("runStatus"));
    ui->statusBar->addPermanentWidget(status);
    RecordControl::Hooks hooks;
    hooks.thread = [this] { return tcp; };
    hooks.header = [this] { return runHeader(); };
    hooks.appendLog = [this](QString *text) { appendLog(text); };
    hooks.rates = &rates;
    hooks.observer = [this] { return std::make_unique<HistogramFill>(&histograms); };
    hooks.attach = [this](ReportRecorder *writer) {
        runWriter = writer;
        attachRecorders();
    };
    hooks.logThreshold = logBlocks / 4;
    recorder = new RecordControl(hooks, status, ui->tab_3);
    recorder->setObjectName(QStringLiteral("recordControl"));
    // After Clear and Save, before the spacer.
    ui->horizontalLayout_3->insertWidget(2, recorder);
}

RunHeader MainWindow::runHeader()
{
    RunHeader h;
    h.tool = QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion();
    h.os = QSysInfo::prettyProductName();
    h.moduleAddress = connectedHost;
    h.tcpPort = connectedPort;
    h.programFile = lastFile;
    // The program table as the last layout holds it, when there is one.
    if (!programs.isEmpty()) {
        const QByteArray bytes =
            ProgramFile::encode(memory, {addressMode(), accessMode(), dataMode(), readWrite()}, quint8(checkEvent()),
                                ui->tab_4->minID(), ui->tab_4->maxID());
        QString text, failure;
        if (ProgramText::print(bytes, QStringLiteral("table"), text, failure))
            h.programText = text;
    }
    return h;
}

void MainWindow::attachRecorders()
{
    if (!tcp)
        return;
    // Once stopRecording returns the worker leaves both recorders alone, so the tap's chain can
    // be changed.
    tcp->stopRecording();
    if (reportTap) {
        reportTap->setNext(runWriter);
        tcp->startRecording(reportTap);
    } else if (runWriter) {
        tcp->startRecording(runWriter);
    }
}
