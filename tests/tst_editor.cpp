#include "editdialog.h"
#include "fakehost.h"
#include "modalanswerer.h"
#include "namedchild.h"
#include "vmeprogram.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QtTest>

namespace {

QString cell(const EditDialog &d, int row, int column)
{
    const QTableWidgetItem *item = child<QTableWidget>(d, "tableWidget")->item(row, column);
    return item ? item->text() : QStringLiteral("~");
}

// A vector program for vector 7: a D32 read (ID 3) and a D16 write with echo (ID 9).
void load(VmeProgram &p, FakeHost &host)
{
    int count = 2;
    VmeProgram parsed(QByteArray::fromHex("000010000a000304" "00002000c5600904" "00123456"), count, 0, &host);
    p.instructions.swap(parsed.instructions);
    p.number = 8;
    p.level = -1;
    p.data = QByteArray(1, '\x07');
}

QByteArray encoded(const VmeProgram &p)
{
    QByteArray out;
    p.setProgram(out);
    return out;
}

} // namespace

class TestEditor : public QObject
{
    Q_OBJECT
private slots:
    void interruptProgramCommitsAsIntr();
    void leavingAsksOnlyAfterAChange();
    void okRefusesAndNamesTheCell();
    void newRowsTakeDefaultsAndFreeIDs();
    void intervalOpensInItsUnit_data();
    void intervalOpensInItsUnit();
    void unitChangeConvertsTheText_data();
    void unitChangeConvertsTheText();
    void cellEditorsTidyTheText_data();
    void cellEditorsTidyTheText();
};

void TestEditor::interruptProgramCommitsAsIntr()
{
    FakeHost host;
    VmeProgram p;
    p.number = -7;
    {
        EditDialog d(&host);
        d.setProgram(&p);
        d.show();
        QVERIFY(child<QCheckBox>(d, "intr")->isChecked());
        QVERIFY(!child<QGroupBox>(d, "instructions")->isChecked());
        QCOMPARE(cell(d, 0, 1), QStringLiteral("0x0000000e"));
        child<QPushButton>(d, "okButton")->click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
    }
    QVERIFY(p.isIntrOnly());
    QCOMPARE(encoded(p).toHex(), QByteArray("0000000e28300004"));

    // Opened again, the program shows its INTR row and leaves without a question.
    EditDialog d(&host);
    d.setProgram(&p);
    d.show();
    QVERIFY(!child<QGroupBox>(d, "type")->isEnabled());
    QCOMPARE(cell(d, 0, 1), QStringLiteral("0x0000000e"));
    ModalAnswerer answer(QMessageBox::Discard, 300);
    child<QPushButton>(d, "cancelButton")->click();
    QVERIFY(!answer.wait(300));
    QVERIFY(!d.isVisible());
    QCOMPARE(d.result(), int(QDialog::Rejected));
    QVERIFY(host.used.isEmpty());
}

void TestEditor::leavingAsksOnlyAfterAChange()
{
    FakeHost host;
    VmeProgram p;
    load(p, host);
    const QByteArray before = encoded(p);
    const QSet<unsigned char> ids{3, 9};
    {
        EditDialog d(&host);
        d.setProgram(&p);
        d.show();
        QCOMPARE(child<QLineEdit>(d, "VectorID")->text(), QStringLiteral("7"));
        QVERIFY(host.used.isEmpty());   // the program's own IDs are free while it is edited
        ModalAnswerer answer(QMessageBox::Discard, 300);
        QTest::keyClick(&d, Qt::Key_Escape);
        QVERIFY(!answer.wait(300));
        QVERIFY(!d.isVisible());
        QCOMPARE(host.used, ids);
    }
    EditDialog d(&host);
    d.setProgram(&p);
    d.show();
    child<QTableWidget>(d, "tableWidget")->item(1, 4)->setText(QStringLiteral("1"));
    {
        ModalAnswerer answer(QMessageBox::Cancel);
        QTest::keyClick(&d, Qt::Key_Escape);
        QVERIFY(answer.seen());
        QCOMPARE(answer.title(), QString());
        QCOMPARE(answer.text(), QStringLiteral("The settings has been modified.\nDo you want to discard your changes?"));
        QCOMPARE(answer.defaultButton(), QMessageBox::Cancel);
        QVERIFY(d.isVisible());
        QVERIFY(host.used.isEmpty());
    }
    ModalAnswerer answer(QMessageBox::Discard);
    child<QPushButton>(d, "cancelButton")->click();
    QVERIFY(answer.seen());
    QVERIFY(!d.isVisible());
    QCOMPARE(host.used, ids);
    QCOMPARE(encoded(p), before);
}

