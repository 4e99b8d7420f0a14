# The session's environment, set before the component loads: a private registry store, runtime
# folder and settings folder (as every C++ test process gets), the module's clock 20 times faster,
# and one counting bench whose outputs read back as its inputs.
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

import quillbox

SCALE = "20"
# Slot 0 a "U20" whose first channel (0) reads the frame number, slot 2 a "U10" at 5 V
# (channel 4), direct input 0 (channel 16) the frame number's low byte, TTL line 2 (channel 26)
# high.
COUNTER_BENCH = {"modules": [{
    "attach": "usb0", "serial": "27000999",
    "slots": [{"type": 11}, None, {"type": 10}],
    "signals": {"m0": {"kind": "counter"}, "m4": {"kind": "constant", "value": 5.0},
                "ad0": {"kind": "counter"}, "ttl2": {"kind": "constant", "value": 1}},
    "dio": {"outputs_to_inputs": True}}]}


@pytest.fixture(scope="session", autouse=True)
def private_environment(tmp_path_factory):
    home = tmp_path_factory.mktemp("home")
    bench = home / "counter.json"
    bench.write_text(json.dumps(COUNTER_BENCH))
    os.environ.update({
        "HOME": str(home), "XDG_CONFIG_HOME": str(home / "config"),
        "QUILLBOX_REGISTRY": str(home / "registry.sqlite3"),
        "QUILLBOX_RUNTIME_DIR": str(home / "runtime"),
        "QUILLBOX_TIME_SCALE": SCALE, "QUILLBOX_BENCH": str(bench),
        "QT_QPA_PLATFORM": "offscreen"})
    os.environ.pop("QUILLBOX_DEVICE", None)
    # The command of the same build tree: the package is in <build>/python, the command in bin/.
    os.environ.setdefault("QUILLBOX_CLI", str(Path(quillbox.__file__).parents[2] / "bin/quillbox"))
    return home


def run(args, **kwargs):
    """Runs a child process in the session's environment; returns the finished process."""
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=60,
                          check=False, **kwargs)


def run_python(code, *args):
    return run([sys.executable, "-c", code, *args])
