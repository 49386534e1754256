#!/usr/bin/env python3
"""Fault matrix: fails, one at a time, every file-system call the tool makes on its own
three files, at each occurrence (and from each occurrence on), with each error number,
and checks after every run that

  - the scrambled bytes are still whole under the input's name or the backup name;
  - status 0 comes only with the restored file and the backup complete, no temporary
    file left, and "OK." printed;
  - any other run ends with status 1, a message on standard error and no "OK.".

    faults.py --tool PATH
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

from e2e import (BACKUP_EXISTS, CANNOT_OPEN, CANNOT_WRITE, NO_MEMORY, ABNORMAL, container, lay,
                 restored, snapshot)

NAMES = ["A.PRC", "A.PRC.$$$", "A.PRC.BAK"]
ORIGINAL = container(b"The scrambled bytes that must never be lost.\n" * 40)
PLAIN = restored(ORIGINAL)[0]
OLD = b"an earlier backup"
MESSAGES = {m + b"\n" for m in (CANNOT_OPEN, ABNORMAL, CANNOT_WRITE, BACKUP_EXISTS, NO_MEMORY)}
ERRNOS = ["EIO", "ENOSPC", "EINTR"]
MOVE_ERRNOS = ERRNOS + ["EEXIST", "EXDEV", "EPERM"]
MOVES = {"renameat2", "link", "unlink", "rename", "renameat"}

# Each scenario: the files laid before the run, and faults injected into every run of it
# (here: a kernel without the no-replace flag, so moves go by link and unlink).
SCENARIOS = [
    ("fresh", {"A.PRC": ORIGINAL}, []),
    ("leftover temp", {"A.PRC": ORIGINAL, "A.PRC.$$$": b"stale"}, []),
    ("backup taken", {"A.PRC": ORIGINAL, "A.PRC.BAK": OLD}, []),
    ("no-replace flag refused", {"A.PRC": ORIGINAL}, ["renameat2:error=EINVAL"]),
]


def run(tool, root, injections):
    """Runs the tool on A.PRC under strace; returns status, stdout, stderr and the
    traced calls on the three files, in order."""
    log = os.path.join(root, "..", "trace")
    paths = [a for n in NAMES for a in ("-P", n, "-P", os.path.join(root, n))]
    cmd = ["strace", "-f", "-qqq", "-o", log, *paths]
    for i in injections:
        cmd += ["-e", "inject=" + i]
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")  # LeakSanitizer cannot run traced
    p = subprocess.run(cmd + [tool, "A.PRC"], cwd=root, capture_output=True, env=env, timeout=60)
    err = b"".join(l for l in p.stderr.splitlines(True) if not l.startswith(b"strace: "))
    with open(log) as f:
        traced = re.findall(r"^\d+\s+(\w+)\(", f.read(), re.M)
    return p.returncode, p.stdout, err, traced


def problems(before, status, out, err, after):
    """What is wrong with the outcome of one run; empty when all is well."""
    found = []
    if ORIGINAL not in (after.get("A.PRC"), after.get("A.PRC.BAK")):
        found.append("the scrambled bytes are lost")
    if before.get("A.PRC.BAK") == OLD and after.get("A.PRC.BAK") != OLD:
        found.append("the earlier backup changed")
    if set(after) - set(NAMES):
        found.append(f"stray files {sorted(set(after) - set(NAMES))}")
    if status == 0:
        if after != {"A.PRC": PLAIN, "A.PRC.BAK": ORIGINAL}:
            found.append("status 0 without the restored file and the backup, alone")
        if not out.endswith(b"OK.\n") or err:
            found.append("status 0 without OK. or with a message")
    elif status != 1 or err not in MESSAGES or b"OK." in out:
        found.append(f"status {status} with stdout {out!r} and stderr {err!r}")
    return found


SKIPPED = 77  # the status CTest counts as a skipped case (SKIP_RETURN_CODE)


def why_untraceable():
    """Why strace cannot run a program here, or None when it can."""
    if shutil.which("strace") is None:
        return "strace is not installed"
    p = subprocess.run(["strace", "-f", "-qqq", "-o", os.devnull, sys.executable, "-c", ""],
                       capture_output=True, text=True, timeout=60)
    if p.returncode != 0:
        lines = p.stderr.strip().splitlines() or [f"status {p.returncode}"]
        return "strace cannot trace a program here (is ptrace allowed?): " + lines[-1]
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    tool = os.path.abspath(parser.parse_args().tool)
    reason = why_untraceable()
    if reason:
        print(f"fault matrix skipped: {reason}")
        return SKIPPED
    scratch = tempfile.mkdtemp(prefix="unprc-faults-")
    tried, failed, failures = 0, 0, []
    try:
        for name, tree, base in SCENARIOS:
            root = os.path.join(scratch, "run")

            def attempt(injections):
                shutil.rmtree(root, ignore_errors=True)
                os.mkdir(root)
                lay(root, tree)
                status, out, err, traced = run(tool, root, base + injections)
                return status, out, err, traced, snapshot(root)

            # A clean run (but for the scenario's own faults) lists the calls to fail.
            status, out, err, traced, after = attempt([])
            found = problems(tree, status, out, err, after)
            tried, failed = tried + 1, failed + bool(found)
            failures += [(name, "no fault", p) for p in found]
            counts = {}
            for call in traced:
                counts[call] = counts.get(call, 0) + 1
            for call, count in sorted(counts.items()):
                if base and call in MOVES:
                    continue  # already failing in every run of this scenario
                for errno in MOVE_ERRNOS if call in MOVES else ERRNOS:
                    for n in range(1, count + 1):
                        # EINTR is passing by nature: it is retried, never injected for good.
                        for when in (str(n),) if errno == "EINTR" else (str(n), f"{n}+"):
                            fault = f"{call}:error={errno}:when={when}"
                            status, out, err, _, after = attempt([fault])
                            tried += 1
                            found = problems(tree, status, out, err, after)
                            failed += bool(found)
                            failures += [(name, fault, p) for p in found]
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    for name, fault, problem in failures:
        print(f"FAIL [{name}] {fault}: {problem}")
    print(f"fault matrix: {tried} runs, {tried - len(SCENARIOS)} fault points, {len(SCENARIOS)} scenarios")
    print(f"{tried - failed} passed, {failed} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
