#!/usr/bin/env python3
"""End-to-end cases: each runs the built tool in a scratch folder and checks the exit
status, both output streams byte for byte, and every file left behind.

    e2e.py --tool CMD [--mkprc CMD] [--prccat CMD] [--crlf] [--emulator CMD] [--examples DIR] [unittest options]

CMD is the command that runs unprc, or with --mkprc and --prccat its companions mkprc
and prccat (split like a shell line, so "wine64 unprc.exe" works); without one of those
its cases are skipped. --crlf expects CR LF line ends. Cases that need POSIX-only means (FIFOs,
permission bits, resource limits, system-call fault injection) run only on a native
POSIX tool. --emulator names qemu's user-mode emulator that runs a POSIX tool built for
another processor; cases that follow the tool's calls with strace are then skipped.
"""

import argparse
import errno
import hashlib
import itertools
import os
import random
import re
import resource
import shlex
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import time
import unittest

TOOL = []
MKPRC = []
PRCCAT = []
# False for a Windows build under an emulator. Besides FIFOs, sockets, permission bits and
# resource limits, the POSIX symbolic links the cases lay are then left out: the emulator
# shows such a link as the file it leads to, where Windows' own links are reparse points.
NATIVE = True
# The user-mode emulator that runs a POSIX tool for another processor, or nothing.
EMULATOR = []
EOL = b"\n"
EXAMPLES = None
# The program that holds files, interrupts and reads attributes beside the Windows build.
HELPER = []
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


def describe(what):
    """A short, comparable stand-in for one snapshot entry: a file by length and hash."""
    if isinstance(what, bytes):
        return f"{len(what)} bytes, sha256 {hashlib.sha256(what).hexdigest()[:16]}"
    return repr(what)


def tree_differences(got, want):
    """Lines that say how two snapshots differ, naming the first differing byte of a file."""
    lines = []
    for name in sorted(set(got) | set(want)):
        a, b = got.get(name, "absent"), want.get(name, "absent")
        if a == b:
            continue
        line = f"{name}: got {describe(a)}, want {describe(b)}"
        if isinstance(a, bytes) and isinstance(b, bytes):
            at = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
            line += f"; first difference at offset {at}"
        lines.append(line)
    return lines


def key_line(key):
    return b"decode key = 0x%04x ... " % key


def limit(resource_id, value):
    """Sets a resource limit in the child. Signals keep their default actions there
    (subprocess restores SIGXFSZ, which Python itself ignores), so a tool that does not
    guard against the file-size limit is killed by it."""
    def apply():
        resource.setrlimit(resource_id, (value, value))
    return apply


# The runs under wine that were made again (see run_process).
RETRIED = []


def run_process(cmd, **run):
    """subprocess.run, but under wine a run that ended with status 1 and wrote nothing is
    made again, once, on the files laid afresh, and said so: every failure of these tools
    writes a message (prccat's reader gone cannot happen to a captured stream), and wine,
    loaded, now and then ends a program it could not start that way. A fault of the tool's
    own comes again. More than one such run fails the suite (see main)."""
    if NATIVE:
        return subprocess.run(cmd, **run)
    with tempfile.TemporaryDirectory(prefix="unprc-e2e-before-") as before:
        # With modes and extended attributes, where wine keeps marks and access lists.
        shutil.copytree(run["cwd"], before, symlinks=True, dirs_exist_ok=True)
        p = subprocess.run(cmd, **run)
        if p.returncode == 1 and not p.stdout and not p.stderr:
            RETRIED.append(cmd[1:])
            print(f"\nnote: {cmd[1:]} ended with status 1 and no output; run again", file=sys.stderr)
            shutil.rmtree(run["cwd"])
            shutil.copytree(before, run["cwd"], symlinks=True)
            p = subprocess.run(cmd, **run)
    return p


class Case(unittest.TestCase):
    ENV = {}  # laid over the environment of every run

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="unprc-e2e-")
        self.addCleanup(shutil.rmtree, self.root)

    def run_tool(self, args, argv0="unprc", prefix=(), merge=False, preexec=None, tool=None):
        tool = tool or TOOL
        cmd = list(prefix) + EMULATOR + tool + list(args)
        exe = None
        if NATIVE and not prefix:
            if EMULATOR:  # qemu's -0 sets the name the program is run by
                cmd[len(EMULATOR):len(EMULATOR)] = ["-0", argv0]
            else:
                cmd[0], exe = argv0, tool[0]
        env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0", WINEDEBUG="-all", **self.ENV)
        p = run_process(cmd, executable=exe, cwd=self.root, stdin=subprocess.DEVNULL, env=env,
                           stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT if merge else subprocess.PIPE,
                           preexec_fn=preexec, timeout=60)
        err = p.stderr or b""
        if prefix[:1] == ["strace"]:  # its notes on resolving the -P paths are not the tool's
            err = b"".join(l for l in err.splitlines(True) if not l.startswith(b"strace: "))
        return p.returncode, p.stdout, err

    def copies_anyone_may_run(self, *tools):
        """Copies of the native tools given, as commands, in a folder another user may
        enter, wherever the build lies."""
        bin_dir = tempfile.mkdtemp(prefix="unprc-e2e-bin-")
        self.addCleanup(shutil.rmtree, bin_dir)
        os.chmod(bin_dir, 0o755)
        return [[shutil.copy(tool[0], bin_dir)] for tool in tools]

    def need_strace(self, numbers=False):
        """Skips the case unless strace can follow the tool's own calls: a native tool,
        not one under an emulator, whose calls strace would not see; with `numbers`, one
        for x86-64, whose system-call numbers the case reads."""
        if not NATIVE or EMULATOR:
            self.skipTest("needs strace of a native POSIX tool, not of an emulator running it")
        if numbers and elf_machine(TOOL[0]) != "x86-64":
            self.skipTest(f"reads x86-64 system-call numbers; the tool is {elf_machine(TOOL[0])}")
        if shutil.which("strace") is None:
            self.skipTest("needs strace")

    def assertTree(self, want):
        """Checks that the scratch folder holds exactly `want`."""
        differences = tree_differences(snapshot(self.root), want)
        if differences:
            self.fail("the files differ:\n  " + "\n  ".join(differences))

    def check(self, tree, args, status, out, err, after, **run):
        """Lays `tree`, runs the tool, and checks its status, streams and the tree after."""
        lay(self.root, tree)
        got = self.run_tool(args, **run)
        self.assertEqual(got, (status, out, err))
        self.assertTree(after)

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
# Names outside code page 1252, or 932, or both; the second bytes of ソ and 表 in code page
# 932 are the backslash's.
WIDE_NAMES = ["\u30c7\u30fc\u30bf.PRC", "\u30bd\u30d5\u30c8.PRC", "\u8868.PRC", "\ud55c\uad6d\uc5b4.PRC",
              "\u041f\u0440\u0438\u0432\u0435\u0442.PRC", "\U0001F600.PRC"]


def elf_machine(path):
    """The processor an ELF program is built for: "x86-64", "i386", another, or "not ELF"."""
    with open(path, "rb") as f:
        head = f.read(20)
    if head[:4] != b"\x7fELF":
        return "not ELF"
    machine = int.from_bytes(head[18:20], "little" if head[5] == 1 else "big")
    return {62: "x86-64", 3: "i386"}.get(machine, f"ELF machine {machine}")


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
                    self.assertTree({"A.PRC": GOOD})

    def test_usage_names_program_as_invoked(self):
        if NATIVE:
            self.refused({}, [], b"Usage: ./bin/x (.PRC File)", argv0="./bin/x")

    @posix_only
    def test_empty_argument_vector_names_the_tool(self):
        # An exec with no arguments at all, not even a program name.
        if EMULATOR:
            self.skipTest("the emulator needs its own arguments to start the tool")
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

    def test_a_terminal_shows_the_text(self):
        # One message of each program, on a terminal whose locale is UTF-8 or a console of any
        # code page; a terminal of another locale gets the bytes, as a pipe does.
        rows = [(TOOL, {}, ["absent"], CANNOT_OPEN), (MKPRC, {"P": b"", "X": b""}, ["P", "X"], OUTPUT_EXISTS),
                (PRCCAT, {"A": b"\x04"}, ["A"], ABNORMAL)]
        utf8 = {"LANG": "C.UTF-8", "LC_ALL": "", "LC_CTYPE": ""}
        locales = [(utf8, True), (dict(utf8, LANG="C"), False), (dict(utf8, LC_CTYPE="ja_JP.SJIS"), False),
                   (dict(utf8, LANG="C", LC_CTYPE="en_US.Utf8@euro"), True)] if NATIVE else [(utf8, True)]
        pages = [] if NATIVE else ["437", "1252"]  # a console's, under wine
        starts = [TOOL[:-1] + ["cmd", "/c", "chcp", page, ">nul", "&"] for page in pages] or [EMULATOR]
        for (tool, tree, args, message), (env, shown), start in itertools.product(
                [row for row in rows if row[0]], locales, starts):
            with self.subTest(cmd=start + tool[-1:] + args, env=env):
                self.setUp()
                lay(self.root, tree)
                status, out, _ = on_a_terminal(start + tool[-1:] + args, self.root, env)
                want = message.decode("cp932").encode() if shown else message
                self.assertEqual((status, re.sub(rb"\r+\n", b"\n", out)), (1, want + b"\n"))


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
        names = ["data.bin", "-h", "sub/dir/A.PRC", "with space.PRC", "\u00e9\u00df.PRC", "-x .PRC",
                 LONG]
        # Names in bytes that are no UTF-8 exist only on POSIX; Windows names are UTF-16,
        # and take characters outside any one code page.
        names += [os.fsdecode(b"\x83t\x83@\x83C\x83\x8b.PRC")] if NATIVE else WIDE_NAMES
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
    def test_symbolic_link_is_refused(self):
        # A link is not the file to replace: refused before anything is read or made,
        # whatever it leads to. A link in the folder part of the path is followed.
        for tree in ({"A.PRC": Link("real.PRC"), "real.PRC": GOOD},
                     {"A.PRC": Link("d/real.PRC"), "d/real.PRC": GOOD},
                     {"A.PRC": Link("nowhere")},
                     {"A.PRC": Link("A.PRC.$$$"), "A.PRC.$$$": GOOD}):
            with self.subTest(tree=tree):
                self.setUp()
                self.refused(tree, ["A.PRC"], CANNOT_OPEN)

    def test_second_hard_link_keeps_the_scrambled_bytes(self):
        lay(self.root, {"A.PRC": GOOD})
        os.link(os.path.join(self.root, "A.PRC"), os.path.join(self.root, "other.PRC"))
        self.assertEqual(self.run_tool(["A.PRC"])[0], 0)
        self.assertTree({"A.PRC": RESTORED, "A.PRC.BAK": GOOD, "other.PRC": GOOD})

    @posix_only
    def test_path_through_a_linked_folder(self):
        # The side files go beside the input, in the folder the link leads to.
        self.check({"real/A.PRC": GOOD, "via": Link("real")}, ["via/A.PRC"], 0,
                   key_line(GOOD_KEY) + b"OK." + EOL, b"",
                   {"real": Dir, "real/A.PRC": RESTORED, "real/A.PRC.BAK": GOOD, "via": Link("real")})

    @posix_only
    def test_permission_bits_are_kept(self):
        # The restored file takes the permission bits, never set-user-ID, set-group-ID or
        # sticky; the backup is the original itself, so it keeps all of its mode.
        for mode, want in ((0o600, 0o600), (0o640, 0o640), (0o644, 0o644), (0o755, 0o755),
                           (0o400, 0o400), (0o4755, 0o755), (0o2750, 0o750), (0o1644, 0o644)):
            with self.subTest(mode=oct(mode)):
                self.setUp()
                lay(self.root, {"A.PRC": GOOD})
                os.chmod(os.path.join(self.root, "A.PRC"), mode)
                self.assertEqual(self.run_tool(["A.PRC"])[0], 0)
                modes = [stat.S_IMODE(os.stat(os.path.join(self.root, n)).st_mode)
                         for n in ("A.PRC", "A.PRC.BAK")]
                self.assertEqual(modes, [want, mode])


