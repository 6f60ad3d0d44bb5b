// The interactive tab: its text layouts on plain strings; the tab with a fake window that answers
// the ID range and a worker that is never started and collects the commands, so every field
// check, ID and layout can be looked at exactly; and the tab in the main window against the
// software module on 127.0.0.1.
#include "bytes.h"
#include "cmdargs.h"
#include "fakehost.h"
#include "filedialoganswerer.h"
#include "hexlayout.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "namedchild.h"
#include "simprobe.h"
#include "tarnixcmd.h"
#include "tarnixcmdform.h"
#include "tarnixsim.h"
#include "tcpthread.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QLocalServer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QString blanks(int n) { return QString(n, u' '); }

const QString D8Header = u"<<    Source Data    >>   <<     Echo Data     >>\n"_s;
const QString D32Header = u"<< Source Data >>   <<  Echo Data  >>\n"_s;

// A worker that is never started: it keeps what the tab queues.
class CaptureThread : public QTcpThread
{
public:
    CaptureThread() : QTcpThread(u"127.0.0.1"_s, 1) {}
    ~CaptureThread() override { qDeleteAll(commands); }
    void setCmd(TarnixCmd *cmd) override { commands << cmd; }
    QList<TarnixCmd *> commands;
};

// The tab's fields and buttons by name.
struct View
{
    TarnixCmdForm *tab;
    template <typename T> T *w(const char *name) { return child<T>(*tab, name); }
    QString text() { return w<QTextEdit>("dataText")->toPlainText(); }
    void setText(const QString &t) { w<QTextEdit>("dataText")->setPlainText(t); }
    bool idle() { return w<QGroupBox>("groupRW")->isEnabled(); }
    void click(const char *name) { w<QAbstractButton>(name)->click(); }
};

// The tab with the fake window and the capturing worker.
struct Tab : View
{
    FakeHost host;
    CaptureThread thread;
    TarnixCmdForm form;

    Tab() : View{&form}
    {
        form.setMainWindow(&host);
        form.setTcp(&thread);
        form.setAddressMode(1);
        form.setID(128);
    }
    QString address() { return w<QLineEdit>("addrEdit")->text(); }
    // The fields as the operator fills them, "-" for an empty one: width, address, length, and
    // optionally the address mode, the access mode index and "echo" ("D16 1000 4 A32 3 echo").
    void fill(const QString &fields)
    {
        const QStringList f = fields.split(u' ').replaceInStrings(QRegularExpression(u"^-$"_s), QString());
        w<QComboBox>("datm")->setCurrentIndex(QStringList{u"D8"_s, u"D16"_s, u"D32"_s}.indexOf(f.at(0)));
        w<QLineEdit>("addrEdit")->setText(f.at(1));
        w<QLineEdit>("lenEdit")->setText(f.at(2));
        if (f.size() > 3)
            form.setAddressMode(QStringList{u"A16"_s, u"A24"_s, u"A32"_s}.indexOf(f.at(3)));
        if (f.size() > 4)
            form.setAccessMode(f.at(4).toInt());
        if (f.size() > 5)
            w<QCheckBox>("echoCheck")->click();
    }
    void press(bool read) { click(read ? "readButton" : "writeButton"); }
    // Answers the last command as the module would.
    void answer(const QByteArray &data, quint16 status = 0)
    {
        const TarnixCmd *c = thread.commands.last();
        form.received(c->id, quint16(c->mode | status), data);
    }
};

// The tab's next message box; a file dialog's overwrite question is left to answerFileDialog.
struct TabBox
{
    QTimer timer;
    QString text;
    int ticks = 1000;
    TabBox()
    {
        timer.callOnTimeout([this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (--ticks < 0)
                timer.stop();
            if (!box || qobject_cast<QFileDialog *>(box->parentWidget()))
                return;
            timer.stop();
            text = box->windowTitle() + QLatin1Char('|') + box->text();
            box->button(QMessageBox::Ok)->click();
        });
        timer.start(10);
    }
};

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// The main window with the module's address typed into the General tab, whose defaults for the
// interactive tab are A32, "Supervisor Data", the data width given and IDs from 5 on. The
// window goes before the module.
struct Window : View
{
    TarnixSimThread module;
    Args args{{"tarnix2-utility"}};
    MainWindow win{args.argc(), args.argv.data()};

