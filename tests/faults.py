#!/usr/bin/env python3
"""Fault matrix and race table for the tool's replacement of a file.

Fault matrix: under strace's fault injection, restricted with -P to the tool's three
file names and the folder that holds them (so calls made on the folder's descriptor are
matched too), every call of a clean run fails in turn, at each occurrence and from each
occurrence on, with each error number that fits it. After every run the files must match
the row of the outcome table (docs/design.md, "Files after each outcome") that the run's
status and messages name (numbered as in README.md's message table); ROWS below holds
those rows as this runner checks them.

"original" is the input itself (same file, bytes and mode: it is only ever renamed);
"payload" is the plain payload with the input's permission bits (set-user-ID,
set-group-ID and sticky dropped) and one name. Beyond the row:

  - an interrupted call (EINTR) is retried: the run ends as the clean run does;
  - a failed read of the input ends in message 2, as any input that cannot be read;
  - a failure of any call whose result matters ends in status 1 (only a refused owner,
    a failed close of the input or the folder, a failed look at the temporary name and a rename
    refused for lack of the no-replace flag may pass unnoticed);
  - every fault must be seen to strike the call it names, or the point proves nothing;
  - every scenario's clean run ends as it should (OK., or message 7 where a backup is
    there already), and its trace shows the temporary file created exclusively at 0600,
    given the input's owner and permission bits before the first byte is written to it.

Where moves go by link and unlink and every unlink from some point on is refused, a
move that cannot be undone leaves its file under two names; rows for that are admitted
only when the trace shows two unlinks refused.

Race table: two runs on one file, the first held for a moment on entry to each call it
makes (strace delay_enter), the second started while it waits. After both end: at most
one restored the file and the other failed with status 1 and a message; after an OK.
the file holds the payload and the backup the original; the original is always whole
under FILE or FILE.BAK; no file is left under two names. And while the first holds the
file (from its lock to its second move), the second is refused with message 2 and the
first restores the file.

    faults.py --tool PATH
"""

import argparse
import hashlib
import os
import random
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import time

from e2e_harness import (ABNORMAL, BACKUP_EXISTS, CANNOT_OPEN, CANNOT_WRITE, NO_MEMORY,
                         OUTPUT_EXISTS, container, key_line, restored)

FILE, TEMP, BACKUP = "A.PRC", "A.PRC.$$$", "A.PRC.BAK"
NAMES = (FILE, TEMP, BACKUP)
OLD = b"an earlier backup"
STALE = b"stale"
EARLY_MESSAGES = {m + b"\n" for m in (CANNOT_OPEN, ABNORMAL, NO_MEMORY)}
MOVES = {"renameat2", "linkat", "unlinkat", "renameat", "rename", "link", "unlink"}
ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")  # LeakSanitizer cannot run traced
HOLD_US = 300_000  # how long the first run of a race waits on entry to the call


def errnos_for(call):
    """The errors each call is failed with: EINTR (to be retried) and EIO and ENOSPC for
    every call, plus what is typical for the call."""
    errnos = ["EINTR", "EIO", "ENOSPC"]
    if call in MOVES:
        errnos += ["EEXIST", "EXDEV", "EPERM"]
    if call == "renameat2":
        errnos += ["EINVAL"]  # a file system without the no-replace flag, for one move
    if call == "flock":
        errnos += ["EAGAIN"]  # another process holds the lock
    if call == "fsync":
        errnos += ["EINVAL"]  # a file system that cannot sync this kind of file
    if call.endswith("xattr"):
        errnos += ["EOPNOTSUPP"]  # a file system without access lists
    if call in ("fchown", "fchmod", "openat"):
        errnos += ["EPERM" if call != "openat" else "EACCES"]
    return errnos


class Scenario:
    """The files laid before each run, and faults injected into every run of it."""

    def __init__(self, name, plain, mode, others, base=(), clean="OK."):
        self.name, self.mode, self.others, self.base = name, mode, others, list(base)
        self.clean = clean  # the row a run without a fault ends in
        self.original = container(plain)
        self.payload, self.key = restored(self.original)
        assert self.payload == plain, "the decoder model disagrees with container()"
        self.permissions = mode & 0o777

    def lay(self, root):
        shutil.rmtree(root, ignore_errors=True)
        os.mkdir(root)
        for name, data in [(FILE, self.original), *self.others.items()]:
            with open(os.path.join(root, name), "wb") as f:
                f.write(data)
        os.chmod(os.path.join(root, FILE), self.mode)
        st = os.stat(os.path.join(root, FILE))
        self.owner = (st.st_uid, st.st_gid)
        return entries(root)


