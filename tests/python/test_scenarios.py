"""One table of recording scenarios, run through every front end: `quillbox record`, the scope's
recorder (`quillbox scope --record`, offscreen) and Python's ``Module.record``. Each must end
the same way: the same stop reason, error, units and frame accounting in the description, the
same message, and the matching exit status or exception."""
import json
import os
import signal
import subprocess
import sys
import time

import pytest

from conftest import COUNTER_BENCH

def bench_with(**faults):
    bench = json.loads(json.dumps(COUNTER_BENCH))
    bench["modules"][0]["faults"] = faults
    return bench


# name, bench faults, request, what every front end must show.
#   end: stop reason (None: refused before recording); error: part of the error (None: none);
#   said: part of a message each front end gives; exit: (cli, scope, python).
SCENARIOS = [
    ("clean", {}, dict(channels=[0, 16], rate=100, seconds=1),
     dict(end="end", error=None, said=None, exit=(0, 0, "ok"), units=["V", "V"])),
    ("raw codes", {}, dict(channels=[0, 16], rate=100, seconds=1, raw=True),
     dict(end="end", error=None, said=None, exit=(0, None, "ok"), units=["code", "code"])),
    ("rate above the highest", {}, dict(channels=[0], rate=1000, seconds=1),
     dict(end="end", error=None, exit=(0, 0, "ok"), units=["V"], rate=100,
          said="rate: 1000 Hz is above the highest rate, 100 Hz; recording at 100 Hz")),
    ("module unplugged", {"unplug_after_s": 1}, dict(channels=[0], rate=100, seconds=40),
     dict(end="stalled", error="the module stopped delivering data", exit=(1, 1, "Error"),
          said="the module stopped delivering data", units=["V"])),
    ("data calls failing", {"data_calls_fail": True}, dict(channels=[0], rate=100, seconds=40),
     dict(end="stalled", error="the module stopped delivering data (E270GetDATA failed)",
          said="E270GetDATA failed", exit=(1, 1, "Error"), units=["V"])),
    ("ctrl-c", {}, dict(channels=[0], rate=100, seconds=60, interrupt=True),
     dict(end="SIGINT", error=None, said=None, exit=(0, 0, "KeyboardInterrupt"), units=["V"])),
    ("rate 1e-9", {}, dict(channels=[0], rate=1e-9, seconds=1),
     dict(end=None, said="rate: 1e-09 Hz is below the lowest rate, 1e-05 Hz",
          exit=(2, 2, "ValueError"))),
    ("rate NaN", {}, dict(channels=[0], rate=float("nan"), seconds=1),
     dict(end=None, said="rate: nan Hz is not a usable frame rate", exit=(2, 2, "ValueError"))),
    ("empty slot", {}, dict(channels=[2], rate=100, seconds=1),
     dict(end=None, said="has no known mezzanine in its slot",
          exit=(1, 1, "Error"))),
    ("huge scan list", {}, dict(channels=list(range(32)) * 1025, rate=100, seconds=1),
     dict(end=None, said="channels: 32800 entries; at most 32767", exit=(2, 2, "ValueError"))),
]


def command_args(request, out, front):
    cli = os.environ["QUILLBOX_CLI"]
    channels = ",".join(str(c) for c in request["channels"])
    rate = format(request["rate"], "g")
    if front == "cli":
        args = [cli, "record", "-c", channels, "-r", rate, "-d", str(request["seconds"]),
                "-o", out]
        return args + (["--raw"] if request.get("raw") else [])
    return [cli, "scope", "-c", channels, "-r", rate, "--record", "-o", out,
            "--screenshot", out + ".png", "--after", str(request["seconds"])]


def run_command(front, request, bench, tmp_path):
    out = str(tmp_path / f"{front}.csv")
    env = dict(os.environ, QUILLBOX_BENCH=str(bench))
    child = subprocess.Popen(command_args(request, out, front), env=env, text=True,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if request.get("interrupt"):
        # Once the recording has described itself, Ctrl-C.
        deadline = time.monotonic() + 30
        while not os.path.exists(out + ".json") and time.monotonic() < deadline:
            time.sleep(0.01)
        time.sleep(0.3)
        child.send_signal(signal.SIGINT)
    stdout, stderr = child.communicate(timeout=60)
    description = json.loads(open(out + ".json").read()) if os.path.exists(out + ".json") else None
    return child.returncode, description, stderr


PYTHON_CHILD = r"""
import json, os, signal, sys, threading, warnings
import quillbox
request = json.loads(sys.argv[1])
request["rate"] = float(request["rate"])
interrupt = request.pop("interrupt", False)
said, result, recording = [], "ok", None
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    try:
        with quillbox.open() as m:
            if interrupt:
                threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
            recording = m.record(**request)
    except BaseException as e:
        result, recording = type(e).__name__, getattr(e, "recording", None)
        said.append(str(e))
said += [str(w.message) for w in caught]
description = None
if recording is not None:
    description = {"stop_reason": recording.stop_reason, "error": recording.error,
                   "units": recording.units, "frames": len(recording), "rate": recording.rate,
                   "frames_expected": recording.frames_expected}
print(json.dumps({"result": result, "said": said, "description": description}))
"""


def run_python(request, bench):
    env = dict(os.environ, QUILLBOX_BENCH=str(bench))
    child = subprocess.run([sys.executable, "-c", PYTHON_CHILD, json.dumps(request)], env=env,
                           capture_output=True, text=True, timeout=60)
    assert child.returncode == 0, child.stderr
    out = json.loads(child.stdout)
    return out["result"], out["description"], "\n".join(out["said"])


@pytest.mark.parametrize("front", ["cli", "scope", "python"])
@pytest.mark.parametrize("name, faults, request_, expect", SCENARIOS,
                         ids=[s[0] for s in SCENARIOS])
def test_every_front_end_ends_a_recording_the_same_way(tmp_path, front, name, faults, request_,
                                                       expect):
    cli_exit, scope_exit, python_result = expect["exit"]
    if front == "scope" and scope_exit is None:
        pytest.skip("the scope records values, not codes")
    bench = tmp_path / "bench.json"
    bench.write_text(json.dumps(bench_with(**faults)))
    if front == "python":
        result, description, said = run_python(request_, bench)
        assert result == python_result, said
    else:
        result, description, said = run_command(front, request_, bench, tmp_path)
        assert result == (cli_exit if front == "cli" else scope_exit), said
    if expect["said"]:
        assert expect["said"] in said
    if expect["end"] is None:
        assert description is None  # refused before anything was written or recorded
        return
    assert description["stop_reason"] == expect["end"], said
    if expect["error"] is None:
        assert description["error"] is None and expect["error"] is None
        # Every frame of the time it ran: a clean end holds what it expected, exactly.
        assert description["frames"] == description["frames_expected"] > 0
    else:
        assert expect["error"] in description["error"]
        assert expect["error"] in said
        assert description["frames"] < description["frames_expected"]
    assert description["units"] == expect["units"]
    if "rate" in expect:
        assert description["rate"] == expect["rate"]
