#include "editdialog.h"
#include "fakehost.h"
#include "modalanswerer.h"
#include "namedchild.h"
#include "vmeprogram.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

namespace {

// A dialog against a fake window; load() gives it a vector program for vector 7 holding a
// D32 read (ID 3) and a D16 write with echo (ID 9), whose IDs the window marked used.
struct Editor {
    FakeHost host;
    VmeProgram program;
    EditDialog dialog{&host};
    QTableWidget *table = child<QTableWidget>(dialog, "tableWidget");

    void load()
    {
        int count = 2;
        VmeProgram parsed(QByteArray::fromHex("000010000a000304" "00002000c5600904" "00123456"), count, 0, &host);
        program.instructions.swap(parsed.instructions);
        program.number = 8;
        program.level = -1;
        program.data = QByteArray(1, '\x07');
    }
    void open() { dialog.setProgram(&program), dialog.show(); }
    QString cell(int r, int c) const { return table->item(r, c) ? table->item(r, c)->text() : QStringLiteral("~"); }
    QByteArray encoded() const { QByteArray out; program.setProgram(out); return out.toHex(); }
    void click(const char *button) { child<QPushButton>(dialog, button)->click(); }
};

} // namespace

class TestEditor : public QObject
{
    Q_OBJECT
private slots:
    void interruptProgramCommitsAsIntr()
    {
        Editor e;
        e.program.number = -7;
        e.open();
        QVERIFY(child<QCheckBox>(e.dialog, "intr")->isChecked());
        QCOMPARE(e.cell(0, 1), QStringLiteral("0x0000000e"));
        e.click("okButton");
        QVERIFY(e.dialog.result() == QDialog::Accepted && e.program.isIntrOnly());
        QCOMPARE(e.encoded(), QByteArray("0000000e28300004"));

        // Opened again, it shows its INTR row and leaves without a question.
        e.open();
        QCOMPARE(e.cell(0, 1), QStringLiteral("0x0000000e"));
        ModalAnswerer answer(QMessageBox::Discard, 300);
        e.click("cancelButton");
        QVERIFY(!answer.wait(300) && e.dialog.result() == QDialog::Rejected && e.host.book.usedIDs().isEmpty());
    }

    void leavingAsksOnlyAfterAChange()
    {
        Editor e;
        e.load();
        const QByteArray before = e.encoded();
        e.open();
        QVERIFY(e.host.book.usedIDs().isEmpty());   // the program's own IDs are free while it is edited
        e.table->item(1, 4)->setText(QStringLiteral("1"));   // the write of two items
        {
            ModalAnswerer answer;
            e.click("okButton");
            QVERIFY(answer.text().endsWith("Mismatch between 1(Length) and 2(a number of Data)"));
            QCOMPARE(QPoint(e.table->currentRow(), e.table->currentColumn()), QPoint(1, 5));
        }
        {
            ModalAnswerer answer(QMessageBox::Cancel);
            QTest::keyClick(&e.dialog, Qt::Key_Escape);
            QCOMPARE(answer.text(), "The settings has been modified.\nDo you want to discard your changes?");
            QCOMPARE(answer.defaultButton(), QMessageBox::Cancel);
            QVERIFY(e.dialog.isVisible() && e.host.book.usedIDs().isEmpty());
        }
        e.table->item(1, 4)->setText(QStringLiteral("2"));   // as it was: leaving asks nothing
        ModalAnswerer answer(QMessageBox::Discard, 300);
        e.click("cancelButton");
        QVERIFY(!answer.wait(300) && !e.dialog.isVisible());
        QCOMPARE(e.host.book.usedIDs(), (QSet<quint8>{3, 9}));
        QCOMPARE(e.encoded(), before);
    }

    void newRowsTakeDefaultsAndFreeIDs()
    {
        Editor e;
        e.host.rw = 2, e.host.data = 1, e.host.address = 2, e.host.access = 5;   // Write(Echo), D16, A32, Supervisor BLT
        e.host.low = 2, e.host.book.setID(0, true);   // only ID 1 is free
        e.program.number = 1;
        e.open();
        e.click("addButton");
        e.click("addButton");   // its only free ID is the row above's: it keeps it rather than search on
        for (int row : {0, 1}) {
            QStringList texts;
            for (int c = 0; c < 8; ++c)
                texts << e.cell(row, c);
            QCOMPARE(texts.join(QLatin1Char('|')), QStringLiteral("1|~|Write(Echo)|D16|~|~|Supervisor BLT|A32"));
        }
        e.table->setCurrentCell(1, 0);
        ModalAnswerer answer(QMessageBox::Yes);
        e.dialog.del();
        QVERIFY(answer.text().endsWith(QStringLiteral("Instruction No.2?")) && e.table->rowCount() == 1);
    }

