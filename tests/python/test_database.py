# `record --to`: the recording's second copy in a real PostgreSQL server, a throw-away one per
# test module (Debian's initdb/pg_ctl) listening only on a Unix socket in a temporary folder. The
# server refuses to run as root, so as root it runs as "nobody".
import csv
import glob
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from pathlib import Path

import pytest

from conftest import run

BIN = sorted(glob.glob("/usr/lib/postgresql/*/bin"))
pytestmark = pytest.mark.skipif(not BIN or not os.path.exists(BIN[-1] + "/initdb")
                                or shutil.which("psql") is None,
                                reason="PostgreSQL server binaries not installed")


def as_server_user(args):
    return (["runuser", "-u", "nobody", "--"] if os.geteuid() == 0 else []) + [str(a) for a in args]


class Server:
    def __init__(self, folder):
        self.folder = folder
        self.data = folder / "data"
        self.socket = folder / "socket"
        self.socket.mkdir()
        if os.geteuid() == 0:
            shutil.chown(folder, "nobody")
            shutil.chown(self.socket, "nobody")
        r = subprocess.run(as_server_user([BIN[-1] + "/initdb", "-D", self.data, "-A", "trust",
                                           "-U", "postgres", "--no-sync"]),
                           capture_output=True, text=True, check=False)
        assert r.returncode == 0, r.stderr

    def start(self):
        r = subprocess.run(as_server_user([
            BIN[-1] + "/pg_ctl", "-D", self.data, "-w", "-l", self.folder / "log", "start", "-o",
            f"-k {self.socket} -c listen_addresses='' -c fsync=off"]),
            capture_output=True, text=True, check=False)
        assert r.returncode == 0, r.stderr + (self.folder / "log").read_text()

    def kill(self):
        """Kills the server outright, as a crash would."""
        pid = int((self.data / "postmaster.pid").read_text().split()[0])
        os.kill(pid, signal.SIGKILL)
        while True:
            try:
                os.kill(pid, 0)
            except ProcessLookupError:
                break
            time.sleep(0.05)
        # The children go once the postmaster is gone; a new one waits for their shared memory.
        time.sleep(0.5)

    def stop(self):
        subprocess.run(as_server_user([BIN[-1] + "/pg_ctl", "-D", self.data, "-m", "immediate",
                                       "stop"]), capture_output=True, check=False)

    def url(self, db="postgres"):
        return f"postgresql:///{db}?host={self.socket}&user=postgres"

    def sql(self, query, db="postgres"):
        r = subprocess.run(["psql", "-X", "-q", "-t", "-A", "-F", "\t", "-v", "ON_ERROR_STOP=1",
                            self.url(db), "-c", query], capture_output=True, text=True,
                           check=False)
        assert r.returncode == 0, r.stderr
        return [line.split("\t") for line in r.stdout.splitlines()]


@pytest.fixture(scope="module")
def server():
    # Not under pytest's own folder: that one is root's alone, and the socket's path must be
    # short.
    folder = Path(tempfile.mkdtemp(prefix="quillbox-pg-"))
    s = Server(folder)
    s.start()
    yield s
    s.stop()
    shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture
def db(server, request):
    """A fresh database for one test."""
    name = "t_" + request.node.name.lower().translate({ord(c): "_" for c in "[]-."})[:50]
    server.sql(f"DROP DATABASE IF EXISTS {name}")
    server.sql(f"CREATE DATABASE {name}")
    return name


def record(url, out, *extra, frames=200, rate=100):
    return run([os.environ["QUILLBOX_CLI"], "record", "-c", "0,4", "-r", rate, "-n", frames,
                "-o", out, "--to", url, *extra])


def local_rows(path):
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    return [(int(r[0]), [float(v) for v in r[2:]]) for r in rows[1:]]


def database_rows(server, db, column="value"):
    rows = server.sql(f"SELECT frame, {column} FROM frames ORDER BY frame", db)
    return [(int(f), [float(v) for v in values.strip("{}").split(",")]) for f, values in rows]


def assert_same(local, shipped):
    assert [f for f, _ in shipped] == [f for f, _ in local]
    for (_, a), (_, b) in zip(local, shipped):
        assert b == pytest.approx(a, rel=1e-6, abs=1e-9)


