#include "tarnixcmdform.h"

#include "hexlayout.h"
#include "modeword.h"
#include "operatorfont.h"
#include "programhost.h"
#include "tarnixcmd.h"
#include "tcpthread.h"
#include "ui_tarnixcmdform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

namespace {

// Largest length in items of each data width: the length byte of a command counts bytes.
int maxItems(int width)
{
    return width == 1 ? 127 : width == 2 ? 63 : 255;
}

QString invalidSettingTitle()
{
    return QStringLiteral("Invalid Setting");
}

} // namespace

TarnixCmdForm::TarnixCmdForm(QWidget *parent) : QWidget(parent), ui(new Ui_TarnixCmdForm)
{
    ui->setupUi(this);
    applyOperatorFont(ui->dataText, 9);
    ui->dataText->setLineWrapMode(QTextEdit::NoWrap);
    dataWidth = ui->datm->currentIndex();
    showAddress = ui->dispAdr->isChecked();
    showEcho = ui->dispEcho->isChecked();
    echoWrite = false;
    rawAddress = true;
    startAddress = 0;

    connect(ui->datm, &QComboBox::currentIndexChanged, this, &TarnixCmdForm::changeDisplay);
    connect(ui->dispAdr, &QAbstractButton::clicked, this, &TarnixCmdForm::changeDisplay);
    connect(ui->echoCheck, &QAbstractButton::clicked, this, &TarnixCmdForm::changeDisplay);
    connect(ui->dispEcho, &QAbstractButton::clicked, this, &TarnixCmdForm::changeDisplay);
}

TarnixCmdForm::~TarnixCmdForm()
{
    delete ui;
}

void TarnixCmdForm::setMainWindow(ProgramHost *w)
{
    mainWindow = w;
}

void TarnixCmdForm::setTcp(QTcpThread *t)
{
    tcp = t;
}

void TarnixCmdForm::setAddressMode(int i)
{
    ui->groupRW->setEnabled(true);
    ui->adrm->setCurrentIndex(i);
}

void TarnixCmdForm::setAccessMode(int i)
{
    ui->accm->setCurrentIndex(i);
}

void TarnixCmdForm::setDataMode(int i)
{
    ui->datm->setCurrentIndex(i);
}

void TarnixCmdForm::setID(quint8 id)
{
    nextID = id;
}

quint8 TarnixCmdForm::getID()
{
    quint8 id = nextID;
    unsigned char low = 0, high = 0;
    if (mainWindow && mainWindow->checkInteractiveID(id, &low, &high))
        id = low;
    nextID = quint8(id + 1);
    return id;
}

void TarnixCmdForm::on_echoCheck_toggled(bool checked)
{
    ui->dispEcho->setEnabled(checked);
}

void TarnixCmdForm::on_readButton_clicked()
{
    readCmd = true;
    echoData.clear();
    setCmd(true);
}

void TarnixCmdForm::on_writeButton_clicked()
{
    readCmd = false;
    setCmd(false);
}

void TarnixCmdForm::refuse(const QString &text)
{
    QMessageBox::warning(this, invalidSettingTitle(), text, QMessageBox::Ok);
}

void TarnixCmdForm::setCmd(bool read)
{
    VmeModeWord instruction;
    instruction.read = read;
    instruction.echo = !read && ui->echoCheck->isChecked();
    instruction.noEcho = false;
    instruction.accessMode = ui->accm->currentIndex();
    instruction.addressMode = ui->adrm->currentIndex();
    instruction.dataMode = ui->datm->currentIndex();

    quint32 address = 0;
    if (!HexLayout::parseAddress(ui->addrEdit->text(), &address)) {
        refuse(QStringLiteral("Please set address correctly."));
        return;
    }
    const int width = instruction.dataMode;
    if (width == 2 && address % 4 != 0) {
        refuse(QStringLiteral("The address must be 4byte aligned."));
        return;
    }
    if (width == 1 && address % 2 != 0) {
        refuse(QStringLiteral("The address must be 2byte aligned."));
        return;
    }
    ui->addrEdit->setText(QStringLiteral("0x%1").arg(address, 8, 16, QLatin1Char('0')));

    quint64 items = 0;
    const int largest = maxItems(width);
    if (!HexLayout::parseLength(ui->lenEdit->text(), &items) || items > quint64(largest)) {
        refuse(QStringLiteral("Please set Length(0-%1) correctly.").arg(largest));
        return;
    }
    const int itemBytes = HexLayout::itemSize(width);
    const int byteLength = int(items) * itemBytes;

    if (!read) {
        getData(srcData);
        if (srcData.size() != byteLength) {
            refuse(QStringLiteral("Please set Data for write correctly.\n") +
                   QStringLiteral("Mismatch between %1(Length) and %2(a number of Data)")
                       .arg(byteLength)
                       .arg(srcData.size() / itemBytes));
            return;
        }
    } else {
        srcData.clear();
    }

    // Without a connection there is nobody to answer: leave the group usable.
    if (!tcp)
        return;
    ui->groupRW->setEnabled(false);
    cmdID = getID();

    auto *cmd = new TarnixCmd;
    cmd->address = address;
    cmd->length = quint32(byteLength);
    cmd->mode = instruction.mode();
    cmd->id = cmdID;
    cmd->data = srcData;
    tcp->setCmd(cmd);
}

void TarnixCmdForm::getData(QByteArray &out)
{
    out = HexLayout::readText(ui->dataText->toPlainText(), showAddress, showEcho);
}

