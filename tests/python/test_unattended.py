"""Recordings that run unattended, through `quillbox record`: segments that rotate and are
deleted beyond --keep with every frame numbered on, a module that goes away and comes back
under --reconnect, and a clean stop before the disk fills."""
import csv
import json
import os

from conftest import COUNTER_BENCH, run


def segments(out):
    index = json.loads(out.with_name(out.stem + ".index.json").read_text())
    kept = []
    for s in index["segments"]:
        path = out.with_name(s["file"])
        rows = list(csv.reader(path.open()))[1:]
        description = json.loads(path.with_name(path.name + ".json").read_text())
        kept.append((s, rows, description))
    # One recording however many segments, runs and reconnections: one uid.
    assert {d["uid"] for _, _, d in kept} == {index["uid"]} and len(index["uid"]) == 32
    return index, kept


def check_segment(s, rows, description):
    # Each file holds its frames in order, numbered from its first, the counter stepping by one,
    # and says so on its own.
    assert [int(r[0]) for r in rows] == list(range(s["first_frame"], s["first_frame"] + s["frames"]))
    counter = [round(float(r[2]) * 1638.4) for r in rows]
    assert all(b - a == 1 for a, b in zip(counter, counter[1:]))
    assert description["complete"] and description["frames"] == s["frames"]
    assert description["first_frame"] == s["first_frame"]
    assert description["stop_reason"] == s["stop_reason"]


def test_rotation_numbers_frames_on_and_keeps_the_newest_segments(tmp_path):
    out = tmp_path / "run.csv"
    r = run([os.environ["QUILLBOX_CLI"], "record", "-c", "0", "-r", "100", "-d", "12",
             "--rotate", "1s", "--keep", "3", "-o", out])
    assert r.returncode == 0, r.stderr
    index, kept = segments(out)
    assert index["complete"] and index["deleted_segments"] == 9
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(
        [f"run-0000{n}.csv{j}" for n in (10, 11, 12) for j in ("", ".json")] + ["run.index.json"])
    assert [s["first_frame"] for s, _, _ in kept] == [900, 1000, 1100]
    assert [s["stop_reason"] for s, _, _ in kept] == ["rotated", "rotated", "end"]
    for s, rows, description in kept:
        assert s["frames"] == 100 == description["frames_expected"]
        check_segment(s, rows, description)
    # No frame lost or repeated at the boundaries: the counter runs on from file to file.
    ends = [(round(float(rows[0][2]) * 1638.4), round(float(rows[-1][2]) * 1638.4))
            for _, rows, _ in kept]
    assert all(b[0] == a[1] + 1 for a, b in zip(ends, ends[1:]))


def test_reconnect_goes_on_through_two_replugs_and_records_each_gap(tmp_path):
    bench = json.loads(json.dumps(COUNTER_BENCH))
    bench["modules"][0]["faults"] = {"unplug_after_s": 3, "replug_after_s": 1}
    path = tmp_path / "bench.json"
    path.write_text(json.dumps(bench))
    out = tmp_path / "run.csv"
    r = run([os.environ["QUILLBOX_CLI"], "--bench", path, "record", "-c", "0,16", "-r", "100",
             "-d", "60", "--reconnect", "-o", out])
    assert r.returncode == 0, r.stderr
    index, kept = segments(out)
    assert index["complete"] and len(kept) >= 3
    # Each segment but the last was followed by a wait; the last one too when the recording's
    # time ran out while the module was away.
    assert r.stderr.count("waiting for the module 27000999 to come back") in (len(kept) - 1,
                                                                             len(kept))
    for (a, _, _), (b, _, description) in zip(kept, kept[1:]):
        # Frames are numbered by the module's time: the gap's frames lie between the segments.
        assert a["stop_reason"] == "stalled" and b["gap"]["frames"] > 0
        assert b["first_frame"] == a["first_frame"] + a["frames"] + b["gap"]["frames"]
        assert description["gap"] == b["gap"]
    for s, rows, description in kept:
        check_segment(s, rows, description)
    # Every frame delivered is on disk: the summary counts what the files hold.
    assert f"Recorded {sum(s['frames'] for s, _, _ in kept)} frames" in r.stdout


def test_min_free_ends_the_recording_before_the_disk_fills(tmp_path):
    out = tmp_path / "run.csv"
    r = run([os.environ["QUILLBOX_CLI"], "record", "-c", "0", "-r", "100", "-d", "5",
             "--min-free", "1000TB", "-o", out])
    assert r.returncode == 1
    assert "less than the 1e+03 TB to keep free (--min-free)" in r.stderr
    description = json.loads(out.with_name("run.csv.json").read_text())
    assert description["stop_reason"] == "low disk" and description["complete"]
    assert description["frames"] == len(out.read_text().splitlines()) - 1


def test_append_continues_an_earlier_recording_in_new_segments(tmp_path):
    # A restarted service goes on where the last run ended: refused without --append, and at
    # another rate.
    out = tmp_path / "run.csv"
    record = [os.environ["QUILLBOX_CLI"], "record", "-c", "0", "-d", "2", "--rotate", "1s",
              "-o", out]
    assert run(record + ["-r", "100"]).returncode == 0
    assert "--append to continue it" in run(record + ["-r", "100"]).stderr
    assert "records at 100 Hz, not 50 Hz" in run(record + ["-r", "50", "--append"]).stderr
    r = run(record + ["-r", "100", "--append"])
    assert r.returncode == 0, r.stderr
    index, kept = segments(out)
    assert [s["file"] for s, _, _ in kept] == [f"run-00000{n}.csv" for n in range(1, 5)]
    assert kept[2][0]["gap"] is not None and kept[2][0]["first_frame"] >= 200
    for s, rows, description in kept:
        check_segment(s, rows, description)
