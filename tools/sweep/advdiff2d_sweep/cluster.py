"""Where a study's simulations run.

Three executors run the same unit of work, `tasks.run_task`, and hand back its result dicts:

- `Sequential`: one run after the other in this process (the default);
- `LocalPool`: N worker processes on this machine (`--jobs N`). The runs share its cores and
  disturb each other's timings: for quick looks only. It is this module's own rather than
  `concurrent.futures.ProcessPoolExecutor` (a worker that dies breaks every run still in that
  pool, and a running call cannot be stopped) or `distributed.LocalCluster` (seconds to start,
  TCP ports any local user may send work to): a run's memory need decides when it starts,
  which takes a coordinator that hears each need, and a dead worker's program and scratch
  are the pool's to clear;
- `DaskCluster`: the workers of a Dask distributed scheduler (`--scheduler ADDRESS`). A task
  carries its input files and brings back the report, so the workers need no shared file
  system, only the two programs (in the task's `bin_dir` or on their PATH). This package is
  sent to the workers when the study starts.

`results(tasks)` yields `(index into tasks, result)` as runs finish, in any order. A run whose
worker died is a result with status "lost"; the study goes on. A KeyboardInterrupt cancels
what has not finished and propagates, so that the caller can write the runs done so far.
"""

import hashlib
import importlib
import importlib.resources
import io
import json
import logging
import multiprocessing
import multiprocessing.connection
import os
import queue
import signal
import socket
import subprocess
import sys
import tempfile
import time
import traceback
import uuid
import zipfile

from . import description, memory
from . import tasks as tasks_mod

CONNECT_TIMEOUT = 5.0     # seconds to reach the scheduler
DEFAULT_PORT = 8786       # the port a scheduler listens on unless told otherwise
WORKER_WAIT = 10.0        # seconds for a first worker to join a scheduler that has none
NO_WORKER_TIMEOUT = 60.0  # a study whose scheduler has had no worker this long gives up
POLL = 1.0                # seconds between checks on the cluster while waiting for results
STOP_GRACE = 5.0          # seconds a local worker gets to stop its run before it is killed
METADATA_ROOT = "advdiff2d-sweep"

POOL_NOTE = ("{jobs} runs at a time on this machine (--jobs {jobs}): they share its cores, so "
             "their timings are for quick looks only")


class ExecutorError(Exception):
    """The study cannot be sent where it was asked to go (no scheduler, no worker)."""

    def __init__(self, message, exit_code=2):
        super().__init__(message)
        self.exit_code = exit_code


def lost_result(task, message, worker="", host=""):
    """The result of a run that came back from no worker."""
    return {"name": task["name"], "status": "lost", "returncode": None, "stderr": "",
            "error": message, "report_text": None, "summary": None, "fields_vti": None,
            "worker": worker, "host": host, "nthreads": None, "wall_seconds": 0.0}


def _with_reference_program(task):
    """The task with the reference program's identity in its reference_key. A worker keeps
    the reference solutions it made for as long as it lives, across studies: one made by an
    earlier build of the program must not be handed to a run of a later one."""
    tool = tasks_mod.program_path(task.get("bin_dir"), tasks_mod.REFERENCE)
    if not tool or not task.get("reference_key"):
        return task
    try:
        st = os.stat(tool)
    except OSError:
        return task
    return dict(task, reference_key=f"{task['reference_key']}|{os.path.realpath(tool)}|"
                                    f"{st.st_size}|{st.st_mtime_ns}")


def _guarded(task, worker, host, nthreads, admit=None):
    """run_task with the worker's identity in its result; an exception in the task code (which
    should never raise) becomes a failed run rather than a lost study."""
    try:
        result = tasks_mod.run_task(_with_reference_program(task), admit)
    except Exception as e:  # noqa: BLE001 - every failure must come back as a result
        result = lost_result(task, f"task: {type(e).__name__}: {e}")
        result.update(status="failed", stderr=traceback.format_exc())
    result.update(worker=worker, host=host, nthreads=nthreads)
    result["cpus"] = _cpu_count()
    return result


def _cpu_count():
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


# ---------------------------------------------------------------------------------------------

class Sequential:
    """One run after the other, here."""

    notes = ()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        return False

    def results(self, task_list, started=None):
        for index, task in enumerate(task_list):
            if started is not None:
                started(index)
            yield index, _guarded(task, "local", socket.gethostname(), 1)


