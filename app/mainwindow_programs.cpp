// The Program tab: the program table, the event table and the download into the module.
#include "mainwindow.h"

#include "download.h"
#include "editdialog.h"
#include "generalform.h"
#include "operationstatus.h"
#include "programlayout.h"
#include "programwarnings.h"
#include "ui_mainwindow.h"
#include "vmeprogram.h"

#include <QAction>
#include <QHeaderView>
#include <QMessageBox>
#include <QTableWidgetItem>
#include <QTimer>

namespace {
const QString InvalidSetting = QStringLiteral("Invalid Setting");

QString eventName(int row)
{
    return row == 0 ? QStringLiteral("Polling") : QStringLiteral("Interrupt%1").arg(row);
}
} // namespace

void MainWindow::setupProgramPage()
{
    ui->tableWidget->setColumnCount(1);
    ui->tableWidget->setColumnWidth(0, 400);
    ui->tableWidget->setRowCount(0);
    ui->tableWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->tableWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    editAction = new QAction(QStringLiteral("edit"), ui->tableWidget);
    delAction = new QAction(QStringLiteral("del"), ui->tableWidget);
    editAction->setEnabled(false);
    delAction->setEnabled(false);
    ui->tableWidget->addAction(editAction);
    ui->tableWidget->addAction(delAction);
    ui->tableWidget->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(editAction, &QAction::triggered, this, qOverload<>(&MainWindow::edit));
    connect(delAction, &QAction::triggered, this, &MainWindow::del);

    ui->propertyWidget->setColumnCount(1);
    ui->propertyWidget->setRowCount(8);
    ui->propertyWidget->horizontalHeader()->setDefaultSectionSize(300);
    // Without scroll bars all eight events must show: the rows share the table's height.
    ui->propertyWidget->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    ui->propertyWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->propertyWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->propertyWidget->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (int row = 0; row < 8; ++row)
        setProperty(row, eventName(row), true);
    propertyAction = new QAction(QStringLiteral("edit"), ui->propertyWidget);
    ui->propertyWidget->addAction(propertyAction);
    ui->propertyWidget->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(propertyAction, &QAction::triggered, this, &MainWindow::propertyEdit);

    // The table's warnings where the operator looks before Download: on the rows they concern
    // and on the Download button. Refreshed, once per turn of the event loop, after a change of
    // the table, of the events or of a program in the editor.
    auto *warnings = new QTimer(this);
    warnings->setObjectName(QStringLiteral("programWarnings"));
    warnings->setSingleShot(true);
    warnings->setInterval(0);
    const QString downloadTip = ui->download->toolTip();
    connect(warnings, &QTimer::timeout, this, [this, downloadTip] { showWarnings(downloadTip); });
    const auto later = [warnings] { warnings->start(); };
    connect(ui->tableWidget->model(), &QAbstractItemModel::rowsInserted, warnings, later);
    connect(ui->tableWidget->model(), &QAbstractItemModel::rowsRemoved, warnings, later);
    connect(ui->tableWidget->model(), &QAbstractItemModel::dataChanged, warnings, later);
    connect(ui->propertyWidget, &QTableWidget::itemChanged, warnings, later);

    stopWait.setSingleShot(true);
    stopWait.setTimerType(Qt::PreciseTimer); // a coarse timer may fire up to 5 % early
    connect(&stopWait, &QTimer::timeout, this, [this] {
        stopWaitOver = true;
        download();
    });
}

bool MainWindow::checkInteractiveID(unsigned char id, unsigned char *min, unsigned char *max)
{
    return book.checkInteractiveID(id, min, max);
}
bool MainWindow::checkID(unsigned char id) { return book.checkID(id); }
bool MainWindow::getFreeID(unsigned char &id) { return book.getFreeID(id); }
bool MainWindow::setID(unsigned char id, bool used) { return book.setID(id, used); }
bool MainWindow::checkVectorID(int number) { return book.checkVectorID(number, programs); }

