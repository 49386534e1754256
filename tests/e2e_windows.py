"""The Windows build under wine, end to end: names in any script, in code pages 1252 and
932; marks and access lists; files and folders held by others; Ctrl+C; a dropped file."""

import os, shutil, subprocess, tempfile, time, unittest

from e2e_harness import (CANNOT_OPEN, CANNOT_WRITE, GOOD, GOOD_KEY, RESTORED, WIDE_NAMES, Case, Dir, cfg,
                         container, held_open, keep_emulator_running, key_line, lay, on_a_terminal,
                         snapshot, stop_emulator, wine_env)


class WindowsCase(Case):
    """A case of the Windows build run under wine, with its helper program at hand."""

    def setUp(self):
        if cfg.native or cfg.emulator:
            self.skipTest("needs the Windows build under wine")
        super().setUp()

    def helper(self, *args):
        """Runs windows_helper; its output, stripped."""
        if not cfg.helper:
            self.skipTest("no --windows-helper given")
        p = subprocess.run(cfg.helper + list(args), cwd=self.root, stdin=subprocess.DEVNULL,
                           capture_output=True, env=wine_env(self.ENV), timeout=60)
        self.assertEqual(p.returncode, 0, (args, p.stderr))
        return p.stdout.decode().strip()


class WindowsNames(WindowsCase):
    """The Windows build's names as Windows users give them: in any script and of any
    length, however typed, in the code page of the default wine prefix."""

    CODEPAGE = "cp1252"  # the default prefix's

    def test_names_outside_the_code_page_and_the_look_alikes(self):
        # A look-alike is its own file: the system's nearest letters name another.
        for name, other in [(n, None) for n in WIDE_NAMES] + [("\uff21\uff22\uff23.PRC", "ABC.PRC")]:
            with self.fresh_subtest(name=name):
                tree = {name: GOOD}
                if other:
                    tree[other] = container(b"another file")
                self.restores(tree, name)
                if cfg.mkprc:  # and back, into a new file of such a name
                    self.assertEqual(self.run_tool([name, "2" + name], tool=cfg.mkprc), (0, b"", b""))
                    self.assertEqual(snapshot(self.root)["2" + name], GOOD)

    def test_program_name_in_the_code_page(self):
        # The usage line shows the program's name as the code page spells it, as before.
        exe = os.path.join(self.root, "\u8868.exe")
        shutil.copy(cfg.tool[-1], exe)
        status, out, err = self.run_tool([], tool=cfg.tool[:-1] + [exe])
        shown = ("Z:" + exe.replace("/", "\\")).encode(self.CODEPAGE, errors="replace")
        self.assertEqual((status, out, err), (1, b"", b"Usage: " + shown + b" (.PRC File)" + cfg.eol))

    def test_side_files_are_spelled_from_the_name_as_stored(self):
        long_name = "a long name of the file.PRC"
        lay(self.root, {long_name: GOOD})
        short = self.helper("short", long_name)
        self.assertNotEqual(short, long_name)
        rows = [(short, long_name), ("A.PRC.", "A.PRC"), ("A.PRC . .", "A.PRC"), ("a.prc", "A.PRC")]
        for typed, stored in rows:
            with self.fresh_subtest(typed=typed):
                tree = {stored: GOOD}
                self.check(tree, [typed], 0, key_line(GOOD_KEY) + b"OK." + cfg.eol, b"",
                           {stored: RESTORED, stored + ".BAK": GOOD})

    def test_a_wildcard_in_a_name_matches_nothing(self):
        # "?" and "*", and the system's own ">", "<" and '"', are never matched against the
        # folder: no file of such a name can exist, so nothing is there to open.
        for typed in ("A.PR?", "A*", "A.PR>", "A<.PRC", 'A"PRC'):
            for tool, argv0 in ((None, None),) + (((cfg.prccat, "prccat"),) if cfg.prccat else ()):
                with self.fresh_subtest(typed=typed, tool=argv0 or "unprc"):
                    run = {"tool": tool, "argv0": argv0} if tool else {}
                    self.refused({"A.PRC": GOOD}, [typed], CANNOT_OPEN, **run)

    def test_streams_are_refused(self):
        self.refused({"A.PRC": GOOD}, ["A.PRC:s"], CANNOT_OPEN)
        self.refused({"A.PRC": GOOD}, ["A.PRC::$DATA"], CANNOT_OPEN)
        if cfg.mkprc:
            for out in ("A.PRC:s", "B.PRC:s"):
                with self.fresh_subtest(out=out):
                    self.refused({"A.PRC": GOOD, "p": b"plain"}, ["p", out], CANNOT_WRITE,
                                 tool=cfg.mkprc, argv0="mkprc")