# ---------------------------------------------------------------------------------------------

def _pool_worker(conn, name):
    """Body of a local worker process: runs the tasks it is sent until told to stop."""
    os.setsid()  # out of the terminal's process group: Ctrl-C is the parent's to handle
    parent = os.getppid()

    def stop(signum, frame):
        raise SystemExit(128 + signum)  # unwinds run_task: its program is killed, scratch removed

    signal.signal(signal.SIGTERM, stop)
    if tasks_mod._prctl is not None:  # the sweep killed outright stops this worker too
        tasks_mod._prctl(tasks_mod._PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)
    host = socket.gethostname()

    def receive():
        # Waits in steps: a parent killed outright closes no pipe that a forked sibling also
        # holds, so where no death signal is sent its death shows in the parent id.
        while not conn.poll(POLL):
            if os.getppid() != parent:
                raise EOFError
        return conn.recv()

    def admit(need):
        conn.send(("need", need))
        while True:
            message = receive()
            if isinstance(message, tuple) and message[0] == "go":
                return message[1]

    try:
        while True:
            try:
                task = receive()
            except EOFError:
                return
            if task is None:
                return
            conn.send(("result", _guarded(task, name, host, 1, admit)))
    finally:
        conn.close()
        # A pool process ends without running atexit handlers: its scratch goes here.
        tasks_mod.remove_own_scratch()


class _PoolSlot:
    """One worker process, the run it has, and the memory that run was given."""

    def __init__(self, context, name):
        self.name = name
        self.conn, child = context.Pipe()
        self.process = context.Process(target=_pool_worker, args=(child, name), name=name,
                                       daemon=True)
        self.process.start()
        self.pid = self.process.pid
        child.close()
        self.index = None     # the task it is running
        self.need = None      # the bytes that run stated
        self.reserved = 0     # the bytes it was given (0 until it may start)
        self.left = None      # the memory left when it was given them

    def dead(self):
        """The worker has ended (its sentinel is ready; it is not reaped yet)."""
        return bool(multiprocessing.connection.wait([self.process.sentinel], 0))

    def bury(self):
        """After the worker's end: its process group (the program it ran, if any is left)
        is killed before the worker is reaped, so that the group's id cannot have been
        reused, and its scratch folder is removed."""
        try:
            os.killpg(self.pid, signal.SIGKILL)
        except OSError:
            pass
        self.process.join()
        tasks_mod.remove_stale_scratch(self.pid)
        self.conn.close()

    def stop(self, force):
        if not self.dead():
            if force:
                _signal(self.pid, signal.SIGTERM)
            else:
                try:
                    self.conn.send(None)
                except OSError:
                    pass
        # A worker stopping its run kills the program and removes its scratch; one that does
        # not within the grace time goes with its program.
        multiprocessing.connection.wait([self.process.sentinel], STOP_GRACE)
        self.bury()


def _signal(pid, signum):
    try:
        os.kill(pid, signum)
    except OSError:
        pass


