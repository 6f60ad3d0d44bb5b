// The interactive tab inside the main window, against the software module on 127.0.0.1.
#include "mainwindow.h"
#include "modalanswerer.h"
#include "namedchild.h"
#include "tarnixcmdform.h"
#include "tarnixsim.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QStatusBar>
#include <QTextEdit>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray b(size, '\0');
    for (char &c : b)
        c = char(random.bounded(256));
    return b;
}

// The window with the module's address typed into the General tab, whose defaults for the
// interactive tab are A32, "Supervisor Data", the data width given and IDs from 5 on. The
// window goes before the module.
struct Window
{
    TarnixSimThread module;
    QByteArray prog{"tarnix2-utility"};
    char *argv[2] = {prog.data(), nullptr};
    MainWindow w{1, argv};
    TarnixCmdForm *tab = child<TarnixCmdForm>(w, "tab_2");

    bool start(int width)
    {
        SimConfig config;
        config.tcpPort = 0;
        config.udpPort = 0;
        if (!module.startSim(config))
            return false;
        child<QLineEdit>(w, "address")->setText(u"127.0.0.1"_s);
        child<QLineEdit>(w, "tcp")->setText(QString::number(module.sim()->tcpPort()));
        child<QComboBox>(w, "dataMode")->setCurrentIndex(width);
        child<QComboBox>(w, "addressMode")->setCurrentIndex(2);
        child<QComboBox>(*child<QWidget>(w, "tab_4"), "accm")->setCurrentIndex(3);
        child<QSpinBox>(w, "minID")->setValue(5);
        return toggleConnection(u"connected"_s);
    }
    bool toggleConnection(const QString &status)
    {
        child<QPushButton>(w, "connect")->click();
        return QTest::qWaitFor([&] { return w.statusBar()->currentMessage() == status; }, 5000);
    }
    template <typename T> T *in(const char *name) { return child<T>(*tab, name); }
    bool idle() { return in<QWidget>("groupRW")->isEnabled(); }
    QString text() { return in<QTextEdit>("dataText")->toPlainText(); }
    void click(const char *name) { in<QAbstractButton>(name)->click(); }
    bool command(const char *button, const QString &address, int items)
    {
        in<QLineEdit>("addrEdit")->setText(address);
        in<QLineEdit>("lenEdit")->setText(QString::number(items));
        ModalAnswerer refusal(QMessageBox::Ok, 5000);
        click(button);
        return !refusal.seen() && !idle() && QTest::qWaitFor([&] { return idle(); }, 5000);
    }
};

} // namespace

class TestInteractiveSim : public QObject
{
    Q_OBJECT
private slots:
    void readAndWrite_data()
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
    void readAndWrite()
    {
        QFETCH(int, width);
        QFETCH(int, items);
        const int size = items << width;
        Window r;
        QVERIFY(r.start(width));

        // A write with echo of bytes typed one by one.
        const QByteArray written = randomBytes(size, quint32(size));
        r.in<QTextEdit>("dataText")->setPlainText(QString::fromLatin1(written.toHex(' ')));
        r.click("echoCheck");
        r.click("dispEcho");
        QVERIFY(r.command("writeButton", u"0x1000"_s, items));
        QCOMPARE(r.module.sim()->readVme(2, 0x1000, size), written);
        QCOMPARE(r.tab->echoedData(), written);
        QCOMPARE(r.in<QComboBox>("accm")->currentIndex(), 3);
        QCOMPARE(r.tab->lastCommandID(), quint8(5));

        // A read beside an empty echo column, re-laid without it and with row addresses: written
        // back from what is shown, the same bytes reach the module.
        const QByteArray stored = randomBytes(size, 7);
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

QTEST_MAIN(TestInteractiveSim)
#include "tst_interactive_sim.moc"
