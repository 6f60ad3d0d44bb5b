// The Program tab's download into the software module: the bytes in its program memory, the
// RBCP writes of each click, refusals that send nothing, a write that fails half way, and the
// table's deletions.
#include "cmdargs.h"
#include "generalform.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "namedchild.h"
#include "programtablefixture.h"
#include "tarnixsim.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QtTest>

#include <memory>

static void fill(MainWindow &w, const char *text)
{
    for (VmeProgram *p : programs(QLatin1String(text), w))
        w.setProgram(p);
}

class TestDownload : public QObject
{
    Q_OBJECT
    TarnixSimThread simThread;
    TarnixSim *sim() { return simThread.sim(); }

    // A window whose General tab has read the module's settings and so lent its worker.
    std::unique_ptr<MainWindow> window()
    {
        Args a({"tarnix2-utility"});
        auto w = std::make_unique<MainWindow>(a.argc(), a.argv.data());
        auto *general = child<GeneralForm>(*w, "tab_4");
        child<QLineEdit>(*general, "address")->setText(QStringLiteral("127.0.0.1"));
        child<QLineEdit>(*general, "udp")->setText(QString::number(sim()->udpPort()));
        general->setRbcpTiming(2, 1);
        child<QPushButton>(*general, "read")->click();
        if (!QTest::qWaitFor([&] { return child<QPushButton>(*w, "download")->isEnabled(); }, 10000))
            return nullptr;
        sim()->clearRbcpRequests();
        return w;
    }

    // Start addresses of the RBCP writes the module got, in order.
    QList<quint32> writes()
    {
        QList<quint32> addresses;
        for (const SimRbcpRequest &r : sim()->rbcpRequests())
            addresses << (r.write ? r.address : 0xFFFFFFFF);
        return addresses;
    }

private slots:
    void initTestCase()
    {
        SimConfig c;
        c.tcpPort = c.udpPort = 0;
        QVERIFY(simThread.startSim(c));
    }
    void init()
    {
        sim()->setFaults(SimFaults());
        sim()->writeRegisters(4, QByteArray(4092, '\x5a'));
    }

    void downloadWritesTheLayout()
    {
        auto w = window();
        QVERIFY(w);
        fill(*w, "0:2::000003e8 2:2::0103");
        w->setEvent(0x09);
        auto *download = child<QPushButton>(*w, "download");
        auto *general = child<GeneralForm>(*w, "tab_4");
        auto *read = child<QPushButton>(*general, "read");

        // The first layout adds INTR-only programs, the checked level 3 first; the second finds them
        // listed and lays them in level order.
        const QByteArray head = hex("00000000 0100 01 01 00000000 0100 02 01 00000000 0100 03 01 00000000 0100 04 01"
                                    "00000000 0100 00 00");
        const QByteArray intr = hex("0000000628300004 0000000228300004 0000000428300004 0000000828300004"
                                    "0000000a28300004 0000000c28300004 0000000e28300004");
        const QByteArray images[2] = {head + intr, head + intr.mid(8, 16) + intr.left(8) + intr.mid(24)};
        const char *starts[2] = {"0006070508090a0b", "0005060708090a0b"};
        QByteArray vectors = hex("000020ff").repeated(256);
        vectors.replace(4, 4, hex("01001000")).replace(12, 4, hex("01001000"));
        // Stop run, level, interval and tables, vector table and image in blocks of 128, mask.
        QList<quint32> expected{4, 6, 12};
        for (quint32 a = 1024; a < 2048 + quint32(images[0].size()); a += 128)
            expected << a;
        expected << 4;

        for (int click = 0; click < 2; ++click) {
            sim()->clearRbcpRequests();
            download->click();
            QVERIFY(!download->isEnabled());
            w->on_download_clicked(); // a second press while it runs does nothing
            // nor does a settings read in the wait between the stop run and the writes
            QVERIFY(QTest::qWaitFor([&] { return !general->worker()->isRunning(); }, 5000));
            read->click();
            QTRY_VERIFY_WITH_TIMEOUT(download->isEnabled(), 10000);
            QVERIFY(!w->downloadRunning());
            QCOMPARE(writes(), expected);
            QCOMPARE(QByteArray(sim()->readRegisters(4, 1) + sim()->readRegisters(6, 1)).toHex(), QByteArray("0902"));
            QCOMPARE(sim()->readRegisters(12, 20).toHex(), QByteArray("000003e8") + starts[click] + "0100000000000000");
            QCOMPARE(sim()->readRegisters(1024, 1024).toHex(), vectors.toHex());
            const QByteArray image = sim()->readRegisters(2048, int(images[0].size()) + 1);
            QCOMPARE(image.toHex(), QByteArray(images[click] + '\x5a').toHex());
        }
        // Polling, Vector1, Vector(default), Interrupt1 to 7
        QCOMPARE(child<QTableWidget>(*w, "tableWidget")->rowCount(), 10);
    }