class Options(Case):
    """Exactly --help and --version are options, each alone; every other single argument,
    however much it looks like one, is a file name."""

    def test_options_and_names_like_them(self):
        eol = re.escape(EOL)
        usage = rb"Usage: (unprc|\S*unprc\.exe) \(\.PRC File\)" + eol
        help_text = usage + rb"Restores a scrambled \.PRC file in place(.|\n)*--version .*" + eol + rb"(.|\n)*"
        version = rb"unprc [0-9]+\.[0-9]+\.[0-9]+" + eol
        restored_help = {"--help": RESTORED, "--help.BAK": GOOD}
        key_ok = re.escape(key_line(GOOD_KEY) + b"OK." + EOL)
        cannot_open = re.escape(CANNOT_OPEN + EOL)
        # Each row: files laid, arguments, then status, standard output and standard error
        # (patterns) and the files after.
        rows = [
            ({"--help": GOOD}, ["--help"], 0, help_text, b"", {"--help": GOOD}),
            ({"--version": GOOD}, ["--version"], 0, version, b"", {"--version": GOOD}),
            ({"--help": GOOD}, ["./--help"], 0, key_ok, b"", restored_help),
            ({"-h": GOOD}, ["-h"], 0, key_ok, b"", {"-h": RESTORED, "-h.BAK": GOOD}),
            ({}, ["-h"], 1, b"", cannot_open, {}),
            ({}, ["--HELP"], 1, b"", cannot_open, {}),
            ({}, ["--help=1"], 1, b"", cannot_open, {}),
            ({}, ["-help"], 1, b"", cannot_open, {}),
            ({}, ["--versio"], 1, b"", cannot_open, {}),
            ({}, ["-V"], 1, b"", cannot_open, {}),
            ({"A.PRC": GOOD}, ["--help", "A.PRC"], 1, b"", usage, {"A.PRC": GOOD}),
            ({"A.PRC": GOOD}, ["A.PRC", "--version"], 1, b"", usage, {"A.PRC": GOOD}),
        ]
        for tree, args, status, out, err, after in rows:
            with self.subTest(args=args):
                self.setUp()
                lay(self.root, tree)
                got_status, got_out, got_err = self.run_tool(args)
                self.assertEqual(got_status, status)
                self.assertRegex(got_out, re.compile(b"\\A" + out + b"\\Z"))
                self.assertRegex(got_err, re.compile(b"\\A" + err + b"\\Z"))
                # Every line ends with the platform's line end, the help's too.
                self.assertNotIn(b"\n", got_out.replace(EOL, b"").replace(key_line(GOOD_KEY), b""))
                self.assertEqual(snapshot(self.root), after)


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
        self.assertTree({"A.PRC": GOOD, "victim": b"not to be touched",
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
            ("renameat2", "1", "EIO", {"A.PRC": GOOD}),
            ("renameat2", "2", "EIO", moved_back),
            ("renameat2", "2..3", "EIO", {"A.PRC.BAK": GOOD, "A.PRC.$$$": RESTORED}),
            ("fsync", "1", "EIO", {"A.PRC": GOOD}),
            ("write", "1", "ENOSPC", {"A.PRC": GOOD}),
            ("close", "1", "EIO", {"A.PRC": GOOD}),
        ]
        self.need_strace()
        for call, when, errno, after in rows:
            with self.subTest(call=call, when=when):
                self.setUp()
                names = ["A.PRC", "A.PRC.$$$", "A.PRC.BAK"]
                paths = [p for n in names for p in ("-P", n, "-P", os.path.join(self.root, n))]
                strace = ["strace", "-f", "-qqq", "-o", os.devnull, *paths, "-e", f"trace={call}",
                          "-e", f"inject={call}:error={errno}:when={when}"]
                self.failed({"A.PRC": GOOD}, CANNOT_WRITE, after, prefix=strace)


NOBODY = 65534  # the unprivileged user and group of Debian and most Linux systems

# System-call numbers on x86-64, to see where a held run stands.
SYSCALL_NUMBERS = {"write": 1, "fchmod": 91, "fsync": 74, "flock": 73, "renameat2": 316,
                   "openat": 257, "renameat": 264}
FD_CALLS = ("write", "fchmod", "fsync", "flock")  # whose first argument is the file
O_CREAT = 0o100  # an openat that creates: its third argument's flag

# Access lists as the system keeps them beside the permission bits: a version, then
# entries of tag, permissions and user or group, in the order of the tags.
ACCESS, DEFAULT = "system.posix_acl_access", "system.posix_acl_default"
ANYONE = 0xFFFFFFFF  # the id of an entry that names no one


def access_list(owner, group, others, mask=None, users=()):
    """An access list: the owner's, group's and others' permissions, a mask, and
    (user, permissions) entries."""
    entries = [(0x01, owner, ANYONE)] + [(0x02, p, u) for u, p in users] + [(0x04, group, ANYONE)]
    entries += [(0x10, mask, ANYONE)] if mask is not None else []
    entries += [(0x20, others, ANYONE)]
    return (2).to_bytes(4, "little") + b"".join(
        t.to_bytes(2, "little") + p.to_bytes(2, "little") + i.to_bytes(4, "little")
        for t, p, i in entries)


def read_access_list(path, name=ACCESS):
    """A file's access list, or None when it has none."""
    try:
        return os.getxattr(path, name, follow_symlinks=False)
    except OSError as e:
        if e.errno in (errno.ENODATA, errno.ENOTSUP):
            return None
        raise


def root_only(test):
    def run_as_root(self):
        if not NATIVE or os.geteuid() != 0:
            self.skipTest("needs a native POSIX tool run by root, to lay other users' files")
        test(self)
    return run_as_root


class Hostile(Case):
    """What another process, another user or a signal does while the tool runs, or has
    laid at its names: the scrambled bytes stay whole, nobody else's file is written, and
    a failure leaves the files as the outcome table in docs/design.md says."""

    def run_held(self, args, call, action, when=1, error=None, preexec=None, tool=None,
                 out=subprocess.PIPE):
        """Runs the tool under strace, held for two seconds on entry to its `when`th
        `call` on its own files (or, when the call is to fail with `error`, just after
        it failed); runs `action(pid)` while it is held; returns status and both
        streams."""
        self.need_strace(numbers=True)
        name = args[-1]
        paths = [p for n in (name, name + ".$$$", name + ".BAK")
                 for p in ("-P", n, "-P", os.path.join(self.root, n))]
        log = os.path.join(self.root, "..", os.path.basename(self.root) + ".held")
        self.addCleanup(lambda: os.path.exists(log) and os.remove(log))
        hold = f"error={error}:delay_exit=2000000" if error else "delay_enter=2000000"
        cmd = ["strace", "-f", "-qqq", "-o", log, *paths, "-e", f"trace={call}",
               "-e", f"inject={call}:when={when}:{hold}"] + (tool or TOOL) + list(args)
        env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")

        def child():  # no core file from a quit signal in the folder checked after
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
            if preexec:
                preexec()
        p = subprocess.Popen(cmd, cwd=self.root, stdin=subprocess.DEVNULL, stdout=out,
                             stderr=subprocess.PIPE, env=env, preexec_fn=child)
        # Every call of the kind stops the tool under strace for a moment, the key line's
        # write to standard output too; only the held one is on a file in the folder.
        folder = os.path.realpath(self.root) + os.sep
        deadline = time.monotonic() + 30
        pid = None
        while pid is None:
            self.assertLess(time.monotonic(), deadline, f"the tool never reached {call}")
            time.sleep(0.002)
            try:
                if error:  # strace writes the failed call's line as it starts to hold it
                    with open(log) as f:
                        held = re.search(r"^(\d+)\s+.*\(DELAYED\)$", f.read(), re.M)
                    pid = held and int(held.group(1))
                else:  # held on entry to the `when`th, the call's number shows, its file ours
                    with open(f"/proc/{p.pid}/task/{p.pid}/children") as f:
                        candidate = int(f.read().split()[0])
                    with open(f"/proc/{candidate}/syscall") as f:
                        number, first, _, third = f.read().split()[:4]
                    with open(log) as f:
                        entered = len(re.findall(rf"^\d+\s+{call}\(", f.read(), re.M)) == when
                    if entered and number == str(SYSCALL_NUMBERS[call]) and (
                            call not in FD_CALLS or os.readlink(
                                f"/proc/{candidate}/fd/{int(first, 16)}").startswith(folder)) and (
                            call != "openat" or int(third, 16) & O_CREAT):
                        pid = candidate
            except (OSError, IndexError, ValueError):
                pass
        action(pid)
        out, err = p.communicate(timeout=60)
        err = b"".join(l for l in err.splitlines(True) if not l.startswith(b"strace: "))
        return p.returncode, out, err

    def test_signals(self):
        # Each row: the files before, the call the run is held at (and the error it then
        # fails with), the signal sent then, and the files after. Before the moves the
        # temporary file goes; during them the signal waits for the moves to be made, or
        # to fail and keep the payload, and then ends the run before any message.
        fresh, taken = {"A.PRC": GOOD}, {"A.PRC": GOOD, "A.PRC.BAK": b"old"}
        swapped = {"A.PRC": RESTORED, "A.PRC.BAK": GOOD}
        kept = {"A.PRC": GOOD, "A.PRC.$$$": RESTORED}
        rows = [(fresh, "openat", 2, None, signal.SIGTERM, fresh),  # the creation
                (fresh, "fchmod", 1, None, signal.SIGINT, fresh),
                (fresh, "fchmod", 1, None, signal.SIGUSR1, fresh),
                (fresh, "write", 1, None, signal.SIGUSR2, fresh),
                (fresh, "fsync", 1, None, signal.SIGXCPU, fresh),
                (fresh, "write", 1, None, signal.SIGHUP, fresh),
                (fresh, "fsync", 1, None, signal.SIGTERM, fresh),
                (fresh, "fsync", 1, None, signal.SIGQUIT, fresh),
                (fresh, "write", 1, None, signal.SIGPIPE, fresh),
                (fresh, "write", 1, None, signal.SIGRTMIN + 1, fresh),
                (fresh, "fsync", 1, None, signal.SIGSEGV, fresh),  # sent, not a fault of its own
                (fresh, "renameat2", 1, None, signal.SIGPROF, swapped),
                (fresh, "renameat2", 1, None, signal.SIGTERM, swapped),
                (fresh, "renameat2", 2, None, signal.SIGINT, swapped),
                (fresh, "renameat2", 2, None, signal.SIGALRM, swapped),
                (taken, "renameat2", 1, None, signal.SIGTERM, dict(taken, **{"A.PRC.$$$": RESTORED})),
                (fresh, "renameat2", 1, "EIO", signal.SIGTERM, fresh),
                (fresh, "renameat2", 2, "EIO", signal.SIGTERM, kept)]
        for before, call, when, error, sig, after in rows:
            with self.subTest(call=call, when=when, error=error, signal=sig, before=sorted(before)):
                self.setUp()
                lay(self.root, before)
                got = self.run_held(["A.PRC"], call, lambda pid: os.kill(pid, sig), when, error)
                self.assertEqual(got, (-sig, key_line(GOOD_KEY), b""))
                self.assertTree(after)

    def test_a_signal_ignored_from_the_start_stays_ignored(self):
        # As under nohup: the hang-up changes nothing.
        lay(self.root, {"A.PRC": GOOD})
        got = self.run_held(["A.PRC"], "fsync", lambda pid: os.kill(pid, signal.SIGHUP),
                            preexec=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN))
        self.assertEqual(got, (0, key_line(GOOD_KEY) + b"OK." + EOL, b""))
        self.assertTree({"A.PRC": RESTORED, "A.PRC.BAK": GOOD})

    def test_a_reader_gone_by_the_moves_changes_no_status(self):
        lay(self.root, {"A.PRC": GOOD})  # unprc A.PRC | head -c1
        reader, writer = os.pipe()
        got = self.run_held(["A.PRC"], "renameat2", lambda _: os.close(reader), out=writer)
        os.close(writer)
        self.assertEqual(got, (0, None, b""))
        self.assertTree({"A.PRC": RESTORED, "A.PRC.BAK": GOOD})

    def test_a_run_that_opened_the_file_before_another_restored_it(self):
        # The second run opened the scrambled file and is held before its lock while a
        # first run restores it; locked at last, it finds the name leading elsewhere.
        lay(self.root, {"A.PRC": GOOD})
        first = []
        got = self.run_held(["A.PRC"], "flock", lambda _: first.append(self.run_tool(["A.PRC"])))
        self.assertEqual(first, [(0, key_line(GOOD_KEY) + b"OK." + EOL, b"")])
        self.assertEqual(got, (1, b"", CANNOT_OPEN + EOL))
        self.assertTree({"A.PRC": RESTORED, "A.PRC.BAK": GOOD})

    def test_a_name_swapped_mid_run_is_not_moved(self):
        # Held at the sync of the file it wrote, the run finds a name swapped for another
        # file: nothing is moved that the run did not read or write, nothing is lost.
        other = b"another process's file"
        rows = [(TOOL, ["A.PRC"], "A.PRC.$$$", {"A.PRC": GOOD}, key_line(GOOD_KEY),
                 {"A.PRC": GOOD, "A.PRC.$$$": other, "away": RESTORED}),
                (TOOL, ["A.PRC"], "A.PRC", {"A.PRC": GOOD}, key_line(GOOD_KEY),
                 {"A.PRC": other, "away": GOOD}),
                (MKPRC, ["P", "X"], "X.$$$", {"P": b"plain"}, b"",
                 {"P": b"plain", "X.$$$": other, "away": container(b"plain")}),
                (TOOL, ["A.PRC"], "A.PRC", {"A.PRC": GOOD}, key_line(GOOD_KEY),
                 {"A.PRC": other, "away": GOOD}, "renameat2", 1),  # just before each rename
                (TOOL, ["A.PRC"], "A.PRC.$$$", {"A.PRC": GOOD}, key_line(GOOD_KEY),
                 {"A.PRC": GOOD, "A.PRC.$$$": other, "away": RESTORED}, "renameat2", 2),
                (TOOL, ["A.PRC"], "A.PRC.$$$", {"A.PRC": GOOD, "A.PRC.$$$": b"left"}, key_line(GOOD_KEY),
                 {"A.PRC": GOOD, "A.PRC.$$$": other, "away": b"left"}, "flock", 2)]  # a leftover's
        for tool, args, name, before, out, after, *held in rows:
            with self.subTest(tool=os.path.basename(tool[-1]) if tool else None, swapped=name, at=held):
                if not tool:
                    self.skipTest("no --mkprc given")
                self.setUp()
                lay(self.root, before)

                def swap(_, name=name):
                    os.rename(os.path.join(self.root, name), os.path.join(self.root, "away"))
                    with open(os.path.join(self.root, name), "wb") as f:
                        f.write(other)
                call, when = held or ("fsync", 1)
                got = self.run_held(args, call, swap, when, tool=tool)
                self.assertEqual(got, (1, out, CANNOT_WRITE + EOL))
                self.assertTree(after)

    def test_folder_swapped_for_a_link_mid_run(self):
        # The moves happen in the folder that was opened, not in whatever its name leads
        # to by then.
        other = container(b"another folder's file")
        lay(self.root, {"d/A.PRC": GOOD, "other/A.PRC": other})

        def swap(_):
            os.rename(os.path.join(self.root, "d"), os.path.join(self.root, "d2"))
            os.symlink("other", os.path.join(self.root, "d"))
        got = self.run_held(["d/A.PRC"], "fsync", swap)
        self.assertEqual(got, (0, key_line(GOOD_KEY) + b"OK." + EOL, b""))
        self.assertTree({"d": Link("other"), "d2": Dir, "d2/A.PRC": RESTORED, "d2/A.PRC.BAK": GOOD,
                         "other": Dir, "other/A.PRC": other})

    @posix_only
    def test_closed_standard_streams_are_never_taken_by_a_file(self):
        self.need_strace()
        lay(self.root, {"A.PRC": GOOD})
        log = os.path.join(self.root, "..", os.path.basename(self.root) + ".trace")
        self.addCleanup(lambda: os.path.exists(log) and os.remove(log))
        got = self.run_tool([], prefix=["strace", "-f", "-qqq", "-o", log, "-e", "trace=execve,openat",
                                        "sh", "-c", 'exec "$0" A.PRC <&- >&- 2>&-', TOOL[0]])
        self.assertEqual(got, (0, b"", b""))
        self.assertTree({"A.PRC": RESTORED, "A.PRC.BAK": GOOD})
        with open(log) as f:
            trace = f.read().split("execve(", 2)[-1]  # the tool's own calls
        # The null device fills the streams' numbers; the tool's own files come after.
        numbers = [int(n) for n in re.findall(r'^\d+\s+openat\(.*"(?:\.|A\.PRC[^"]*)".*= (\d+)',
                                              trace, re.M)]
        self.assertTrue(numbers, "no file was opened")
        self.assertGreater(min(numbers), 2, "a file took a standard stream's number")

    @root_only
    def test_run_by_another_user(self):
        # Each row: the folder's mode, the input's owner, group and mode, the groups the
        # user running the tool is in, and what follows. A group the restored file
        # cannot be given gets none of the input group's access; a folder the user may
        # write but not read is refused before anything is touched, as it could not be
        # synced after the moves.
        shared = 4242
        tool, = self.copies_anyone_may_run(TOOL)
        rows = [(0o1777, (0, shared, 0o660), [shared], (0, shared, 0o660)),
                (0o1777, (NOBODY, shared, 0o640), [], (0, NOBODY, 0o600)),
                (0o1777, (NOBODY, NOBODY, 0o640), [], (0, NOBODY, 0o640)),
                # The input's group may not read; everyone else may. Its members are now
                # among everyone else, so everyone else gets what they had: nothing.
                (0o1777, (0, shared, 0o604), [], (0, NOBODY, 0o600)),
                (0o1777, (0, shared, 0o664), [], (0, NOBODY, 0o604)),
                (0o300, (NOBODY, NOBODY, 0o600), [], None)]
        for folder_mode, (uid, gid, mode), groups, want in rows:
            with self.subTest(folder=oct(folder_mode), input=(uid, gid, oct(mode)), groups=groups):
                self.setUp()
                os.chmod(self.root, 0o711)
                lay(self.root, {"f/A.PRC": GOOD})
                path = os.path.join(self.root, "f/A.PRC")
                os.chown(path, uid, gid)
                os.chmod(path, mode)
                os.chown(os.path.dirname(path), NOBODY, NOBODY)
                os.chmod(os.path.dirname(path), folder_mode)

                def as_nobody(groups=groups):
                    os.setgroups(groups)
                    os.setgid(NOBODY)
                    os.setuid(NOBODY)
                got = self.run_tool(["f/A.PRC"], preexec=as_nobody, tool=tool)
                if want is None:
                    self.assertEqual(got, (1, b"", CANNOT_OPEN + EOL))
                    os.chmod(os.path.dirname(path), 0o700)
                    self.assertTree({"f": Dir, "f/A.PRC": GOOD})
                    continue
                self.assertEqual(got[0], 0, got)
                self.assertTree({"f": Dir, "f/A.PRC": RESTORED, "f/A.PRC.BAK": GOOD})
                st = os.stat(path)
                self.assertEqual((st.st_gid, stat.S_IMODE(st.st_mode)), want[1:])

    @root_only
    def test_a_group_the_run_cannot_keep_gains_nothing_in_a_file_left_or_made(self):
        # root's shared sticky folder: the other user may not rename root's file, so the
        # restored payload goes with the temporary file; mkprc makes its OUT, not open to
        # the input's group, which its access list let read nothing (under a mask of r).
        shared = 4242
        tools = self.copies_anyone_may_run(*(t for t in (TOOL, MKPRC) if t))
        lay(self.root, {"s/A.PRC": GOOD})
        os.chmod(self.root, 0o711)
        os.chmod(os.path.join(self.root, "s"), 0o1777)
        path = os.path.join(self.root, "s/A.PRC")
        os.chown(path, 0, shared)
        os.setxattr(path, ACCESS, access_list(6, 0, 4, mask=4, users=[(NOBODY, 4)]))

        def as_nobody():
            os.setgroups([])
            os.setgid(NOBODY)
            os.setuid(NOBODY)
        got = self.run_tool(["s/A.PRC"], preexec=as_nobody, tool=tools[0])
        self.assertEqual(got, (1, key_line(GOOD_KEY), CANNOT_WRITE + EOL))
        self.assertTree({"s": Dir, "s/A.PRC": GOOD})
        made = {}
        if len(tools) > 1:
            self.assertEqual(self.run_tool(["s/A.PRC", "s/X"], preexec=as_nobody, tool=tools[1])[0], 0)
            made["s/X"] = 0o640
        for name, mode in made.items():
            st = os.stat(os.path.join(self.root, name))
            self.assertEqual((st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)), (NOBODY, NOBODY, mode))

    @root_only
    def test_owner_and_group_are_kept(self):
        lay(self.root, {"A.PRC": GOOD})
        path = os.path.join(self.root, "A.PRC")
        os.chown(path, NOBODY, NOBODY)
        os.chmod(path, 0o640)
        self.assertEqual(self.run_tool(["A.PRC"])[0], 0)
        self.assertTree({"A.PRC": RESTORED, "A.PRC.BAK": GOOD})
        st = os.stat(path)
        self.assertEqual((st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)), (NOBODY, NOBODY, 0o640))

    @root_only
    def test_access_is_exactly_the_inputs(self):
        # Each row: the input's mode and access list, the folder's default list, and the
        # made file's mode and list (None: none). The input's list replaces what the
        # folder's default gives a new file; with none, the default's is removed.
        named = access_list(6, 0, 0, mask=6, users=[(NOBODY, 6)])  # 0600 and NOBODY rw
        readable = access_list(6, 4, 4, mask=6, users=[(NOBODY, 6)])  # 0644 and NOBODY rw
        folder_default = access_list(7, 5, 0, mask=7, users=[(NOBODY, 7)])
        rows = [(0o600, named, None, 0o660, named),
                (0o640, None, folder_default, 0o640, None),
                (0o600, named, access_list(7, 7, 7), 0o660, named),
                (0o604, None, None, 0o604, None),
                (0o644, readable, None, 0o664, readable)]
        try:
            os.setxattr(self.root, DEFAULT, folder_default)
        except OSError as e:
            self.skipTest(f"this file system keeps no access lists: {e.strerror}")
        for tool in ("unprc", "mkprc"):
            for mode, given, default, want_mode, want in rows:
                with self.subTest(tool=tool, mode=oct(mode), given=given, default=default):
                    if tool == "mkprc" and not MKPRC:
                        self.skipTest("no --mkprc given")
                    self.setUp()
                    lay(self.root, {"d/A": GOOD})
                    if default:
                        os.setxattr(os.path.join(self.root, "d"), DEFAULT, default)
                    path = os.path.join(self.root, "d/A")
                    os.chmod(path, mode)
                    if given:
                        os.setxattr(path, ACCESS, given)
                    if tool == "unprc":
                        self.assertEqual(self.run_tool(["d/A"])[0], 0)
                        made, kept = path, path + ".BAK"
                        self.assertEqual(read_access_list(kept), given)
                    else:
                        self.assertEqual(self.run_tool(["d/A", "d/X"], tool=MKPRC)[0], 0)
                        made = os.path.join(self.root, "d/X")
                    self.assertEqual(stat.S_IMODE(os.stat(made).st_mode), want_mode)
                    self.assertEqual(read_access_list(made), want)

    @root_only
    def test_another_users_file_at_the_temporary_name_is_never_written(self):
        # A shared sticky folder; the secret is root's own, the file at its temporary
        # name another user's, open to all.
        tree = {"shared/A.PRC": GOOD, "shared/A.PRC.$$$": b"theirs"}
        lay(self.root, tree)
        os.chmod(os.path.join(self.root, "shared"), 0o1777)
        os.chmod(os.path.join(self.root, "shared/A.PRC"), 0o600)
        theirs = os.path.join(self.root, "shared/A.PRC.$$$")
        os.chown(theirs, NOBODY, NOBODY)
        os.chmod(theirs, 0o666)
        got = self.run_tool(["shared/A.PRC"])
        self.assertEqual(got, (1, key_line(GOOD_KEY), CANNOT_WRITE + EOL))
        self.assertTree(snapshot_of(tree))
        self.assertEqual(os.stat(theirs).st_uid, NOBODY)

    @root_only
    def test_a_file_mounted_at_the_temporary_name_is_never_written(self):
        lay(self.root, {"A.PRC": GOOD, "A.PRC.$$$": b"", "other": b"unrelated"})
        mounted = os.path.join(self.root, "A.PRC.$$$")
        if subprocess.run(["mount", "--bind", os.path.join(self.root, "other"), mounted],
                          capture_output=True).returncode != 0:
            self.skipTest("bind mounts are not allowed here")
        self.addCleanup(subprocess.run, ["umount", mounted], capture_output=True)
        got = self.run_tool(["A.PRC"])
        self.assertEqual(got, (1, key_line(GOOD_KEY), CANNOT_WRITE + EOL))
        self.assertTree({"A.PRC": GOOD, "A.PRC.$$$": b"unrelated", "other": b"unrelated"})


