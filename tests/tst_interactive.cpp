// The interactive tab on its own: a fake window answers the ID range and a worker that is never
// started collects the commands, so every field check, ID and layout can be looked at exactly.
#include "hexlayout.h"
#include "fakehost.h"
#include "filedialoganswerer.h"
#include "modalanswerer.h"
#include "namedchild.h"
#include "modeword.h"
#include "programhost.h"
#include "tarnixcmd.h"
#include "tarnixcmdform.h"
#include "tcpthread.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include <memory>

namespace {


// A worker that is never started: it keeps what the tab queues.
class CaptureThread : public QTcpThread
{
public:
    CaptureThread() : QTcpThread(QStringLiteral("127.0.0.1"), 1) {}
    ~CaptureThread() override { qDeleteAll(commands); }
    void setCmd(TarnixCmd *cmd) override { commands << cmd; }
    QList<TarnixCmd *> commands;
};

struct Tab
{
    FakeHost host;
    CaptureThread thread;
    TarnixCmdForm form;

    Tab()
    {
        form.setMainWindow(&host);
        form.setTcp(&thread);
        form.setDataMode(0);
        form.setAddressMode(1);
        form.setAccessMode(0);
        form.setID(128);
    }
    template <typename T> T *w(const char *name) { return child<T>(form, name); }
    QString text() { return w<QTextEdit>("dataText")->toPlainText(); }
    void setText(const QString &t) { w<QTextEdit>("dataText")->setPlainText(t); }
    bool groupEnabled() { return w<QGroupBox>("groupRW")->isEnabled(); }
    void fill(int width, const QString &address, const QString &length)
    {
        w<QComboBox>("datm")->setCurrentIndex(width);
        w<QLineEdit>("addrEdit")->setText(address);
        w<QLineEdit>("lenEdit")->setText(length);
    }
    void press(bool read) { w<QPushButton>(read ? "readButton" : "writeButton")->click(); }
    // Answers the last command as the module would.
    void answer(const QByteArray &data, quint16 status = 0)
    {
        const TarnixCmd *c = thread.commands.last();
        form.received(c->id, quint16(c->mode | status), data);
    }
};

QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}


// Records and closes the next message box of the tab, leaving the file dialog's own questions
// to answerFileDialog.
class BoxCatcher : public QObject
{
public:
    BoxCatcher()
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || qobject_cast<QFileDialog *>(box->parentWidget()))
                return;
            timer.stop();
            seen = true;
            title = box->windowTitle();
            text = box->text();
            buttons = box->standardButtons();
            box->button(QMessageBox::Ok)->click();
        });
        timer.start();
    }
    QTimer timer;
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
};

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestInteractive : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void form();
    void idSequence_data();
    void idSequence();
    void refusals_data();
    void refusals();
    void commands_data();
    void commands();
    void withoutConnection();
    void errorFlags_data();
    void errorFlags();
    void otherIdsIgnored();
    void addressModeReenablesGroup();
    void toggleAddressTwice();
    void widthChangeKeepsEdits();
    void echoDisplay();
    void saveAndLoad();
    void loadErrors();
    void loadTooLarge_data();
    void loadTooLarge();
    void saveErrors();

private:
    std::unique_ptr<QTimer> watchdog;
    QStringList unexpected;
};

void TestInteractive::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("tst_interactive"));
}

// A box that nobody answers would hang the test: close it after a while and fail instead.
void TestInteractive::init()
{
    unexpected.clear();
    watchdog.reset(new QTimer);
    watchdog->setInterval(3000);
    auto last = std::make_shared<QPointer<QWidget>>();
    QObject::connect(watchdog.get(), &QTimer::timeout, [this, last] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal == *last) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            unexpected << (box ? box->text() : modal->windowTitle());
            if (auto *d = qobject_cast<QDialog *>(modal))
                d->reject();
        }
        *last = modal;
    });
    watchdog->start();
}

void TestInteractive::cleanup()
{
    watchdog.reset();
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(QLatin1String(" | "))));
}

