// program: program files as text, to read, diff and keep in version control. show prints the
// text of a binary or text file; build writes the binary file the window would save.
#include "ctlprogram.h"
#include "ctlrbcp.h"

#include "programfile.h"
#include "programtext.h"

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
    if (!readProgramFile(name, bytes, failure))
        return fail(BadUsage, failure);
    QString text;
    if (!ProgramText::print(bytes, name, text, failure))
        return fail(BadUsage, failure);
    const QByteArray out = text.toUtf8();
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
    return Success;
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
        "Program texts (YAML, one document, at most 512 KiB; comments allowed, not\n"
        "kept; one instruction per line, so that a diff shows one changed instruction\n"
        "as one changed line):\n"
        "  defaults: {address mode: A32, access mode: User Data, data mode: D32,\n"
        "             read/write: Read}\n"
        "  interactive ids: 128-255\n"
        "  events: [Polling, Interrupt3]\n"
        "  programs:\n"
        "    - program: polling            # polling, vector, default vector or interrupt\n"
        "      interval: 10 ms             # s, ms or us\n"
        "      level: 2\n"
        "      instructions:\n"
        "        - {id: 1, address: 0x00200000, read/write: Read, data mode: D32,\n"
        "           length: 16, access mode: User Data, address mode: A32}\n"
        "    - program: vector\n"
        "      vectors: 3-5,9\n"
        "      instructions: [...]\n"
        "    - {program: interrupt, level: 1, intr: true}\n"
        "Values are the program editor's texts and pass its checks; a fault is named as\n"
        "FILE:LINE:COLUMN: message. For example:\n"
        "  tarnixctl program show crate3.prg > crate3.yaml\n"
        "  diff -u <(tarnixctl program show old.prg) \\\n"
        "          <(tarnixctl program show crate3.yaml)\n"
        "  tarnixctl program build crate3.yaml -o crate3.prg\n"
        "  tarnixctl -a 192.168.10.16 download crate3.yaml --verify");
}

bool readProgramFile(const QString &name, QByteArray &bytes, QString &failure)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        failure = ProgramFile::openFailureText(name, file.errorString());
        return false;
    }
    // Longer than any program file or text: refused before it is read.
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
    if (!ProgramText::isText(bytes.left(ProbeSize)))
        return true;
    QByteArray built;
    if (const auto fault = ProgramText::build(bytes, built)) {
        failure = name + (fault->line > 0 ? QStringLiteral(":") : QStringLiteral(": ")) + fault->text();
        return false;
    }
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
    return fail(BadUsage, QStringLiteral("program: give \"show FILE\" or \"build TEXT -o FILE\""));
}

} // namespace Ctl