// Program table

bool MainWindow::add(int number)
{
    auto *program = new VmeProgram;
    program->number = number;
    program->level = number < 0 ? -number : 0;
    if (!runEditor(program)) {
        delete program;
        return false;
    }
    setProgram(program);
    modified = true;
    return true;
}

void MainWindow::edit(int row)
{
    if (row < 0 || row >= programs.size())
        return;
    VmeProgram *program = programs.at(row);
    const int oldNumber = program->number;
    book.removeVector(program);
    const bool accepted = runEditor(program);
    if (program->number == oldNumber) {
        book.addVector(program);
        if (accepted) {
            setInfo(program, row);
            modified = true;
        }
        return;
    }
    // Another kind or first vector: the program moves to its new place in the table, and the
    // event row it left goes back to its plain name.
    if (oldNumber < 1 && oldNumber >= -7) {
        setProperty(-oldNumber, eventName(-oldNumber), true);
        if (oldNumber == 0)
            book.setPollingPresent(false);
    }
    programs.removeAt(row);
    ui->tableWidget->removeRow(row);
    setProgram(program);
    modified = true;
}

void MainWindow::setProgram(VmeProgram *program)
{
    const int row = ProgramBook::insertPosition(programs, program);
    book.addVector(program);
    ui->tableWidget->insertRow(row);
    programs.insert(row, program);
    setInfo(program, row);
}

void MainWindow::prgRemove(int row, const QString &name)
{
    if (row < 0 || row >= programs.size())
        return;
    VmeProgram *program = programs.at(row);
    const int number = program->number;
    book.removeVector(program);
    if (number < 1 && number >= -7)
        setProperty(-number, name, true);
    programs.removeAt(row);
    ui->tableWidget->removeRow(row);
    if (!name.isEmpty()) {
        book.releaseIDs(program, programs);
        delete program;
    }
    if (number == 0)
        book.setPollingPresent(false);
}

void MainWindow::setInfo(VmeProgram *program, int row)
{
    QString text;
    if (program->number > 0) {
        text = program->number == VmeProgram::DefaultVectorNumber ? QStringLiteral("Vector(default)")
                                                                  : QStringLiteral("Vector%1").arg(program->number - 1);
    } else if (program->number == 0) {
        setProperty(0, QStringLiteral("Polling(%1us) lv.%2").arg(VmeProgram::fromByteArray(program->data)).arg(program->level),
                    false);
        text = QStringLiteral("Polling");
    } else {
        text = QStringLiteral("Interrupt%1").arg(program->level);
        const bool intr = !program->instructions.isEmpty() && program->instructions.first()->accessMode == -1;
        if (program->number >= -7)
            setProperty(-program->number,
                        text + (intr ? QStringLiteral("  INTR")
                                     : QStringLiteral("  Instr.=%1").arg(program->instructions.size())),
                        false);
    }
    setItem(row, 0, text, Qt::AlignLeft);
}

void MainWindow::setItem(int row, int column, QString &text, int alignment)
{
    if (QTableWidgetItem *item = ui->tableWidget->item(row, column)) {
        item->setText(text);
        return;
    }
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::Alignment(alignment) | Qt::AlignVCenter);
    ui->tableWidget->setItem(row, column, item);
}

void MainWindow::setProperty(int row, QString text, bool reset)
{
    QTableWidgetItem *item = ui->propertyWidget->item(row, 0);
    if (!item) {
        item = new QTableWidgetItem;
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        ui->propertyWidget->setItem(row, 0, item);
    }
    item->setText(text);
    if (reset)
        item->setCheckState(Qt::Unchecked);
}

void MainWindow::setCellActEnabled(bool on)
{
    editAction->setEnabled(on);
    delAction->setEnabled(on);
    ui->edit->setEnabled(on);
    ui->del->setEnabled(on);
}

void MainWindow::clear()
{
    qDeleteAll(programs);
    programs.clear();
    ui->tableWidget->setRowCount(0);
}

