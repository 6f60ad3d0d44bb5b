#include "modeword.h"
#include "packet.h"
#include "tarnixcmd.h"
#include "tcpthread.h"
#include "vmeinstruction.h"

#include <QtTest>

class TestModeWord : public QObject
{
    Q_OBJECT
private slots:
    void crcCheckValues_data();
    void crcCheckValues();
    void workedPacket();
    void crcStepsOfWorkedHeader();
    void decode_data();
    void decode();
    void encodeUndefinedCodeGivesIntr_data();
    void encodeUndefinedCodeGivesIntr();
    void encodeFromLists_data();
    void encodeFromLists();
    void isEcho_data();
    void isEcho();
    void getModeShortArray();
    void setModeAppendsBigEndian();
    void headerRoundTrip();
    void headerLengthFields();
    void accessTableAndLabels();
};

void TestModeWord::crcCheckValues_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("crc");
    QTest::newRow("123456789") << QByteArray("123456789") << 0xFB;
    QTest::newRow("abc") << QByteArray("abc") << 0x74;
    QTest::newRow("empty") << QByteArray() << 0xFF;
}

void TestModeWord::crcCheckValues()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, crc);
    quint8 c = 0xFF;
    for (char b : bytes)
        c = QTcpThread::crcCal(c, quint8(b));
    QCOMPARE(int(c), crc);
}

void TestModeWord::workedPacket()
{
    // Read of one D32 item at 0x1000, A32, User Data, ID 0x80.
    VmeInstruction ins;
    ins.read = true;
    ins.dataMode = 2;
    ins.addressMode = 2;
    ins.accessMode = 0;
    QCOMPARE(ins.mode(), quint16(0x0A00));

    TarnixCmd cmd;
    cmd.address = 0x1000;
    cmd.length = 4;
    cmd.mode = ins.mode();
    cmd.id = 0x80;
    QCOMPARE(cmd.toPacket(), QByteArray::fromHex("00001000000000040a008010"));
    QCOMPARE(int(cmd.crc), 0x10);

    // With write data the data follows the header directly.
    cmd.mode = 0x8A00;
    cmd.data = QByteArray::fromHex("deadbeef");
    const QByteArray p = cmd.toPacket();
    QCOMPARE(p.size(), 16);
    QCOMPARE(p.mid(12), cmd.data);
    QCOMPARE(quint8(p.at(11)), KelvoPacket::headerCrc(reinterpret_cast<const uchar *>(p.constData())));
}

void TestModeWord::crcStepsOfWorkedHeader()
{
    const QByteArray h = QByteArray::fromHex("00001000000000040a0080");
    const QByteArray steps = QByteArray::fromHex("f3d75b869bc87659be3310");
    quint8 c = 0xFF;
    for (int i = 0; i < h.size(); ++i) {
        c = QTcpThread::crcCal(c, quint8(h.at(i)));
        QCOMPARE(int(c), int(quint8(steps.at(i))));
    }
}

void TestModeWord::decode_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<bool>("read");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<bool>("noEcho");
    QTest::addColumn<int>("dataMode");
    QTest::addColumn<int>("addressMode");
    QTest::addColumn<int>("accessMode");
    QTest::newRow("INTR 0x2830") << 0x2830 << true << false << true << 2 << 0 << 10;
    QTest::newRow("write echo 0xC540") << 0xC540 << false << true << false << 1 << 1 << 3;
    QTest::newRow("read D32 A32 0x0A00") << 0x0A00 << true << false << false << 2 << 2 << 0;
    QTest::newRow("status bits ignored 0x0A05") << 0x0A05 << true << false << false << 2 << 2 << 0;
    QTest::newRow("status all 0x0A0F") << 0x0A0F << true << false << false << 2 << 2 << 0;
    QTest::newRow("bit 12 ignored 0x1A00") << 0x1A00 << true << false << false << 2 << 2 << 0;
    QTest::newRow("fixed sup prog 0x00D0") << 0x00D0 << true << false << false << 0 << 0 << 9;
    QTest::newRow("code 0x7") << 0x0070 << true << false << false << 0 << 0 << -1;
    QTest::newRow("code 0xA") << 0x00A0 << true << false << false << 0 << 0 << -1;
    QTest::newRow("code 0xB") << 0x00B0 << true << false << false << 0 << 0 << -1;
    QTest::newRow("code 0xE") << 0x00E0 << true << false << false << 0 << 0 << -1;
    QTest::newRow("code 0xF") << 0x00F0 << true << false << false << 0 << 0 << -1;
    QTest::newRow("data mode 3 kept") << 0x0F00 << true << false << false << 3 << 3 << 0;
}

