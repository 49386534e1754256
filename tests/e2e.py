#!/usr/bin/env python3
"""End-to-end cases: each runs the built tool in a scratch folder and checks the exit
status, both output streams byte for byte, and every file left behind.

    e2e.py --tool CMD [--mkprc CMD] [--crlf] [--examples DIR] [unittest options]

CMD is the command that runs unprc, or with --mkprc its companion mkprc (split like a
shell line, so "wine64 unprc.exe" works); without --mkprc its cases are skipped. --crlf expects CR LF line ends. Cases that need POSIX-only means (FIFOs,
permission bits, resource limits, system-call fault injection) run only on a native
POSIX tool.
"""

import argparse
import hashlib
import os
import random
import resource
import shlex
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import unittest

TOOL = []
MKPRC = []
# False for a Windows build under an emulator. Besides FIFOs, sockets, permission bits and
# resource limits, the POSIX symbolic links the cases lay are then left out: the emulator
# shows such a link as the file it leads to, where Windows' own links are reparse points.
NATIVE = True
EOL = b"\n"
EXAMPLES = None
BUFFER = 1 << 20

# Message bodies; each is written with the platform's line end.
CANNOT_OPEN = bytes.fromhex("83 74 83 40 83 43 83 8B 82 AA 8A 4A 82 AF 82 DC 82 B9 82 F1 2E")
ABNORMAL = bytes.fromhex("83 74 83 40 83 43 83 8B 82 AA 88 D9 8F ED 82 C5 82 B7 2E")
CANNOT_WRITE = bytes.fromhex("83 74 83 40 83 43 83 8B 82 AA 8F 91 82 AB 8D 9E 82 DF 82 DC 82 B9 82 F1 2E")
BACKUP_EXISTS = bytes.fromhex(
    "83 6F 83 62 83 4E 83 41 83 62 83 76 83 74 83 40 83 43 83 8B 82 AA 8A F9 82 C9 82 A0 82 E8 82 DC 82 B7 2E")
NO_MEMORY = bytes.fromhex("83 81 83 82 83 8A 82 AA 91 AB 82 E8 82 DC 82 B9 82 F1 2E")
OUTPUT_EXISTS = bytes.fromhex(
    "8F 6F 97 CD 83 74 83 40 83 43 83 8B 82 AA 8A F9 82 C9 82 A0 82 E8 82 DC 82 B7 2E")


def container(plain, length=None):
    """A scrambled file holding `plain`, its header declaring `length` (default: all)."""
    length = len(plain) if length is None else length
    key = (length + (length >> 16)) & 0xFFFF
    prev, out = [key & 0xFF, key >> 8], bytearray(length.to_bytes(4, "little"))
    for i in range(0, len(plain), 2):
        pair = plain[i:i + 2]
        out += bytes(b ^ prev[k] for k, b in enumerate(pair))
        prev = list(pair)
    return bytes(out)


def restored(data):
    """(what the tool stores, decode key) for a file holding `data`: a model of the
    decoder on a zero-filled 1 MiB buffer, pair by pair."""
    count = min(len(data), BUFFER)
    buf = bytearray(data[:count]) + bytearray(BUFFER - count)
    length, key = int.from_bytes(buf[:4], "little"), (buf[0] | buf[1] << 8) + (buf[2] | buf[3] << 8)
    r0, r1 = key & 0xFF, (key >> 8) & 0xFF
    for p in range(4, count, 2):
        buf[p] ^= r0
        buf[p + 1] ^= r1
        r0, r1 = buf[p], buf[p + 1]
    return bytes(buf[4:4 + length]), key & 0xFFFF


class Dir: pass
class Fifo: pass
class Sock: pass
class Link:
    def __init__(self, target): self.target = target
    def __eq__(self, other): return isinstance(other, Link) and other.target == self.target
    def __repr__(self): return f"Link({self.target!r})"