    // A slow module: from the click until the download ends nothing may change what it sends.
    // The operator cannot (the controls are off); a change made anyway does not reach the module.
    void downloadLocksTheTable()
    {
        auto w = window();
        QVERIFY(w);
        fill(*w, "5:1::04"); // a vector program only, no event checked
        child<GeneralForm>(*w, "tab_4")->worker()->SetWaitCount(30);
        SimFaults slow;
        slow.rbcpDelayMs = 400;
        sim()->setFaults(slow);
        auto *table = child<QTableWidget>(*w, "tableWidget");
        auto *events = child<QTableWidget>(*w, "propertyWidget");
        const auto enabled = [&] {
            QList<bool> on{events->isEnabled(), events->actions().first()->isEnabled()};
            for (const char *name : {"fopen", "fsave", "add", "edit", "del"})
                on << child<QPushButton>(*w, name)->isEnabled();
            return on;
        };
        child<QPushButton>(*w, "download")->click();
        emit table->cellClicked(0, 0);
        QCOMPARE(enabled(), QList<bool>(7, false));
        w->setEvent(0x01); // polling, without a polling program laid
        sim()->setFaults(SimFaults());
        QTRY_VERIFY_WITH_TIMEOUT(!w->downloadRunning(), 10000);
        QCOMPARE(sim()->readRegisters(4, 1).toHex(), QByteArray("00"));
        QCOMPARE(enabled(), QList<bool>({true, true, true, true, true, false, false}));
        emit table->cellClicked(0, 0);
        QCOMPARE(enabled(), QList<bool>(7, true));
    }

    void overflowSendsNothing()
    {
        auto w = window();
        QVERIFY(w);
        fill(*w, "0:257::00000001");
        w->setEvent(0x01);
        ModalAnswerer box;
        child<QPushButton>(*w, "download")->click();
        QVERIFY(box.wait() && box.title() == QStringLiteral("Invalid Setting"));
        QTest::qWait(300); // longer than the stop wait: a stop run would have reached the module
        QVERIFY(writes().isEmpty() && child<QPushButton>(*w, "download")->isEnabled() && w->programList().size() == 1);
    }

    void failedWriteLeavesTheModuleStopped()
    {
        auto w = window();
        QVERIFY(w);
        w->setEvent(0xfe);
        SimFaults faults;
        faults.rbcpBusErrors = {SimRange{2100, 2100}};
        sim()->setFaults(faults);
        ModalAnswerer box;
        child<QPushButton>(*w, "download")->click();
        QVERIFY(box.wait());
        QCOMPARE(box.title(), QStringLiteral("Tarnix Error"));
        QVERIFY2(box.text().endsWith(QStringLiteral(
                     "\nDownload stopped: the module's programs stay stopped (event enable mask 0).")),
                 qPrintable(box.text()));
        QTRY_VERIFY_WITH_TIMEOUT(!w->downloadRunning(), 10000);
        QVERIFY(!child<QPushButton>(*w, "download")->isEnabled());
        QVERIFY(child<QPushButton>(*w, "fopen")->isEnabled() && child<QTableWidget>(*w, "propertyWidget")->isEnabled());
        QCOMPARE(sim()->readRegisters(4, 1).toHex(), QByteArray("00"));
        QCOMPARE(writes().constLast(), quint32(2048)); // the block with the bad byte; the mask never went
    }

