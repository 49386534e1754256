"""mkprc and prccat, end to end: mkprc and unprc undo each other byte for byte, and prccat
writes each file's payload and touches nothing in the folder."""

import fcntl, os, random, re, shutil, signal, stat, subprocess, tempfile

from e2e_harness import (ABNORMAL, BUFFER, CANNOT_OPEN, CANNOT_WRITE, GOOD, OUTPUT_EXISTS, RESTORED,
                         Case, Dir, Fifo, Link, Sock, as_nobody, cfg, container, key_line, lay, posix_only,
                         read, restored, run_process, snapshot, snapshot_of, strace_injecting)

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


class ProgramCase(Case):
    """A case that runs mkprc or prccat, and sees that prccat left the folder untouched."""

    def run_mkprc(self, args, **run):
        return self.run_tool(args, argv0="mkprc", tool=cfg.mkprc, **run)

    def run_prccat(self, args, stdin=b"", merge=False, stdout=subprocess.PIPE, preexec=None,
                   tool=None):
        tool = tool or cfg.prccat
        cmd, exe = tool + list(args), None
        if cfg.native:
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


class RoundTrip(ProgramCase):
    """mkprc PLAIN OUT, unprc's way back: each tool undoes the other byte for byte, and
    a refused mkprc leaves the folder as it was."""

    def setUp(self):
        if not cfg.mkprc:
            self.skipTest("no --mkprc given")
        super().setUp()

    SIZES = (0, 1, 2, 3, 4, 5, 6, 7, 999, 1000, 65535, 65536, 65537, BUFFER - 5, BUFFER - 4)

    def test_plain_through_mkprc_and_back(self):
        rng = random.Random(12)
        for size in self.SIZES:
            plain = rng.randbytes(size)
            with self.fresh_subtest(size=size):
                lay(self.root, {"P": plain})
                self.assertEqual(self.run_mkprc(["P", "X"]), (0, b"", b""))
                made = container(plain)
                self.assertTree({"P": plain, "X": made})
                if cfg.prccat:  # prccat reads the plain back, the folder untouched
                    self.reads({"P": plain, "X": made}, ["X"], 0, plain, b"")
                self.assertEqual(self.run_tool(["X"]), (0, key_line(restored(made)[1]) + b"OK." + cfg.eol, b""))
                self.assertTree({"P": plain, "X": plain, "X.BAK": made})
        if not cfg.prccat:
            self.skipTest("no --prccat given: prccat's reads were left out")

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
            with self.fresh_subtest(size=size):
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
        if cfg.native:
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
            with self.fresh_subtest(args=args, tree=sorted(tree)):
                lay(self.root, tree)
                self.assertEqual(self.run_mkprc(args), (1, b"", message + cfg.eol))
                self.assertTree(snapshot_of(tree))

    def test_usage_help_and_version(self):
        usage = rb"Usage: \S*mkprc(\.exe)? \(Plain File\) \(\.PRC File\)" + cfg.eol
        status, out, err = self.run_mkprc(["P"])
        self.assertEqual((status, out), (1, b""))
        self.assertRegex(err, b"^" + usage + b"$")
        status, out, err = self.run_mkprc(["--help"])
        self.assertEqual((status, err), (0, b""))
        self.assertRegex(out, b"^" + usage + b"(.*" + cfg.eol + b")+$")
        status, out, err = self.run_mkprc(["--version"])
        self.assertEqual((status, err), (0, b""))
        self.assertRegex(out, rb"^mkprc \d+\.\d+\.\d+" + cfg.eol + b"$")
        self.assertEqual(snapshot(self.root), {})

    @posix_only
    def test_permission_bits_come_from_plain(self):
        for mode in (0o600, 0o640, 0o755, 0o400):
            with self.fresh_subtest(mode=oct(mode)):
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
            with self.fresh_subtest(call=call, names=names, errno=errno):
                strace = strace_injecting(self.root, names, call, f"error={errno}:when={when}")
                self.check({"P": b"plain text"}, ["P", "X"], 1, b"", message + cfg.eol,
                           {"P": b"plain text"}, prefix=strace, tool=cfg.mkprc)


