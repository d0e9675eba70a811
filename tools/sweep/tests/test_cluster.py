"""Where the runs go: a pool of local processes and a real Dask cluster on loopback give the
results of the local sweep; dead workers, Ctrl-C and an unreachable scheduler."""

import csv
import json
import multiprocessing
import os
import signal
import socket
import subprocess
import sys
import time
import zipfile

import pytest
from conftest import REPO, SCRIPT

from advdiff2d_sweep import cluster

BASE = REPO / "examples" / "multigrid-gs-65"
NINE_RUNS = ["--mode", "mg", "--levels", "3,4,5", "--solver", "gs,msi,adi"]
TIMING_COLUMNS = {"seconds_per_run", "elapsed_seconds", "mean_seconds", "wall_seconds"}
WHERE_COLUMNS = {"worker", "host"}
START_TIMEOUT = 60  # seconds for the scheduler and its workers to come up
# The client's event loop library warns about its own use of an older API.
pytestmark = pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")


def _sweep(build_dir, out, *options, timeout=120, env=None):
    return subprocess.run([sys.executable, SCRIPT, BASE, "-o", out, "--bin-dir", build_dir,
                           *options], capture_output=True, text=True, timeout=timeout, env=env)


def _sweep_until(build_dir, out, options, ready, act, env=None):
    """Starts a six-run sweep, acts on it (or on its workers) once ready() holds, and returns
    its exit status and stderr; the sweep is killed if it outlives the test."""
    sweep = subprocess.Popen([sys.executable, SCRIPT, BASE, "-o", out, "--bin-dir", build_dir,
                              "--mode", "mg", "--levels", "3,4,5", "--solver", "gs,msi",
                              *options], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True, env=env)
    try:
        _wait_for(ready, "a run under way")
        act(sweep)
        _, stderr = sweep.communicate(timeout=120)
    finally:
        if sweep.poll() is None:
            sweep.kill()
            sweep.wait()
    return sweep.returncode, stderr


def _rows(out):
    with open(out / "results.csv", newline="") as f:
        return list(csv.DictReader(f))


def _settled(out):
    """What a run produced, timings aside: its row and its summary file."""
    outcome = []
    for row in _rows(out):
        kept = {k: v for k, v in row.items() if k not in TIMING_COLUMNS | WHERE_COLUMNS}
        summary = json.loads((out / row["folder"] / "summary.json").read_text())
        summary.pop("timing")
        files = sorted(p.name for p in (out / row["folder"]).iterdir())
        outcome.append((kept, summary, files))
    return outcome


def _processes(keep):
    """The processes for which keep(pid text) holds; one that ends while being read does not."""
    found = []
    for entry in os.listdir("/proc"):
        try:
            if entry.isdigit() and keep(entry):
                found.append(int(entry))
        except OSError:
            pass
    return found


def _same(got, expected):
    """Equal outcomes, run by run, naming the first that differs."""
    assert len(got) == len(expected)
    for (row, summary, files), (row0, summary0, files0) in zip(got, expected):
        differ = {k: (row[k], row0[k]) for k in row0 if row.get(k) != row0[k]}
        assert not differ, (row0["folder"], differ)
        assert (summary, files) == (summary0, files0), row0["folder"]


def _parent(pid):
    with open(f"/proc/{pid}/stat") as f:
        return int(f.read().rsplit(")", 1)[1].split()[1])


def _children(pid):
    return _processes(lambda entry: _parent(entry) == pid)


