#include "cmdargs.h"
#include "filedialoganswerer.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "namedchild.h"
#include "scriptedpeer.h"
#include "tcpthread.h"
#include "testpacket.h"

#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Sep(63, QLatin1Char('-'));

// The log text of report k of a numbered run (its data bytes are k).
QString report(int k)
{
    return Sep + QStringLiteral("\nAddress : 0x00002000\nLength : 1\nPriority Level : 0 (Polling)\nFlow ID : 0\n"
                                "Mode : 0x0a00(Read D32)\nID : 0x05\n") +
           Sep + QStringLiteral("\n[0x00002000]:00 00 00 %1 \n").arg(k, 2, 10, QLatin1Char('0')) + Sep +
           QLatin1Char('\n');
}

struct Window
{
    Args args;
    MainWindow w;
    QTabWidget *tabs;
    QPushButton *connectButton;
    QPlainTextEdit *log;
    explicit Window(quint16 port = 0, const QList<QByteArray> &more = {})
        : args(QList<QByteArray>{"tarnix2-utility", "-a", "127.0.0.1", "-s", "0"} + more),
          w(args.argc(), args.argv.data()), tabs(child<QTabWidget>(w, "tabWidget")),
          connectButton(child<QPushButton>(w, "connect")), log(child<QPlainTextEdit>(w, "log"))
    {
        child<QLineEdit>(w, "tcp")->setText(QString::number(port));
    }
    QString status() const { return w.statusBar()->currentMessage(); }
    QColor base() const { return log->palette().color(QPalette::Base); }
    bool isConnected() const { return status() == QLatin1String("connected") && tabs->isTabEnabled(3); }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void closeConfirmation()
    {
        Window win;
        win.w.show();
        win.w.setModified(true);
        ModalAnswerer cancel(QMessageBox::Cancel);
        QVERIFY(!win.w.close());
        QCOMPARE(cancel.buttons(), QMessageBox::Discard | QMessageBox::Cancel);
        ModalAnswerer discard(QMessageBox::Discard);
        QVERIFY(win.w.close());
        QVERIFY(discard.seen() && !win.w.isVisible());
    }

    void connectionStates()
    {
        ScriptedPeer peer;
        Window win(1); // nothing listens on port 1 of the loopback
        const QColor idle = win.base();
        {
            ModalAnswerer box;
            win.connectButton->click();
            QVERIFY(box.wait() && box.title() == QStringLiteral("Tarnix Error"));
            QVERIFY(box.text().contains(QStringLiteral("refused"), Qt::CaseInsensitive));
            QTRY_VERIFY(win.connectButton->isEnabled());
            // Failed, not disconnected: no closed() after a failed connect.
            QVERIFY(win.status().isEmpty() && !win.tabs->isTabEnabled(3));
        }
        child<QLineEdit>(win.w, "tcp")->setText(QString::number(peer.port()));
        win.connectButton->click();
        QVERIFY(win.status() == QStringLiteral("Connecting...") && !win.connectButton->isEnabled());
        QTRY_VERIFY(win.isConnected());
        QVERIFY(win.base() == QColor(Qt::white) && win.connectButton->isEnabled());
        QCOMPARE(win.connectButton->text(), QStringLiteral("Tcp\n&Disconnect"));

        // A broken header while connected: the box, then the disconnected state.
        QTRY_VERIFY(peer.hasClient());
        QByteArray bad = packet(0, 0, 0x2000, 5);
        bad[11] = char(bad[11] ^ 0xFF);
        ModalAnswerer box;
        peer.send(bad);
        QVERIFY(box.wait());
        QCOMPARE(box.title() + box.text(), QStringLiteral("Tarnix ErrorCRC error"));
        QTRY_COMPARE(win.status(), QStringLiteral("disconnected"));
        QVERIFY(!win.tabs->isTabEnabled(3) && win.base() == idle);
        QCOMPARE(win.connectButton->text(), QStringLiteral("Tcp\n&Connect"));

        // Two quick connects: the first thread is gone before the second is made.
        win.w.connectTcp(QStringLiteral("127.0.0.1"), peer.port());
        QPointer<QTcpThread> first(win.w.tcpThread());
        win.w.connectTcp(QStringLiteral("127.0.0.1"), peer.port());
        QVERIFY(first.isNull() && win.w.tcpThread());
        QTRY_VERIFY(win.isConnected());

        // The button ends the connection, quietly.
        ModalAnswerer none(QMessageBox::Ok, 300);
        win.connectButton->click();
        QVERIFY(!win.w.tcpThread());
        QTRY_COMPARE(win.status(), QStringLiteral("disconnected"));
        QVERIFY(!win.tabs->isTabEnabled(3) && win.base() == idle && win.connectButton->isEnabled() && !none.seen());
    }

