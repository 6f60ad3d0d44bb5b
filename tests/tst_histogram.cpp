// Histograms of the reports' data: the filling where reports are framed, across connections to
// the software module, the Histograms tab's statistics, and tarnixctl hist over a run file.
#include "histogram.h"
#include "histogramstab.h"
#include "runwriter.h"
#include "simoptions.h"
#include "tarnixsim.h"
#include "tcpthread.h"
#include "testpacket.h"

#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Fills one histogram of def from the packets and returns its counts.
HistogramCounts fillFrom(const HistogramDef &def, const QByteArray &packets)
{
    HistogramSet set;
    const int h = set.add(def);
    HistogramFill fill(&set);
    PacketStream stream;
    stream.append(packets);
    kelvo_vme_master_header header;
    const char *data = nullptr;
    int size = 0;
    while (stream.peek(header, data, size) == KelvoPacket::Frame::Complete) {
        fill.observe(header, data, size);
        stream.take(size);
    }
    fill.publish();
    HistogramCounts c;
    set.counts(h, c);
    return c;
}

} // namespace

class TestHistogram : public QObject
{
    Q_OBJECT
private slots:
    void exactBins_data()
    {
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("bin"); // -1: not filled
        // Polling level 2, ID 5: length 0x5000_00nn; D32 0x0A00, D16 0x0600, D8 0x0200.
        QTest::newRow("D32 low end") << packet(0, 0x50000004, 0x0A00, 5, QByteArray::fromHex("1234567a")) << 0 << 0 << 4 << 0xA;
        QTest::newRow("D32 high end") << packet(0, 0x50000004, 0x0A00, 5, QByteArray::fromHex("b2345678")) << 0 << 28 << 4 << 0xB;
        QTest::newRow("D32 second item, middle byte")
            << packet(0, 0x50000008, 0x0A00, 5, QByteArray::fromHex("ffffffff00abcd00")) << 1 << 8 << 8 << 0xCD;
        QTest::newRow("D16 third item, 16 bits")
            << packet(0, 0x50000006, 0x0600, 5, QByteArray::fromHex("00010002beef")) << 2 << 0 << 16 << 0xBEEF;
        QTest::newRow("D16 bits past the item are 0")
            << packet(0, 0x50000002, 0x0600, 5, QByteArray::fromHex("8001")) << 0 << 12 << 8 << 0x08;
        QTest::newRow("D8 second item, high nibble")
            << packet(0, 0x50000002, 0x0200, 5, QByteArray::fromHex("1234")) << 1 << 4 << 4 << 3;
        QTest::newRow("too short for the item")
            << packet(0, 0x50000006, 0x0600, 5, QByteArray::fromHex("000100020003")) << 3 << 0 << 16 << -1;
        QTest::newRow("half an item at the end")
            << packet(0, 0x50000006, 0x0A00, 5, QByteArray::fromHex("000000010002")) << 1 << 0 << 8 << -1;
        QTest::newRow("no data (Read(No Echo))") << packet(0, 0x50000004, 0x2A00, 5) << 0 << 0 << 8 << -1;
    }
    void exactBins()
    {
        QFETCH(QByteArray, report);
        QFETCH(int, item);
        QFETCH(int, low);
        QFETCH(int, width);
        QFETCH(int, bin);
        HistogramDef def;
        def.id = 5;
        def.level = 2;
        def.kind = HistogramDef::Polling;
        def.x = {item, low, width};
        // Beside it, reports of other sources: another ID, level and kind; none may fill a bin.
        const QByteArray others = packet(0, 0x50000004, 0x0A00, 6, QByteArray(4, '\x01')) +
                                  packet(0, 0x30000004, 0x0A00, 5, QByteArray(4, '\x01')) +
                                  packet(0, 0x40000004, 0x0A00, 5, QByteArray(4, '\x01'));
        const HistogramCounts c = fillFrom(def, others + report);
        QCOMPARE(c.bins.size(), 1 << width);
        QCOMPARE(c.entries, quint64(bin >= 0));
        QCOMPARE(c.notFilled, quint64(bin < 0));
        QCOMPARE(c.otherSources, quint64(3));
        for (int b = 0; b < c.bins.size(); ++b)
            QCOMPARE(c.bins[b], quint64(b == bin));
    }

