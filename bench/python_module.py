# The Python module's figures, each against the C++ path on the same tarnix-sim in one run:
#  - m.read of one D32 item: median against the command client's round trip (bench_readpeer);
#  - m.reports() into numpy from the sim's flood: reports/s against tarnixctl listen --raw;
#  - RunFile(...).reports() of a run file of N reports (recorded by tarnixctl record): reports/s.
#  /usr/bin/python3 bench/python_module.py [build dir] [reports] [run reports]
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
reports = int(sys.argv[2]) if len(sys.argv) > 2 else 2_000_000
run_reports = int(sys.argv[3]) if len(sys.argv) > 3 else 10_000_000
sys.path.insert(0, os.path.join(build, "python", "module"))
import numpy as np  # noqa: E402
import tarnix  # noqa: E402

SIM = os.path.join(build, "sim", "tarnix-sim")
CTL = os.path.join(build, "ctl", "tarnixctl")


def start(*options):
    p = subprocess.Popen([SIM, "--address", "127.0.0.1", "--tcp-port", "0", "--udp-port", "0", *options],
                         stdout=subprocess.PIPE, text=True)
    tcp = int(re.search(r"tcp=\S+:(\d+)", p.stdout.readline()).group(1))
    return p, tcp


sim, tcp = start()
try:
    with tarnix.Module("127.0.0.1", tcp_port=tcp) as m:
        us = []
        for _ in range(1000):
            t = time.perf_counter_ns()
            m.read(0x1000)
            us.append((time.perf_counter_ns() - t) / 1000)
    py_median = statistics.median(us)
    cpp = subprocess.run([os.path.join(build, "bench", "bench_readpeer"), str(tcp), "1000"],
                         capture_output=True, text=True, check=True).stdout
    cpp_median = float(re.search(r"median ([\d.]+)", cpp).group(1))
    print(f"read (one D32 item): m.read median {py_median:.1f} us, C++ client {cpp_median:.1f} us, "
          f"ratio {py_median / cpp_median:.2f}")
finally:
    sim.kill()

sim, tcp = start("--reports", "0")
try:
    out = subprocess.run([CTL, "-a", "127.0.0.1", "--tcp-port", str(tcp), "listen", "--raw", "/dev/null",
                          "--count", str(reports)], capture_output=True, text=True, check=True).stderr
    raw = float(re.search(r"\((\d+) reports/s\)", out).group(1))
    with tarnix.Module("127.0.0.1", tcp_port=tcp) as m:
        t = time.perf_counter()
        n = sum(len(b) for b in m.reports(count=reports))
        py = n / (time.perf_counter() - t)
    print(f"reports: m.reports() {py:,.0f} reports/s, listen --raw {raw:,.0f} reports/s, {py / raw:.0%}")

    path = os.path.join(tempfile.mkdtemp(), "run.pcapng")
    subprocess.run([CTL, "-a", "127.0.0.1", "--tcp-port", str(tcp), "record", path, "--count", str(run_reports)],
                   capture_output=True, check=True)
finally:
    sim.kill()
# Wall clock and this process's CPU time: on a loaded machine the first says more of the load.
best = best_cpu = 0.0
for _ in range(3):
    t, c = time.perf_counter(), time.process_time()
    r = tarnix.RunFile(path).reports()
    best = max(best, len(r) / (time.perf_counter() - t))
    best_cpu = max(best_cpu, len(r) / (time.process_time() - c))
assert len(r) == run_reports and (r["data"][:, 0] == np.arange(run_reports) % 2**32).all()
print(f"run file: RunFile.reports() of {run_reports:,} reports: {best:,.0f} reports/s "
      f"({best_cpu:,.0f} per CPU second; {os.path.getsize(path) / 1e6:.0f} MB)")
os.remove(path)
