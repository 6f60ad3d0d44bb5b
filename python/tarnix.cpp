// The Python module's entry: each part adds its names.
#include "bindings.h"

PYBIND11_MODULE(tarnix, m)
{
    m.doc() = R"(The VME master module from Python: single VME accesses, the module's settings and
programs, and the reports of its programs as numpy arrays, through the same core as tarnixctl
and the window.

    import tarnix
    with tarnix.Module("192.168.10.16") as m:
        m.write(0x00100000, [1, 2, 3])
        print(m.read(0x00100000, 3))
        for batch in m.reports(count=10000):
            print(batch["data"][:, 0])
)";
    m.attr("__version__") = TARNIX_VERSION;
    TarnixPy::init_errors(m);
    TarnixPy::init_module(m);
    TarnixPy::init_program(m);
    TarnixPy::init_runs(m);
}
