// The General tab: settings read and written against the software module (refusals, the lock
// while a job runs, the settings shown, worker reuse and replacement, new settings in the module's
// EEPROM, the error path, the main window's answers: Download, tabs, error box); the command line,
// Connect's checks, the ID range and the defaults from a program file.
#include "generalform.h"
#include "cmdargs.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "namedchild.h"
#include "simprobe.h"
#include "tarnixsim.h"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryFile>
#include <QTextEdit>
#include <QUdpSocket>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

QString infoText(const QString &settings)
{
    const QString rule = QString(45, QLatin1Char('-')) + QLatin1Char('\n');
    return QStringLiteral("--------- Kelvo(EEPROM) Information ---------\n") + settings + rule +
           QStringLiteral("FPGA Version : 01020AFF\n") + rule;
}

// Read, Write and Connect enabled.
QString buttons(GeneralForm &f)
{
    QString out;
    for (const char *name : {"read", "write", "connect"})
        out += QLatin1Char(child<QPushButton>(f, name)->isEnabled() ? '1' : '0');
    return out;
}

QString shown(GeneralForm &f) { return child<QTextEdit>(f, "textEdit")->toPlainText(); }

void type(GeneralForm &f, const char *field, const QString &text) { child<QLineEdit>(f, field)->setText(text); }

} // namespace

class TestGeneralForm : public QObject
{
    Q_OBJECT
    std::unique_ptr<TarnixSimThread> module;
    TarnixSim *sim() { return module->sim(); }

    static std::unique_ptr<TarnixSimThread> startModule()
    {
        auto m = std::make_unique<TarnixSimThread>();
        return m->startSim(SimProbe::ephemeral()) ? std::move(m) : nullptr;
    }

    // A form aimed at the module; short RBCP waits so the failure paths stay quick.
    void aim(GeneralForm &f)
    {
        type(f, "address", QStringLiteral("127.0.0.1"));
        type(f, "udp", QString::number(sim()->udpPort()));
        f.setRbcpTiming(2, 1);
    }

    // Clicks Read and waits until the job ended one way or the other.
    static bool readSettings(GeneralForm &f)
    {
        child<QPushButton>(f, "read")->click();
        return QTest::qWaitFor([&] { return child<QPushButton>(f, "read")->isEnabled(); }, 20000);
    }

private slots:
    void init()
    {
        module = startModule();
        QVERIFY(module);
    }
    void cleanup() { module.reset(); }