def _is_simulation(pid):
    """Whether a process runs a simulation (not the reference or a question to the program)."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return b"--window" in f.read().split(b"\0")
    except OSError:
        return False


def _simulating(pid):
    """The children of pid that run a simulation."""
    return [child for child in _children(pid) if _is_simulation(child)]


def _processes_in(folder):
    """Processes whose working folder is inside folder."""
    return _processes(lambda entry: os.readlink(f"/proc/{entry}/cwd").startswith(str(folder)))


def _wait_for(condition, what, timeout=30):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    pytest.fail(f"timed out waiting for {what}")


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# ---------------------------------------------------------------------------------------------
# A scheduler and single-thread workers on 127.0.0.1.

class LoopbackCluster:
    def __init__(self, folder, workers, nthreads):
        self.folder = folder
        self.count = workers
        self.nthreads = nthreads
        self.scheduler = None
        self.workers = {}  # name -> Popen
        self.address = None

    def _start(self, argv, name):
        log = open(self.folder / f"{name}.log", "w")
        # Own session each: stopping one stops its programs too; cwd outside the repository so
        # that a worker imports the study code it is sent, not a copy it would find there.
        env = dict(os.environ, TMPDIR=str(self.tmp))
        return subprocess.Popen([sys.executable, "-m", *argv], cwd=self.folder, stdout=log,
                                stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, env=env,
                                start_new_session=True)

    def start(self):
        pytest.importorskip("distributed", reason="python3-distributed is not installed "
                                                  "(scripts/install_deps.sh installs it)")
        from distributed import Client

        self.tmp = self.folder / "tmp"
        self.tmp.mkdir()
        info = self.folder / "scheduler.json"
        self.scheduler = self._start(["distributed.cli.dask_scheduler", "--host", "127.0.0.1",
                                      "--port", "0", "--no-dashboard", "--scheduler-file",
                                      str(info)], "scheduler")
        _wait_for(lambda: info.exists() and info.stat().st_size > 0, "the scheduler",
                  START_TIMEOUT)
        self.address = json.loads(info.read_text())["address"]
        assert self.address.startswith("tcp://127.0.0.1:")
        for k in range(1, self.count + 1):
            name = f"test-worker-{k}"
            self.workers[name] = self._start(
                ["distributed.cli.dask_worker", self.address, "--nthreads", str(self.nthreads),
                 "--no-nanny",
                 "--no-dashboard", "--host", "127.0.0.1", "--name", name, "--death-timeout",
                 "30", "--local-directory", str(self.folder / name)], name)
        with Client(self.address, timeout=START_TIMEOUT, set_as_default=False) as client:
            client.wait_for_workers(self.count, timeout=START_TIMEOUT)

    def kill(self, name):
        """The worker and the programs it runs die at once, as when its machine goes down."""
        os.killpg(self.workers[name].pid, signal.SIGKILL)
        self.workers[name].wait(10)

    def stop(self):
        for process in [*self.workers.values(), self.scheduler]:
            if process is not None and process.poll() is None:
                os.killpg(process.pid, signal.SIGTERM)
        for process in [*self.workers.values(), self.scheduler]:
            if process is None:
                continue
            try:
                process.wait(15)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait(5)


@pytest.fixture
def start_cluster(tmp_path_factory):
    started = []

    def start(workers=2, nthreads=1):
        c = LoopbackCluster(tmp_path_factory.mktemp("cluster"), workers, nthreads)
        started.append(c)
        c.start()
        return c

    yield start
    for c in started:
        c.stop()


@pytest.fixture(scope="module")
def loopback(tmp_path_factory):
    """Two single-thread workers, for the tests that leave them as they found them."""
    c = LoopbackCluster(tmp_path_factory.mktemp("cluster"), 2, 1)
    try:
        c.start()
        yield c
    finally:
        c.stop()


@pytest.fixture(scope="module")
def local_study(build_dir, tmp_path_factory):
    out = tmp_path_factory.mktemp("local") / "out"
    done = _sweep(build_dir, out, *NINE_RUNS, "--window", "0")
    assert done.returncode == 0, done.stderr
    return out


# ---------------------------------------------------------------------------------------------

def test_cluster_and_pool_give_the_local_results(build_dir, local_study, loopback, tmp_path):
    local = _settled(local_study)
    assert len(local) == 9 and all(r["status"] == "ok" for r, _, _ in local)
    assert {(r["worker"], r["host"]) for r in _rows(local_study)} == {
        ("local", socket.gethostname())}

    pool = _sweep(build_dir, tmp_path / "pool", *NINE_RUNS, "--window", "0", "--jobs", "2")
    assert pool.returncode == 0, pool.stderr
    assert "quick looks only" in pool.stderr and "quick looks only" in (
        tmp_path / "pool" / "summary.md").read_text()
    _same(_settled(tmp_path / "pool"), local)
    assert {r["worker"] for r in _rows(tmp_path / "pool")} <= {"local-1", "local-2"}

    c = loopback
    done = _sweep(build_dir, tmp_path / "dask", *NINE_RUNS, "--window", "0", "--scheduler",
                  c.address)
    assert done.returncode == 0, done.stderr
    assert done.stderr == ""  # single-thread workers: nothing to warn about
    _same(_settled(tmp_path / "dask"), local)
    rows = _rows(tmp_path / "dask")
    assert {r["worker"] for r in rows} <= set(c.workers)
    assert {r["host"] for r in rows} == {socket.gethostname()}
    summary = (tmp_path / "dask" / "summary.md").read_text()
    assert c.address in summary and "Runs per worker: test-worker-" in summary
    for name in ("time_vs_unknowns.png", "history.csv", "plan.json"):
        assert (tmp_path / "dask" / name).is_file()


def test_ctrl_c_cancels_the_runs_sent_to_the_cluster(build_dir, loopback, tmp_path):
    status, stderr = _sweep_until(
        build_dir, tmp_path / "out", ["--window", "1", "--scheduler", loopback.address],
        lambda: any(_simulating(w.pid) for w in loopback.workers.values()),
        lambda sweep: sweep.send_signal(signal.SIGINT))
    assert status == 130, stderr
    assert "Traceback" not in stderr
    rows = _rows(tmp_path / "out")
    assert len(rows) == 6 and rows[-1]["status"] == "not run"
    assert {r["status"] for r in rows} <= {"ok", "not run"}
    # The scheduler forgets the study's tasks (the runs under way finish on their workers).
    from distributed import Client

    def study_tasks(dask_scheduler):
        return [str(k) for k in dask_scheduler.tasks if str(k).startswith("advdiff2d-")]

    with Client(loopback.address, timeout=START_TIMEOUT, set_as_default=False) as client:
        _wait_for(lambda: not client.run_on_scheduler(study_tasks), "the tasks to go")


def test_a_worker_killed_mid_study_loses_its_run_only(build_dir, start_cluster, tmp_path):
    c = start_cluster(2)
    out = tmp_path / "out"
    victim = "test-worker-1"
    victim_pid = c.workers[victim].pid
    running = []
    # Runs of about a second each, so that one is surely under way when its worker dies.
    status, stderr = _sweep_until(build_dir, out, ["--window", "1", "--scheduler", c.address],
                                  lambda: running.extend(_simulating(victim_pid)) or running,
                                  lambda sweep: c.kill(victim))
    assert status == 0, stderr
    rows = _rows(out)
    assert len(rows) == 6
    lost = [r for r in rows if r["status"] == "lost"]
    assert len(lost) == 1, [(r["status"], r["error"]) for r in rows]
    assert lost[0]["worker"] == victim and "died" in lost[0]["error"]
    assert lost[0]["seconds_per_run"] == ""
    assert (out / lost[0]["folder"] / "dados1.ent").is_file()
    assert all(r["status"] == "ok" for r in rows if r is not lost[0])
    assert "lost" in (out / "summary.md").read_text()
    # Its program died with it, and its scratch folder is gone by the end of the study.
    assert not any(os.path.exists(f"/proc/{pid}") for pid in running)
    assert not [p.name for p in c.tmp.iterdir()
                if p.name.startswith(f"advdiff2d-sweep-{victim_pid}-")]


def test_a_worker_with_several_threads_is_warned_about(build_dir, start_cluster, tmp_path):
    c = start_cluster(1, nthreads=2)
    done = _sweep(build_dir, tmp_path / "out", "--levels", "3", "--window", "0", "--scheduler",
                  c.address)
    assert done.returncode == 0, done.stderr
    assert done.stderr.count("warning:") == 1
    assert "test-worker-1 has 2 threads" in done.stderr and "--nthreads 1" in done.stderr
    assert [r["status"] for r in _rows(tmp_path / "out")] == ["ok"]


def test_unreachable_scheduler_and_bad_options_stop_before_anything_runs(build_dir, tmp_path):
    out = tmp_path / "out"
    nobody = f"tcp://127.0.0.1:{_free_port()}"
    for options, says in ((["--scheduler", nobody], "cannot reach the scheduler"),
                          (["--scheduler", "tcp://127.0.0.1:notaport"], "not a scheduler"),
                          (["--scheduler", "http://127.0.0.1:8786"], "not a scheduler"),
                          (["--scheduler", ""], "not a scheduler"),
                          (["--scheduler", "tcp://127.0.0.1:1\nrm -rf ~ #\x1b[2J"],
                           "tcp://127.0.0.1:1\\nrm -rf ~ #\\x1b[2J"),
                          (["--jobs", "0"], "--jobs must be from 1 to"),
                          (["--jobs", "2", "--scheduler", nobody], "exclude each other")):
        done = _sweep(build_dir, out, "--levels", "3", *options, timeout=60)
        assert done.returncode == 2, (options, done.stderr)
        assert done.stderr.splitlines() == [done.stderr.strip()], done.stderr
        assert says in done.stderr and "Traceback" not in done.stderr
        assert not out.exists()


def test_ctrl_c_stops_the_pool_and_keeps_the_runs_done(build_dir, tmp_path):
    scratch = tmp_path / "tmp"
    scratch.mkdir()
    out = tmp_path / "out"
    status, stderr = _sweep_until(
        build_dir, out, ["--window", "2", "--jobs", "2"],
        lambda: [p for p in _processes_in(scratch) if _is_simulation(p)],
        lambda sweep: sweep.send_signal(signal.SIGINT), env=dict(os.environ, TMPDIR=str(scratch)))
    assert status == 130, stderr
    assert "Traceback" not in stderr
    rows = _rows(out)
    assert len(rows) == 6 and rows[-1]["status"] == "not run"
    assert {r["status"] for r in rows} <= {"ok", "not run"}
    # The worker processes and their programs are gone, and so are their scratch folders and
    # reference caches.
    assert _processes_in(scratch) == []
    assert list(scratch.iterdir()) == []


def test_a_killed_program_or_pool_worker_leaves_nothing_behind(build_dir, tmp_path):
    scratch = tmp_path / "tmp"
    scratch.mkdir()
    out = tmp_path / "out"
    sweep = subprocess.Popen([sys.executable, SCRIPT, BASE, "-o", out, "--bin-dir", build_dir,
                              "--mode", "mg", "--levels", "3,4,5", "--solver", "gs,msi",
                              "--window", "2", "--jobs", "2"], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True,
                             env=dict(os.environ, TMPDIR=str(scratch)))
    try:
        def under_way():
            sims = [p for w in _children(sweep.pid) for p in _simulating(w)]
            return sims if len(sims) == 2 else None
        both = _wait_for(under_way, "two runs under way", 60)
        workers = _children(sweep.pid)
        # One program is killed as the kernel kills a process that runs out of memory; the
        # other run loses its worker process.
        os.kill(both[0], signal.SIGKILL)
        os.kill(next(w for w in workers if both[1] in _children(w)), signal.SIGKILL)
        _, stderr = sweep.communicate(timeout=120)
    finally:
        if sweep.poll() is None:
            sweep.kill()
            sweep.wait()
    assert sweep.returncode == 0, stderr
    rows = _rows(out)
    failed = [r for r in rows if r["status"] == "failed"]
    lost = [r for r in rows if r["status"] == "lost"]
    assert len(failed) == 1 and len(lost) == 1, [(r["status"], r["error"]) for r in rows]
    assert "killed by signal 9 (SIGKILL), probably out of memory: the run needs " in \
        failed[0]["error"] and " was left when it started" in failed[0]["error"]
    assert "died while running it (killed by signal 9" in lost[0]["error"]
    assert not os.path.exists(f"/proc/{both[1]}")  # the lost run's program went with it
    assert _processes_in(scratch) == [] and list(scratch.iterdir()) == []


# ---------------------------------------------------------------------------------------------
# The executors on their own, with a stand-in for run_task.

def _fake_run_task(task, admit=None):
    if task["name"] == "dies":
        os._exit(7)
    if task["name"] == "raises":
        raise RuntimeError("broken task")
    return {"name": task["name"], "status": "ok", "error": "", "pid": os.getpid(),
            "wall_seconds": 0.0}


@pytest.mark.skipif("fork" not in multiprocessing.get_all_start_methods(),
                    reason="the stand-in reaches pool processes through fork")
def test_pool_reports_a_dead_worker_and_a_raising_task_and_goes_on(monkeypatch):
    monkeypatch.setattr(cluster.tasks_mod, "run_task", _fake_run_task)
    names = ["a", "dies", "b", "raises", "c", "d", "e"]
    task_list = [{"name": n} for n in names]
    pool = cluster.LocalPool(2)
    with pool:
        got = dict(pool.results(task_list))
        slots = list(pool.slots)
    assert sorted(got) == list(range(len(names)))
    status = {names[i]: r["status"] for i, r in got.items()}
    assert status == {"a": "ok", "dies": "lost", "b": "ok", "raises": "failed", "c": "ok",
                      "d": "ok", "e": "ok"}
    assert "died" in got[1]["error"] and "exit status 7" in got[1]["error"]
    assert "RuntimeError: broken task" in got[3]["error"]
    ok = [r for r in got.values() if r["status"] == "ok"]
    assert {r["worker"] for r in ok} <= {"local-1", "local-2", "local-3"}
    assert all(r["pid"] != os.getpid() for r in ok)
    assert not any(s.process.is_alive() for s in slots)

    sequential = dict(cluster.Sequential().results([t for t in task_list if t["name"] != "dies"]))
    assert [r["status"] for _, r in sorted(sequential.items())] == ["ok"] * 2 + ["failed"] + [
        "ok"] * 3
    assert all(r["worker"] == "local" and r["pid"] == os.getpid() for r in sequential.values()
               if r["status"] == "ok")


def _run_with_memory(task, admit=None):
    """A run that states its need and reports the memory it was given."""
    left = admit(task["need"])
    time.sleep(0.2)
    return {"name": task["name"], "status": "ok", "error": "", "left": left,
            "wall_seconds": 0.2}


@pytest.mark.skipif("fork" not in multiprocessing.get_all_start_methods(),
                    reason="the stand-in reaches pool processes through fork")
def test_pool_starts_a_run_only_when_its_memory_need_fits_in_what_is_left(monkeypatch):
    monkeypatch.setattr(cluster.tasks_mod, "run_task", _run_with_memory)
    monkeypatch.setattr(cluster.memory, "available", lambda: (1000, "the test's figure"))
    needs = [600, 600, 300, 300, 5000]
    with cluster.LocalPool(2) as pool:
        got = dict(pool.results([{"name": str(i), "need": n} for i, n in enumerate(needs)]))
    left = [got[i]["left"] for i in range(len(needs))]
    # The two 600-byte runs never ran beside each other: each started with all 1000 left.
    assert left[0] == left[1] == 1000
    # A run that fits beside a 600 (or 300) starts beside it.
    assert all(left[i] >= 300 for i in (2, 3))
    # One that fits not even alone runs alone, for the program's own check to judge.
    assert left[4] == 1000


def test_the_code_sent_to_workers_imports_on_its_own_and_names_its_version(tmp_path):
    data, digest = cluster.package_zip()
    assert digest == cluster.CODE_DIGEST
    assert cluster.package_zip()[0] == data  # equal sources, equal archive
    archive = tmp_path / "code.zip"
    archive.write_bytes(data)
    assert "advdiff2d_sweep/tasks.py" in zipfile.ZipFile(archive).namelist()
    # From a folder without the repository, and with the archive as its only copy.
    probe = ("import sys; sys.path.insert(0, sys.argv[1]); "
             "from advdiff2d_sweep import cluster, tasks; "
             "assert cluster.__file__.startswith(sys.argv[1]); print(cluster.CODE_DIGEST)")
    done = subprocess.run([sys.executable, "-I", "-c", probe, str(archive)], cwd=tmp_path,
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == digest


def test_a_worker_holding_older_code_imports_the_version_a_task_was_sent_with(tmp_path):
    new, new_digest = cluster.package_zip()
    (tmp_path / "new.zip").write_bytes(new)
    with zipfile.ZipFile(tmp_path / "old.zip", "w") as old:  # the same code plus one file
        for name in zipfile.ZipFile(tmp_path / "new.zip").namelist():
            old.writestr(name, zipfile.ZipFile(tmp_path / "new.zip").read(name))
        old.writestr("advdiff2d_sweep/extra.py", "# an older version\n")
    # As on a worker: the old archive imported by an earlier study, then the new one put
    # first on the path as the worker does with what it is sent.
    probe = ("import sys; sys.path.insert(0, sys.argv[1]); "
             "from advdiff2d_sweep import cluster as old; "
             "sys.path.insert(0, sys.argv[2]); "
             "fresh = old._reimported(sys.argv[3]); "
             "print(old.CODE_DIGEST != sys.argv[3], fresh.__file__.startswith(sys.argv[2]), "
             "fresh.CODE_DIGEST == sys.argv[3], old._reimported('0' * 16))")
    done = subprocess.run([sys.executable, "-I", "-c", probe, str(tmp_path / "old.zip"),
                           str(tmp_path / "new.zip"), new_digest], cwd=tmp_path,
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["True", "True", "True", "None"]


def test_a_rebuilt_reference_program_gets_no_reference_made_by_the_old_one(tmp_path,
                                                                             monkeypatch):
    keys = []
    monkeypatch.setattr(cluster.tasks_mod, "run_task",
                        lambda task, admit=None: keys.append(task["reference_key"]) or {"status": "ok"})
    tool = tmp_path / "advdiff2d-reference"
    tool.write_text("#!/bin/sh\n")
    tool.chmod(0o755)
    task = {"name": "a", "reference_key": "17x17-rotating", "bin_dir": str(tmp_path)}
    runs = lambda: list(cluster.Sequential().results([task]))  # noqa: E731
    runs()
    runs()
    os.utime(tool, ns=(0, 0))  # as a new build would leave it
    runs()
    assert keys[0] == keys[1] != keys[2] and keys[0].startswith("17x17-rotating|")
    assert task["reference_key"] == "17x17-rotating"  # the caller's task is left as it was