void TestEditor::okRefusesAndNamesTheCell()
{
    FakeHost host;
    VmeProgram p;
    load(p, host);
    const QByteArray before = encoded(p);
    EditDialog d(&host);
    d.setProgram(&p);
    d.show();
    auto *table = child<QTableWidget>(d, "tableWidget");
    table->item(1, 1)->setText(QStringLiteral("0x2001"));
    {
        ModalAnswerer answer;
        child<QPushButton>(d, "okButton")->click();
        QVERIFY(answer.seen());
        QCOMPARE(answer.title(), QStringLiteral("Invalid Setting"));
        QCOMPARE(answer.text(), QStringLiteral("The address must be 2byte aligned."));
    }
    QCOMPARE(table->currentRow(), 1);
    QCOMPARE(table->currentColumn(), 1);
    QVERIFY(d.isVisible());
    QCOMPARE(encoded(p), before);
    QVERIFY(host.used.isEmpty());

    table->item(1, 1)->setText(QStringLiteral("0x3000"));
    child<QLineEdit>(d, "VectorID")->setText(QStringLiteral("6-7"));
    child<QPushButton>(d, "okButton")->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(p.number, 7);
    QCOMPARE(p.data, QByteArray("\x06\x07"));
    QCOMPARE(encoded(p).toHex(), QByteArray("000010000a000304" "00003000c5600904" "00123456"));
    QCOMPARE(host.used, (QSet<unsigned char>{3, 9}));
}

void TestEditor::newRowsTakeDefaultsAndFreeIDs()
{
    FakeHost host;
    host.rw = 2;      // Write(Echo)
    host.data = 1;    // D16
    host.address = 2; // A32
    host.access = 5;  // Supervisor BLT
    host.low = 2;     // IDs 0 and 1 are outside the interactive range; 0 is used
    host.used = {0};
    VmeProgram p;
    p.number = 1;
    EditDialog d(&host);
    d.setProgram(&p);
    auto *add = child<QPushButton>(d, "addButton");
    add->click();
    // The only free ID is taken by the row above: the new row keeps it rather than search on.
    add->click();
    for (int row : {0, 1}) {
        QStringList texts;
        for (int c = 0; c < 8; ++c)
            texts << cell(d, row, c);
        QCOMPARE(texts.join(QLatin1Char('|')), QStringLiteral("1|~|Write(Echo)|D16|~|~|Supervisor BLT|A32"));
    }
    child<QTableWidget>(d, "tableWidget")->setCurrentCell(1, 0);
    ModalAnswerer answer(QMessageBox::Yes);
    d.del();
    QCOMPARE(answer.text(), QStringLiteral("Are you sure you want to delete Instruction No.2?"));
    QCOMPARE(child<QTableWidget>(d, "tableWidget")->rowCount(), 1);
}

void TestEditor::intervalOpensInItsUnit_data()
{
    QTest::addColumn<uint>("micros");
    QTest::addColumn<int>("unit");
    QTest::addColumn<QString>("text");
    QTest::newRow("1000000 us") << 1000000u << 1 << "1000";
    QTest::newRow("1000001 us") << 1000001u << 0 << "1.000001";
    QTest::newRow("1000 us") << 1000u << 2 << "1000";
    QTest::newRow("1001 us") << 1001u << 1 << "1.001";
}

