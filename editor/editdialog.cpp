#include "editdialog.h"

#include "datatext.h"
#include "instructiondelegate.h"
#include "programhost.h"
#include "ui_editdialog.h"
#include "vmeprogram.h"

#include <QAction>
#include <QMessageBox>

using namespace ProgramCheck;

EditDialog::EditDialog(ProgramHost *mainWindow, QWidget *parent)
    : QDialog(parent), ui(new Ui_EditDialog), deleteAction(nullptr), insertAction(nullptr),
      mainWindow(mainWindow), delegate(nullptr)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    delegate = new InstructionDelegate(this);
    QTableWidget *table = ui->tableWidget;
    table->setItemDelegate(delegate);
    table->setColumnCount(ColumnCount);
    table->setRowCount(0);
    table->setHorizontalHeaderLabels({QStringLiteral("ID"), QStringLiteral("address"), QStringLiteral("Read/Write"),
                                      QStringLiteral("Data Mode"), QStringLiteral("Length"), QStringLiteral("Data"),
                                      QStringLiteral("Access Mode"), QStringLiteral("Address Mode")});
    table->setColumnWidth(IdColumn, 40);
    table->setColumnWidth(AddressColumn, 100);
    table->setColumnWidth(ReadWriteColumn, 165);
    table->setColumnWidth(LengthColumn, 100);
    table->setColumnWidth(AccessModeColumn, 270);
    table->setColumnWidth(AddressModeColumn, 120);

    deleteAction = new QAction(QStringLiteral("delete"), this);
    deleteAction->setEnabled(false);
    connect(deleteAction, &QAction::triggered, this, &EditDialog::del);
    insertAction = new QAction(QStringLiteral("insert"), this);
    insertAction->setEnabled(false);
    connect(insertAction, &QAction::triggered, this, &EditDialog::insert);
    table->addAction(deleteAction);
    table->addAction(insertAction);
    table->setContextMenuPolicy(Qt::ActionsContextMenu);

    ui->addButton->setAutoDefault(false);
    ui->delButton->setAutoDefault(false);
    connect(ui->cancelButton, &QPushButton::clicked, this, &EditDialog::reject);

    usecPerUnit = 1.0;
    ui->unit->setCurrentIndex(2);
}

EditDialog::~EditDialog()
{
    ui->tableWidget->setItemDelegate(nullptr);
    delete delegate;
    delete ui;
}

void EditDialog::setProgram(VmeProgram *p)
{
    if (!p)
        return;
    program = p;
    if (p->instructions.isEmpty()) {
        // A new program: only its kind is shown.
        if (p->number == 0) {
            ui->polling->setChecked(true);
        } else if (p->number < 0) {
            ui->interrupt->setChecked(true);
            ui->level->setCurrentIndex(-p->number - 1);
            ui->intr->setEnabled(true);
            ui->intr->setChecked(true);
            setIntr();
        } else {
            checkPolling();
        }
        return;
    }

    if (p->number == 0) {
        ui->polling->setEnabled(true);
        ui->polling->setChecked(true);
        const quint32 micros = VmeProgram::fromByteArray(p->data);
        ui->interval->setText(QString::number(micros));
        // The text is in microseconds now; the unit change converts it.
        if (micros > 1000000)
            ui->unit->setCurrentIndex(0);
        else if (micros > 1000)
            ui->unit->setCurrentIndex(1);
        ui->priority->setCurrentIndex(p->level);
        ui->vector->setEnabled(false);
        ui->checkID->setEnabled(false);
        ui->interrupt->setEnabled(false);
    } else if (p->number < 0) {
        ui->interrupt->setChecked(true);
        ui->level->setCurrentIndex(p->level - 1);
        ui->type->setEnabled(false);
        setIntr();
    } else {
        checkPolling();
        if (p->number == VmeProgram::DefaultVectorNumber) {
            ui->VectorID->setText(QString());
            ui->checkID->setChecked(false);
        } else {
            ui->checkID->setChecked(true);
            if (p->vectorText.isEmpty())
                p->vectorText = DataText::vectorText(p->number, p->data);
            ui->VectorID->setText(p->vectorText);
        }
    }

    if (p->isIntrOnly()) {
        ui->intr->setEnabled(true);
        ui->intr->setChecked(true);
        return;
    }
    ui->instructions->setChecked(true);
    ui->tableWidget->setRowCount(int(p->instructions.size()));
    for (int i = 0; i < p->instructions.size(); ++i)
        setRow(i, p->instructions.at(i));
}

