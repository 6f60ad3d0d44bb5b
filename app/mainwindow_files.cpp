// The program tab's "&File" group: all programs, with the General tab's default modes and ID
// range, saved to and opened from a program file (the module memory as register writes).
#include "mainwindow.h"

#include "generalform.h"
#include "programfile.h"
#include "programtext.h"
#include "ui_mainwindow.h"
#include "vmeprogram.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTableWidgetItem>

namespace {

const QString FileFilter = QStringLiteral("All Files(*)");

} // namespace

void MainWindow::on_fsave_clicked()
{
    if (!layPrograms())
        return;
    const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Save"), lastFile, FileFilter);
    if (name.isEmpty())
        return;
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QMessageBox::warning(this, QStringLiteral("File save"),
                             ProgramFile::createFailureText(name, file.errorString()), QMessageBox::Ok);
        return;
    }
    lastFile = name;
    modified = false;
    const QByteArray bytes =
        ProgramFile::encode(memory, {addressMode(), accessMode(), dataMode(), readWrite()}, quint8(checkEvent()),
                            ui->tab_4->minID(), ui->tab_4->maxID());
    const QString failure = ProgramFile::writeAll(file, bytes);
    if (!failure.isEmpty()) {
        // A full disk must not pass for a saved table.
        modified = true;
        QMessageBox::warning(this, QStringLiteral("File save"), failure, QMessageBox::Ok);
    }
}

void MainWindow::on_fopen_clicked()
{
    if (modified &&
        QMessageBox::warning(this, QString(),
                             QStringLiteral("The settings has been modified.\nDo you want to discard your changes?"),
                             QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Cancel) != QMessageBox::Discard)
        return;
    const QString name =
        QFileDialog::getOpenFileName(this, QStringLiteral("Open"), QDir::currentPath(), FileFilter);
    if (name.isEmpty())
        return;
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        QMessageBox::warning(this, QStringLiteral("File open"), ProgramFile::openFailureText(name, file.errorString()),
                             QMessageBox::Ok);
        return;
    }
    // A program text is built into the bytes of its binary file, which are then read as one.
    QByteArray built;
    QBuffer textFile(&built);
    if (ProgramText::isText(file.peek(512))) {
        if (const auto fault = ProgramText::build(file.readAll(), built)) {
            QMessageBox::warning(this, QStringLiteral("File read"),
                                 QStringLiteral("\"%1\": %2").arg(name, fault->text()), QMessageBox::Ok);
            return;
        }
        textFile.open(QIODevice::ReadOnly);
    }

    // The file alone builds the table: nothing of the last layout fills in what it lacks, and
    // a file that is refused changes nothing.
    ModuleMemory read;
    QList<QByteArray> defaults;
    QString failure;
    try {
        ProgramFile::readRecords(textFile.isOpen() ? static_cast<QIODevice &>(textFile) : file, read, defaults,
                                 [&](QByteArray &bytes, int n) {
                                     if (textFile.isOpen())
                                         ProgramFile::dataRead(textFile, bytes, n, name);
                                     else
                                         dataRead(file, bytes, n);
                                 });
    } catch (const QString &text) {
        failure = text;
    }
    QString refused;
    if (failure.isEmpty()) {
        std::swap(memory, read);
        if (!loadProgram(&refused)) {
            std::swap(memory, read);
            failure = ProgramFile::unreadableText(name, refused);
        }
    }
    if (!failure.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("File read"), failure, QMessageBox::Ok);
        return;
    }
    modified = false;
    lastFile = name;
    // An index the General tab's lists do not hold keeps that list's current choice.
    for (const QByteArray &array : std::as_const(defaults))
        ui->tab_4->setDefault(
            ProgramFile::keepValidDefaults(array, {addressMode(), accessMode(), dataMode(), readWrite()}));
    setEvent(memory.savedEnable);
}

void MainWindow::dataRead(QFile &file, QByteArray &bytes, int n)
{
    ProgramFile::dataRead(file, bytes, n, file.fileName());
}

bool MainWindow::loadProgram(QString *refused)
{
    ProgramFile::Table table = ProgramFile::rebuild(memory, nullptr);
    if (!table.ok()) {
        if (refused)
            *refused = table.refused;
        return false;
    }
    // Removing with the row text puts the event rows back to their plain names, unchecked.
    while (!programs.isEmpty()) {
        const QTableWidgetItem *row = ui->tableWidget->item(0, 0);
        prgRemove(0, row ? row->text() : ProgramFile::programName(*programs.first()));
    }
    book.reset();
    for (quint8 id : std::as_const(table.ids))
        setID(id, true);
    for (auto &program : table.programs) {
        const bool polling = program->number == 0;
        setProgram(program.release());
        if (polling)
            setPollingPresent(true);
    }
    return true;
}