class RoundTrip(Case):
    """mkprc PLAIN OUT, unprc's way back: each tool undoes the other byte for byte, and
    a refused mkprc leaves the folder as it was."""

    def setUp(self):
        if not MKPRC:
            self.skipTest("no --mkprc given")
        super().setUp()

    def run_mkprc(self, args, **run):
        return self.run_tool(args, argv0="mkprc", tool=MKPRC, **run)

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
                self.assertTree({"P": plain, "X": made})
                self.assertEqual(self.run_tool(["X"]), (0, key_line(restored(made)[1]) + b"OK." + EOL, b""))
                self.assertTree({"P": plain, "X": plain, "X.BAK": made})

    @posix_only
    def test_plain_may_be_a_link(self):
        # PLAIN is only read, so a link to it is read through, as cp reads it.
        lay(self.root, {"P": Link("d/real"), "d/real": b"linked plain"})
        self.assertEqual(self.run_mkprc(["P", "X"]), (0, b"", b""))
        self.assertTree({"P": Link("d/real"), "d": Dir, "d/real": b"linked plain",
                         "X": container(b"linked plain")})

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
                self.assertTree({"X": restored(data)[0], "X.BAK": data, "Y": data})

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
                self.assertTree(snapshot_of(tree))

    def test_usage_help_and_version(self):
        usage = rb"Usage: \S*mkprc(\.exe)? \(Plain File\) \(\.PRC File\)" + EOL
        status, out, err = self.run_mkprc(["P"])
        self.assertEqual((status, out), (1, b""))
        self.assertRegex(err, b"^" + usage + b"$")
        status, out, err = self.run_mkprc(["--help"])
        self.assertEqual((status, err), (0, b""))
        self.assertRegex(out, b"^" + usage + b"(.*" + EOL + b")+$")
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
        self.need_strace()
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