void TarnixCmdForm::received(quint8 id, quint16 mode, const QByteArray &data)
{
    if (id != cmdID)
        return;
    // The buffer is lent by the worker; keep a copy across the modal box.
    const QByteArray bytes = data;
    if (VmeModeWord::hasError(mode)) {
        QString text;
        if (mode & VmeModeWord::StatusVmeError)
            text += QStringLiteral("VME error\n");
        if (mode & VmeModeWord::StatusParamError)
            text += QStringLiteral("Detected parameter error\n");
        text += QStringLiteral("MODE:0x%1").arg(mode, 4, 16, QLatin1Char('0'));
        QMessageBox::warning(this, QStringLiteral("Error detection"), text, QMessageBox::Ok);
    }
    if (readCmd) {
        echoData.clear();
        srcData = bytes;
    } else {
        echoData = bytes;
    }
    dumpData(srcData);
    ui->groupRW->setEnabled(true);
}

void TarnixCmdForm::dumpData(const QByteArray &data)
{
    showAddress = ui->dispAdr->isChecked();
    dataWidth = ui->datm->currentIndex();
    startAddress = HexLayout::rowAddress(ui->addrEdit->text());
    if (data.isEmpty())
        return;
    if (showEcho) {
        dumpEchoData(data, echoData);
        return;
    }
    ui->dataText->setPlainText(HexLayout::plainText(data, dataWidth, showAddress, startAddress));
}

void TarnixCmdForm::dumpEchoData(const QByteArray &source, const QByteArray &echo)
{
    ui->dataText->setPlainText(HexLayout::echoText(source, echo, dataWidth, showAddress, startAddress));
}

void TarnixCmdForm::dumpBytes(QString &text, const QByteArray &data, int start, int column)
{
    HexLayout::dumpBytes(text, data, start, column, showAddress, startAddress);
}

void TarnixCmdForm::dumpD8(QString &text, const QByteArray &data, int start, int count)
{
    HexLayout::dumpD8(text, data, start, count);
}

void TarnixCmdForm::dumpD16(QString &text, const QByteArray &data, int start, int count)
{
    HexLayout::dumpD16(text, data, start, count);
}

void TarnixCmdForm::dumpD32(QString &text, const QByteArray &data, int start, int count)
{
    HexLayout::dumpD32(text, data, start, count);
}

void TarnixCmdForm::changeDisplay()
{
    const int width = ui->datm->currentIndex();
    const bool address = ui->dispAdr->isChecked();
    const bool echoDisplay = ui->dispEcho->isChecked();
    const bool echoChecked = ui->echoCheck->isChecked();
    startAddress = HexLayout::rowAddress(ui->addrEdit->text());

    QByteArray data;
    if (address != showAddress) {
        getData(data);
        // Only a valid address is put into its full form: an invalid one stays as typed so
        // that the next command is refused rather than sent elsewhere.
        quint32 typed = 0;
        if (rawAddress && HexLayout::parseAddress(ui->addrEdit->text(), &typed)) {
            ui->addrEdit->setText(QStringLiteral("0x%1").arg(typed, 8, 16, QLatin1Char('0')));
            rawAddress = false;
        }
    } else if (width != dataWidth) {
        getData(data);
        dataWidth = width;
    } else if (echoChecked != echoWrite) {
        echoWrite = echoChecked;
        ui->dispEcho->setEnabled(echoChecked);
        if (!showEcho)
            return;
        getData(data);
        ui->dispEcho->setChecked(false);
        showEcho = false;
    } else if (echoDisplay != showEcho) {
        getData(data);
        rawAddress = false;
        showEcho = echoDisplay;
    }
    dumpData(data);
}

void TarnixCmdForm::on_open_clicked()
{
    const QString start = fileName.isEmpty() ? QDir::homePath() : fileName;
    const QString name = QDir::toNativeSeparators(
        QFileDialog::getOpenFileName(this, QStringLiteral("Reading binary data from file"), start, QString()));
    if (name.isEmpty())
        return;
    fileName = name;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        QMessageBox::warning(this, QCoreApplication::applicationName(),
                             QStringLiteral("Cannot open file for reading: %1.").arg(file.errorString()),
                             QMessageBox::Ok);
        return;
    }
    // Read one byte past the limit, so that neither a huge file nor a device without a size is
    // read whole before it is refused.
    const QByteArray bytes = file.read(MaxFileBytes + 1);
    if (bytes.size() > MaxFileBytes) {
        QMessageBox::warning(this, QCoreApplication::applicationName(),
                             QStringLiteral("Cannot load file: it holds more than %1 bytes.").arg(MaxFileBytes),
                             QMessageBox::Ok);
        return;
    }
    if (bytes.isEmpty())
        return;
    echoData.clear();
    showEcho = false;
    dumpData(bytes);
}

void TarnixCmdForm::on_save_clicked()
{
    const QString start = fileName.isEmpty() ? QDir::homePath() : fileName;
    const QString name = QDir::toNativeSeparators(
        QFileDialog::getSaveFileName(this, QStringLiteral("Writing binary data to file"), start, QString()));
    if (name.isEmpty())
        return;
    fileName = name;
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QMessageBox::warning(this, QCoreApplication::applicationName(),
                             QStringLiteral("Cannot open file for writing: %1.").arg(file.errorString()),
                             QMessageBox::Ok);
        return;
    }
    QByteArray bytes;
    getData(bytes);
    // A full disk shows only when the buffered bytes go out: a file that did not get every
    // byte is reported, and the length field keeps its value.
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    const QString error = file.errorString();
    file.close();
    if (!written) {
        QMessageBox::warning(this, QCoreApplication::applicationName(),
                             QStringLiteral("Cannot write file: %1.").arg(error), QMessageBox::Ok);
        return;
    }
    ui->lenEdit->setText(QString::number(bytes.size()));
}
