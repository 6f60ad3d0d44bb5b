# The Python module against tarnix-sim: every call once with exact values, every exception
# once with its message and address.
import threading
import time

import numpy as np
import pytest

import tarnix

TEXT = """\
defaults: {address mode: A32, access mode: User Data, data mode: D32, read/write: Read}
interactive ids: 128-255
events: [Polling]
programs:
  - program: polling
    interval: 10 ms
    level: 2
    instructions:
      - {id: 1, address: 0x00200000, read/write: Read, data mode: D32, length: 2, access mode: User Data, address mode: A32}
      - {id: 2, address: 0x00200000, read/write: Read, data mode: D32, length: 3, access mode: User Data, address mode: A32}
"""


def test_write_then_read_in_each_item_size(sim):
    with sim().module() as m:
        assert m.write(0x1000, [0x11223344, 0x55667788, 0xDEADBEEF]) is None
        words = m.read(0x1000, 3)
        assert words.dtype == np.uint32 and words.tolist() == [0x11223344, 0x55667788, 0xDEADBEEF]
        assert m.read(0x1000, 4, data_mode="d16").tolist() == [0x1122, 0x3344, 0x5566, 0x7788]
        assert m.read(0x1001, 2, data_mode="D8").tolist() == [0x22, 0x33]
        assert m.write(0x1000, np.array([7], dtype=np.uint8), echo=True).tolist() == [7]
        # 300 items are two commands of 63 items and more: every item in its place.
        m.write(0x2000, np.arange(300) * 3)
        assert (m.read(0x2000, 300) == np.arange(300) * 3).all()


@pytest.mark.parametrize("call, kind, message, address", [
    (lambda m: m.read(0x8000), tarnix.VmeError, "VME error (MODE:0x0a04) at 0x00008000", 0x8000),
    (lambda m: m.read(0x200000, address_mode="A24"), tarnix.ParameterError,
     "parameter error (MODE:0x0901) at 0x00200000", 0x200000),
    (lambda m: m.read(0x1002), tarnix.ParameterError, "The address must be 4byte aligned.", 0x1002),
    (lambda m: m.read(0xFFFC, 2, address_mode="A16"), tarnix.ParameterError,
     "read: the transfer ends at 0x10003, beyond A16 (0xffff)", 0xFFFC),
    (lambda m: m.read(0, data_mode="D64"), tarnix.ParameterError,
     'bad value "D64" for data_mode: one of D8, D16, D32', None),
    (lambda m: m.write(0, [0x100], data_mode="D8"), tarnix.ParameterError, "write: 256 is not a 8-bit item", None),
    (lambda m: m.write(0, [1.5]), tarnix.ParameterError, "write: the values must be integers, not float64", None),
    (lambda m: m.enable(["Interrupt8"]), tarnix.ParameterError,
     'enable: "Interrupt8" is not an event: Polling or Interrupt1 to Interrupt7', None),
])
def test_refusals(sim, call, kind, message, address):
    with sim("--unmapped", "A32:0x8000+0x100", "--param-error", "A24:0x200000-0x20FFFF").module() as m:
        with pytest.raises(kind) as refused:
            call(m)
        assert str(refused.value) == message and refused.value.address == address
        assert isinstance(refused.value, tarnix.Error)
        # The connection serves the next access as before.
        assert m.read(0x1000).shape == (1,)


def test_silent_module_lets_other_threads_run(sim):
    ticks = []
    done = threading.Event()

    def tick():
        while not done.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.001)

    with sim("--no-answers").module(timeout=0.5) as m:
        worker = threading.Thread(target=tick)
        worker.start()
        try:
            start = time.monotonic()
            with pytest.raises(tarnix.TimeoutError) as silent:
                m.read(0x1000)
            end = time.monotonic()
        finally:
            done.set()
            worker.join(10)
    assert str(silent.value) == "no answer from the module" and silent.value.address == 0x1000
    assert isinstance(silent.value, TimeoutError)
    # The other thread went on well inside the wait, not only at its edges.
    assert len([t for t in ticks if start + 0.1 < t < end - 0.1]) > 10