class TestShipping:
    def test_frames_equal_the_local_file(self, server, db, tmp_path):
        out = tmp_path / "run.csv"
        r = record(server.url(db), out)
        assert r.returncode == 0, r.stderr
        assert "all 200 frames shipped" in r.stderr
        local = local_rows(out)
        assert len(local) == 200
        assert_same(local, database_rows(server, db))
        [row] = server.sql("SELECT serial, names, units, raw, stop_reason, frames, complete, "
                           "last_frame_shipped, rate FROM recordings", db)
        assert row[3:] == ["f", "end", "200", "t", "199", "100"]
        assert row[0] == "27000999"
        assert server.sql("SELECT version FROM quillbox_schema", db) == [["1"]]

    def test_raw_recording_ships_codes(self, server, db, tmp_path):
        out = tmp_path / "raw.csv"
        r = record(server.url(db), out, "--raw", frames=50)
        assert r.returncode == 0, r.stderr
        assert_same(local_rows(out), database_rows(server, db, "code"))
        assert server.sql("SELECT count(*) FROM frames WHERE value IS NOT NULL", db) == [["0"]]

    def test_second_recording_gets_its_own_row(self, server, db, tmp_path):
        for name in ("a.csv", "b.csv"):
            assert record(server.url(db), tmp_path / name, frames=20).returncode == 0
        assert server.sql("SELECT count(*), count(DISTINCT recording) FROM frames", db) == \
            [["40", "2"]]

    def test_other_schema_version_is_refused_and_left_alone(self, server, db, tmp_path):
        server.sql("CREATE TABLE quillbox_schema (version integer); "
                   "INSERT INTO quillbox_schema VALUES (7)", db)
        out = tmp_path / "run.csv"
        r = record(server.url(db), out, frames=20)
        assert r.returncode == 0, r.stderr
        assert "schema version 7" in r.stderr
        assert len(local_rows(out)) == 20
        assert server.sql("SELECT version FROM quillbox_schema", db) == [["7"]]
        assert server.sql("SELECT count(*) FROM pg_tables WHERE tablename = 'frames'", db) == \
            [["0"]]


def start_recording(url, out, seconds):
    """A recording at 200 Hz into `out` and the database, running in the background."""
    return subprocess.Popen([os.environ["QUILLBOX_CLI"], "record", "-c", "0,4", "-r", "200",
                             "-d", str(seconds), "-o", out, "--to", url, "--ship-wait", "30"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


class TestTrouble:
    def test_server_killed_and_restarted(self, server, db, tmp_path):
        out = tmp_path / "run.csv"
        # 80 s of the module's time, 4 s of wall time at the session's 20x: the server is away
        # for a quarter of it.
        proc = start_recording(server.url(db), out, 80)
        try:
            time.sleep(1.0)
            server.kill()
            time.sleep(1.0)
        finally:
            server.start()
        _, err = proc.communicate(timeout=90)
        assert proc.returncode == 0, err
        assert "connection was lost" in err or "cannot connect" in err
        local = local_rows(out)
        assert len(local) > 4000
        assert_same(local, database_rows(server, db))
        assert f"all {len(local)} frames shipped" in err
        assert server.sql("SELECT last_frame_shipped, frames, stop_reason FROM recordings", db) \
            == [[str(len(local) - 1), str(len(local)), "end"]]

    def test_server_down_at_the_start(self, server, db, tmp_path):
        out = tmp_path / "run.csv"
        server.stop()
        try:
            proc = start_recording(server.url(db), out, 40)
            time.sleep(1.0)
        finally:
            server.start()
        _, err = proc.communicate(timeout=90)
        assert proc.returncode == 0, err
        assert "cannot connect" in err and "the recording goes on" in err
        assert "connected; shipping from frame 0" in err
        local = local_rows(out)
        assert len(local) > 2000
        assert_same(local, database_rows(server, db))

    def test_wrong_database_name(self, server, tmp_path):
        out = tmp_path / "run.csv"
        r = record(server.url("no_such_db"), out, "--ship-wait", "1", frames=40)
        assert r.returncode == 0, r.stderr
        assert 'database "no_such_db" does not exist' in r.stderr
        assert "40 frames not shipped" in r.stderr
        assert len(local_rows(out)) == 40
        assert (tmp_path / "run.csv.json").exists()

    def test_unreachable_database_does_not_slow_the_recording(self, server, db, tmp_path):
        # A server that never answers: a socket nobody accepts on. The recording still ends on
        # time and the end waits only --ship-wait.
        folder = tmp_path / "silent"
        folder.mkdir()
        listener = socket.socket(socket.AF_UNIX)
        listener.bind(str(folder / ".s.PGSQL.5432"))
        listener.listen(0)
        out = tmp_path / "run.csv"
        start = time.monotonic()
        r = run([os.environ["QUILLBOX_CLI"], "record", "-c", "0", "-r", "100", "-n", "400",
                 "-o", out, "--to", f"postgresql:///x?host={folder}", "--ship-wait", "1"])
        listener.close()
        assert r.returncode == 0, r.stderr
        assert len(local_rows(out)) == 400
        assert "400 frames not shipped" in r.stderr
        assert time.monotonic() - start < 12