def big_plain():
    """A payload that fills the work buffer: 1 MiB of input with the header."""
    return random.Random(7).randbytes((1 << 20) - 4)


SCENARIOS = [
    Scenario("fresh, 1 MiB, set-user-ID", big_plain(), 0o4755, {}),
    Scenario("leftover temp, read-only input",
             b"The scrambled bytes that must never be lost.\n" * 40, 0o440, {TEMP: STALE}),
    Scenario("backup taken", b"An odd-sized payload.\n" * 31 + b"!", 0o600, {BACKUP: OLD},
             clean="backup exists"),
    # A file system without the no-replace flag: every move goes by link and unlink.
    Scenario("no-replace flag refused, set-group-ID", b"Moved by link and unlink.\n" * 50,
             0o2750, {}, ["renameat2:error=EINVAL"]),
    # Neither the flag nor second names: each destination is reserved, then renamed over.
    Scenario("no-replace flag, no hard links", b"Moved over a reservation.\n" * 60, 0o640, {},
             ["renameat2:error=EINVAL", "linkat:error=EPERM"]),
]


class Entry:
    """What one name holds: its bytes, permission bits, link count and file number."""

    def __init__(self, data, mode, links, number):
        self.data, self.mode, self.links, self.number = data, mode, links, number

    def __eq__(self, other):
        return isinstance(other, Entry) and (self.data, self.mode, self.links, self.number) == (
            other.data, other.mode, other.links, other.number)


def entries(root):
    """Every name in the folder: an Entry for a regular file, else a word for its kind."""
    found = {}
    for name in os.listdir(root):
        st = os.lstat(os.path.join(root, name))
        if stat.S_ISREG(st.st_mode):
            with open(os.path.join(root, name), "rb") as f:
                found[name] = Entry(f.read(), stat.S_IMODE(st.st_mode), st.st_nlink, st.st_ino)
        else:
            found[name] = "directory" if stat.S_ISDIR(st.st_mode) else "not a regular file"
    return found


def digest(data):
    return f"{len(data)} bytes, sha256 {hashlib.sha256(data).hexdigest()[:16]}"


def differs(want_data, got_data):
    """A short account of how two byte strings differ; never the bytes themselves."""
    offset = next((i for i, (a, b) in enumerate(zip(want_data, got_data)) if a != b),
                  min(len(want_data), len(got_data)))
    return f"{digest(got_data)} where {digest(want_data)} was due, first differing at {offset}"


# The expected content of one name, given the scenario and what was there before the run.
def expect(what, name, sc, before):
    """An Entry to match (number None: any file), or None for absent."""
    if what == "absent":
        return None
    if what == "before":
        return before.get(name)
    if what.startswith("original"):
        # The input itself, renamed at most: the same file, bytes and mode.
        return Entry(sc.original, sc.mode, 2 if "two names" in what else 1, before[FILE].number)
    if what.startswith("payload"):
        return Entry(sc.payload, sc.permissions, 2 if "two names" in what else 1, None)
    if what in ("empty", "new"):  # a reservation, or a temporary file, left as created
        return Entry(b"", 0o200 if what == "empty" else 0o600, 1, None)
    raise ValueError(what)


def mismatch(want, got):
    """Why `got` is not `want`, or None when it is."""
    if want is None or got is None or isinstance(got, str):
        if want is None and got is None:
            return None
        return f"{'absent' if got is None else got if isinstance(got, str) else 'present'} " \
               f"where {'nothing' if want is None else 'a file'} was due"
    if got.data != want.data:
        return differs(want.data, got.data)
    if got.mode != want.mode:
        return f"mode {got.mode:o} where {want.mode:o} was due"
    if got.links != want.links:
        return f"{got.links} names where {want.links} was due"
    if want.number is not None and got.number != want.number:
        return "a different file (not the original, renamed)"
    return None


