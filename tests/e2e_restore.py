"""The restore, end to end: unprc's refusals before the key, the files it restores and
how, its options and names like them, and the failures after the key."""

import itertools, os, random, re, resource, stat, sys

from e2e_harness import (ABNORMAL, BACKUP_EXISTS, BUFFER, CANNOT_OPEN, CANNOT_WRITE, GOOD, GOOD_KEY,
                         NO_MEMORY, OUTPUT_EXISTS, RESTORED, WIDE_NAMES, Case, Dir, Fifo, Link, Sock,
                         cfg, container, key_line, lay, limit, on_a_terminal, posix_only, read, restored,
                         snapshot, snapshot_of, strace_injecting)

LONG = "d" * 200 + "/" + "e" * 200 + "/" + "f" * 240 + ".PRC"  # 645 bytes


class Refusals(Case):
    """Failures found before the key is printed: nothing printed on standard output and
    nothing on disk created, moved or changed."""

    def test_argument_count(self):
        for args in ([], ["A.PRC", "A.PRC"], ["A.PRC", "B", "C"]):
            with self.fresh_subtest(args=args):
                if cfg.native:
                    self.refused({"A.PRC": GOOD}, args, b"Usage: unprc (.PRC File)")
                else:  # an emulator passes the program's full path as its name
                    lay(self.root, {"A.PRC": GOOD})
                    status, out, err = self.run_tool(args)
                    self.assertEqual((status, out), (1, b""))
                    self.assertRegex(err, rb"^Usage: \S*unprc\.exe \(\.PRC File\)\r\n$")
                    self.assertTree({"A.PRC": GOOD})

    def test_usage_names_program_as_invoked(self):
        if cfg.native:
            self.refused({}, [], b"Usage: ./bin/x (.PRC File)", argv0="./bin/x")
            self.assertRegex(self.run_tool(["--version"], argv0="./bin/x")[1], rb"^unprc \d+\.\d+\.\d+\n$")

    @posix_only
    def test_empty_argument_vector_names_the_tool(self):
        # An exec with no arguments at all, not even a program name.
        if cfg.emulator:
            self.skipTest("the emulator needs its own arguments to start the tool")
        code = ("import ctypes,sys; libc=ctypes.CDLL(None); "
                "libc.execve(sys.argv[1].encode(), (ctypes.c_char_p*1)(None), None); sys.exit(9)")
        got = self.run_tool([], prefix=[sys.executable, "-c", code])
        self.assertEqual(got, (1, b"", b"Usage: unprc (.PRC File)\n"))

    def test_cannot_open(self):
        rows = [({}, "A.PRC"), ({}, "-h"), ({"D": Dir}, "D"), ({}, "NUL")]
        if cfg.native:
            rows += [({"F": Fifo}, "F"), ({"S": Sock}, "S"), ({}, "/dev/null"),
                     ({"A.PRC": Link("gone")}, "A.PRC")]
        for tree, name in rows:
            with self.fresh_subtest(name=name, tree=tree):
                self.refused(tree, [name], CANNOT_OPEN)
        self.assertFalse(os.path.lexists("/dev/null.BAK") or os.path.lexists("/dev/null.$$$"))

    def test_abnormal(self):
        rows = [b"", b"\x04", b"\x04\x00", b"\x04\x00\x00",
                container(b"", 1048573), container(b"xy", 0xFFFFFFFF),
                container(b"", 16 << 16), container(b"", (15 << 16) + 65533)]
        for data in rows:
            with self.fresh_subtest(data=data[:8]):
                self.refused({"A.PRC": data}, ["A.PRC"], ABNORMAL)

    @posix_only
    def test_no_memory(self):
        # The smallest address-space limit, in 256 KiB steps, under which the tool starts
        # leaves too little for the 1 MiB buffer.
        for step in range(4, 256):
            got = self.run_tool(["absent"], preexec=limit(resource.RLIMIT_AS, step << 18))
            if got == (1, b"", CANNOT_OPEN + cfg.eol):
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
        rows = [(cfg.tool, {}, ["absent"], CANNOT_OPEN), (cfg.mkprc, {"P": b"", "X": b""}, ["P", "X"], OUTPUT_EXISTS),
                (cfg.prccat, {"A": b"\x04"}, ["A"], ABNORMAL)]
        utf8 = {"LANG": "C.UTF-8", "LC_ALL": "", "LC_CTYPE": ""}
        locales = [(utf8, True), (dict(utf8, LANG="C"), False), (dict(utf8, LC_CTYPE="ja_JP.SJIS"), False),
                   (dict(utf8, LANG="C", LC_CTYPE="en_US.Utf8@euro"), True)] if cfg.native else [(utf8, True)]
        pages = [] if cfg.native else ["437", "1252"]  # a console's, under wine
        starts = [cfg.tool[:-1] + ["cmd", "/c", "chcp", page, ">nul", "&"] for page in pages] or [cfg.emulator]
        for (tool, tree, args, message), (env, shown), start in itertools.product(
                [row for row in rows if row[0]], locales, starts):
            with self.fresh_subtest(cmd=start + tool[-1:] + args, env=env):
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
            with self.fresh_subtest(size=len(data), head=data[:8]):
                self.restores({"A.PRC": data}, "A.PRC")

    def test_names(self):
        names = ["data.bin", "-h", "sub/dir/A.PRC", "with space.PRC", "\u00e9\u00df.PRC", "-x .PRC",
                 LONG]
        # Names in bytes that are no UTF-8 exist only on POSIX; Windows names are UTF-16,
        # and take characters outside any one code page.
        names += [os.fsdecode(b"\x83t\x83@\x83C\x83\x8b.PRC")] if cfg.native else WIDE_NAMES
        for name in names:
            with self.fresh_subtest(name=name):
                self.restores({name: GOOD}, name)

    def test_leftover_temp_file_is_rewritten(self):
        self.restores({"A.PRC": GOOD, "A.PRC.$$$": b"stale output, longer than the new"}, "A.PRC")

    def test_sample(self):
        if cfg.examples:
            sample = read(os.path.join(cfg.examples, "sample.PRC"))
            self.assertEqual(restored(sample)[0], read(os.path.join(cfg.examples, "sample.txt")))
            self.restores({"sample.PRC": sample}, "sample.PRC")

    @posix_only
    def test_symbolic_link_is_refused(self):
        # A link is not the file to replace: refused before anything is read or made,
        # whatever it leads to. A link in the folder part of the path is followed.
        for tree in ({"A.PRC": Link("real.PRC"), "real.PRC": GOOD},
                     {"A.PRC": Link("d/real.PRC"), "d/real.PRC": GOOD},
                     {"A.PRC": Link("nowhere")},
                     {"A.PRC": Link("A.PRC.$$$"), "A.PRC.$$$": GOOD}):
            with self.fresh_subtest(tree=tree):
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
                   key_line(GOOD_KEY) + b"OK." + cfg.eol, b"",
                   {"real": Dir, "real/A.PRC": RESTORED, "real/A.PRC.BAK": GOOD, "via": Link("real")})

    @posix_only
    def test_permission_bits_are_kept(self):
        # The restored file takes the permission bits, never set-user-ID, set-group-ID or
        # sticky; the backup is the original itself, so it keeps all of its mode.
        for mode, want in ((0o600, 0o600), (0o640, 0o640), (0o644, 0o644), (0o755, 0o755),
                           (0o400, 0o400), (0o4755, 0o755), (0o2750, 0o750), (0o1644, 0o644)):
            with self.fresh_subtest(mode=oct(mode)):
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
        eol = re.escape(cfg.eol)
        usage = rb"Usage: (unprc|\S*unprc\.exe) \(\.PRC File\)" + eol
        help_text = usage + rb"Restores a scrambled \.PRC file in place(.|\n)*--version .*" + eol + rb"(.|\n)*"
        version = rb"unprc [0-9]+\.[0-9]+\.[0-9]+" + eol
        restored_help = {"--help": RESTORED, "--help.BAK": GOOD}
        key_ok = re.escape(key_line(GOOD_KEY) + b"OK." + cfg.eol)
        cannot_open = re.escape(CANNOT_OPEN + cfg.eol)
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
            with self.fresh_subtest(args=args):
                lay(self.root, tree)
                got_status, got_out, got_err = self.run_tool(args)
                self.assertEqual(got_status, status)
                self.assertRegex(got_out, re.compile(b"\\A" + out + b"\\Z"))
                self.assertRegex(got_err, re.compile(b"\\A" + err + b"\\Z"))
                # Every line ends with the platform's line end, the help's too.
                self.assertNotIn(b"\n", got_out.replace(cfg.eol, b"").replace(key_line(GOOD_KEY), b""))
                self.assertEqual(snapshot(self.root), after)