void TestEditor::intervalOpensInItsUnit()
{
    QFETCH(uint, micros);
    FakeHost host;
    VmeProgram p;
    load(p, host);
    p.number = 0;
    p.level = 5;
    p.data.clear();
    VmeProgram::toByteArray(micros, p.data);
    EditDialog d(&host);
    d.setProgram(&p);
    QTEST(child<QComboBox>(d, "unit")->currentIndex(), "unit");
    QTEST(child<QLineEdit>(d, "interval")->text(), "text");
    QVERIFY(!child<QRadioButton>(d, "vector")->isEnabled());
    QVERIFY(!d.checkModified());
}

void TestEditor::unitChangeConvertsTheText_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("converted");
    QTest::addColumn<QString>("twoInUsec");   // then 2 in the new unit, shown in usec
    QTest::newRow("msec to usec") << 1 << "1.5" << 2 << "1500" << "2";
    QTest::newRow("msec to sec") << 1 << "1.5" << 0 << "0.0015" << "2000000";
    QTest::newRow("usec to sec") << 2 << "2500000" << 0 << "2.5" << "2000000";
    QTest::newRow("sec to msec") << 0 << "0.0000005" << 1 << "0.001" << "2000";
    QTest::newRow("not a number") << 1 << "abc" << 0 << "abc" << "2000000";
    QTest::newRow("negative") << 2 << "-3" << 1 << "-3" << "2000";
}

void TestEditor::unitChangeConvertsTheText()
{
    FakeHost host;
    EditDialog d(&host);
    auto *unit = child<QComboBox>(d, "unit");
    auto *interval = child<QLineEdit>(d, "interval");
    QFETCH(int, from);
    QFETCH(QString, text);
    QFETCH(int, to);
    unit->setCurrentIndex(from);
    interval->setText(text);
    unit->setCurrentIndex(to);
    QTEST(interval->text(), "converted");
    interval->setText(QStringLiteral("2"));
    unit->setCurrentIndex(2);
    QTEST(interval->text(), "twoInUsec");
}

void TestEditor::cellEditorsTidyTheText_data()
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
    QTest::newRow("address 1000") << "D8|~|~" << 1 << "1000" << "D8|~|0x00001000";
    QTest::newRow("address 0xABC") << "D8|~|~" << 1 << "0xABC" << "D8|~|0x00000abc";
    QTest::newRow("address of 9 digits") << "D8|~|~" << 1 << "123456789" << "D8|~|123456789";
    QTest::newRow("address not hex") << "D8|~|~" << 1 << "12g" << "D8|~|12g";
    QTest::newRow("D16 data") << "D16|~|~" << 5 << "12 34" << "D16|0x0012 0x0034 |~";
    QTest::newRow("D16 bad data") << "D16|~|~" << 5 << "1 2 x" << "D16|1 2 x|~";
    QTest::newRow("data emptied") << "D16|0x0001 |~" << 5 << "" << "D16||~";
}

void TestEditor::cellEditorsTidyTheText()
{
    QFETCH(QString, cells);
    QFETCH(int, column);
    QFETCH(QString, typed);
    FakeHost host;
    EditDialog d(&host);
    auto *table = child<QTableWidget>(d, "tableWidget");
    table->setRowCount(1);
    const QStringList texts = cells.split(QLatin1Char('|'));
    const int columns[] = {3, 5, 1};
    for (int i = 0; i < 3; ++i) {
        if (texts[i] != QLatin1String("~"))
            table->setItem(0, columns[i], new QTableWidgetItem(texts[i]));
    }
    const QModelIndex index = table->model()->index(0, column);
    QAbstractItemDelegate *delegate = table->itemDelegate();
    QWidget *editor = delegate->createEditor(table->viewport(), QStyleOptionViewItem(), index);
    delegate->setEditorData(editor, index);
    if (auto *combo = qobject_cast<QComboBox *>(editor))
        combo->setCurrentIndex(combo->findText(typed));
    else
        qobject_cast<QLineEdit *>(editor)->setText(typed);
    delegate->setModelData(editor, table->model(), index);
    delete editor;
    QTEST(QStringList({cell(d, 0, 3), cell(d, 0, 5), cell(d, 0, 1)}).join(QLatin1Char('|')), "result");
}

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