ROWS = {
    "OK.": {FILE: ["payload"], BACKUP: ["original"], TEMP: ["absent"]},
    "refused before the key": {FILE: ["original"], BACKUP: ["before"], TEMP: ["before"]},
    "cannot write the temporary file": {FILE: ["original"], BACKUP: ["before"],
                                        TEMP: ["absent", "before"]},
    "backup exists": {FILE: ["original"], BACKUP: ["before"], TEMP: ["payload"]},
    "a move failed, original moved back": {FILE: ["original"], BACKUP: ["before"],
                                           TEMP: ["payload"]},
    "the move back failed too": {FILE: ["absent"], BACKUP: ["original"], TEMP: ["payload"]},
    "folder not synced": {FILE: ["payload"], BACKUP: ["original"], TEMP: ["absent"]},
    # Where moves go by link and unlink and every unlink is refused, neither the second
    # name a move added nor the first can be dropped: the file is left under both. Only
    # admitted when the trace shows at least two unlinks refused.
    "first move half made, unlinks refused": {FILE: ["original, two names"],
                                              BACKUP: ["original, two names"], TEMP: ["payload"]},
    "second move half made, unlinks refused": {FILE: ["payload, two names"],
                                               BACKUP: ["original"],
                                               TEMP: ["payload, two names"]},
    # Where a destination is reserved and neither the rename over it nor its removal (or
    # the look that shows it is still the reservation) can be made, the empty
    # reservation stays. Only admitted when the trace shows such a call refused.
    "backup name's reservation left": {FILE: ["original"], BACKUP: ["empty"],
                                       TEMP: ["absent", "payload"]},
    "file name's reservation left": {FILE: ["empty"], BACKUP: ["original"], TEMP: ["payload"]},
    # Another run that locked the new temporary file before this one could is left to
    # remove it. Only admitted when that lock was refused as held.
    "temporary file left to the run that locked it": {FILE: ["original"], BACKUP: ["before"],
                                                      TEMP: ["new"]},
}
UNLINKS_REFUSED_ROWS = ["first move half made, unlinks refused",
                        "second move half made, unlinks refused"]
RESERVATION_ROWS = ["backup name's reservation left", "file name's reservation left"]
CANNOT_WRITE_ROWS = ["cannot write the temporary file", "a move failed, original moved back",
                     "the move back failed too", "folder not synced"]


def rows_for(sc, status, out, err, unlinks_refused=0, admitted=()):
    """The rows of the outcome table that a run's status and streams name, or a
    problem with the streams themselves. `admitted`: rows a message 6 may also end in,
    as the refused calls of the run allow."""
    key = key_line(sc.key)
    if status == 0:
        if out == key + b"OK.\n" and not err:
            return ["OK."], None
    elif status == 1 and b"OK." not in out:
        if out == b"" and err in EARLY_MESSAGES:
            return ["refused before the key"], None
        if out == key and err == CANNOT_WRITE + b"\n":
            return CANNOT_WRITE_ROWS + (UNLINKS_REFUSED_ROWS if unlinks_refused >= 2 else []) + \
                list(admitted), None
        if out == key and err == BACKUP_EXISTS + b"\n":
            return ["backup exists"], None
    return [], f"status {status} with stdout {out[:80]!r} and stderr {err[:80]!r}"


def row_problems(sc, rows, before, after):
    """Empty when the files match one of `rows`; else why they match none."""
    why = []
    for row in rows:
        wrong = []
        for name, allowed in ROWS[row].items():
            reasons = [mismatch(expect(a, name, sc, before), after.get(name)) for a in allowed]
            if all(reasons):
                wrong.append(f"{name}: {' / '.join(reasons)}")
        if not wrong:
            return []
        why.append(f"not '{row}' ({'; '.join(wrong)})")
    return why


def invariant_problems(sc, before, after):
    """What must hold after any run, whatever it reports."""
    found = []
    original = expect("original", FILE, sc, before)
    if not any(isinstance(e, Entry) and (e.data, e.number) == (original.data, original.number)
               for e in (after.get(FILE), after.get(BACKUP))):
        found.append(f"the original is not whole under {FILE} or {BACKUP}")
    if set(after) - set(NAMES):
        found.append(f"stray names {sorted(set(after) - set(NAMES))}")
    return found


# --- strace --------------------------------------------------------------------------

LINE = re.compile(r"^\d+\s+(\w+)\((.*)\)\s+=\s+(-?\d+|\?)(.*)$")


class Call:
    def __init__(self, name, args, result, rest):
        self.name, self.args, self.result = name, args, int(result) if result != "?" else None
        self.injected = "(INJECTED)" in rest

    def fd(self):
        first = self.args.split(",", 1)[0]
        return int(first) if first.isdigit() else None


def parse(log):
    with open(log, errors="replace") as f:
        return [Call(*m.groups()) for m in map(LINE.match, f) if m]


def strace_command(root, log, names=NAMES):
    paths = []
    for name in names:
        paths += ["-P", name, "-P", os.path.join(root, name)]
    paths += ["-P", ".", "-P", root]  # the folder, opened first, then the dirfd of every *at
    return ["strace", "-f", "-qqq", "-o", log, *paths]


def run(tool, sc, root, injections):
    """Lays the scenario, runs the tool on it under strace; returns the files before, the
    status, both streams, the traced calls and the files after."""
    before = sc.lay(root)
    log = root + ".trace"
    cmd = strace_command(root, log)
    for injection in sc.base + injections:
        cmd += ["-e", "inject=" + injection]
    p = subprocess.run(cmd + [tool, FILE], cwd=root, capture_output=True, env=ENV, timeout=60,
                       stdin=subprocess.DEVNULL)
    err = b"".join(l for l in p.stderr.splitlines(True) if not l.startswith(b"strace: "))
    return before, p.returncode, p.stdout, err, parse(log), entries(root)