class SwapFailures(Case):
    """Failures after the key is printed: status 1, no "OK.", and the scrambled bytes
    whole under the input's name (or, at worst, the backup name)."""

    def failed(self, tree, message, after, args=("A.PRC",), **run):
        self.check(tree, list(args), 1, key_line(GOOD_KEY), message + cfg.eol, snapshot_of(after), **run)

    def test_backup_name_taken(self):
        for held in (b"old backup", Dir) + cfg.native * (Link("nowhere"), Link("A.PRC")):
            with self.fresh_subtest(held=held):
                tree = {"A.PRC": GOOD, "A.PRC.BAK": held}
                self.failed(tree, BACKUP_EXISTS, dict(tree, **{"A.PRC.$$$": RESTORED}))

    def test_key_shows_before_a_later_error(self):
        lay(self.root, {"A.PRC": GOOD, "A.PRC.BAK": b"old"})
        self.assertEqual(self.run_tool(["A.PRC"], merge=True),
                         (1, key_line(GOOD_KEY) + BACKUP_EXISTS + cfg.eol, b""))

    def test_temp_name_held_by_something_else(self):
        rows = [Dir] + cfg.native * [Link("victim"), Link("nowhere"), Fifo]
        for held in rows:
            with self.fresh_subtest(held=held):
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
            with self.fresh_subtest(cap=cap):
                after = {"A.PRC": plain, "A.PRC.BAK": data} if ok else {"A.PRC": data}
                out, err = (key + b"OK." + cfg.eol, b"") if ok else (key, CANNOT_WRITE + cfg.eol)
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
            with self.fresh_subtest(call=call, when=when):
                strace = strace_injecting(self.root, ["A.PRC", "A.PRC.$$$", "A.PRC.BAK"], call,
                                          f"error={errno}:when={when}")
                self.failed({"A.PRC": GOOD}, CANNOT_WRITE, after, prefix=strace)