def test_closed_port_is_a_timeout_error():
    with pytest.raises(tarnix.TimeoutError, match=r"^cannot connect to 127\.0\.0\.1:1: "):
        tarnix.Module("127.0.0.1", tcp_port=1).read(0)


def test_info_stop_and_scan(sim):
    s = sim("--mac", "02:00:5E:10:20:30", "--version-register", "0x0A0B0C0D",
            "--slave", "A24:0x100000-0x10FFFF", "--slave", "A24:0x540000-0x55FFFF")
    with s.module() as m:
        info = m.info()
        assert {k: info[k] for k in ("mac", "ip", "tcp_port", "udp_port", "keep_alive", "version")} == {
            "mac": "02:00:5E:10:20:30", "ip": "127.0.0.1", "tcp_port": s.tcp, "udp_port": s.udp,
            "keep_alive": True, "version": "0A0B0C0D"}
        assert info["text"] == s.ctl("-a", "127.0.0.1", "--udp-port", str(s.udp), "info")
        m.enable(["Polling", "Interrupt3"])
        m.stop()
        assert m.scan() == [0x100000, 0x540000, 0x550000]
        assert m.scan(from_=0x540000, to=0x54FFFF, step=0x4000) == [0x540000, 0x544000, 0x548000, 0x54C000]


def test_reports_in_batches_with_their_fields(sim):
    s = sim("--reports", "1000", "--report-items", "2", "--report-interrupt", "--report-level", "3",
            "--report-flow", "7", "--report-id", "9", "--report-address", "0x1234")
    with s.module() as m:
        batches = list(m.reports(count=1000, batch=300))
    assert [len(b) for b in batches][:3] == [300, 300, 300] or all(len(b) <= 300 for b in batches)
    r = np.concatenate(batches)
    assert len(r) == 1000 and (r["data"][:, 0] == np.arange(1000)).all()
    first = r[0]
    assert (first["id"], first["level"], first["polling"], first["flow"], first["address"], first["items"],
            first["status"], first["mode"]) == (9, 3, False, 7, 0x1234, 2, 0, 0x0A00)
    assert (np.diff(r["time"].astype(np.int64)) >= 0).all()


def test_reports_end_when_the_module_closes(sim):
    with sim("--reports", "5", "--close-after", "5").module() as m:
        reports = m.reports()
        assert len(next(reports)) == 5
        with pytest.raises(tarnix.TimeoutError, match="the module closed the connection"):
            next(reports)


def test_program_text_round_trip(sim, tmp_path):
    s = sim()
    source = tmp_path / "job.yaml"
    source.write_text(TEXT)
    s.ctl("program", "build", str(source), "-o", str(tmp_path / "job.prg"))
    built = tarnix.program.build(TEXT)
    assert built == (tmp_path / "job.prg").read_bytes()
    assert tarnix.program.show(built) == s.ctl("program", "show", str(tmp_path / "job.prg"))
    with pytest.raises(tarnix.FileError) as refused:
        tarnix.program.build(TEXT.replace("length: 2", "length: 99"))
    assert str(refused.value) == "9:80: Please set Length(0-63) correctly."


