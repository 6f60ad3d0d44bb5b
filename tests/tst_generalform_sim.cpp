// The General tab's settings read and write against the software module: the checks and their
// messages, the buttons while a job runs, worker reuse and replacement, the error path, and the
// main window's answers (Download button, Program and Log tabs, the error box).
#include "generalform.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "namedchild.h"
#include "tarnixsim.h"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTextEdit>
#include <QUdpSocket>
#include <QtTest>

namespace {

const QString Rule = QString(45, QLatin1Char('-')) + QLatin1Char('\n');

struct Buttons
{
    bool read, write, connect;
    bool operator==(const Buttons &o) const { return read == o.read && write == o.write && connect == o.connect; }
};

Buttons buttons(GeneralForm &f)
{
    return {child<QPushButton>(f, "read")->isEnabled(), child<QPushButton>(f, "write")->isEnabled(),
            child<QPushButton>(f, "connect")->isEnabled()};
}

// A UDP port on ::1 where nothing listens.
quint16 silentPort()
{
    QUdpSocket s;
    if (!s.bind(QHostAddress(QHostAddress::LocalHostIPv6), 0))
        return 0;
    return s.localPort();
}

} // namespace

class TestGeneralFormSim : public QObject
{
    Q_OBJECT
    TarnixSimThread simA, simB;

    TarnixSim *sim() { return simA.sim(); }

    // A form aimed at the module; short RBCP waits so the failure paths stay quick.
    void aim(GeneralForm &f, quint16 udp)
    {
        child<QLineEdit>(f, "address")->setText(QStringLiteral("127.0.0.1"));
        child<QLineEdit>(f, "udp")->setText(QString::number(udp));
        f.setRbcpTiming(2, 1);
    }

    // Clicks Read and waits until the job ended one way or the other.
    bool readSettings(GeneralForm &f)
    {
        child<QPushButton>(f, "read")->click();
        return QTest::qWaitFor([&] { return child<QPushButton>(f, "read")->isEnabled(); }, 20000);
    }

private slots:
    void initTestCase()
    {
        SimConfig c;
        c.tcpPort = 0;
        c.udpPort = 0;
        QVERIFY(simA.startSim(c));
        QVERIFY(simB.startSim(c));
    }
    void init()
    {
        sim()->setFaults(SimFaults());
        sim()->clearRbcpRequests();
    }