void MainWindow::on_add_clicked()
{
    add(1);
}

void MainWindow::on_edit_clicked()
{
    edit();
}

void MainWindow::edit()
{
    edit(ui->tableWidget->currentRow());
    setCellActEnabled(false);
}

void MainWindow::on_del_clicked()
{
    const int row = ui->tableWidget->currentRow();
    if (row < 0 || row >= programs.size())
        return;
    const QTableWidgetItem *item = ui->tableWidget->item(row, 0);
    const int number = programs.at(row)->number;
    // The row text names the program; it is also the plain name its event row goes back to.
    const QString name = item && !item->text().isEmpty() ? item->text() : eventName(qBound(0, -number, 7));
    const auto answer = QMessageBox::warning(this, QString(), QStringLiteral("Are you sure you want to delete \"%1\"?").arg(name),
                                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::No)
        return;
    prgRemove(row, name);
    modified = true;
}

void MainWindow::del()
{
    on_del_clicked();
    setCellActEnabled(false);
}

void MainWindow::on_tableWidget_cellClicked(int, int)
{
    setCellActEnabled(phase == DownloadIdle);
}

void MainWindow::propertyEdit()
{
    const int row = ui->propertyWidget->currentRow();
    if (row < 0)
        return;
    for (int i = 0; i < programs.size(); ++i) {
        if (programs.at(i)->number == -row) {
            edit(i);
            return;
        }
    }
    add(-row);
}

bool MainWindow::checkEvent(int row)
{
    const QTableWidgetItem *item = ui->propertyWidget->item(row, 0);
    return item && item->checkState() == Qt::Checked;
}

int MainWindow::checkEvent()
{
    int mask = 0;
    for (int row = 0; row < 8; ++row) {
        if (checkEvent(row))
            mask |= 1 << row;
    }
    return mask;
}

void MainWindow::setEvent(unsigned char mask)
{
    for (int row = 0; row < 8; ++row)
        setEvent(row, (mask >> row) & 1);
}

