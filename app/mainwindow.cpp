#include "mainwindow.h"

#include "generalform.h"
#include "operationstatus.h"
#include "operatorfont.h"
#include "histogramstab.h"
#include "ratestab.h"
#include "exportsettings.h"
#include "tarnixcmdform.h"
#include "tcpthread.h"
#include "ui_mainwindow.h"
#include "windowsequence.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QTextStream>

MainWindow::MainWindow(int argc, char **argv, QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), book([this](unsigned char &low, unsigned char &high) {
          low = static_cast<unsigned char>(ui->tab_4->minID());
          high = static_cast<unsigned char>(ui->tab_4->maxID());
      })
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    applyOperatorFont(ui->log, 9);
    readVersionFile();
    savedBase = ui->log->palette().color(QPalette::Base);

    setupProgramPage();
    setupSequence();

    ui->tab_2->setMainWindow(this);

    ui->tab_4->setParam(argc, argv);
    readBufferKB = ui->tab_4->readBufferSize;
    logBlocks = ui->tab_4->logSize * 1024;
    ui->log->setMaximumBlockCount(logBlocks);

    connect(ui->tab_4, &GeneralForm::setUdp, this, &MainWindow::setUdp);
    connect(ui->tab_4, &GeneralForm::setTabEnabled, this, &MainWindow::setTabEnabled);
    connect(ui->tab_4, &GeneralForm::displayUdpError, this, &MainWindow::displayUdpError);
    connect(ui->tab_4, &GeneralForm::connectTcp, this, &MainWindow::connectTcp);
    connect(ui->tab_4, &GeneralForm::disconnectTCP, this, &MainWindow::disconnectTCP);

    // Settings jobs: the General tab has started its worker when it locked its buttons; the job
    // ended well when the tab lends the worker again (a failure comes through displayUdpError).
    operation = new OperationStatus(ui->statusBar);
    const auto watchSettingsJob = [this](const char *button, const QString &name) {
        auto *b = ui->tab_4->findChild<QPushButton *>(QLatin1String(button));
        connect(b, &QPushButton::clicked, this, [this, b, name] {
            if (!b->isEnabled() && ui->tab_4->worker()) {
                settingsJob = true;
                operation->begin(name, ui->tab_4->worker());
            }
        });
    };
    watchSettingsJob("read", QStringLiteral("Settings read"));
    watchSettingsJob("write", QStringLiteral("Settings write"));
    connect(ui->tab_4, &GeneralForm::setUdp, this, [this](QUdpThread *p) {
        if (p && settingsJob)
            operation->finish(true);
        settingsJob = settingsJob && !p;
    });

    // After the four pages, so that every page keeps its index.
    ratesTab = new RatesTab(&rates, ui->tabWidget);
    ratesTab->setObjectName(QStringLiteral("tab_rates"));
    ui->tabWidget->addTab(ratesTab, QStringLiteral("Rates"));
    histogramsTab = new HistogramsTab(&histograms, [this] { return ratesTab->lastSample().sources; }, ui->tabWidget);
    histogramsTab->setObjectName(QStringLiteral("tab_histograms"));
    ui->tabWidget->addTab(histogramsTab, QStringLiteral("Histograms"));
    setupRecordControl();
    exportSettings = new ExportSettings(&rates, ratesTab);
    ratesTab->addSettingsRow(exportSettings);
    connect(exportSettings, &ExportSettings::tapChanged, this, [this](ReportRecorder *tap) {
        if (tcp && tap)
            tcp->startRecording(tap);
        else if (tcp)
            tcp->stopRecording();
    });

    ui->tabWidget->setTabEnabled(3, false);
    ui->tabWidget->setCurrentIndex(0);
    ui->clear->setAutoDefault(false);
    modified = false;
}

MainWindow::~MainWindow()
{
    clear();
    delete tcp; // stops the worker and waits for its loop to end
    tcp = nullptr;
    delete ui;
}