    void readPortAndAddressRefusals_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("message");
        const QString portMsg = QStringLiteral("Invalid UDP Port Number: %1\nThe port has to be a value from 1 to 65535");
        QTest::newRow("port 0") << "127.0.0.1" << "0" << portMsg.arg(QStringLiteral("0"));
        QTest::newRow("port 65536") << "127.0.0.1" << "65536" << portMsg.arg(QStringLiteral("65536"));
        QTest::newRow("port letters") << "127.0.0.1" << "udp" << portMsg.arg(QStringLiteral("udp"));
        QTest::newRow("port empty") << "127.0.0.1" << "" << portMsg.arg(QString());
        QTest::newRow("port first") << "nonsense" << "0" << portMsg.arg(QStringLiteral("0"));
        QTest::newRow("host name") << "localhost" << "4660" << "Invalid IP Address: localhost";
        QTest::newRow("empty address") << "" << "4660" << "Invalid IP Address: ";
    }
    void readPortAndAddressRefusals()
    {
        QFETCH(QString, address);
        QFETCH(QString, port);
        GeneralForm f;
        child<QLineEdit>(f, "address")->setText(address);
        child<QLineEdit>(f, "udp")->setText(port);
        child<QTextEdit>(f, "textEdit")->setPlainText(QStringLiteral("earlier settings"));
        QSignalSpy udp(&f, &GeneralForm::setUdp), tabs(&f, &GeneralForm::setTabEnabled);
        ModalAnswerer box;
        child<QPushButton>(f, "read")->click();
        QVERIFY(box.seen());
        QCOMPARE(box.title(), QString());
        QTEST(box.text(), "message");
        QCOMPARE(box.buttons(), QMessageBox::Ok);
        QVERIFY((buttons(f) == Buttons{true, true, true}));
        QCOMPARE(child<QTextEdit>(f, "textEdit")->toPlainText(), QStringLiteral("earlier settings"));
        QCOMPARE(udp.count() + tabs.count(), 0);
        QVERIFY(!f.worker());
    }

    // Read shows the settings block and the version; the tab is locked while it runs; the TCP
    // port of the text is not copied into the TCP field; a second Read reuses the worker.
    void readShowsSettingsAndReusesWorker()
    {
        GeneralForm f;
        aim(f, sim()->udpPort());
        child<QLineEdit>(f, "tcp")->setText(QStringLiteral("24"));
        QSignalSpy udp(&f, &GeneralForm::setUdp), tabs(&f, &GeneralForm::setTabEnabled);
        child<QPushButton>(f, "read")->click();
        QVERIFY((buttons(f) == Buttons{false, false, false}));
        QCOMPARE(udp.count(), 1);
        QCOMPARE(udp.at(0).at(0).value<QUdpThread *>(), nullptr);
        QCOMPARE(tabs.count(), 1);
        QCOMPARE(tabs.at(0).at(0).toBool(), false);

        QVERIFY(QTest::qWaitFor([&] { return child<QPushButton>(f, "read")->isEnabled(); }, 20000));
        QVERIFY((buttons(f) == Buttons{true, true, true}));
        const QString text = child<QTextEdit>(f, "textEdit")->toPlainText();
        QVERIFY2(text.startsWith(QStringLiteral("--------- Kelvo(EEPROM) Information ---------\n"
                                                "MAC Address : 00:1A:2B:3C:4D:5E\nIP Address : 127.00.00.01\n")),
                 qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("TCP Port : %1\nUDP Port : %2\nKeep Alive : ON\n")
                                  .arg(sim()->tcpPort())
                                  .arg(sim()->udpPort())));
        QVERIFY(text.endsWith(Rule + QStringLiteral("FPGA Version : 01020AFF\n") + Rule.chopped(1)) ||
                text.endsWith(Rule + QStringLiteral("FPGA Version : 01020AFF\n") + Rule));
        QCOMPARE(child<QLineEdit>(f, "tcp")->text(), QStringLiteral("24"));
        QCOMPARE(udp.count(), 2);
        QVERIFY(udp.at(1).at(0).value<QUdpThread *>());
        QCOMPARE(udp.at(1).at(0).value<QUdpThread *>(), f.worker());
        QCOMPARE(tabs.at(1).at(0).toBool(), true);

        QPointer<QUdpThread> first = f.worker();
        QVERIFY(readSettings(f));
        QCOMPARE(f.worker(), first.data());
        QVERIFY(child<QTextEdit>(f, "textEdit")->toPlainText().contains(QStringLiteral("FPGA Version : 01020AFF")));

        // Another module: the worker is replaced.
        child<QLineEdit>(f, "udp")->setText(QString::number(simB.sim()->udpPort()));
        QVERIFY(readSettings(f));
        QVERIFY(first.isNull());
        QVERIFY(f.worker());
        QVERIFY(child<QTextEdit>(f, "textEdit")->toPlainText().contains(
            QStringLiteral("UDP Port : %1\n").arg(simB.sim()->udpPort())));
    }

    void writeRefusals_data()
    {
        QTest::addColumn<QString>("newAddr");
        QTest::addColumn<QString>("newTcp");
        QTest::addColumn<QString>("newUdp");
        QTest::addColumn<QString>("message");
        QTest::newRow("0.0.0.0") << "0.0.0.0" << "24" << "4660" << "0.0.0.0 is an invalid address.";
        QTest::newRow("IPv6") << "::1" << "24" << "4660" << "::1 is an invalid address.";
        QTest::newRow("words") << "module" << "24" << "4660" << "module is an invalid address.";
        QTest::newRow("tcp 65536") << "10.0.1.5" << "65536" << "4660" << "65536 is an invalid port number.";
        QTest::newRow("tcp letters") << "10.0.1.5" << "tcp" << "x" << "tcp is an invalid port number.";
        QTest::newRow("udp -1") << "10.0.1.5" << "24" << "-1" << "-1 is an invalid port number.";
        QTest::newRow("udp empty") << "10.0.1.5" << "24" << "" << " is an invalid port number.";
    }
    void writeRefusals()
    {
        QFETCH(QString, newAddr);
        QFETCH(QString, newTcp);
        QFETCH(QString, newUdp);
        GeneralForm f;
        aim(f, sim()->udpPort());
        QVERIFY(readSettings(f));
        const QString shown = child<QTextEdit>(f, "textEdit")->toPlainText();
        child<QLineEdit>(f, "newAddr")->setText(newAddr);
        child<QLineEdit>(f, "newTcp")->setText(newTcp);
        child<QLineEdit>(f, "newUdp")->setText(newUdp);
        sim()->clearRbcpRequests();
        QSignalSpy udp(&f, &GeneralForm::setUdp);
        ModalAnswerer box;
        child<QPushButton>(f, "write")->click();
        QVERIFY(box.seen());
        QCOMPARE(box.title(), QString());
        QTEST(box.text(), "message");
        QVERIFY((buttons(f) == Buttons{true, true, true}));
        QCOMPARE(child<QTextEdit>(f, "textEdit")->toPlainText(), shown);
        QCOMPARE(udp.count(), 0);
        QCOMPARE(sim()->rbcpRequests().size(), 0);
    }

    // Write stores the new settings through the address that was read, reads them back, and
    // puts the write protect back; a TCP port of 0 is accepted. Before any read, Write does nothing.
    void writeChangesSettings()
    {
        GeneralForm f;
        aim(f, sim()->udpPort());
        child<QLineEdit>(f, "newAddr")->setText(QStringLiteral("10.0.1.5"));
        child<QLineEdit>(f, "newTcp")->setText(QStringLiteral("0"));
        child<QLineEdit>(f, "newUdp")->setText(QStringLiteral("4661"));
        {
            QSignalSpy udp(&f, &GeneralForm::setUdp);
            ModalAnswerer none(QMessageBox::Ok, 300);
            child<QPushButton>(f, "write")->click();
            QVERIFY(!none.wait(300));
            QCOMPARE(udp.count(), 0);
            QCOMPARE(sim()->rbcpRequests().size(), 0);
        }
        const QByteArray before = sim()->readRegisters(0xFFFFFC10, 20);
        QVERIFY(readSettings(f));
        QSignalSpy udp(&f, &GeneralForm::setUdp), tabs(&f, &GeneralForm::setTabEnabled);
        child<QPushButton>(f, "write")->click();
        QCOMPARE(child<QPushButton>(f, "connect")->isEnabled(), true); // Write leaves Connect alone
        QVERIFY(!child<QPushButton>(f, "read")->isEnabled());
        QVERIFY(!child<QPushButton>(f, "write")->isEnabled());
        QCOMPARE(udp.at(0).at(0).value<QUdpThread *>(), nullptr);
        QCOMPARE(tabs.at(0).at(0).toBool(), false);
        QVERIFY(QTest::qWaitFor([&] { return child<QPushButton>(f, "read")->isEnabled(); }, 20000));
        const QString text = child<QTextEdit>(f, "textEdit")->toPlainText();
        QVERIFY2(text.contains(QStringLiteral("IP Address : 10.00.01.05\nTCP Port : 0\nUDP Port : 4661\nKeep Alive : ON\n")),
                 qPrintable(text));
        QVERIFY(sim()->writeProtected());
        QCOMPARE(udp.last().at(0).value<QUdpThread *>(), f.worker());
        QCOMPARE(tabs.last().at(0).toBool(), true);
        sim()->writeRegisters(0xFFFFFC10, before);
    }

    // Every reply lost: the worker's text goes to the window, the worker is gone, Write is off
    // and the information view is empty; Write then does nothing, a later Read works again.
    void errorDropsWorker()
    {
        GeneralForm f;
        aim(f, sim()->udpPort());
        QVERIFY(readSettings(f));
        f.setConnect(false);
        SimFaults lossy;
        lossy.rbcpDropFraction = 1.0;
        sim()->setFaults(lossy);
        QSignalSpy errors(&f, &GeneralForm::displayUdpError), udp(&f, &GeneralForm::setUdp),
            tabs(&f, &GeneralForm::setTabEnabled);
        QString shownError;
        connect(&f, &GeneralForm::displayUdpError, this, [&](QString *t) { shownError = *t; });
        QVERIFY(readSettings(f));
        QCOMPARE(errors.count(), 1);
        QVERIFY2(shownError.startsWith(QStringLiteral("read address: 0xfffffc10\nlength: 20\n\n")), qPrintable(shownError));
        QVERIFY(shownError.endsWith(QStringLiteral("QRbcp: Socket operation timed out")));
        QVERIFY(!f.worker());
        QVERIFY((buttons(f) == Buttons{true, false, true}));
        QVERIFY(child<QPushButton>(f, "connect")->text().endsWith(QStringLiteral("&Connect")));
        QVERIFY(child<QTextEdit>(f, "textEdit")->toPlainText().isEmpty());
        QCOMPARE(udp.last().at(0).value<QUdpThread *>(), nullptr);
        QCOMPARE(tabs.last().at(0).toBool(), true);

        sim()->setFaults(SimFaults());
        const int sent = udp.count();
        f.on_write_clicked();
        QCOMPARE(udp.count(), sent);
        QVERIFY(readSettings(f));
        QVERIFY(f.worker());
        QVERIFY(child<QTextEdit>(f, "textEdit")->toPlainText().contains(QStringLiteral("FPGA Version")));
    }

    // While the lent worker runs a job of the window's (a download), Read and Write neither
    // replace nor restart it: the job would be lost and the tab would wait for an answer forever.
    void busyWorkerIsLeftAlone()
    {
        GeneralForm f;
        aim(f, sim()->udpPort());
        QVERIFY(readSettings(f));
        QUdpThread *worker = f.worker();
        SimFaults slow;
        slow.rbcpDelayMs = 300;
        sim()->setFaults(slow);
        sim()->clearRbcpRequests();
        QSignalSpy udp(&f, &GeneralForm::setUdp);
        worker->setWrite(0x0400, QByteArray("\x11\x22", 2));
        worker->start();
        child<QPushButton>(f, "read")->click();
        child<QLineEdit>(f, "newAddr")->setText(QStringLiteral("10.0.1.5"));
        child<QPushButton>(f, "write")->click();
        QCOMPARE(f.worker(), worker);
        QCOMPARE(udp.count(), 0);
        QVERIFY(!child<QTextEdit>(f, "textEdit")->toPlainText().isEmpty());
        QVERIFY(worker->wait(10000));
        const auto requests = sim()->rbcpRequests(); // the write, perhaps retried; nothing else
        QVERIFY(!requests.isEmpty());
        for (const SimRbcpRequest &r : requests)
            QVERIFY(r.write && r.address == 0x0400 && r.length == 2);
        QCOMPARE(sim()->readRegisters(0x0400, 2), QByteArray("\x11\x22", 2));
        QVERIFY((buttons(f) == Buttons{true, true, true}));
    }

    // In the window: Download and the Program and Log tabs follow the worker; an IPv6 target
    // passes Read's check (Connect refuses it) and the failure ends in the "Tarnix Error" box.
    void windowFollowsWorker()
    {
        QByteArray name("tarnix2-utility");
        char *argv[] = {name.data(), nullptr};
        MainWindow w(1, argv);
        auto &f = *child<GeneralForm>(w, "tab_4");
        auto *tabs = child<QTabWidget>(w, "tabWidget");
        auto *download = child<QPushButton>(w, "download");
        aim(f, sim()->udpPort());
        QVERIFY(!download->isEnabled());
        child<QPushButton>(f, "read")->click();
        QVERIFY(!tabs->isTabEnabled(1) && !tabs->isTabEnabled(2));
        QVERIFY(QTest::qWaitFor([&] { return child<QPushButton>(f, "read")->isEnabled(); }, 20000));
        QVERIFY(download->isEnabled());
        QVERIFY(tabs->isTabEnabled(1) && tabs->isTabEnabled(2));

        const quint16 port = silentPort();
        QVERIFY(port);
        child<QLineEdit>(f, "address")->setText(QStringLiteral("::1"));
        child<QLineEdit>(f, "udp")->setText(QString::number(port));
        ModalAnswerer box(QMessageBox::Ok, 20000);
        child<QPushButton>(f, "read")->click();
        QVERIFY(!download->isEnabled());
        QVERIFY(box.wait(20000));
        QCOMPARE(box.title(), QStringLiteral("Tarnix Error"));
        QVERIFY(!box.text().isEmpty());
        QVERIFY(QTest::qWaitFor([&] { return child<QPushButton>(f, "read")->isEnabled(); }, 5000));
        QVERIFY(!f.worker());
        QVERIFY(!download->isEnabled());
        QVERIFY(!child<QPushButton>(f, "write")->isEnabled());
        QVERIFY(tabs->isTabEnabled(1) && tabs->isTabEnabled(2));

        ModalAnswerer refused;
        child<QPushButton>(f, "connect")->click();
        QVERIFY(refused.seen());
        QCOMPARE(refused.text(), QStringLiteral("::1 is an invalid address."));
    }
};

QTEST_MAIN(TestGeneralFormSim)
#include "tst_generalform_sim.moc"