void TestInteractive::form()
{
    Tab t;
    QCOMPARE(t.form.windowTitle(), QStringLiteral("Form"));
    QCOMPARE(t.form.size(), QSize(555, 463));

    const QList<QPair<const char *, QString>> texts{
        {"groupBox_5", QStringLiteral("&Mode")},
        {"groupRW", QStringLiteral("Read / Write")},
        {"label_13", QStringLiteral("Access Mode")},
        {"label_14", QStringLiteral("Address Mode")},
        {"label_15", QStringLiteral("Data Mode")},
        {"echoCheck", QStringLiteral("&Echo Write data")},
        {"writeButton", QStringLiteral("&Write")},
        {"readButton", QStringLiteral("&Read")},
        {"open", QStringLiteral("&Open\n(Read data from file)")},
        {"save", QStringLiteral("&Save\n(Write data to file)")},
        {"dispEcho", QStringLiteral("Display Echo data")},
        {"dispAdr", QStringLiteral("Display Address")},
        {"label_20", QStringLiteral("&Address")},
        {"label_19", QStringLiteral("&Length")},
    };
    for (const auto &[name, text] : texts) {
        QObject *o = t.form.findChild<QObject *>(QLatin1String(name));
        QVERIFY2(o, name);
        const QString shown = o->property(qobject_cast<QGroupBox *>(o) ? "title" : "text").toString();
        QCOMPARE(shown, text);
    }
    const QStringList access = VmeModeWord::accessModeLabels().mid(0, 10);
    auto items = [](QComboBox *c) {
        QStringList l;
        for (int i = 0; i < c->count(); ++i)
            l << c->itemText(i);
        return l;
    };
    QCOMPARE(items(t.w<QComboBox>("accm")), access);
    QCOMPARE(items(t.w<QComboBox>("adrm")), QStringList({"A16", "A24", "A32"}));
    QCOMPARE(items(t.w<QComboBox>("datm")), QStringList({"D8", "D16", "D32"}));

    // Everything but the modes sits in the group that a pending command disables.
    auto *group = t.w<QGroupBox>("groupRW");
    for (const char *name : {"echoCheck", "writeButton", "readButton", "open", "save", "dispEcho", "dispAdr",
                             "dataText", "addrEdit", "lenEdit"})
        QVERIFY2(group->isAncestorOf(t.w<QWidget>(name)), name);
    QVERIFY(t.w<QWidget>("layoutWidget")->isAncestorOf(t.w<QWidget>("addrEdit")));
    QCOMPARE(t.w<QLabel>("label_20")->buddy(), t.w<QWidget>("addrEdit"));
    QCOMPARE(t.w<QLabel>("label_19")->buddy(), t.w<QWidget>("lenEdit"));

    QVERIFY(!t.w<QCheckBox>("echoCheck")->isChecked());
    QVERIFY(!t.w<QCheckBox>("dispEcho")->isEnabled());
    QVERIFY(!t.w<QCheckBox>("dispAdr")->isChecked());
    QVERIFY(t.w<QPushButton>("readButton")->isDefault());
    QVERIFY(!t.w<QPushButton>("writeButton")->autoDefault());
    QCOMPARE(t.w<QPushButton>("open")->font().pointSize(), 8);
    QCOMPARE(t.w<QPushButton>("save")->font().pointSize(), 8);
    QVERIFY(t.w<QLineEdit>("addrEdit")->text().isEmpty());
    QVERIFY(t.w<QLineEdit>("lenEdit")->text().isEmpty());
    auto *data = t.w<QTextEdit>("dataText");
    QCOMPARE(data->lineWrapMode(), QTextEdit::NoWrap);
    QCOMPARE(data->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(data->font().pointSize(), 9);
    QVERIFY(QFontInfo(data->font()).fixedPitch());

    // The echo display follows the echo box.
    t.w<QCheckBox>("echoCheck")->click();
    QVERIFY(t.w<QCheckBox>("dispEcho")->isEnabled());
    t.w<QCheckBox>("echoCheck")->click();
    QVERIFY(!t.w<QCheckBox>("dispEcho")->isEnabled());
}

void TestInteractive::idSequence_data()
{
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("commands");
    QTest::addColumn<QList<int>>("expectedHead");
    QTest::addColumn<QList<int>>("expectedTail");

    QTest::newRow("128..255 wraps to the lower end")
        << 128 << 255 << 128 << 129 << QList<int>{128, 129, 130} << QList<int>{254, 255, 128};
    QTest::newRow("a start below the range starts at its lower end")
        << 128 << 255 << 10 << 2 << QList<int>{128, 129} << QList<int>{128, 129};
    QTest::newRow("0..255 wraps from 255 to 0") << 0 << 255 << 254 << 3 << QList<int>{254, 255, 0}
                                                << QList<int>{254, 255, 0};
    QTest::newRow("narrow range") << 100 << 102 << 100 << 5 << QList<int>{100, 101, 102}
                                  << QList<int>{102, 100, 101};
}

void TestInteractive::idSequence()
{
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(int, first);
    QFETCH(int, commands);
    QFETCH(QList<int>, expectedHead);
    QFETCH(QList<int>, expectedTail);
    Tab t;
    t.host.low = quint8(low);
    t.host.high = quint8(high);
    t.form.setID(quint8(first));
    t.fill(0, QStringLiteral("0"), QStringLiteral("0"));
    QList<int> ids;
    for (int i = 0; i < commands; ++i) {
        t.press(true);
        QVERIFY(!t.groupEnabled());
        QCOMPARE(t.thread.commands.size(), i + 1);
        ids << t.thread.commands.last()->id;
        QCOMPARE(int(t.form.lastCommandID()), ids.last());
        t.answer(QByteArray());
        QVERIFY(t.groupEnabled());
    }
    QCOMPARE(ids.mid(0, expectedHead.size()), expectedHead);
    QCOMPARE(ids.mid(ids.size() - expectedTail.size()), expectedTail);

    // A refused command takes no ID.
    t.w<QLineEdit>("addrEdit")->setText(QStringLiteral("zz"));
    ModalAnswerer box;
    t.press(true);
    QVERIFY(box.seen());
    t.fill(0, QStringLiteral("0"), QStringLiteral("0"));
    t.press(true);
    const int next = ids.last() == high ? low : ids.last() + 1;
    QCOMPARE(int(t.thread.commands.last()->id), next);
}

void TestInteractive::refusals_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("read");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("length");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("message");

    const QString badAddress = QStringLiteral("Please set address correctly.");
    QTest::newRow("empty address") << 0 << true << QString() << QStringLiteral("1") << QString() << badAddress;
    QTest::newRow("not a number") << 0 << true << QStringLiteral("12g4") << QStringLiteral("1") << QString()
                                  << badAddress;
    QTest::newRow("beyond 32 bits") << 0 << true << QStringLiteral("0x100000000") << QStringLiteral("1")
                                    << QString() << badAddress;
    QTest::newRow("D32 misaligned") << 2 << true << QStringLiteral("0x1002") << QStringLiteral("1") << QString()
                                    << QStringLiteral("The address must be 4byte aligned.");
    QTest::newRow("D16 odd") << 1 << false << QStringLiteral("1001") << QStringLiteral("1") << QStringLiteral("1234")
                             << QStringLiteral("The address must be 2byte aligned.");
    QTest::newRow("D8 length 256") << 0 << true << QStringLiteral("0") << QStringLiteral("256") << QString()
                                   << QStringLiteral("Please set Length(0-255) correctly.");
    QTest::newRow("D16 length 128") << 1 << true << QStringLiteral("0") << QStringLiteral("128") << QString()
                                    << QStringLiteral("Please set Length(0-127) correctly.");
    QTest::newRow("D32 length 0x40") << 2 << true << QStringLiteral("0") << QStringLiteral("0x40") << QString()
                                     << QStringLiteral("Please set Length(0-63) correctly.");
    QTest::newRow("empty length") << 0 << true << QStringLiteral("0") << QString() << QString()
                                  << QStringLiteral("Please set Length(0-255) correctly.");
    QTest::newRow("negative length") << 2 << true << QStringLiteral("0") << QStringLiteral("-1") << QString()
                                     << QStringLiteral("Please set Length(0-63) correctly.");
    QTest::newRow("D16 length 4, six bytes")
        << 1 << false << QStringLiteral("0") << QStringLiteral("4") << QStringLiteral("11 22 33 44 55 66")
        << QStringLiteral("Please set Data for write correctly.\nMismatch between 8(Length) and 3(a number of Data)");
    QTest::newRow("D32 length 1, five bytes")
        << 2 << false << QStringLiteral("0") << QStringLiteral("1") << QStringLiteral("0102030405")
        << QStringLiteral("Please set Data for write correctly.\nMismatch between 4(Length) and 1(a number of Data)");
    QTest::newRow("D8 write without data")
        << 0 << false << QStringLiteral("0") << QStringLiteral("2") << QString()
        << QStringLiteral("Please set Data for write correctly.\nMismatch between 2(Length) and 0(a number of Data)");
}