def temp_fd(calls, temp=TEMP):
    for c in calls:
        if c.name == "openat" and f'"{temp}"' in c.args and "O_CREAT" in c.args:
            return c.result
    return None


def temp_close(calls):
    """The close of the temporary file's descriptor: the first after its creation (the
    number may then be taken by another file)."""
    fd = temp_fd(calls)
    created = next(i for i, c in enumerate(calls) if c.name == "openat" and c.result == fd and
                   "O_CREAT" in c.args) if fd is not None else len(calls)
    return next((c for c in calls[created:] if c.name == "close" and c.fd() == fd), None)


def folder_fd(calls):
    """The descriptor of the folder the tool opened first, by its name "."."""
    return next((c.result for c in calls if c.name == "openat" and '".",' in c.args), None)


def may_pass_unnoticed(call, errno, temp_closed, folder):
    """A failed call the tool may rightly let by: a refused owner or group, a close of
    anything but the written temporary file, a look at the temporary name that could
    not be made (the exclusive creation that follows refuses anything there), a rename
    refused for lack of the no-replace flag (the move then goes by link and unlink), a
    link refused for lack of second names (the move then goes by a reservation), access
    lists the file system lacks, and a folder the file system cannot sync."""
    if call.name == "fchown" or (call.name, errno) in (("renameat2", "EINVAL"), ("linkat", "EPERM")):
        return True
    if call.name.endswith("xattr") and errno == "EOPNOTSUPP":
        return True
    if call.name == "fsync" and errno == "EINVAL":
        return call.fd() == folder
    if call.name == "close":
        return call is not temp_closed
    return call.name == "newfstatat" and f'"{TEMP}"' in call.args


ACCESS_LIST = '"system.posix_acl_access"'
MOVED = ("renameat2", "renameat", "linkat")


def protocol_problems(calls, temp, owner, permissions, moves, input_name=None):
    """The whole durable protocol, in this order, in the trace of a clean run: the input
    locked without waiting (unprc), the temporary file created exclusively at 0600 and
    locked without waiting, given the owner and group, the access list (set, or the
    inherited one removed) and the permission bits, all before its first write; then
    written, synced and closed; `moves` renames; and last the folder synced."""
    fd, folder = temp_fd(calls, temp), folder_fd(calls)
    steps = []
    if input_name:
        steps.append(("the input locked without waiting", lambda c: c.name == "flock" and
                      c.fd() != fd and c.args.endswith("LOCK_EX|LOCK_NB")))
    steps += [
        ("the exclusive creation at 0600", lambda c: c.name == "openat" and c.result == fd and
         "O_EXCL" in c.args.split(", ")[2].split("|") and c.args.endswith(", 0600")),
        ("its lock without waiting", lambda c: c.name == "flock" and c.fd() == fd and
         c.args.endswith("LOCK_EX|LOCK_NB") and c.result == 0),
        (f"fchown({fd}, {owner[0]}, {owner[1]})",
         lambda c: f"{c.name}({c.args})" == f"fchown({fd}, {owner[0]}, {owner[1]})"),
        ("its access list", lambda c: c.name in ("fsetxattr", "fremovexattr") and
         c.fd() == fd and c.args.split(", ")[1] == ACCESS_LIST),
        (f"fchmod to {permissions:04o}",
         lambda c: c.name == "fchmod" and c.fd() == fd and c.args.endswith(f"{permissions:04o}")),
        ("its first write", lambda c: c.name == "write" and c.fd() == fd),
        ("its sync", lambda c: c.name == "fsync" and c.fd() == fd and c.result == 0),
        ("its close", lambda c: c.name == "close" and c.fd() == fd and c.result == 0),
    ]
    steps += [(f"move {n + 1}", lambda c: c.name in MOVED and c.result == 0)
              for n in range(moves)]
    steps.append(("the folder's sync", lambda c: c.name == "fsync" and c.fd() == folder and
                  c.result == 0))
    if fd is None:
        return [f"no exclusive creation of {temp} in the trace"]
    at, found = 0, []
    for what, matches in steps:
        i = next((i for i in range(at, len(calls)) if matches(calls[i])), None)
        if i is None:
            return [f"{what}: missing from the trace, or not after {steps[steps.index((what, matches)) - 1][0]}"
                    if at else f"{what}: missing from the trace"]
        if what == "its first write":
            early = [c for c in calls[:i] if c.name == "write" and c.fd() == fd]
            if early:
                found.append("a write to the temporary file before its access was set")
        at = i + 1
    if any(c.name in MOVED + ("unlinkat",) and c.result == 0 for c in calls[at:]):
        found.append("a name changed after the folder's last sync")
    return found