    // Downloaded programs run: the polling program's reports reach the log; level 3 raised with
    // vector 5 gives the interrupt program's, its acknowledge's and the vector program's; after a
    // download with no event checked nothing more comes.
    void programsReportIntoTheLog()
    {
        auto w = window();
        QVERIFY(w);
        fill(*w, "0:1::00004e20 -3:1:::a 6:1::05"); // polling every 20 ms
        w->setEvent(0x09);
        auto *download = child<QPushButton>(*w, "download");
        download->click();
        QTRY_VERIFY_WITH_TIMEOUT(download->isEnabled(), 10000);
        child<QLineEdit>(*w, "tcp")->setText(QString::number(sim()->tcpPort()));
        child<QPushButton>(*w, "connect")->click();
        QTRY_COMPARE_WITH_TIMEOUT(w->statusBar()->currentMessage(), QStringLiteral("connected"), 5000);
        auto *log = child<QPlainTextEdit>(*w, "log");
        const auto reports = [log](const char *id) { return log->toPlainText().count(QLatin1String(id)); };
        QTRY_VERIFY_WITH_TIMEOUT(reports("ID : 0x01") >= 2, 5000);
        QCOMPARE(reports("ID : 0x02") + reports("ID : 0x04"), 0);
        QVERIFY(sim()->raiseInterrupt(3, 5));
        QTRY_VERIFY_WITH_TIMEOUT(reports("ID : 0x04") == 1, 5000);
        QCOMPARE(reports("ID : 0x02") + reports("ID : 0x03"), 2);
        w->setEvent(0);
        download->click();
        QTRY_VERIFY_WITH_TIMEOUT(download->isEnabled(), 10000);
        QTest::qWait(100); // reports already on their way
        const int polled = reports("ID : 0x01");
        sim()->raiseInterrupt(3, 5);
        QTest::qWait(300); // fifteen polling intervals
        QCOMPARE(reports("ID : 0x01") + reports("ID : 0x02"), polled + 1);
    }

    void deletionFromTheTable()
    {
        Args a({"tarnix2-utility"});
        MainWindow w(a.argc(), a.argv.data());
        fill(w, "0:2::000003e8 5:1::04 -2:1");
        w.programList().at(2)->instructions.first()->id = 1; // shares the polling program's first ID
        w.setPollingPresent(true);
        w.setEvent(0x05);
        auto *table = child<QTableWidget>(w, "tableWidget");
        auto *events = child<QTableWidget>(w, "propertyWidget");
        QCOMPARE(events->item(0, 0)->text(), QStringLiteral("Polling(1000us) lv.2"));
        QVERIFY(w.checkVectorID(5) && w.checkVectorID(-2) && !w.checkVectorID(4) && !w.checkVectorID(257));

        // Row 0 three times: Yes on the polling program, No on the vector program, then Yes.
        for (const auto &[answer, name] : {std::pair{QMessageBox::Yes, "Polling"}, std::pair{QMessageBox::No, "Vector4"},
                                           std::pair{QMessageBox::Yes, "Vector4"}}) {
            table->setCurrentCell(0, 0);
            emit table->cellClicked(0, 0);
            ModalAnswerer box(answer);
            child<QPushButton>(w, "del")->click();
            QVERIFY(box.wait());
            QCOMPARE(box.text(), QStringLiteral("Are you sure you want to delete \"%1\"?").arg(QLatin1String(name)));
            QVERIFY(child<QPushButton>(w, "del")->isEnabled() && child<QPushButton>(w, "edit")->isEnabled());
        }
        QCOMPARE(w.programList().size(), 1);
        QCOMPARE(events->item(0, 0)->text(), QStringLiteral("Polling"));
        QCOMPARE(w.checkEvent(), 0x04);
        QVERIFY(!w.pollingPresent());
        QVERIFY(!w.checkID(1) && w.checkID(2) && w.checkID(3)); // 1 stays: the interrupt program uses it
        QVERIFY(!w.checkVectorID(5));
    }
};

QTEST_MAIN(TestDownload)
#include "tst_download.moc"
