"""Races, end to end: a run held under strace at one of its calls while a signal comes,
a reader goes, another run restores the file, or another process swaps a name or folder."""

import os, signal

from e2e_harness import (CANNOT_OPEN, CANNOT_WRITE, GOOD, GOOD_KEY, RESTORED, Case, Dir, Link, cfg,
                         container, key_line, lay)


class Races(Case):
    """What another process or a signal does while the tool runs: the scrambled bytes stay
    whole, nothing is moved that the run did not read or write, and a failure leaves the
    files as the outcome table in docs/design.md says."""

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
            with self.fresh_subtest(call=call, when=when, error=error, signal=sig, before=sorted(before)):
                lay(self.root, before)
                got = self.run_held(["A.PRC"], call, lambda pid: os.kill(pid, sig), when, error)
                self.assertEqual(got, (-sig, key_line(GOOD_KEY), b""))
                self.assertTree(after)

    def test_a_signal_ignored_from_the_start_stays_ignored(self):
        # As under nohup: the hang-up changes nothing.
        lay(self.root, {"A.PRC": GOOD})
        got = self.run_held(["A.PRC"], "fsync", lambda pid: os.kill(pid, signal.SIGHUP),
                            preexec=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN))
        self.assertEqual(got, (0, key_line(GOOD_KEY) + b"OK." + cfg.eol, b""))
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
        self.assertEqual(first, [(0, key_line(GOOD_KEY) + b"OK." + cfg.eol, b"")])
        self.assertEqual(got, (1, b"", CANNOT_OPEN + cfg.eol))
        self.assertTree({"A.PRC": RESTORED, "A.PRC.BAK": GOOD})

    def test_a_name_swapped_mid_run_is_not_moved(self):
        # Held at the sync of the file it wrote, the run finds a name swapped for another
        # file: nothing is moved that the run did not read or write, nothing is lost.
        other = b"another process's file"
        rows = [(cfg.tool, ["A.PRC"], "A.PRC.$$$", {"A.PRC": GOOD}, key_line(GOOD_KEY),
                 {"A.PRC": GOOD, "A.PRC.$$$": other, "away": RESTORED}),
                (cfg.tool, ["A.PRC"], "A.PRC", {"A.PRC": GOOD}, key_line(GOOD_KEY),
                 {"A.PRC": other, "away": GOOD}),
                (cfg.mkprc, ["P", "X"], "X.$$$", {"P": b"plain"}, b"",
                 {"P": b"plain", "X.$$$": other, "away": container(b"plain")}),
                (cfg.tool, ["A.PRC"], "A.PRC", {"A.PRC": GOOD}, key_line(GOOD_KEY),
                 {"A.PRC": other, "away": GOOD}, "renameat2", 1),  # just before each rename
                (cfg.tool, ["A.PRC"], "A.PRC.$$$", {"A.PRC": GOOD}, key_line(GOOD_KEY),
                 {"A.PRC": GOOD, "A.PRC.$$$": other, "away": RESTORED}, "renameat2", 2),
                (cfg.tool, ["A.PRC"], "A.PRC.$$$", {"A.PRC": GOOD, "A.PRC.$$$": b"left"}, key_line(GOOD_KEY),
                 {"A.PRC": GOOD, "A.PRC.$$$": other, "away": b"left"}, "flock", 2)]  # a leftover's
        for tool, args, name, before, out, after, *held in rows:
            with self.subTest(tool=os.path.basename(tool[-1]) if tool else None, swapped=name, at=held):
                if not tool:
                    self.skipTest("no --mkprc given")
                self.fresh_folder()
                lay(self.root, before)

                def swap(_, name=name):
                    os.rename(os.path.join(self.root, name), os.path.join(self.root, "away"))
                    lay(self.root, {name: other})
                call, when = held or ("fsync", 1)
                got = self.run_held(args, call, swap, when, tool=tool)
                self.assertEqual(got, (1, out, CANNOT_WRITE + cfg.eol))
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
        self.assertEqual(got, (0, key_line(GOOD_KEY) + b"OK." + cfg.eol, b""))
        self.assertTree({"d": Link("other"), "d2": Dir, "d2/A.PRC": RESTORED, "d2/A.PRC.BAK": GOOD,
                         "other": Dir, "other/A.PRC": other})