void EditDialog::reject()
{
    if (checkModified() &&
        QMessageBox::warning(this, QString(),
                             QStringLiteral("The settings has been modified.\nDo you want to discard your changes?"),
                             QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Cancel) == QMessageBox::Cancel)
        return;
    // The program keeps its instructions: their IDs are taken again.
    if (mainWindow) {
        for (unsigned char id : std::as_const(releasedIDs))
            mainWindow->setID(id, true);
    }
    releasedIDs.clear();
    QDialog::reject();
}

QString EditDialog::dataMode(int row) const
{
    const QTableWidgetItem *item = ui->tableWidget->item(row, DataModeColumn);
    return item ? item->text() : QString();
}

QTableWidgetItem *EditDialog::itemData(int row)
{
    return ui->tableWidget->item(row, DataColumn);
}

void EditDialog::setData(int row, QTableWidgetItem *item)
{
    ui->tableWidget->setItem(row, DataColumn, item);
}

void EditDialog::setNewRow(int row)
{
    QTableWidget *table = ui->tableWidget;
    const auto put = [table, row](int column, const QString &text) {
        table->setItem(row, column, new QTableWidgetItem(text));
    };
    if (!mainWindow)
        return;
    put(AddressModeColumn, delegate->addressList.value(mainWindow->addressMode()));
    put(AccessModeColumn, delegate->accessList.value(mainWindow->accessMode()));
    put(ReadWriteColumn, delegate->rwList.value(mainWindow->readWrite()));
    put(DataModeColumn, delegate->dataList.value(mainWindow->dataMode()));

    unsigned char id = 0;
    if (!mainWindow->getFreeID(id))
        return;
    // Avoid the IDs of the rows above, which are not marked used before the commit. Every
    // free ID is tried once; when all of them collide the row keeps the one in hand.
    QSet<unsigned char> tried{id};
    for (int r = 0; r < row; ++r) {
        const QTableWidgetItem *item = table->item(r, IdColumn);
        bool ok = false;
        if (!item || item->text().toInt(&ok, 10) != id || !ok)
            continue;
        unsigned char next = 0;
        if (!mainWindow->getFreeID(next) || tried.contains(next))
            break;
        id = next;
        tried.insert(next);
        r = -1;
    }
    put(IdColumn, QString::number(id));
}

void EditDialog::setRow(int row, VmeInstruction *ins)
{
    if (!ins)
        return;
    QTableWidget *table = ui->tableWidget;
    const auto put = [table, row](int column, const QString &text) {
        table->setItem(row, column, new QTableWidgetItem(text));
    };
    put(AddressColumn, QStringLiteral("0x%1").arg(ins->address, 8, 16, QLatin1Char('0')));
    put(LengthColumn, QString::number(ins->length));
    put(ReadWriteColumn, ins->readWriteText());
    // An index without a text (read back from bytes) leaves the cell empty: OK refuses it.
    put(DataModeColumn, delegate->dataList.value(ins->dataMode));
    put(AccessModeColumn, delegate->accessList.value(ins->accessMode));
    put(AddressModeColumn, delegate->addressList.value(ins->addressMode));
    put(IdColumn, QString::number(ins->id));
    if (mainWindow) {
        mainWindow->setID(ins->id, false);
        releasedIDs.append(ins->id);
    }
    QString data;
    DataText::strData(ins->dataMode, ins->data, data);
    put(DataColumn, data);
}

