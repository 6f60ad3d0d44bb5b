// What a lab's systems see of a readout: the metrics page as text, the page scraped by a real
// Prometheus server from tarnixctl, and the report stream taken by a ZeroMQ subscriber.
#include "cmdargs.h"
#include "exportsettings.h"
#include "mainwindow.h"
#include "namedchild.h"
#include "recordcontrol.h"
#include "exposition.h"
#include "metricsserver.h"
#include "reportmetrics.h"
#include "reportpublisher.h"
#include "runreader.h"
#include "tarnixsim.h"
#include "tcpthread.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <clocale>
#include <zmq.hpp>

namespace {

kelvo_vme_master_header report(quint8 id, int level, bool polling, int dataSize)
{
    kelvo_vme_master_header h;
    h.id = id;
    h.length = (quint32(level) << 29) | (polling ? 0x10000000u : 0) | quint32(dataSize);
    return h;
}

// The value of the first line of standard error that matches pattern (its first group).
QString waitForLine(QProcess &p, const QString &pattern)
{
    const QRegularExpression re(pattern);
    p.setReadChannel(QProcess::StandardError);
    p.waitForStarted(5000);
    QString seen;
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && p.state() == QProcess::Running) {
        p.waitForReadyRead(100);
        seen += QString::fromLocal8Bit(p.readAllStandardError());
        const auto m = re.match(seen);
        if (m.hasMatch())
            return m.captured(1);
    }
    return QString();
}

// A GET on 127.0.0.1 with a bound wait; the body, and the reply's Content-Type.
QByteArray get(const QString &url, QByteArray *type = nullptr)
{
    QNetworkAccessManager net;
    QScopedPointer<QNetworkReply> reply(net.get(QNetworkRequest(QUrl(url))));
    QSignalSpy done(reply.data(), &QNetworkReply::finished);
    if (!done.wait(5000) || reply->error() != QNetworkReply::NoError)
        return QByteArray();
    if (type)
        *type = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    return reply->readAll();
}

struct Listen
{
    QProcess p;
    ~Listen()
    {
        p.terminate();
        if (!p.waitForFinished(5000))
            p.kill(), p.waitForFinished(1000);
    }
};

} // namespace