    Window() : View{nullptr} { tab = child<TarnixCmdForm>(win, "tab_2"); }
    bool start(int width)
    {
        if (!module.startSim(SimProbe::ephemeral()))
            return false;
        child<QLineEdit>(win, "address")->setText(u"127.0.0.1"_s);
        child<QLineEdit>(win, "tcp")->setText(QString::number(module.sim()->tcpPort()));
        child<QComboBox>(win, "dataMode")->setCurrentIndex(width);
        child<QComboBox>(win, "addressMode")->setCurrentIndex(2);
        child<QComboBox>(*child<QWidget>(win, "tab_4"), "accm")->setCurrentIndex(3);
        child<QSpinBox>(win, "minID")->setValue(5);
        return toggleConnection(u"connected"_s);
    }
    bool toggleConnection(const QString &status)
    {
        child<QPushButton>(win, "connect")->click();
        return QTest::qWaitFor([&] { return win.statusBar()->currentMessage() == status; }, 5000);
    }
    bool command(const char *button, const QString &address, int items)
    {
        w<QLineEdit>("addrEdit")->setText(address);
        w<QLineEdit>("lenEdit")->setText(QString::number(items));
        ModalAnswerer refusal(QMessageBox::Ok, 5000);
        click(button);
        return !refusal.seen() && !idle() && QTest::qWaitFor([&] { return idle(); }, 5000);
    }
};

} // namespace