void EditDialog::checkPolling()
{
    ui->vector->setChecked(true);
    ui->polling->setEnabled(!(mainWindow && mainWindow->pollingPresent()));
}

bool EditDialog::checkVectorNum(QSet<unsigned char> &vectors)
{
    return DataText::checkVectorNum(ui->VectorID->text(), vectors);
}

bool EditDialog::checkUChar(const QString &text, unsigned char &value, unsigned int max) const
{
    return DataText::checkUChar(text, value, max);
}

bool EditDialog::checkUInt32(const QString &text, unsigned int &value) const
{
    return DataText::checkUInt32(text, value);
}

bool EditDialog::isStrValid(const QString &text) const
{
    return DataText::isStrValid(text);
}

int EditDialog::checkD8(const QString &text) const { return DataText::checkD8(text); }
int EditDialog::checkD16(const QString &text) const { return DataText::checkD16(text); }
int EditDialog::checkD32(const QString &text) const { return DataText::checkD32(text); }

void EditDialog::removeZeros(QString &text)
{
    DataText::removeZeros(text);
}

bool EditDialog::checkModified()
{
    return program && ProgramCheck::modified(rows(), kind(), *program);
}

void EditDialog::setIntr()
{
    QTableWidget *table = ui->tableWidget;
    if (table->rowCount() != 0)
        return;
    table->setRowCount(1);
    const auto put = [table](int column, const QString &text) {
        table->setItem(0, column, new QTableWidgetItem(text));
    };
    put(AddressModeColumn, QStringLiteral("A16"));
    put(AccessModeColumn, QStringLiteral("INTR"));
    put(ReadWriteColumn, QStringLiteral("Read(No Echo)"));
    put(DataModeColumn, QStringLiteral("D32"));
    put(IdColumn, QStringLiteral("0"));
    put(LengthColumn, QStringLiteral("1"));
    // The interrupt acknowledge addresses the level: twice its number.
    put(AddressColumn, QStringLiteral("0x%1").arg(ui->level->currentIndex() * 2 + 2, 8, 16, QLatin1Char('0')));
}

void EditDialog::strDataD8(const QByteArray &bytes, QString &text) const { DataText::strDataD8(bytes, text); }
void EditDialog::strDataD16(const QByteArray &bytes, QString &text) const { DataText::strDataD16(bytes, text); }
void EditDialog::strDataD32(const QByteArray &bytes, QString &text) const { DataText::strDataD32(bytes, text); }
bool EditDialog::dataD8(QByteArray &bytes, const QString &text) const { return DataText::dataD8(bytes, text); }
bool EditDialog::dataD16(QByteArray &bytes, const QString &text) const { return DataText::dataD16(bytes, text); }
bool EditDialog::dataD32(QByteArray &bytes, const QString &text) const { return DataText::dataD32(bytes, text); }

