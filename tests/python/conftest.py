# The software module for the tests: tarnix-sim on 127.0.0.1 with ports picked by the system,
# started per test with the options it needs.
import os
import re
import subprocess
import tempfile

import pytest

SIM = os.environ.get("TARNIX_SIM", "build/sim/tarnix-sim")
CTL = os.environ.get("TARNIXCTL", "build/ctl/tarnixctl")


class Sim:
    def __init__(self, *options):
        self.errors = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            [SIM, "--address", "127.0.0.1", "--tcp-port", "0", "--udp-port", "0", *options],
            stdout=subprocess.PIPE, stderr=self.errors, text=True)
        line = self.process.stdout.readline()
        found = re.match(r"tarnix-sim listening: tcp=\S+:(\d+) udp=\S+:(\d+)", line)
        if not found:
            self.stop()
            self.errors.seek(0)
            raise RuntimeError("tarnix-sim did not start: " + line + self.errors.read().decode())
        self.tcp, self.udp = int(found.group(1)), int(found.group(2))

    def module(self, **options):
        import tarnix
        return tarnix.Module("127.0.0.1", tcp_port=self.tcp, udp_port=self.udp, **options)

    def ctl(self, *args, text=True):
        return subprocess.run([CTL, *args], capture_output=True, text=text, timeout=60, check=True).stdout

    def stop(self):
        self.process.kill()
        self.process.wait(timeout=10)


@pytest.fixture
def sim():
    started = []

    def start(*options):
        started.append(Sim(*options))
        return started[-1]

    yield start
    for s in started:
        s.stop()