void MainWindow::readVersionFile()
{
    QFile file(QCoreApplication::applicationDirPath() + QStringLiteral("/version.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    QTextStream in(&file);
    QString line;
    while (in.readLineInto(&line)) {
        if (line.startsWith(QLatin1Char('v'))) {
            ui->labelVersion->setText(line.replace(QLatin1Char('v'), QStringLiteral("Version")));
            ui->labelVersion->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            return;
        }
    }
}

int MainWindow::addressMode() { return ui->tab_4->addressMode(); }
int MainWindow::accessMode() { return ui->tab_4->accessMode(); }
int MainWindow::dataMode() { return ui->tab_4->dataMode(); }
int MainWindow::readWrite() { return ui->tab_4->readWrite(); }

void MainWindow::setTabEnabled(bool on)
{
    ui->tabWidget->setTabEnabled(1, on);
    ui->tabWidget->setTabEnabled(2, on);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (modified) {
        const auto answer = QMessageBox::warning(
            this, QString(), QStringLiteral("The settings has been modified.\nDo you want to discard your changes?"),
            QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Cancel);
        if (answer != QMessageBox::Discard) {
            event->ignore();
            return;
        }
    }
    event->accept();
}

void MainWindow::setLogBase(const QColor &color)
{
    QPalette pal = ui->log->palette();
    pal.setColor(QPalette::All, QPalette::Base, color);
    ui->log->setPalette(pal);
}

void MainWindow::connectTcp(QString addr, quint16 port)
{
    ui->statusBar->showMessage(QStringLiteral("Connecting..."));
    if (tcp) {
        delete tcp; // stops it first
        tcp = nullptr;
    }
    connectedHost = addr;
    connectedPort = port;
    tcp = new QTcpThread(addr, port, this);
    tcp->setParam(quint8(ui->tab_4->minID()), quint8(ui->tab_4->maxID()), logBlocks / 4, readBufferKB,
                  ui->tab_4->readRequestSize, ui->tab_4->sleepTime);
    tcp->setRates(&rates);
    tcp->setObserver(std::make_unique<HistogramFill>(&histograms));
    exportSettings->setModule(addr, port);
    if (ReportRecorder *tap = exportSettings->tap())
        tcp->startRecording(tap);
    tcp->start();
}

void MainWindow::disconnectTCP()
{
    if (tcp) {
        delete tcp;
        tcp = nullptr;
    }
}

void MainWindow::startTcp()
{
    ui->statusBar->showMessage(QStringLiteral("connected"));
    ui->tab_4->setConnect(false);
    ui->tab_4->setEnabledConnect(true);
    ui->tab_2->setTcp(tcp);
    ui->tab_2->setDataMode(ui->tab_4->dataMode());
    ui->tab_2->setAddressMode(ui->tab_4->addressMode());
    ui->tab_2->setAccessMode(ui->tab_4->accessMode());
    ui->tab_2->setID(quint8(ui->tab_4->minID()));
    ui->tabWidget->setTabEnabled(3, true);
    setLogBase(Qt::white);
    exportSettings->setConnected(true);
}

void MainWindow::stopped()
{
    exportSettings->setConnected(false);
    ui->statusBar->showMessage(QStringLiteral("disconnected"));
    ui->tabWidget->setTabEnabled(3, false);
    ui->tab_4->setConnect(true);
    ui->tab_4->setEnabledConnect(true);
    setLogBase(savedBase);
}

void MainWindow::displayError(QString *text)
{
    ui->statusBar->showMessage(QString());
    QMessageBox::warning(this, QStringLiteral("Tarnix Error"), *text, QMessageBox::Ok);
    ui->tab_4->setEnabledConnect(true);
    setLogBase(savedBase);
}

void MainWindow::displayUdpError(QString *text)
{
    operation->finish(false);
    settingsJob = false;
    QMessageBox::warning(this, QStringLiteral("Tarnix Error"), *text + downloadFailureNote(), QMessageBox::Ok);
}

void MainWindow::received(quint8 id, quint16 mode, QByteArray *buf)
{
    // A running sequence takes the answers to its own commands (its IDs are not the tab's).
    if (sequence)
        sequence->answered(id, mode, buf);
    ui->tab_2->received(id, mode, *buf);
    buf->clear();
}

void MainWindow::appendLog(QString *log)
{
    ui->log->appendPlainText(*log);
    log->clear();
}

void MainWindow::on_clear_clicked()
{
    ui->log->clear();
}

void MainWindow::on_saveLog_clicked()
{
    const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Save"), QDir::currentPath(),
                                                      QStringLiteral("All Files(*)"));
    if (name.isEmpty())
        return;
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QMessageBox::warning(this, QStringLiteral("File save"),
                             QStringLiteral("\"%1\": Can't open file for writing\n%2.").arg(name, file.errorString()),
                             QMessageBox::Ok);
        return;
    }
    const QByteArray text = ui->log->toPlainText().toLatin1();
    // A full disk shows only when the buffered text is written out: check the write and the flush.
    if (file.write(text) != text.size() || !file.flush()) {
        QMessageBox::warning(this, QStringLiteral("File save"),
                             QStringLiteral("\"%1\": Can't write file\n%2.").arg(name, file.errorString()),
                             QMessageBox::Ok);
        return;
    }
    file.close();
}
