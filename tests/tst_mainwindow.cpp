#include "mainwindow.h"
#include "testpacket.h"
#include "cmdargs.h"
#include "filedialoganswerer.h"
#include "modalanswerer.h"
#include "packet.h"
#include "scriptedpeer.h"
#include "tcpthread.h"

#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {




} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void shell();
    void interactivePageCannotBeSelected();
    void versionFile_data();
    void versionFile();
    void closeConfirmation();
    void logLimitFromCommandLine();
    void stateTable();
    void refusedConnectionState();
    void crcErrorWhileConnected();
    void twoQuickConnects();
    void reportsReachTheLog();
    void logCompleteWhenDisconnected();
    void saveLog();
    void saveLogMissingDirectory();
    void programIdBookkeeping();

private:
    QString versionPath;
};

void TestMainWindow::initTestCase()
{
    versionPath = QCoreApplication::applicationDirPath() + QStringLiteral("/version.txt");
    QFile::remove(versionPath);
}

void TestMainWindow::cleanup()
{
    QFile::remove(versionPath);
}

void TestMainWindow::shell()
{
    Args a({"tarnix2-utility"});
    MainWindow w(a.argc(), a.argv.data());
    QCOMPARE(w.windowTitle(), QStringLiteral("Tarnix2 Utility"));
    QCOMPARE(w.maximumSize(), QSize(577, 591));
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("labelVersion"))->text(), QStringLiteral("Version 2.0.α"));
    QVERIFY(w.findChild<QLabel *>(QStringLiteral("label_5"))->text().contains(QStringLiteral("Tarnix2 Utility")));
    auto *tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QCOMPARE(tabs->count(), 4);
    const QStringList titles{QStringLiteral("&General"), QStringLiteral("&Program"), QStringLiteral("Received &Log"),
                             QStringLiteral("&Interactive Mode")};
    const QStringList names{QStringLiteral("tab_4"), QStringLiteral("tab"), QStringLiteral("tab_3"),
                            QStringLiteral("tab_2")};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(tabs->tabText(i), titles.at(i));
        QCOMPARE(tabs->widget(i)->objectName(), names.at(i));
    }
    QCOMPARE(tabs->currentIndex(), 0);
    QVERIFY(tabs->isTabEnabled(0) && tabs->isTabEnabled(1) && tabs->isTabEnabled(2));
    QVERIFY(!tabs->isTabEnabled(3));
    for (const char *name : {"download", "edit", "del"})
        QVERIFY(!w.findChild<QPushButton *>(QLatin1String(name))->isEnabled());
    QVERIFY(!w.findChild<QPushButton *>(QStringLiteral("clear"))->autoDefault());
    QVERIFY(w.statusBar()->currentMessage().isEmpty());
    auto *log = w.findChild<QPlainTextEdit *>(QStringLiteral("log"));
    QVERIFY(log->isReadOnly());
    QCOMPARE(log->maximumBlockCount(), 512 * 1024);
    QCOMPARE(w.tcpReadBufferKB(), 8);
    QCOMPARE(log->font().pointSize(), 9);
    QVERIFY(!w.isModified());
    QCOMPARE(w.addressMode(), 1);
    unsigned char lo = 0, hi = 0;
    QVERIFY(!w.checkInteractiveID(128, &lo, &hi));
    QCOMPARE(int(lo), 128);
    QCOMPARE(int(hi), 255);
    QVERIFY(w.checkInteractiveID(127, nullptr, nullptr));
}

void TestMainWindow::interactivePageCannotBeSelected()
{
    Args a({"tarnix2-utility"});
    MainWindow w(a.argc(), a.argv.data());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QTabBar *bar = tabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(3).center());
    QCOMPARE(tabs->currentIndex(), 0);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
    QCOMPARE(tabs->currentIndex(), 2);
}

void TestMainWindow::versionFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("label");
    QTest::newRow("first line skipped, every v replaced") << QByteArray("x1\nversion 3\n")
                                                            << QStringLiteral("Versionersion 3");
    QTest::newRow("no line begins with v") << QByteArray("abc\nVersion 9\n 1.0\n") << QStringLiteral("Version 2.0.α");
    QTest::newRow("empty file") << QByteArray() << QStringLiteral("Version 2.0.α");
    QTest::newRow("first v line wins, CRLF") << QByteArray("v2.1 rev\r\nv3\r\n") << QStringLiteral("Version2.1 reVersion");
    QTest::newRow("binary junk") << QByteArray("\xff\xfe\x00v\x01", 5) << QStringLiteral("Version 2.0.α");
}