void MainWindow::setEvent(int row, bool on)
{
    if (QTableWidgetItem *item = ui->propertyWidget->item(row, 0))
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

bool MainWindow::runEditor(VmeProgram *program)
{
    EditDialog dialog(this, this);
    dialog.setProgram(program);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (auto *warnings = findChild<QTimer *>(QStringLiteral("programWarnings"), Qt::FindDirectChildrenOnly))
        warnings->start();
    return accepted;
}

void MainWindow::showWarnings(const QString &downloadTip)
{
    unsigned char low = 0, high = 0;
    checkInteractiveID(0, &low, &high);
    const QList<ProgramWarnings::Warning> found =
        ProgramWarnings::check(programs, quint8(checkEvent()), low, high);
    QStringList all;
    for (int row = 0; row < ui->tableWidget->rowCount(); ++row) {
        QStringList own;
        for (const ProgramWarnings::Warning &w : found) {
            if (w.program == row)
                own << (w.instruction >= 0 ? QStringLiteral("instruction %1: %2").arg(w.instruction + 1).arg(w.message)
                                           : w.message);
        }
        QTableWidgetItem *item = ui->tableWidget->item(row, 0);
        if (!item)
            continue;
        for (const QString &line : std::as_const(own))
            all << item->text() + QStringLiteral(", ") + line;
        // Only what changed is set: a change would ask for another refresh.
        const QString tip = own.join(QLatin1Char('\n'));
        if (item->toolTip() != tip)
            item->setToolTip(tip);
        const QVariant colour = own.isEmpty() ? QVariant() : QVariant(QBrush(QColor(0xB0, 0x50, 0x00)));
        if (item->data(Qt::ForegroundRole) != colour)
            item->setData(Qt::ForegroundRole, colour);
    }
    const QString tip = all.isEmpty() ? downloadTip
                                      : QStringLiteral("Warnings (the download goes on as laid out):\n") +
                                            all.join(QLatin1Char('\n'));
    if (ui->download->toolTip() != tip)
        ui->download->setToolTip(tip);
}

// Download

bool MainWindow::layPrograms()
{
    const ProgramLayout::Result result = ProgramLayout(this).lay(programs, quint8(checkEvent()), memory);
    for (VmeProgram *program : result.added)
        setProgram(program);
    for (int row = 1; row < 8; ++row) {
        if (result.checkRows & (1 << row))
            setEvent(row, true);
    }
    if (result.ok())
        return true;
    QMessageBox::warning(this, InvalidSetting, result.message, QMessageBox::Ok);
    if (result.outcome == ProgramLayout::PollingMissing)
        add(0);
    return false;
}

void MainWindow::on_download_clicked()
{
    if (!udp || phase != DownloadIdle || !layPrograms())
        return;
    // The layout of this click with the event boxes of this moment, whatever happens meanwhile.
    // The stop is the worker's CmdSetFlag job; the rest follows the download's plan.
    pendingWrites = DownloadPlan::of(memory, quint8(checkEvent())).writes();
    lockPrograms(true);
    ui->download->setEnabled(false);
    ui->tab_4->setDownloadRunning(true);
    phase = DownloadStopping;
    stopRunEnded = false;
    stopWaitOver = false;
    connect(udp, &QUdpThread::setFlg, this, &MainWindow::download, Qt::UniqueConnection);
    connect(udp, &QRbcp::closed, this, &MainWindow::downloadEnd, Qt::UniqueConnection);
    stopWait.start(DownloadPlan::StopWaitMs);
    udp->setCmd(QUdpThread::CmdSetFlag);
    operation->begin(QStringLiteral("Download"), udp);
    udp->start();
}

void MainWindow::download()
{
    // The module has stopped its programs; the writes go out once the stop run has ended (a
    // worker takes a new job only between runs) and the module had its time.
    if (phase != DownloadStopping || !stopRunEnded || !stopWaitOver || !udp)
        return;
    if (udp->isRunning()) {
        // The run has sent its end and is leaving: look again in a moment.
        QTimer::singleShot(1, this, &MainWindow::download);
        return;
    }
    phase = DownloadWriting;
    for (const ModuleMemory::Write &w : std::as_const(pendingWrites))
        udp->setWrite(w.address, w.data);
    udp->start();
}

void MainWindow::downloadEnd(bool on)
{
    switch (phase) {
    case DownloadIdle:
        ui->download->setEnabled(on && udp);
        break;
    case DownloadStopping:
        stopRunEnded = true;
        if (on)
            download();
        else
            endDownload(false);
        break;
    case DownloadWriting:
        endDownload(on);
        break;
    }
}

void MainWindow::endDownload(bool ok)
{
    phase = DownloadIdle;
    operation->finish(ok);
    stopWait.stop();
    lockPrograms(false);
    ui->tab_4->setDownloadRunning(false);
    ui->download->setEnabled(ok && udp);
}

void MainWindow::lockPrograms(bool locked)
{
    for (QWidget *w : std::initializer_list<QWidget *>{ui->add, ui->groupBox, ui->propertyWidget})
        w->setEnabled(!locked);
    propertyAction->setEnabled(!locked);
    if (locked)
        setCellActEnabled(false);
}

void MainWindow::setUdp(QUdpThread *p)
{
    // The General tab takes the worker away only after a failure during a download.
    if (!p && phase != DownloadIdle)
        endDownload(false);
    udp = p;
    ui->download->setEnabled(p != nullptr && phase == DownloadIdle);
}

QString MainWindow::downloadFailureNote() const
{
    if (phase == DownloadStopping)
        return QStringLiteral("\nDownload stopped: nothing was written, and the module's programs may still run.");
    if (phase == DownloadWriting)
        return QStringLiteral("\nDownload stopped: the module's programs stay stopped (event enable mask 0).");
    return QString();
}