void EditDialog::del()
{
    const int row = ui->tableWidget->currentRow();
    if (row < 0)
        return;
    if (QMessageBox::warning(this, QString(),
                             QStringLiteral("Are you sure you want to delete Instruction No.%1?").arg(row + 1),
                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::No)
        return;
    ui->tableWidget->removeRow(row);
    deleteAction->setEnabled(false);
    ui->delButton->setEnabled(false);
}

void EditDialog::insert()
{
    const int row = ui->tableWidget->currentRow();
    if (row < 0)
        return;
    ui->tableWidget->insertRow(row);
    setNewRow(row);
    insertAction->setEnabled(false);
}

void EditDialog::on_addButton_clicked()
{
    const int row = ui->tableWidget->rowCount();
    ui->tableWidget->setRowCount(row + 1);
    setNewRow(row);
}

void EditDialog::on_okButton_clicked()
{
    if (!program || !mainWindow)
        return;
    Fields fields;
    if (const auto fault = validate(rows(), kind(), program->number, *mainWindow, fields)) {
        if (fault->message.isEmpty())
            return;
        QMessageBox::warning(this, QStringLiteral("Invalid Setting"), fault->message);
        if (fault->row >= 0)
            ui->tableWidget->setCurrentCell(fault->row, fault->column);
        return;
    }
    commit(fields, *program, *mainWindow);
    releasedIDs.clear();
    accept();
}

void EditDialog::on_polling_toggled(bool on)
{
    for (QWidget *w : {static_cast<QWidget *>(ui->label_i1), static_cast<QWidget *>(ui->interval),
                       static_cast<QWidget *>(ui->label_i2), static_cast<QWidget *>(ui->label_p),
                       static_cast<QWidget *>(ui->priority)})
        w->setEnabled(on);
}

void EditDialog::on_interrupt_toggled(bool on)
{
    ui->label_level->setEnabled(on);
    ui->level->setEnabled(on);
    ui->intr->setEnabled(on);
    ui->intr->setChecked(on);
}

void EditDialog::on_vector_toggled(bool on)
{
    ui->checkID->setEnabled(on);
    if (on) {
        ui->VectorID->setEnabled(ui->checkID->isChecked());
        ui->instructions->setChecked(true);
    } else {
        ui->VectorID->setEnabled(false);
    }
}

void EditDialog::on_checkID_toggled(bool on)
{
    ui->VectorID->setEnabled(on);
}

void EditDialog::on_cancelButton_clicked()
{
    // The button's click is connected to reject(), which does the leaving.
}

// INTR and the instruction table exclude each other; only an interrupt program may do
// without the table.
void EditDialog::on_instructions_toggled(bool on)
{
    if (!ui->interrupt->isChecked() && !on) {
        ui->intr->setChecked(false);
        ui->instructions->setChecked(true);
    } else {
        ui->intr->setChecked(!on);
    }
}

void EditDialog::on_intr_toggled(bool on)
{
    if (!ui->interrupt->isChecked() && on) {
        ui->instructions->setChecked(true);
        ui->intr->setChecked(false);
    } else {
        ui->instructions->setChecked(!on);
    }
}

void EditDialog::on_tableWidget_cellClicked(int, int)
{
    insertAction->setEnabled(true);
    deleteAction->setEnabled(true);
    ui->delButton->setEnabled(true);
}

void EditDialog::on_delButton_clicked()
{
    del();
}

void EditDialog::on_unit_currentIndexChanged(int index)
{
    const double old = usecPerUnit;
    usecPerUnit = index == 0 ? 1e6 : index == 1 ? 1000.0 : 1.0;
    QString text = ui->interval->text();
    if (convertInterval(text, old, index))
        ui->interval->setText(text);
}

QList<Row> EditDialog::rows() const
{
    QList<Row> rows;
    const QTableWidget *table = ui->tableWidget;
    for (int r = 0; r < table->rowCount(); ++r) {
        Row row;
        for (int c = 0; c < ColumnCount; ++c) {
            if (const QTableWidgetItem *item = table->item(r, c))
                row[c] = item->text();
        }
        rows.append(row);
    }
    return rows;
}

Kind EditDialog::kind() const
{
    Kind k;
    k.type = ui->polling->isChecked()     ? Kind::Polling
             : ui->interrupt->isChecked() ? Kind::Interrupt
             : ui->vector->isChecked()    ? Kind::Vector
                                          : Kind::None;
    k.interval = ui->interval->text();
    k.usecPerUnit = usecPerUnit;
    k.priority = ui->priority->currentIndex();
    k.level = ui->level->currentIndex() + 1;
    k.vectorIDs = ui->checkID->isChecked();
    k.vectorText = ui->VectorID->text();
    k.intr = ui->intr->isChecked();
    return k;
}
