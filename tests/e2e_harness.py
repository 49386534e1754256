"""What every end-to-end case stands on: the configuration the runner is given, the
message bytes, a model of the file format, the laying and comparing of folders, a fresh
scratch folder per case and per subtest, and the runs of the programs (under strace,
held at a call, on a terminal, or under wine, where a silent failure is run again)."""

import argparse, contextlib, glob, hashlib, os, pty, re, resource, select, shlex, shutil, socket
import stat, subprocess, sys, tempfile, time, unittest


class Config:
    """The runner's options, set by parse() before any case runs. `native` is false for a
    Windows build under an emulator. Besides FIFOs, sockets, permission bits and resource
    limits, the POSIX symbolic links the cases lay are then left out: the emulator shows such
    a link as the file it leads to, where Windows' own links are reparse points."""

    tool, mkprc, prccat, helper, emulator, native, eol, examples = [], [], [], [], [], True, b"\n", None
    retried = []  # the runs under wine that were made again (see run_process)

    def parse(self, argv):
        """Takes the runner's options from `argv`; returns the rest, for unittest."""
        parser = argparse.ArgumentParser()
        for option in ("--tool", "--mkprc", "--prccat", "--emulator", "--windows-helper", "--examples"):
            parser.add_argument(option, required=option == "--tool", default="")
        parser.add_argument("--crlf", action="store_true")
        args, rest = parser.parse_known_args(argv)

        def command(line):
            return [os.path.abspath(w) if os.path.exists(w) else w for w in shlex.split(line)]
        self.tool, self.mkprc, self.prccat = command(args.tool), command(args.mkprc), command(args.prccat)
        self.helper, self.emulator = command(args.windows_helper), shlex.split(args.emulator)
        self.native, self.eol = len(self.tool) == 1 and not args.crlf, b"\r\n" if args.crlf else b"\n"
        self.examples = args.examples or None
        return rest


cfg = Config()
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


def key_line(key):
    return b"decode key = 0x%04x ... " % key


GOOD = container(b"The quick brown fox.\n")
RESTORED, GOOD_KEY = restored(GOOD)
# Names outside code page 1252, or 932, or both; the second bytes of ソ and 表 in code page
# 932 are the backslash's.
WIDE_NAMES = ["\u30c7\u30fc\u30bf.PRC", "\u30bd\u30d5\u30c8.PRC", "\u8868.PRC", "\ud55c\uad6d\uc5b4.PRC",
              "\u041f\u0440\u0438\u0432\u0435\u0442.PRC", "\U0001F600.PRC"]
NOBODY = 65534  # the unprivileged user and group of Debian and most Linux systems


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
                tree[rel] = read(path)
            else:
                tree[rel] = Dir if stat.S_ISDIR(mode) else Fifo if stat.S_ISFIFO(mode) else Sock
    return tree


def snapshot_of(tree):
    """The snapshot a laid `tree` gives, its parent folders included."""
    out = {}
    for name, what in tree.items():
        parts = name.split("/")
        for i in range(1, len(parts)):
            out["/".join(parts[:i])] = Dir
        out[name] = what
    return out


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


def read(path):
    with open(path, "rb") as f:
        return f.read()


def limit(resource_id, value):
    """Sets a resource limit in the child. Signals keep their default actions there
    (subprocess restores SIGXFSZ, which Python itself ignores), so a tool that does not
    guard against the file-size limit is killed by it."""
    def apply():
        resource.setrlimit(resource_id, (value, value))
    return apply


def as_nobody(groups=()):
    """For preexec: runs the child as the unprivileged user, in `groups`."""
    def become():
        os.setgroups(list(groups))
        os.setgid(NOBODY)
        os.setuid(NOBODY)
    return become


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
        if not cfg.native:
            self.skipTest("needs a native POSIX tool")
        test(self)
    return run_if_native


def wine_env(extra):
    """This environment with wine's debugging output off, and `extra` laid over it."""
    return dict(os.environ, WINEDEBUG="-all", **extra)


def run_process(cmd, **run):
    """subprocess.run, but under wine a run that ended with status 1 and wrote nothing is
    made again, once, on the files laid afresh, and said so: every failure of these tools
    writes a message (prccat's reader gone cannot happen to a captured stream), and wine,
    loaded, now and then ends a program it could not start that way. A fault of the tool's
    own comes again. More than one such run fails the suite (see the runner)."""
    if cfg.native:
        return subprocess.run(cmd, **run)
    with tempfile.TemporaryDirectory(prefix="unprc-e2e-before-") as before:
        # With modes and extended attributes, where wine keeps marks and access lists.
        shutil.copytree(run["cwd"], before, symlinks=True, dirs_exist_ok=True)
        p = subprocess.run(cmd, **run)
        if p.returncode == 1 and not p.stdout and not p.stderr:
            cfg.retried.append(cmd[1:])
            print(f"\nnote: {cmd[1:]} ended with status 1 and no output; run again", file=sys.stderr)
            shutil.rmtree(run["cwd"])
            shutil.copytree(before, run["cwd"], symlinks=True)
            p = subprocess.run(cmd, **run)
    return p


def strace_injecting(root, names, call, inject, log=os.devnull):
    """The strace command line that fails or holds `call` as `inject` says, on the files of
    `names` in the folder `root` alone, by the name given and by the full path."""
    paths = [p for n in names for p in ("-P", n, "-P", os.path.join(root, n))]
    return ["strace", "-f", "-qqq", "-o", log, *paths, "-e", f"trace={call}",
            "-e", f"inject={call}:{inject}"]