class LocalPool:
    """N worker processes on this machine, one run each at a time.

    Memory: a run states its need (advdiff2d --memory-needed) before it starts, and starts
    only when that fits in what is left: the memory the runs may have when the pool started,
    less the needs of the runs going, and no more than the machine reports free now. A run
    that does not fit waits, in the order the runs asked; one that fits not even alone runs
    alone, and the program's own check judges it."""

    def __init__(self, jobs):
        self.jobs = jobs
        self.notes = (POOL_NOTE.format(jobs=jobs) + ".",)
        self.slots = []
        self._started = 0
        method = "fork" if "fork" in multiprocessing.get_all_start_methods() else "spawn"
        self.context = multiprocessing.get_context(method)
        # The first use of tempfile probes the temporary folder with a file of its own; done here,
        # before the workers fork, so that a worker stopped by Ctrl-C cannot leave that file behind.
        tempfile.gettempdir()
        self.budget = None

    def _new_slot(self):
        self._started += 1
        return _PoolSlot(self.context, f"local-{self._started}")

    def __enter__(self):
        self.budget = memory.available()[0]
        self.slots = [self._new_slot() for _ in range(self.jobs)]
        return self

    def __exit__(self, exc_type, exc, tb):
        force = exc_type is not None
        for slot in self.slots:
            slot.stop(force)
        self.slots = []
        return False

    def _left(self):
        """The memory a run may start with now (None: the machine gives no figure)."""
        reserved = sum(slot.reserved for slot in self.slots)
        now = memory.available()[0]
        figures = [f for f in (None if self.budget is None else self.budget - reserved, now)
                   if f is not None]
        return max(0, min(figures)) if figures else None

    def _admit(self, asking):
        """Lets the runs that asked start, first come first, while they fit."""
        while asking:
            slot = asking[0]
            if slot.dead() or slot.index is None:
                asking.pop(0)
                continue
            left = self._left()
            going = any(s.reserved for s in self.slots)
            if left is not None and slot.need > left and going:
                return
            asking.pop(0)
            slot.reserved, slot.left = slot.need, left
            try:
                slot.conn.send(("go", left))
            except OSError:
                pass  # its death shows up in the results loop

    def _lost(self, slot, task, host):
        code = slot.process.exitcode
        how = (tasks_mod.signal_text(code, slot.need, slot.left) if code is not None and code < 0
               else f"exit status {code}")
        return lost_result(task, f"the worker process {slot.name} died while running it "
                                 f"({how})", slot.name, host)

    def results(self, task_list, started=None):
        waiting = list(range(len(task_list)))[::-1]
        asking = []  # slots whose run waits for memory, in the order they asked
        host = socket.gethostname()
        # A worker that dies is replaced; a bound keeps a machine that kills every new
        # process from looping.
        replacements = len(task_list) + self.jobs
        while waiting or any(slot.index is not None for slot in self.slots):
            for slot in self.slots:
                if slot.index is None and waiting and not slot.dead():
                    slot.index = waiting.pop()
                    try:
                        slot.conn.send(task_list[slot.index])
                    except OSError:
                        pass  # its death shows up below
            ready = multiprocessing.connection.wait(
                [s.conn for s in self.slots] + [s.process.sentinel for s in self.slots])
            alive = []  # the slots after this round; self.slots keeps every live process
            finished = []
            for slot in list(self.slots):
                message = None
                if slot.conn in ready:
                    try:
                        message = slot.conn.recv() if slot.conn.poll() else None
                    except (EOFError, OSError):
                        message = None
                if message is not None and message[0] == "need":
                    slot.need = message[1]
                    asking.append(slot)
                elif message is not None and slot.index is not None:
                    index, slot.index = slot.index, None
                    slot.need, slot.reserved, slot.left = None, 0, None
                    finished.append((index, message[1]))
                if slot.dead():
                    slot.bury()
                    if slot.index is not None:
                        index, slot.index = slot.index, None
                        finished.append((index, self._lost(slot, task_list[index], host)))
                    if waiting and replacements > 0:
                        replacements -= 1
                        alive.append(self._new_slot())
                        self.slots.append(alive[-1])  # stopped on exit even mid-round
                else:
                    alive.append(slot)
            self.slots = alive
            self._admit(asking)
            for index, result in finished:
                yield index, result
            if waiting and not self.slots:
                for index in reversed(waiting):
                    yield index, lost_result(task_list[index], "no worker process could run it",
                                             "", host)
                return


# ---------------------------------------------------------------------------------------------

def _sources():
    """This package's .py files as (name, bytes), read from wherever this module was imported
    (its folder, or the archive a worker was sent)."""
    root = importlib.resources.files(__package__)
    return sorted((p.name, p.read_bytes()) for p in root.iterdir() if p.name.endswith(".py"))


def _digest(sources):
    h = hashlib.sha256()
    for name, data in sources:
        h.update(name.encode() + b"\0" + len(data).to_bytes(8, "little") + data)
    return h.hexdigest()[:16]


# The version of the code this module belongs to: a worker that ran an earlier study keeps
# that study's modules imported, and compares this with the version a task was sent with.
CODE_DIGEST = _digest(_sources())


def package_zip():
    """This package as the bytes of a zip archive (its .py files), and their digest."""
    sources = _sources()
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in sources:
            # A fixed time stamp: equal sources give equal archives.
            z.writestr(zipfile.ZipInfo(f"{__package__}/{name}", (2000, 1, 1, 0, 0, 0)), data,
                       zipfile.ZIP_DEFLATED)
    return buffer.getvalue(), _digest(sources)


def _reimported(digest):
    """This module imported afresh from the newest archive sent to the worker, if that is the
    version the task was sent with (else None)."""
    for name in [n for n in sys.modules if n == __package__ or n.startswith(__package__ + ".")]:
        del sys.modules[name]
    importlib.invalidate_caches()
    try:
        module = importlib.import_module(__name__)
    except Exception:  # noqa: BLE001
        return None
    return module if module.CODE_DIGEST == digest else None


