#include "instructiondelegate.h"

#include "editdialog.h"
#include "programcheck.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTableWidgetItem>

using namespace ProgramCheck;

namespace {

// Reads a data text in the width that a width text names ("D8", "D16", any other D32) and
// writes it back in that width; false, and the text unchanged, when an item does not fit.
bool rewriteData(const EditDialog &dialog, const QString &width, QString &text)
{
    QByteArray bytes;
    QString written;
    if (width == QLatin1String("D8")) {
        if (!dialog.dataD8(bytes, text))
            return false;
        dialog.strDataD8(bytes, written);
    } else if (width == QLatin1String("D16")) {
        if (!dialog.dataD16(bytes, text))
            return false;
        dialog.strDataD16(bytes, written);
    } else {
        if (!dialog.dataD32(bytes, text))
            return false;
        dialog.strDataD32(bytes, written);
    }
    text = written;
    return true;
}

} // namespace

InstructionDelegate::InstructionDelegate(EditDialog *dialog, QObject *parent)
    : QItemDelegate(parent),
      rwList(VmeModeWord::readWriteLabels()),
      dataList(VmeModeWord::dataModeLabels()),
      accessList(VmeModeWord::accessModeLabels()),
      addressList(VmeModeWord::addressModeLabels()),
      dialog(dialog)
{
}

const QStringList *InstructionDelegate::listOf(int column) const
{
    switch (column) {
    case ReadWriteColumn:
        return &rwList;
    case DataModeColumn:
        return &dataList;
    case AccessModeColumn:
        return &accessList;
    case AddressModeColumn:
        return &addressList;
    default:
        return nullptr;
    }
}

void InstructionDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                const QModelIndex &index) const
{
    Qt::Alignment align;
    switch (index.column()) {
    case IdColumn:
    case DataModeColumn:
    case AccessModeColumn:
    case AddressModeColumn:
        align = Qt::AlignCenter;
        break;
    case ReadWriteColumn:
        align = Qt::AlignLeft | Qt::AlignVCenter;
        break;
    case AddressColumn:
    case LengthColumn:
    case DataColumn:
        align = Qt::AlignRight | Qt::AlignVCenter;
        break;
    default:
        QItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt = option;
    opt.displayAlignment = align;
    drawDisplay(painter, opt, opt.rect, index.data(Qt::DisplayRole).toString());
    drawFocus(painter, opt, opt.rect);
}

QWidget *InstructionDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                           const QModelIndex &index) const
{
    if (const QStringList *list = listOf(index.column())) {
        auto *combo = new QComboBox(parent);
        combo->addItems(*list);
        return combo;
    }
    return QItemDelegate::createEditor(parent, option, index);
}

void InstructionDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    auto *combo = qobject_cast<QComboBox *>(editor);
    if (combo && listOf(index.column())) {
        combo->setCurrentIndex(combo->findText(index.data(Qt::DisplayRole).toString(),
                                               Qt::MatchExactly | Qt::MatchCaseSensitive));
        return;
    }
    QItemDelegate::setEditorData(editor, index);
}

void InstructionDelegate::setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const
{
    const int row = index.row();
    auto *combo = qobject_cast<QComboBox *>(editor);
    auto *line = qobject_cast<QLineEdit *>(editor);
    switch (index.column()) {
    case ReadWriteColumn:
    case AccessModeColumn:
    case AddressModeColumn:
        if (combo) {
            model->setData(index, combo->currentText(), Qt::EditRole);
            return;
        }
        break;
    case DataModeColumn:
        if (combo) {
            // Each data item keeps its value in the new width where it fits.
            const QString width = combo->currentText();
            QTableWidgetItem *data = dialog->itemData(row);
            if (width != dialog->dataMode(row) && data) {
                QString text = data->text();
                if (rewriteData(*dialog, width, text))
                    data->setText(text);
            }
            model->setData(index, width, Qt::EditRole);
            return;
        }
        break;
    case AddressColumn:
        if (line) {
            QString text = line->text();
            bool ok = false;
            const quint64 address = text.toULongLong(&ok, 16);
            if (ok && address <= 0xFFFFFFFFu)
                text = QStringLiteral("0x%1").arg(address, 8, 16, QLatin1Char('0'));
            model->setData(index, text, Qt::EditRole);
            return;
        }
        break;
    case DataColumn:
        if (line) {
            QString text = line->text();
            if (!text.isEmpty())
                rewriteData(*dialog, dialog->dataMode(row), text);
            model->setData(index, text, Qt::EditRole);
            return;
        }
        break;
    default:
        break;
    }
    QItemDelegate::setModelData(editor, model, index);
}