class Windows(WindowsCase):
    """The rest of the Windows build as Windows users meet it: the read-only and hidden
    marks and the access list; another process holding a file or the folder; Ctrl+C; a
    file dropped on the program."""

    def test_read_only_and_hidden_marks_and_access_are_carried(self):
        # Wine gives a file the access list its mode says, and keeps a list that is set.
        read_only, hidden = 0x1, 0x2
        for marks, mode in ((0, 0o600), (read_only, 0o640), (hidden, 0o644),
                            (read_only | hidden, 0o600)):
            with self.fresh_subtest(marks=marks, mode=oct(mode)):
                # A leftover temporary file with the marks too: it is removed all the same.
                lay(self.root, {"A.PRC": GOOD, "A.PRC.$$$": b"left", "p": b"plain"})
                for name in ("A.PRC", "A.PRC.$$$", "p"):
                    os.chmod(os.path.join(self.root, name), mode)
                    self.helper("set-attributes", name, "%x" % marks)
                self.assertEqual(self.run_tool(["A.PRC"]), (0, key_line(GOOD_KEY) + b"OK." + cfg.eol, b""))
                self.assertEqual(self.run_tool(["p", "B.PRC"], tool=cfg.mkprc), (0, b"", b""))
                self.assertTree({"A.PRC": RESTORED, "A.PRC.BAK": GOOD, "p": b"plain",
                                 "B.PRC": container(b"plain")})
                for name in ("A.PRC", "A.PRC.BAK", "B.PRC"):
                    self.assertEqual(self.helper("attributes", name), "0x%X" % marks, name)
                for made, like in (("A.PRC", "A.PRC.BAK"), ("B.PRC", "p")):
                    self.assertEqual(self.helper("access", made), self.helper("access", like), made)

    def test_a_file_held_for_a_moment_by_another_process(self):
        if not cfg.helper:
            self.skipTest("no --windows-helper given")
        original, swapped = {"A.PRC": GOOD}, {"A.PRC": RESTORED, "A.PRC.BAK": GOOD}
        ok = (0, key_line(GOOD_KEY) + b"OK." + cfg.eol, b"")
        rows = [  # held, for how long, by a scanner during the run (else from before it),
            # what the run says, and the files after
            ("A.PRC", 1000, False, ok, swapped),
            ("A.PRC.$$$", 1000, False, ok, swapped),
            # Held past the tries: the input is not opened, and nothing is made.
            ("A.PRC", 4000, False, (1, b"", CANNOT_OPEN + cfg.eol), original),
            # A scanner that opens the temporary file the moment it can never gets it: the
            # run holds it from its creation to its move, which it cannot make wait.
            ("A.PRC.$$$", 3000, True, ok, swapped),
        ]
        for held, milliseconds, scanner, outcome, after in rows:
            with self.fresh_subtest(held=held, milliseconds=milliseconds, scanner=scanner):
                lay(self.root, dict(original, **{"A.PRC.$$$": b"left"})
                    if held == "A.PRC.$$$" and not scanner else original)
                if scanner:
                    got = self.helper("scan", held, str(milliseconds), cfg.tool[-1], "A.PRC")
                    status, out, _ = outcome
                    self.assertEqual(got, (out + b"0x%08X" % status + cfg.eol + b"held 0").decode())
                    self.assertTree(after)
                    continue
                holder = subprocess.Popen(cfg.helper + ["hold", held, str(milliseconds)], cwd=self.root,
                                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                          env=wine_env(self.ENV))
                self.addCleanup(holder.stdout.close)
                self.addCleanup(holder.wait, 60)
                self.assertEqual(holder.stdout.readline().strip(), b"held")
                self.assertEqual(self.run_tool(["A.PRC"]), outcome)
                holder.wait(60)
                self.assertTree(after)

    def test_the_folder_is_held_for_the_whole_run(self):
        # While the run waits to open its input (another process holds the file), another
        # program cannot rename or remove the folder the run works in.
        if not cfg.helper:
            self.skipTest("no --windows-helper given")
        lay(self.root, {"sub/A.PRC": GOOD})
        env = wine_env(self.ENV)
        holder = subprocess.Popen(cfg.helper + ["hold", "sub/A.PRC", "1500"], cwd=self.root,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, env=env)
        with holder:
            self.assertEqual(holder.stdout.readline().strip(), b"held")
            run = subprocess.Popen(cfg.tool + ["sub/A.PRC"], cwd=self.root, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
            # The run opens its folder before its input, and holds it from then on.
            folder, deadline = os.path.realpath(os.path.join(self.root, "sub")), time.monotonic() + 30
            while not held_open(folder):
                self.assertIsNone(run.poll(), "the run ended before it held its folder")
                self.assertLess(time.monotonic(), deadline, "the run never held its folder")
                time.sleep(0.01)
            moved = subprocess.run(cfg.helper + ["move", "sub", "moved"], cwd=self.root,
                                   stdin=subprocess.DEVNULL, capture_output=True, env=env)
            out, err = run.communicate(timeout=60)
        self.assertEqual((run.returncode, out, err), (0, key_line(GOOD_KEY) + b"OK." + cfg.eol, b""))
        self.assertEqual(moved.returncode, 1, moved.stdout)
        self.assertTree({"sub": Dir, "sub/A.PRC": RESTORED, "sub/A.PRC.BAK": GOOD})

    def test_ctrl_c_while_the_run_waits_ends_it_at_once(self):
        # Another process holds a file, so the run is trying again when Ctrl+C comes: the
        # leftover temporary file's removal, or the input's open. No other process can make
        # the moves themselves wait, so none can hold a run there for an event to come.
        if not cfg.helper:
            self.skipTest("no --windows-helper given")
        rows = [  # held, what is laid, the files after
            ("A.PRC.$$$", {"A.PRC": GOOD, "A.PRC.$$$": b"left"}, {"A.PRC": GOOD, "A.PRC.$$$": b"left"}),
            ("A.PRC", {"A.PRC": GOOD}, {"A.PRC": GOOD}),
        ]
        for held, tree, after in rows:
            with self.fresh_subtest(held=held):
                lay(self.root, tree)
                status, out, _ = on_a_terminal(cfg.helper + ["interrupt", held, "1000", "500"] +
                                               cfg.tool[-1:] + ["A.PRC"], self.root, self.ENV)
                self.assertEqual(status, 0, out)
                self.assertNotIn(b"OK.", out)
                self.assertIn(b"0xC000013A", out)  # the status a Ctrl+C gives
                self.assertTree(after)

    def test_a_dropped_file_waits_for_enter_only_alone_on_its_console(self):
        after = {"A.PRC": RESTORED, "A.PRC.BAK": GOOD}
        # Alone on a console whose input it reads: the prompt, then a wait for Enter.
        lay(self.root, {"A.PRC": GOOD})
        status, out, waited = on_a_terminal(cfg.tool + ["A.PRC"], self.root, self.ENV, enter_after=2)
        self.assertEqual((status, waited), (0, True), out)
        self.assertIn(b"OK.", out)
        self.assertIn(b"PressEntertoclosethiswindow.", out.replace(b" ", b""))
        self.assertTree(after)
        # Started from a console's own command interpreter: no prompt, no wait.
        self.fresh_folder()
        lay(self.root, {"A.PRC": GOOD})
        status, out, _ = on_a_terminal(cfg.tool[:-1] + ["cmd", "/c", cfg.tool[-1], "A.PRC"], self.root,
                                       self.ENV)
        self.assertEqual(status, 0, out)
        self.assertNotIn(b"Enter", out)
        self.assertTree(after)
        # On a console without a window, as Task Scheduler starts it: nobody could press Enter.
        self.fresh_folder()
        lay(self.root, {"A.PRC": GOOD})
        self.assertEqual(self.helper("hidden", cfg.tool[-1], "A.PRC"), "0x00000000")
        self.assertTree(after)


class WindowsCodePage932(WindowsNames):
    """The same names, in a wine prefix of its own whose code page is 932, as on a
    Japanese Windows: there the second byte of ソ and 表 is the backslash's."""

    CODEPAGE = "cp932"

    @classmethod
    def setUpClass(cls):
        if cfg.native or cfg.emulator:
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
