// Replays a fuzz target over its committed seed corpus, each input also cut short at every
// length and with each byte inverted, so that the properties the target checks run in
// every build without a fuzzer.
#include <QDir>
#include <QtTest>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

class Replay : public QObject
{
    Q_OBJECT
    static int runOne(const QByteArray &in)
    {
        return LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(in.constData()), size_t(in.size()));
    }

    static QDir corpus() { return QDir(QStringLiteral(TARNIX_FUZZ_CORPUS)); }

private slots:
    void initTestCase() { QVERIFY2(corpus().entryList(QDir::Files).size() >= 8, TARNIX_FUZZ_CORPUS); }
    void replay_data()
    {
        QTest::addColumn<QString>("path");
        const QDir dir = corpus();
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
            QTest::newRow(qPrintable(name)) << dir.filePath(name);
    }
    void replay()
    {
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
        const QByteArray input = file.readAll();
        QCOMPARE(runOne(input), 0);
        for (qsizetype i = 0; i < input.size(); ++i) {
            QByteArray flipped = input;
            flipped[i] = char(~flipped.at(i));
            QCOMPARE(runOne(input.left(i)), 0);
            QCOMPARE(runOne(flipped), 0);
        }
    }
};

QTEST_APPLESS_MAIN(Replay)
#include "replay.moc"
