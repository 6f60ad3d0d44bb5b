// What the window shows of its long work, against the software module: the status bar's
// progress and outcome of a settings read and of downloads (good, lost replies, a bus error half
// way).
#include "cmdargs.h"
#include "generalform.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "namedchild.h"
#include "operationstatus.h"
#include "tarnixsim.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
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
    // write (at 0x600, after 1 + 20 + 4 x 128 bytes) with the bar there. The connection's
    // message on the left stays.
    void downloadProgress_data()
    {
        QTest::addColumn<double>("drop");
        QTest::addColumn<bool>("busError");
        QTest::newRow("good") << 0.0 << false;
        QTest::newRow("lost replies") << 0.3 << false;
        QTest::newRow("bus error half way") << 0.0 << true;
    }
    void downloadProgress()
    {
        QFETCH(double, drop);
        QFETCH(bool, busError);
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
            faults.rbcpBusErrors = {SimRange{0x600, 0x600}};
        sim()->setFaults(faults);
        shown.clear();
        ModalAnswerer box(QMessageBox::Ok, 20000);
        child<QPushButton>(w, "download")->click();
        QVERIFY(status->isRunning());
        QVERIFY(QTest::qWaitFor([&] { return !status->isRunning(); }, 20000));
        const QStringList seen = texts(shown);
        QCOMPARE(seen.first(), QStringLiteral("Download..."));
        QVERIFY(seen.contains(QStringLiteral("Download: Stopping programs")));
        QVERIFY(seen.contains(QStringLiteral("Download: Writing registers: 533 of 1110 bytes")));
        QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("connected"));
        if (drop > 0)
            QVERIFY2(seen.filter(QStringLiteral(", no answer, attempt 2 of 6")).size() > 0, qPrintable(seen.join(u'\n')));
        if (busError) {
            QVERIFY(box.wait(5000));
            QCOMPARE(box.title(), QStringLiteral("Tarnix Error"));
            QVERIFY2(status->text().startsWith(QStringLiteral(
                         "Download failed: Writing registers at 0x00000600 after 533 of 1110 bytes (")),
                     qPrintable(status->text()));
            QVERIFY(!seen.contains(QStringLiteral("Download: Enabling")));
            QCOMPARE(bar->value(), 533 * 1000 / 1110);
        } else {
            QVERIFY(seen.contains(QStringLiteral("Download: Enabling")));
            QVERIFY2(status->text().startsWith(QStringLiteral("Download done: 1110 bytes in ")), qPrintable(status->text()));
            QCOMPARE(bar->value(), bar->maximum());
        }
        QCOMPARE(box.seen(), busError);
    }
};

QTEST_MAIN(TestOperations)
#include "tst_operations.moc"
