// tarnix.Module: one VME master module, its command channel (TCP) and its register channel
// (RBCP over UDP), through the same client classes tarnixctl uses.
#include "bindings.h"
#include "reportbatch.h"
#include "session.h"

#include <pybind11/stl.h>

namespace TarnixPy {

namespace {

// The next batch of reports, or the end of the iteration.
Items nextBatch(ReportIterator &it)
{
    std::optional<Items> batch = it.next();
    if (!batch)
        throw py::stop_iteration();
    return std::move(*batch);
}

} // namespace

void init_module(py::module_ &m)
{
    using release = py::call_guard<py::gil_scoped_release>;

    py::class_<ReportIterator, std::shared_ptr<ReportIterator>>(m, "ReportIterator", R"(
The module's reports as numpy structured arrays, one batch at a time (see Module.reports).)")
        .def("__iter__", [](std::shared_ptr<ReportIterator> self) { return self; })
        .def("__next__", &nextBatch, release(), "The next batch of reports (StopIteration at the end).")
        .def_property_readonly("taken", &ReportIterator::taken, "Reports handed out so far.");

    py::class_<Session, std::shared_ptr<Session>>(m, "Module", R"(
A VME master module on the network.

    with tarnix.Module("192.168.10.16") as m:
        print(m.read(0x00100000, 4))

host is the module's IP address; tcp_port the command channel (single VME accesses and the
reports of the module's programs); udp_port its register channel (RBCP: network settings,
program memory, event enable mask). timeout bounds each wait in seconds: the connection,
each command's answer, and each of the three attempts of a register request. Commands get
IDs from id_range (first, last) in turn; no program of the module may use an ID inside it,
or its reports could pass for answers.

Connections are opened on first use and closed by close() or at the end of a with block.
A Module is used from the thread that first talked to the module. Calls that wait on the
network let other Python threads run meanwhile.

Failures raise tarnix.VmeError (the module refused: bus error), tarnix.ParameterError (a
value refused before anything was sent, or by the module), tarnix.TimeoutError (no answer,
or the connection failed) and tarnix.FileError, with tarnixctl's messages; .address names
the address of the refused or unanswered access.)")
        .def(py::init<const std::string &, int, int, double, std::pair<int, int>>(), py::arg("host"),
             py::arg("tcp_port") = 24, py::arg("udp_port") = 4660, py::arg("timeout") = 3.0,
             py::arg("id_range") = std::pair<int, int>(128, 255))
        .def("__enter__", [](std::shared_ptr<Session> self) { return self; })
        .def("__exit__", [](Session &self, py::args) { self.close(); }, release())
        .def("close", &Session::close, release(), "Closes the connections; the next call opens them again.")
        .def_property_readonly("host", &Session::hostName, "The module's IP address.")
        .def_property_readonly("tcp_port", &Session::tcpPort, "The command channel's TCP port.")
        .def_property_readonly("udp_port", &Session::udpPort, "The register channel's UDP port.")
        .def_property_readonly("skipped_reports", &Session::skippedReports,
                               "Reports that arrived while a command waited for its answer (not kept).")
        .def("read", &Session::read, release(), py::arg("address"), py::arg("count") = 1,
             py::arg("address_mode") = "A32", py::arg("data_mode") = "D32", py::arg("access") = "User Data",
             R"(Reads count items from the VME bus at address.

Returns a numpy array of uint8, uint16 or uint32 (D8, D16, D32) with the items' values.
address_mode is A16, A24 or A32; access is an access mode as the window names it ("User
Data", "Block", ...). A long read is split into commands of at most 255 bytes; a
fixed-address access (a FIFO) reads every item at the same address.)")
        .def("write", &Session::write, release(), py::arg("address"), py::arg("values"),
             py::arg("address_mode") = "A32", py::arg("data_mode") = "D32", py::arg("access") = "User Data",
             py::arg("echo") = false,
             R"(Writes values (a sequence or an array of integers) to the VME bus at address.

Each value must fit the item size of data_mode. With echo=True the module sends the data
back, returned as an array; otherwise returns None.)")
        .def("info", &Session::info, release(), R"(The module's network settings and logic version as a dict.

Keys: mac, ip, tcp_port, udp_port (as stored in the settings block), keep_alive, live_tcp_port,
tcp_close_timeout (the registers in use), version (the logic's version register as hex text),
and text (what tarnixctl info prints).)")
        .def("stop", &Session::stop, release(), "Stops every program of the module (event enable mask 0).")
        .def("enable", &Session::enable, release(), py::arg("events"),
             R"(Writes the event enable mask: an int, or a list of event names (Polling, Interrupt1 to
Interrupt7). An empty list stops every program.)")
        .def("scan", &Session::scan, release(), py::arg("from_") = 0, py::arg("to") = py::none(),
             py::arg("step") = py::none(), py::arg("offset") = 0, py::arg("address_mode") = "A24",
             py::arg("data_mode") = "D16", py::arg("access") = "User Data", py::arg("in_flight") = 64,
             R"(Which addresses answer on the VME bus: reads one item at base + offset for every base
from from_ to to (default: the end of the address mode's space) in steps (default 0x100 in A16,
0x10000 in A24 and A32), several reads in flight at once. Returns the list of the bases whose
read came back without a bus error, in order.)")
        .def("download", &Session::download, release(), py::arg("program"), py::arg("verify") = true,
             R"(Writes a program into the module as the window's download does: the stop, the tables
and the image, with verify every byte read back, then the enable mask of the program file.
program is a file name (binary or text), a program text (a str of several lines) or the bytes
of a binary file. A refused text raises FileError("FILE:line:column: message") and nothing is
sent. Returns the bytes written.)")
        .def("run", &Session::run, release(), py::arg("sequence_path"),
             R"(Runs a set-up sequence file (as tarnixctl run: its writes, reads with expect, waits, polls,
register accesses, downloads and enables, its includes) on a connection of its own. Returns
the steps as tarnixctl prints them. A faulty file raises FileError and nothing is sent; a
failed check or a refusal raises VmeError, silence TimeoutError, naming the step.)")
        .def("record", &Session::record, release(), py::arg("path"), py::arg("count") = py::none(),
             py::arg("seconds") = py::none(), py::arg("program") = py::none(), py::arg("force") = false,
             R"(Records the module's reports into a run file (as tarnixctl record) until count reports or
seconds (neither: until Ctrl-C or the connection ends), with program (a program file's name)
in its header. An existing file with something in it is replaced only with force=True. Ctrl-C
ends the run with a complete end record. Returns the counts: reports, bytes, reason.)")
        .def("reports", &Session::reports, release(), py::arg("count") = py::none(), py::arg("seconds") = py::none(),
             py::arg("batch") = 65536,
             R"(The reports of the module's programs, as an iterator of numpy structured arrays.

Each batch holds at most batch reports, and comes at least every 0.2 s while reports arrive.
The iteration ends after count reports or seconds (either or both; neither: until the
connection ends). Fields: time (datetime64[ns], when read), id, level (priority level),
polling (True for the polling program, False for an interrupt's), flow (flow ID), address,
mode (the report's mode word), status (its bits 3-0), items (data items carried) and data
(the items, uint32, as many columns as the widest report of the batch; 0 past items).)");
}

} // namespace TarnixPy
