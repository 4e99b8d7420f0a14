# The package against the CLI and the simulated bench: recordings, streams, failures, argument
# checks, Ctrl-C and the digital lines.
import json
import os
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import quillbox
from conftest import COUNTER_BENCH, run, run_python


def tasks():
    return len(os.listdir("/proc/self/task"))


def codes_of(values, scales):
    return np.rint(values.astype(np.float64) * scales).astype(np.int64)


def test_a_recording_matches_the_cli_csv_of_the_same_bench(tmp_path):
    channels = [0, 4, 16, 26]  # counter, constant, counter byte, constant
    csv = tmp_path / "cli.csv"
    cli = run([os.environ["QUILLBOX_CLI"], "record", "-c", "0,4,16,26", "-r", "50", "-n", "120",
               "-o", csv])
    assert cli.returncode == 0, cli.stderr
    header = csv.read_text().splitlines()[0].split(",")
    rows = np.loadtxt(csv, delimiter=",", skiprows=1)
    sidecar = json.loads(csv.with_name("cli.csv.json").read_text())

    ticks, done = [], threading.Event()  # another thread runs while record() waits
    ticker = threading.Thread(target=lambda: [ticks.append(1) for _ in iter(
        lambda: done.wait(0.001), True)])
    with quillbox.open() as m:
        ticker.start()
        rec = m.record(channels, rate=50, frames=120)
        done.set()
        raw = m.record(channels, rate=50, frames=3, raw=True)
        now = m.read([4, 26])
    ticker.join()
    assert len(ticks) > 20
    assert rec.values.shape == (120, 4) and rec.values.dtype == np.float32
    assert raw.values.shape == (3, 4) and raw.values.dtype == np.int16
    assert rec.time.dtype == np.float64
    np.testing.assert_allclose(rec.time, rows[:, 1], atol=1e-6)
    assert header[2:] == [f"{n} ({u})" for n, u in zip(rec.names, rec.units)]
    assert [rec.rate, rec.channels, rec.names, rec.units, rec.scales, rec.serial] == [
        sidecar[k] for k in ("rate", "channels", "names", "units", "scales", "serial")]
    assert rec.start_utc.utcoffset().total_seconds() == 0
    # The counters run per process, so only their steps compare; the constants compare as values.
    for values in (rec.values, rows[:, 2:]):
        codes = codes_of(values, rec.scales)
        assert np.all(np.diff(codes[:, 0]) == 1) and np.all(np.diff(codes[:, 2]) % 256 == 1)
        np.testing.assert_allclose(values[:, [1, 3]], rows[:1, [3, 5]].repeat(len(values), 0),
                                   rtol=1e-6)
    np.testing.assert_allclose(now, rows[0, [3, 5]], rtol=1e-6)
    assert now.dtype == np.float32


def test_a_stream_runs_without_a_gap_over_several_ring_wraps():
    with quillbox.open() as m:
        blocks = []
        for block in m.stream([0, 16], rate=100.0, raw=True, ring=100):
            assert block.dtype == np.int16 and block.shape[1] == 2
            blocks.append(block)
            if sum(map(len, blocks)) >= 600:
                break
        assert not m.busy  # leaving the loop stopped the recording
        counter = np.concatenate(blocks)[:, 0].astype(np.int64)
        assert np.all(np.diff(counter) % 65536 == 1)

        # Closing the module stops a recording in progress and its thread.
        idle = tasks()
        stream = m.stream([0], rate=100.0)
        next(stream)
        assert tasks() > idle
        m.close()
        assert tasks() == idle
        with pytest.raises(quillbox.Error):
            next(stream)


@pytest.mark.parametrize("bench, statement, text", [
    ({"modules": []}, "quillbox.open(bench=bench)", "No found E-270 on USB or COM ports!"),
    (COUNTER_BENCH, "quillbox.open(device='99999999', bench=bench)",
     'device "99999999" names no attached E-270 module'),
    ({"modules": [{"attach": "usb9"}]}, "quillbox.open(bench=bench)", "bench file "),
])
def test_failures_carry_the_component_text(tmp_path, bench, statement, text):
    path = tmp_path / "bench.json"
    path.write_text(json.dumps(bench))
    child = run_python("import sys, quillbox\nbench = sys.argv[1]\n"
                       f"try: {statement}\n"
                       "except quillbox.Error as e: print(e, getattr(e, 'recording', ''))", path)
    assert child.stdout.startswith(text), child.stdout + child.stderr


@pytest.mark.parametrize("call, error, message", [
    (lambda m: m.record([32], frames=1), ValueError, "32 is not a channel 0..31"),
    (lambda m: m.record("0,1", frames=1), TypeError, "not a string"),
    (lambda m: m.record([0.5], frames=1), TypeError, "must be integers"),
    (lambda m: m.record([], frames=1), ValueError, "empty"),
    (lambda m: m.record([0], rate="fast", frames=1), TypeError, "rate: a number"),
    (lambda m: m.record([0], frames=0), ValueError, "frames: 0"),
    (lambda m: m.record([0], frames=1, seconds=1), TypeError, "frames or seconds"),
    (lambda m: m.record([0], seconds=-1), ValueError, "seconds: -1"),
    (lambda m: m.stream([0], ring=1.5), TypeError, "ring: an integer"),
    (lambda m: setattr(m.dio, "outputs", 256), ValueError, "at most 255"),
    (lambda m: quillbox.open(bench="/elsewhere.json"), ValueError, "read once per process"),
    (lambda m: quillbox.open(), quillbox.Error, "already open"),
])
def test_argument_errors(call, error, message):
    with quillbox.open() as m:
        with pytest.raises(error, match=message):
            call(m)
        assert not m.busy
        # A refused call changes nothing: the next recording with the stored settings works.
        assert len(m.record(frames=2)) == 2


def test_a_star_import_keeps_the_builtin_open_and_the_version_is_the_command_s():
    names = {}
    exec("from quillbox import *", names)
    assert "open" not in names and "Module" in names
    version = run([os.environ["QUILLBOX_CLI"], "--version"]).stdout.split()
    assert version == ["quillbox", quillbox.__version__]


@pytest.mark.parametrize("wait", ["record", "stream"])
def test_ctrl_c_stops_the_recording_and_leaves_no_thread(wait):
    code = """if True:
        import json, os, sys, threading, quillbox
        tasks = lambda: len(os.listdir("/proc/self/task"))
        with quillbox.open() as m:
            idle = tasks()
            try:
                if sys.argv[1] == "record":
                    print("started", flush=True)
                    m.record([0], rate=100.0, seconds=1e4)
                for block in m.stream([0], rate=100.0):
                    print("started", flush=True)
            except KeyboardInterrupt:
                print(json.dumps([m.busy, tasks() - idle, threading.active_count()]))
    """
    child = subprocess.Popen([sys.executable, "-c", code, wait], stdout=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "started\n"
        time.sleep(0.3)  # well inside the recording's wait
        child.send_signal(signal.SIGINT)
        out, _ = child.communicate(timeout=10)
    finally:
        child.kill()
    assert child.returncode == 0
    assert json.loads(out.splitlines()[-1]) == [False, 0, 1]


def test_digital_outputs_read_back_on_a_loop_back_bench():
    with quillbox.open() as m:
        assert (m.dio.input_bits, m.dio.output_bits) == (8, 8)
        for value in (0x00, 0x0F, 0xA5, 0xFF):
            m.dio.outputs = value
            assert (m.dio.outputs, m.dio.inputs) == (value, value)
