#pragma once
// What the parts of the Python module share: the failures they raise, and arrays handed to
// Python without a copy.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace py = pybind11;

namespace TarnixPy {

// A failure with tarnixctl's message, raised in Python as the class of its kind. Thrown
// while the interpreter lock is released; turned into the Python exception after it is taken.
struct Failure : std::runtime_error
{
    enum class Kind { Vme, Parameter, Timeout, File };
    Failure(Kind kind, const QString &message, std::optional<quint32> address = std::nullopt, quint16 mode = 0)
        : std::runtime_error(message.toStdString()), kind(kind), address(address), mode(mode)
    {
    }
    Kind kind;
    std::optional<quint32> address; // where the module refused, or the access that went unanswered
    quint16 mode;                   // the answer's mode word when the module refused
};

[[noreturn]] inline void fail(Failure::Kind kind, const QString &message, std::optional<quint32> address = std::nullopt,
                              quint16 mode = 0)
{
    throw Failure(kind, message, address, mode);
}

// Bytes to become a numpy array once the interpreter lock is held again: made while waiting on
// the network, handed over by moving the buffer into the array's owner (no copy).
struct Items
{
    enum class Layout { Uint8, Uint16, Uint32, Reports };
    Layout layout = Layout::Uint32;
    std::unique_ptr<std::vector<char>> bytes = std::make_unique<std::vector<char>>();
    qsizetype count = 0;  // items (or reports)
    int dataItems = 0;    // Reports: the data columns of each row
};

// The values of a write: any integer sequence, array or single integer, taken as 64-bit
// integers while the interpreter lock is held (a float or a text is refused, never rounded).
struct WriteValues
{
    std::vector<long long> values;
};

// The numpy array over an Items' buffer; the array's base owns the buffer.
py::array toArray(Items &&items);

// The structured dtype of one report with dataItems data columns.
py::dtype reportDtype(int dataItems);

// The binary program file of bytes that hold a binary file or a program text (told apart by
// content); a refused text raises a FileError naming name (when given) and the place.
QByteArray binaryProgram(const QByteArray &bytes, const QString &name);

// The parts, each adding its names to the module.
void init_errors(py::module_ &m);
void init_module(py::module_ &m);
void init_program(py::module_ &m);
void init_runs(py::module_ &m);

} // namespace TarnixPy

namespace pybind11::detail {

// An Items returned from a call becomes its numpy array.
template <>
struct type_caster<TarnixPy::Items>
{
    PYBIND11_TYPE_CASTER(TarnixPy::Items, const_name("numpy.ndarray"));
    bool load(handle, bool) { return false; }
    static handle cast(TarnixPy::Items &&items, return_value_policy, handle)
    {
        return TarnixPy::toArray(std::move(items)).release();
    }
};

template <>
struct type_caster<TarnixPy::WriteValues>
{
    PYBIND11_TYPE_CASTER(TarnixPy::WriteValues, const_name("collections.abc.Sequence[int]"));
    bool load(handle src, bool);
};

} // namespace pybind11::detail
