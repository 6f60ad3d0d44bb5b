#include "generalform.h"

#include "addresstext.h"
#include "operatorfont.h"
#include "ui_generalform.h"

#include <QHostAddress>
#include <QMessageBox>

#include <cstdio>
#include <limits>
#include <unistd.h>

GeneralForm::GeneralForm(QWidget *parent) : QWidget(parent), ui(new Ui::GeneralForm)
{
    ui->setupUi(this);
    applyOperatorFont(ui->textEdit, 9);
    ui->addressMode->setCurrentIndex(1);
}

GeneralForm::~GeneralForm()
{
    delete ui;
}

int GeneralForm::readWrite() const { return ui->readWrite->currentIndex(); }
int GeneralForm::dataMode() const { return ui->dataMode->currentIndex(); }
int GeneralForm::accessMode() const { return ui->accm->currentIndex(); }
int GeneralForm::addressMode() const { return ui->addressMode->currentIndex(); }
int GeneralForm::minID() const { return ui->minID->value(); }
int GeneralForm::maxID() const { return ui->maxID->value(); }

void GeneralForm::warn(const QString &text)
{
    QMessageBox::warning(this, QString(), text, QMessageBox::Ok);
}

void GeneralForm::setDefault(const QByteArray &defaults)
{
    if (defaults.size() <= 5)
        return;
    ui->addressMode->setCurrentIndex(qint8(defaults.at(0)));
    ui->accm->setCurrentIndex(qint8(defaults.at(1)));
    ui->dataMode->setCurrentIndex(qint8(defaults.at(2)));
    ui->readWrite->setCurrentIndex(qint8(defaults.at(3)));
    ui->minID->setValue(quint8(defaults.at(4)));
    ui->maxID->setValue(quint8(defaults.at(5)));
}

void GeneralForm::setConnect(bool offer)
{
    offerConnect = offer;
    ui->connect->setText(QStringLiteral("Tcp\n") +
                         (offer ? QStringLiteral("&Connect") : QStringLiteral("&Disconnect")));
}

void GeneralForm::setEnabledConnect(bool on)
{
    ui->connect->setEnabled(on);
}

void GeneralForm::on_connect_clicked()
{
    if (!offerConnect) {
        ui->connect->setEnabled(false);
        emit disconnectTCP();
        return;
    }
    targetAddress = ui->address->text();
    quint32 target = 0;
    if (!AddressText::ipv4(targetAddress, &target) || target == 0) {
        warn(QStringLiteral("%1 is an invalid address.").arg(targetAddress));
        return;
    }
    // The connection reads the address again: hand it over in the form that reads only one way.
    targetAddress = QHostAddress(target).toString();
    bool ok = false;
    const uint port = ui->tcp->text().toUInt(&ok, 10);
    if (!ok || port < 1 || port > 65535) {
        warn(QStringLiteral("Invalid TCP Port Number: %1").arg(ui->tcp->text()) +
             QStringLiteral("\nThe port has to be a value from 1 to ") + QStringLiteral("65535"));
        return;
    }
    ui->connect->setEnabled(false);
    emit connectTcp(targetAddress, quint16(port));
}

void GeneralForm::on_minID_editingFinished()
{
    ui->maxID->setMinimum(ui->minID->value());
}

void GeneralForm::on_maxID_editingFinished()
{
    ui->minID->setMaximum(ui->maxID->value());
}

void GeneralForm::setRbcpTiming(int waitSlices, int retries)
{
    rbcpWaitSlices = waitSlices;
    rbcpRetries = retries;
}

QUdpThread *GeneralForm::newWorker()
{
    auto *worker = new QUdpThread(this);
    if (rbcpWaitSlices > 0)
        worker->SetWaitCount(rbcpWaitSlices);
    if (rbcpRetries > 0)
        worker->SetRetry(rbcpRetries);
    return worker;
}

void GeneralForm::setJobRunning()
{
    emit setUdp(nullptr);
    emit setTabEnabled(false);
    ui->read->setEnabled(false);
    ui->write->setEnabled(false);
}

