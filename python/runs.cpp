// tarnix.RunFile: a recorded run (or a raw capture) read back as numpy structured arrays.
#include "bindings.h"
#include "reportbatch.h"

#include "runreader.h"

#include <pybind11/stl.h>

#include <map>
#include <variant>

namespace TarnixPy {

namespace {

using Value = std::variant<long long, bool, std::string>;

class RunFile
{
public:
    explicit RunFile(const std::string &path) : path(QString::fromStdString(path))
    {
        RunReader probe;
        if (!probe.open(this->path))
            fail(Failure::Kind::File,
                 QStringLiteral("cannot read \"%1\": %2").arg(this->path, probe.errorString()));
        RunBatch first;
        probe.next(first);
        raw = probe.isRaw();
        head = probe.header();
    }

    // Every report of the file, or of at most limit reports a batch.
    std::vector<Items> read(qsizetype limit)
    {
        RunReader reader;
        if (!reader.open(path))
            fail(Failure::Kind::File, QStringLiteral("cannot read \"%1\": %2").arg(path, reader.errorString()));
        std::vector<Items> out;
        ReportBatch batch;
        RunBatch block;
        bool whole = true;
        while (whole && reader.next(block)) {
            whole = forEachReport(block, [&](const RunReport &r) {
                batch.add(r.header, r.data, r.dataSize, r.timeNs);
                if (batch.size() >= limit)
                    out.push_back(batch.take());
            });
        }
        if (!whole)
            fail(Failure::Kind::File, QStringLiteral("\"%1\": a block holds something that is not a whole report").arg(path));
        const RunReader::Status status = reader.status();
        if (status != RunReader::Status::Complete && status != RunReader::Status::Cut)
            fail(Failure::Kind::File, QStringLiteral("\"%1\": %2").arg(path, reader.errorString()));
        // A file cut short (a crash) gives every whole block before the cut; cut() says so.
        cutShort = status == RunReader::Status::Cut;
        ending = reader.end();
        if (batch.size() > 0 || out.empty())
            out.push_back(batch.take());
        return out;
    }

    Items reports() { return std::move(read(std::numeric_limits<qsizetype>::max()).front()); }

    std::map<std::string, Value> header() const
    {
        std::map<std::string, Value> h;
        h["raw"] = raw;
        h["tool"] = head.tool.toStdString();
        h["os"] = head.os.toStdString();
        h["module_address"] = head.moduleAddress.toStdString();
        h["tcp_port"] = (long long)head.tcpPort;
        h["udp_port"] = (long long)head.udpPort;
        h["start_ns"] = (long long)head.startNs;
        h["program_file"] = head.programFile.toStdString();
        h["program_text"] = head.programText.toStdString();
        return h;
    }

    std::map<std::string, Value> end() const
    {
        std::map<std::string, Value> e;
        e["present"] = ending.present;
        e["bytes"] = (long long)ending.bytes;
        e["reports"] = (long long)ending.reports;
        e["crc_errors"] = (long long)ending.crcErrors;
        e["reason"] = ending.reason.toStdString();
        e["start_ns"] = (long long)ending.startNs;
        e["end_ns"] = (long long)ending.endNs;
        return e;
    }

    bool cut() const { return cutShort; }

private:
    QString path;
    bool raw = false;
    RunHeader head;
    RunEnd ending;
    bool cutShort = false;
};

// The reports as a pandas DataFrame, the data items as columns d0, d1, ...
py::object toDataFrame(RunFile &file)
{
    py::object pandas;
    try {
        pandas = py::module_::import("pandas");
    } catch (py::error_already_set &) {
        throw py::import_error("RunFile.to_dataframe needs pandas (Debian: python3-pandas)");
    }
    Items items;
    {
        py::gil_scoped_release release;
        items = file.reports();
    }
    const py::array r = toArray(std::move(items));
    py::dict columns;
    for (const char *name : {"time", "id", "level", "polling", "flow", "address", "mode", "status", "items"})
        columns[name] = r[py::str(name)];
    const py::object data = r[py::str("data")];
    const int width = data.attr("shape")[py::int_(1)].cast<int>();
    for (int i = 0; i < width; ++i)
        columns[py::str("d" + std::to_string(i))] = data[py::make_tuple(py::slice(py::none(), py::none(), py::none()), i)];
    return pandas.attr("DataFrame")(columns);
}

} // namespace

void init_runs(py::module_ &m)
{
    using release = py::call_guard<py::gil_scoped_release>;
    py::class_<RunFile>(m, "RunFile", R"(
A run file as tarnixctl record and Module.record write it (or a raw capture of listen --raw):
its header, its end record and its reports as numpy structured arrays, with the fields of
Module.reports (time is when the packets were read; 0 in a raw capture).)")
        .def(py::init<const std::string &>(), py::arg("path"))
        .def_property_readonly("header", &RunFile::header,
                               "The section header: tool, os, module_address, tcp_port, udp_port, start_ns, "
                               "program_file, program_text, and raw (a capture without header).")
        .def_property_readonly("end", &RunFile::end,
                               "The end record (after reports() or batches()): present, bytes, reports, "
                               "crc_errors, reason, start_ns, end_ns.")
        .def_property_readonly("cut", &RunFile::cut,
                               "Whether the file was cut short (after reports() or batches()): the whole "
                               "blocks before the cut were read.")
        .def("reports", &RunFile::reports, release(), "Every report of the run, as one structured array.")
        .def("batches", &RunFile::read, release(), py::arg("size") = 1 << 20,
             "The reports as a list of structured arrays of at most size reports each, for a large run.")
        .def("to_dataframe", &toDataFrame,
             "The reports as a pandas DataFrame (pandas is not needed otherwise), data items as d0, d1, ...");
}

} // namespace TarnixPy
