#include "bytes.h"
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
    void crc_data();
    void crc();
    void packets_data();
    void packets();
    void decode_data();
    void decode();
    void encodeFromLists_data();
    void encodeFromLists();
    void shortArrayChangesNothing();
};

void TestModeWord::crc_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("crc");
    QTest::newRow("123456789") << QByteArray("123456789") << 0xFB;
    QTest::newRow("abc") << QByteArray("abc") << 0x74;
    QTest::newRow("empty") << QByteArray() << 0xFF;
    // The running value after each byte of the worked read header.
    const QByteArray h = hex("00001000 00000004 0a00 80");
    const QByteArray steps = hex("f3 d7 5b 86 9b c8 76 59 be 33 10");
    for (int i = 0; i < h.size(); ++i)
        QTest::addRow("worked header, %d bytes", i + 1) << h.left(i + 1) << int(quint8(steps.at(i)));
}

void TestModeWord::crc()
{
    QFETCH(QByteArray, bytes);
    quint8 c = 0xFF;
    for (char b : bytes)
        c = QTcpThread::crcCal(c, quint8(b));
    QTEST(int(c), "crc");
}

void TestModeWord::packets_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<quint32>("length");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("id");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<int>("dataSize"); // of a response with this header
    QTest::newRow("read of one D32 item at 0x1000, A32, User Data")
        << 0x1000u << 4u << 0x0A00 << 0x80 << QByteArray() << hex("00001000 00000004 0a00 80 10") << 4;
    QTest::newRow("write: its data follows the header")
        << 0x1000u << 4u << 0x8A00 << 0x80 << hex("deadbeef") << hex("00001000 00000004 8a00 80 1b deadbeef") << 0;
    QTest::newRow("every field big-endian")
        << 0x12345678u << 0x500501FFu << 0x0A00 << 5 << QByteArray() << hex("12345678 500501ff 0a00 05 bb") << 255;
}

void TestModeWord::packets()
{
    TarnixCmd cmd;
    QFETCH(QByteArray, packet);
    QFETCH(quint32, address);
    QFETCH(quint32, length);
    QFETCH(int, mode);
    QFETCH(int, id);
    QFETCH(QByteArray, data);
    cmd.address = address;
    cmd.length = length;
    cmd.mode = quint16(mode);
    cmd.id = quint8(id);
    cmd.data = data;
    QCOMPARE(cmd.toPacket(), packet);
    QCOMPARE(int(cmd.crc), int(quint8(packet.at(11))));

    // Read back, the header gives the same fields.
    const kelvo_vme_master_header h = KelvoPacket::readHeader(reinterpret_cast<const uchar *>(packet.constData()));
    QCOMPARE(h.address, cmd.address);
    QCOMPARE(h.length, cmd.length);
    QCOMPARE(h.mode, cmd.mode);
    QCOMPARE(h.id, cmd.id);
    QCOMPARE(h.crc, cmd.crc);
    QTEST(KelvoPacket::responseDataSize(h), "dataSize");
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
    QTest::addColumn<int>("encoded"); // the word of the decoded fields
    QTest::addColumn<bool>("carries"); // a response or report carries data
    QTest::newRow("INTR 0x2830") << 0x2830 << true << false << true << 2 << 0 << 10 << 0x2830 << false;
    QTest::newRow("write echo 0xC540") << 0xC540 << false << true << false << 1 << 1 << 3 << 0xC540 << true;
    QTest::newRow("write no data echo 0x8540") << 0x8540 << false << false << false << 1 << 1 << 3 << 0x8540 << false;
    QTest::newRow("write no echo 0xA000") << 0xA000 << false << false << true << 0 << 0 << 0 << 0xA000 << false;
    QTest::newRow("read no echo 0x2A00") << 0x2A00 << true << false << true << 2 << 2 << 0 << 0x2A00 << false;
    QTest::newRow("read D32 A32 0x0A00") << 0x0A00 << true << false << false << 2 << 2 << 0 << 0x0A00 << true;
    QTest::newRow("status bits ignored 0x0A05") << 0x0A05 << true << false << false << 2 << 2 << 0 << 0x0A00 << true;
    QTest::newRow("bit 12 ignored 0x1A0F") << 0x1A0F << true << false << false << 2 << 2 << 0 << 0x0A00 << true;
    QTest::newRow("fixed sup prog 0x00D0") << 0x00D0 << true << false << false << 0 << 0 << 9 << 0x00D0 << true;
    QTest::newRow("sup BLT 0x0160") << 0x0160 << true << false << false << 0 << 1 << 5 << 0x0160 << true;
    QTest::newRow("fixed user data 0x0880") << 0x0880 << true << false << false << 2 << 0 << 6 << 0x0880 << true;
    QTest::newRow("data mode 3 kept") << 0x0F00 << true << false << false << 3 << 3 << 0 << 0x0F00 << true;
    for (int code : {0x7, 0xA, 0xB, 0xE, 0xF})
        QTest::addRow("code %X gives INTR", code)
            << (0xCA00 | (code << 4)) << false << true << false << 2 << 2 << -1 << 0x2830 << true;
}

void TestModeWord::decode()
{
    QFETCH(int, word);
    VmeInstruction a;
    a.getMode(quint16(word));
    VmeInstruction b;
    b.getMode(quint8(word >> 8), quint8(word));
    VmeInstruction c;
    QVERIFY(c.getMode(QByteArray(1, char(word >> 8)) + char(word)));
    for (const VmeInstruction *x : {&a, &b, &c}) {
        QTEST(x->read, "read");
        QTEST(x->echo, "echo");
        QTEST(x->noEcho, "noEcho");
        QTEST(x->dataMode, "dataMode");
        QTEST(x->addressMode, "addressMode");
        QTEST(x->accessMode, "accessMode");
        QTEST(int(x->mode()), "encoded");
    }
    QByteArray out("x");
    a.setMode(out);
    QFETCH(int, encoded);
    QCOMPARE(out, QByteArray("x") + char(encoded >> 8) + char(encoded));
    QTEST(VmeModeWord::isEcho(quint16(word)), "carries");
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
    QTest::newRow("index beyond table gives code 0") << 0 << 2 << 2 << 11 << 0x0A00;
    // Every entry of the access-mode table, in list order.
    const int codes[] = {0x0, 0x1, 0x2, 0x4, 0x5, 0x6, 0x8, 0x9, 0xC, 0xD, 0x3};
    for (int i = 0; i < 11; ++i)
        QTest::addRow("read D8 A32 access %d", i) << 0 << 0 << 2 << i << (0x0200 | codes[i] << 4);
}

void TestModeWord::encodeFromLists()
{
    QFETCH(int, rw);
    // Flags as the read/write list sets them.
    static const bool bits[5][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 0, 1}, {0, 0, 1}};
    VmeInstruction ins;
    ins.read = !bits[rw][0];
    ins.echo = bits[rw][1];
    ins.noEcho = bits[rw][2];
    QFETCH(int, data);
    QFETCH(int, addr);
    QFETCH(int, access);
    ins.dataMode = data;
    ins.addressMode = addr;
    ins.accessMode = access;
    QTEST(int(ins.mode()), "word");
}

void TestModeWord::shortArrayChangesNothing()
{
    VmeInstruction ins;
    ins.getMode(quint16(0xC540));
    QVERIFY(!ins.getMode(QByteArray(1, '\0')));
    QVERIFY(!ins.getMode(QByteArray()));
    QCOMPARE(ins.mode(), quint16(0xC540));
    QCOMPARE(ins.accessMode, 3);
}

QTEST_APPLESS_MAIN(TestModeWord)
#include "tst_modeword.moc"