class NoLinkFileSystem(Case):
    """Both tools on a FUSE file system with neither rename flags nor hard links
    (nolinkfs.py beside this file, over a backing folder): they work there and still
    never replace an existing file."""

    SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "nolinkfs.py")

    def setUp(self):
        """Mounts the file system at the scratch folder, or skips saying why it cannot."""
        if not NATIVE or sys.platform != "linux":
            self.skipTest("needs a native Linux tool")
        if not os.access("/dev/fuse", os.R_OK | os.W_OK):
            self.skipTest("/dev/fuse is missing or not open to this user")
        if shutil.which("fusermount") is None:
            self.skipTest("no fusermount (Debian's fuse3 or fuse package)")
        # Debian's fusepy is installed for the system's Python, which may not be this one.
        python = next((p for p in dict.fromkeys([sys.executable, "/usr/bin/python3"])
                       if os.path.exists(p) and subprocess.run(
                           [p, self.SERVER, "--check"], capture_output=True).returncode == 0), None)
        if python is None:
            self.skipTest("no Python here loads fusepy and libfuse (Debian's python3-fusepy)")
        super().setUp()
        self.mount = self.root
        self.backing = tempfile.mkdtemp(prefix="unprc-e2e-backing-")
        self.addCleanup(shutil.rmtree, self.backing)
        log = tempfile.TemporaryFile()
        self.addCleanup(log.close)
        server = subprocess.Popen([python, self.SERVER, self.backing, self.mount],
                                  stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        self.addCleanup(self.unmount, server)
        # Waits for the mount without touching it, as a stat of a hung mount would hang.
        deadline = time.monotonic() + 10
        while not self.mounted():
            if server.poll() is not None:
                log.seek(0)
                self.skipTest("FUSE cannot be mounted here: " + log.read().decode(errors="replace").strip())
            if time.monotonic() > deadline:
                server.kill()
                self.fail("the file system was not mounted within 10 seconds")
            time.sleep(0.05)

    def mounted(self):
        with open("/proc/self/mounts") as f:
            return any(line.split()[1] == self.mount for line in f)

    def unmount(self, server):
        """Unmounts, lazily if it is busy, and ends the server, by force if it hangs."""
        for args in (["-u"], ["-u", "-z"]):
            if not self.mounted():
                break
            try:
                subprocess.run(["fusermount", *args, self.mount], capture_output=True, timeout=20)
            except subprocess.TimeoutExpired:
                pass
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()

    def test_the_file_system_has_neither_rename_flags_nor_hard_links(self):
        # So the cases below prove what they claim; and what the tools need does work.
        import ctypes
        import errno
        import fcntl
        libc = ctypes.CDLL(None, use_errno=True)

        def renameat2(old, new, flags):
            if libc.renameat2(-100, os.fsencode(old), -100, os.fsencode(new), flags) != 0:
                raise OSError(ctypes.get_errno(), os.strerror(ctypes.get_errno()))

        def exclusive_create(path, _):
            os.close(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL))

        def second_lock(path, _):
            fds = [os.open(path, os.O_RDONLY) for _ in range(2)]
            try:
                for fd in fds:
                    fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            finally:
                for fd in fds:
                    os.close(fd)
        # Each row: what is tried on a file of its own and a free name, and the error it
        # must end in.
        rows = [("renameat2 RENAME_NOREPLACE", lambda old, new: renameat2(old, new, 1), errno.EINVAL),
                ("link", os.link, errno.EPERM),
                ("exclusive create of a name in use", exclusive_create, errno.EEXIST),
                ("flock LOCK_EX|LOCK_NB of a locked file", second_lock, errno.EWOULDBLOCK)]
        tree = {f"a{i}": b"file %d" % i for i in range(len(rows))}
        lay(self.root, tree)
        for i, (what, call, want) in enumerate(rows):
            with self.subTest(what):
                with self.assertRaises(OSError) as caught:
                    call(os.path.join(self.root, f"a{i}"), os.path.join(self.root, f"c{i}"))
                self.assertEqual(caught.exception.errno, want, os.strerror(caught.exception.errno))
        self.assertTree(tree)
        # A plain rename replaces its destination; the folder can be synced.
        renameat2(os.path.join(self.root, "a0"), os.path.join(self.root, "a1"), 0)
        folder = os.open(self.root, os.O_RDONLY | os.O_DIRECTORY)
        try:
            os.fsync(folder)
        finally:
            os.close(folder)
        del tree["a0"]
        self.assertTree(dict(tree, a1=b"file 0"))

    def test_both_tools(self):
        plain = b"plain text\n"
        # Each row: the tool, the files laid, its arguments, then its status, standard
        # output and standard error, and the files after.
        rows = [
            ("unprc", {"A.PRC": GOOD}, ["A.PRC"], 0, key_line(GOOD_KEY) + b"OK." + EOL, b"",
             {"A.PRC": RESTORED, "A.PRC.BAK": GOOD}),
            ("unprc", {"d/A.PRC": GOOD, "d/A.PRC.$$$": b"stale output"}, ["d/A.PRC"], 0,
             key_line(GOOD_KEY) + b"OK." + EOL, b"", {"d": Dir, "d/A.PRC": RESTORED, "d/A.PRC.BAK": GOOD}),
            ("unprc", {"A.PRC": GOOD, "A.PRC.BAK": b"old backup"}, ["A.PRC"], 1, key_line(GOOD_KEY),
             BACKUP_EXISTS + EOL, {"A.PRC": GOOD, "A.PRC.BAK": b"old backup", "A.PRC.$$$": RESTORED}),
            ("mkprc", {"P": plain}, ["P", "X"], 0, b"", b"", {"P": plain, "X": container(plain)}),
            ("mkprc", {"P": plain, "X": b"old"}, ["P", "X"], 1, b"", OUTPUT_EXISTS + EOL,
             {"P": plain, "X": b"old"}),
        ]
        for n, (name, tree, args, status, out, err, after) in enumerate(rows):
            with self.subTest(tool=name, tree=sorted(tree)):
                tool = TOOL if name == "unprc" else MKPRC
                if not tool:
                    self.skipTest("no --mkprc given")
                # Each row in a folder of its own on the one mount.
                self.root = os.path.join(self.mount, str(n))
                os.mkdir(self.root)
                self.check(tree, args, status, out, err, after, argv0=name, tool=tool)
                # Nothing else in the backing folder either, such as a hidden stand-in
                # for a file removed while open.
                self.assertEqual(tree_differences(snapshot(os.path.join(self.backing, str(n))), after), [])

    def test_a_run_held_at_a_reservation(self):
        # Each row: the call held at, what is done then, the status, the files after, and
        # after a second run. A file put in a reservation's place is never replaced.
        def swap(_):
            os.rename(os.path.join(self.root, "A.PRC.BAK"), os.path.join(self.root, "away"))
            lay(self.root, {"A.PRC.BAK": b"theirs"})
        kill, killed = (lambda pid: os.kill(pid, signal.SIGKILL)), -signal.SIGKILL
        rows = [("flock", 3, swap, 1, {"A.PRC": GOOD, "A.PRC.BAK": b"theirs", "away": b""}, None),
                ("renameat", 1, kill, killed, {"A.PRC": GOOD, "A.PRC.BAK": b"", "A.PRC.$$$": RESTORED},
                 {"A.PRC": RESTORED, "A.PRC.BAK": GOOD}),
                ("renameat", 2, kill, killed, {"A.PRC": b"", "A.PRC.BAK": GOOD, "A.PRC.$$$": RESTORED}, None)]
        for call, when, action, status, after, again in rows:
            with self.subTest(call=call, when=when):
                self.root = os.path.join(self.mount, f"{call}{when}")
                lay(self.root, {"A.PRC": GOOD})
                self.assertEqual(Hostile.run_held(self, ["A.PRC"], call, action, when)[0], status)
                self.assertTree(after)
                if again:
                    self.assertEqual(self.run_tool(["A.PRC"])[0], 0)
                    self.assertTree(again)