def _run_on_dask_worker(task, study, digest):
    """A task on a Dask worker. A task whose worker died is started again by the scheduler on
    another one; the mark left on the scheduler when it first started makes that second start
    report the run as lost instead of running it again (a run that kills its worker would
    otherwise kill one worker after another)."""
    from distributed import get_client, get_worker

    if digest != CODE_DIGEST:
        module = _reimported(digest)
        if module is None:
            result = lost_result(task, "the worker holds another version of the study code "
                                       "(restart it)")
            result["status"] = "failed"
            return result
        return module._run_on_dask_worker(task, study, digest)
    worker = get_worker()
    name, host = str(worker.name), socket.gethostname()
    key = [METADATA_ROOT, study, task["name"]]
    try:
        client = get_client()
        started = client.get_metadata(key, None)
        if started is not None:
            return lost_result(task, f"its worker {started[0]} died while running it",
                               *started)
        client.set_metadata(key, [name, host])
    except Exception:  # noqa: BLE001 - without the mark the run may be retried, no worse
        pass
    return _guarded(task, name, host, worker.nthreads)


def _programs_missing(bin_dir):
    """On a worker: the programs a task needs that it cannot find, as one message or None."""
    import shutil

    missing = []
    for program in ("advdiff2d", "advdiff2d-reference"):
        path = os.path.join(bin_dir, program) if bin_dir else shutil.which(program)
        if not path or not (os.path.isfile(path) and os.access(path, os.X_OK)):
            missing.append(path or f"{program} (on PATH)")
    return f"no executable {' or '.join(missing)}" if missing else None


