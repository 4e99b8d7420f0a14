# `record --to`: the recording's second copy in a real PostgreSQL server, a throw-away one per
# test module (Debian's initdb/pg_ctl) listening only on a Unix socket in a temporary folder. The
# server refuses to run as root, so as root it runs as "nobody".
import csv
import glob
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from pathlib import Path

import pytest

import quillbox
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
        # Two users who sign in with a password; everyone else is trusted.
        hba = self.data / "pg_hba.conf"
        hba.write_text("local all writer scram-sha-256\nlocal all reader scram-sha-256\n"
                       + hba.read_text())

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

    def url(self, db="postgres", user="postgres"):
        return f"postgresql:///{db}?host={self.socket}&user={user}"

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
    s.sql("CREATE ROLE writer LOGIN PASSWORD 'right'; CREATE ROLE reader LOGIN PASSWORD 'right'")
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


def record(url, out, *extra, frames=200, rate=100, env=None):
    return run([os.environ["QUILLBOX_CLI"], "record", "-c", "0,4", "-r", rate, "-n", frames,
                "-o", out, "--to", url, *extra], env=env)


def upload(url, *files):
    return run([os.environ["QUILLBOX_CLI"], "upload", *files, "--to", url])


def local_rows(path):
    if str(path).endswith(".h5"):
        r = quillbox.load(path)
        return [(f, list(map(float, v))) for f, v in enumerate(r.values)]
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
        # Each frame's time is the recording's start plus frame / rate.
        assert server.sql("SELECT frame, extract(epoch FROM f.time - r.start_utc) FROM frames f "
                          "JOIN recordings r ON r.id = f.recording WHERE frame IN (0, 1, 199) "
                          "ORDER BY frame", db) == [["0", "0.000000"], ["1", "0.010000"],
                                                     ["199", "1.990000"]]

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
                             "-d", str(seconds), "-o", out, "--to", url, "--ship-wait", "30",
                             "--status-every", "10"],
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
        # The status lines say how far behind the database is while it is away.
        assert max(int(n) for n in re.findall(r"database (\d+) frames behind", err)) > 200
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


def stopped(server):
    """The server is down for the block's time, as when a recording starts without it."""
    class Down:
        def __enter__(self):
            server.stop()

        def __exit__(self, *exc):
            server.start()
    return Down()


class TestUpload:
    @pytest.mark.parametrize("name", ["run.csv", "run.h5"])
    def test_completes_a_recording_made_while_the_server_was_down(self, server, db, tmp_path,
                                                                   name):
        out = tmp_path / name
        with stopped(server):
            r = record(server.url(db), out, "--ship-wait", "0")
        assert r.returncode == 0, r.stderr
        assert "200 frames not shipped" in r.stderr and "quillbox upload" in r.stderr
        r = upload(server.url(db), out)
        assert r.returncode == 0, r.stderr
        assert f"{out}: 200 frames shipped to recording 1" in r.stdout
        assert_same(local_rows(out), database_rows(server, db))
        assert server.sql("SELECT stop_reason, frames, complete, last_frame_shipped "
                          "FROM recordings", db) == [["end", "200", "t", "199"]]
        # Again: nothing is sent twice.
        r = upload(server.url(db), out)
        assert "0 frames shipped to recording 1" in r.stdout and "200 were there already" in r.stdout
        assert server.sql("SELECT count(*) FROM frames", db) == [["200"]]

    def test_goes_on_after_the_last_shipped_frame(self, server, db, tmp_path):
        out = tmp_path / "run.csv"
        assert record(server.url(db), out).returncode == 0
        server.sql("DELETE FROM frames WHERE frame > 119; "
                   "UPDATE recordings SET last_frame_shipped = 119", db)
        r = upload(server.url(db), out)
        assert "80 frames shipped to recording 1" in r.stdout, r.stderr
        assert_same(local_rows(out), database_rows(server, db))

    def test_two_uploads_at_once_ship_each_frame_once(self, server, db, tmp_path):
        out = tmp_path / "long.csv"
        with stopped(server):
            assert record(server.url(db), out, "--ship-wait", "0", frames=40000,
                          rate=1000).returncode == 0
        procs = [subprocess.Popen([os.environ["QUILLBOX_CLI"], "upload", out, "--to",
                                   server.url(db)], stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True) for _ in range(2)]
        results = [p.communicate(timeout=60) for p in procs]
        assert [p.returncode for p in procs] == [0, 0], results
        assert server.sql("SELECT count(*), count(DISTINCT frame) FROM frames", db) == \
            [["40000", "40000"]]

    def test_file_without_description_is_refused(self, server, db, tmp_path):
        out = tmp_path / "run.csv"
        assert record(server.url(db), out, frames=10).returncode == 0
        (tmp_path / "run.csv.json").unlink()
        r = upload(server.url(db), out)
        assert r.returncode == 1 and "has no description" in r.stderr


class TestAccess:
    def test_wrong_password_then_the_right_one_from_a_password_file(self, server, db, tmp_path):
        server.sql(f"ALTER DATABASE {db} OWNER TO writer")
        out = tmp_path / "run.csv"
        r = record(server.url(db, "writer"), out, "--ship-wait", "1",
                   env={**os.environ, "PGPASSWORD": "wrong"})
        assert r.returncode == 0, r.stderr
        assert 'password authentication failed for user "writer"' in r.stderr
        assert "200 frames not shipped" in r.stderr and len(local_rows(out)) == 200
        passfile = tmp_path / "pgpass"
        passfile.write_text("*:*:*:writer:right\n")
        passfile.chmod(0o600)
        r = record(server.url(db, "writer"), tmp_path / "b.csv",
                   env={**os.environ, "PGPASSFILE": str(passfile)})
        assert "all 200 frames shipped" in r.stderr, r.stderr

    def test_read_only_user_is_told_and_the_recording_goes_on(self, server, db, tmp_path):
        assert record(server.url(db), tmp_path / "first.csv", frames=10).returncode == 0
        server.sql("GRANT SELECT ON ALL TABLES IN SCHEMA public TO reader", db)
        out = tmp_path / "run.csv"
        start = time.monotonic()
        r = record(server.url(db, "reader"), out, env={**os.environ, "PGPASSWORD": "right"})
        assert r.returncode == 0, r.stderr
        assert "the user may not write the recording there" in r.stderr
        assert "permission denied for table recordings" in r.stderr
        assert "200 frames not shipped" in r.stderr and len(local_rows(out)) == 200
        assert time.monotonic() - start < 8  # given up at once, not waited out


def test_python_record_ships_to_the_database(server, db):
    with quillbox.open() as m, pytest.warns(quillbox.RecordingWarning, match="all 100 frames"):
        r = m.record([0, 4], 100, frames=100, to=server.url(db))
    assert_same([(f, list(map(float, v))) for f, v in enumerate(r.values)],
                database_rows(server, db))