class Reader(ProgramCase):
    """prccat FILE...: each file's payload on standard output, in order, exactly the bytes
    unprc would leave in it; a file that cannot be read reported in its turn and skipped;
    and nothing in the folder created, changed, renamed or locked."""

    def setUp(self):
        if not cfg.prccat:
            self.skipTest("no --prccat given")
        super().setUp()

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
                with self.fresh_subtest(size=len(data), head=data[:8].hex(), args=args):
                    self.reads({"A.PRC": data}, args, 0, payload, b"", stdin=stdin)
            self.assertEqual(self.run_tool(["A.PRC"])[0], 0)
            self.assertEqual(read(os.path.join(self.root, "A.PRC")), payload, "unprc leaves other bytes")

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
            with self.fresh_subtest(args=args):
                self.reads(tree, args, 0, b"".join(payloads[a] for a in args), b"", stdin=stdin)

    def test_standard_input(self):
        full = container(random.Random(21).randbytes(BUFFER - 4))
        rows = [  # arguments, standard input, status, output, errors
            ([], full + b"x" * 5000, 0, restored(full)[0], b""),
            (["-"], b"", 1, b"", ABNORMAL + cfg.eol),
            ([], b"\x04\x00\x00", 1, b"", ABNORMAL + cfg.eol),
            (["-", "-"], GOOD, 1, RESTORED, ABNORMAL + cfg.eol),  # the second finds it ended
            (["A", "-", "A"], container(b"in"), 0, RESTORED + b"in" + RESTORED, b""),
            (["-", "-"], GOOD + container(b"next"), 0, RESTORED + b"next", b""),  # one each
        ] + cfg.native * [(["A"], b"", 1, b"", CANNOT_WRITE + cfg.eol, 1),  # standard output closed
                      (["-"], b"", 1, b"", CANNOT_OPEN + cfg.eol, 0)]  # standard input closed
        for args, stdin, status, out, err, *closed in rows:
            with self.fresh_subtest(args=args, stdin=len(stdin), closed=closed):
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
        if cfg.native:
            bad += [({"F": Fifo}, "F", CANNOT_OPEN), ({"S": Sock}, "S", CANNOT_OPEN),
                    ({"L": Link("gone")}, "L", CANNOT_OPEN), ({}, "/dev/null", CANNOT_OPEN)]
        good = {"A": GOOD, "B": container(b"second")}
        for tree, name, message in bad:
            with self.fresh_subtest(name=name, tree=sorted(tree)):
                self.reads(dict(good, **tree), ["A", name, "B"], 1, RESTORED + b"second",
                           message + cfg.eol)
        # All in one run, standard error merged into standard output: each message comes in
        # its file's turn.
        self.fresh_folder()
        tree, args, out = dict(good), [], b""
        for i, (laid, name, message) in enumerate(bad):
            tree.update({f"{i}/{n}": w for n, w in laid.items()})
            args += ["A", f"{i}/{name}" if laid else name]
            out += RESTORED + message + cfg.eol
        self.reads(tree, args + ["B"], 1, out + b"second", b"", merge=True)

    def test_symbolic_links_are_read_through(self):
        if not cfg.native:
            self.skipTest("needs POSIX symbolic links")
        tree = {"real/A.PRC": GOOD, "A.PRC": Link("real/A.PRC"), "via": Link("real")}
        self.reads(tree, ["A.PRC", "via/A.PRC"], 0, RESTORED * 2, b"")

    def test_options_and_names_like_them(self):
        eol = re.escape(cfg.eol)
        usage = rb"Usage: (prccat|\S*prccat\.exe) \[FILE\]\.\.\." + eol
        help_text = usage + rb"Writes each FILE's restored payload(.|\n)*--version .*" + eol + rb"(.|\n)*"
        version = rb"prccat [0-9]+\.[0-9]+\.[0-9]+" + eol
        cannot_open = re.escape(CANNOT_OPEN + cfg.eol)
        rows = [  # arguments, then status, standard output and standard error (patterns)
            (["--help"], 0, help_text, b""),
            (["--version"], 0, version, b""),
            (["./--help"], 0, re.escape(RESTORED), b""),
            (["-h"], 0, re.escape(b"-h's"), b""),
            (["--help", "--version"], 0, re.escape(RESTORED + b"version"), b""),
            # Windows names ignore case: there --HELP is the file --help, still no option.
            (["--HELP"], 1, b"", cannot_open) if cfg.native else (["--HELP"], 0, re.escape(RESTORED), b""),
            (["--help=1"], 1, b"", cannot_open),
            (["-V"], 1, b"", cannot_open),
            (["--versio", "-h"], 1, re.escape(b"-h's"), cannot_open),
        ]
        tree = {"--help": GOOD, "--version": container(b"version"), "-h": container(b"-h's")}
        for args, status, out, err in rows:
            with self.fresh_subtest(args=args):
                before = self.laid(tree)
                got_status, got_out, got_err = self.run_prccat(args)
                self.assertEqual(got_status, status, (got_out[:100], got_err))
                self.assertRegex(got_out, re.compile(b"\\A" + out + b"\\Z"))
                self.assertRegex(got_err, re.compile(b"\\A" + err + b"\\Z"))
                self.assertUntouched(tree, before)
        help_out = self.run_prccat(["--help"])[1]
        self.assertNotIn(b"\n", help_out.replace(cfg.eol, b""), "a help line without the platform's line end")

    def test_sample(self):
        if not cfg.examples:
            self.skipTest("no --examples given")
        sample, text = (read(os.path.join(cfg.examples, n)) for n in ("sample.PRC", "sample.txt"))
        self.reads({"sample.PRC": sample}, ["sample.PRC"], 0, text, b"")

    def test_full_output(self):
        if not os.path.exists("/dev/full"):
            self.skipTest("no /dev/full here")
        # A payload that cannot be written ends the run at once; an empty one writes nothing.
        tree = {"A": GOOD, "B": container(b"second"), "E": container(b"")}
        rows = [(["A"], 1, CANNOT_WRITE), (["A", "B"], 1, CANNOT_WRITE),
                (["absent", "A", "B"], 1, CANNOT_OPEN + cfg.eol + CANNOT_WRITE),
                (["E"], 0, b""), (["E", "absent"], 1, CANNOT_OPEN)]
        for args, status, err in rows:
            with self.fresh_subtest(args=args):
                with open("/dev/full", "wb") as full:
                    self.reads(tree, args, status, None, err + cfg.eol if err else b"", stdout=full)

    def test_reader_that_stops_early(self):
        # prccat F | head -c 10: the reader takes 10 bytes and closes the pipe. A broken
        # pipe's signal ends prccat as it ends cat; where it is ignored, or on Windows, the
        # write fails and prccat stops with status 1. Either way, nothing is said.
        plain = random.Random(23).randbytes(BUFFER - 4)
        rows = [(None, 1)] if not cfg.native else [(None, -signal.SIGPIPE), (signal.SIG_IGN, 1)]
        for action, status in rows:
            with self.fresh_subtest(sigpipe=action):
                tree = {"A": container(plain)}
                before = self.laid(tree)
                cmd, exe = cfg.prccat + ["A", "A"], None
                if cfg.native:
                    cmd[0], exe = "prccat", cfg.prccat[0]
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
        tree = {"ro/A.PRC": GOOD}
        before = self.laid(tree)
        os.chmod(os.path.join(self.root, "ro/A.PRC"), 0o444)
        os.chmod(os.path.join(self.root, "ro"), 0o711)
        self.addCleanup(os.chmod, os.path.join(self.root, "ro"), 0o755)
        (tool, *mkprc), preexec = [cfg.prccat] + [cfg.mkprc] * bool(cfg.mkprc), None
        if os.geteuid() == 0:
            os.chmod(self.root, 0o755)
            tool, *mkprc = self.copies_anyone_may_run(tool, *mkprc)
            preexec = as_nobody()
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