class DaskCluster:
    """The workers of an existing Dask distributed scheduler."""

    def __init__(self, address, bin_dir, warn):
        self.address = address
        self.bin_dir = bin_dir
        self.warn = warn
        self.client = None
        self.study = uuid.uuid4().hex[:12]
        self.notes = ()
        self._warned = set()

    # -- opening --------------------------------------------------------------------------

    def __enter__(self):
        try:
            import distributed
        except ImportError:
            raise ExecutorError("--scheduler needs the Python package 'distributed' "
                                "(Debian: python3-distributed)") from None
        self.distributed = distributed
        # The client's own log lines (reconnect attempts, lost workers) would bury the
        # sweep's messages; what matters comes back in the results.
        for name in ["distributed", *logging.root.manager.loggerDict]:
            if name.startswith("distributed"):
                logging.getLogger(name).setLevel(logging.CRITICAL)
        self.address = _scheduler_address(self.address)
        try:
            self.client = distributed.Client(self.address, timeout=CONNECT_TIMEOUT,
                                             set_as_default=False)
        except Exception as e:  # noqa: BLE001 - the reasons are many (address, refused, ...)
            raise ExecutorError(f"--scheduler {self.address}: cannot reach the scheduler "
                                f"within {CONNECT_TIMEOUT:g} s ({_reason(e)})") from None
        try:
            self._prepare_workers()
        except ExecutorError:
            self._close()
            raise
        except Exception as e:  # noqa: BLE001 - e.g. the scheduler went away meanwhile
            self._close()
            raise ExecutorError(f"--scheduler {self.address}: the workers could not be "
                                f"prepared ({_reason(e)})", 1) from None
        except BaseException:
            self._close()
            raise
        return self

    def _prepare_workers(self):
        try:
            self.client.wait_for_workers(1, timeout=WORKER_WAIT)
        except Exception:  # noqa: BLE001 - a TimeoutError, or the scheduler went away
            raise ExecutorError(f"--scheduler {self.address}: no worker joined within "
                                f"{WORKER_WAIT:g} s (start one with: dask worker "
                                f"{self.address} --nthreads 1)") from None
        data, self.digest = package_zip()
        folder = tempfile.mkdtemp(prefix="advdiff2d-sweep-")
        path = os.path.join(folder, f"{__package__}-{self.digest}.zip")
        try:
            with open(path, "wb") as f:
                f.write(data)
            self.client.upload_file(path)
        except Exception as e:  # noqa: BLE001
            raise ExecutorError(f"--scheduler {self.address}: cannot send the study code to "
                                f"the workers ({_reason(e)})", 1) from None
        finally:
            os.remove(path)
            os.rmdir(folder)
        workers = self.client.scheduler_info()["workers"]
        for address, info in workers.items():
            # Named as in the results: by its name, which is its address unless it was given one.
            self._check_threads(str(info.get("name", address)), info.get("nthreads", 1))
        missing = self.client.run(_programs_missing, self.bin_dir, on_error="return")
        names = {a: str(info.get("name", a)) for a, info in workers.items()}
        bad = {names.get(a, a): (m if not isinstance(m, BaseException) else _reason(m))
               for a, m in missing.items() if m}
        if bad and len(bad) == len(missing):
            w, m = next(iter(bad.items()))
            raise ExecutorError(f"--scheduler {self.address}: no worker can run the "
                                f"programs ({w}: {m}; give --bin-dir as the folder on the "
                                "workers, or put them on their PATH)", 1)
        for w, m in bad.items():
            self.warn(f"worker {w}: {m}: its runs will fail")
        self.notes = (f"Runs made by the workers of the Dask scheduler {self.address} "
                      f"({len(workers)} when the study started).",)

    def _check_threads(self, worker, nthreads):
        if nthreads and nthreads > 1 and worker not in self._warned:
            self._warned.add(worker)
            self.warn(f"worker {worker} has {nthreads} threads: runs on it share cores and "
                      "disturb each other's timings (start workers with --nthreads 1)")

    def __exit__(self, exc_type, exc, tb):
        self._close()
        return False

    def description(self):
        """The description of the input files that the workers' advdiff2d gives (asked of
        the programs that will run, not of one that happens to be here)."""
        program = (os.path.join(self.bin_dir, tasks_mod.PROGRAM) if self.bin_dir
                   else tasks_mod.PROGRAM)
        # subprocess.check_output is there on every worker, whatever version of this code
        # it holds.
        try:
            answers = self.client.run(subprocess.check_output, [program, description.OPTION],
                                      stdin=subprocess.DEVNULL, timeout=description.TIMEOUT,
                                      on_error="return")
        except Exception as e:  # noqa: BLE001
            raise ExecutorError(f"--scheduler {self.address}: cannot ask the workers ("
                                f"{_reason(e)})", 1) from None
        docs, why = [], None
        for answer in answers.values():
            if isinstance(answer, BaseException):
                why = why or _reason(answer)
                continue
            try:
                docs.append(json.loads(answer.decode("utf-8")))
            except (ValueError, RecursionError) as e:
                why = why or f"not JSON: {e}"
        if not docs:
            raise ExecutorError(f"--scheduler {self.address}: no worker's {program} describes "
                                f"its input files ({why}; an older build?)", 1)
        if any(doc != docs[0] for doc in docs):
            self.warn("the workers' advdiff2d programs describe their input files "
                      "differently: they are not all of one version")
        try:
            return description.Description(docs[0])
        except description.DescriptionError as e:
            raise ExecutorError(f"--scheduler {self.address}: {e}", 1) from None

    def _close(self):
        if self.client is not None:
            try:
                self.client.set_metadata([METADATA_ROOT, self.study], None)
            except Exception:  # noqa: BLE001 - the scheduler may be gone
                pass
            try:  # the scratch of workers that died while the study ran
                self.client.run(tasks_mod.remove_stale_scratch, on_error="return",
                                wait=True)
            except Exception:  # noqa: BLE001
                pass
            try:
                self.client.close(timeout=CONNECT_TIMEOUT)
            except Exception:  # noqa: BLE001
                pass
            self.client = None

    # -- running --------------------------------------------------------------------------

    def results(self, task_list, started=None):
        finished = queue.Queue()
        futures = {}
        for index, task in enumerate(task_list):
            key = f"advdiff2d-{self.study}-{index:04d}-{task['name']}"
            future = self.client.submit(_run_on_dask_worker, task, self.study, self.digest,
                                        key=key, pure=False, retries=0)
            futures[future] = index
            future.add_done_callback(finished.put)
        pending = set(futures)
        hosts = {}
        no_worker_since = None
        try:
            while pending:
                try:
                    future = finished.get(timeout=POLL)
                except queue.Empty:
                    gone = self._cluster_gone(no_worker_since)
                    if gone is None or isinstance(gone, float):
                        no_worker_since = gone
                        continue
                    self.client.cancel(list(pending))
                    for future in sorted(pending, key=futures.get):
                        yield futures[future], lost_result(task_list[futures[future]], gone)
                    pending.clear()
                    break
                if future not in pending:
                    continue
                pending.discard(future)
                index = futures[future]
                result = self._collect(future, task_list[index])
                future.release()
                self._watch(result, hosts)
                yield index, result
        except BaseException:
            if pending and self.client is not None:
                try:
                    self.client.cancel(list(pending))
                except Exception:  # noqa: BLE001
                    pass
            raise

    def _collect(self, future, task):
        d = self.distributed
        try:
            return future.result(timeout=60)
        except d.scheduler.KilledWorker as e:  # the scheduler's own bound on restarts
            last = getattr(e, "last_worker", None)
            name, host = str(getattr(last, "name", "")), str(getattr(last, "host", ""))
            return lost_result(task, f"its worker {name} died while running it".replace(
                "  ", " "), name, host)
        except d.CancelledError:
            return lost_result(task, "cancelled: the scheduler went away or was restarted")
        except Exception as e:  # noqa: BLE001 - an error outside run_task (import, pickling)
            result = lost_result(task, f"{type(e).__name__}: {e}")
            result["status"] = "failed"
            return result

    def _watch(self, result, hosts):
        """Warnings about how a result was timed: a worker with several threads, a host with
        more workers than cores."""
        worker, host, cpus = result.get("worker"), result.get("host"), result.get("cpus")
        if not worker or not host or result["status"] == "lost":
            return
        nthreads = result.get("nthreads") or 1
        self._check_threads(worker, nthreads)
        seen = hosts.setdefault(host, {})
        seen[worker] = nthreads
        threads = sum(seen.values())
        if cpus and threads > cpus and ("host", host) not in self._warned:
            self._warned.add(("host", host))
            self.warn(f"host {host} runs {len(seen)} workers with {threads} threads on {cpus} "
                      "cores: their runs disturb each other's timings (one single-thread "
                      "worker per core at most)")

    def _cluster_gone(self, no_worker_since):
        """None while workers are there; the time since when there is none; or a message once
        the study should give up its remaining runs."""
        if self.client.status not in ("running", "connecting"):
            return "the connection to the scheduler was lost"
        try:
            workers = self.client.scheduler_info()["workers"]
        except Exception:  # noqa: BLE001
            return "the connection to the scheduler was lost"
        if workers:
            return None
        now = time.monotonic()
        if no_worker_since is None:
            return now
        if now - no_worker_since > NO_WORKER_TIMEOUT:
            return f"no worker left on the scheduler for {NO_WORKER_TIMEOUT:g} s"
        return no_worker_since