OLD_TIME = 10**18  # 2001-09-09 in nanoseconds: times no run of the tool can give


def age(root):
    """Sets the times of `root` and everything under it to OLD_TIME, so that a later write,
    creation or removal shows."""
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            os.utime(os.path.join(folder, name), ns=(OLD_TIME, OLD_TIME), follow_symlinks=False)
    os.utime(root, ns=(OLD_TIME, OLD_TIME))


def stamps(root):
    """`root` and every entry under it, by relative path: file number, mode, and
    modification and change times."""
    out = {}
    for folder, dirs, files in os.walk(root):
        for name in ["."] * (folder == root) + dirs + files:
            st = os.lstat(os.path.join(folder, name))
            out[os.path.relpath(os.path.join(folder, name), root)] = (
                st.st_ino, st.st_mode, st.st_mtime_ns, st.st_ctime_ns)
    return out


class WindowsCase(Case):
    """A case of the Windows build run under wine, with its helper program at hand."""

    def setUp(self):
        if NATIVE or EMULATOR:
            self.skipTest("needs the Windows build under wine")
        super().setUp()

    def helper(self, *args):
        """Runs windows_helper; its output, stripped."""
        if not HELPER:
            self.skipTest("no --windows-helper given")
        p = subprocess.run(HELPER + list(args), cwd=self.root, stdin=subprocess.DEVNULL,
                           capture_output=True, env=dict(os.environ, WINEDEBUG="-all", **self.ENV),
                           timeout=60)
        self.assertEqual(p.returncode, 0, (args, p.stderr))
        return p.stdout.decode().strip()


