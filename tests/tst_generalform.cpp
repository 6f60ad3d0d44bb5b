#include "generalform.h"
#include "cmdargs.h"
#include "modalanswerer.h"
#include "namedchild.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryFile>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

namespace {

// Captures what is written to standard output (the file descriptor itself) while alive.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        file.open();
        std::fflush(stdout);
        saved = ::dup(1);
        ::dup2(file.handle(), 1);
    }
    QByteArray take()
    {
        std::fflush(stdout);
        ::dup2(saved, 1);
        ::close(saved);
        saved = -1;
        file.seek(0);
        return file.readAll();
    }
    ~StdoutCapture()
    {
        if (saved >= 0)
            take();
    }

private:
    QTemporaryFile file;
    int saved = -1;
};

const QByteArray UsageTail = " \\ \n [-a <Target address: 192.168.10.16>]"
                             " \\ \n [-l <Max block size of Log: 512(*1024)>]"
                             " \\ \n [-t <TcpSocket's internal read buffer: 8(kbytes)>]"
                             " \\ \n [-r <Max read request size: 1024(bytes)>]"
                             " \\ \n [-s <Sleep time: 40(ms)>]\n";

} // namespace

class TestGeneralForm : public QObject
{
    Q_OBJECT
private slots:
    void commandLine_data();
    void commandLine();
    void connectTarget_data();
    void connectTarget();
    void connectButtonFaces();
    void idRangeEditing();
    void setDefault();
};

void TestGeneralForm::commandLine_data()
{
    QTest::addColumn<QList<QByteArray>>("args");
    QTest::addColumn<QList<int>>("values"); // logSize, readBufferSize, readRequestSize, sleepTime
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("usage");
    const QString dflt = QStringLiteral("192.168.10.16");
    QTest::newRow("none") << QList<QByteArray>{} << QList<int>{512, 8, 1024, 40} << dflt << false;
    QTest::newRow("-l 2 -s 10") << QList<QByteArray>{"-l", "2", "-s", "10"} << QList<int>{2, 8, 1024, 10} << dflt << false;
    QTest::newRow("all, no range checks") << QList<QByteArray>{"-t", "0", "-r", "-5", "-l0", "-s", "0"}
                                          << QList<int>{0, 0, -5, 0} << dflt << false;
    QTest::newRow("-l abc") << QList<QByteArray>{"-l", "abc"} << QList<int>{512, 8, 1024, 40} << dflt << true;
    QTest::newRow("-h then undefined -x") << QList<QByteArray>{"-h", "-x"} << QList<int>{512, 8, 1024, 40} << dflt
                                          << true;
    QTest::newRow("-?") << QList<QByteArray>{"-?"} << QList<int>{512, 8, 1024, 40} << dflt << true;
    QTest::newRow("missing argument") << QList<QByteArray>{"-s"} << QList<int>{512, 8, 1024, 40} << dflt << true;
    QTest::newRow("-a IPv4") << QList<QByteArray>{"-a", "10.0.0.5"} << QList<int>{512, 8, 1024, 40}
                             << QStringLiteral("10.0.0.5") << false;
    QTest::newRow("-a IPv6") << QList<QByteArray>{"-a", "::1"} << QList<int>{512, 8, 1024, 40}
                             << QStringLiteral("::1") << false;
    QTest::newRow("-a nonsense") << QList<QByteArray>{"-a", "nonsense"} << QList<int>{512, 8, 1024, 40} << dflt
                                 << false;
    QTest::newRow("non-options ignored") << QList<QByteArray>{"file", "-s", "7"} << QList<int>{512, 8, 1024, 7}
                                         << dflt << false;
}

void TestGeneralForm::commandLine()
{
    QFETCH(QList<QByteArray>, args);
    QFETCH(QList<int>, values);
    QFETCH(bool, usage);
    QList<QByteArray> words{"/opt/tarnix/tarnix2-utility"};
    words += args;
    Args a(words);
    GeneralForm f;
    StdoutCapture out;
    f.setParam(a.argc(), a.argv.data());
    const QByteArray printed = out.take();
    QCOMPARE((QList<int>{f.logSize, f.readBufferSize, f.readRequestSize, f.sleepTime}), values);
    QTEST(child<QLineEdit>(f, "address")->text(), "address");
    QCOMPARE(printed, usage ? QByteArray("Usage: /opt/tarnix/tarnix2-utility") + UsageTail : QByteArray());
}

