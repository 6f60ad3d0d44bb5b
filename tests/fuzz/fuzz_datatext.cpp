// The editor's text readers on untrusted text: data items, numbers, interval texts and
// vector lists. The input is read as UTF-8 text and, for the writers, as raw bytes.

#include "datatext.h"
#include "fuzzcheck.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

QByteArray sortedBytes(const QSet<unsigned char> &set)
{
    QList<unsigned char> list(set.begin(), set.end());
    std::sort(list.begin(), list.end());
    QByteArray bytes;
    for (unsigned char v : list)
        bytes.append(char(v));
    return bytes;
}

QSet<unsigned char> setOf(const QByteArray &bytes)
{
    QSet<unsigned char> set;
    for (char v : bytes)
        set.insert(static_cast<unsigned char>(v));
    return set;
}

void dataTexts(const QString &text, const QByteArray &raw)
{
    const int pieces = int(text.split(QLatin1Char(' '), Qt::SkipEmptyParts).size());
    for (int width = 0; width < 3; ++width) {
        const int itemSize = width == 0 ? 1 : width == 1 ? 2 : 4;

        QByteArray bytes;
        const bool ok = DataText::data(width, bytes, text);
        const int count = DataText::check(width, text);
        FUZZ_CHECK(ok == (count >= 0));
        FUZZ_CHECK(bytes.size() % itemSize == 0);
        if (ok) {
            FUZZ_CHECK(count == pieces);
            FUZZ_CHECK(bytes.size() == qsizetype(count) * itemSize);
            // What was read, written back, reads back the same.
            QString written;
            DataText::strData(width, bytes, written);
            QByteArray back;
            FUZZ_CHECK(DataText::data(width, back, written));
            FUZZ_CHECK(back == bytes);
        } else {
            FUZZ_CHECK(bytes.size() / itemSize < pieces);
        }

        QString written;
        DataText::strData(width, raw, written);
        const QByteArray whole = raw.left(raw.size() - raw.size() % itemSize);
        FUZZ_CHECK(written.size() == whole.size() / itemSize * (2 * itemSize + 3));
        QByteArray back;
        FUZZ_CHECK(DataText::data(width, back, written));
        FUZZ_CHECK(back == whole);
        FUZZ_CHECK(DataText::check(width, written) == int(whole.size() / itemSize));
    }
}

void numbers(const QString &text, const QByteArray &raw)
{
    QString trimmed = text;
    DataText::removeZeros(trimmed);
    FUZZ_CHECK(text.startsWith(trimmed));
    if (text.count(QLatin1Char('.')) == 1 && trimmed.contains(QLatin1Char('.')))
        FUZZ_CHECK(!trimmed.endsWith(QLatin1Char('0')) && !trimmed.endsWith(QLatin1Char('.')));
    if (!text.contains(QLatin1Char('.')))
        FUZZ_CHECK(trimmed == text);

    unsigned int value32 = 0;
    if (DataText::checkUInt32(text, value32))
        FUZZ_CHECK(DataText::isStrValid(text));

    const unsigned int max = raw.isEmpty() ? 255 : quint8(raw.at(0));
    unsigned char value8 = 0;
    if (DataText::checkUChar(text, value8, max))
        FUZZ_CHECK(value8 <= max);
}

void vectorLists(const QString &text, const QByteArray &raw)
{
    QSet<unsigned char> vectors;
    if (DataText::checkVectorNum(text, vectors) && !vectors.isEmpty()) {
        // Stored ascending, the smallest vector giving the program number.
        const QByteArray stored = sortedBytes(vectors);
        const QString rebuilt = DataText::vectorText(quint8(stored.at(0)) + 1, stored);
        QSet<unsigned char> back;
        FUZZ_CHECK(DataText::checkVectorNum(rebuilt, back));
        FUZZ_CHECK(back == vectors);
    }
    if (!raw.isEmpty()) {
        // Any stored order: the text rebuilt from it reads back as the same set.
        const QString rebuilt = DataText::vectorText(quint8(raw.at(0)) + 1, raw);
        QSet<unsigned char> back;
        FUZZ_CHECK(DataText::checkVectorNum(rebuilt, back));
        FUZZ_CHECK(back == setOf(raw));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = QString::fromUtf8(raw);
    dataTexts(text, raw);
    numbers(text, raw);
    vectorLists(text, raw);
    return 0;
}
