// The interactive tab against the software module on 127.0.0.1: first with a bare worker whose
// owner passes the responses on, then inside the real main window.
#include "fakehost.h"
#include "hexlayout.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "namedchild.h"
#include "programhost.h"
#include "tarnixcmdform.h"
#include "tarnixsim.h"
#include "tcpthread.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QtTest>

namespace {


QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray b(size, '\0');
    for (char &c : b)
        c = char(random.bounded(256));
    return b;
}

} // namespace

// Stands in for the main window: the worker connects to these slots by name.
class TabOwner : public QObject
{
    Q_OBJECT
public:
    TarnixCmdForm *form = nullptr;
    bool up = false;
    QStringList errors;

public slots:
    void startTcp() { up = true; }
    void stopped() { up = false; }
    void displayError(QString *text) { errors << *text; }
    void received(quint8 id, quint16 mode, QByteArray *buf)
    {
        form->received(id, mode, *buf);
        buf->clear();
    }
    void appendLog(QString *log) { log->clear(); }
};

namespace {

// The tab, a worker and the module.
struct Rig
{
    TarnixSimThread module;
    FakeHost host{2};
    TabOwner owner;
    TarnixCmdForm form;
    QTcpThread *thread = nullptr;

    bool start()
    {
        SimConfig config;
        config.tcpPort = 0;
        config.udpPort = 0;
        if (!module.startSim(config))
            return false;
        owner.form = &form;
        thread = new QTcpThread(QStringLiteral("127.0.0.1"), module.sim()->tcpPort(), &owner);
        thread->setParam(128, 255, 131072, 8, 1024, 1);
        thread->start();
        QDeadlineTimer deadline(5000);
        while (!owner.up && !deadline.hasExpired())
            QTest::qWait(10);
        form.setMainWindow(&host);
        form.setTcp(thread);
        form.setDataMode(0);
        form.setAddressMode(2);
        form.setAccessMode(0);
        form.setID(128);
        return owner.up;
    }
    ~Rig()
    {
        delete thread; // stops the worker before the tab goes
        module.stopSim();
    }
    TarnixSim *sim() { return module.sim(); }
    template <typename T> T *w(const char *name) { return child<T>(form, name); }
    QString text() { return w<QTextEdit>("dataText")->toPlainText(); }
    bool idle() { return w<QGroupBox>("groupRW")->isEnabled(); }
    void fill(int width, const QString &address, int items)
    {
        w<QComboBox>("datm")->setCurrentIndex(width);
        w<QLineEdit>("addrEdit")->setText(address);
        w<QLineEdit>("lenEdit")->setText(QString::number(items));
    }
};

} // namespace

class TestInteractiveSim : public QObject
{
    Q_OBJECT
private slots:
    void readAndWrite_data();
    void readAndWrite();
    void errorFlags_data();
    void errorFlags();
    void window();
};

void TestInteractiveSim::readAndWrite_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("items");
    QTest::newRow("D8") << 0 << 13;
    QTest::newRow("D16") << 1 << 5;
    QTest::newRow("D32") << 2 << 3;
    QTest::newRow("D8 longest") << 0 << 255;
    QTest::newRow("D16 longest") << 1 << 127;
    QTest::newRow("D32 longest") << 2 << 63;
}

void TestInteractiveSim::readAndWrite()
{
    QFETCH(int, width);
    QFETCH(int, items);
    const int size = items * HexLayout::itemSize(width);
    Rig rig;
    QVERIFY(rig.start());

    // A write with echo, shown as source and echo columns.
    rig.w<QCheckBox>("echoCheck")->click();
    rig.w<QCheckBox>("dispEcho")->click();
    const QByteArray written = randomBytes(size, quint32(width * 1000 + items));
    rig.fill(width, QStringLiteral("0x1000"), items);
    rig.w<QTextEdit>("dataText")->setPlainText(HexLayout::echoText(written, {}, width, false, 0x1000));
    rig.w<QPushButton>("writeButton")->click();
    QVERIFY(!rig.idle());
    QTRY_VERIFY(rig.idle());
    QCOMPARE(rig.sim()->readVme(2, 0x1000, size), written);
    QCOMPARE(rig.form.echoedData(), written);
    QCOMPARE(rig.text(), HexLayout::echoText(written, written, width, false, 0x1000));

    // A read of other memory: the echo column is empty now.
    const QByteArray stored = randomBytes(size, 7);
    QVERIFY(rig.sim()->writeVme(2, 0x2000, stored));
    rig.fill(width, QStringLiteral("2000"), items);
    rig.w<QPushButton>("readButton")->click();
    QTRY_VERIFY(rig.idle());
    QCOMPARE(rig.form.sourceData(), stored);
    QCOMPARE(rig.text(), HexLayout::echoText(stored, {}, width, false, 0x2000));

    // The same read with the plain layout and row addresses.
    rig.w<QCheckBox>("dispEcho")->click();
    rig.w<QCheckBox>("dispAdr")->click();
    rig.w<QPushButton>("readButton")->click();
    QTRY_VERIFY(rig.idle());
    QCOMPARE(rig.text(), HexLayout::plainText(stored, width, true, 0x2000));

    // What is shown goes back out unchanged by a write without echo.
    rig.w<QCheckBox>("echoCheck")->click();
    rig.w<QLineEdit>("addrEdit")->setText(QStringLiteral("0x3000"));
    rig.w<QPushButton>("writeButton")->click();
    QTRY_VERIFY(rig.idle());
    QCOMPARE(rig.sim()->readVme(2, 0x3000, size), stored);
    QVERIFY(rig.owner.errors.isEmpty());
}

