# HDF5 recordings: the same values and description as the CSV of the same bench, readable while
# they grow and after the writer was killed, a whole file after a write error, and Python's load
# and save; the plug-ins that HDF5 files and database copies need, missing or foreign. On the
# counter bench channel 0 reads the frame number, so its codes are 0, 1, 2, ...
import json
import os
import shutil
import signal
import subprocess
import time
from pathlib import Path

import h5py
import numpy as np
import pytest

import quillbox
from conftest import run

CHANNELS = "0,4,16,26"  # counter, constant, counter byte, constant


def record(path, *extra, channels=CHANNELS, frames=300):
    r = run([os.environ["QUILLBOX_CLI"], "record", "-c", channels, "-r", "100", "-n", frames,
             "-o", path, *extra])
    assert r.returncode == 0, r.stderr
    return path


def counts(values, scale):
    """Channel 0's codes: the frame numbers."""
    return np.rint(np.asarray(values, np.float64) * scale).astype(np.int64)


def plain(value):
    """An attribute as the description's JSON has it (fixed-length strings come as bytes)."""
    if isinstance(value, bytes):
        return value.decode()
    return value.tolist() if isinstance(value, np.ndarray) else getattr(value, "item", lambda: value)()


@pytest.mark.parametrize("extra", [[], ["--raw"], ["--compress"]])
def test_values_and_description_equal_the_csv_of_the_same_bench(tmp_path, extra):
    csv = record(tmp_path / "run.csv", *[e for e in extra if e != "--compress"])
    h5 = record(tmp_path / "run.h5", *extra)
    rows = np.loadtxt(csv, delimiter=",", skiprows=1)
    described = json.loads((tmp_path / "run.csv.json").read_text())
    with h5py.File(h5, "r") as f:
        values = f["values"]
        if "--raw" in extra:
            assert values.dtype == np.int16
            assert np.array_equal(values[:], rows[:, 2:])
        else:
            assert values.dtype == np.float32
            np.testing.assert_allclose(values[:], rows[:, 2:], rtol=1e-6)
        assert values.maxshape == (None, 4)
        assert (values.compression, values.shuffle) == (
            ("gzip", True) if "--compress" in extra else (None, False))
        assert plain(values.attrs["scale"]) == described["scales"]
        assert plain(values.attrs["offset"]) == [0.0] * 4
        attributes = {k: plain(v) for k, v in f.attrs.items()}
    expected = dict(described, error="", gap=None, start_utc=attributes["start_utc"],
                    uid=attributes["uid"])
    assert dict(attributes, gap=None) == expected
    assert attributes["stop_reason"] == "end" and attributes["frames"] == 300


