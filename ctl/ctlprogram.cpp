// program: program files as text, to read, diff and keep in version control. show prints the
// text of a binary or text file; build writes the binary file the window would save.
#include "ctlprogram.h"
#include "ctlrbcp.h"

#include "programfile.h"
#include "programtext.h"
#include "programwarnings.h"

#include <QFile>
#include <QSaveFile>

#include <cstdio>

namespace Ctl {

namespace {

// How much of a file tells a program text from a binary file.
constexpr int ProbeSize = 512;

int show(const QString &name)
{
    QByteArray bytes;
    QString failure;
    if (!readProgramFile(name, bytes, failure, false))
        return fail(BadUsage, failure);
    QString text;
    if (!ProgramText::print(bytes, name, text, failure))
        return fail(BadUsage, failure);
    const QByteArray out = text.toUtf8();
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
    return Success;
}

// Reads the whole file, refusing one longer than any program file or text before reading it.
bool readWholeFile(const QString &name, QByteArray &bytes, QString &failure)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        failure = ProgramFile::openFailureText(name, file.errorString());
        return false;
    }
    const bool text = ProgramText::isText(file.peek(ProbeSize));
    const qint64 limit = text ? ProgramText::MaxTextSize : ProgramFile::MaxFileSize;
    if (file.size() > limit) {
        failure = QStringLiteral("\"%1\": the file holds %2 bytes, more than the %3 a program %4 may hold")
                      .arg(name)
                      .arg(file.size())
                      .arg(limit)
                      .arg(text ? QStringLiteral("text") : QStringLiteral("file"));
        return false;
    }
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        failure = ProgramFile::readFailureText(name, file.errorString());
        return false;
    }
    return true;
}

void printWarnings(std::FILE *to, const QString &name, const QList<ProgramWarnings::Warning> &warnings)
{
    for (const ProgramWarnings::Warning &w : warnings)
        std::fprintf(to, "%s\n", ProgramWarnings::fileText(name, w).toLocal8Bit().constData());
    std::fflush(to);
}

// program check FILE: 0 without warnings, 1 with warnings (on standard output), 2 refused.
int check(const QString &name)
{
    QByteArray bytes;
    QString failure;
    if (!readWholeFile(name, bytes, failure))
        return fail(BadUsage, failure);
    QList<ProgramWarnings::Warning> warnings;
    if (!ProgramWarnings::checkFile(bytes, name, warnings, failure))
        return fail(BadUsage, failure);
    printWarnings(stdout, name, warnings);
    return warnings.isEmpty() ? Success : Refused;
}

int build(const QString &name, const QString &output)
{
    if (output.isEmpty())
        return fail(BadUsage, QStringLiteral("program build: give the binary file with -o FILE"));
    QFile in(name);
    if (!in.open(QIODevice::ReadOnly))
        return fail(BadUsage, ProgramFile::openFailureText(name, in.errorString()));
    if (!ProgramText::isText(in.peek(ProbeSize)))
        return fail(BadUsage, QStringLiteral("program build: \"%1\" is a binary program file, not a text").arg(name));
    QByteArray bytes;
    QString failure;
    if (!readProgramFile(name, bytes, failure))
        return fail(BadUsage, failure);
    QSaveFile out(output);
    if (!out.open(QIODevice::WriteOnly))
        return fail(BadUsage, ProgramFile::createFailureText(output, out.errorString()));
    failure = ProgramFile::writeAll(out, bytes);
    if (!failure.isEmpty() || !out.commit())
        return fail(Refused, failure.isEmpty() ? ProgramFile::createFailureText(output, out.errorString()) : failure);
    return Success;
}

} // namespace