class WindowsNames(WindowsCase):
    """The Windows build's names as Windows users give them: in any script and of any
    length, however typed, in the code page of the default wine prefix."""

    CODEPAGE = "cp1252"  # the default prefix's

    def test_names_outside_the_code_page_and_the_look_alikes(self):
        # A look-alike is its own file: the system's nearest letters name another.
        for name, other in [(n, None) for n in WIDE_NAMES] + [("\uff21\uff22\uff23.PRC", "ABC.PRC")]:
            with self.subTest(name=name):
                self.setUp()
                tree = {name: GOOD}
                if other:
                    tree[other] = container(b"another file")
                self.restores(tree, name)
                if MKPRC:  # and back, into a new file of such a name
                    self.assertEqual(self.run_tool([name, "2" + name], tool=MKPRC), (0, b"", b""))
                    self.assertEqual(snapshot(self.root)["2" + name], GOOD)

    def test_program_name_in_the_code_page(self):
        # The usage line shows the program's name as the code page spells it, as before.
        exe = os.path.join(self.root, "\u8868.exe")
        shutil.copy(TOOL[-1], exe)
        status, out, err = self.run_tool([], tool=TOOL[:-1] + [exe])
        shown = ("Z:" + exe.replace("/", "\\")).encode(self.CODEPAGE, errors="replace")
        self.assertEqual((status, out, err), (1, b"", b"Usage: " + shown + b" (.PRC File)" + EOL))

    def test_side_files_are_spelled_from_the_name_as_stored(self):
        long_name = "a long name of the file.PRC"
        lay(self.root, {long_name: GOOD})
        short = self.helper("short", long_name)
        self.assertNotEqual(short, long_name)
        rows = [(short, long_name), ("A.PRC.", "A.PRC"), ("A.PRC . .", "A.PRC"), ("a.prc", "A.PRC")]
        for typed, stored in rows:
            with self.subTest(typed=typed):
                self.setUp()
                tree = {stored: GOOD}
                plain, key = restored(GOOD)
                self.check(tree, [typed], 0, key_line(key) + b"OK." + EOL, b"",
                           {stored: plain, stored + ".BAK": GOOD})

    def test_a_wildcard_in_a_name_matches_nothing(self):
        # "?" and "*", and the system's own ">", "<" and '"', are never matched against the
        # folder: no file of such a name can exist, so nothing is there to open.
        for typed in ("A.PR?", "A*", "A.PR>", "A<.PRC", 'A"PRC'):
            for tool, argv0 in ((None, None),) + (((PRCCAT, "prccat"),) if PRCCAT else ()):
                with self.subTest(typed=typed, tool=argv0 or "unprc"):
                    self.setUp()
                    run = {"tool": tool, "argv0": argv0} if tool else {}
                    self.refused({"A.PRC": GOOD}, [typed], CANNOT_OPEN, **run)

    def test_streams_are_refused(self):
        self.refused({"A.PRC": GOOD}, ["A.PRC:s"], CANNOT_OPEN)
        self.refused({"A.PRC": GOOD}, ["A.PRC::$DATA"], CANNOT_OPEN)
        if MKPRC:
            for out in ("A.PRC:s", "B.PRC:s"):
                with self.subTest(out=out):
                    self.setUp()
                    self.refused({"A.PRC": GOOD, "p": b"plain"}, ["p", out], CANNOT_WRITE,
                                 tool=MKPRC, argv0="mkprc")


class Windows(WindowsCase):
    """The rest of the Windows build as Windows users meet it: the read-only and hidden
    marks and the access list; another process holding a file or the folder; Ctrl+C; a
    file dropped on the program."""

    def test_read_only_and_hidden_marks_and_access_are_carried(self):
        # Wine gives a file the access list its mode says, and keeps a list that is set.
        read_only, hidden = 0x1, 0x2
        for marks, mode in ((0, 0o600), (read_only, 0o640), (hidden, 0o644),
                            (read_only | hidden, 0o600)):
            with self.subTest(marks=marks, mode=oct(mode)):
                self.setUp()
                # A leftover temporary file with the marks too: it is removed all the same.
                lay(self.root, {"A.PRC": GOOD, "A.PRC.$$$": b"left", "p": b"plain"})
                for name in ("A.PRC", "A.PRC.$$$", "p"):
                    os.chmod(os.path.join(self.root, name), mode)
                    self.helper("set-attributes", name, "%x" % marks)
                self.assertEqual(self.run_tool(["A.PRC"]), (0, key_line(GOOD_KEY) + b"OK." + EOL, b""))
                self.assertEqual(self.run_tool(["p", "B.PRC"], tool=MKPRC), (0, b"", b""))
                self.assertTree({"A.PRC": RESTORED, "A.PRC.BAK": GOOD, "p": b"plain",
                                 "B.PRC": container(b"plain")})
                for name in ("A.PRC", "A.PRC.BAK", "B.PRC"):
                    self.assertEqual(self.helper("attributes", name), "0x%X" % marks, name)
                for made, like in (("A.PRC", "A.PRC.BAK"), ("B.PRC", "p")):
                    self.assertEqual(self.helper("access", made), self.helper("access", like), made)

    def test_a_file_held_for_a_moment_by_another_process(self):
        if not HELPER:
            self.skipTest("no --windows-helper given")
        plain, key = restored(GOOD)
        original, swapped = {"A.PRC": GOOD}, {"A.PRC": plain, "A.PRC.BAK": GOOD}
        ok = (0, key_line(key) + b"OK." + EOL, b"")
        rows = [  # held, for how long, by a scanner during the run (else from before it),
            # what the run says, and the files after
            ("A.PRC", 1000, False, ok, swapped),
            ("A.PRC.$$$", 1000, False, ok, swapped),
            # Held past the tries: the input is not opened, and nothing is made.
            ("A.PRC", 4000, False, (1, b"", CANNOT_OPEN + EOL), original),
            # A scanner that opens the temporary file the moment it can never gets it: the
            # run holds it from its creation to its move, which it cannot make wait.
            ("A.PRC.$$$", 3000, True, ok, swapped),
        ]
        for held, milliseconds, scanner, outcome, after in rows:
            with self.subTest(held=held, milliseconds=milliseconds, scanner=scanner):
                self.setUp()
                lay(self.root, dict(original, **{"A.PRC.$$$": b"left"})
                    if held == "A.PRC.$$$" and not scanner else original)
                if scanner:
                    got = self.helper("scan", held, str(milliseconds), TOOL[-1], "A.PRC")
                    status, out, _ = outcome
                    self.assertEqual(got, (out + b"0x%08X" % status + EOL + b"held 0").decode())
                    self.assertTree(after)
                    continue
                holder = subprocess.Popen(HELPER + ["hold", held, str(milliseconds)], cwd=self.root,
                                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                          env=dict(os.environ, WINEDEBUG="-all", **self.ENV))
                self.addCleanup(holder.stdout.close)
                self.addCleanup(holder.wait, 60)
                self.assertEqual(holder.stdout.readline().strip(), b"held")
                self.assertEqual(self.run_tool(["A.PRC"]), outcome)
                holder.wait(60)
                self.assertTree(after)

    def test_the_folder_is_held_for_the_whole_run(self):
        # While the run waits to open its input (another process holds the file), another
        # program cannot rename or remove the folder the run works in.
        if not HELPER:
            self.skipTest("no --windows-helper given")
        lay(self.root, {"sub/A.PRC": GOOD})
        env = dict(os.environ, WINEDEBUG="-all", **self.ENV)
        holder = subprocess.Popen(HELPER + ["hold", "sub/A.PRC", "1500"], cwd=self.root,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, env=env)
        with holder:
            self.assertEqual(holder.stdout.readline().strip(), b"held")
            run = subprocess.Popen(TOOL + ["sub/A.PRC"], cwd=self.root, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
            time.sleep(0.7)
            moved = subprocess.run(HELPER + ["move", "sub", "moved"], cwd=self.root,
                                   stdin=subprocess.DEVNULL, capture_output=True, env=env)
            out, err = run.communicate(timeout=60)
        self.assertEqual((run.returncode, out, err), (0, key_line(GOOD_KEY) + b"OK." + EOL, b""))
        self.assertEqual(moved.returncode, 1, moved.stdout)
        self.assertTree({"sub": Dir, "sub/A.PRC": RESTORED, "sub/A.PRC.BAK": GOOD})

    def test_ctrl_c_ends_the_run_at_once_or_after_the_moves(self):
        # Another process holds a file, so the run is trying again when Ctrl+C comes: the
        # leftover temporary file's removal, or the input's open. No other process can make
        # the moves themselves wait, so none can hold a run there for an event to come.
        if not HELPER:
            self.skipTest("no --windows-helper given")
        rows = [  # held, what is laid, the files after
            ("A.PRC.$$$", {"A.PRC": GOOD, "A.PRC.$$$": b"left"}, {"A.PRC": GOOD, "A.PRC.$$$": b"left"}),
            ("A.PRC", {"A.PRC": GOOD}, {"A.PRC": GOOD}),
        ]
        for held, tree, after in rows:
            with self.subTest(held=held):
                self.setUp()
                lay(self.root, tree)
                status, out, _ = on_a_terminal(HELPER + ["interrupt", held, "1000", "500"] +
                                               TOOL[-1:] + ["A.PRC"], self.root, self.ENV)
                self.assertEqual(status, 0, out)
                self.assertNotIn(b"OK.", out)
                self.assertIn(b"0xC000013A", out)  # the status a Ctrl+C gives
                self.assertTree(after)

    def test_a_dropped_file_waits_for_enter_only_alone_on_its_console(self):
        plain, key = restored(GOOD)
        after = {"A.PRC": plain, "A.PRC.BAK": GOOD}
        # Alone on a console whose input it reads: the prompt, then a wait for Enter.
        lay(self.root, {"A.PRC": GOOD})
        status, out, waited = on_a_terminal(TOOL + ["A.PRC"], self.root, self.ENV, enter_after=2)
        self.assertEqual((status, waited), (0, True), out)
        self.assertIn(b"OK.", out)
        self.assertIn(b"PressEntertoclosethiswindow.", out.replace(b" ", b""))
        self.assertTree(after)
        # Started from a console's own command interpreter: no prompt, no wait.
        self.setUp()
        lay(self.root, {"A.PRC": GOOD})
        status, out, _ = on_a_terminal(TOOL[:-1] + ["cmd", "/c", TOOL[-1], "A.PRC"], self.root,
                                       self.ENV)
        self.assertEqual(status, 0, out)
        self.assertNotIn(b"Enter", out)
        self.assertTree(after)
        # On a console without a window, as Task Scheduler starts it: nobody could press Enter.
        self.setUp()
        lay(self.root, {"A.PRC": GOOD})
        self.assertEqual(self.helper("hidden", TOOL[-1], "A.PRC"), "0x00000000")
        self.assertTree(after)


class WindowsCodePage932(WindowsNames):
    """The same names, in a wine prefix of its own whose code page is 932, as on a
    Japanese Windows: there the second byte of ソ and 表 is the backslash's."""

    CODEPAGE = "cp932"

    @classmethod
    def setUpClass(cls):
        if NATIVE or EMULATOR:
            raise unittest.SkipTest("needs the Windows build under wine")
        if shutil.which("localedef") is None:
            raise unittest.SkipTest("needs localedef to make a ja_JP locale")
        cls.scratch = tempfile.mkdtemp(prefix="unprc-e2e-cp932-")
        locales = os.path.join(cls.scratch, "locales")
        os.mkdir(locales)
        made = subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8",
                               os.path.join(locales, "ja_JP.UTF-8")], capture_output=True)
        if made.returncode not in (0, 1) or not os.listdir(locales):
            shutil.rmtree(cls.scratch)
            raise unittest.SkipTest("localedef made no ja_JP locale: " + made.stderr.decode())
        cls.ENV = {"WINEPREFIX": os.path.join(cls.scratch, "prefix"), "LOCPATH": locales,
                   "LANG": "ja_JP.UTF-8", "LC_ALL": "ja_JP.UTF-8"}
        cls.keeper = keep_emulator_running(cls.ENV)

    @classmethod
    def tearDownClass(cls):
        stop_emulator(cls.keeper)
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, **cls.ENV), capture_output=True)
        shutil.rmtree(cls.scratch, ignore_errors=True)


