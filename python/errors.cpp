// The exceptions of the module: one class per kind of failure, under tarnix.Error, each also a
// built-in class a script may already catch (ValueError, TimeoutError, OSError).
#include "bindings.h"

namespace TarnixPy {

namespace {

// The classes as registered, for the translator (they live as long as the module).
struct Classes
{
    PyObject *vme = nullptr;
    PyObject *parameter = nullptr;
    PyObject *timeout = nullptr;
    PyObject *file = nullptr;
};
Classes classes;

// Tags that name the C++ side of each registered class; never thrown: Failure carries the kind.
struct VmeTag : std::exception {};
struct ParameterTag : std::exception {};
struct TimeoutTag : std::exception {};
struct FileTag : std::exception {};

template <typename Tag>
PyObject *declare(py::module_ &m, const char *name, py::handle base, PyObject *builtin, const char *doc)
{
    auto &cls = py::register_exception<Tag>(m, name, py::make_tuple(base, py::handle(builtin)));
    cls.doc() = doc;
    return cls.ptr();
}

void raise(const Failure &f)
{
    PyObject *cls = f.kind == Failure::Kind::Vme         ? classes.vme
                    : f.kind == Failure::Kind::Parameter ? classes.parameter
                    : f.kind == Failure::Kind::Timeout   ? classes.timeout
                                                         : classes.file;
    py::object error = py::reinterpret_borrow<py::object>(cls)(py::str(f.what()));
    error.attr("address") = f.address ? py::object(py::int_(*f.address)) : py::object(py::none());
    error.attr("mode") = f.mode ? py::object(py::int_(f.mode)) : py::object(py::none());
    PyErr_SetObject(cls, error.ptr());
}

} // namespace

void init_errors(py::module_ &m)
{
    auto &base = py::register_exception<Failure>(m, "Error");
    base.doc() = "Every failure of the module's calls; .address (or None) names the address concerned.";
    classes.vme = declare<VmeTag>(m, "VmeError", base, PyExc_RuntimeError,
                                  "The module refused an access: a VME bus error (no slave answered), or a register "
                                  "access the network core refused. .mode holds the answer's mode word.");
    classes.parameter = declare<ParameterTag>(m, "ParameterError", base, PyExc_ValueError,
                                              "A value refused before anything was sent, or an access the module "
                                              "refused with its parameter error bit (.mode).");
    classes.timeout = declare<TimeoutTag>(m, "TimeoutError", base, PyExc_TimeoutError,
                                          "No answer from the module, or its connection failed or closed.");
    classes.file = declare<FileTag>(m, "FileError", base, PyExc_OSError,
                                    "A file that cannot be read or written, or a program text that is refused.");
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (const Failure &f) {
            raise(f);
        }
    });
}

} // namespace TarnixPy