class TestExport : public QObject
{
    Q_OBJECT
private slots:
    // Hand-written counts of three sources, under a locale that writes a decimal comma.
    void page()
    {
        QLocale::setDefault(QLocale(QLocale::German));
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        ReportRates rates;
        ReportTally tally;
        const char data[8] = {};
        tally.setTime(1700000000123);
        tally.count(report(0x10, 3, true, 4), data, 4);
        tally.count(report(0x10, 3, true, 4), data, 4);
        tally.setTime(1700000001500);
        tally.count(report(0x05, 3, false, 0), data, 0);
        tally.count(report(0xff, 7, true, 8), data, 8);
        tally.countCrcError();
        rates.merge(tally, 1700000002000);
        ReportMetrics::Extra extra;
        extra.connected = true;
        extra.connects = 2;
        extra.address = QStringLiteral("10.1.2.3");
        extra.port = 24;
        RunCounters recorder;
        recorder.state = RunCounters::Recording;
        recorder.fileBytes = 4096;
        recorder.reports = 4;
        extra.recorder = &recorder;
        const QByteArray text = ReportMetrics::page(rates.totals(), extra);
        std::setlocale(LC_NUMERIC, "C");
        QLocale::setDefault(QLocale::c());
        QCOMPARE(text, QByteArray(
            "# HELP tarnix_reports_total Reports received from the module's programs, per source.\n"
            "# TYPE tarnix_reports_total counter\n"
            "tarnix_reports_total{id=\"0x05\",level=\"3\",kind=\"interrupt\"} 1\n"
            "tarnix_reports_total{id=\"0x10\",level=\"3\",kind=\"polling\"} 2\n"
            "tarnix_reports_total{id=\"0xff\",level=\"7\",kind=\"polling\"} 1\n"
            "# HELP tarnix_report_bytes_total Bytes of those reports, headers included, per source.\n"
            "# TYPE tarnix_report_bytes_total counter\n"
            "tarnix_report_bytes_total{id=\"0x05\",level=\"3\",kind=\"interrupt\"} 12\n"
            "tarnix_report_bytes_total{id=\"0x10\",level=\"3\",kind=\"polling\"} 32\n"
            "tarnix_report_bytes_total{id=\"0xff\",level=\"7\",kind=\"polling\"} 20\n"
            "# HELP tarnix_last_report_timestamp_seconds When the last report of the source arrived, in seconds since the epoch.\n"
            "# TYPE tarnix_last_report_timestamp_seconds gauge\n"
            "tarnix_last_report_timestamp_seconds{id=\"0x05\",level=\"3\",kind=\"interrupt\"} 1700000001.5\n"
            "tarnix_last_report_timestamp_seconds{id=\"0x10\",level=\"3\",kind=\"polling\"} 1700000000.123\n"
            "tarnix_last_report_timestamp_seconds{id=\"0xff\",level=\"7\",kind=\"polling\"} 1700000001.5\n"
            "# HELP tarnix_crc_errors_total Packet headers from the module with a wrong CRC.\n"
            "# TYPE tarnix_crc_errors_total counter\n"
            "tarnix_crc_errors_total 1\n"
            "# HELP tarnix_connected 1 while the command channel to the module is connected.\n"
            "# TYPE tarnix_connected gauge\n"
            "tarnix_connected 1\n"
            "# HELP tarnix_connects_total Connections made to the module.\n"
            "# TYPE tarnix_connects_total counter\n"
            "tarnix_connects_total 2\n"
            "# HELP tarnix_module_info The module read out: its address and TCP port.\n"
            "# TYPE tarnix_module_info gauge\n"
            "tarnix_module_info{address=\"10.1.2.3\",port=\"24\"} 1\n"
            "# HELP tarnix_recording 1 while a run file is being recorded.\n"
            "# TYPE tarnix_recording gauge\n"
            "tarnix_recording 1\n"
            "# HELP tarnix_recorded_bytes_total Bytes written to the run file.\n"
            "# TYPE tarnix_recorded_bytes_total counter\n"
            "tarnix_recorded_bytes_total 4096\n"
            "# HELP tarnix_recorded_reports_total Reports recorded into the run file.\n"
            "# TYPE tarnix_recorded_reports_total counter\n"
            "tarnix_recorded_reports_total 4\n"));

        // Label values and help texts that need escaping; values beyond the counts.
        Exposition e;
        e.family("x_total", "counter", "a \\ b\nc \"d\"");
        e.sample("x_total", {{"file", "C:\\runs\\\"a\"\nb"}}, 0.25);
        e.sample("x_total", {}, qInf());
        QCOMPARE(e.text(), QByteArray("# HELP x_total a \\\\ b\\nc \"d\"\n# TYPE x_total counter\n"
                                      "x_total{file=\"C:\\\\runs\\\\\\\"a\\\"\\nb\"} 0.25\nx_total +Inf\n"));
    }