void TestModeWord::decode()
{
    QFETCH(int, word);
    VmeInstruction a;
    a.getMode(quint16(word));
    QTEST(a.read, "read");
    QTEST(a.echo, "echo");
    QTEST(a.noEcho, "noEcho");
    QTEST(a.dataMode, "dataMode");
    QTEST(a.addressMode, "addressMode");
    QTEST(a.accessMode, "accessMode");

    // The byte forms decode alike.
    VmeInstruction b;
    b.getMode(quint8(word >> 8), quint8(word));
    VmeInstruction c;
    QVERIFY(c.getMode(QByteArray::fromHex(QByteArray::number(word, 16).rightJustified(4, '0'))));
    for (const VmeInstruction *x : {&b, &c}) {
        QCOMPARE(x->read, a.read);
        QCOMPARE(x->echo, a.echo);
        QCOMPARE(x->noEcho, a.noEcho);
        QCOMPARE(x->dataMode, a.dataMode);
        QCOMPARE(x->addressMode, a.addressMode);
        QCOMPARE(x->accessMode, a.accessMode);
    }
}

void TestModeWord::encodeUndefinedCodeGivesIntr_data()
{
    QTest::addColumn<int>("word");
    for (int code : {0x7, 0xA, 0xB, 0xE, 0xF})
        QTest::addRow("code %x", code) << (0xCA00 | (code << 4));
    QTest::newRow("INTR itself") << 0x2830;
}

void TestModeWord::encodeUndefinedCodeGivesIntr()
{
    QFETCH(int, word);
    VmeInstruction ins;
    ins.getMode(quint16(word));
    QCOMPARE(ins.mode(), quint16(0x2830));
}

void TestModeWord::encodeFromLists_data()
{
    QTest::addColumn<int>("rw");
    QTest::addColumn<int>("data");
    QTest::addColumn<int>("addr");
    QTest::addColumn<int>("access");
    QTest::addColumn<int>("word");
    QTest::newRow("write echo D16 A24 sup data") << 2 << 1 << 1 << 3 << 0xC540;
    QTest::newRow("write no data echo") << 1 << 1 << 1 << 3 << 0x8540;
    QTest::newRow("write no echo") << 3 << 0 << 0 << 0 << 0xA000;
    QTest::newRow("read no echo D32 A16 INTR") << 4 << 2 << 0 << 10 << 0x2830;
    QTest::newRow("read D8 A32 user BLT") << 0 << 0 << 2 << 2 << 0x0220;
    QTest::newRow("index beyond table gives code 0") << 0 << 2 << 2 << 11 << 0x0A00;
}

void TestModeWord::encodeFromLists()
{
    QFETCH(int, rw);
    QFETCH(int, data);
    QFETCH(int, addr);
    QFETCH(int, access);
    QFETCH(int, word);
    // Flags as the read/write list sets them.
    static const bool bits[5][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 0, 1}, {0, 0, 1}};
    VmeInstruction ins;
    ins.read = !bits[rw][0];
    ins.echo = bits[rw][1];
    ins.noEcho = bits[rw][2];
    ins.dataMode = data;
    ins.addressMode = addr;
    ins.accessMode = access;
    QCOMPARE(ins.mode(), quint16(word));
}