# --- the matrix ----------------------------------------------------------------------


NOT_RETRIED = "an interrupted call did not end as the clean run does"

def check_run(sc, fault, before, status, out, err, calls, after):
    """Every problem with one run under `fault` (None for a clean run)."""
    unlinks_refused = sum(c.injected for c in calls if c.name == "unlinkat")
    temp, folder = temp_fd(calls), folder_fd(calls)
    admitted = []
    # A reservation is left too where its lock was refused as held: the holder removes it.
    if any(c.injected and c.name in ("unlinkat", "newfstatat") for c in calls) or (
            fault and fault[:2] == ("flock", "EAGAIN")):
        admitted += RESERVATION_ROWS
    if fault and fault[:2] == ("flock", "EAGAIN") and any(
            c.injected and c.name == "flock" and c.fd() == temp for c in calls):
        admitted.append("temporary file left to the run that locked it")
    rows, stream_problem = rows_for(sc, status, out, err, unlinks_refused, admitted)
    found = [stream_problem] if stream_problem else []
    found += row_problems(sc, rows, before, after) if rows else []
    found += invariant_problems(sc, before, after)
    if fault is None:
        if rows != [sc.clean]:
            found.append(f"the clean run did not end in '{sc.clean}'")
        return found
    call, errno, when = fault
    if call == "read" and errno != "EINTR" and err != CANNOT_OPEN + b"\n":
        found.append("a failed read of the input did not end in message 2")
    mine = [c for c in calls if c.name == call]
    n = int(when.rstrip("+"))
    struck = mine[n - 1] if len(mine) >= n and mine[n - 1].injected else None
    if struck is None:
        found.append(f"the fault never struck {call} #{n}")
    folder_unsyncable = errno == "EINVAL" and call == "fsync" and all(
        c.fd() == folder for c in mine if c.injected)
    if errno == "EINTR" or folder_unsyncable:
        if rows != [sc.clean]:
            found.append(NOT_RETRIED if errno == "EINTR" else
                         "a folder the file system cannot sync did not end as the clean run does")
    elif status == 0:
        closed = temp_close(calls)
        missed = [c for c in mine if c.injected and not may_pass_unnoticed(c, errno, closed, folder)]
        if missed:
            found.append(f"OK. after a failed {missed[0].name}({missed[0].args[:60]})")
    return found


def matrix(tool, scratch):
    root = os.path.join(scratch, "run")
    tried, failures = 0, []
    for sc in SCENARIOS:
        before, status, out, err, calls, after = run(tool, sc, root, [])
        found = check_run(sc, None, before, status, out, err, calls, after)
        if sc.clean == "OK.":
            found += protocol_problems(calls, TEMP, sc.owner, sc.permissions, 2, FILE)
        tried += 1
        failures += [(sc.name, "no fault", p) for p in found]
        counts = {}
        for c in calls:
            counts[c.name] = counts.get(c.name, 0) + 1
        injected_by_base = {b.split(":")[0] for b in sc.base}
        for call, count in sorted(counts.items()):
            if call in injected_by_base:
                continue  # already failing in every run of this scenario
            for errno in errnos_for(call):
                for n in range(1, count + 1):
                    # An EINTR from some call on would be retried for ever.
                    for when in [str(n)] if errno == "EINTR" else [str(n), f"{n}+"]:
                        fault = (call, errno, when)
                        got = run(tool, sc, root, [f"{call}:error={errno}:when={when}"])
                        tried += 1
                        found = check_run(sc, fault, *got)
                        name = f"{call}:error={errno}:when={when}"
                        failures += [(sc.name, name, p) for p in found]
    return tried, failures


# --- the race table ------------------------------------------------------------------


def entered(log, call, n):
    """Whether the traced run is now held on entry to the n-th `call`: the last line of
    its trace is that call, unfinished."""
    try:
        with open(log, errors="replace") as f:
            lines = f.read().splitlines()
    except FileNotFoundError:
        return False
    named = [l for l in lines if re.match(rf"^\d+\s+{call}\(", l)]
    return len(named) == n and lines[-1] == named[-1] and not LINE.match(lines[-1])