void TestInteractive::refusals()
{
    QFETCH(int, width);
    QFETCH(bool, read);
    QFETCH(QString, address);
    QFETCH(QString, length);
    QFETCH(QString, data);
    QFETCH(QString, message);
    Tab t;
    t.fill(width, address, length);
    t.setText(data);
    ModalAnswerer box;
    t.press(read);
    QVERIFY(box.seen());
    QCOMPARE(box.title(), QStringLiteral("Invalid Setting"));
    QCOMPARE(box.text(), message);
    QCOMPARE(box.buttons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.icon(), QMessageBox::Warning);
    QVERIFY(t.thread.commands.isEmpty());
    QVERIFY(t.groupEnabled());
    QCOMPARE(t.text(), data); // the data text is the operator's: a refusal leaves it alone
}

void TestInteractive::commands_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("read");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<int>("access");
    QTest::addColumn<int>("addressMode");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("length");
    QTest::addColumn<QString>("data");
    QTest::addColumn<quint32>("sentAddress");
    QTest::addColumn<quint32>("sentLength");
    QTest::addColumn<quint16>("mode");
    QTest::addColumn<QByteArray>("sentData");
    QTest::addColumn<QString>("addressField");

    QTest::newRow("plain number is hex") << 0 << true << false << 0 << 1 << QStringLiteral("1000")
                                         << QStringLiteral("1") << QString() << 0x1000u << 1u << quint16(0x0100)
                                         << QByteArray() << QStringLiteral("0x00001000");
    QTest::newRow("0x prefix") << 0 << true << false << 0 << 1 << QStringLiteral("0x1000") << QStringLiteral("1")
                               << QString() << 0x1000u << 1u << quint16(0x0100) << QByteArray()
                               << QStringLiteral("0x00001000");
    QTest::newRow("leading zero without 0x") << 0 << true << false << 0 << 1 << QStringLiteral("010")
                                             << QStringLiteral("1") << QString() << 0x10u << 1u << quint16(0x0100)
                                             << QByteArray() << QStringLiteral("0x00000010");
    QTest::newRow("D32 0x10 read") << 2 << true << false << 0 << 2 << QStringLiteral("0x10") << QStringLiteral("1")
                                   << QString() << 0x10u << 4u << quint16(0x0A00) << QByteArray()
                                   << QStringLiteral("0x00000010");
    QTest::newRow("D16 at 0x1002") << 1 << true << false << 3 << 0 << QStringLiteral("0x1002")
                                   << QStringLiteral("127") << QString() << 0x1002u << 254u << quint16(0x0440)
                                   << QByteArray() << QStringLiteral("0x00001002");
    QTest::newRow("length 0x10 with D8") << 0 << true << false << 0 << 1 << QStringLiteral("0")
                                         << QStringLiteral("0x10") << QString() << 0u << 16u << quint16(0x0100)
                                         << QByteArray() << QStringLiteral("0x00000000");
    QTest::newRow("read of length 0") << 2 << true << true << 0 << 1 << QStringLiteral("0") << QStringLiteral("0")
                                      << QString() << 0u << 0u << quint16(0x0900) << QByteArray()
                                      << QStringLiteral("0x00000000");
    QTest::newRow("D8 write, no echo") << 0 << false << false << 9 << 2 << QStringLiteral("20")
                                       << QStringLiteral("3") << QStringLiteral("0A 0B 0C") << 0x20u << 3u
                                       << quint16(0x82D0) << bytes("0a0b0c") << QStringLiteral("0x00000020");
    QTest::newRow("D8 write, odd digits") << 0 << false << false << 0 << 1 << QStringLiteral("20")
                                          << QStringLiteral("2") << QStringLiteral("ABC") << 0x20u << 2u
                                          << quint16(0x8100) << bytes("0abc") << QStringLiteral("0x00000020");
    QTest::newRow("D16 write with echo") << 1 << false << true << 3 << 2 << QStringLiteral("0xfffffffe")
                                         << QStringLiteral("1") << QStringLiteral("BEEF") << 0xFFFFFFFEu << 2u
                                         << quint16(0xC640) << bytes("beef") << QStringLiteral("0xfffffffe");
    QTest::newRow("D32 write of two items") << 2 << false << true << 6 << 0 << QStringLiteral("0x100")
                                            << QStringLiteral("2") << QStringLiteral("DEADBEEF 00000001 \n")
                                            << 0x100u << 8u << quint16(0xC880) << bytes("deadbeef00000001")
                                            << QStringLiteral("0x00000100");
}

