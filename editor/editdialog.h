#pragma once

#include "programcheck.h"

#include <QDialog>
#include <QSet>
#include <QString>

class InstructionDelegate;
class ProgramHost;
class QAction;
class QTableWidgetItem;
class VmeInstruction;
class VmeProgram;
class Ui_EditDialog;

// The modal dialog in which the operator edits one program: its kind (polling at an
// interval, an interrupt level, or a set of interrupt vectors), the INTR option of an
// interrupt program, and its instruction table. The program changes only when OK passes
// every check; until then every edit lives in the widgets.
class EditDialog : public QDialog
{
    Q_OBJECT
public:
    explicit EditDialog(ProgramHost *mainWindow, QWidget *parent = nullptr);
    ~EditDialog() override;

    // Shows a program; called once, before exec(). A null program does nothing.
    void setProgram(VmeProgram *program);

    // Leaving without commit: asks first when the widgets differ from the program.
    void reject() override;
    // Row access for the instruction delegate: the width text of a row, and its data cell.
    virtual QString dataMode(int row) const;
    virtual QTableWidgetItem *itemData(int row);
    virtual void setData(int row, QTableWidgetItem *item);
    // A row with the General tab's default modes and a free ID.
    virtual void setNewRow(int row);
    // A row showing an instruction; its ID is released while the dialog is open.
    virtual void setRow(int row, VmeInstruction *instruction);
    virtual void checkPolling();
    // Reads the vector list of the VectorID edit into vectors; false at an invalid item.
    virtual bool checkVectorNum(QSet<unsigned char> &vectors);
    virtual bool checkUChar(const QString &text, unsigned char &value, unsigned int max) const;
    virtual bool checkUInt32(const QString &text, unsigned int &value) const;
    virtual bool isStrValid(const QString &text) const;
    virtual int checkD8(const QString &text) const;
    virtual int checkD16(const QString &text) const;
    virtual int checkD32(const QString &text) const;
    virtual void removeZeros(QString &text);
    // True when the widgets differ from the program.
    virtual bool checkModified();
    // The interrupt-acknowledge row of the selected level, in an empty table.
    virtual void setIntr();

    // The data texts of the three widths.
    void strDataD8(const QByteArray &bytes, QString &text) const;
    void strDataD16(const QByteArray &bytes, QString &text) const;
    void strDataD32(const QByteArray &bytes, QString &text) const;
    bool dataD8(QByteArray &bytes, const QString &text) const;
    bool dataD16(QByteArray &bytes, const QString &text) const;
    bool dataD32(QByteArray &bytes, const QString &text) const;

public slots:
    void del();
    void insert();
    void on_addButton_clicked();
    void on_okButton_clicked();
    void on_polling_toggled(bool on);
    void on_interrupt_toggled(bool on);
    void on_vector_toggled(bool on);
    void on_checkID_toggled(bool on);
    void on_cancelButton_clicked();
    void on_instructions_toggled(bool on);
    void on_intr_toggled(bool on);
    void on_tableWidget_cellClicked(int row, int column);
    void on_delButton_clicked();
    void on_unit_currentIndexChanged(int index);

private:
    QList<ProgramCheck::Row> rows() const;
    ProgramCheck::Kind kind() const;

    Ui_EditDialog *ui;
    QAction *deleteAction;
    QAction *insertAction;
    VmeProgram *program = nullptr;
    ProgramHost *mainWindow;
    InstructionDelegate *delegate;
    double usecPerUnit = 1.0;
    QList<unsigned char> releasedIDs;   // the program's IDs freed by setRow, marked again on a rejected close
};