def lay(root, tree):
    for name, what in sorted(tree.items()):
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(what, bytes):
            with open(path, "wb") as f:
                f.write(what)
        elif what is Dir:
            os.makedirs(path, exist_ok=True)
        elif what is Fifo:
            os.mkfifo(path)
        elif what is Sock:
            socket.socket(socket.AF_UNIX).bind(path)
        else:
            os.symlink(what.target, path)


def snapshot(root):
    """Every entry under `root`, by relative path: bytes for a file, else its kind."""
    tree = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            mode, rel = os.lstat(path).st_mode, os.path.relpath(path, root)
            if stat.S_ISLNK(mode):
                tree[rel] = Link(os.readlink(path))
            elif stat.S_ISREG(mode):
                with open(path, "rb") as f:
                    tree[rel] = f.read()
            else:
                tree[rel] = Dir if stat.S_ISDIR(mode) else Fifo if stat.S_ISFIFO(mode) else Sock
    return tree


def key_line(key):
    return b"decode key = 0x%04x ... " % key


def limit(resource_id, value):
    def apply():
        resource.setrlimit(resource_id, (value, value))
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    return apply


class Case(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="unprc-e2e-")
        self.addCleanup(shutil.rmtree, self.root)

    def run_tool(self, args, argv0="unprc", prefix=(), merge=False, preexec=None, tool=None):
        tool = tool or TOOL
        cmd = list(prefix) + tool + list(args)
        exe = None
        if NATIVE and not prefix:
            cmd[0], exe = argv0, tool[0]
        env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0", WINEDEBUG="-all")
        p = subprocess.run(cmd, executable=exe, cwd=self.root, stdin=subprocess.DEVNULL, env=env,
                           stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT if merge else subprocess.PIPE,
                           preexec_fn=preexec, timeout=60)
        err = p.stderr or b""
        if prefix[:1] == ["strace"]:  # its notes on resolving the -P paths are not the tool's
            err = b"".join(l for l in err.splitlines(True) if not l.startswith(b"strace: "))
        return p.returncode, p.stdout, err

    def check(self, tree, args, status, out, err, after, **run):
        """Lays `tree`, runs the tool, and checks its status, streams and the tree after."""
        lay(self.root, tree)
        got = self.run_tool(args, **run)
        self.assertEqual(got, (status, out, err))
        self.assertEqual(snapshot(self.root), after)

    def refused(self, tree, args, message, **run):
        self.check(tree, args, 1, b"", message + EOL, snapshot_of(tree), **run)

    def restores(self, tree, name, original=None):
        """Runs on `name` and expects it restored, the original under the backup name, and
        everything else as it was."""
        data = tree[name] if original is None else original
        plain, key = restored(data)
        after = dict(snapshot_of(tree), **{name: plain, name + ".BAK": tree[name]})
        after.pop(name + ".$$$", None)
        self.check(tree, [name], 0, key_line(key) + b"OK." + EOL, b"", after)


def snapshot_of(tree):
    """The snapshot a laid `tree` gives, its parent folders included."""
    out = {}
    for name, what in tree.items():
        parts = name.split("/")
        for i in range(1, len(parts)):
            out["/".join(parts[:i])] = Dir
        out[name] = what
    return out


GOOD = container(b"The quick brown fox.\n")
RESTORED, GOOD_KEY = restored(GOOD)
LONG = "d" * 200 + "/" + "e" * 200 + "/" + "f" * 240 + ".PRC"  # 645 bytes


def posix_only(test):
    def run_if_native(self):
        if not NATIVE:
            self.skipTest("needs a native POSIX tool")
        test(self)
    return run_if_native