void TestInteractive::commands()
{
    QFETCH(int, width);
    QFETCH(bool, read);
    QFETCH(bool, echo);
    QFETCH(int, access);
    QFETCH(int, addressMode);
    QFETCH(QString, address);
    QFETCH(QString, length);
    QFETCH(QString, data);
    QFETCH(quint32, sentAddress);
    QFETCH(quint32, sentLength);
    QFETCH(quint16, mode);
    QFETCH(QByteArray, sentData);
    QFETCH(QString, addressField);
    Tab t;
    t.form.setAccessMode(access);
    t.form.setAddressMode(addressMode);
    if (echo)
        t.w<QCheckBox>("echoCheck")->click();
    t.fill(width, address, length);
    t.setText(data);
    t.press(read);
    QCOMPARE(t.thread.commands.size(), 1);
    const TarnixCmd *c = t.thread.commands.first();
    QCOMPARE(c->address, sentAddress);
    QCOMPARE(c->length, sentLength);
    QCOMPARE(c->mode, mode);
    QCOMPARE(c->data, sentData);
    QCOMPARE(c->id, quint8(128));
    QCOMPARE(t.w<QLineEdit>("addrEdit")->text(), addressField);
    QVERIFY(!t.groupEnabled());
    QCOMPARE(t.form.sourceData(), sentData);
}