def test_a_recording_reads_while_it_grows_and_keeps_every_flushed_frame_when_killed(tmp_path):
    h5 = tmp_path / "live.h5"
    cli = os.environ["QUILLBOX_CLI"]
    # No sync for an hour: what readers see is what each poll flushed.
    writer = subprocess.Popen([cli, "record", "-c", CHANNELS, "-r", "100", "-d", "100000",
                               "--sync-every", "3600", "-o", h5],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    try:
        seen = []
        deadline = time.monotonic() + 20
        while len(seen) < 2 and time.monotonic() < deadline:
            time.sleep(0.3)
            try:
                with h5py.File(h5, "r", libver="latest", swmr=True) as f:
                    values, scale = f["values"][:], f.attrs["scales"][0]
                    assert not f.attrs["complete"] and f.attrs["stop_reason"] == b"recording"
            except (OSError, KeyError):  # not made yet
                continue
            assert np.array_equal(counts(values[:, 0], scale), np.arange(len(values)))
            if len(values) > (seen[-1] if seen else 0):
                seen.append(len(values))
        assert len(seen) == 2, "the file did not grow while recording"

        # The plot and Python read it too; a second recording to the same name is refused.
        live = run([cli, "plot", h5, "-o", tmp_path / "live.png"])
        assert live.returncode == 0 and "incomplete recording" in live.stderr, live.stderr
        assert (tmp_path / "live.png").stat().st_size > 0
        with pytest.warns(quillbox.RecordingWarning, match="incomplete"):
            assert len(quillbox.load(h5)) >= seen[-1]
        second = run([cli, "record", "-c", "0", "-n", "10", "--force", "-o", h5])
        assert second.returncode == 1 and "being written by another recording" in second.stderr

        # Stopped, it writes nothing more: what a reader sees then is what it flushed.
        writer.send_signal(signal.SIGSTOP)
        time.sleep(0.3)
        with h5py.File(h5, "r", libver="latest", swmr=True) as f:
            flushed = f["values"][:]
    finally:
        writer.kill()
        writer.wait()

    # A plain open refuses the flags the killed writer left, reading it as a recording in
    # progress does not; h5clear -s makes it plain again.
    with pytest.raises(OSError, match="already open for write"):
        h5py.File(h5, "r")
    with pytest.warns(quillbox.RecordingWarning, match="incomplete"):
        loaded = quillbox.load(h5)
    assert loaded.stop_reason == "recording" and not loaded.complete
    np.testing.assert_array_equal(loaded.values, flushed)
    assert len(flushed) >= seen[-1]
    assert np.array_equal(counts(flushed[:, 0], loaded.scales[0]), np.arange(len(flushed)))
    assert run(["h5clear", "-s", h5]).returncode == 0
    with h5py.File(h5, "r") as f:
        np.testing.assert_array_equal(f["values"][:], flushed)


def test_a_write_error_ends_the_recording_with_a_whole_file_that_says_so(tmp_path):
    h5 = tmp_path / "full.h5"
    r = run(["/usr/bin/prlimit", "--fsize=400000", os.environ["QUILLBOX_CLI"], "record", "-c",
             "0,1,4,5,16-31", "-r", "100", "-d", "100000", "--raw", "-o", h5])
    assert r.returncode == 1
    assert f"quillbox: cannot write {h5}: File too large" in r.stderr
    with h5py.File(h5, "r") as f:  # closed cleanly: no flags left
        codes = f["values"][:]
        a = f.attrs
        assert (a["stop_reason"], a["complete"], a["frames"]) == (b"write error", True,
                                                                   len(codes))
        assert b"File too large" in a["error"]
    assert len(codes) > 1000 and np.array_equal(codes[:, 0], np.arange(len(codes)))
    assert quillbox.load(h5).stop_reason == "write error"


def test_load_and_save_go_through_hdf5_as_through_csv(tmp_path):
    from_csv = quillbox.load(record(tmp_path / "run.csv"))
    from_h5 = quillbox.load(record(tmp_path / "run.h5"))
    np.testing.assert_allclose(from_h5.values, from_csv.values, rtol=1e-6)
    np.testing.assert_allclose(from_h5.time, from_csv.time, atol=1e-6)
    for name in ("names", "units", "channels", "scales", "rate", "serial", "stop_reason",
                 "complete", "frames_expected"):
        assert getattr(from_h5, name) == getattr(from_csv, name), name
    part = quillbox.load(tmp_path / "run.h5", channels=["AD-Ch1", 0])
    assert part.names == ["AD-Ch1", "M1-Ch1_U20"]
    np.testing.assert_array_equal(part.values, from_h5.values[:, [2, 0]])

    # Saved from codes: the CSV's values become exactly the HDF5 recording's.
    copy = tmp_path / "copy.h5"
    from_csv.save(copy)
    np.testing.assert_array_equal(quillbox.load(copy).values, from_h5.values)
    with pytest.raises(quillbox.Error, match="exists"):
        from_csv.save(copy)
    from_csv.save(copy, force=True)

    with quillbox.open() as m:
        raw = m.record([0, 16], rate=100, frames=50, raw=True)
    raw.save(tmp_path / "raw.h5")
    with h5py.File(tmp_path / "raw.h5", "r") as f:
        assert f["values"].dtype == np.int16 and f.attrs["raw"]
        np.testing.assert_array_equal(f["values"][:], raw.values)


def test_hdf5_options_that_cannot_work_are_refused(tmp_path):
    cli = os.environ["QUILLBOX_CLI"]
    r = run([cli, "record", "-n", "5", "--format", "hdf5", "-o", "-"])
    assert r.returncode == 2 and "standard output" in r.stderr
    r = run([cli, "record", "-n", "5", "--compress", "-o", tmp_path / "x.csv"])
    assert r.returncode == 2 and "--compress" in r.stderr
    taken, none = tmp_path / "taken.h5", tmp_path / "none.json"
    taken.write_bytes(b"old")
    none.write_text('{"modules": []}')  # a module opened first would say so
    r = run([cli, "--bench", none, "record", "-n", "5", "-o", taken])
    assert r.returncode == 1 and "exists" in r.stderr and taken.read_bytes() == b"old"


# The command copied without the plug-in (or with another library in its place) says so in one
# line naming the file, before anything is written, and never crashes.
@pytest.mark.parametrize("plugin, stand_in, args, said", [
    ("QuillboxHdf5.so", None, ["record", "-n", "5", "-o", "x.h5"], "cannot open shared object"),
    ("QuillboxHdf5.so", "libE270API.so", ["record", "-n", "5", "-o", "x.h5"],
     "does not belong to this build"),
    ("QuillboxDatabase.so", None, ["record", "-r", "10", "-n", "5", "--to", "dbname=x", "-o",
                                   "x.csv"], "cannot open shared object"),
    ("QuillboxDatabase.so", None, ["upload", "x.csv", "--to", "dbname=x"],
     "cannot open shared object"),
])
def test_a_missing_or_foreign_plugin_is_refused_in_one_line(tmp_path, plugin, stand_in, args,
                                                            said):
    built = Path(os.environ["QUILLBOX_CLI"]).parent
    for name in ("quillbox", "libquillbox_platform.so", "libquillbox_registry.so",
                 "libquillbox_host.so", "Quillbox.adc", "libE270API.so"):
        shutil.copy2(built / name, tmp_path / name)
    if stand_in:
        shutil.copy2(built / stand_in, tmp_path / plugin)
    r = run([tmp_path / "quillbox", *args], cwd=tmp_path)
    assert r.returncode == 1, r.stderr
    assert r.stderr.count("\n") == 1 and f"{tmp_path}/{plugin}" in r.stderr, r.stderr
    assert said in r.stderr, r.stderr
    assert not list(tmp_path.glob("x.*"))