// The target's checks, each refusal with its exact message (the button works again at once); an
// accepted target goes out in the form the connection reads only one way.
void TestGeneralForm::connectTarget_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("message"); // empty: accepted
    QTest::addColumn<QString>("target");
    const QString portMsg = QStringLiteral("Invalid TCP Port Number: %1\nThe port has to be a value from 1 to 65535");
    QTest::newRow("0.0.0.0") << "0.0.0.0" << "24" << "0.0.0.0 is an invalid address." << "";
    QTest::newRow("host name") << "localhost" << "24" << "localhost is an invalid address." << "";
    QTest::newRow("IPv6") << "::1" << "24" << "::1 is an invalid address." << "";
    QTest::newRow("shorthand") << "192.168.1016" << "24" << "192.168.1016 is an invalid address." << "";
    QTest::newRow("empty") << "" << "24" << " is an invalid address." << "";
    QTest::newRow("port 0") << "127.0.0.1" << "0" << portMsg.arg(QStringLiteral("0")) << "";
    QTest::newRow("port 65536") << "127.0.0.1" << "65536" << portMsg.arg(QStringLiteral("65536")) << "";
    QTest::newRow("port -1") << "127.0.0.1" << "-1" << portMsg.arg(QStringLiteral("-1")) << "";
    QTest::newRow("port letters") << "127.0.0.1" << "abc" << portMsg.arg(QStringLiteral("abc")) << "";
    QTest::newRow("port empty") << "127.0.0.1" << "" << portMsg.arg(QString()) << "";
    QTest::newRow("port hex") << "127.0.0.1" << "0x18" << portMsg.arg(QStringLiteral("0x18")) << "";
    QTest::newRow("port 1") << "127.0.0.1" << "1" << "" << "127.0.0.1";
    QTest::newRow("port 65535, leading zeros") << "010.000.000.001" << "65535" << "" << "10.0.0.1";
}

void TestGeneralForm::connectTarget()
{
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, message);
    QFETCH(QString, target);
    GeneralForm f;
    child<QLineEdit>(f, "address")->setText(address);
    child<QLineEdit>(f, "tcp")->setText(port);
    QSignalSpy spy(&f, &GeneralForm::connectTcp);
    for (int attempt = 0; attempt < (message.isEmpty() ? 1 : 2); ++attempt) {
        ModalAnswerer box;
        child<QPushButton>(f, "connect")->click();
        QCOMPARE(box.seen() ? box.text() : QString(), message);
        QCOMPARE(box.title(), QString());
        QCOMPARE(child<QPushButton>(f, "connect")->isEnabled(), !message.isEmpty());
    }
    QCOMPARE(spy.count(), message.isEmpty() ? 1 : 0);
    if (!spy.isEmpty())
        QCOMPARE(spy.at(0), (QList<QVariant>{target, QVariant::fromValue(quint16(port.toUInt()))}));
}

void TestGeneralForm::connectButtonFaces()
{
    GeneralForm f;
    auto *button = child<QPushButton>(f, "connect");
    f.setConnect(false);
    f.setEnabledConnect(true);
    QCOMPARE(button->text(), QStringLiteral("Tcp\n&Disconnect"));
    QSignalSpy disconnectSpy(&f, &GeneralForm::disconnectTCP);
    QSignalSpy connectSpy(&f, &GeneralForm::connectTcp);
    button->click();
    QCOMPARE(disconnectSpy.count(), 1);
    QCOMPARE(connectSpy.count(), 0);
    QVERIFY(!button->isEnabled());
    f.setConnect(true);
    QCOMPARE(button->text(), QStringLiteral("Tcp\n&Connect"));
}

void TestGeneralForm::idRangeEditing()
{
    GeneralForm f;
    auto *minID = child<QSpinBox>(f, "minID");
    auto *maxID = child<QSpinBox>(f, "maxID");
    maxID->setValue(200);
    emit maxID->editingFinished();
    minID->setValue(250);
    QCOMPARE(minID->value(), 200);
    minID->setValue(10);
    emit minID->editingFinished();
    maxID->setValue(5);
    QCOMPARE(maxID->value(), 10);
    QCOMPARE(f.minID(), 10);
    QCOMPARE(f.maxID(), 10);
}

void TestGeneralForm::setDefault()
{
    GeneralForm f;
    f.setDefault(QByteArray::fromHex("0203020164"));
    QCOMPARE(f.addressMode(), 1);
    QCOMPARE(f.accessMode(), 0);
    QCOMPARE(f.minID(), 128);

    // Values are clamped to the spin boxes' current ranges; untouched ranges keep minID <= 128.
    f.setDefault(QByteArray::fromHex("020302 01c8fa"));
    QCOMPARE(f.addressMode(), 2);
    QCOMPARE(f.accessMode(), 3);
    QCOMPARE(f.dataMode(), 2);
    QCOMPARE(f.readWrite(), 1);
    QCOMPARE(f.minID(), 128);
    QCOMPARE(f.maxID(), 250);

    // An index outside the items leaves the combo without a current item; bytes are signed.
    f.setDefault(QByteArray::fromHex("ff0a0000 0010 80"));
    QCOMPARE(f.addressMode(), -1);
    QCOMPARE(f.accessMode(), -1);
    QCOMPARE(f.minID(), 0);
    QCOMPARE(f.maxID(), 128);
}

QTEST_MAIN(TestGeneralForm)
#include "tst_generalform.moc"