    void reportsReachTheLog_data()
    {
        // Each string the thread hands over becomes a paragraph of its own; one read is one string.
        QTest::addColumn<QList<QByteArray>>("options");
        QTest::addColumn<int>("blocks"); // most paragraphs the log keeps
        QTest::addColumn<bool>("moduleCloses");
        QTest::addColumn<QString>("log");
        const QString together = report(0) + report(1) + report(2);
        const QString apart = report(0) + QLatin1Char('\n') + report(1) + QLatin1Char('\n') + report(2);
        QTest::newRow("defaults: one read") << QList<QByteArray>{} << 512 * 1024 << false << together;
        QTest::newRow("-r 16: a read a report") << QList<QByteArray>{"-r", "16"} << 512 * 1024 << false << apart;
        QTest::newRow("-t below 0 still reads") << QList<QByteArray>{"-t", "-1"} << 512 * 1024 << false << together;
        QTest::newRow("-l too large for an int") << QList<QByteArray>{"-l", "2097152"} << 2097151 * 1024 << false << together;
        // -l 0: no limit, and a string a report, all waiting for the window when the module closes.
        QTest::newRow("-l 0, the module closes") << QList<QByteArray>{"-l", "0"} << 0 << true << apart;
    }

    void reportsReachTheLog()
    {
        QFETCH(QList<QByteArray>, options);
        QFETCH(bool, moduleCloses);
        QFETCH(QString, log);
        ScriptedPeer peer;
        Window win(peer.port(), options);
        QTEST(win.w.maxLogBlocks(), "blocks");
        QTEST(win.log->maximumBlockCount(), "blocks");
        QString logAtDisconnect;
        QObject::connect(win.w.statusBar(), &QStatusBar::messageChanged, [&](const QString &m) {
            if (m == QLatin1String("disconnected"))
                logAtDisconnect = win.log->toPlainText();
        });
        win.connectButton->click();
        QTRY_VERIFY(win.isConnected() && peer.hasClient());
        ModalAnswerer box(QMessageBox::Ok, moduleCloses ? 10000 : 300);
        peer.send(numberedReport(0) + numberedReport(1) + numberedReport(2));
        if (moduleCloses) {
            peer.closeClient();
            QThread::msleep(300); // the window is busy meanwhile
            QVERIFY(box.wait());
            QCOMPARE(box.title(), QStringLiteral("Tarnix Error"));
            QTRY_COMPARE(logAtDisconnect, log);
        }
        QTRY_COMPARE(win.log->toPlainText(), log);
        QCOMPARE(box.seen(), moduleCloses);
    }

    void saveLog_data()
    {
        QTest::addColumn<QString>("name"); // in a fresh directory, unless absolute
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("box"); // start of the "File save" text; empty: no box
        QTest::newRow("Latin-1, old content replaced")
            << QStringLiteral("a.log") << QStringList{QStringLiteral("Grüße\n★ 1"), QStringLiteral("end")}
            << QByteArray("Gr\xfc\xdf" "e\n? 1\nend") << QString();
        QTest::newRow("missing directory") << QStringLiteral("missing/sub/a.log") << QStringList{QStringLiteral("x")}
                                           << QByteArray() << QStringLiteral("\": Can't open file for writing\n");
        QTest::newRow("full disk") << QStringLiteral("/dev/full") << QStringList{QStringLiteral("x")} << QByteArray()
                                   << QStringLiteral("\": Can't write file\n");
    }

    void saveLog()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, log);
        QFETCH(QString, box);
        QTemporaryDir dir;
        const QString path = QDir::isAbsolutePath(name) ? name : dir.filePath(name);
        QFile old(dir.filePath(QStringLiteral("a.log")));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("previous content, longer than the log") > 0 && old.flush());
        Window win;
        for (QString text : log)
            win.w.appendLog(&text);
        answerFileDialog(path);
        ModalAnswerer answer(QMessageBox::Ok, box.isEmpty() ? 300 : 10000);
        child<QPushButton>(win.w, "saveLog")->click();
        QCOMPARE(answer.seen(), !box.isEmpty());
        if (!box.isEmpty()) { // the path, what failed, and why
            QCOMPARE(answer.title(), QStringLiteral("File save"));
            const QString text = answer.text();
            QVERIFY2(text.startsWith('"' + path + box) && text.endsWith('.') && text.size() > path.size() + box.size() + 3,
                     qPrintable(text));
            return;
        }
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QTEST(f.readAll(), "file");
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