# System-call numbers on x86-64, to see where a held run stands.
SYSCALL_NUMBERS = {"write": 1, "fchmod": 91, "fsync": 74, "flock": 73, "renameat2": 316,
                   "openat": 257, "renameat": 264}
FD_CALLS = ("write", "fchmod", "fsync", "flock")  # whose first argument is the file
O_CREAT = 0o100  # an openat that creates: its third argument's flag


class Case(unittest.TestCase):
    ENV = {}  # laid over the environment of every run

    def setUp(self):
        self.fresh_folder()

    def fresh_folder(self):
        """Makes an empty scratch folder the case's folder, removed when the case ends."""
        self.root = tempfile.mkdtemp(prefix="unprc-e2e-")
        self.addCleanup(shutil.rmtree, self.root)

    @contextlib.contextmanager
    def fresh_subtest(self, **params):
        """A subtest named by `params`, in a fresh folder of its own."""
        with self.subTest(**params):
            self.fresh_folder()
            yield

    def run_tool(self, args, argv0="unprc", prefix=(), merge=False, preexec=None, tool=None):
        tool = tool or cfg.tool
        cmd = list(prefix) + cfg.emulator + tool + list(args)
        exe = None
        if cfg.native and not prefix:
            if cfg.emulator:  # qemu's -0 sets the name the program is run by
                cmd[len(cfg.emulator):len(cfg.emulator)] = ["-0", argv0]
            else:
                cmd[0], exe = argv0, tool[0]
        env = dict(wine_env(self.ENV), ASAN_OPTIONS="detect_leaks=0")
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
        if not cfg.native or cfg.emulator:
            self.skipTest("needs strace of a native POSIX tool, not of an emulator running it")
        if numbers and elf_machine(cfg.tool[0]) != "x86-64":
            self.skipTest(f"reads x86-64 system-call numbers; the tool is {elf_machine(cfg.tool[0])}")
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
        self.check(tree, args, 1, b"", message + cfg.eol, snapshot_of(tree), **run)

    def restores(self, tree, name, original=None):
        """Runs on `name` and expects it restored, the original under the backup name, and
        everything else as it was."""
        data = tree[name] if original is None else original
        plain, key = restored(data)
        after = dict(snapshot_of(tree), **{name: plain, name + ".BAK": tree[name]})
        after.pop(name + ".$$$", None)
        self.check(tree, [name], 0, key_line(key) + b"OK." + cfg.eol, b"", after)

    def run_held(self, args, call, action, when=1, error=None, preexec=None, tool=None,
                 out=subprocess.PIPE):
        """Runs the tool under strace, held for two seconds on entry to its `when`th
        `call` on its own files (or, when the call is to fail with `error`, just after
        it failed); runs `action(pid)` while it is held; returns status and both
        streams."""
        self.need_strace(numbers=True)
        name = args[-1]
        log = os.path.join(self.root, "..", os.path.basename(self.root) + ".held")
        self.addCleanup(lambda: os.path.exists(log) and os.remove(log))
        hold = f"error={error}:delay_exit=2000000" if error else "delay_enter=2000000"
        cmd = strace_injecting(self.root, (name, name + ".$$$", name + ".BAK"), call,
                               f"when={when}:{hold}", log) + (tool or cfg.tool) + list(args)
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


def held_open(path):
    """Whether a process this user may look into has `path` open. Under wine its server
    keeps a descriptor of every file and folder a Windows program has open."""
    for fd in glob.glob("/proc/[0-9]*/fd/*"):
        try:
            if os.readlink(fd) == path:
                return True
        except OSError:  # gone, or not this user's
            pass
    return False


ESCAPE = rb"\x1b\[[0-9;?]*[A-Za-z]"  # a terminal's control sequence


def on_a_terminal(cmd, cwd, extra, enter_after=None):
    """Runs `cmd` with a terminal for its streams, so that the emulator gives it a console;
    with `enter_after`, presses Enter that many seconds after the run asks for it (and again
    each second, should the console not have been reading yet). Returns its status,
    everything it wrote (the terminal's escape sequences taken out) and whether it was
    still running when Enter was first pressed."""
    master, slave = pty.openpty()
    p = subprocess.Popen(cmd, cwd=cwd, stdin=slave, stdout=slave, stderr=slave,
                         env=dict(wine_env(extra), ASAN_OPTIONS="detect_leaks=0"))
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


def keep_emulator_running(extra):
    """The emulator starts its services with the first program it runs, and they hold that
    program's output streams; when its last program ends it shuts them down, and the next
    program starts them afresh and is held three seconds after it ends. So a command
    interpreter that waits on its input keeps them running until every case is done, and
    a first run of the tool, on streams nobody waits on, waits for them to start. Returns
    the interpreter, for stop_emulator."""
    env = wine_env(extra)
    # A first run alone makes the prefix, should it be new, before anything else starts:
    # two programs making it at once may each say so on standard error.
    subprocess.run(cfg.tool, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600, env=env)
    keeper = subprocess.Popen(cfg.tool[:-1] + ["cmd"], stdin=subprocess.PIPE,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    subprocess.run(cfg.tool, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600, env=env)
    return keeper


def stop_emulator(keeper):
    keeper.stdin.close()
    keeper.wait(timeout=600)