class Refusals(Case):
    """Failures found before the key is printed: nothing printed on standard output and
    nothing on disk created, moved or changed."""

    def test_argument_count(self):
        for args in ([], ["A.PRC", "A.PRC"], ["A.PRC", "B", "C"]):
            with self.subTest(args=args):
                self.setUp()
                if NATIVE:
                    self.refused({"A.PRC": GOOD}, args, b"Usage: unprc (.PRC File)")
                else:  # an emulator passes the program's full path as its name
                    lay(self.root, {"A.PRC": GOOD})
                    status, out, err = self.run_tool(args)
                    self.assertEqual((status, out), (1, b""))
                    self.assertRegex(err, rb"^Usage: \S*unprc\.exe \(\.PRC File\)\r\n$")
                    self.assertEqual(snapshot(self.root), {"A.PRC": GOOD})

    def test_usage_names_program_as_invoked(self):
        if NATIVE:
            self.refused({}, [], b"Usage: ./bin/x (.PRC File)", argv0="./bin/x")

    @posix_only
    def test_empty_argument_vector_names_the_tool(self):
        # An exec with no arguments at all, not even a program name.
        code = ("import ctypes,sys; libc=ctypes.CDLL(None); "
                "libc.execve(sys.argv[1].encode(), (ctypes.c_char_p*1)(None), None); sys.exit(9)")
        got = self.run_tool([], prefix=[sys.executable, "-c", code])
        self.assertEqual(got, (1, b"", b"Usage: unprc (.PRC File)\n"))

    def test_cannot_open(self):
        rows = [({}, "A.PRC"), ({}, "-h"), ({"D": Dir}, "D"), ({}, "NUL")]
        if NATIVE:
            rows += [({"F": Fifo}, "F"), ({"S": Sock}, "S"), ({}, "/dev/null"),
                     ({"A.PRC": Link("gone")}, "A.PRC")]
        for tree, name in rows:
            with self.subTest(name=name, tree=tree):
                self.setUp()
                self.refused(tree, [name], CANNOT_OPEN)
        self.assertFalse(os.path.lexists("/dev/null.BAK") or os.path.lexists("/dev/null.$$$"))

    def test_abnormal(self):
        rows = [b"", b"\x04", b"\x04\x00", b"\x04\x00\x00",
                container(b"", 1048573), container(b"xy", 0xFFFFFFFF),
                container(b"", 16 << 16), container(b"", (15 << 16) + 65533)]
        for data in rows:
            with self.subTest(data=data[:8]):
                self.setUp()
                self.refused({"A.PRC": data}, ["A.PRC"], ABNORMAL)

    @posix_only
    def test_no_memory(self):
        # The smallest address-space limit, in 256 KiB steps, under which the tool starts
        # leaves too little for the 1 MiB buffer.
        for step in range(4, 256):
            got = self.run_tool(["absent"], preexec=limit(resource.RLIMIT_AS, step << 18))
            if got == (1, b"", CANNOT_OPEN + EOL):
                break
            if b"Sanitizer" in got[2]:
                self.skipTest("a sanitizer's shadow memory does not fit an address-space limit")
        else:
            self.skipTest("the tool does not start under an address-space limit of 64 MiB")
        self.refused({"A.PRC": GOOD}, ["A.PRC"], NO_MEMORY,
                     preexec=limit(resource.RLIMIT_AS, step << 18))