void TestInteractiveSim::errorFlags_data()
{
    QTest::addColumn<int>("addressMode");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("message");
    QTest::newRow("unmapped: VME error") << 2 << QStringLiteral("0x5000") << QStringLiteral("VME error\nMODE:0x0a04");
    QTest::newRow("past the end of A16: parameter error")
        << 0 << QStringLiteral("0xfffc") << QStringLiteral("Detected parameter error\nMODE:0x0801");
}

void TestInteractiveSim::errorFlags()
{
    QFETCH(int, addressMode);
    QFETCH(QString, address);
    QFETCH(QString, message);
    Rig rig;
    QVERIFY(rig.start());
    rig.sim()->addUnmapped(2, 0x5000, 0x5FFF);
    rig.form.setAddressMode(addressMode);
    rig.fill(2, address, 2);
    rig.w<QTextEdit>("dataText")->setPlainText(QStringLiteral("stale"));
    ModalAnswerer box;
    rig.w<QPushButton>("readButton")->click();
    QVERIFY(box.wait());
    QCOMPARE(box.title(), QStringLiteral("Error detection"));
    QCOMPARE(box.text(), message);
    // The module's data is shown all the same, and the tab is usable again.
    QTRY_VERIFY(rig.idle());
    QCOMPARE(rig.text(), QStringLiteral("00000000 00000000 \n"));
}

void TestInteractiveSim::window()
{
    TarnixSimThread module;
    SimConfig config;
    config.tcpPort = 0;
    config.udpPort = 0;
    QVERIFY(module.startSim(config));
    QVERIFY(module.sim()->writeVme(2, 0x100, QByteArray::fromHex("deadbeef")));

    QByteArray prog("tarnix2-utility");
    char *argv[] = {prog.data(), nullptr};
    MainWindow w(1, argv);
    auto *tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    auto *tab = w.findChild<TarnixCmdForm *>(QStringLiteral("tab_2"));
    QVERIFY(tab);
    auto find = [&](const char *name) { return w.findChild<QWidget *>(QLatin1String(name)); };
    qobject_cast<QLineEdit *>(find("address"))->setText(QStringLiteral("127.0.0.1"));
    qobject_cast<QLineEdit *>(find("tcp"))->setText(QString::number(module.sim()->tcpPort()));
    // Defaults that the tab takes over when the connection comes up.
    qobject_cast<QComboBox *>(find("dataMode"))->setCurrentIndex(2);
    qobject_cast<QComboBox *>(find("addressMode"))->setCurrentIndex(2);
    w.findChild<QWidget *>(QStringLiteral("tab_4"))->findChild<QComboBox *>(QStringLiteral("accm"))->setCurrentIndex(3);
    qobject_cast<QSpinBox *>(find("minID"))->setValue(5);
    QVERIFY(!tabs->isTabEnabled(3));

    auto *connect = qobject_cast<QPushButton *>(find("connect"));
    connect->click();
    QTRY_COMPARE(w.statusBar()->currentMessage(), QStringLiteral("connected"));
    QVERIFY(tabs->isTabEnabled(3));
    QCOMPARE(qobject_cast<QComboBox *>(find("datm"))->currentIndex(), 2);
    QCOMPARE(qobject_cast<QComboBox *>(find("adrm"))->currentIndex(), 2);
    QCOMPARE(tab->findChild<QComboBox *>(QStringLiteral("accm"))->currentIndex(), 3);

    auto *dataText = qobject_cast<QTextEdit *>(find("dataText"));
    qobject_cast<QLineEdit *>(find("addrEdit"))->setText(QStringLiteral("100"));
    qobject_cast<QLineEdit *>(find("lenEdit"))->setText(QStringLiteral("1"));
    auto *read = qobject_cast<QPushButton *>(find("readButton"));
    read->click();
    QTRY_COMPARE(dataText->toPlainText(), QStringLiteral("DEADBEEF \n"));
    QCOMPARE(tab->lastCommandID(), quint8(5)); // the range starts where the General tab says

    // A write with echo of the edited value, then the read sees it.
    dataText->setPlainText(QStringLiteral("CAFEF00D"));
    qobject_cast<QCheckBox *>(find("echoCheck"))->click();
    auto *group = find("groupRW");
    qobject_cast<QPushButton *>(find("writeButton"))->click();
    QTRY_VERIFY(group->isEnabled());
    QCOMPARE(tab->echoedData(), QByteArray::fromHex("cafef00d"));
    QCOMPARE(module.sim()->readVme(2, 0x100, 4), QByteArray::fromHex("cafef00d"));
    QCOMPARE(tab->lastCommandID(), quint8(6));

    // The tab follows the connection, and a new connection starts the IDs again.
    connect->click();
    QTRY_COMPARE(w.statusBar()->currentMessage(), QStringLiteral("disconnected"));
    QVERIFY(!tabs->isTabEnabled(3));
    connect->click();
    QTRY_COMPARE(w.statusBar()->currentMessage(), QStringLiteral("connected"));
    QVERIFY(tabs->isTabEnabled(3) && group->isEnabled());
    read->click();
    QTRY_VERIFY(group->isEnabled());
    QCOMPARE(tab->lastCommandID(), quint8(5));
    QCOMPARE(tab->sourceData(), QByteArray::fromHex("cafef00d"));

    connect->click();
    QTRY_COMPARE(w.statusBar()->currentMessage(), QStringLiteral("disconnected"));
    module.stopSim();
}

QTEST_MAIN(TestInteractiveSim)
#include "tst_interactive_sim.moc"