void TestInteractive::withoutConnection()
{
    // No worker (the connection went away): nothing is queued and the group stays usable.
    Tab t;
    t.form.setTcp(nullptr);
    t.fill(0, QStringLiteral("0"), QStringLiteral("1"));
    t.press(true);
    QVERIFY(t.groupEnabled());

    // A worker destroyed behind the tab's back is not used either.
    Tab u;
    auto *gone = new CaptureThread;
    u.form.setTcp(gone);
    delete gone;
    u.fill(0, QStringLiteral("0"), QStringLiteral("1"));
    u.press(true);
    QVERIFY(u.groupEnabled());
}

void TestInteractive::errorFlags_data()
{
    QTest::addColumn<quint16>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("both") << quint16(0x0005)
                          << QStringLiteral("VME error\nDetected parameter error\nMODE:0x0a05");
    QTest::newRow("VME error") << quint16(0x0004) << QStringLiteral("VME error\nMODE:0x0a04");
    QTest::newRow("parameter error") << quint16(0x0001) << QStringLiteral("Detected parameter error\nMODE:0x0a01");
}

void TestInteractive::errorFlags()
{
    QFETCH(quint16, status);
    QFETCH(QString, message);
    Tab t;
    t.form.setAddressMode(2);
    t.fill(2, QStringLiteral("0x40"), QStringLiteral("1"));
    t.press(true);

    // The box comes first; the data is shown once it is closed.
    QString textWhileBoxOpen = QStringLiteral("<no box>");
    QTimer peek;
    peek.setInterval(5);
    QObject::connect(&peek, &QTimer::timeout, [&] {
        if (qobject_cast<QMessageBox *>(QApplication::activeModalWidget()) && textWhileBoxOpen == QLatin1String("<no box>"))
            textWhileBoxOpen = t.text();
    });
    peek.start();
    ModalAnswerer box;
    t.answer(bytes("00000000"), status);
    QVERIFY(box.seen());
    QCOMPARE(box.title(), QStringLiteral("Error detection"));
    QCOMPARE(box.text(), message);
    QCOMPARE(box.buttons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(textWhileBoxOpen, QString());
    QCOMPARE(t.text(), QStringLiteral("00000000 \n"));
    QVERIFY(t.groupEnabled());

    // The mode word alone decides: flags on a response without data still show the box.
    ModalAnswerer second;
    t.press(true);
    t.form.received(t.form.lastCommandID(), 0x0005, QByteArray());
    QVERIFY(second.seen());
    QCOMPARE(second.text(), QStringLiteral("VME error\nDetected parameter error\nMODE:0x0005"));
}

void TestInteractive::otherIdsIgnored()
{
    Tab t;
    t.fill(0, QStringLiteral("0"), QStringLiteral("2"));
    t.press(true);
    const quint8 id = t.form.lastCommandID();
    t.form.received(quint8(id + 1), 0x0105, bytes("ffff"));
    t.form.received(5, 0x0100, bytes("eeee"));
    QVERIFY(!t.groupEnabled());
    QVERIFY(t.text().isEmpty());
    t.form.received(id, 0x0100, bytes("0102"));
    QCOMPARE(t.text(), QStringLiteral("01 02 "));
    QCOMPARE(t.form.sourceData(), bytes("0102"));
}

void TestInteractive::addressModeReenablesGroup()
{
    Tab t;
    t.fill(0, QStringLiteral("0"), QStringLiteral("1"));
    t.press(true);
    QVERIFY(!t.groupEnabled()); // the response never comes
    t.form.setAddressMode(2);
    QVERIFY(t.groupEnabled());
    QCOMPARE(t.w<QComboBox>("adrm")->currentIndex(), 2);
}

void TestInteractive::toggleAddressTwice()
{
    Tab t;
    t.fill(1, QStringLiteral("1000"), QString());
    t.form.dumpData(bytes("00112233445566778899"));
    const QString plain = QStringLiteral("0011 2233 4455 6677 \n8899 \n");
    QCOMPARE(t.text(), plain);
    QCOMPARE(t.w<QLineEdit>("addrEdit")->text(), QStringLiteral("1000"));

    t.w<QCheckBox>("dispAdr")->click();
    QCOMPARE(t.text(), QStringLiteral("[0x00001000] 0011 2233 4455 6677 \n[0x00001008] 8899 \n"));
    QCOMPARE(t.w<QLineEdit>("addrEdit")->text(), QStringLiteral("0x00001000"));

    // Only the first toggle rewrites the field.
    t.w<QLineEdit>("addrEdit")->setText(QStringLiteral("2000"));
    t.w<QCheckBox>("dispAdr")->click();
    QCOMPARE(t.text(), plain);
    QCOMPARE(t.w<QLineEdit>("addrEdit")->text(), QStringLiteral("2000"));

    // A byte typed where the address stands is taken as the address and dropped.
    t.w<QCheckBox>("dispAdr")->click();
    t.setText(QStringLiteral("AA 0011\nBB 2233"));
    t.w<QCheckBox>("dispAdr")->click();
    QCOMPARE(t.text(), QStringLiteral("0011 2233 \n"));
}

void TestInteractive::widthChangeKeepsEdits()
{
    Tab t;
    t.fill(0, QStringLiteral("0"), QString());
    t.form.dumpData(bytes("0102030405060708"));
    QCOMPARE(t.text(), QStringLiteral("01 02 03 04 05 06 07 08\n"));
    t.setText(QStringLiteral("01 02 03 04 05 06 07 FF\n")); // the operator edits a byte
    t.w<QComboBox>("datm")->setCurrentIndex(2);
    QCOMPARE(t.text(), QStringLiteral("01020304 050607FF \n"));
    t.w<QComboBox>("datm")->setCurrentIndex(1);
    QCOMPARE(t.text(), QStringLiteral("0102 0304 0506 07FF \n"));
    QByteArray back;
    t.form.getData(back);
    QCOMPARE(back, bytes("01020304050607ff"));
}

void TestInteractive::echoDisplay()
{
    Tab t;
    auto *echo = t.w<QCheckBox>("echoCheck");
    auto *dispEcho = t.w<QCheckBox>("dispEcho");
    const QString header = QStringLiteral("<<    Source Data    >>   <<     Echo Data     >>\n");
    t.fill(0, QStringLiteral("0"), QStringLiteral("3"));
    t.setText(QStringLiteral("01 02 03"));
    echo->click();
    dispEcho->click();
    QVERIFY(dispEcho->isChecked());
    QCOMPARE(t.text(), header + QStringLiteral("01 02 03 ") + QString(15, QLatin1Char(' ')) + QStringLiteral("  \n"));

    // A D8 write with echo shows the source and echo columns.
    t.press(false);
    QCOMPARE(t.thread.commands.last()->mode, quint16(0xC100));
    t.answer(bytes("010203"));
    QCOMPARE(t.text(), header + QStringLiteral("01 02 03 ") + QString(15, QLatin1Char(' ')) +
                 QStringLiteral("  01 02 03 \n"));
    QCOMPARE(t.form.echoedData(), bytes("010203"));

    // The echo layout is read back as its source column, so the same write can go again.
    t.press(false);
    QCOMPARE(t.thread.commands.last()->data, bytes("010203"));
    t.answer(bytes("0102ff"));
    QVERIFY(t.text().endsWith(QLatin1String("  01 02 FF \n")));

    // Unchecking the echo box turns the echo display off and keeps only the source column.
    echo->click();
    QVERIFY(!dispEcho->isChecked());
    QVERIFY(!dispEcho->isEnabled());
    QCOMPARE(t.text(), QStringLiteral("01 02 03 "));

    // Turning the echo display on shows the whole text as the source beside the last echo.
    echo->click();
    t.setText(QStringLiteral("0A 0B"));
    dispEcho->click();
    QCOMPARE(t.text(), header + QStringLiteral("0A 0B ") + QString(18, QLatin1Char(' ')) +
                 QStringLiteral("  01 02 FF \n"));
}

void TestInteractive::saveAndLoad()
{
    QTemporaryDir dir;
    Tab t;
    // A D16 read of 4 items.
    t.fill(1, QStringLiteral("0x200"), QStringLiteral("4"));
    t.press(true);
    t.answer(bytes("0001fffe80007f00"));
    const QString shown = t.text();
    QCOMPARE(shown, QStringLiteral("0001 FFFE 8000 7F00 \n"));

    const QString path = dir.filePath(QStringLiteral("d16.bin"));
    answerFileDialog(path);
    t.w<QPushButton>("save")->click();
    QCOMPARE(fileBytes(path), bytes("0001fffe80007f00"));
    QCOMPARE(t.w<QLineEdit>("lenEdit")->text(), QStringLiteral("8"));

    // Saving again replaces the content: what is shown is what is written, edits included.
    t.setText(QStringLiteral("CAFE"));
    answerFileDialog(path);
    t.w<QPushButton>("save")->click();
    QCOMPARE(fileBytes(path), bytes("cafe"));
    QCOMPARE(t.w<QLineEdit>("lenEdit")->text(), QStringLiteral("2"));

    // Loading shows the file's bytes with the current options; the echo display is left.
    const QString big = dir.filePath(QStringLiteral("raw.bin"));
    QByteArray raw;
    for (int i = 0; i < 300; ++i)
        raw.append(char(i * 7));
    {
        QFile f(big);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(raw);
    }
    t.w<QCheckBox>("echoCheck")->click();
    t.w<QCheckBox>("dispEcho")->click();
    t.w<QCheckBox>("dispAdr")->click();
    answerFileDialog(big);
    t.w<QPushButton>("open")->click();
    QCOMPARE(t.text(), HexLayout::plainText(raw, 1, true, 0x200));
    QByteArray back;
    t.form.getData(back);
    QCOMPARE(back, raw);
    QVERIFY(t.form.echoedData().isEmpty());
    QCOMPARE(t.w<QLineEdit>("lenEdit")->text(), QStringLiteral("2")); // loading leaves the length alone

    // An empty file changes nothing.
    const QString empty = dir.filePath(QStringLiteral("empty.bin"));
    {
        QFile f(empty);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    const QString before = t.text();
    answerFileDialog(empty);
    t.w<QPushButton>("open")->click();
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QCOMPARE(t.text(), before);
}

void TestInteractive::loadErrors()
{
    // A socket file exists but cannot be opened as a file, not even by the superuser.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("module.sock"));
    QLocalServer server;
    QVERIFY(server.listen(path));
    QFile probe(path);
    QVERIFY(!probe.open(QIODevice::ReadOnly));

    Tab t;
    t.setText(QStringLiteral("01 02"));
    answerFileDialog(path);
    BoxCatcher box;
    t.w<QPushButton>("open")->click();
    QVERIFY(box.seen);
    QCOMPARE(box.title, QCoreApplication::applicationName());
    QCOMPARE(box.text, QStringLiteral("Cannot open file for reading: %1.").arg(probe.errorString()));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(t.text(), QStringLiteral("01 02"));
}

void TestInteractive::loadTooLarge_data()
{
    QTest::addColumn<qint64>("size");
    QTest::newRow("one byte over") << TarnixCmdForm::MaxFileBytes + 1;
    QTest::newRow("a gigabyte (sparse)") << (qint64(1) << 30);
}

void TestInteractive::loadTooLarge()
{
    QFETCH(qint64, size);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("huge.bin"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(size));
    }
    Tab t;
    t.setText(QStringLiteral("01 02"));
    answerFileDialog(path);
    BoxCatcher box;
    t.w<QPushButton>("open")->click();
    QVERIFY(box.seen);
    QCOMPARE(box.title, QCoreApplication::applicationName());
    QCOMPARE(box.text, QStringLiteral("Cannot load file: it holds more than 1048576 bytes."));
    QCOMPARE(t.text(), QStringLiteral("01 02"));
}

void TestInteractive::saveErrors()
{
    QTemporaryDir dir;
    Tab t;
    t.setText(QStringLiteral("01 02"));
    t.w<QLineEdit>("lenEdit")->setText(QStringLiteral("2"));

    const QString missing = dir.filePath(QStringLiteral("missing/data.bin"));
    QFile probe(missing);
    QVERIFY(!probe.open(QIODevice::WriteOnly));
    answerFileDialog(missing);
    BoxCatcher box;
    t.w<QPushButton>("save")->click();
    QVERIFY(box.seen);
    QCOMPARE(box.title, QCoreApplication::applicationName());
    QCOMPARE(box.text, QStringLiteral("Cannot open file for writing: %1.").arg(probe.errorString()));

    // A device that takes the open but not the bytes: the loss is reported, not hidden.
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full here");
    t.setText(QStringLiteral("01 02 03"));
    answerFileDialog(QStringLiteral("/dev/full"));
    BoxCatcher full;
    t.w<QPushButton>("save")->click();
    QVERIFY(full.seen);
    QCOMPARE(full.title, QCoreApplication::applicationName());
    QVERIFY2(full.text.startsWith(QLatin1String("Cannot write file: ")), qPrintable(full.text));
    QCOMPARE(t.w<QLineEdit>("lenEdit")->text(), QStringLiteral("2"));
}

QTEST_MAIN(TestInteractive)
#include "tst_interactive.moc"