class Restores(Case):
    def test_contents(self):
        rng = random.Random(7)
        full = container(rng.randbytes(BUFFER - 4))
        rows = [
            b"\x04\x00\x00\x00\x45\x42\x02\x06", b"\x02\x00\x00\x00\x45\x42\x02\x06",
            b"\x03\x00\x00\x00", b"\x06\x00\x00\x00\x45\x42\x02\x06\x00",
            b"\xff\xff\x01\x00", b"\x00\x00\x00\x00\x45\x42\x02\x06",
            container(b"", 1048572), full, full + b"past the buffer",
            container(rng.randbytes(999)), container(rng.randbytes(1000)),
            container(b"short", 50), container(rng.randbytes(4000), 10),
        ]
        for data in rows:
            with self.subTest(size=len(data), head=data[:8]):
                self.setUp()
                self.restores({"A.PRC": data}, "A.PRC")

    def test_names(self):
        names = ["data.bin", "-h", "sub/dir/A.PRC", "with space.PRC", "\u00e9\u00df.PRC", "-x .PRC"]
        if NATIVE:  # Windows takes at most 260 bytes through its byte-string calls, and
            # names that are not valid in the platform's encoding do not exist there
            names += [LONG, os.fsdecode(b"\x83t\x83@\x83C\x83\x8b.PRC")]
        for name in names:
            with self.subTest(name=name):
                self.setUp()
                self.restores({name: GOOD}, name)

    def test_leftover_temp_file_is_rewritten(self):
        self.restores({"A.PRC": GOOD, "A.PRC.$$$": b"stale output, longer than the new"}, "A.PRC")

    def test_sample(self):
        if EXAMPLES:
            with open(os.path.join(EXAMPLES, "sample.PRC"), "rb") as f:
                sample = f.read()
            with open(os.path.join(EXAMPLES, "sample.txt"), "rb") as f:
                self.assertEqual(restored(sample)[0], f.read())
            self.restores({"sample.PRC": sample}, "sample.PRC")

    @posix_only
    def test_symbolic_link_is_moved_not_followed(self):
        # Its target is read, never rewritten; the link itself becomes the backup.
        self.restores({"A.PRC": Link("real.PRC"), "real.PRC": GOOD}, "A.PRC", original=GOOD)

    def test_second_hard_link_keeps_the_scrambled_bytes(self):
        lay(self.root, {"A.PRC": GOOD})
        os.link(os.path.join(self.root, "A.PRC"), os.path.join(self.root, "other.PRC"))
        self.assertEqual(self.run_tool(["A.PRC"])[0], 0)
        self.assertEqual(snapshot(self.root),
                         {"A.PRC": RESTORED, "A.PRC.BAK": GOOD, "other.PRC": GOOD})

    @posix_only
    def test_path_through_a_linked_folder(self):
        # The side files go beside the input, in the folder the link leads to.
        self.check({"real/A.PRC": GOOD, "via": Link("real")}, ["via/A.PRC"], 0,
                   key_line(GOOD_KEY) + b"OK." + EOL, b"",
                   {"real": Dir, "real/A.PRC": RESTORED, "real/A.PRC.BAK": GOOD, "via": Link("real")})

    @posix_only
    def test_permission_bits_are_kept(self):
        for mode in (0o600, 0o640, 0o644, 0o755, 0o400):
            with self.subTest(mode=oct(mode)):
                self.setUp()
                lay(self.root, {"A.PRC": GOOD})
                os.chmod(os.path.join(self.root, "A.PRC"), mode)
                self.assertEqual(self.run_tool(["A.PRC"])[0], 0)
                for name in ("A.PRC", "A.PRC.BAK"):
                    self.assertEqual(stat.S_IMODE(os.stat(os.path.join(self.root, name)).st_mode), mode)


