#pragma once

#include <QItemDelegate>
#include <QStringList>

class EditDialog;

// The cell editors of the program editor's instruction table: fixed choice lists for the
// mode-word columns, tidy address and data texts, the data text rewritten when a row's
// width changes, and each column's alignment. Works on cell texts only.
class InstructionDelegate : public QItemDelegate
{
    Q_OBJECT
public:
    explicit InstructionDelegate(EditDialog *dialog, QObject *parent = nullptr);

    // List positions are the indices an instruction stores for these fields.
    QStringList rwList;
    QStringList dataList;
    QStringList accessList;
    QStringList addressList;
    EditDialog *dialog;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;

private:
    const QStringList *listOf(int column) const;
};