void TestModeWord::isEcho_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<bool>("echo");
    QTest::newRow("0x0A00 read") << 0x0A00 << true;
    QTest::newRow("0x2A00 read no echo") << 0x2A00 << false;
    QTest::newRow("0xC540 write echo") << 0xC540 << true;
    QTest::newRow("0x8540 write no data echo") << 0x8540 << false;
    QTest::newRow("0xA000 write no echo") << 0xA000 << false;
    QTest::newRow("0x2830 INTR") << 0x2830 << false;
}

void TestModeWord::isEcho()
{
    QFETCH(int, word);
    QTEST(VmeModeWord::isEcho(quint16(word)), "echo");
}

void TestModeWord::getModeShortArray()
{
    VmeInstruction ins;
    ins.getMode(quint16(0xC540));
    QVERIFY(!ins.getMode(QByteArray(1, '\0')));
    QVERIFY(!ins.getMode(QByteArray()));
    QCOMPARE(ins.mode(), quint16(0xC540));
    QCOMPARE(ins.accessMode, 3);
}

void TestModeWord::setModeAppendsBigEndian()
{
    VmeInstruction ins;
    ins.getMode(quint16(0xC540));
    QByteArray out("x");
    ins.setMode(out);
    QCOMPARE(out, QByteArray::fromHex("78c540"));
}

void TestModeWord::headerRoundTrip()
{
    kelvo_vme_master_header h;
    h.address = 0x12345678;
    h.length = 0x50050004;
    h.mode = 0x0A00;
    h.id = 5;
    QByteArray out;
    KelvoPacket::appendHeader(h, out);
    QCOMPARE(out.size(), 12);
    QCOMPARE(out.left(11), QByteArray::fromHex("12345678500500040a0005"));
    const auto *raw = reinterpret_cast<const uchar *>(out.constData());
    const kelvo_vme_master_header r = KelvoPacket::readHeader(raw);
    QCOMPARE(r.address, h.address);
    QCOMPARE(r.length, h.length);
    QCOMPARE(r.mode, h.mode);
    QCOMPARE(r.id, h.id);
    QCOMPARE(r.crc, h.crc);
    QCOMPARE(r.crc, KelvoPacket::headerCrc(raw));
}

void TestModeWord::headerLengthFields()
{
    const quint32 len = 0x50050004;
    QCOMPARE(KelvoPacket::dataLength(len), 4u);
    QCOMPARE(KelvoPacket::flowId(len), 5u);
    QVERIFY(KelvoPacket::isPolling(len));
    QCOMPARE(KelvoPacket::priorityLevel(len), 2u);
    QCOMPARE(KelvoPacket::priorityLevel(0xE0000000u), 7u);
    QCOMPARE(KelvoPacket::flowId(0x0FFF0000u), 0xFFFu);
    QVERIFY(!KelvoPacket::isPolling(0xEFFFFFFFu));

    kelvo_vme_master_header h;
    h.length = 0x000001FF; // bits 15-8 are not part of the data length
    h.mode = 0x0A00;
    QCOMPARE(KelvoPacket::responseDataSize(h), 255);
    h.mode = 0x2A00;
    QCOMPARE(KelvoPacket::responseDataSize(h), 0);
}

void TestModeWord::accessTableAndLabels()
{
    const quint8 codes[] = {0x0, 0x1, 0x2, 0x4, 0x5, 0x6, 0x8, 0x9, 0xC, 0xD, 0x3};
    for (int i = 0; i < 11; ++i)
        QCOMPARE(VmeModeWord::AccessMode[i], codes[i]);
    QCOMPARE(VmeModeWord::accessModeLabels().size(), 11);
    QCOMPARE(VmeModeWord::accessModeLabels().at(8), QStringLiteral("Fixed Address and Supervisor Data"));
    QCOMPARE(VmeModeWord::readWriteLabels().at(3), QStringLiteral("Write(No Echo)"));
}

QTEST_APPLESS_MAIN(TestModeWord)
#include "tst_modeword.moc"