class TestInteractive : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QCoreApplication::setApplicationName(u"tst_interactive"_s); }
    void layout_data()
    {
        QTest::addColumn<QString>("data"); // hex digits
        QTest::addColumn<QString>("echo"); // hex digits of the echo column; null: the plain layout
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("showAddress");
        QTest::addColumn<quint32>("start");
        QTest::addColumn<QString>("text");

        const QString one10 = u"0102030405060708090a"_s;
        const QString plain;
        QTest::newRow("D8 01..0A") << one10 << plain << 0 << false << 0u << u"01 02 03 04 05 06 07 08\n09 0A "_s;
        QTest::newRow("D8 with addresses")
            << one10 << plain << 0 << true << 0x1000u
            << u"[0x00001000] 01 02 03 04 05 06 07 08\n[0x00001008] 09 0A "_s;
        QTest::newRow("D16 lone last byte") << u"123456"_s << plain << 1 << false << 0u << u"1234 56   \n"_s;
        QTest::newRow("D16 two rows with addresses")
            << u"00112233445566778899"_s << plain << 1 << true << 0x10u
            << u"[0x00000010] 0011 2233 4455 6677 \n[0x00000018] 8899 \n"_s;
        QTest::newRow("D32 three bytes over") << u"123456789abcde"_s << plain << 2 << false << 0u
                                              << u"12345678 9ABCDE   \n"_s;
        QTest::newRow("row addresses wrap at 32 bits")
            << one10.left(18) << plain << 2 << true << 0xFFFFFFF8u
            << u"[0xfffffff8] 01020304 05060708 \n[0x00000000] 09       \n"_s;
        QTest::newRow("empty") << QString() << plain << 1 << true << 0u << QString();

        QTest::newRow("echo D8 three bytes") << u"010203"_s << u"010203"_s << 0 << false << 0u
                                             << D8Header + u"01 02 03 "_s + blanks(15) + u"  01 02 03 \n"_s;
        QTest::newRow("echo shorter than the source")
            << one10 << u"010203"_s << 0 << false << 0u
            << D8Header + u"01 02 03 04 05 06 07 08   01 02 03 \n09 0A "_s + blanks(18) + u"  \n"_s;
        QTest::newRow("echo D16 with addresses")
            << u"1234567890"_s << u"1234567890"_s << 1 << true << 0x2000u
            << blanks(13) + u"<<  Source Data  >>   <<   Echo Data   >>\n[0x00002000] 1234 5678 90   "_s + blanks(5) +
                u"  1234 5678 90   \n"_s;
        QTest::newRow("echo D32 differs") << u"0000000100000002"_s << u"00000001ffffffff"_s << 2 << false << 0u
                                          << D32Header + u"00000001 00000002   00000001 FFFFFFFF \n"_s;
        QTest::newRow("echo D32 short last item") << u"0102030405"_s << u"01020304"_s << 2 << false << 0u
                                                  << D32Header + u"01020304 05         01020304 \n"_s;
    }
    void layout()
    {
        QFETCH(QString, data);
        QFETCH(QString, echo);
        QFETCH(int, width);
        QFETCH(bool, showAddress);
        QFETCH(quint32, start);
        QFETCH(QString, text);
        const QByteArray bytes = QByteArray::fromHex(data.toLatin1());
        QCOMPARE(echo.isNull() ? HexLayout::plainText(bytes, width, showAddress, start)
                               : HexLayout::echoText(bytes, QByteArray::fromHex(echo.toLatin1()), width, showAddress, start),
                 text);
    }
    // Whatever the tab shows, a write or a data file takes the same bytes back out of it.
    void everyLayoutReadsBack()
    {
        QRandomGenerator random(42);
        for (int size : {0, 1, 2, 3, 5, 7, 8, 9, 15, 16, 17, 31, 33, 255, 4096}) {
            QByteArray data(size, '\0');
            for (char &c : data)
                c = char(random.bounded(256));
            for (int width = 0; width < 3; ++width) {
                for (int options = 0; options < 4; ++options) {
                    const bool address = options & 1;
                    const bool echo = options & 2;
                    const QString text = echo ? HexLayout::echoText(data, data.left(size / 2), width, address, 0xFFFFFF00)
                                              : HexLayout::plainText(data, width, address, 0xFFFFFF00);
                    if (HexLayout::readText(text, address, echo) != data)
                        QFAIL(qPrintable(u"%1 bytes, D%2, address %3, echo %4"_s
                                             .arg(size).arg(8 << width).arg(address).arg(echo)));
                }
            }
        }
    }
    void readText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("showAddress");
        QTest::addColumn<bool>("showEcho");
        QTest::addColumn<QString>("data"); // hex digits

        QTest::newRow("odd pieces do not borrow digits") << u"01 2 03"_s << false << false << u"010203"_s;
        QTest::newRow("line breaks and tabs end a piece") << u"1\n2\t3"_s << false << false << u"010203"_s;
        QTest::newRow("other characters are skipped") << u"zz 1g2 ? １２"_s << false << false << u"12"_s;
        QTest::newRow("address: first piece of every line dropped")
            << u"01 02 03\n[0x8] 04\n"_s << true << false << u"020304"_s;
        QTest::newRow("address: odd pieces") << u"[0x0] 12 3 45\n[0x8] 6"_s << true << false << u"12034506"_s;
        QTest::newRow("address: a line without blank is all address") << u"[0x0]\n[0x8] 05"_s << true << false << u"05"_s;
        QTest::newRow("echo: header skipped, echo column ignored")
            << D8Header + u"01 2 03"_s + blanks(17) + u"  FF FF FF \n"_s << false << true << u"010203"_s;
        QTest::newRow("echo: a line without two blanks is all source")
            << u"header 12\n01 02\n03"_s << false << true << u"010203"_s;
    }
    void readText()
    {
        QFETCH(QString, text);
        QFETCH(bool, showAddress);
        QFETCH(bool, showEcho);
        QFETCH(QString, data);
        QCOMPARE(HexLayout::readText(text, showAddress, showEcho), QByteArray::fromHex(data.toLatin1()));
    }
    void idSequence_data()
    {
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("last"); // the IDs of the last commands

        QTest::newRow("128..255 wraps to the lower end") << 128 << 255 << 128 << 129 << QList<int>{254, 255, 128};
        QTest::newRow("a start below the range") << 128 << 255 << 10 << 2 << QList<int>{128, 129};
        QTest::newRow("0..255 wraps from 255 to 0") << 0 << 255 << 254 << 3 << QList<int>{254, 255, 0};
        QTest::newRow("narrow range") << 100 << 102 << 100 << 5 << QList<int>{101, 102, 100, 101};
    }
    void idSequence()
    {
        QFETCH(int, low);
        QFETCH(int, high);
        QFETCH(int, first);
        QFETCH(int, count);
        QFETCH(QList<int>, last);
        Tab t;
        t.host.low = quint8(low);
        t.host.high = quint8(high);
        t.form.setID(quint8(first));
        QList<int> ids;
        for (int i = 0; i < count; ++i) {
            if (i == 1) { // a refused command takes no ID
                t.fill(u"D8 zz 0"_s);
                ModalAnswerer box;
                t.press(true);
                QVERIFY(box.seen());
            }
            t.fill(u"D8 0 0"_s);
            t.press(true);
            QVERIFY(!t.idle());
            ids << t.thread.commands.last()->id;
            t.answer(QByteArray());
            QVERIFY(t.idle());
        }
        QCOMPARE(ids.mid(count - last.size()), last);
    }
    void commands_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("data");    // a write when not null
        QTest::addColumn<QString>("outcome"); // address, byte length, mode and data sent; or the refusal

        const QString address = u"Please set address correctly."_s;
        const QString length = u"Please set Length(0-%1) correctly."_s;
        const QString mismatch =
            u"Please set Data for write correctly.\nMismatch between %1(Length) and %2(a number of Data)"_s;
        QTest::newRow("plain number is hex") << u"D8 1000 1 A24 1"_s << QString() << u"00001000 1 0110 "_s;
        QTest::newRow("010 is hex too") << u"D16 010 2 A16 2"_s << QString() << u"00000010 4 0420 "_s;
        QTest::newRow("D32 at 0x10, longest") << u"D32 0x10 63 A32 4"_s << QString() << u"00000010 252 0a50 "_s;
        QTest::newRow("D16 length 0x10") << u"D16 0x1002 0x10 A24 5"_s << QString() << u"00001002 32 0560 "_s;
        QTest::newRow("read of length 0, no echo") << u"D8 0 0 A24 7 echo"_s << QString() << u"00000000 0 0190 "_s;
        QTest::newRow("D8 write, no echo") << u"D8 20 3 A32 9"_s << u"0A 0B 0C"_s << u"00000020 3 82d0 0a0b0c"_s;
        QTest::newRow("D8 write, odd pieces") << u"D8 20 3 A24 0"_s << u"01 2 03"_s << u"00000020 3 8100 010203"_s;
        QTest::newRow("D8 write, one odd piece") << u"D8 20 2 A24 8"_s << u"ABC"_s << u"00000020 2 81c0 0abc"_s;
        QTest::newRow("D16 write with echo")
            << u"D16 0xfffffffe 2 A32 3 echo"_s << u"1234 567"_s << u"fffffffe 4 c640 12340567"_s;
        QTest::newRow("D32 write of two items")
            << u"D32 0x100 2 A16 6 echo"_s << u"DEADBEEF 00000001 \n"_s << u"00000100 8 c880 deadbeef00000001"_s;

        QTest::newRow("not a number") << u"D8 12g4 1"_s << QString() << address;
        QTest::newRow("D32 misaligned") << u"D32 0x1002 1"_s << QString() << u"The address must be 4byte aligned."_s;
        QTest::newRow("D16 odd") << u"D16 1001 1"_s << u"1234"_s << u"The address must be 2byte aligned."_s;
        QTest::newRow("D8 length 256") << u"D8 0 256"_s << QString() << length.arg(255);
        QTest::newRow("D16 length 128") << u"D16 0 128"_s << QString() << length.arg(127);
        QTest::newRow("D32 length 0x40") << u"D32 0 0x40"_s << QString() << length.arg(63);
        QTest::newRow("binary length") << u"D8 0 0b11"_s << QString() << length.arg(255);
        QTest::newRow("D16 length 4, six bytes") << u"D16 0 4"_s << u"11 22 33 44 55 66"_s << mismatch.arg(8).arg(3);
        QTest::newRow("D32 length 1, five bytes") << u"D32 0 1"_s << u"0102030405"_s << mismatch.arg(4).arg(1);
        QTest::newRow("D8 write without data") << u"D8 0 2"_s << u""_s << mismatch.arg(2).arg(0);
    }
    void commands()
    {
        QFETCH(QString, fields);
        QFETCH(QString, data);
        QFETCH(QString, outcome);
        Tab t;
        t.fill(fields);
        t.setText(data);
        ModalAnswerer box(QMessageBox::Ok, 2000);
        t.press(data.isNull());
        if (box.seen()) {
            QCOMPARE(box.text(), outcome);
            QCOMPARE(box.title(), u"Invalid Setting"_s);
            QCOMPARE(box.buttons(), QMessageBox::StandardButtons(QMessageBox::Ok));
            QVERIFY(t.thread.commands.isEmpty());
            QVERIFY(t.idle());
            QCOMPARE(t.text(), data); // the data text is the operator's: a refusal leaves it alone
            return;
        }
        QCOMPARE(t.thread.commands.size(), 1);
        const TarnixCmd *c = t.thread.commands.first();
        QCOMPARE(u"%1 %2 %3 %4"_s.arg(c->address, 8, 16, QChar(u'0')).arg(c->length).arg(c->mode, 4, 16, QChar(u'0'))
                     .arg(QString::fromLatin1(c->data.toHex())),
                 outcome);
        QCOMPARE(t.address(), u"0x"_s + outcome.left(8));
        QVERIFY(!t.idle());
    }
    void responses_data()
    {
        QTest::addColumn<quint16>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("no flags") << quint16(0) << QString();
        QTest::newRow("both") << quint16(0x0005) << u"VME error\nDetected parameter error\nMODE:0x0a05"_s;
        QTest::newRow("VME error") << quint16(0x0004) << u"VME error\nMODE:0x0a04"_s;
        QTest::newRow("parameter error") << quint16(0x0001) << u"Detected parameter error\nMODE:0x0a01"_s;
    }
    void responses()
    {
        QFETCH(quint16, status);
        QFETCH(QString, message);
        Tab t;
        t.fill(u"D32 0x40 1 A32"_s);
        t.press(true);
        // Responses to other commands and programs' reports are not this tab's.
        ModalAnswerer box(QMessageBox::Ok, message.isEmpty() ? 1000 : 10000);
        const quint8 id = t.form.lastCommandID();
        t.form.received(quint8(id + 1), 0x0A05, QByteArray::fromHex("ffffffff"));
        t.form.received(5, 0x0A00, QByteArray::fromHex("eeeeeeee"));
        QVERIFY(!box.seen());
        QVERIFY(!t.idle());
        QVERIFY(t.text().isEmpty());
        t.answer(QByteArray::fromHex("0000ab00"), status);
        QCOMPARE(box.seen(), !message.isEmpty());
        QCOMPARE(box.text(), message);
        if (box.seen())
            QCOMPARE(box.title(), u"Error detection"_s);
        // The data is shown all the same and the tab is usable again.
        QCOMPARE(t.text(), u"0000AB00 \n"_s);
        QCOMPARE(t.form.sourceData(), QByteArray::fromHex("0000ab00"));
        QVERIFY(t.idle());

        // A response that never comes: the next connection's modes make the tab usable again.
        t.press(true);
        QVERIFY(!t.idle());
        t.form.setAddressMode(0);
        QVERIFY(t.idle());

        // The window destroys the worker when the connection ends: the tab stays usable.
        auto *gone = new CaptureThread;
        t.form.setTcp(gone);
        delete gone;
        t.press(true);
        QVERIFY(t.idle());
    }
    void addressToggle_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("rewritten");
        QTest::addColumn<QString>("firstRow");
        QTest::addColumn<qint64>("sent"); // by the next Read; -1: refused

        QTest::newRow("1000") << u"1000"_s << u"0x00001000"_s << u"[0x00001000]"_s << qint64(0x1000);
        QTest::newRow("33 bits stay as typed") << u"0x100001000"_s << u"0x100001000"_s << u"[0x00001000]"_s << qint64(-1);
        QTest::newRow("empty stays empty") << QString() << QString() << u"[0x00000000]"_s << qint64(-1);
    }
    void addressToggle()
    {
        QFETCH(QString, typed);
        QFETCH(QString, rewritten);
        QFETCH(QString, firstRow);
        QFETCH(qint64, sent);
        Tab t;
        t.fill(u"D16 - 5"_s);
        t.w<QLineEdit>("addrEdit")->setText(typed);
        t.form.dumpData(QByteArray::fromHex("00112233445566778899"));
        const QString plain = t.text();
        QCOMPARE(plain, u"0011 2233 4455 6677 \n8899 \n"_s);
        t.click("dispAdr");
        QVERIFY2(t.text().startsWith(firstRow + u" 0011 2233"_s), qPrintable(t.text()));
        QCOMPARE(t.address(), rewritten);
        t.click("dispAdr");
        QCOMPARE(t.text(), plain);
        t.setText(u"0011 2233 4455 66FF \n8899 \n"_s); // a new width re-groups the bytes, edits included
        t.w<QComboBox>("datm")->setCurrentIndex(2);
        QCOMPARE(t.text(), u"00112233 445566FF \n8899     \n"_s);

        // The next Read goes where the operator typed, or nowhere.
        ModalAnswerer box(QMessageBox::Ok, 2000);
        t.press(true);
        QCOMPARE(box.text(), sent < 0 ? u"Please set address correctly."_s : QString());
        if (sent >= 0) {
            QCOMPARE(qint64(t.thread.commands.last()->address), sent);
            t.answer(QByteArray::fromHex("0000"));
        }

        // Once rewritten, the field is the operator's again.
        t.w<QLineEdit>("addrEdit")->setText(u"2000"_s);
        t.click("dispAdr");
        QCOMPARE(t.address(), sent < 0 ? u"0x00002000"_s : u"2000"_s);
    }
    void saveAndLoad()
    {
        QTemporaryDir dir;
        Tab t;
        t.fill(u"D16 0x200 4"_s); // a D16 read of 4 items
        t.press(true);
        t.answer(QByteArray::fromHex("0001fffe80007f00"));
        const QString path = dir.filePath(u"d16.bin"_s);
        answerFileDialog(path);
        t.w<QPushButton>("save")->click();
        QCOMPARE(fileBytes(path), QByteArray::fromHex("0001fffe80007f00"));
        QCOMPARE(t.w<QLineEdit>("lenEdit")->text(), u"8"_s);

        // Loading shows the file with the current options, without the echo column.
        const QByteArray raw = pattern(300, 7);
        QFile f(dir.filePath(u"raw.bin"_s));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(raw) == raw.size());
        f.close();
        t.click("echoCheck");
        t.click("dispEcho");
        t.click("dispAdr");
        answerFileDialog(f.fileName());
        t.w<QPushButton>("open")->click();
        QVERIFY(t.text().startsWith(QLatin1String("[0x00000200] 0411 1E2B 3845 525F \n[0x00000208] 6C79")));
        QVERIFY(t.form.echoedData().isEmpty());
        QCOMPARE(t.w<QLineEdit>("lenEdit")->text(), u"8"_s); // loading leaves the length alone
        answerFileDialog(path); // saving again replaces the content with what is shown
        t.w<QPushButton>("save")->click();
        QCOMPARE(fileBytes(path), raw);
    }
    void fileErrors_data()
    {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("name"); // in a fresh directory, or absolute
        QTest::addColumn<qint64>("size");  // of a file made there first
        QTest::addColumn<QString>("message");
        const qint64 none = -1;
        QTest::newRow("open a socket") << false << u"module.sock"_s << none << u"Cannot open file for reading: %1."_s;
        QTest::newRow("open too large") << false << u"huge.bin"_s << TarnixCmdForm::MaxFileBytes + 1
                                        << u"Cannot load file: it holds more than 1048576 bytes."_s;
        QTest::newRow("open an empty file") << false << u"empty.bin"_s << qint64(0) << QString();
        QTest::newRow("save into a missing directory") << true << u"no/d.bin"_s << none
                                                       << u"Cannot open file for writing: %1."_s;
        QTest::newRow("save to a full device") << true << u"/dev/full"_s << none
                                               << u"Cannot write file: No space left on device."_s;
    }
    void fileErrors()
    {
        QFETCH(bool, save);
        QFETCH(QString, name);
        QFETCH(qint64, size);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = QDir::isAbsolutePath(name) ? name : dir.filePath(name);
        QLocalServer server; // a socket file exists but cannot be opened as a file, not even by root
        QVERIFY(!name.endsWith(u".sock"_s) || server.listen(path));
        QFile probe(path);
        if (size >= 0)
            QVERIFY(probe.open(QIODevice::WriteOnly) && probe.resize(size));
        else if (!probe.open(save ? QIODevice::WriteOnly : QIODevice::ReadOnly))
            message = message.arg(probe.errorString());
        probe.close();

        Tab t;
        t.setText(u"01 02"_s);
        t.w<QLineEdit>("lenEdit")->setText(u"9"_s);
        answerFileDialog(path);
        TabBox box;
        t.w<QPushButton>(save ? "save" : "open")->click();
        QCOMPARE(box.text, message.isNull() ? QString() : QCoreApplication::applicationName() + u'|' + message);
        QCOMPARE(t.text(), u"01 02"_s);
        QCOMPARE(t.w<QLineEdit>("lenEdit")->text(), u"9"_s);
    }
    // In the window against the software module: a write with echo, a read re-laid and written
    // back from what is shown, and the IDs, at every width and the longest length.
    void readAndWrite_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("items");
        QTest::newRow("D8 longest") << 0 << 255;
        QTest::newRow("D16 longest") << 1 << 127;
        QTest::newRow("D32 longest") << 2 << 63;
    }
    void readAndWrite()
    {
        QFETCH(int, width);
        QFETCH(int, items);
        const int size = items << width;
        Window r;
        QVERIFY(r.start(width));

        // A write with echo of bytes typed one by one.
        const QByteArray written = pattern(size, size);
        r.w<QTextEdit>("dataText")->setPlainText(QString::fromLatin1(written.toHex(' ')));
        r.click("echoCheck");
        r.click("dispEcho");
        QVERIFY(r.command("writeButton", u"0x1000"_s, items));
        QCOMPARE(r.module.sim()->readVme(2, 0x1000, size), written);
        QCOMPARE(r.tab->echoedData(), written);
        QCOMPARE(r.w<QComboBox>("accm")->currentIndex(), 3);
        QCOMPARE(r.tab->lastCommandID(), quint8(5));

        // A read beside an empty echo column, re-laid without it and with row addresses: written
        // back from what is shown, the same bytes reach the module.
        const QByteArray stored = pattern(size, 7);
        QVERIFY(r.module.sim()->writeVme(2, 0x2000, stored));
        QVERIFY(r.command("readButton", u"2000"_s, items));
        QCOMPARE(r.tab->sourceData(), stored);
        r.click("dispEcho");
        r.click("dispAdr");
        QVERIFY(r.text().startsWith(u"[0x00002000] "_s));
        r.click("echoCheck");
        QVERIFY(r.command("writeButton", u"0x3000"_s, items));
        QCOMPARE(r.module.sim()->readVme(2, 0x3000, size), stored);
        QCOMPARE(r.tab->lastCommandID(), quint8(7));

        // A new connection starts the IDs again.
        QVERIFY(r.toggleConnection(u"disconnected"_s));
        QVERIFY(r.toggleConnection(u"connected"_s));
        QVERIFY(r.command("readButton", u"2000"_s, items));
        QCOMPARE(r.tab->lastCommandID(), quint8(5));
        QCOMPARE(r.tab->sourceData(), stored);
    }
};

QTEST_MAIN(TestInteractive)
#include "tst_interactive.moc"
