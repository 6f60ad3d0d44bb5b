// Replays a fuzz target over its committed seed corpus, each input also cut short at every
// length and with each byte inverted, so that the properties the target checks run in
// every build without a fuzzer.

#include <QDir>
#include <QFile>
#include <QtTest>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

int runOne(const QByteArray &input)
{
    return LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.constData()), size_t(input.size()));
}

QStringList corpusFiles()
{
    const QDir dir(QStringLiteral(TARNIX_FUZZ_CORPUS));
    return dir.entryList(QDir::Files, QDir::Name);
}

} // namespace

class Replay : public QObject
{
    Q_OBJECT
private slots:
    void corpusPresent();
    void replay_data();
    void replay();
};

void Replay::corpusPresent()
{
    QVERIFY2(corpusFiles().size() >= 8, TARNIX_FUZZ_CORPUS);
}

void Replay::replay_data()
{
    QTest::addColumn<QString>("path");
    const QDir dir(QStringLiteral(TARNIX_FUZZ_CORPUS));
    for (const QString &name : corpusFiles())
        QTest::newRow(qPrintable(name)) << dir.filePath(name);
}

void Replay::replay()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    const QByteArray input = file.readAll();

    QCOMPARE(runOne(input), 0);
    for (qsizetype n = 0; n < input.size(); ++n)
        QCOMPARE(runOne(input.left(n)), 0);
    for (qsizetype i = 0; i < input.size(); ++i) {
        QByteArray flipped = input;
        flipped[i] = char(~flipped.at(i));
        QCOMPARE(runOne(flipped), 0);
    }
}

QTEST_APPLESS_MAIN(Replay)
#include "replay.moc"