void GeneralForm::on_read_clicked()
{
    // A job of the worker still running (a download that borrowed it) would swallow this one.
    if (downloadRunning || (udpThread && udpThread->isRunning()))
        return;
    bool ok = false;
    const uint port = ui->udp->text().toUInt(&ok, 10);
    if (!ok || port < 1 || port > 65535) {
        warn(QStringLiteral("Invalid UDP Port Number: %1").arg(ui->udp->text()) +
             QStringLiteral("\nThe port has to be a value from 1 to ") + QStringLiteral("65535"));
        return;
    }
    const QHostAddress host = AddressText::host(ui->address->text());
    if (host.isNull()) {
        warn(QStringLiteral("Invalid IP Address: ") + ui->address->text());
        return;
    }

    ui->textEdit->clear();
    ui->connect->setEnabled(false);
    setJobRunning();

    if (udpThread) {
        if (!udpThread->SetIpAddress(host, quint16(port))) {
            udpThread->setCmd(QUdpThread::CmdReadInfo);
            udpThread->start();
            return;
        }
        delete udpThread;
        udpThread = nullptr;
    }
    udpThread = newWorker();
    udpThread->SetIpAddress(host, quint16(port));
    udpThread->setCmd(QUdpThread::CmdReadInfo);
    udpThread->start();
}

void GeneralForm::on_write_clicked()
{
    if (downloadRunning || !udpThread || udpThread->isRunning())
        return;
    quint32 newAddress = 0;
    if (!AddressText::ipv4(ui->newAddr->text(), &newAddress) || newAddress == 0) {
        warn(QStringLiteral("%1 is an invalid address.").arg(ui->newAddr->text()));
        return;
    }
    bool ok = false;
    const quint16 tcp = ui->newTcp->text().toUShort(&ok, 10);
    if (!ok) {
        warn(QStringLiteral("%1 is an invalid port number.").arg(ui->newTcp->text()));
        return;
    }
    const quint16 udp = ui->newUdp->text().toUShort(&ok, 10);
    if (!ok) {
        warn(QStringLiteral("%1 is an invalid port number.").arg(ui->newUdp->text()));
        return;
    }
    setJobRunning();
    udpThread->setNewAddress(newAddress, tcp, udp);
    udpThread->start();
}

void GeneralForm::displayInfo(QString *text)
{
    ui->read->setEnabled(true);
    ui->write->setEnabled(true);
    ui->textEdit->setPlainText(*text);
    ui->connect->setEnabled(true);
    emit setUdp(udpThread);
    emit setTabEnabled(true);
}

void GeneralForm::displayError(QString *text)
{
    // The text lives in the worker: show it before the worker goes.
    emit displayUdpError(text);
    delete udpThread;
    udpThread = nullptr;
    emit setUdp(nullptr);
    emit setTabEnabled(true);
    ui->read->setEnabled(true);
    ui->write->setEnabled(false);
    ui->connect->setEnabled(true);
    setConnect(true);
    ui->textEdit->clear();
}

void GeneralForm::displayTcp(quint16) {}

void GeneralForm::setParam(int argc, char **argv)
{
    logSize = 512;
    readBufferSize = 8;
    readRequestSize = 1024;
    sleepTime = 40;

    bool usage = false;
    auto number = [&usage](int &target) {
        bool ok = false;
        const int v = QString::fromLocal8Bit(optarg).toInt(&ok, 10);
        if (ok)
            target = v;
        else
            usage = true;
    };

    optind = 0; // a full re-initialisation of getopt for every parse
    int c;
    while ((c = getopt(argc, argv, "a:l:t:s:r:h?")) != -1) {
        switch (c) {
        case 'a': {
            const QString text = QString::fromLocal8Bit(optarg);
            QHostAddress host;
            if (host.setAddress(text))
                ui->address->setText(text);
            break;
        }
        case 'l':
            number(logSize);
            // The log keeps logSize x 1024 blocks, counted in an int.
            logSize = qMin(logSize, std::numeric_limits<int>::max() / 1024);
            break;
        case 't':
            number(readBufferSize);
            readBufferSize = qMax(readBufferSize, 0); // 0: unlimited; a negative size never reads
            break;
        case 'r': number(readRequestSize); break;
        case 's': number(sleepTime); break;
        default: usage = true; break;
        }
    }

    if (usage) {
        const QByteArray text = QByteArray("Usage: ") + QByteArray(argc > 0 && argv[0] ? argv[0] : "") +
                                " \\ \n [-a <Target address: 192.168.10.16>]"
                                " \\ \n [-l <Max block size of Log: 512(*1024)>]"
                                " \\ \n [-t <TcpSocket's internal read buffer: 8(kbytes)>]"
                                " \\ \n [-r <Max read request size: 1024(bytes)>]"
                                " \\ \n [-s <Sleep time: 40(ms)>]"
                                "\n";
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        std::fflush(stdout);
    }
}
