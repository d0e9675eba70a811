"""The memory runs on this machine may have, as the program itself judges it: the smallest of
the machine's available memory and the headroom under the memory limit of the process's
cgroup (v1 or v2: its own group and every group above it). Limits on one process's address
space (ulimit -v, -d) bind each run on its own and are the program's to check.
"""

import os

MEMINFO = "/proc/meminfo"
CGROUP_ROOT = "/sys/fs/cgroup"


def _read(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return None


def _number(text):
    try:
        return int(text.strip())
    except (AttributeError, ValueError):
        return None  # "max", or no such file


def machine_available():
    text = _read(MEMINFO)
    for line in (text or "").splitlines():
        if line.startswith("MemAvailable:"):
            parts = line.split()
            if len(parts) >= 2 and parts[1].isdigit():
                return int(parts[1]) * 1024
    return None


def _groups():
    """(limit file, usage file) of every group of this process's memory hierarchy, its own
    first, for cgroup v2 and v1."""
    found = []
    for line in (_read("/proc/self/cgroup") or "").splitlines():
        parts = line.split(":", 2)
        if len(parts) != 3:
            continue
        hierarchy, controllers, path = parts
        if hierarchy == "0" and controllers == "":
            base, limit, usage = CGROUP_ROOT, "memory.max", "memory.current"
        elif "memory" in controllers.split(","):
            base, limit, usage = (os.path.join(CGROUP_ROOT, "memory"),
                                  "memory.limit_in_bytes", "memory.usage_in_bytes")
        else:
            continue
        path = path.strip("/")
        while True:
            folder = os.path.join(base, path) if path else base
            found.append((os.path.join(folder, limit), os.path.join(folder, usage)))
            if not path:
                break
            path = os.path.dirname(path)
    return found


def cgroup_headroom():
    """The smallest headroom under a memory limit of this process's cgroups, or None."""
    best = None
    for limit_file, usage_file in _groups():
        limit, usage = _number(_read(limit_file)), _number(_read(usage_file))
        if limit is None or usage is None or limit >= 1 << 60:  # v1 writes "no limit" so
            continue
        room = max(0, limit - usage)
        best = room if best is None else min(best, room)
    return best


def available():
    """(bytes, what limits them) or (None, None) when the machine gives no figure."""
    figures = [(machine_available(), "the machine's available memory"),
               (cgroup_headroom(), "the memory limit of the process's cgroup")]
    figures = [(b, what) for b, what in figures if b is not None]
    if not figures:
        return None, None
    return min(figures)


def text(size):
    """A byte count as the program writes one: 555 MiB, 1.2 GiB (tenths), 800 KiB."""
    if size is None:
        return "an unknown amount"
    if size >= 1 << 30:
        return f"{size / (1 << 30):.1f} GiB"
    for unit, scale in (("MiB", 1 << 20), ("KiB", 1 << 10)):
        if size >= scale:
            return f"{(size + scale // 2) // scale} {unit}"
    return f"{size} bytes"