    void twoDimensionsAndAnyLevel()
    {
        HistogramDef def;
        def.id = 5; // any level, any kind
        def.twoD = true;
        def.x = {0, 0, 4};
        def.y = {1, 4, 4};
        const QByteArray d = QByteArray::fromHex("0000000300000070");
        const HistogramCounts c = fillFrom(def, packet(0, 0x10000008, 0x0A00, 5, d) + packet(0, 0xE0000008, 0x0A00, 5, d) +
                                                    packet(0, 0x10000004, 0x0A00, 5, d.left(4)));
        QCOMPARE(c.entries, quint64(2));
        QCOMPARE(c.notFilled, quint64(1));
        QCOMPARE(c.bins[(7 << 4) | 3], quint64(2));
        QCOMPARE(histogramCsv(def, c.bins, false), QByteArray("x,y,count\n3,7,2\n"));
    }

    // Two connections to the module with a detector channel on item 1: each connection gets the
    // same values report by report (seeded), and the counts of both add up in the window's set.
    void moduleChannelAcrossReconnect()
    {
        SimConfig config;
        QString text;
        QCOMPARE(SimOptions::parse({QStringLiteral("tarnix-sim"), QStringLiteral("--tcp-port=0"), QStringLiteral("--udp-port=0"),
                                    QStringLiteral("--reports=3000"), QStringLiteral("--report-items=2"),
                                    QStringLiteral("--report-peak=1:600:20:0.25:1023"), QStringLiteral("--report-seed=7")},
                                   &config, &text),
                 SimOptions::Outcome::Run);
        TarnixSimThread module;
        QVERIFY(module.startSim(config));

        HistogramSet set;
        HistogramDef def;
        def.id = 5;
        def.x = {1, 0, 10};
        const int h = set.add(def);
        QObject owner;
        QVector<HistogramCounts> after;
        for (int connection = 0; connection < 2; ++connection) {
            QTcpThread thread(QStringLiteral("127.0.0.1"), module.sim()->tcpPort(), &owner);
            thread.setParam(128, 255, 131072, 8, 1024, 0);
            thread.setObserver(std::make_unique<HistogramFill>(&set));
            thread.start();
            HistogramSet::Info info;
            QTRY_VERIFY_WITH_TIMEOUT(set.info(h, info) && info.entries == quint64(3000 * (connection + 1)), 10000);
            thread.stop();
            HistogramCounts c;
            set.counts(h, c);
            after.append(c);
        }
        QCOMPARE(after[1].otherSources, quint64(0));
        for (int b = 0; b < 1024; ++b)
            QCOMPARE(after[1].bins[b], 2 * after[0].bins[b]);
        // The peak stands out of the flat background where it was asked for.
        const HistogramStats peak = HistogramStats::of(after[0].bins, 540, 660);
        QVERIFY2(peak.entries > 2000 && std::abs(peak.mean - 600) < 3 && std::abs(peak.rms - 20) < 3,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(peak.entries).arg(peak.mean).arg(peak.rms)));
        // Another seed, other values.
        SimChannel channel;
        QVERIFY(parseSimChannel(QStringLiteral("1:600:20:0.25:1023"), &channel));
        int same = 0;
        for (quint64 k = 0; k < 100; ++k)
            same += simChannelValue(channel, 7, k) == simChannelValue(channel, 8, k);
        QVERIFY(same < 20);
    }

    void tabStatistics_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("text");
        // Values 10, 12, 12, 14: mean 12, RMS sqrt(8 / 4); from 11: 12, 12, 14, mean 12.67, RMS sqrt(8/9).
        QTest::newRow("all") << 0 << 15 << QStringLiteral("Entries 4  Mean 12.00  RMS 1.41  (bins 0 to 15)");
        QTest::newRow("zoomed") << 11 << 15 << QStringLiteral("Entries 3  Mean 12.67  RMS 0.94  (bins 11 to 15)");
        QTest::newRow("empty range") << 0 << 9 << QStringLiteral("Entries 0  Mean 0.00  RMS 0.00  (bins 0 to 9)");
    }
    void tabStatistics()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, text);
        HistogramSet set;
        HistogramDef def;
        def.id = 9;
        def.x = {0, 0, 4};
        set.add(def);
        HistogramFill fill(&set);
        kelvo_vme_master_header h;
        h.id = 9;
        h.mode = 0x0200;
        h.length = 1;
        for (char v : {10, 12, 12, 14})
            fill.observe(h, &v, 1);
        fill.publish();
        HistogramsTab tab(&set, {});
        tab.show();
        tab.refresh();
        tab.plot()->setRange(from, to);
        QCOMPARE(tab.findChild<QLabel *>(QStringLiteral("histStatistics"))->text(),
                 text + QStringLiteral("   Not filled: 0 too short for the item, 0 of other sources"));
    }

    void ctlHistOfCapture_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("csv");
        // Item 1 of the D16 reports of ID 5: 0x0013, 0x0011, 0x0013, and a report too short.
        QTest::newRow("low nibble") << QStringList{QStringLiteral("--id"), QStringLiteral("5"), QStringLiteral("--item"),
                                                   QStringLiteral("1"), QStringLiteral("--bits"), QStringLiteral("0:4")}
                                    << QByteArray("value,count\n1,1\n3,2\n");
        QTest::newRow("all bins of bits 4-5, level 1 only")
            << QStringList{QStringLiteral("--id"), QStringLiteral("5"), QStringLiteral("--level"), QStringLiteral("1"),
                           QStringLiteral("--item"), QStringLiteral("1"), QStringLiteral("--bits"), QStringLiteral("4:2"),
                           QStringLiteral("--all")}
            << QByteArray("value,count\n0,0\n1,2\n2,0\n3,0\n");
    }
    void ctlHistOfCapture()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, csv);
        const QByteArray reports = packet(0, 0x30000004, 0x0600, 5, QByteArray::fromHex("00000013")) +
                                   packet(0, 0x30000004, 0x0600, 5, QByteArray::fromHex("ffff0011")) +
                                   packet(0, 0x50000004, 0x0600, 5, QByteArray::fromHex("00000013")) +
                                   packet(0, 0x30000002, 0x0600, 5, QByteArray::fromHex("0001")) +
                                   packet(0, 0x30000004, 0x0600, 6, QByteArray::fromHex("00000001"));
        QTemporaryDir dir;
        // The same reports as a raw capture and as a run file, in two socket reads.
        QFile raw(dir.filePath(QStringLiteral("capture.raw")));
        QVERIFY(raw.open(QIODevice::WriteOnly) && raw.write(reports) == reports.size());
        raw.close();
        RunWriter run;
        QVERIFY(run.open(dir.filePath(QStringLiteral("run.pcapng")), RunHeader()));
        run.addPacket(reports.constData(), 16, 1000);
        for (int at = 16; at < reports.size();) {
            const int size = KelvoPacket::HeaderSize + KelvoPacket::responseDataSize(KelvoPacket::readHeader(
                                                           reinterpret_cast<const uchar *>(reports.constData() + at)));
            run.addPacket(reports.constData() + at, size, 2000);
            at += size;
        }
        QVERIFY(run.finish(QStringLiteral("test"), 3000));
        for (const QString &file : {raw.fileName(), dir.filePath(QStringLiteral("run.pcapng"))}) {
            QProcess p;
            p.start(QStringLiteral(TARNIXCTL_EXE), QStringList{QStringLiteral("hist"), file} + args);
            QVERIFY(p.waitForFinished(10000));
            QCOMPARE(p.exitCode(), 0);
            QCOMPARE(p.readAllStandardOutput(), csv);
        }
    }
};

QTEST_MAIN(TestHistogram)
#include "tst_histogram.moc"