def race(tool, scratch):
    """Holds a first run at each call it makes, one at a time, runs a second meanwhile,
    and checks both outcomes together."""
    sc = Scenario("race", b"Two runs, one file.\n" * 30, 0o644, {})
    root = os.path.join(scratch, "race")
    _, status, _, _, calls, _ = run(tool, sc, root, [])
    if status != 0:
        return 0, 0, {"first": 0, "second": 0, "neither": 0}, [
            ("race", "no fault", "the clean run did not succeed")]
    positions, seen = [], {}
    for c in calls:
        seen[c.name] = seen.get(c.name, 0) + 1
        positions.append((c.name, seen[c.name]))
    # From its lock until its second move is made, the first run holds the file under
    # its name: a second run meanwhile must be refused at once and change nothing.
    failures, held, winners = [], 0, {"first": 0, "second": 0, "neither": 0}
    if ("flock", 1) in positions and ("renameat2", 2) in positions:
        locked = range(positions.index(("flock", 1)) + 1, positions.index(("renameat2", 2)) + 1)
    else:
        locked = range(0)
        failures.append(("race", "no fault", "the clean run took no lock or made no second move"))
    for i, (call, n) in enumerate(positions):
        before = sc.lay(root)
        log = root + ".trace"
        cmd = strace_command(root, log) + [
            "-e", f"inject={call}:delay_enter={HOLD_US}:when={n}", tool, FILE]
        first = subprocess.Popen(cmd, cwd=root, env=ENV, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 10
        while not entered(log, call, n) and first.poll() is None and time.monotonic() < deadline:
            time.sleep(0.002)
        held_first = entered(log, call, n)
        second = subprocess.run([tool, FILE], cwd=root, env=ENV, capture_output=True,
                                stdin=subprocess.DEVNULL, timeout=60)
        waited = entered(log, call, n)  # the second ended while the first still waited
        held += waited
        out1, err1 = first.communicate(timeout=60)
        err1 = b"".join(l for l in err1.splitlines(True) if not l.startswith(b"strace: "))
        after = entries(root)
        outcomes = [(first.returncode, out1, err1), (second.returncode, second.stdout,
                                                     second.stderr)]
        found = invariant_problems(sc, before, after)
        found += [f"{name} has {e.links} names" for name, e in sorted(after.items())
                  if isinstance(e, Entry) and e.links != 1]
        ok = [o for o in outcomes if o[0] == 0]
        winners["neither" if not ok else "first" if outcomes[0][0] == 0 else "second"] += 1
        if len(ok) > 1:
            found.append("both runs restored the file")
        for status, out, err in outcomes:
            if status == 0:
                if out != key_line(sc.key) + b"OK.\n" or err:
                    found.append(f"status 0 with stdout {out!r} and stderr {err[:80]!r}")
            elif status != 1 or b"OK." in out or err.count(b"\n") != 1 or \
                    err not in EARLY_MESSAGES | {CANNOT_WRITE + b"\n", BACKUP_EXISTS + b"\n"}:
                found.append(f"status {status} with stdout {out!r} and stderr {err[:80]!r}")
        if ok:
            for name, what in ((FILE, "payload"), (BACKUP, "original")):
                wrong = mismatch(expect(what, name, sc, before), after.get(name))
                if wrong:
                    found.append(f"after OK. {name}: {wrong}")
        if held_first and not waited and i in locked:
            found.append("the second run waited for the first to end, not refused at once")
        if waited and i in locked and (outcomes[0][0], outcomes[1]) != (
                0, (1, b"", CANNOT_OPEN + b"\n")):
            found.append("the first held the file, yet the second was not refused with "
                         f"message 2 or the first did not restore it: {outcomes[1][:2]}")
        failures += [("race", f"first held at {call} #{n}", p) for p in found]
    return len(positions), held, winners, failures


# --- mkprc beside itself and beside unprc ---------------------------------------------

OUT, OUT_NAMES = "X", ("X", "X.$$$", "X.BAK")
P1, P2 = b"The first plain text.\n" * 20, b"A second, other plain text.\n" * 25


def tool_problems(which, status, out, err, key=None):
    """Whether one run ended as its tool's message table says: OK. and its key line or
    nothing at all (mkprc) with status 0, else status 1 and one of its messages."""
    if which == "unprc":
        if status == 0:
            return [] if (out, err) == (key_line(key) + b"OK.\n", b"") else [f"unprc: {out!r}"]
        fine = status == 1 and out in (b"", key_line(key)) and err in EARLY_MESSAGES | {
            CANNOT_WRITE + b"\n", BACKUP_EXISTS + b"\n"}
    else:
        if status == 0:
            return [] if (out, err) == (b"", b"") else [f"mkprc: {out!r} {err[:60]!r}"]
        fine = status == 1 and out == b"" and err in EARLY_MESSAGES | {
            CANNOT_WRITE + b"\n", OUTPUT_EXISTS + b"\n"}
    return [] if fine else [f"{which}: status {status}, {out[:60]!r}, {err[:60]!r}"]


def pair_problems(row, results, before, after):
    """What two runs on one name left, against what each said. `results`: the first's
    and the second's (tool, status, out, err)."""
    original = container(P1)
    payload, key = restored(original)
    found = []
    for which, status, out, err in results:
        found += tool_problems(which, status, out, err, key)
    ok = {(i, r[0]) for i, r in enumerate(results) if r[1] == 0}
    made = {i: container(P1 if i == 0 or row != "two mkprc on one OUT" else P2)
            for i, r in enumerate(results) if r[0] == "mkprc"}
    x, temp, bak = (after.get(n) for n in OUT_NAMES)
    data = lambda e: e.data if isinstance(e, Entry) else e  # noqa: E731
    if set(after) - set(before) - set(OUT_NAMES):
        found.append(f"stray names {sorted(set(after) - set(before) - set(OUT_NAMES))}")
    found += [f"{n} has {e.links} names" for n, e in after.items()
              if isinstance(e, Entry) and e.links != 1]
    mk_ok = [i for i, w in ok if w == "mkprc"]
    un_ok = [i for i, w in ok if w == "unprc"]
    if len(mk_ok) > 1:
        found.append("both mkprc runs said they made OUT")
    if row == "two mkprc on one OUT":
        want = made[mk_ok[0]] if mk_ok else None
        if data(x) != want:
            found.append(f"OUT holds {digest(data(x) or b'')} after mkprc statuses "
                         f"{[r[1] for r in results]}")
        if temp is not None:
            found.append("a temporary file is left")
        return found
    if OUT in before:  # unprc on a scrambled X, mkprc trying to make X meanwhile
        if original not in (data(x), data(bak)):
            found.append("the original is not whole under X or X.BAK")
        if un_ok and (data(x), data(bak)) != (payload, original):
            found.append("unprc said OK. but X and X.BAK are not the payload and the original")
        if mk_ok:
            found.append("mkprc made X, which existed when it started")
        if temp is not None and (un_ok or data(temp) != payload):
            found.append("a temporary file is left that is not unprc's kept payload")
        return found
    # mkprc first on a free X, unprc on X meanwhile
    if mk_ok and un_ok and (data(x), data(bak)) != (P1, made[0]):
        found.append("both said OK. but X and X.BAK are not the plain text and the container")
    if mk_ok and not un_ok and (data(x), bak) != (made[0], None):
        found.append("mkprc said it made X, yet X is not its container")
    if not mk_ok and (x, bak) != (None, None):
        found.append("mkprc failed, yet X or X.BAK exist")
    if temp is not None:
        found.append("a temporary file is left")
    return found


def pairs(tool, mkprc, scratch):
    """Holds a first run at each call it makes on X's names, runs a second run on the
    same X meanwhile, and checks both outcomes together."""
    # The second run of the first row is itself held at its first write, longer than the
    # first is held, so that the first goes on while the second is half done.
    rows = [
        ("two mkprc on one OUT", {"P1": P1, "P2": P2}, ["mkprc", "P1", OUT], ["mkprc", "P2", OUT]),
        ("mkprc beside unprc", {OUT: container(P1), "P": P2}, ["unprc", OUT], ["mkprc", "P", OUT]),
        ("unprc beside mkprc", {"P": P1}, ["mkprc", "P", OUT], ["unprc", OUT]),
    ]
    second_held = {"two mkprc on one OUT": f"write:delay_enter={2 * HOLD_US}:when=1"}
    programs = {"unprc": tool, "mkprc": mkprc}
    root = os.path.join(scratch, "pairs")
    cases, failures = 0, []

    def lay(files):
        shutil.rmtree(root, ignore_errors=True)
        os.mkdir(root)
        for name, data in files.items():
            with open(os.path.join(root, name), "wb") as f:
                f.write(data)
        return entries(root)

    for row, files, first_args, second_args in rows:
        first_cmd = [programs[first_args[0]]] + first_args[1:]
        second_cmd = [programs[second_args[0]]] + second_args[1:]
        log = root + ".trace"
        lay(files)
        subprocess.run(strace_command(root, log, OUT_NAMES) + first_cmd, cwd=root, env=ENV,
                       capture_output=True, stdin=subprocess.DEVNULL, timeout=60)
        positions, seen = [], {}
        for c in parse(log):
            seen[c.name] = seen.get(c.name, 0) + 1
            positions.append((c.name, seen[c.name]))
        for call, n in positions:
            before = lay(files)
            first = subprocess.Popen(
                strace_command(root, log, OUT_NAMES) +
                ["-e", f"inject={call}:delay_enter={HOLD_US}:when={n}"] + first_cmd,
                cwd=root, env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                stderr=subprocess.PIPE)
            deadline = time.monotonic() + 10
            while not entered(log, call, n) and first.poll() is None and \
                    time.monotonic() < deadline:
                time.sleep(0.002)
            held = ["strace", "-f", "-qqq", "-o", os.devnull] + [
                p for n in OUT_NAMES for p in ("-P", n, "-P", os.path.join(root, n))] + [
                "-e", "inject=" + second_held[row]] if row in second_held else []
            second = subprocess.run(held + second_cmd, cwd=root, env=ENV, capture_output=True,
                                    stdin=subprocess.DEVNULL, timeout=60)
            out1, err1 = first.communicate(timeout=60)
            own = lambda err: b"".join(  # noqa: E731
                l for l in err.splitlines(True) if not l.startswith(b"strace: "))
            results = [(first_args[0], first.returncode, out1, own(err1)),
                       (second_args[0], second.returncode, second.stdout, own(second.stderr))]
            cases += 1
            failures += [(row, f"first held at {call} #{n}", p)
                         for p in pair_problems(row, results, before, entries(root))]
    return cases, failures


def mkprc_protocol(mkprc, scratch):
    """mkprc's clean run under strace follows the whole durable protocol."""
    root = os.path.join(scratch, "mkprc")
    os.mkdir(root)
    with open(os.path.join(root, "P"), "wb") as f:
        f.write(P1)
    os.chmod(os.path.join(root, "P"), 0o640)
    st = os.stat(os.path.join(root, "P"))
    log = root + ".trace"
    p = subprocess.run(strace_command(root, log, OUT_NAMES) + [mkprc, "P", OUT], cwd=root,
                       env=ENV, capture_output=True, stdin=subprocess.DEVNULL, timeout=60)
    found = [] if p.returncode == 0 else [f"mkprc's clean run ended with status {p.returncode}"]
    with open(os.path.join(root, OUT), "rb") as f:
        if f.read() != container(P1):
            found.append("mkprc's clean run made X other than the container of P")
    found += protocol_problems(parse(log), "X.$$$", (st.st_uid, st.st_gid), 0o640, 1)
    return [("mkprc", "no fault", f) for f in found]


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


def why_not_this_tool(tool, emulator):
    """Why the matrix cannot fault this tool, or None when it can: it follows the tool's
    calls by their x86-64 names, and strace of an emulator would see the emulator's."""
    if emulator:
        return f"the tool runs under {emulator}, and strace would follow the emulator's calls"
    with open(tool, "rb") as f:
        head = f.read(20)
    if head[:4] == b"\x7fELF" and (head[4], head[18:20]) != (2, b"\x3e\x00"):
        return "the matrix knows the x86-64 system calls' names, and this tool is not x86-64"
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--mkprc", required=True)
    parser.add_argument("--emulator", default="")
    args = parser.parse_args()
    tool, mkprc = os.path.abspath(args.tool), os.path.abspath(args.mkprc)
    reason = why_not_this_tool(tool, args.emulator) or why_untraceable()
    if reason:
        print(f"fault matrix skipped: {reason}")
        return SKIPPED
    scratch = tempfile.mkdtemp(prefix="unprc-faults-")
    start = time.monotonic()
    try:
        tried, failures = matrix(tool, scratch)
        matrix_time = time.monotonic() - start
        races, held, winners, race_failures = race(tool, scratch)
        race_time = time.monotonic() - start - matrix_time
        pair_cases, pair_failures = pairs(tool, mkprc, scratch)
        protocol_failures = mkprc_protocol(mkprc, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    failed_runs = len({(n, f) for n, f, _ in failures})
    for name, fault, problem in failures + protocol_failures + race_failures + pair_failures:
        print(f"FAIL [{name}] {fault}: {problem}")
    print(f"fault matrix: {tried} runs ({tried - len(SCENARIOS)} fault points, "
          f"{len(SCENARIOS)} clean), {tried - failed_runs} passed, "
          f"{failed_runs} failed, {matrix_time:.1f} s")
    print(f"race table: {races} cases, {held} with the second run over while the first was "
          f"held (restored by the first {winners['first']}, the second {winners['second']}, "
          f"neither {winners['neither']}), "
          f"{races - len({f for _, f, _ in race_failures})} passed, {race_time:.1f} s")
    print(f"pairs on one name (mkprc twice, unprc beside mkprc): {pair_cases} cases, "
          f"{pair_cases - len({(n, f) for n, f, _ in pair_failures})} passed, "
          f"{time.monotonic() - start - matrix_time - race_time:.1f} s")
    return 1 if failures or protocol_failures or race_failures or pair_failures else 0


if __name__ == "__main__":
    sys.exit(main())
