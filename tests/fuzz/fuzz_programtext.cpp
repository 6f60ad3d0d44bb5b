// Program texts from untrusted bytes. Any input is refused with its place in the text, or
// built; what is built prints as a text that builds and prints the same again.

#include "fuzzcheck.h"
#include "programtext.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    QByteArray built = "untouched";
    if (const auto fault = ProgramText::build(text, built)) {
        FUZZ_CHECK(built == "untouched");
        FUZZ_CHECK(fault->line >= 1 && fault->column >= 1 && !fault->message.isEmpty());
        return 0;
    }
    QString printed, error;
    FUZZ_CHECK(ProgramText::print(built, QStringLiteral("f"), printed, error));

    // The printed text is the same table: it builds and prints unchanged. (The first build may
    // place INTR records of levels the text left out elsewhere; listed, they are laid alike.)
    QByteArray again;
    FUZZ_CHECK(!ProgramText::build(printed.toUtf8(), again));
    QString reprinted;
    FUZZ_CHECK(ProgramText::print(again, QStringLiteral("f"), reprinted, error));
    FUZZ_CHECK(reprinted == printed);
    QByteArray third;
    FUZZ_CHECK(!ProgramText::build(reprinted.toUtf8(), third) && third == again);
    return 0;
}
