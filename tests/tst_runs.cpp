// Run files: the bytes of the format, a file cut anywhere, damaged blocks, the decode formats,
// and the window recording a flood and replaying a run into the log and the Rates tab.
#include "cmdargs.h"
#include "filedialoganswerer.h"
#include "mainwindow.h"
#include "namedchild.h"
#include "recordcontrol.h"
#include "reportformat.h"
#include "runreader.h"
#include "runwriter.h"
#include "tarnixsim.h"
#include "tcpthread.h"
#include "testpacket.h"

#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

// Every batch of bytes fed to a parser at once.
QList<QByteArray> batches(RunParser &parser, RunParser::Step &last)
{
    QList<QByteArray> out;
    RunBatch b;
    while ((last = parser.next(b)) == RunParser::Step::Batch)
        out.append(QByteArray(b.data, b.size));
    return out;
}

// A run of three reads of numbered reports (3, 2 and 1 of them) and its end record.
QByteArray threeReads(RunWriter &w, const QString &path)
{
    RunHeader h;
    h.tool = QStringLiteral("test");
    h.startNs = 1000;
    if (!w.open(path, h))
        return {};
    quint32 k = 0;
    for (int read = 0; read < 3; ++read)
        for (int i = 0; i < 3 - read; ++i) {
            const QByteArray p = numberedReport(k++);
            w.addPacket(p.constData(), int(p.size()), 2000 + read);
        }
    w.finish(QStringLiteral("count"), 5000);
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestRuns : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    // A file written by hand from the block layout: section header, interface (user link type
    // 147, ns time stamps), one packet block. The writer writes the same bytes, the parser reads
    // its fields back, and every byte cut off the end is "need more", never "malformed".
    void workedExample()
    {
        const QByteArray report = packet(0x10, 0x10000004, 0x0A00, 5, hex("000001f3"));
        const QByteArray file = hex("0a0d0d0a 28000000 4d3c2b1a 01000000 ffffffffffffffff"
                                    "04000200 61620000 00000000 28000000"
                                    "01000000 30000000 93000000 00000000"
                                    "02000a00 6d6f64756c652d7463700000 09000100 09000000 00000000 30000000"
                                    "06000000 30000000 00000000 01000000 02000000 10000000 10000000") +
                                report + hex("30000000");
        RunHeader h;
        h.tool = QStringLiteral("ab");
        const QString path = dir.filePath(QStringLiteral("worked.pcapng"));
        RunWriter w;
        QVERIFY(w.open(path, h));
        w.addPacket(report.constData(), int(report.size()), 0x0000000100000002);
        QVERIFY(w.flush());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll().toHex(), file.toHex());

        RunParser p;
        p.append(file);
        RunBatch b;
        QCOMPARE(p.next(b), RunParser::Step::Batch);
        QCOMPARE(b.timeNs, 0x0000000100000002);
        QCOMPARE(QByteArray(b.data, b.size), report);
        QCOMPARE(p.header().tool, QStringLiteral("ab"));
        QCOMPARE(p.next(b), RunParser::Step::NeedMore);
        for (qsizetype n = 0; n < file.size(); ++n) {
            RunParser cut;
            cut.append(file.left(n));
            QCOMPARE(cut.next(b), RunParser::Step::NeedMore);
        }
    }

    // A run cut at every byte of its last two packet blocks and its end record reads every whole
    // block and says cut; fed one byte at a time it gives the same batches as whole.
    void cutAnywhere()
    {
        RunWriter w;
        const QByteArray file = threeReads(w, dir.filePath(QStringLiteral("three.pcapng")));
        QVERIFY(!file.isEmpty());
        RunParser whole;
        whole.append(file);
        RunParser::Step last;
        const QList<QByteArray> all = batches(whole, last);
        QCOMPARE(all.size(), 3);
        QCOMPARE(all.at(0), numberedReport(0) + numberedReport(1) + numberedReport(2));
        QCOMPARE(whole.end().reports, quint64(6));
        QCOMPARE(whole.end().reason, QStringLiteral("count"));
        QCOMPARE(whole.end().endNs, qint64(5000));

        RunParser bytewise;
        QList<QByteArray> pieces;
        for (char c : file) {
            bytewise.append(&c, 1);
            pieces += batches(bytewise, last);
            QCOMPARE(last, RunParser::Step::NeedMore);
        }
        QCOMPARE(pieces, all);

        // Where each packet block ends, from a parse of the whole file.
        QList<qint64> ends;
        RunParser walk;
        walk.append(file);
        RunBatch b;
        while (walk.next(b) == RunParser::Step::Batch)
            ends.append(walk.consumed());
        QCOMPARE(ends.size(), 3);
        QCOMPARE(ends.at(2) - ends.at(1), 28 + 16 + 4);
        for (qsizetype cut = ends.at(0); cut < file.size(); ++cut) {
            RunParser p;
            p.append(file.left(cut));
            const QList<QByteArray> got = batches(p, last);
            QCOMPARE(last, RunParser::Step::NeedMore);
            const int expected = int(std::count_if(ends.begin(), ends.end(), [&](qint64 e) { return e <= cut; }));
            QCOMPARE(got, all.mid(0, expected));
            QVERIFY(!p.end().present);
        }
        const QString cutPath = dir.filePath(QStringLiteral("cut.pcapng"));
        QFile out(cutPath);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file.left(file.size() - 5));
        out.close();
        RunReader r;
        QVERIFY(r.open(cutPath));
        int n = 0;
        while (r.next(b))
            ++n;
        QCOMPARE(n, 3);
        QCOMPARE(r.status(), RunReader::Status::Cut);
        QVERIFY2(r.errorString().contains(QStringLiteral("bytes after the last whole block")), qPrintable(r.errorString()));
    }

    // Damage is told at once, before any allocation or wait for bytes that would never come.
    void malformed_data()
    {
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<QString>("why");
        const QByteArray p = numberedReport(7);
        QTest::newRow("length not a multiple of 4") << hex("06000000 0d000000") << "bad length 13";
        QTest::newRow("length under 12") << hex("06000000 08000000") << "bad length 8";
        QTest::newRow("length beyond the limit") << hex("06000000 00000002") << "bad length 33554432";
        QTest::newRow("lengths differ at the ends") << hex("01000000 14000000 93000000 00000000 18000000")
                                                    << "lengths at the two ends differ";
        QTest::newRow("more data than the block") << hex("06000000 30000000 00000000 00000000 00000000 20000000 20000000") + p +
                                                         hex("30000000")
                                                  << "32 bytes of data";
        QTest::newRow("interface not described") << hex("06000000 20000000 03000000 00000000 00000000 00000000 00000000 20000000")
                                                 << "interface 3";
        QTest::newRow("no section header") << QByteArray() << "no section header";
    }
    void malformed()
    {
        QFETCH(QByteArray, tail);
        QFETCH(QString, why);
        RunWriter w;
        QByteArray file = threeReads(w, dir.filePath(QStringLiteral("base.pcapng")));
        if (tail.isEmpty())
            file = file.mid(qFromLittleEndian<quint32>(file.constData() + 4)); // from the interface block on
        else
            file.append(tail);
        RunParser parser;
        parser.append(file);
        RunParser::Step last;
        batches(parser, last);
        QCOMPARE(last, RunParser::Step::Malformed);
        QVERIFY2(parser.errorString().contains(why), qPrintable(parser.errorString()));
    }

    // One report of each kind in every format, against lines written by hand.
    void formats_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<qint64>("timeNs");
        QTest::addColumn<QString>("csv");
        QTest::addColumn<QString>("jsonl");
        QTest::newRow("polling, two D32 items")
            << packet(0x10, 0xB1230008, 0x0A00, 5, hex("00000001000001f3")) << qint64(1500000000)
            << "1.500000000,5,5,polling,291,16,2560,0,0,0,32,2,1,1 499\n"
            << R"({"time":1.500000000,"id":5,"level":5,"source":"polling","flow":291,"address":16,"mode":2560,"status":0,"vme_error":false,"param_error":false,"width":32,"items":2,"data":[1,499]})"
               "\n";
        QTest::newRow("interrupt, D16")
            << packet(0x200000, 0x60070004, 0x0500, 0x21, hex("1234abcd")) << qint64(1)
            << "0.000000001,33,3,interrupt,7,2097152,1280,0,0,0,16,2,4660,4660 43981\n"
            << R"({"time":0.000000001,"id":33,"level":3,"source":"interrupt","flow":7,"address":2097152,"mode":1280,"status":0,"vme_error":false,"param_error":false,"width":16,"items":2,"data":[4660,43981]})"
               "\n";
        QTest::newRow("both error bits, D8")
            << packet(0xFFFF, 0x10000001, 0x0005, 7, hex("ff")) << qint64(2000000000)
            << "2.000000000,7,0,polling,0,65535,5,5,1,1,8,1,255,255\n"
            << R"({"time":2.000000000,"id":7,"level":0,"source":"polling","flow":0,"address":65535,"mode":5,"status":5,"vme_error":true,"param_error":true,"width":8,"items":1,"data":[255]})"
               "\n";
        QTest::newRow("no data")
            << packet(0x100, 0x10000000, 0x2A00, 9) << qint64(0)
            << "0.000000000,9,0,polling,0,256,10752,0,0,0,32,0,,\n"
            << R"({"time":0.000000000,"id":9,"level":0,"source":"polling","flow":0,"address":256,"mode":10752,"status":0,"vme_error":false,"param_error":false,"width":32,"items":0,"data":[]})"
               "\n";
    }
    void formats()
    {
        QFETCH(QByteArray, packet);
        QFETCH(qint64, timeNs);
        const qint64 origin = 1700000000000000000;
        RunBatch b{origin + timeNs, packet.constData(), packet.size()};
        QByteArray csv, json, text;
        ReportFormatter c(ReportFormatter::Format::Csv, origin, true), j(ReportFormatter::Format::Jsonl, origin, true),
            t(ReportFormatter::Format::Text, origin, true);
        QVERIFY(forEachReport(b, [&](const RunReport &r) {
            c.append(r, csv);
            j.append(r, json);
            t.append(r, text);
        }));
        QTEST(QString::fromLatin1(csv), "csv");
        QTEST(QString::fromLatin1(json), "jsonl");
        QCOMPARE(c.head(), QByteArray("time,id,level,source,flow,address,mode,status,vme_error,param_error,width,items,d0,data\n"));
        if (QByteArray(QTest::currentDataTag()).startsWith("polling")) {
            const QByteArray sep(63, '-');
            QCOMPARE(text, sep + "\nAddress : 0x00000010\nLength : 2\nPriority Level : 5 (Polling)\nFlow ID : 291\n"
                                 "Mode : 0x0a00(Read D32)\nID : 0x05\n" + sep +
                               "\n[0x00000010]:00 00 00 01 00 00 01 f3 \n" + sep + "\n");
        }
    }

    // The window records a flood of numbered reports into a run file: every one of them, in
    // order, while the log shows a share and says how many it left out. The run then replays
    // into a window without a module: the Rates tab counts every report of it.
    void windowRecordsAndReplays()
    {
        TarnixSimThread module;
        SimConfig config;
        config.tcpPort = config.udpPort = 0;
        QVERIFY(module.startSim(config));
        const QString path = dir.filePath(QStringLiteral("window.pcapng"));
        constexpr qint64 Count = 200000;
        {
            Args a({"tarnix2-utility", "-a", "127.0.0.1"});
            MainWindow w(a.argc(), a.argv.data());
            child<QLineEdit>(w, "tcp")->setText(QString::number(module.sim()->tcpPort()));
            child<QPushButton>(w, "connect")->click();
            QTRY_VERIFY_WITH_TIMEOUT(w.tcpThread() && w.tcpThread()->isConnected(), 5000);
            QTRY_COMPARE_WITH_TIMEOUT(module.sim()->connectionCount(), 1, 5000);
            auto *record = child<QPushButton>(w, "record");
            QTRY_VERIFY_WITH_TIMEOUT(record->isEnabled(), 2000);
            answerFileDialog(path);
            record->click();
            QVERIFY(w.recordControl()->isRecording());
            SimReportBurst flood;
            flood.count = Count;
            QCOMPARE(module.sim()->startReports(flood), 1);
            const RunCounters &counters = w.recordControl()->recorder()->counters();
            const bool all = QTest::qWaitFor([&] { return counters.reports.load() >= quint64(Count); }, 20000);
            Q_UNUSED(all); // the count below says what is missing
            QCOMPARE(counters.reports.load(), quint64(Count));
            QSignalSpy done(w.recordControl(), &RecordControl::recordingFinished);
            record->click();
            QCOMPARE(done.size(), 1);
            QVERIFY(done.at(0).at(0).toBool());
            const QString log = child<QPlainTextEdit>(w, "log")->toPlainText();
            QVERIFY(log.count(QStringLiteral("ID : 0x05\n")) < Count);
            QVERIFY(log.contains(QStringLiteral("were not shown here; all are in the run file")));
        }
        RunReader r;
        QVERIFY(r.open(path));
        RunBatch b;
        quint32 next = 0;
        bool inOrder = true;
        while (r.next(b))
            forEachReport(b, [&](const RunReport &rep) { inOrder &= qFromBigEndian<quint32>(rep.data) == next++; });
        QCOMPARE(r.status(), RunReader::Status::Complete);
        QCOMPARE(qint64(next), Count);
        QVERIFY(inOrder);
        QCOMPARE(r.end().reports, quint64(Count));
        QCOMPARE(r.header().moduleAddress, QStringLiteral("127.0.0.1"));

        Args a({"tarnix2-utility"});
        MainWindow w(a.argc(), a.argv.data());
        w.show();
        child<QTabWidget>(w, "tabWidget")->setCurrentIndex(4);
        HistogramDef def;
        def.id = 5;
        def.x.width = 16; // the report's number, modulo 65,536
        const int histogram = w.histogramSet().add(def);
        QSignalSpy played(w.recordControl(), &RecordControl::replayFinished);
        QVERIFY(w.recordControl()->startReplay(path, false));
        QVERIFY(played.wait(60000));
        QVERIFY(played.at(0).at(0).toBool());
        HistogramCounts counts;
        QVERIFY(w.histogramSet().counts(histogram, counts));
        QCOMPARE(counts.entries, quint64(Count));
        QCOMPARE(counts.bins.at(Count % 65536), quint64(3)); // numbers 3 * 65,536 apart below Count
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(w, "totalReports")->text(), QStringLiteral("Reports: %1").arg(Count), 5000);
        QVERIFY(child<QPlainTextEdit>(w, "log")->toPlainText().contains(QStringLiteral("ID : 0x05\n")));
    }
};

QTEST_MAIN(TestRuns)
#include "tst_runs.moc"
