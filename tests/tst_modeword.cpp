#include "bytes.h"
#include "modeword.h"
#include "packet.h"
#include "tarnixcmd.h"
#include "tcpthread.h"
#include "vmeinstruction.h"

#include <QtTest>

namespace {

// "r-n D2 A0 #10": read or write, echo, no echo, data mode, address mode and access index.
QString fields(const VmeModeWord &m)
{
    return QStringLiteral("%1%2%3 D%4 A%5 #%6")
        .arg(QLatin1Char(m.read ? 'r' : 'w'))
        .arg(QLatin1Char(m.echo ? 'e' : '-'))
        .arg(QLatin1Char(m.noEcho ? 'n' : '-'))
        .arg(m.dataMode)
        .arg(m.addressMode)
        .arg(m.accessMode);
}

} // namespace

class TestModeWord : public QObject
{
    Q_OBJECT
private slots:
    void crc_data()
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
    void crc()
    {
        QFETCH(QByteArray, bytes);
        quint8 c = 0xFF;
        for (char b : bytes)
            c = QTcpThread::crcCal(c, quint8(b));
        QTEST(int(c), "crc");
    }

    void packets_data()
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
    void packets()
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
        QCOMPARE((QList<quint32>{h.address, h.length, h.mode, h.id, h.crc}),
                 (QList<quint32>{address, length, quint32(mode), quint32(id), quint8(packet.at(11))}));
        QTEST(KelvoPacket::responseDataSize(h), "dataSize");
    }

    // Each word decoded three ways, the word the fields give back, and whether a response or
    // report with it carries data.
    void decode_data()
    {
        QTest::addColumn<int>("word");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<int>("encoded");
        QTest::addColumn<bool>("carries");
        QTest::newRow("INTR") << 0x2830 << "r-n D2 A0 #10" << 0x2830 << false;
        QTest::newRow("write echo") << 0xC540 << "we- D1 A1 #3" << 0xC540 << true;
        QTest::newRow("write no data echo") << 0x8540 << "w-- D1 A1 #3" << 0x8540 << false;
        QTest::newRow("write no echo") << 0xA000 << "w-n D0 A0 #0" << 0xA000 << false;
        QTest::newRow("read no echo") << 0x2A00 << "r-n D2 A2 #0" << 0x2A00 << false;
        QTest::newRow("read D32 A32") << 0x0A00 << "r-- D2 A2 #0" << 0x0A00 << true;
        QTest::newRow("status bits ignored") << 0x0A05 << "r-- D2 A2 #0" << 0x0A00 << true;
        QTest::newRow("bit 12 ignored") << 0x1A0F << "r-- D2 A2 #0" << 0x0A00 << true;
        QTest::newRow("data mode 3 kept") << 0x0F00 << "r-- D3 A3 #0" << 0x0F00 << true;
        // Every entry of the access-mode table, in list order.
        const int codes[] = {0x0, 0x1, 0x2, 0x4, 0x5, 0x6, 0x8, 0x9, 0xC, 0xD, 0x3};
        for (int i = 0; i < 11; ++i)
            QTest::addRow("access %d", i) << (0x0600 | codes[i] << 4) << QStringLiteral("r-- D1 A2 #%1").arg(i)
                                          << (0x0600 | codes[i] << 4) << true;
        for (int code : {0x7, 0xA, 0xB, 0xE, 0xF})
            QTest::addRow("code %X gives INTR", code) << (0xCA00 | (code << 4)) << "we- D2 A2 #-1" << 0x2830 << true;
    }
    void decode()
    {
        QFETCH(int, word);
        QFETCH(int, encoded);
        VmeInstruction a, b, c;
        a.getMode(quint16(word));
        b.getMode(quint8(word >> 8), quint8(word));
        QVERIFY(c.getMode(QByteArray(1, char(word >> 8)) + char(word)));
        // Fewer than two bytes change nothing.
        QVERIFY(!c.getMode(QByteArray(1, '\0')) && !c.getMode(QByteArray()));
        for (const VmeInstruction *x : {&a, &b, &c}) {
            QTEST(fields(*x), "fields");
            QCOMPARE(int(x->mode()), encoded);
        }
        QByteArray out("x");
        a.setMode(out);
        QCOMPARE(out, QByteArray("x") + char(encoded >> 8) + char(encoded));
        QTEST(VmeModeWord::isEcho(quint16(word)), "carries");
        a.accessMode = VmeModeWord::AccessModeCount; // an index past the table gives code 0
        QCOMPARE(a.mode() & 0xF0, 0);
    }
};

QTEST_APPLESS_MAIN(TestModeWord)
#include "tst_modeword.moc"
