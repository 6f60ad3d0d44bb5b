// The General tab without a module: the command line, the connect button's checks, the ID
// range and the defaults from a program file.
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

class TestGeneralForm : public QObject
{
    Q_OBJECT
private slots:
    void commandLine_data()
    {
        QTest::addColumn<QList<QByteArray>>("args");
        QTest::addColumn<QList<int>>("values"); // logSize, readBufferSize, readRequestSize, sleepTime
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("usage");
        const QString dflt = QStringLiteral("192.168.10.16");
        const QList<int> none{512, 8, 1024, 40};
        QTest::newRow("none") << QList<QByteArray>{} << none << dflt << false;
        QTest::newRow("-l 2 -s 10") << QList<QByteArray>{"-l", "2", "-s", "10"} << QList<int>{2, 8, 1024, 10} << dflt << false;
        QTest::newRow("all, no range checks") << QList<QByteArray>{"-t", "0", "-r", "-5", "-l0", "-s", "0"}
                                              << QList<int>{0, 0, -5, 0} << dflt << false;
        QTest::newRow("later wins") << QList<QByteArray>{"-s", "5", "-s", "6", "-a", "10.0.0.1", "-a", "10.0.0.2"}
                                    << QList<int>{512, 8, 1024, 6} << "10.0.0.2" << false;
        QTest::newRow("-h then undefined -x") << QList<QByteArray>{"-h", "-x"} << none << dflt << true;
        QTest::newRow("missing argument") << QList<QByteArray>{"-s"} << none << dflt << true;
        QTest::newRow("-a IPv6") << QList<QByteArray>{"-a", "::1"} << none << "::1" << false;
        QTest::newRow("-a nonsense") << QList<QByteArray>{"-a", "nonsense"} << none << dflt << false;
        QTest::newRow("non-options ignored") << QList<QByteArray>{"file", "-s", "7"} << QList<int>{512, 8, 1024, 7} << dflt
                                             << false;
    }
    void commandLine()
    {
        QFETCH(QList<QByteArray>, args);
        QFETCH(QList<int>, values);
        QFETCH(bool, usage);
        Args a(QList<QByteArray>{"/opt/tarnix/tarnix2-utility"} + args);
        GeneralForm f;
        QTemporaryFile out; // standard output itself, while the options are read
        QVERIFY(out.open());
        std::fflush(stdout);
        const int saved = ::dup(1);
        ::dup2(out.handle(), 1);
        f.setParam(a.argc(), a.argv.data());
        std::fflush(stdout);
        ::dup2(saved, 1);
        ::close(saved);
        out.seek(0);
        QCOMPARE((QList<int>{f.logSize, f.readBufferSize, f.readRequestSize, f.sleepTime}), values);
        QTEST(child<QLineEdit>(f, "address")->text(), "address");
        QCOMPARE(out.readAll(), usage ? QByteArray("Usage: /opt/tarnix/tarnix2-utility \\ \n [-a <Target address: 192.168.10.16>]"
                                                   " \\ \n [-l <Max block size of Log: 512(*1024)>]"
                                                   " \\ \n [-t <TcpSocket's internal read buffer: 8(kbytes)>]"
                                                   " \\ \n [-r <Max read request size: 1024(bytes)>]"
                                                   " \\ \n [-s <Sleep time: 40(ms)>]\n")
                                      : QByteArray());
    }
    // The target's checks, each refusal with its exact message (the button works again at once); an
    // accepted target goes out in the form the connection reads only one way.
    void connectTarget_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("message"); // empty: accepted
        QTest::addColumn<QString>("target");
        const QString portMsg = QStringLiteral("Invalid TCP Port Number: %1\nThe port has to be a value from 1 to 65535");
        QTest::newRow("0.0.0.0") << "0.0.0.0" << "24" << "0.0.0.0 is an invalid address." << "";
        QTest::newRow("IPv6") << "::1" << "24" << "::1 is an invalid address." << "";
        QTest::newRow("shorthand") << "192.168.1016" << "24" << "192.168.1016 is an invalid address." << "";
        QTest::newRow("empty") << "" << "24" << " is an invalid address." << "";
        QTest::newRow("port 0") << "127.0.0.1" << "0" << portMsg.arg(QStringLiteral("0")) << "";
        QTest::newRow("port 65536") << "127.0.0.1" << "65536" << portMsg.arg(QStringLiteral("65536")) << "";
        QTest::newRow("port hex") << "127.0.0.1" << "0x18" << portMsg.arg(QStringLiteral("0x18")) << "";
        QTest::newRow("port 1") << "127.0.0.1" << "1" << "" << "127.0.0.1";
        QTest::newRow("port 65535, leading zeros") << "010.000.000.001" << "65535" << "" << "10.0.0.1";
    }
    void connectTarget()
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
    void idRangeEditing()
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
        QCOMPARE((QList<int>{f.minID(), f.maxID()}), (QList<int>{10, 10}));
    }
    void setDefault_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<int>>("values"); // address mode, access mode, data mode, read/write, min ID, max ID
        QTest::newRow("five bytes change nothing") << QByteArray::fromHex("0203020164") << QList<int>{1, 0, 0, 0, 128, 255};
        QTest::newRow("IDs clamped to the untouched ranges") << QByteArray::fromHex("020302 01c8fa")
                                                             << QList<int>{2, 3, 2, 1, 128, 250};
        QTest::newRow("signed indices outside the items, unsigned IDs") << QByteArray::fromHex("ff0a0000 0010 80")
                                                                        << QList<int>{-1, -1, 0, 0, 0, 128};
    }
    void setDefault()
    {
        QFETCH(QByteArray, bytes);
        GeneralForm f;
        f.setDefault(bytes);
        QTEST((QList<int>{f.addressMode(), f.accessMode(), f.dataMode(), f.readWrite(), f.minID(), f.maxID()}), "values");
    }
};

QTEST_MAIN(TestGeneralForm)
#include "tst_generalform.moc"