    void hostPort_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("address"); // empty: refused
        QTest::addColumn<int>("port");
        QTest::newRow("v4") << "10.0.0.1:9464" << "10.0.0.1" << 9464;
        QTest::newRow("port alone") << "9464" << "127.0.0.1" << 9464;
        QTest::newRow("v6") << "[::1]:0" << "::1" << 0;
        QTest::newRow("name") << "crate1:9464" << "" << 0;
        QTest::newRow("too big") << "127.0.0.1:65536" << "" << 0;
        QTest::newRow("no port") << "127.0.0.1:" << "" << 0;
    }
    void hostPort()
    {
        QFETCH(QString, text);
        QFETCH(QString, address);
        QFETCH(int, port);
        QHostAddress a;
        quint16 p = 1;
        QString error;
        QCOMPARE(MetricsServer::parseHostPort(text, a, p, error), !address.isEmpty());
        if (!address.isEmpty()) {
            QCOMPARE(a, QHostAddress(address));
            QCOMPARE(int(p), port);
        }
    }

    // Prometheus scrapes tarnixctl listen and counts every report tarnix-sim sent.
    void prometheusRoundTrip()
    {
        const QString server = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
        if (server.isEmpty())
            QSKIP("no prometheus server installed (Debian package prometheus): round trip not tried");
        TarnixSimThread m;
        SimConfig config;
        config.tcpPort = config.udpPort = 0;
        config.reportsOnConnect = true;
        config.reports.count = 7000;
        config.reports.id = 0x21;
        config.reports.level = 4;
        QVERIFY(m.startSim(config));
        Listen ctl;
        ctl.p.start(QStringLiteral(TARNIXCTL_EXE),
                    {QStringLiteral("-a"), QStringLiteral("127.0.0.1"), QStringLiteral("--tcp-port"),
                     QString::number(m.sim()->tcpPort()), QStringLiteral("--raw"), QStringLiteral("/dev/null"),
                     QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0"), QStringLiteral("listen")});
        const QString url = waitForLine(ctl.p, QStringLiteral("metrics at (http://\\S+)\n"));
        QVERIFY2(!url.isEmpty(), "tarnixctl did not say where its metrics are");
        QByteArray type;
        QVERIFY(get(url, &type).contains("tarnix_connected 1\n"));
        QCOMPARE(type, QByteArray("text/plain; version=0.0.4; charset=utf-8"));

        QTemporaryDir dir;
        QFile yml(dir.filePath(QStringLiteral("prometheus.yml")));
        QVERIFY(yml.open(QIODevice::WriteOnly));
        yml.write("global:\n  scrape_interval: 200ms\n  scrape_timeout: 200ms\nscrape_configs:\n"
                  "  - job_name: crate\n    static_configs:\n      - targets: ['" +
                  QUrl(url).authority().toUtf8() + "']\n");
        yml.close();
        Listen prom;
        prom.p.start(server, {QStringLiteral("--config.file=") + yml.fileName(),
                              QStringLiteral("--storage.tsdb.path=") + dir.filePath(QStringLiteral("data")),
                              QStringLiteral("--web.listen-address=127.0.0.1:0")});
        const QString web = waitForLine(prom.p, QStringLiteral("Listening on\" address=(127\\.0\\.0\\.1:\\d+)"));
        if (web.isEmpty() || web.endsWith(QStringLiteral(":0")))
            QSKIP(qPrintable(QStringLiteral("prometheus did not start on 127.0.0.1 (%1): round trip not tried")
                                 .arg(QString::fromLocal8Bit(prom.p.readAllStandardError()).right(300))));
        const QString query = QStringLiteral("http://%1/api/v1/query?query=tarnix_reports_total").arg(web);
        QString value;
        QString labels;
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
            const QJsonArray result = QJsonDocument::fromJson(get(query)).object()
                                          .value(QStringLiteral("data")).toObject().value(QStringLiteral("result")).toArray();
            if (result.size() != 1)
                return false;
            const QJsonObject metric = result.at(0).toObject().value(QStringLiteral("metric")).toObject();
            labels = metric.value(QStringLiteral("id")).toString() + QLatin1Char(' ') +
                     metric.value(QStringLiteral("level")).toString() + QLatin1Char(' ') +
                     metric.value(QStringLiteral("kind")).toString();
            value = result.at(0).toObject().value(QStringLiteral("value")).toArray().at(1).toString();
            return value == QStringLiteral("7000");
        }()), 15000);
        QCOMPARE(labels, QStringLiteral("0x21 4 polling"));
    }

    // A subscriber that keeps up gets every report from the first message it sees, in order,
    // each message whole and numbered, the same bytes as the run file of the same run.
    void streamKeptUp()
    {
        TarnixSimThread m;
        SimConfig config;
        config.tcpPort = config.udpPort = 0;
        config.reportsOnConnect = true;
        config.reports.count = 0;
        config.reports.rate = 20000;
        QVERIFY(m.startSim(config));
        QTemporaryDir dir;
        const QString run = dir.filePath(QStringLiteral("run.pcapng"));
        Listen ctl;
        const QString topic = QStringLiteral("127.0.0.1:%1").arg(m.sim()->tcpPort());
        ctl.p.start(QStringLiteral(TARNIXCTL_EXE),
                    {QStringLiteral("-a"), QStringLiteral("127.0.0.1"), QStringLiteral("--tcp-port"),
                     QString::number(m.sim()->tcpPort()), QStringLiteral("--publish"),
                     QStringLiteral("tcp://127.0.0.1:*"), QStringLiteral("record"), run});
        const QString endpoint = waitForLine(ctl.p, QStringLiteral("publishing reports on (\\S+)\n"));
        QVERIFY2(endpoint.startsWith(QStringLiteral("tcp://127.0.0.1:")), qPrintable(endpoint));

        zmq::context_t context;
        zmq::socket_t sub(context, zmq::socket_type::sub);
        sub.set(zmq::sockopt::rcvtimeo, 5000);
        sub.set(zmq::sockopt::subscribe, topic.toStdString());
        sub.connect(endpoint.toStdString());
        QByteArray stream;
        qint64 firstSequence = -1, sequence = 0;
        while (stream.size() < 2000 * 16) {
            zmq::message_t frame[3];
            QVERIFY2(sub.recv(frame[0]), "no message within 5 s");
            QVERIFY(frame[0].more() && sub.recv(frame[1]) && frame[1].more() && sub.recv(frame[2]));
            QVERIFY(!frame[2].more());
            QCOMPARE(frame[0].to_string(), topic.toStdString());
            QCOMPARE(int(frame[1].size()), ReportPublisher::HeaderSize);
            const uchar *head = frame[1].data<uchar>();
            const qint64 n = qFromBigEndian<qint64>(head);
            if (firstSequence >= 0)
                QCOMPARE(n, sequence + 1);
            else
                firstSequence = n;
            sequence = n;
            QCOMPARE(qint64(qFromBigEndian<quint32>(head + 16)) * 16, qint64(frame[2].size()));
            stream.append(frame[2].data<char>(), int(frame[2].size()));
            QVERIFY(qAbs(qFromBigEndian<qint64>(head + 8) / 1000000 - QDateTime::currentMSecsSinceEpoch()) < 60000);
        }
        ctl.p.terminate();
        QVERIFY(ctl.p.waitForFinished(5000));
        QCOMPARE(ctl.p.exitCode(), 0);
        QVERIFY(ctl.p.readAllStandardError().contains("0 dropped"));
        // Report k carries k in its first item: the first one seen says where the capture has it.
        const qint64 first = qFromBigEndian<quint32>(stream.constData() + 12);
        RunReader reader;
        QVERIFY(reader.open(run));
        QByteArray recorded;
        for (RunBatch b; reader.next(b);)
            recorded.append(b.data, b.size);
        QCOMPARE(recorded.mid(first * 16, stream.size()), stream);
    }

    // A subscriber that stops reading: the publisher goes on at once, counts every message it
    // could not send, and the subscriber sees the gaps in the sequence numbers.
    void streamDropsCounted()
    {
        ReportPublisher pub;
        QVERIFY2(pub.bind(QStringLiteral("tcp://127.0.0.1:*"), 2), qPrintable(pub.errorString()));
        pub.setTopic("t");
        zmq::context_t context;
        zmq::socket_t sub(context, zmq::socket_type::sub);
        sub.set(zmq::sockopt::rcvhwm, 2);
        sub.set(zmq::sockopt::rcvbuf, 4096);
        sub.set(zmq::sockopt::subscribe, "t");
        sub.connect(pub.endpoint().toStdString());
        const QByteArray batch(64 * 1024, 'r');
        zmq::message_t msg;
        // Once a message arrives the subscription is in place.
        bool joined = false;
        QTRY_VERIFY_WITH_TIMEOUT(joined = joined || (pub.publish(batch.constData(), 16, 1, 0) &&
                                                     sub.recv(msg, zmq::recv_flags::dontwait)), 5000);
        while (sub.recv(msg, zmq::recv_flags::dontwait)) {
        }
        const quint64 before = pub.sent() + pub.dropped(); // the first sequence number of the flood
        const quint64 droppedBefore = pub.dropped();
        const int total = 2000;
        for (int i = 0; i < total; ++i)
            pub.publish(batch.constData(), batch.size(), 1, i);
        const quint64 dropped = pub.dropped() - droppedBefore;
        QVERIFY(dropped > 0);
        QCOMPARE(pub.sent() + pub.dropped(), before + total);

        // What got through, and the gaps its numbers show, add up to what was published.
        sub.set(zmq::sockopt::rcvtimeo, 500);
        quint64 got = 0, next = before, gaps = 0;
        zmq::message_t frame[3];
        auto take = [&] {
            if (!sub.recv(frame[0]) || !sub.recv(frame[1]) || !sub.recv(frame[2]))
                return false;
            const quint64 n = qFromBigEndian<quint64>(frame[1].data<uchar>());
            if (n >= before) { // not a late probe
                gaps += n - next;
                next = n + 1;
                ++got;
            }
            return true;
        };
        while (take()) {
        }
        // One more once the queue is empty: it goes out, numbered after all that were dropped.
        QVERIFY(pub.publish(batch.constData(), 16, 1, 0));
        QVERIFY(take());
        --got;
        QCOMPARE(next, before + total + 1);
        QCOMPARE(gaps, dropped);
        QCOMPARE(got, quint64(total) - dropped);
    }

    // The Rates tab's row: off until ticked, on 127.0.0.1; ticked, it serves the window's counts
    // and publishes what the command thread reads.
    void windowRow()
    {
        TarnixSimThread m;
        SimConfig config;
        config.tcpPort = config.udpPort = 0;
        config.reportsOnConnect = true;
        config.reports.count = 0;
        config.reports.rate = 2000;
        QVERIFY(m.startSim(config));
        ReportRates rates;
        ExportSettings row(&rates);
        auto *serve = row.findChild<QCheckBox *>(QStringLiteral("serveMetrics"));
        QVERIFY(!serve->isChecked());
        QCOMPARE(row.findChild<QLineEdit *>(QStringLiteral("metricsAddress"))->text(), QStringLiteral("127.0.0.1"));
        row.findChild<QSpinBox *>(QStringLiteral("metricsPort"))->setValue(0);
        serve->setChecked(true);
        const QString url = row.findChild<QLabel *>(QStringLiteral("metricsState"))->text();
        QVERIFY2(url.startsWith(QStringLiteral("http://127.0.0.1:")), qPrintable(url));
        row.findChild<QLineEdit *>(QStringLiteral("publishEndpoint"))->setText(QStringLiteral("tcp://127.0.0.1:*"));
        row.findChild<QCheckBox *>(QStringLiteral("publishReports"))->setChecked(true);
        zmq::context_t context;
        zmq::socket_t sub(context, zmq::socket_type::sub);
        sub.set(zmq::sockopt::rcvtimeo, 5000);
        sub.set(zmq::sockopt::subscribe, "");
        sub.connect(row.findChild<QLabel *>(QStringLiteral("publishState"))->text().toStdString());

        QTcpThread tcp(QStringLiteral("127.0.0.1"), m.sim()->tcpPort());
        tcp.setRates(&rates);
        row.setModule(QStringLiteral("127.0.0.1"), m.sim()->tcpPort());
        tcp.startRecording(row.tap());
        tcp.start();
        zmq::message_t topic;
        QVERIFY2(sub.recv(topic), "no message within 5 s");
        QCOMPARE(QString::fromStdString(topic.to_string()), QStringLiteral("127.0.0.1:%1").arg(m.sim()->tcpPort()));
        QTRY_VERIFY_WITH_TIMEOUT(get(url).contains("tarnix_reports_total{id=\"0x05\",level=\"0\",kind=\"polling\"}"), 5000);
        tcp.stopRecording();
    }

    // The window publishing the reports while it records a run: the stream and the file both
    // get every report.
    void windowPublishesWhileRecording()
    {
        TarnixSimThread m;
        SimConfig config;
        config.tcpPort = config.udpPort = 0;
        QVERIFY(m.startSim(config));
        QTemporaryDir dir;
        Args a({"tarnix2-utility", "-a", "127.0.0.1"});
        MainWindow w(a.argc(), a.argv.data());
        child<QLineEdit>(w, "publishEndpoint")->setText(QStringLiteral("tcp://127.0.0.1:*"));
        child<QCheckBox>(w, "publishReports")->setChecked(true);
        zmq::context_t context;
        zmq::socket_t sub(context, zmq::socket_type::sub);
        sub.set(zmq::sockopt::rcvtimeo, 5000);
        sub.set(zmq::sockopt::subscribe, "");
        sub.connect(child<QLabel>(w, "publishState")->text().toStdString());
        child<QLineEdit>(w, "tcp")->setText(QString::number(m.sim()->tcpPort()));
        child<QPushButton>(w, "connect")->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.tcpThread() && w.tcpThread()->isConnected(), 5000);
        // The window's socket is connected once the handshake is done; the module takes the
        // connection on its own thread a moment later.
        QTRY_COMPARE_WITH_TIMEOUT(m.sim()->connectionCount(), 1, 5000);
        // A subscription takes effect some time after the connect: until a report comes through,
        // single reports go out that nothing records.
        SimReportBurst one;
        one.count = 1;
        sub.set(zmq::sockopt::rcvtimeo, 200);
        bool joined = false;
        for (int i = 0; i < 50 && !joined; ++i) {
            QCOMPARE(m.sim()->startReports(one), 1);
            zmq::message_t part;
            joined = QTest::qWaitFor([&] { return sub.recv(part, zmq::recv_flags::dontwait).has_value(); }, 200);
            while (part.more() && sub.recv(part))
                ;
        }
        QVERIFY2(joined, "the subscription never took effect");
        sub.set(zmq::sockopt::rcvtimeo, 5000);
        QVERIFY(w.recordControl()->startRecording(dir.filePath(QStringLiteral("run.pcapng"))));
        constexpr quint64 Count = 5000;
        SimReportBurst flood;
        flood.count = Count;
        QCOMPARE(m.sim()->startReports(flood), 1);
        const RunCounters &counters = w.recordControl()->recorder()->counters();
        QTRY_COMPARE_WITH_TIMEOUT(counters.reports.load(), Count, 10000);
        quint64 streamed = 0;
        while (streamed < Count) {
            zmq::message_t topic, header, body;
            QVERIFY2(sub.recv(topic) && sub.recv(header) && sub.recv(body), "the stream stopped short");
            streamed += qFromBigEndian<quint32>(static_cast<const uchar *>(header.data()) + 16);
        }
        QCOMPARE(streamed, Count);
        w.recordControl()->stopRecording();
    }
};

QTEST_MAIN(TestExport)
#include "tst_export.moc"