ESCAPE = rb"\x1b\[[0-9;?]*[A-Za-z]"  # a terminal's control sequence


def on_a_terminal(cmd, cwd, extra, enter_after=None):
    """Runs `cmd` with a terminal for its streams, so that the emulator gives it a console;
    with `enter_after`, presses Enter that many seconds after the run asks for it (and again
    each second, should the console not have been reading yet). Returns its status,
    everything it wrote (the terminal's escape sequences taken out) and whether it was
    still running when Enter was first pressed."""
    import pty
    import select
    master, slave = pty.openpty()
    p = subprocess.Popen(cmd, cwd=cwd, stdin=slave, stdout=slave, stderr=slave,
                         env=dict(os.environ, WINEDEBUG="-all", ASAN_OPTIONS="detect_leaks=0", **extra))
    os.close(slave)
    out, start, asked, pressed, waited = b"", time.monotonic(), None, None, False
    while True:
        ready, _, _ = select.select([master], [], [], 0.2)
        if ready:
            try:
                data = os.read(master, 4096)
            except OSError:  # the last writer has gone
                data = b""
            if not data:
                break
            out += data
        now = time.monotonic()
        if enter_after is not None and asked is None and b"Enter" in re.sub(ESCAPE, b"", out):
            asked = now
        if asked is not None and now - asked > enter_after and (pressed is None or now - pressed > 1):
            if pressed is None:
                waited = p.poll() is None
            os.write(master, b"\r")
            pressed = now
        if now - start > 60:
            p.kill()
            break
    os.close(master)
    p.wait(60)
    return p.returncode, re.sub(ESCAPE, b"", out), waited


class Reader(Case):
    """prccat FILE...: each file's payload on standard output, in order, exactly the bytes
    unprc would leave in it; a file that cannot be read reported in its turn and skipped;
    and nothing in the folder created, changed, renamed or locked."""

    def setUp(self):
        if not PRCCAT:
            self.skipTest("no --prccat given")
        super().setUp()

    def run_prccat(self, args, stdin=b"", merge=False, stdout=subprocess.PIPE, preexec=None,
                   tool=None):
        tool = tool or PRCCAT
        cmd, exe = tool + list(args), None
        if NATIVE:
            cmd[0], exe = "prccat", tool[0]
        env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0", WINEDEBUG="-all")
        p = run_process(cmd, executable=exe, cwd=self.root, input=stdin, env=env, stdout=stdout,
                           stderr=subprocess.STDOUT if merge else subprocess.PIPE,
                           preexec_fn=preexec, timeout=120)
        return p.returncode, p.stdout, p.stderr or b""

    def laid(self, tree):
        """Lays `tree`, ages it, and returns its stamps."""
        lay(self.root, tree)
        age(self.root)
        return stamps(self.root)

    def assertUntouched(self, tree, before):
        """The folder holds exactly `tree`, every entry with the same number, mode and times
        as before the run, the folder's own included."""
        self.assertTree(snapshot_of(tree))
        self.assertEqual(stamps(self.root), before)

    def reads(self, tree, args, status, out, err, **run):
        """Lays `tree`, runs prccat, and checks its status, both streams byte for byte, and
        the folder untouched."""
        before = self.laid(tree)
        got = self.run_prccat(args, **run)
        self.assertEqual(got[0], status, got[2])
        self.assertEqual(got[1], out, out and f"{len(got[1] or b'')} bytes, not {len(out)}")
        self.assertEqual(got[2], err)
        self.assertUntouched(tree, before)

    def test_contents_from_a_file_and_from_standard_input(self):
        # Each row: the file, and the payload it holds, given outright. Each goes through a
        # named file, standard input, and "-"; unprc then leaves the same bytes.
        rng = random.Random(19)
        plain = rng.randbytes(BUFFER - 4)
        odd = rng.randbytes(999)
        rows = [
            (bytes.fromhex("04 00 00 00 45 42 02 06"), b"ABCD"),
            (bytes.fromhex("02 00 00 00 45 42 02 06"), bytes.fromhex("47 42")),
            (bytes.fromhex("03 00 00 00"), bytes(3)),
            (bytes.fromhex("06 00 00 00 45 42 02 06 00"), bytes.fromhex("43 42 41 44 41 44")),
            (bytes.fromhex("FF FF 01 00"), bytes(131071)),
            (bytes.fromhex("00 00 00 00 45 42 02 06"), b""),
            (container(b"", 1048572), bytes(1048572)),
            (container(plain), plain),
            (container(plain) + b"past the buffer, never read", plain),
            (container(odd), odd),
            # The odd count's last pair takes in a zero and gives the plain high byte before.
            (container(b"short", 50), b"shortr" + bytes(44)),
        ]
        for data, payload in rows:
            for args, stdin in ((["A.PRC"], b""), ([], data), (["-"], data)):
                with self.subTest(size=len(data), head=data[:8].hex(), args=args):
                    self.setUp()
                    self.reads({"A.PRC": data}, args, 0, payload, b"", stdin=stdin)
            self.assertEqual(self.run_tool(["A.PRC"])[0], 0)
            with open(os.path.join(self.root, "A.PRC"), "rb") as f:
                self.assertEqual(f.read(), payload, "unprc leaves other bytes")

    def test_several_files_in_order(self):
        # The buffer serves one file after another: a file read after a longer one must
        # still find zeros past its bytes, in its zero fill and its odd last pair.
        rng = random.Random(20)
        plain = rng.randbytes(BUFFER - 4)
        tree = {"big": container(plain), "short": container(b"xy", 10),
                "odd": bytes.fromhex("06 00 00 00 45 42 02 06 00"), "empty": container(b"")}
        payloads = {"big": plain, "short": b"xy" + bytes(8), "odd": bytes.fromhex("43 42 41 44 41 44"),
                    "empty": b"", "-": b"ABCD"}
        stdin = bytes.fromhex("04 00 00 00 45 42 02 06")
        for args in (["big", "short"], ["big", "odd"], ["big", "short", "big", "odd", "empty"],
                     ["odd", "-", "big", "odd"], ["short", "short"]):
            with self.subTest(args=args):
                self.setUp()
                self.reads(tree, args, 0, b"".join(payloads[a] for a in args), b"", stdin=stdin)

    def test_standard_input(self):
        full = container(random.Random(21).randbytes(BUFFER - 4))
        rows = [  # arguments, standard input, status, output, errors
            ([], full + b"x" * 5000, 0, restored(full)[0], b""),
            (["-"], b"", 1, b"", ABNORMAL + EOL),
            ([], b"\x04\x00\x00", 1, b"", ABNORMAL + EOL),
            (["-", "-"], GOOD, 1, RESTORED, ABNORMAL + EOL),  # the second finds it ended
            (["A", "-", "A"], container(b"in"), 0, RESTORED + b"in" + RESTORED, b""),
            (["-", "-"], GOOD + container(b"next"), 0, RESTORED + b"next", b""),  # one each
        ] + NATIVE * [(["A"], b"", 1, b"", CANNOT_WRITE + EOL, 1),  # standard output closed
                      (["-"], b"", 1, b"", CANNOT_OPEN + EOL, 0)]  # standard input closed
        for args, stdin, status, out, err, *closed in rows:
            with self.subTest(args=args, stdin=len(stdin), closed=closed):
                self.setUp()
                self.reads({"A": GOOD}, args, status, out, err, stdin=stdin,
                           preexec=lambda: closed and os.close(closed[0]))

    def test_files_that_cannot_be_read_are_reported_in_turn(self):
        bad = [({}, "absent", CANNOT_OPEN), ({}, "", CANNOT_OPEN), ({}, "NUL", CANNOT_OPEN),
               ({"D": Dir}, "D", CANNOT_OPEN), ({}, "absent/A", CANNOT_OPEN),
               ({"E": b""}, "E", ABNORMAL), ({"E": b"\x04"}, "E", ABNORMAL),
               ({"E": b"\x04\x00\x00"}, "E", ABNORMAL),
               ({"E": container(b"", 1048573)}, "E", ABNORMAL),
               ({"E": container(b"xy", 0xFFFFFFFF)}, "E", ABNORMAL),
               ({"E": container(b"", 16 << 16)}, "E", ABNORMAL),
               ({"E": container(b"", (15 << 16) + 65533)}, "E", ABNORMAL)]
        if NATIVE:
            bad += [({"F": Fifo}, "F", CANNOT_OPEN), ({"S": Sock}, "S", CANNOT_OPEN),
                    ({"L": Link("gone")}, "L", CANNOT_OPEN), ({}, "/dev/null", CANNOT_OPEN)]
        good = {"A": GOOD, "B": container(b"second")}
        for tree, name, message in bad:
            with self.subTest(name=name, tree=sorted(tree)):
                self.setUp()
                self.reads(dict(good, **tree), ["A", name, "B"], 1, RESTORED + b"second",
                           message + EOL)
        # All in one run, standard error merged into standard output: each message comes in
        # its file's turn.
        self.setUp()
        tree, args, out = dict(good), [], b""
        for i, (laid, name, message) in enumerate(bad):
            tree.update({f"{i}/{n}": w for n, w in laid.items()})
            args += ["A", f"{i}/{name}" if laid else name]
            out += RESTORED + message + EOL
        self.reads(tree, args + ["B"], 1, out + b"second", b"", merge=True)

    def test_symbolic_links_are_read_through(self):
        if not NATIVE:
            self.skipTest("needs POSIX symbolic links")
        tree = {"real/A.PRC": GOOD, "A.PRC": Link("real/A.PRC"), "via": Link("real")}
        self.reads(tree, ["A.PRC", "via/A.PRC"], 0, RESTORED * 2, b"")

    def test_options_and_names_like_them(self):
        eol = re.escape(EOL)
        usage = rb"Usage: (prccat|\S*prccat\.exe) \[FILE\]\.\.\." + eol
        help_text = usage + rb"Writes each FILE's restored payload(.|\n)*--version .*" + eol + rb"(.|\n)*"
        version = rb"prccat [0-9]+\.[0-9]+\.[0-9]+" + eol
        cannot_open = re.escape(CANNOT_OPEN + EOL)
        rows = [  # arguments, then status, standard output and standard error (patterns)
            (["--help"], 0, help_text, b""),
            (["--version"], 0, version, b""),
            (["./--help"], 0, re.escape(RESTORED), b""),
            (["-h"], 0, re.escape(b"-h's"), b""),
            (["--help", "--version"], 0, re.escape(RESTORED + b"version"), b""),
            # Windows names ignore case: there --HELP is the file --help, still no option.
            (["--HELP"], 1, b"", cannot_open) if NATIVE else (["--HELP"], 0, re.escape(RESTORED), b""),
            (["--help=1"], 1, b"", cannot_open),
            (["-V"], 1, b"", cannot_open),
            (["--versio", "-h"], 1, re.escape(b"-h's"), cannot_open),
        ]
        tree = {"--help": GOOD, "--version": container(b"version"), "-h": container(b"-h's")}
        for args, status, out, err in rows:
            with self.subTest(args=args):
                self.setUp()
                before = self.laid(tree)
                got_status, got_out, got_err = self.run_prccat(args)
                self.assertEqual(got_status, status, (got_out[:100], got_err))
                self.assertRegex(got_out, re.compile(b"\\A" + out + b"\\Z"))
                self.assertRegex(got_err, re.compile(b"\\A" + err + b"\\Z"))
                self.assertUntouched(tree, before)
        help_out = self.run_prccat(["--help"])[1]
        self.assertNotIn(b"\n", help_out.replace(EOL, b""), "a help line without the platform's line end")

    def test_sample(self):
        if not EXAMPLES:
            self.skipTest("no --examples given")
        with open(os.path.join(EXAMPLES, "sample.PRC"), "rb") as f:
            sample = f.read()
        with open(os.path.join(EXAMPLES, "sample.txt"), "rb") as f:
            text = f.read()
        self.reads({"sample.PRC": sample}, ["sample.PRC"], 0, text, b"")

    def test_plain_through_mkprc_and_back(self):
        if not MKPRC:
            self.skipTest("no --mkprc given")
        rng = random.Random(22)
        for size in RoundTrip.SIZES:
            plain = rng.randbytes(size)
            with self.subTest(size=size):
                self.setUp()
                lay(self.root, {"P": plain})
                self.assertEqual(self.run_tool(["P", "X"], argv0="mkprc", tool=MKPRC), (0, b"", b""))
                self.reads({"P": plain, "X": container(plain)}, ["X"], 0, plain, b"")

    def test_full_output(self):
        if not os.path.exists("/dev/full"):
            self.skipTest("no /dev/full here")
        # A payload that cannot be written ends the run at once; an empty one writes nothing.
        tree = {"A": GOOD, "B": container(b"second"), "E": container(b"")}
        rows = [(["A"], 1, CANNOT_WRITE), (["A", "B"], 1, CANNOT_WRITE),
                (["absent", "A", "B"], 1, CANNOT_OPEN + EOL + CANNOT_WRITE),
                (["E"], 0, b""), (["E", "absent"], 1, CANNOT_OPEN)]
        for args, status, err in rows:
            with self.subTest(args=args):
                self.setUp()
                with open("/dev/full", "wb") as full:
                    self.reads(tree, args, status, None, err + EOL if err else b"", stdout=full)

    def test_reader_that_stops_early(self):
        # prccat F | head -c 10: the reader takes 10 bytes and closes the pipe. A broken
        # pipe's signal ends prccat as it ends cat; where it is ignored, or on Windows, the
        # write fails and prccat stops with status 1. Either way, nothing is said.
        plain = random.Random(23).randbytes(BUFFER - 4)
        rows = [(None, 1)] if not NATIVE else [(None, -signal.SIGPIPE), (signal.SIG_IGN, 1)]
        for action, status in rows:
            with self.subTest(sigpipe=action):
                self.setUp()
                tree = {"A": container(plain)}
                before = self.laid(tree)
                cmd, exe = PRCCAT + ["A", "A"], None
                if NATIVE:
                    cmd[0], exe = "prccat", PRCCAT[0]
                preexec = None if action is None else (lambda: signal.signal(signal.SIGPIPE, action))
                env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0", WINEDEBUG="-all")
                p = subprocess.Popen(cmd, executable=exe, cwd=self.root, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                                     preexec_fn=preexec)
                head = p.stdout.read(10)
                p.stdout.close()
                err = p.stderr.read()
                p.stderr.close()
                self.assertEqual((p.wait(timeout=60), head, err), (status, plain[:10], b""))
                self.assertUntouched(tree, before)

    @posix_only
    def test_a_locked_file_in_a_folder_nobody_may_write(self):
        # Another process's exclusive lock does not stop prccat; it takes none of its own,
        # writes nothing and opens the file alone, so a file that may only be read, in a
        # folder that may be entered but neither listed nor written, is enough; for mkprc's
        # PLAIN too. As root, whom no permission bits stop, it runs as another user.
        import fcntl
        tree = {"ro/A.PRC": GOOD}
        before = self.laid(tree)
        os.chmod(os.path.join(self.root, "ro/A.PRC"), 0o444)
        os.chmod(os.path.join(self.root, "ro"), 0o711)
        self.addCleanup(os.chmod, os.path.join(self.root, "ro"), 0o755)
        (tool, *mkprc), preexec = [PRCCAT] + [MKPRC] * bool(MKPRC), None
        if os.geteuid() == 0:
            os.chmod(self.root, 0o755)
            tool, *mkprc = self.copies_anyone_may_run(tool, *mkprc)

            def preexec():
                os.setgroups([])
                os.setgid(NOBODY)
                os.setuid(NOBODY)
        before = stamps(self.root)  # the modes were changed after laying
        with open(os.path.join(self.root, "ro/A.PRC"), "rb") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            got = self.run_prccat(["ro/A.PRC"], preexec=preexec, tool=tool)
            self.assertEqual(got, (0, RESTORED, b""))
            out = tempfile.mkdtemp(prefix="unprc-e2e-out-")
            self.addCleanup(shutil.rmtree, out)
            os.chmod(out, 0o777)
            for maker in mkprc:
                self.assertEqual(self.run_tool(["ro/A.PRC", out + "/OUT"], argv0="mkprc",
                                               preexec=preexec, tool=maker), (0, b"", b""))
                self.assertEqual(snapshot(out), {"OUT": container(GOOD)})
            # The lock was held throughout: a second exclusive one is refused.
            with open(os.path.join(self.root, "ro/A.PRC"), "rb") as again:
                with self.assertRaises(BlockingIOError):
                    fcntl.flock(again, fcntl.LOCK_EX | fcntl.LOCK_NB)
        self.assertUntouched(tree, before)