    void intervalUnits_data()
    {
        // A polling program opened with its interval in microseconds (from -1), or a text typed
        // under one unit and the unit changed; then 2 typed in the new unit, seen in usec.
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("twoInUsec");
        QTest::newRow("opens 1000000") << -1 << "1000000" << 1 << "1000" << "2000";
        QTest::newRow("opens 1000001") << -1 << "1000001" << 0 << "1.000001" << "2000000";
        QTest::newRow("opens 1000") << -1 << "1000" << 2 << "1000" << "2";
        QTest::newRow("msec to usec") << 1 << "1.5" << 2 << "1500" << "2";
        QTest::newRow("msec to sec") << 1 << "1.5" << 0 << "0.0015" << "2000000";
        QTest::newRow("usec to sec") << 2 << "2500000" << 0 << "2.5" << "2000000";
        QTest::newRow("sec to msec rounds") << 0 << "0.0000005" << 1 << "0.001" << "2000";
        QTest::newRow("not a number") << 1 << "abc" << 0 << "abc" << "2000000";
        QTest::newRow("negative") << 2 << "-3" << 1 << "-3" << "2000";
        QTest::newRow("5000 sec stays") << 0 << "5000" << 2 << "5000" << "2";
        QTest::newRow("2^32 usec stays") << 2 << "4294967295.5" << 0 << "4294967295.5" << "2000000";
        QTest::newRow("2^32-1 usec") << 2 << "4294967295" << 0 << "4294.967295" << "2000000";
    }

    void intervalUnits()
    {
        QFETCH(int, from);
        QFETCH(QString, text);
        QFETCH(int, to);
        Editor e;
        auto *unit = child<QComboBox>(e.dialog, "unit");
        auto *interval = child<QLineEdit>(e.dialog, "interval");
        if (from < 0) {
            e.load();
            e.program.number = 0;
            e.program.level = 3;
            e.program.data.clear();
            VmeProgram::toByteArray(text.toUInt(), e.program.data);
            e.open();
            QVERIFY(!e.dialog.checkModified() && unit->currentIndex() == to);
            auto *priority = child<QComboBox>(e.dialog, "priority");   // the level alone makes Cancel ask
            priority->setCurrentIndex(priority->currentIndex() ^ 1);
            QVERIFY(e.dialog.checkModified());
            priority->setCurrentIndex(priority->currentIndex() ^ 1);
        } else {
            unit->setCurrentIndex(from);
            interval->setText(text);
            unit->setCurrentIndex(to);
        }
        QTEST(interval->text(), "shown");
        interval->setText(QStringLiteral("2"));
        unit->setCurrentIndex(2);
        QTEST(interval->text(), "twoInUsec");
    }

    void cellEditorsTidyTheText_data()
    {
        // Cells as "width|data|address" ("~" no item); the column edited and what is chosen or typed.
        QTest::addColumn<QString>("cells");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("result");
        QTest::newRow("D32 to D8") << "D32|0x00000001 0x000000ff |~" << 3 << "D8" << "D8|0x01 0xff |~";
        QTest::newRow("D8 to D32") << "D8|0x01 0xff|~" << 3 << "D32" << "D32|0x00000001 0x000000ff |~";
        QTest::newRow("D16 words do not fit D8") << "D16|0x1234 |~" << 3 << "D8" << "D8|0x1234 |~";
        QTest::newRow("same width") << "D16|12|~" << 3 << "D16" << "D16|12|~";
        QTest::newRow("no data cell") << "D8|~|~" << 3 << "D16" << "D16|~|~";
        QTest::newRow("address 1000 is hex") << "D8|~|~" << 1 << "1000" << "D8|~|0x00001000";
        QTest::newRow("address 0xABC") << "D8|~|~" << 1 << "0xABC" << "D8|~|0x00000abc";
        QTest::newRow("address of 9 digits") << "D8|~|~" << 1 << "123456789" << "D8|~|123456789";
        QTest::newRow("D16 data") << "D16|~|~" << 5 << "12 34" << "D16|0x0012 0x0034 |~";
        QTest::newRow("D16 bad data") << "D16|~|~" << 5 << "1 2 x" << "D16|1 2 x|~";
        QTest::newRow("data emptied") << "D16|0x0001 |~" << 5 << "" << "D16||~";
    }

    void cellEditorsTidyTheText()
    {
        QFETCH(QString, cells);
        QFETCH(int, column);
        QFETCH(QString, typed);
        Editor e;
        e.table->setRowCount(1);
        const QStringList texts = cells.split(QLatin1Char('|'));
        for (int i : {0, 1, 2})
            e.table->setItem(0, QList<int>{3, 5, 1}[i], texts[i] == "~" ? nullptr : new QTableWidgetItem(texts[i]));
        const QModelIndex index = e.table->model()->index(0, column);
        QAbstractItemDelegate *delegate = e.table->itemDelegate();
        const std::unique_ptr<QWidget> editor(delegate->createEditor(e.table->viewport(), {}, index));
        delegate->setEditorData(editor.get(), index);
        if (auto *combo = qobject_cast<QComboBox *>(editor.get()))
            combo->setCurrentIndex(combo->findText(typed));
        else
            qobject_cast<QLineEdit *>(editor.get())->setText(typed);
        delegate->setModelData(editor.get(), e.table->model(), index);
        QTEST(QStringList({e.cell(0, 3), e.cell(0, 5), e.cell(0, 1)}).join(QLatin1Char('|')), "result");
    }
};

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
