// Instruction records from untrusted bytes (program memory images, program files).
//
// Input: byte 0 is the number of records wanted, byte 1 the start position as a signed
// byte, the rest the array that is parsed.

#include "fuzzcheck.h"
#include "programhost.h"
#include "vmeprogram.h"


namespace {

// Marks each ID the parser takes; every other question has a fixed answer.
class RecordingHost : public ProgramHost
{
public:
    QList<unsigned char> marked;

    int addressMode() override { return 1; }
    int accessMode() override { return 0; }
    int dataMode() override { return 0; }
    int readWrite() override { return 0; }
    bool checkInteractiveID(unsigned char id, unsigned char *, unsigned char *) override { return id < 128; }
    bool checkID(unsigned char id) override { return id < 128; }
    bool getFreeID(unsigned char &id) override { return id = 0, true; }
    bool setID(unsigned char id, bool used) override { return used && (marked.append(id), true); }
    bool checkVectorID(int) override { return false; }
    bool pollingPresent() override { return false; }
    void setPollingPresent(bool) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int wanted = data[0];
    const int pos = int(int8_t(data[1]));
    const QByteArray bytes(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));

    RecordingHost host;
    int count = wanted;
    VmeProgram program(bytes, count, pos, &host);
    const int parsed = int(program.instructions.size());
    FUZZ_CHECK(count >= 0 && parsed + count == wanted && parsed <= (bytes.size() + 7) / 8);
    FUZZ_CHECK(int(host.marked.size()) == parsed);

    // The records parsed lie end to end inside the array.
    qsizetype p = pos;
    for (int i = 0; i < parsed; ++i) {
        const VmeInstruction *ins = program.instructions.at(i);
        FUZZ_CHECK(host.marked.at(i) == ins->id && p >= 0 && p + 8 <= bytes.size());
        const int byteLength = quint8(bytes.at(p + 7));
        FUZZ_CHECK(ins->address == VmeProgram::fromByteArray(bytes.mid(p, 4)) && ins->id == quint8(bytes.at(p + 6)));
        FUZZ_CHECK(ins->length == byteLength / VmeModeWord::itemSize(ins->dataMode));
        p += 8;
        FUZZ_CHECK(ins->data == (ins->read ? QByteArray() : bytes.mid(p, byteLength)));
        FUZZ_CHECK(ins->read || ins->data.size() == byteLength);
        p += ins->read ? 0 : byteLength;
    }
    FUZZ_CHECK(p <= bytes.size() || parsed == 0);

    // Encoding keeps every record's data to the length its length byte gives, so the
    // encoding parses back into as many instructions and nothing is left over.
    program.level = 1 + (data[1] & 7) % 7;
    QByteArray encoded;
    const int encodedCount = program.setProgram(encoded);
    FUZZ_CHECK(encodedCount == parsed);
    int expectedSize = 0; // a header per record, and the data of a write
    for (const VmeInstruction *ins : program.instructions)
        expectedSize += VmeInstruction::RecordHeaderSize + ((ins->mode() & 0x8000) ? ins->byteLength() : 0);
    expectedSize = program.isIntrOnly() ? int(VmeProgram::IntrRecordSize) : expectedSize;
    FUZZ_CHECK(encoded.size() == expectedSize);

    int again = parsed + 1;
    VmeProgram reparsed(encoded, again, 0, nullptr);
    FUZZ_CHECK(again == 1 && int(reparsed.instructions.size()) == parsed);

    bool allKnown = !program.isIntrOnly();
    for (int i = 0; i < parsed && !program.isIntrOnly(); ++i) {
        const VmeInstruction *a = program.instructions.at(i);
        const VmeInstruction *b = reparsed.instructions.at(i);
        FUZZ_CHECK(b->address == a->address && b->id == a->id);
        if (a->accessMode < 0) {
            allKnown = false;
            FUZZ_CHECK(b->mode() == VmeModeWord::IntrMode);
            continue;
        }
        FUZZ_CHECK(b->mode() == a->mode() && b->length == a->length);
        FUZZ_CHECK(a->read || b->data == a->data.left(b->data.size()));
    }
    if (allKnown) {
        // Once normalised by one encoding, the bytes are a fixed point.
        QByteArray encodedAgain;
        reparsed.setProgram(encodedAgain);
        FUZZ_CHECK(encodedAgain == encoded);
    }

    // The INTR record of a level is recognised exactly where it stands.
    for (unsigned level = 1; level <= 7; ++level) {
        if (!VmeProgram::checkINTR(level, bytes))
            continue;
        int one = 1;
        VmeProgram intr(bytes, one, 0, nullptr);
        const VmeInstruction *ins = intr.instructions.first();
        FUZZ_CHECK(one == 0 && ins->address == 2 * level && ins->accessMode == VmeModeWord::IntrAccessIndex);
        FUZZ_CHECK(ins->length == 1 && ins->read && ins->noEcho && ins->id == 0);
    }

    FUZZ_CHECK(VmeProgram::fromByteArray16(bytes) ==
               (bytes.size() < 2 ? 0 : quint16((quint8(bytes.at(0)) << 8) | quint8(bytes.at(1)))));
    return 0;
}