def keep_emulator_running(extra):
    """The emulator starts its services with the first program it runs, and they hold that
    program's output streams; when its last program ends it shuts them down, and the next
    program starts them afresh and is held three seconds after it ends. So a command
    interpreter that waits on its input keeps them running until every case is done, and
    a first run of the tool, on streams nobody waits on, waits for them to start. Returns
    the interpreter, for stop_emulator."""
    env = dict(os.environ, WINEDEBUG="-all", **extra)
    # A first run alone makes the prefix, should it be new, before anything else starts:
    # two programs making it at once may each say so on standard error.
    subprocess.run(TOOL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600, env=env)
    keeper = subprocess.Popen(TOOL[:-1] + ["cmd"], stdin=subprocess.PIPE,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    subprocess.run(TOOL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600, env=env)
    return keeper


def stop_emulator(keeper):
    keeper.stdin.close()
    keeper.wait(timeout=600)


def main():
    global TOOL, MKPRC, PRCCAT, NATIVE, EMULATOR, EOL, EXAMPLES, HELPER
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--mkprc", default="")
    parser.add_argument("--prccat", default="")
    parser.add_argument("--crlf", action="store_true")
    parser.add_argument("--emulator", default="")
    parser.add_argument("--examples")
    parser.add_argument("--windows-helper", default="")
    args, rest = parser.parse_known_args()
    TOOL = [os.path.abspath(w) if os.path.exists(w) else w for w in shlex.split(args.tool)]
    MKPRC = [os.path.abspath(w) if os.path.exists(w) else w for w in shlex.split(args.mkprc)]
    PRCCAT = [os.path.abspath(w) if os.path.exists(w) else w for w in shlex.split(args.prccat)]
    NATIVE = len(TOOL) == 1 and not args.crlf
    EMULATOR = shlex.split(args.emulator)
    EOL = b"\r\n" if args.crlf else b"\n"
    EXAMPLES = args.examples
    HELPER = [os.path.abspath(w) if os.path.exists(w) else w for w in shlex.split(args.windows_helper)]
    # Names reach the emulator as UTF-8; a terminal in this locale would show the messages.
    os.environ["LC_ALL"] = "C.UTF-8"
    keeper = None
    if not NATIVE:
        keeper = keep_emulator_running({})
    try:
        result = unittest.main(argv=[sys.argv[0]] + rest, verbosity=2, exit=False).result
    finally:
        if keeper:
            stop_emulator(keeper)
    if len(RETRIED) > 1:  # one is the most a loaded machine explains
        print(f"\nFAILED: {len(RETRIED)} runs under wine were made again", file=sys.stderr)
    sys.exit(not result.wasSuccessful() or len(RETRIED) > 1)


if __name__ == "__main__":
    main()
