# %% [markdown]
# # The module from Python
#
# A notebook-sized session with the Python module `tarnix` (installed with the Debian package,
# or from a build tree with `PYTHONPATH=build/python/module`). Run it cell by cell in a notebook
# or whole with `/usr/bin/python3 docs/python_example.py`. Without a crate it starts `tarnix-sim`
# on 127.0.0.1 and talks to that.

# %%
import os
import re
import subprocess
import tempfile

import numpy as np

import tarnix

SIM = os.environ.get("TARNIX_SIM", "tarnix-sim")
# The module's reports: 10,000 of them, two D32 items each, report k carrying k in its first.
sim = subprocess.Popen([SIM, "--address", "127.0.0.1", "--tcp-port", "0", "--udp-port", "0",
                        "--reports", "10000", "--report-items", "2"],
                       stdout=subprocess.PIPE, text=True)
tcp, udp = map(int, re.match(r"tarnix-sim listening: tcp=\S+:(\d+) udp=\S+:(\d+)",
                             sim.stdout.readline()).groups())
m = tarnix.Module("127.0.0.1", tcp_port=tcp, udp_port=udp, timeout=1.0)

# %% [markdown]
# ## Read and write
# Items come back as a numpy array of the data mode's size.

# %%
m.write(0x00100000, [0x11, 0x22, 0x33, 0x44])
print(m.read(0x00100000, 4))                       # [17 34 51 68], uint32
print(m.read(0x00100000, 8, data_mode="D16"))      # the same bytes as 16-bit items
try:
    m.read(0x00100002)
except tarnix.ParameterError as e:
    print(e, hex(e.address))                       # The address must be 4byte aligned. 0x100002
print(m.info()["version"])

# %% [markdown]
# ## 10,000 reports into numpy, one item histogrammed

# %%
# The software module sends its 10,000 reports to every connection as it opens.
with tarnix.Module("127.0.0.1", tcp_port=tcp, udp_port=udp) as feed:
    reports = np.concatenate(list(feed.reports(count=10000)))
first = reports["data"][:, 0]
counts, edges = np.histogram(first, bins=10)
print(len(reports), "reports; first item histogram:", counts)
print(reports[:3])

# %% [markdown]
# ## A program text, downloaded and verified

# %%
job = """\
events: [Polling]
programs:
  - program: polling
    interval: 10 ms
    level: 2
    instructions:
      - {id: 1, address: 0x00100000, read/write: Read, data mode: D32, length: 2, access mode: User Data, address mode: A32}
"""
print(m.download(job, verify=True), "bytes verified")
print(tarnix.program.show(tarnix.program.build(job)))

# %% [markdown]
# ## A run file, recorded and read back

# %%
path = os.path.join(tempfile.mkdtemp(), "run.pcapng")
m.download(job)
print(m.record(path, seconds=0.5))
m.stop()
run = tarnix.RunFile(path)
r = run.reports()
print(run.header["tool"], len(r), "reports, ids", np.unique(r["id"]), "ended by", run.end["reason"])

# %%
m.close()
sim.kill()
sim.wait()