class SwapFailures(Case):
    """Failures after the key is printed: status 1, no "OK.", and the scrambled bytes
    whole under the input's name (or, at worst, the backup name)."""

    def failed(self, tree, message, after, args=("A.PRC",), **run):
        self.check(tree, list(args), 1, key_line(GOOD_KEY), message + EOL, snapshot_of(after), **run)

    def test_backup_name_taken(self):
        for held in (b"old backup", Dir) + NATIVE * (Link("nowhere"), Link("A.PRC")):
            with self.subTest(held=held):
                self.setUp()
                tree = {"A.PRC": GOOD, "A.PRC.BAK": held}
                self.failed(tree, BACKUP_EXISTS, dict(tree, **{"A.PRC.$$$": RESTORED}))

    def test_key_shows_before_a_later_error(self):
        lay(self.root, {"A.PRC": GOOD, "A.PRC.BAK": b"old"})
        self.assertEqual(self.run_tool(["A.PRC"], merge=True),
                         (1, key_line(GOOD_KEY) + BACKUP_EXISTS + EOL, b""))

    def test_temp_name_held_by_something_else(self):
        rows = [Dir] + NATIVE * [Link("victim"), Link("nowhere"), Fifo]
        for held in rows:
            with self.subTest(held=held):
                self.setUp()
                tree = {"A.PRC": GOOD, "A.PRC.$$$": held, "victim": b"not to be touched"}
                self.failed(tree, CANNOT_WRITE, tree)

    def test_temp_name_is_a_second_name_of_another_file(self):
        lay(self.root, {"A.PRC": GOOD, "victim": b"not to be touched"})
        os.link(os.path.join(self.root, "victim"), os.path.join(self.root, "A.PRC.$$$"))
        self.assertEqual(self.run_tool(["A.PRC"])[:2], (1, key_line(GOOD_KEY)))
        self.assertEqual(snapshot(self.root), {"A.PRC": GOOD, "victim": b"not to be touched",
                                               "A.PRC.$$$": b"not to be touched"})

    def test_temp_name_too_long(self):
        name = "n" * 252  # the input's name fits; with a suffix it does not
        self.failed({name: GOOD}, CANNOT_WRITE, {name: GOOD}, args=[name])

    @posix_only
    def test_file_size_limit(self):
        plain = random.Random(3).randbytes(5000)
        data = container(plain)
        key = key_line(restored(data)[1])
        for cap, ok in ((0, False), (4096, False), (4999, False), (5000, True)):
            with self.subTest(cap=cap):
                self.setUp()
                after = {"A.PRC": plain, "A.PRC.BAK": data} if ok else {"A.PRC": data}
                out, err = (key + b"OK." + EOL, b"") if ok else (key, CANNOT_WRITE + EOL)
                self.check({"A.PRC": data}, ["A.PRC"], 0 if ok else 1, out, err, after,
                           preexec=limit(resource.RLIMIT_FSIZE, cap))

    @posix_only
    def test_injected_faults(self):
        # Each row: a system call, which calls of it fail, and what is on disk after.
        moved_back = {"A.PRC": GOOD, "A.PRC.$$$": RESTORED}
        rows = [
            ("renameat2", "1", "EIO", moved_back),
            ("renameat2", "2", "EIO", moved_back),
            ("renameat2", "2..3", "EIO", {"A.PRC.BAK": GOOD, "A.PRC.$$$": RESTORED}),
            ("fsync", "1", "EIO", {"A.PRC": GOOD}),
            ("write", "1", "ENOSPC", {"A.PRC": GOOD}),
            ("close", "1", "EIO", {"A.PRC": GOOD}),
        ]
        for call, when, errno, after in rows:
            with self.subTest(call=call, when=when):
                self.setUp()
                names = ["A.PRC", "A.PRC.$$$", "A.PRC.BAK"]
                paths = [p for n in names for p in ("-P", n, "-P", os.path.join(self.root, n))]
                strace = ["strace", "-f", "-qqq", "-o", os.devnull, *paths, "-e", f"trace={call}",
                          "-e", f"inject={call}:error={errno}:when={when}"]
                self.failed({"A.PRC": GOOD}, CANNOT_WRITE, after, prefix=strace)


