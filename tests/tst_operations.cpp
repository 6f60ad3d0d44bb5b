// What the window shows of its long work, against the software module: the status bar's
// progress and outcome of a settings read and of downloads (good, lost replies, a bus error half
// way); the Rates tab's counts of the reports the module sent, across connections, and their rates.
#include "cmdargs.h"
#include "generalform.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "namedchild.h"
#include "operationstatus.h"
#include "reportrates.h"
#include "tarnixsim.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableWidget>
#include <QTabWidget>
#include <QtTest>

#include <memory>

class TestOperations : public QObject
{
    Q_OBJECT
    TarnixSimThread simThread;
    TarnixSim *sim() { return simThread.sim(); }

    static QStringList texts(const QSignalSpy &spy)
    {
        QStringList out;
        for (const QList<QVariant> &args : spy)
            out << args.at(0).toString();
        return out;
    }

private slots:
    void initTestCase()
    {
        SimConfig c;
        c.tcpPort = c.udpPort = 0;
        QVERIFY(simThread.startSim(c));
    }

    // The settings read reports its bytes; then a download of the empty table (1 + 20 + 1024 +
    // 64 + 1 bytes) reports every step as its requests are answered, retries included, and ends
    // done at 100 %, or failed where it stopped: the fifth block of the vector table and image
    // write (at 0x600, after 1 + 20 + 4 x 128 bytes) or the stop at register 4, with the bar
    // there. The connection's message on the left stays.
    void downloadProgress_data()
    {
        QTest::addColumn<double>("drop");
        QTest::addColumn<quint32>("busError"); // the register answering with the bus error flag, 0: none
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("permille");
        const QString done = QStringLiteral("Download done: 1110 bytes in ");
        QTest::newRow("good") << 0.0 << 0u << done << 1000;
        QTest::newRow("lost replies") << 0.3 << 0u << done << 1000;
        QTest::newRow("bus error half way") << 0.0 << 0x600u << QStringLiteral(
            "Download failed: Writing registers at 0x00000600 after 533 of 1110 bytes (") << 533 * 1000 / 1110;
        QTest::newRow("bus error on the stop") << 0.0 << 4u << QStringLiteral(
            "Download failed: Stopping programs at 0x00000004 after 0 of 1 bytes (") << 0;
    }
    void downloadProgress()
    {
        QFETCH(double, drop);
        QFETCH(quint32, busError);
        QFETCH(QString, outcome);
        QFETCH(int, permille);
        sim()->setFaults(SimFaults());
        Args a({"tarnix2-utility"});
        MainWindow w(a.argc(), a.argv.data());
        auto *general = child<GeneralForm>(w, "tab_4");
        auto *status = w.findChild<OperationStatus *>();
        auto *bar = child<QProgressBar>(w, "operationProgress");
        QVERIFY(status);
        child<QLineEdit>(*general, "address")->setText(QStringLiteral("127.0.0.1"));
        child<QLineEdit>(*general, "udp")->setText(QString::number(sim()->udpPort()));
        general->setRbcpTiming(1, 5);
        w.statusBar()->showMessage(QStringLiteral("connected"));
        QSignalSpy shown(status, &OperationStatus::changed);
        child<QPushButton>(*general, "read")->click();
        QVERIFY(QTest::qWaitFor([&] { return !status->isRunning(); }, 10000));
        QVERIFY2(status->text().startsWith(QStringLiteral("Settings read done: 28 bytes in ")), qPrintable(status->text()));
        QVERIFY(texts(shown).contains(QStringLiteral("Settings read: Reading settings")));

        SimFaults faults;
        faults.rbcpDropFraction = drop;
        if (busError)
            faults.rbcpBusErrors = {SimRange{busError, busError}};
        sim()->setFaults(faults);
        shown.clear();
        ModalAnswerer box(QMessageBox::Ok, 20000);
        child<QPushButton>(w, "download")->click();
        QVERIFY(status->isRunning());
        QVERIFY(QTest::qWaitFor([&] { return !status->isRunning(); }, 20000));
        const QStringList seen = texts(shown);
        QCOMPARE(seen.first(), QStringLiteral("Download..."));
        QVERIFY(seen.contains(QStringLiteral("Download: Stopping programs")));
        QCOMPARE(seen.contains(QStringLiteral("Download: Writing registers: 533 of 1110 bytes")), busError != 4);
        QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("connected"));
        if (drop > 0)
            QVERIFY2(seen.filter(QStringLiteral(", no answer, attempt 2 of 6")).size() > 0, qPrintable(seen.join(u'\n')));
        if (busError) {
            QVERIFY(box.wait(5000));
            QCOMPARE(box.title(), QStringLiteral("Tarnix Error"));
        }
        QVERIFY2(status->text().startsWith(outcome), qPrintable(status->text()));
        QCOMPARE(seen.contains(QStringLiteral("Download: Enabling")), !busError);
        QCOMPARE(bar->value(), permille);
        QCOMPARE(box.seen(), busError != 0);
    }

    // Reports of two sources, sent in exact numbers over two connections, are counted per source
    // (report k carries k in its data) and in all; Reset clears the counts and leaves the log; a
    // broken header counts as a CRC error, and every report before it is counted, also those of
    // the connection's last moments.
    void ratesCountReports()
    {
        sim()->setFaults(SimFaults());
        Args a({"tarnix2-utility", "-a", "127.0.0.1", "-s", "0"});
        MainWindow w(a.argc(), a.argv.data());
        auto *general = child<GeneralForm>(w, "tab_4");
        child<QLineEdit>(*general, "tcp")->setText(QString::number(sim()->tcpPort()));
        w.show();
        child<QTabWidget>(w, "tabWidget")->setCurrentIndex(4);
        auto *table = child<QTableWidget>(w, "sources");
        const auto label = [&](const char *name) { return child<QLabel>(w, name)->text(); };
        const auto rows = [&] {
            QStringList out;
            for (int r = 0; r < table->rowCount(); ++r)
                for (int c : {0, 1, 4})
                    out << table->item(r, c)->text();
            return out;
        };
        const auto connectAndSend = [&](const SimReportBurst &burst) {
            child<QPushButton>(*general, "connect")->click();
            return QTest::qWaitFor([&] { return sim()->connectionCount() == 1; }, 5000) &&
                   sim()->startReports(burst) == 1;
        };
        const auto disconnect = [&] {
            child<QPushButton>(*general, "connect")->click();
            return QTest::qWaitFor([&] {
                return sim()->connectionCount() == 0 && w.statusBar()->currentMessage() == QLatin1String("disconnected");
            }, 5000);
        };

        SimReportBurst polling;
        polling.id = 5;
        polling.level = 2;
        polling.count = 300;
        QVERIFY(connectAndSend(polling));
        QTRY_COMPARE_WITH_TIMEOUT(label("totalReports"), QStringLiteral("Reports: 300"), 10000);
        QVERIFY(disconnect());

        SimReportBurst interrupt;
        interrupt.id = 0x21;
        interrupt.level = 3;
        interrupt.polling = false;
        interrupt.count = 200;
        QVERIFY(connectAndSend(interrupt));
        QTRY_COMPARE_WITH_TIMEOUT(label("totalReports"), QStringLiteral("Reports: 500"), 10000);
        QCOMPARE(rows(), (QStringList{"ID 0x05, level 2, polling", "300", "0x0000012b",
                                      "ID 0x21, level 3, interrupt", "200", "0x000000c7"}));
        QCOMPARE(label("crcErrors"), QStringLiteral("CRC errors: 0"));

        const QString log = child<QPlainTextEdit>(w, "log")->toPlainText();
        QCOMPARE(log.count(QStringLiteral("ID : 0x05\n")), 300);
        child<QPushButton>(w, "resetRates")->click();
        QCOMPARE(label("totalReports"), QStringLiteral("Reports: 0"));
        QCOMPARE(table->rowCount(), 0);
        QCOMPARE(child<QPlainTextEdit>(w, "log")->toPlainText(), log);

        QVERIFY(disconnect());
        SimFaults broken;
        broken.tcpCorruptCrcPacket = 300; // the reports before it come in many reads
        sim()->setFaults(broken);
        ModalAnswerer box(QMessageBox::Ok, 10000);
        QVERIFY(connectAndSend(polling));
        QVERIFY(box.wait(10000));
        QCOMPARE(box.text(), QStringLiteral("CRC error"));
        // The thread merges its last counts before it reports the connection closed.
        QTRY_COMPARE_WITH_TIMEOUT(w.statusBar()->currentMessage(), QStringLiteral("disconnected"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(label("crcErrors"), QStringLiteral("CRC errors: 1"), 5000);
        QCOMPARE(label("totalReports"), QStringLiteral("Reports: 299"));
    }

    // The rates count the reports framed in the last whole second before the counts are
    // complete: while a thread counts (a stall included), its last merge; once it ended, the
    // sample's time. A late merge lands where its reports were framed; a reset drops every report
    // framed before it. Sources go by level, polling first; the last item has the data width.
    void ratesOverTheLastSecond()
    {
        ReportRates rates;
        ReportTally tally;
        kelvo_vme_master_header a, b, c; // level 1 polling; level 0 interrupt; level 1 interrupt, D16 A32
        a.id = b.id = 7;
        a.length = 0x30000000;
        c.id = 3;
        c.length = 0x20000000;
        c.mode = 0x0600;
        const auto count = [&](qint64 time, int n, const kelvo_vme_master_header &h) {
            tally.setTime(time);
            while (n--)
                tally.count(h, "\x11\x11\x22\x22", 4);
        };
        const auto rate = [&](qint64 now) {
            const ReportRates::Snapshot s = rates.sample(now);
            QList<double> out{s.perSecond};
            for (const ReportRates::Source &src : s.sources)
                out << src.perSecond;
            return out;
        };
        count(1000, 10, a);
        rates.merge(tally, 1050);
        QCOMPARE(rate(1100), (QList<double>{0, 0})); // no whole step yet
        count(1400, 20, a);
        count(1400, 10, b);
        tally.countCrcError();
        rates.merge(tally, 1500);
        QCOMPARE(rate(1700), (QList<double>{40, 10, 30}));
        QCOMPARE(rate(3600), (QList<double>{40, 10, 30})); // the thread is held up
        count(1600, 20, c); // framed before the stall
        count(3600, 10, c);
        rates.merge(tally, 3700);
        QCOMPARE(rate(3800), (QList<double>{10, 0, 0, 10}));
        ReportRates::Snapshot s = rates.sample(3800);
        QCOMPARE(ReportRates::sourceText(s.sources[2]), QStringLiteral("ID 0x03, level 1, interrupt"));
        QCOMPARE((QList<QVariant>{s.total, s.sources[2].lastItem, s.crcErrors}), (QList<QVariant>{70, "2222", 1}));
        QVERIFY(s.minute.contains(qMakePair(qint64(2000), 60.0)));
        rates.merge(tally, 3700, true); // the thread ended: the time goes on
        QCOMPARE(rate(5000), (QList<double>{0, 0, 0, 0}));

        count(5100, 5, a);
        rates.reset(5150);
        count(5200, 3, a);
        rates.merge(tally, 5300);
        QCOMPARE(rates.sample(5400).total, quint64(3));
    }
};

QTEST_MAIN(TestOperations)
#include "tst_operations.moc"
