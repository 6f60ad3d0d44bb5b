// tarnix.program: program files as text and as the binary file the window saves.
#include "bindings.h"

#include "programtext.h"
#include "programwarnings.h"

namespace TarnixPy {

namespace {

QByteArray bytesOf(const py::object &data)
{
    if (py::isinstance<py::str>(data)) {
        const std::string text = data.cast<std::string>();
        return QByteArray(text.data(), qsizetype(text.size()));
    }
    const std::string bytes = data.cast<py::bytes>();
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

QByteArray build(const QByteArray &text, const QString &name = QString())
{
    QByteArray file;
    if (const auto fault = ProgramText::build(text, file))
        fail(Failure::Kind::File, name.isEmpty() ? fault->text()
                                  : name + (fault->line > 0 ? QStringLiteral(":") : QStringLiteral(": ")) +
                                        fault->text());
    return file;
}

} // namespace

QByteArray binaryProgram(const QByteArray &bytes, const QString &name)
{
    return ProgramText::isText(bytes.left(512)) ? build(bytes, name) : bytes;
}

void init_program(py::module_ &m)
{
    py::module_ program = m.def_submodule("program", R"(
Program files: the YAML text an operator writes and reviews, and the binary file the window
saves and the module is loaded from (tarnixctl program show and program build).)");

    program.def(
        "build",
        [](const py::object &text) {
            const QByteArray file = build(bytesOf(text));
            return py::bytes(file.constData(), size_t(file.size()));
        },
        py::arg("text"), R"(The binary program file of a program text (str or bytes), byte for byte what the
window saves for that table. A refused text raises tarnix.FileError("line:column: message").)");

    program.def(
        "show",
        [](const py::object &data) {
            // A text is shown as the canonical text of what it builds.
            const QByteArray file = binaryProgram(bytesOf(data), QString());
            QString text, error;
            if (!ProgramText::print(file, QStringLiteral("program"), text, error))
                fail(Failure::Kind::File, error);
            return text.toStdString();
        },
        py::arg("data"), R"(The canonical text of a program file (bytes of a binary file, or a text): fixed order
and spelling, so that the same table always prints the same text.)");

    program.def(
        "check",
        [](const py::object &data, const std::string &name) {
            const QString fileName = QString::fromStdString(name);
            QList<ProgramWarnings::Warning> warnings;
            QString refusal;
            if (!ProgramWarnings::checkFile(bytesOf(data), fileName, warnings, refusal))
                fail(Failure::Kind::File, refusal);
            py::list out;
            for (const ProgramWarnings::Warning &w : warnings) {
                py::dict d;
                d["line"] = w.line;
                d["column"] = w.column;
                d["message"] = w.message.toStdString();
                d["text"] = ProgramWarnings::fileText(fileName, w).toStdString();
                out.append(d);
            }
            return out;
        },
        py::arg("data"), py::arg("name") = "program",
        R"(The warnings of a program file (bytes of a binary file, or a text), as tarnixctl program
check prints them: a list of dicts with line, column (0 without a place), message and text
("name:line:column: warning: message"). A refused file raises FileError.)");
}

} // namespace TarnixPy