class RoundTrip(Case):
    """mkprc PLAIN OUT, unprc's way back: each tool undoes the other byte for byte, and
    a refused mkprc leaves the folder as it was."""

    def setUp(self):
        if not MKPRC:
            self.skipTest("no --mkprc given")
        super().setUp()

    def run_mkprc(self, args, **run):
        return self.run_tool(args, argv0="mkprc", tool=MKPRC, **run)

    def assertFolder(self, expected):
        """The folder holds `expected`; a file over 4 KiB is compared by its length and
        digest, so that a mismatch in a 1 MiB file is reported at once."""
        def brief(tree):
            return {name: (len(what), hashlib.sha256(what).hexdigest())
                    if isinstance(what, bytes) and len(what) > 4096 else what
                    for name, what in tree.items()}
        self.assertEqual(brief(snapshot(self.root)), brief(expected))

    SIZES = (0, 1, 2, 3, 4, 5, 6, 7, 999, 1000, 65535, 65536, 65537, BUFFER - 5, BUFFER - 4)

    def test_plain_through_mkprc_and_back(self):
        rng = random.Random(12)
        for size in self.SIZES:
            plain = rng.randbytes(size)
            with self.subTest(size=size):
                self.setUp()
                lay(self.root, {"P": plain})
                self.assertEqual(self.run_mkprc(["P", "X"]), (0, b"", b""))
                made = container(plain)
                self.assertFolder({"P": plain, "X": made})
                self.assertEqual(self.run_tool(["X"]), (0, key_line(restored(made)[1]) + b"OK." + EOL, b""))
                self.assertFolder({"P": plain, "X": plain, "X.BAK": made})

    def test_exact_container_through_unprc_and_back(self):
        # Any bytes after a header that declares exactly their number are a container.
        rng = random.Random(13)
        for size in self.SIZES:
            data = size.to_bytes(4, "little") + rng.randbytes(size)
            with self.subTest(size=size):
                self.setUp()
                lay(self.root, {"X": data})
                self.assertEqual(self.run_tool(["X"])[0], 0)
                self.assertEqual(self.run_mkprc(["X", "Y"]), (0, b"", b""))
                self.assertFolder({"X": restored(data)[0], "X.BAK": data, "Y": data})

    def test_refusals(self):
        plain = b"plain text\n"
        rows = [  # (tree, arguments, message)
            ({"P": random.Random(14).randbytes(BUFFER - 3)}, ["P", "X"], ABNORMAL),
            ({}, ["P", "X"], CANNOT_OPEN),
            ({"P": Dir}, ["P", "X"], CANNOT_OPEN),
            ({"P": plain, "X": b"old"}, ["P", "X"], OUTPUT_EXISTS),
            ({"P": plain, "X": Dir}, ["P", "X"], OUTPUT_EXISTS),
            ({"P": plain}, ["P", "P"], OUTPUT_EXISTS),
            ({"P": plain, "X": Dir}, ["absent", "X"], OUTPUT_EXISTS),
            ({"P": plain}, ["P", "absent/X"], CANNOT_WRITE),
            ({"P": plain}, ["P", ""], CANNOT_WRITE),
            ({"P": plain, "X.$$$": Dir}, ["P", "X"], CANNOT_WRITE),
            ({"P": plain}, ["P", "n" * 252], CANNOT_WRITE),  # fits; with ".$$$" it does not
        ]
        if NATIVE:
            rows += [
                ({"P": Fifo}, ["P", "X"], CANNOT_OPEN),
                ({"P": Sock}, ["P", "X"], CANNOT_OPEN),
                ({"P": Link("gone")}, ["P", "X"], CANNOT_OPEN),
                ({"P": plain, "X": Link("P")}, ["P", "X"], OUTPUT_EXISTS),
                ({"P": plain, "X": Link("gone")}, ["P", "X"], OUTPUT_EXISTS),
                ({"P": plain, "X.$$$": Link("victim"), "victim": b"kept"}, ["P", "X"], CANNOT_WRITE),
                ({"P": plain, "X.$$$": Link("gone")}, ["P", "X"], CANNOT_WRITE),
                ({"P": plain}, ["P"], b"Usage: mkprc (Plain File) (.PRC File)"),
                ({"P": plain}, [], b"Usage: mkprc (Plain File) (.PRC File)"),
                ({"P": plain}, ["P", "X", "Z"], b"Usage: mkprc (Plain File) (.PRC File)"),
                ({"P": plain}, ["--help", "X"], CANNOT_OPEN),
            ]
        for tree, args, message in rows:
            with self.subTest(args=args, tree=sorted(tree)):
                self.setUp()
                lay(self.root, tree)
                self.assertEqual(self.run_mkprc(args), (1, b"", message + EOL))
                self.assertFolder(snapshot_of(tree))

    def test_usage_help_and_version(self):
        usage = rb"Usage: \S*mkprc(\.exe)? \(Plain File\) \(\.PRC File\)" + EOL
        status, out, err = self.run_mkprc(["P"])
        self.assertEqual((status, out), (1, b""))
        self.assertRegex(err, b"^" + usage + b"$")
        status, out, err = self.run_mkprc(["--help"])
        self.assertEqual((status, err), (0, b""))
        self.assertRegex(out, b"^" + usage + b"(.+" + EOL + b")+$")
        status, out, err = self.run_mkprc(["--version"])
        self.assertEqual((status, err), (0, b""))
        self.assertRegex(out, rb"^mkprc \d+\.\d+\.\d+" + EOL + b"$")
        self.assertEqual(snapshot(self.root), {})

    @posix_only
    def test_permission_bits_come_from_plain(self):
        for mode in (0o600, 0o640, 0o755, 0o400):
            with self.subTest(mode=oct(mode)):
                self.setUp()
                lay(self.root, {"P": b"text"})
                os.chmod(os.path.join(self.root, "P"), mode)
                self.assertEqual(self.run_mkprc(["P", "X"])[0], 0)
                self.assertEqual(stat.S_IMODE(os.stat(os.path.join(self.root, "X")).st_mode), mode)

    @posix_only
    def test_injected_faults_leave_nothing(self):
        # Each row: a system call, which calls of it fail, with what, the message, and the
        # names whose calls are counted. The folder's sync comes after the move: the output
        # made is then taken back.
        files = ["P", "X", "X.$$$"]
        rows = [
            ("read", "1", "EIO", CANNOT_OPEN, files),
            ("fchmod", "1", "EPERM", CANNOT_WRITE, files),
            ("write", "1", "ENOSPC", CANNOT_WRITE, files),
            ("fsync", "1", "EIO", CANNOT_WRITE, files),
            ("fsync", "1", "EIO", CANNOT_WRITE, ["."]),
            ("close", "1", "EIO", CANNOT_WRITE, ["X.$$$"]),
            ("renameat2", "1", "EIO", CANNOT_WRITE, files),
            ("renameat2", "1", "EEXIST", OUTPUT_EXISTS, files),  # OUT came after the check
        ]
        for call, when, errno, message, names in rows:
            with self.subTest(call=call, names=names, errno=errno):
                self.setUp()
                paths = [p for n in names for p in ("-P", n, "-P", os.path.join(self.root, n))]
                strace = ["strace", "-f", "-qqq", "-o", os.devnull, *paths, "-e", f"trace={call}",
                          "-e", f"inject={call}:error={errno}:when={when}"]
                self.check({"P": b"plain text"}, ["P", "X"], 1, b"", message + EOL,
                           {"P": b"plain text"}, prefix=strace, tool=MKPRC)


def main():
    global TOOL, MKPRC, NATIVE, EOL, EXAMPLES
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--mkprc", default="")
    parser.add_argument("--crlf", action="store_true")
    parser.add_argument("--examples")
    args, rest = parser.parse_known_args()
    TOOL = [os.path.abspath(w) if os.path.exists(w) else w for w in shlex.split(args.tool)]
    MKPRC = [os.path.abspath(w) if os.path.exists(w) else w for w in shlex.split(args.mkprc)]
    NATIVE = len(TOOL) == 1 and not args.crlf
    EOL = b"\r\n" if args.crlf else b"\n"
    EXAMPLES = args.examples
    if not NATIVE:
        # The emulator's first start is slow and may leave services running that hold on
        # to its output streams: start it once here, with streams nobody waits on.
        subprocess.run(TOOL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600,
                       env=dict(os.environ, WINEDEBUG="-all"))
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