def test_download_then_record_the_programs_reports(sim, tmp_path):
    s = sim()
    with s.module() as m:
        m.write(0x00200000, [0xA, 0xB])
        written = m.download(TEXT)
        (tmp_path / "job.yaml").write_text(TEXT)
        assert f"verified {written} bytes\n" == s.ctl("-a", "127.0.0.1", "--udp-port", str(s.udp), "download",
                                                       str(tmp_path / "job.yaml"), "--verify")
        counts = m.record(str(tmp_path / "run.pcapng"), count=20, program=str(tmp_path / "job.yaml"))
        m.stop()
        with pytest.raises(tarnix.FileError, match="exists: give force=True"):
            m.record(str(tmp_path / "run.pcapng"), count=1)
        with pytest.raises(tarnix.FileError, match=r"^9:80: Please set Length"):
            m.download(TEXT.replace("length: 2", "length: 99"))
    run = tarnix.RunFile(str(tmp_path / "run.pcapng"))
    r = run.reports()
    assert counts == {"reports": 20, "bytes": 10 * 20 + 10 * 24, "reason": "count"}
    # The rows of two items before the first of three are laid out again, three columns wide.
    assert len(r) == 20 and (r["items"] == np.where(r["id"] == 1, 2, 3)).all()
    assert r["data"].tolist() == [[0xA, 0xB, 0]] * 20
    assert run.header["program_text"] == tarnix.program.show(TEXT) and run.end["reason"] == "count"


def test_run_file_of_tarnixctl_reads_back_the_same_reports(sim, tmp_path):
    s = sim("--reports", "3000", "--report-items", "2", "--report-id", "7")
    path = str(tmp_path / "flood.pcapng")
    s.ctl("-a", "127.0.0.1", "--tcp-port", str(s.tcp), "record", path, "--count", "3000")
    csv = s.ctl("decode", path, "--format", "csv").splitlines()[1:]
    run = tarnix.RunFile(path)
    r = run.reports()
    assert [(int(c.split(",")[1]), int(c.split(",")[12])) for c in csv] == list(zip(r["id"].tolist(),
                                                                                     r["data"][:, 0].tolist()))
    assert (r["data"][:, 0] == np.arange(3000)).all() and not run.cut
    assert sum(len(b) for b in run.batches(1000)) == 3000 and run.end["reports"] == 3000


def test_run_a_sequence_as_tarnixctl_does(sim, tmp_path):
    import subprocess
    from conftest import CTL
    s = sim()
    seq = tmp_path / "crate.yaml"
    seq.write_text("defaults: {address mode: A32, data mode: D32, access mode: User Data}\n"
                   "steps:\n"
                   "  - write: {address: 0x00100000, data: [0x1, 0x2]}\n"
                   "  - read: {address: 0x00100000, count: 2, expect: [0x1, 0x2]}\n"
                   "  - read: {address: 0x00100000, count: 1, expect: 0x5}\n")
    ctl = subprocess.run([CTL, "-a", "127.0.0.1", "--tcp-port", str(s.tcp), "--udp-port", str(s.udp), "run",
                          str(seq)], capture_output=True, text=True, timeout=60)
    with s.module() as m:
        with pytest.raises(tarnix.VmeError) as failed:
            m.run(str(seq))
    assert ctl.returncode == 1 and ctl.stderr == "tarnixctl: " + str(failed.value) + "\n"
    with pytest.raises(tarnix.FileError, match="nothing was sent"):
        s.module().run(str(tmp_path / "missing.yaml"))
    seq.write_text("\n".join(seq.read_text().splitlines()[:-1]) + "\n")
    assert s.module().run(str(seq)) == s.ctl("-a", "127.0.0.1", "--tcp-port", str(s.tcp), "run", str(seq)).splitlines()


def test_program_check_warns_as_tarnixctl(sim, tmp_path):
    import subprocess
    from conftest import CTL
    text = TEXT.replace("events: [Polling]", "events: []")
    (tmp_path / "quiet.yaml").write_text(text)
    ctl = subprocess.run([CTL, "program", "check", str(tmp_path / "quiet.yaml")], capture_output=True, text=True,
                         timeout=60)
    warnings = tarnix.program.check(text, str(tmp_path / "quiet.yaml"))
    assert ctl.returncode == 1 and ctl.stdout.splitlines() == [w["text"] for w in warnings] and warnings
    assert tarnix.program.check(TEXT) == []
