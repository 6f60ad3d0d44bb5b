// The editor's text readers on untrusted text: data items, numbers, interval texts and
// vector lists. The input is read as UTF-8 text and, for the writers, as raw bytes.

#include "datatext.h"
#include "fuzzcheck.h"

#include <QSet>
#include <QStringList>

#include <algorithm>

namespace {

// The text rebuilt from stored vectors (any order, the first giving the program number) reads
// back as the same set.
void vectorsRoundTrip(const QByteArray &stored)
{
    QSet<unsigned char> want, back;
    for (char v : stored)
        want.insert(static_cast<unsigned char>(v));
    FUZZ_CHECK(DataText::checkVectorNum(DataText::vectorText(quint8(stored.at(0)) + 1, stored), back));
    FUZZ_CHECK(back == want);
}

void dataTexts(const QString &text, const QByteArray &raw)
{
    const int pieces = int(text.split(QLatin1Char(' '), Qt::SkipEmptyParts).size());
    for (int width = 0; width < 3; ++width) {
        const int itemSize = width == 0 ? 1 : width == 1 ? 2 : 4;

        QByteArray bytes, whole = raw.left(raw.size() - raw.size() % itemSize);
        const bool ok = DataText::data(width, bytes, text);
        const int count = DataText::check(width, text);
        FUZZ_CHECK(ok == (count >= 0) && bytes.size() % itemSize == 0);
        FUZZ_CHECK(ok ? count == pieces && bytes.size() == qsizetype(count) * itemSize : bytes.size() / itemSize < pieces);
        // Bytes written as text read back the same: those read from the text, then the raw input.
        for (const QByteArray &b : {ok ? bytes : QByteArray(), whole}) {
            QString written;
            QByteArray back;
            DataText::strData(width, b, written);
            FUZZ_CHECK(written.size() == b.size() / itemSize * (2 * itemSize + 3));
            FUZZ_CHECK(DataText::data(width, back, written) && back == b);
            FUZZ_CHECK(DataText::check(width, written) == int(b.size() / itemSize));
        }
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
        QList<unsigned char> list(vectors.begin(), vectors.end());
        std::sort(list.begin(), list.end());
        vectorsRoundTrip(QByteArray(reinterpret_cast<const char *>(list.constData()), list.size()));
    }
    if (!raw.isEmpty())
        vectorsRoundTrip(raw);
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