def _scheduler_address(text):
    """The address in full (tcp://HOST:PORT); a text that is none is refused here, before a
    client half made from it could linger."""
    from distributed.comm.addressing import parse_address, parse_host_port

    try:
        scheme, location = parse_address(text.strip())
        if scheme not in ("tcp", "tls"):
            raise ValueError(f"the scheme is {scheme}://, not tcp:// or tls://")
        host, port = parse_host_port(location, DEFAULT_PORT)
        if not host or not 0 < port < 65536:
            raise ValueError("give a host and a port")
    except (ValueError, TypeError) as e:
        raise ExecutorError(f"--scheduler {text}: not a scheduler address such as "
                            f"tcp://10.0.0.5:{DEFAULT_PORT} ({_reason(e)})") from None
    host = f"[{host}]" if ":" in host else host
    return f"{scheme}://{host}:{port}"


def _reason(error):
    text = str(error).strip().splitlines()
    return text[0] if text and text[0] else type(error).__name__


def worker_notes(rows):
    """A line for summary.md: how many runs each worker made, when they were not all made
    here one by one."""
    counts = {}
    for row in rows:
        if row.get("worker") and row["status"] != "not run":
            key = (row["worker"], row.get("host") or "")
            counts[key] = counts.get(key, 0) + 1
    if not counts or set(counts) == {("local", socket.gethostname())}:
        return ()
    parts = [f"{worker} on {host or 'an unknown host'}: {n}"
             for (worker, host), n in sorted(counts.items())]
    return ("Runs per worker: " + ", ".join(parts) + ".",)


def make_executor(jobs=None, scheduler=None, bin_dir=None, warn=print):
    """The executor the command line asks for (not yet entered)."""
    if scheduler is not None:
        return DaskCluster(scheduler, bin_dir, warn)
    if jobs and jobs > 1:
        return LocalPool(jobs)
    return Sequential()