void TestMainWindow::versionFile()
{
    QFETCH(QByteArray, content);
    {
        QFile f(versionPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    Args a({"tarnix2-utility"});
    MainWindow w(a.argc(), a.argv.data());
    QTEST(w.findChild<QLabel *>(QStringLiteral("labelVersion"))->text(), "label");
}

void TestMainWindow::closeConfirmation()
{
    Args a({"tarnix2-utility"});
    {
        MainWindow w(a.argc(), a.argv.data());
        w.show();
        ModalAnswerer never(QMessageBox::Cancel, 300);
        QVERIFY(w.close());
        QTest::qWait(50);
        QVERIFY(!never.seen());
    }
    MainWindow w(a.argc(), a.argv.data());
    w.show();
    w.setModified(true);
    {
        ModalAnswerer cancel(QMessageBox::Cancel);
        QVERIFY(!w.close());
        QVERIFY(cancel.seen());
        QCOMPARE(cancel.title(), QString());
        QCOMPARE(cancel.text(), QStringLiteral("The settings has been modified.\nDo you want to discard your changes?"));
        QCOMPARE(cancel.buttons(), QMessageBox::Discard | QMessageBox::Cancel);
        QCOMPARE(cancel.defaultButton(), QMessageBox::Cancel);
        QCOMPARE(cancel.icon(), QMessageBox::Warning);
        QVERIFY(w.isVisible());
    }
    ModalAnswerer discard(QMessageBox::Discard);
    QVERIFY(w.close());
    QVERIFY(discard.seen());
    QVERIFY(!w.isVisible());
}

void TestMainWindow::logLimitFromCommandLine()
{
    {
        Args a({"tarnix2-utility", "-l", "2", "-s", "10", "-t", "0"});
        MainWindow w(a.argc(), a.argv.data());
        QCOMPARE(w.maxLogBlocks(), 2048);
        QCOMPARE(w.findChild<QPlainTextEdit *>(QStringLiteral("log"))->maximumBlockCount(), 2048);
        QCOMPARE(w.tcpReadBufferKB(), 0);
    }
    Args a({"tarnix2-utility", "-l", "1"});
    MainWindow w(a.argc(), a.argv.data());
    auto *log = w.findChild<QPlainTextEdit *>(QStringLiteral("log"));
    for (int i = 0; i < 1500; ++i) {
        QString line = QStringLiteral("line %1").arg(i);
        w.appendLog(&line);
        QVERIFY(line.isEmpty()); // handed back to the thread's pool
    }
    QCOMPARE(log->blockCount(), 1024);
    QVERIFY(log->toPlainText().startsWith(QStringLiteral("line 476\n")));
    QVERIFY(log->toPlainText().endsWith(QStringLiteral("line 1499")));
}

namespace {
struct Window
{
    Args args;
    MainWindow w;
    QTabWidget *tabs;
    QPushButton *connectButton;
    QPlainTextEdit *log;
    explicit Window(quint16 port, const QList<QByteArray> &more = {})
        : args(QList<QByteArray>{"tarnix2-utility", "-a", "127.0.0.1", "-s", "0"} + more), w(args.argc(), args.argv.data())
    {
        tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        connectButton = w.findChild<QPushButton *>(QStringLiteral("connect"));
        log = w.findChild<QPlainTextEdit *>(QStringLiteral("log"));
        w.findChild<QLineEdit *>(QStringLiteral("tcp"))->setText(QString::number(port));
    }
    QString status() const { return w.statusBar()->currentMessage(); }
    QColor base() const { return log->palette().color(QPalette::Base); }
};
} // namespace

void TestMainWindow::stateTable()
{
    ScriptedPeer peer;
    Window win(peer.port());
    const QColor initial = win.base();
    QCOMPARE(win.connectButton->text(), QStringLiteral("TCP\n&Connect"));

    win.connectButton->click();
    QCOMPARE(win.status(), QStringLiteral("Connecting..."));
    QVERIFY(!win.connectButton->isEnabled());
    QTRY_COMPARE(win.status(), QStringLiteral("connected"));
    QVERIFY(win.tabs->isTabEnabled(3));
    QCOMPARE(win.base(), QColor(Qt::white));
    QCOMPARE(win.connectButton->text(), QStringLiteral("Tcp\n&Disconnect"));
    QVERIFY(win.connectButton->isEnabled());
    QVERIFY(win.w.tcpThread());

    win.connectButton->click();
    QVERIFY(!win.w.tcpThread());
    QTRY_COMPARE(win.status(), QStringLiteral("disconnected"));
    QVERIFY(!win.tabs->isTabEnabled(3));
    QCOMPARE(win.base(), initial);
    QCOMPARE(win.connectButton->text(), QStringLiteral("Tcp\n&Connect"));
    QVERIFY(win.connectButton->isEnabled());

    // And once more: a new thread for a new connection.
    win.connectButton->click();
    QTRY_COMPARE(win.status(), QStringLiteral("connected"));
    QTRY_COMPARE(peer.connections(), 2);
}

void TestMainWindow::refusedConnectionState()
{
    quint16 port;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    Window win(port);
    const QColor initial = win.base();
    ModalAnswerer box;
    win.connectButton->click();
    QVERIFY(box.wait());
    QCOMPARE(box.title(), QStringLiteral("Tarnix Error"));
    QVERIFY(box.text().contains(QStringLiteral("refused"), Qt::CaseInsensitive));
    QCOMPARE(box.buttons(), QMessageBox::Ok);
    QTRY_VERIFY(win.connectButton->isEnabled());
    QVERIFY(win.status().isEmpty());
    QVERIFY(!win.tabs->isTabEnabled(3));
    QCOMPARE(win.base(), initial);
    QCOMPARE(win.connectButton->text(), QStringLiteral("TCP\n&Connect"));
}

void TestMainWindow::crcErrorWhileConnected()
{
    ScriptedPeer peer;
    Window win(peer.port());
    win.connectButton->click();
    QTRY_COMPARE(win.status(), QStringLiteral("connected"));
    QTRY_VERIFY(peer.hasClient());
    QByteArray bad = packet(0, 0, 0x2000, 5);
    bad[11] = char(bad[11] ^ 0xFF);
    ModalAnswerer box;
    peer.send(bad);
    QVERIFY(box.wait());
    QCOMPARE(box.title(), QStringLiteral("Tarnix Error"));
    QCOMPARE(box.text(), QStringLiteral("CRC error"));
    QTRY_COMPARE(win.status(), QStringLiteral("disconnected"));
    QVERIFY(!win.tabs->isTabEnabled(3));
    QCOMPARE(win.connectButton->text(), QStringLiteral("Tcp\n&Connect"));
}

void TestMainWindow::twoQuickConnects()
{
    ScriptedPeer peer;
    Window win(peer.port());
    win.w.connectTcp(QStringLiteral("127.0.0.1"), peer.port());
    QTcpThread *first = win.w.tcpThread();
    QPointer<QTcpThread> guard(first);
    win.w.connectTcp(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(guard.isNull()); // the first thread was stopped and destroyed before the second was made
    QVERIFY(win.w.tcpThread());
    QTRY_VERIFY(win.w.tcpThread()->isConnected());
    QTRY_COMPARE(win.status(), QStringLiteral("connected"));
    QTRY_VERIFY(win.tabs->isTabEnabled(3));
}

void TestMainWindow::reportsReachTheLog()
{
    ScriptedPeer peer;
    Window win(peer.port());
    win.connectButton->click();
    QTRY_COMPARE(win.status(), QStringLiteral("connected"));
    QTRY_VERIFY(peer.hasClient());
    peer.send(packet(0x1000, 0x50050004, 0x0A00, 5, QByteArray::fromHex("deadbeef")));
    const QString sep(63, QLatin1Char('-'));
    QTRY_VERIFY(win.log->toPlainText().contains(QStringLiteral("[0x00001000]:de ad be ef ")));
    const QString expected = sep + QStringLiteral("\nAddress : 0x00001000\nLength : 1\nPriority Level : 2 (Polling)\n"
                                                  "Flow ID : 5\nMode : 0x0a00(Read D32)\nID : 0x05\n") +
                             sep + QStringLiteral("\n[0x00001000]:de ad be ef \n") + sep + QStringLiteral("\n");
    QCOMPARE(win.log->toPlainText(), expected);
}

void TestMainWindow::logCompleteWhenDisconnected()
{
    // -l 0: every report is a log string of its own, so many wait for the window at once. When
    // the module closes, the window says "disconnected" only with every report in the log.
    ScriptedPeer peer;
    Window win(peer.port(), {"-l", "0"});
    int reportsAtDisconnect = -1;
    QObject::connect(win.w.statusBar(), &QStatusBar::messageChanged, [&](const QString &m) {
        if (m == QLatin1String("disconnected"))
            reportsAtDisconnect = int(win.log->toPlainText().count(QStringLiteral("ID : 0x05")));
    });
    win.connectButton->click();
    QTRY_COMPARE(win.status(), QStringLiteral("connected"));
    QTRY_VERIFY(peer.hasClient());
    QByteArray burst;
    for (int k = 0; k < 40; ++k)
        burst += packet(0x1000, 0x10000004, 0x0A00, 5, QByteArray(4, char(k)));
    ModalAnswerer box; // the module's close is reported
    peer.send(burst);
    peer.closeClient();
    QThread::msleep(300); // the window is busy meanwhile
    QTRY_VERIFY_WITH_TIMEOUT(reportsAtDisconnect >= 0, 10000);
    QVERIFY(box.seen());
    QCOMPARE(box.title(), QStringLiteral("Tarnix Error"));
    QCOMPARE(reportsAtDisconnect, 40);
}

void TestMainWindow::saveLog()
{
    QTemporaryDir dir;
    Args a({"tarnix2-utility"});
    MainWindow w(a.argc(), a.argv.data());
    auto *button = w.findChild<QPushButton *>(QStringLiteral("saveLog"));

    const QString empty = dir.filePath(QStringLiteral("empty.log"));
    answerFileDialog(empty);
    button->click();
    QFile e(empty);
    QVERIFY(e.open(QIODevice::ReadOnly));
    QCOMPARE(e.readAll(), QByteArray());

    QString text = QStringLiteral("Grüße\n★ 1");
    w.appendLog(&text);
    QString more = QStringLiteral("end");
    w.appendLog(&more);
    const QString path = dir.filePath(QStringLiteral("report.log"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("previous content that is longer than the log");
    }
    answerFileDialog(path);
    button->click();
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("Gr\xfc\xdf" "e\n? 1\nend"));

    // Clear empties the log.
    w.findChild<QPushButton *>(QStringLiteral("clear"))->click();
    QVERIFY(w.findChild<QPlainTextEdit *>(QStringLiteral("log"))->toPlainText().isEmpty());
}

void TestMainWindow::saveLogMissingDirectory()
{
    QTemporaryDir dir;
    Args a({"tarnix2-utility"});
    MainWindow w(a.argc(), a.argv.data());
    const QString path = dir.filePath(QStringLiteral("missing/sub/report.log"));
    answerFileDialog(path);
    ModalAnswerer box;
    w.findChild<QPushButton *>(QStringLiteral("saveLog"))->click();
    QVERIFY(box.wait());
    QCOMPARE(box.title(), QStringLiteral("File save"));
    QVERIFY2(box.text().startsWith(QLatin1Char('"') + path + QStringLiteral("\": Can't open file for writing\n")),
             qPrintable(box.text()));
    QVERIFY(box.text().endsWith(QLatin1Char('.')));
}

void TestMainWindow::programIdBookkeeping()
{
    Args a({"tarnix2-utility"});
    MainWindow w(a.argc(), a.argv.data());
    for (unsigned char id = 0; id < 127; ++id)
        QVERIFY(w.setID(id, true));
    unsigned char id = 0;
    QVERIFY(w.getFreeID(id));
    QCOMPARE(int(id), 127);
    QVERIFY(!w.checkID(128)); // inside the interactive range
    QVERIFY(w.setID(127, true));
    QVERIFY(!w.getFreeID(id)); // from 128: skips the range, looks at 0..127 once, then gives up
    QVERIFY(w.setID(127, false));
    QVERIFY(!w.setID(127, false));
    QVERIFY(w.getFreeID(id));
    QCOMPARE(int(id), 127);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