QString programTextHelp()
{
    return QStringLiteral(
        "\n\n"
        "Program texts (YAML, one document; comments allowed, not kept; at most 512 KiB).\n"
        "A typical job: three scalers polled every millisecond, a TDC on interrupt\n"
        "level 3 whose acknowledge takes the interrupt's vector, and the program of\n"
        "vector 0x20 that the module runs next:\n"
        "  defaults: {address mode: A32, access mode: User Data, data mode: D32,\n"
        "             read/write: Read}\n"
        "  events: [Polling, Interrupt3]\n"
        "  programs:\n"
        "    - program: polling\n"
        "      interval: 1 ms\n"
        "      level: 1\n"
        "      instructions:\n"
        "        - {id: 1, address: 0x00100000}\n"
        "        - {id: 2, address: 0x00100004}\n"
        "        - {id: 3, address: 0x00100008}\n"
        "    - program: interrupt\n"
        "      level: 3\n"
        "      instructions:\n"
        "        - {id: 4, address: 0x00200000}\n"
        "        - acknowledge      # without it the vector programs never run\n"
        "    - program: vector\n"
        "      vectors: 0x20\n"
        "      instructions:\n"
        "        - {id: 5, address: 0x00200004, length: 4}\n"
        "Top-level keys: defaults (address mode, access mode, data mode, read/write;\n"
        "left out: A24, User Data, D8, Read), interactive ids (FIRST-LAST, default\n"
        "128-255), events (Polling, Interrupt1..Interrupt7; a program whose event is\n"
        "not listed never runs), programs.\n"
        "Programs: polling (interval: a number and s, ms or us, 1 us to 4294.967295 s;\n"
        "level 0-7), interrupt (level 1-7; instructions, or intr: true for the bare\n"
        "acknowledge), vector (vectors: a list such as 3-5,9,0x20), default vector\n"
        "(every vector without a program of its own).\n"
        "Instruction keys: id (required, 0-255), address (required; hexadecimal, also\n"
        "without 0x), read/write (Read, Write(No Data Echo), Write(Echo), Write(No\n"
        "Echo), Read(No Echo)), data mode (D8, D16, D32), length (items, default 1;\n"
        "at most 255, 127, 63 by data mode), data (write data, length items), access\n"
        "mode (User Data, User Prog., User BLT, Supervisor Data, Supervisor Prog.,\n"
        "Supervisor BLT, Fixed Address and User Data, ... and Supervisor Prog., INTR),\n"
        "address mode (A16, A24, A32). A key left out takes the defaults. Choices\n"
        "are matched without regard to case and spaces. \"- acknowledge\" is the\n"
        "editor's INTR row of the program's level.\n"
        "program check warns (FILE:LINE:COLUMN: warning: ...) of a program that never\n"
        "runs, an interrupt level without acknowledge while vector programs exist, a\n"
        "transfer beyond its address mode, data on a read, an ID used by two programs\n"
        "or inside the interactive range, an address without 0x, a default vector\n"
        "program left out because every vector has its own; exit status 0 without\n"
        "warnings, 1 with, 2 refused. build and download print the same warnings on\n"
        "standard error and go on. A fault is named as FILE:LINE:COLUMN: message.\n"
        "For example:\n"
        "  tarnixctl program check crate3.yaml\n"
        "  tarnixctl program show crate3.prg > crate3.yaml\n"
        "  diff -u <(tarnixctl program show old.prg) \\\n"
        "          <(tarnixctl program show crate3.yaml)\n"
        "  tarnixctl program build crate3.yaml -o crate3.prg\n"
        "  tarnixctl -a 192.168.10.16 download crate3.yaml --verify");
}

bool readProgramFile(const QString &name, QByteArray &bytes, QString &failure, bool warn)
{
    if (!readWholeFile(name, bytes, failure))
        return false;
    QList<ProgramWarnings::Warning> warnings;
    if (!ProgramText::isText(bytes.left(ProbeSize))) {
        // A binary file's warnings come with the checks of its reader (the caller's).
        if (warn && ProgramWarnings::checkFile(bytes, name, warnings, failure))
            printWarnings(stderr, name, warnings);
        failure.clear();
        return true;
    }
    QByteArray built;
    if (const auto fault = ProgramText::build(bytes, built, &warnings)) {
        failure = name + (fault->line > 0 ? QStringLiteral(":") : QStringLiteral(": ")) + fault->text();
        return false;
    }
    if (warn)
        printWarnings(stderr, name, warnings);
    bytes = built;
    return true;
}

int programCommand(const Options &o)
{
    const QString verb = o.args.value(0);
    if (verb == QStringLiteral("show") && o.args.size() == 2)
        return show(o.args.at(1));
    if (verb == QStringLiteral("build") && o.args.size() == 2)
        return build(o.args.at(1), o.output);
    if (verb == QStringLiteral("check") && o.args.size() == 2)
        return check(o.args.at(1));
    return fail(BadUsage, QStringLiteral("program: give \"show FILE\", \"check FILE\" or \"build TEXT -o FILE\""));
}

} // namespace Ctl