    // Every refusal of Read, Write and Connect with its exact message, leaving the tab as it was, the
    // button working again and the module untouched.
    void refusals_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        const QString udpMsg = QStringLiteral("Invalid UDP Port Number: %1\nThe port has to be a value from 1 to 65535");
        for (const char *port : {"0", "65536", "udp", ""})
            QTest::addRow("UDP port '%s'", port) << "udp" << port << udpMsg.arg(QLatin1String(port));
        for (const char *address : {"localhost", "", "127.1"})
            QTest::addRow("target '%s'", address) << "address" << address << QStringLiteral("Invalid IP Address: ") + address;
        for (const char *address : {"0.0.0.0", "::1", "module", "192.168.1016"})
            QTest::addRow("new address '%s'", address) << "newAddr" << address << address + QStringLiteral(" is an invalid address.");
        for (const char *port : {"65536", "tcp"})
            QTest::addRow("new TCP port '%s'", port) << "newTcp" << port << port + QStringLiteral(" is an invalid port number.");
        for (const char *port : {"-1", ""})
            QTest::addRow("new UDP port '%s'", port) << "newUdp" << port << port + QStringLiteral(" is an invalid port number.");
        for (const char *address : {"0.0.0.0", "::1", "192.168.1016", ""})
            QTest::addRow("Connect to '%s'", address) << "connect address" << address
                                                      << address + QStringLiteral(" is an invalid address.");
        const QString tcpMsg = QStringLiteral("Invalid TCP Port Number: %1\nThe port has to be a value from 1 to 65535");
        for (const char *port : {"0", "65536", "0x18"})
            QTest::addRow("Connect to port '%s'", port) << "connect tcp" << port << tcpMsg.arg(QLatin1String(port));
    }
    void refusals()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        GeneralForm f;
        aim(f);
        const bool writing = field.startsWith(QLatin1String("new"));
        const char *button = writing ? "write" : field.startsWith(QLatin1String("connect")) ? "connect" : "read";
        field = field.section(QLatin1Char(' '), -1);
        if (writing)
            QVERIFY(readSettings(f));
        else
            child<QTextEdit>(f, "textEdit")->setPlainText(QStringLiteral("earlier settings"));
        const QString before = shown(f);
        type(f, field.toLatin1().constData(), text);
        sim()->clearRbcpRequests();
        QSignalSpy udp(&f, &GeneralForm::setUdp), tabs(&f, &GeneralForm::setTabEnabled), tcp(&f, &GeneralForm::connectTcp);
        ModalAnswerer box;
        child<QPushButton>(f, button)->click();
        QVERIFY(box.seen());
        QCOMPARE(box.title(), QString());
        QTEST(box.text(), "message");
        QCOMPARE(box.buttons(), QMessageBox::Ok);
        QCOMPARE(buttons(f), QStringLiteral("111"));
        QCOMPARE(shown(f), before);
        QCOMPARE(udp.count() + tabs.count() + tcp.count(), 0);
        QVERIFY(sim()->rbcpRequests().isEmpty());
    }
    // An accepted target goes out in the one form the connection reads.
    void connectSendsTarget()
    {
        for (const char *port : {"1", "65535"}) {
            GeneralForm f;
            type(f, "address", QStringLiteral("010.000.000.001"));
            type(f, "tcp", QLatin1String(port));
            QSignalSpy spy(&f, &GeneralForm::connectTcp);
            ModalAnswerer none(QMessageBox::Ok, 300);
            child<QPushButton>(f, "connect")->click();
            QVERIFY(!child<QPushButton>(f, "connect")->isEnabled() && !none.wait(300));
            QCOMPARE(spy, (QList<QList<QVariant>>{{QStringLiteral("10.0.0.1"), QVariant::fromValue(QByteArray(port).toUShort())}}));
        }
    }

    // Read locks the tab while it runs and shows the settings block and the version; the TCP port
    // shown is not copied into the TCP field. Write puts the new settings through the address read
    // into the module's EEPROM, keep-alive on and the write protect back on, and shows them read
    // back. The same target reuses the worker, another replaces it.
    void readAndWriteSettings()
    {
        QVERIFY(sim()->writeRegisters(QRbcp::InfoAddress,
                                      QByteArray::fromHex("04 5A 001A2B3C4D5E C0A80A10 0018 01020304 1234")));
        GeneralForm f;
        aim(f);
        type(f, "tcp", QStringLiteral("25"));
        QSignalSpy udp(&f, &GeneralForm::setUdp), tabs(&f, &GeneralForm::setTabEnabled);
        child<QPushButton>(f, "read")->click();
        QCOMPARE(buttons(f), QStringLiteral("000"));
        QCOMPARE(udp.at(0).at(0).value<QUdpThread *>(), nullptr);
        QCOMPARE(tabs.at(0).at(0).toBool(), false);
        QVERIFY(QTest::qWaitFor([&] { return child<QPushButton>(f, "read")->isEnabled(); }, 20000));
        QCOMPARE(buttons(f), QStringLiteral("111"));
        QCOMPARE(shown(f), infoText(QStringLiteral("MAC Address : 00:1A:2B:3C:4D:5E\nIP Address : 192.168.10.16\n"
                                                   "TCP Port : 24\nUDP Port : 4660\nKeep Alive : ON\n")));
        QCOMPARE(child<QLineEdit>(f, "tcp")->text(), QStringLiteral("25"));
        QPointer<QUdpThread> first = f.worker();
        QVERIFY(first);
        QCOMPARE(udp.last().at(0).value<QUdpThread *>(), f.worker());
        QCOMPARE(tabs.last().at(0).toBool(), true);

        QVERIFY(sim()->writeRegisters(QRbcp::InfoAddress, QByteArray::fromHex("FB 00 ABCDEF0A0B0C 0A000105 0001 00000000 FFFF")));
        QVERIFY(readSettings(f));
        QCOMPARE(shown(f), infoText(QStringLiteral("MAC Address : AB:CD:EF:0A:0B:0C\nIP Address : 10.00.01.05\n"
                                                   "TCP Port : 1\nUDP Port : 65535\nKeep Alive : OFF\n")));

        type(f, "newAddr", QStringLiteral("192.168.10.20"));
        type(f, "newTcp", QStringLiteral("24"));
        type(f, "newUdp", QStringLiteral("4660"));
        child<QPushButton>(f, "write")->click();
        QCOMPARE(buttons(f), QStringLiteral("001")); // Write leaves Connect alone
        QCOMPARE(udp.last().at(0).value<QUdpThread *>(), nullptr);
        QVERIFY(QTest::qWaitFor([&] { return child<QPushButton>(f, "read")->isEnabled(); }, 20000));
        const QByteArray block = sim()->readRegisters(QRbcp::InfoAddress, 20);
        QCOMPARE(QByteArray(block.left(1) + block.mid(8, 6) + block.mid(18, 2)), QByteArray::fromHex("FF C0A80A140018 1234"));
        QVERIFY(sim()->writeProtected());
        QVERIFY(shown(f).contains(QStringLiteral("IP Address : 192.168.10.20\nTCP Port : 24\nUDP Port : 4660\nKeep Alive : ON\n")));
        QCOMPARE(f.worker(), first.data());
        QCOMPARE(udp.last().at(0).value<QUdpThread *>(), f.worker());

        const auto other = startModule();
        QVERIFY(other);
        type(f, "udp", QString::number(other->sim()->udpPort()));
        QVERIFY(readSettings(f));
        QVERIFY(first.isNull());
        QVERIFY(f.worker());
        QVERIFY(shown(f).contains(QStringLiteral("UDP Port : %1\n").arg(other->sim()->udpPort())));
    }

    // While the lent worker runs a job of the window's (a download), Read and Write neither
    // replace nor restart it: the job would be lost and the tab would wait for an answer forever.
    void busyWorkerIsLeftAlone()
    {
        GeneralForm f;
        aim(f);
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
        child<QPushButton>(f, "write")->click();
        QCOMPARE(f.worker(), worker);
        QCOMPARE(udp.count(), 0);
        QVERIFY(worker->wait(10000));
        for (const SimRbcpRequest &r : sim()->rbcpRequests()) // the write, perhaps retried; nothing else
            QVERIFY(r.write && r.address == 0x0400 && r.length == 2);
        QCOMPARE(sim()->readRegisters(0x0400, 2), QByteArray("\x11\x22", 2));
        QCOMPARE(buttons(f), QStringLiteral("111"));
    }

    // In the window: Download and the Program and Log tabs follow the worker. An IPv6 target
    // passes Read's check; nothing answers there, so the worker's text goes to the "Tarnix Error"
    // box, the worker is gone, Write is off and the view empty; Write without a worker does nothing.
    void windowFollowsWorker()
    {
        Args a({"tarnix2-utility"});
        MainWindow w(a.argc(), a.argv.data());
        auto &f = *child<GeneralForm>(w, "tab_4");
        auto *tabs = child<QTabWidget>(w, "tabWidget");
        auto *download = child<QPushButton>(w, "download");
        aim(f);
        QVERIFY(!download->isEnabled());
        QVERIFY(readSettings(f) && download->isEnabled() && tabs->isTabEnabled(1) && tabs->isTabEnabled(2));

        QUdpSocket silent;
        QVERIFY(silent.bind(QHostAddress(QHostAddress::LocalHostIPv6), 0));
        type(f, "address", QStringLiteral("::1"));
        type(f, "udp", QString::number(silent.localPort()));
        f.setConnect(false);
        ModalAnswerer box(QMessageBox::Ok, 20000);
        child<QPushButton>(f, "read")->click();
        QVERIFY(!download->isEnabled());
        QVERIFY(box.wait(20000));
        QCOMPARE(box.title(), QStringLiteral("Tarnix Error"));
        QCOMPARE(box.text(), QStringLiteral("read address: 0xfffffc10\nlength: 20\n\nQRbcp: Socket operation timed out"));
        QVERIFY(QTest::qWaitFor([&] { return child<QPushButton>(f, "read")->isEnabled(); }, 5000));
        QVERIFY(!f.worker());
        QCOMPARE(buttons(f), QStringLiteral("101"));
        QVERIFY(child<QPushButton>(f, "connect")->text().endsWith(QStringLiteral("&Connect")));
        QCOMPARE(shown(f), QString());
        QVERIFY(!download->isEnabled());
        QVERIFY(tabs->isTabEnabled(1) && tabs->isTabEnabled(2));
        f.on_write_clicked();
        QVERIFY(tabs->isTabEnabled(1) && !f.worker());
    }

    void commandLine_data()
    {
        QTest::addColumn<QList<QByteArray>>("args");
        QTest::addColumn<QList<int>>("values"); // logSize, readBufferSize, readRequestSize, sleepTime
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("usage");
        const QString dflt = QStringLiteral("192.168.10.16");
        const QList<int> none{512, 8, 1024, 40};
        QTest::newRow("none") << QList<QByteArray>{} << none << dflt << false;
        QTest::newRow("all, no range checks") << QList<QByteArray>{"-t", "0", "-r", "-5", "-l0", "-s", "0"}
                                              << QList<int>{0, 0, -5, 0} << dflt << false;
        QTest::newRow("later wins") << QList<QByteArray>{"-s", "5", "-s", "6", "-a", "10.0.0.1", "-a", "10.0.0.2"}
                                    << QList<int>{512, 8, 1024, 6} << "10.0.0.2" << false;
        QTest::newRow("-h then undefined -x") << QList<QByteArray>{"-h", "-x"} << none << dflt << true;
        QTest::newRow("missing argument") << QList<QByteArray>{"-s"} << none << dflt << true;
        QTest::newRow("-a IPv6") << QList<QByteArray>{"-a", "::1"} << none << "::1" << false;
        QTest::newRow("-a nonsense") << QList<QByteArray>{"-a", "nonsense"} << none << dflt << false;
        QTest::newRow("non-options ignored") << QList<QByteArray>{"file", "-s", "7"} << QList<int>{512, 8, 1024, 7} << dflt
                                             << false;
    }
    void commandLine()
    {
        QFETCH(QList<QByteArray>, args);
        QFETCH(QList<int>, values);
        QFETCH(bool, usage);
        Args a(QList<QByteArray>{"/opt/tarnix/tarnix2-utility"} + args);
        GeneralForm f;
        QTemporaryFile out; // standard output itself, while the options are read
        QVERIFY(out.open());
        std::fflush(stdout);
        const int saved = ::dup(1);
        ::dup2(out.handle(), 1);
        f.setParam(a.argc(), a.argv.data());
        std::fflush(stdout);
        ::dup2(saved, 1);
        ::close(saved);
        out.seek(0);
        QCOMPARE((QList<int>{f.logSize, f.readBufferSize, f.readRequestSize, f.sleepTime}), values);
        QTEST(child<QLineEdit>(f, "address")->text(), "address");
        QCOMPARE(out.readAll(), usage ? QByteArray("Usage: /opt/tarnix/tarnix2-utility \\ \n [-a <Target address: 192.168.10.16>]"
                                                   " \\ \n [-l <Max block size of Log: 512(*1024)>]"
                                                   " \\ \n [-t <TcpSocket's internal read buffer: 8(kbytes)>]"
                                                   " \\ \n [-r <Max read request size: 1024(bytes)>]"
                                                   " \\ \n [-s <Sleep time: 40(ms)>]\n")
                                      : QByteArray());
    }
    void setDefault_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<int>>("values"); // address mode, access mode, data mode, read/write, min ID, max ID
        QTest::newRow("five bytes change nothing") << QByteArray::fromHex("0203020164") << QList<int>{1, 0, 0, 0, 128, 255};
        // A program file's range comes back as it was saved, wherever the range shown lay.
        QTest::newRow("range above the form's bounds") << QByteArray::fromHex("020302 01c8fa")
                                                       << QList<int>{2, 3, 2, 1, 200, 250};
        QTest::newRow("range below the form's bounds") << QByteArray::fromHex("000000 000163")
                                                       << QList<int>{0, 0, 0, 0, 1, 99};
        QTest::newRow("signed indices outside the items, unsigned IDs") << QByteArray::fromHex("ff0a0000 0010 80")
                                                                        << QList<int>{-1, -1, 0, 0, 0, 16};
    }
    void setDefault()
    {
        QFETCH(QByteArray, bytes);
        GeneralForm f;
        f.setDefault(bytes);
        QTEST((QList<int>{f.addressMode(), f.accessMode(), f.dataMode(), f.readWrite(), f.minID(), f.maxID()}), "values");
    }
};

QTEST_MAIN(TestGeneralForm)
#include "tst_generalform.moc"
