"""Hostile surroundings, end to end: closed standard streams, other users' files and runs
(as root), and both tools on a file system with neither rename flags nor hard links."""

import ctypes, errno, fcntl, os, re, shutil, signal, stat, subprocess, sys, tempfile, time

from e2e_harness import (BACKUP_EXISTS, CANNOT_OPEN, CANNOT_WRITE, GOOD, GOOD_KEY, NOBODY, OUTPUT_EXISTS,
                         RESTORED, Case, Dir, as_nobody, cfg, container, key_line, lay, posix_only,
                         snapshot, snapshot_of, tree_differences)

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
        if not cfg.native or os.geteuid() != 0:
            self.skipTest("needs a native POSIX tool run by root, to lay other users' files")
        test(self)
    return run_as_root


class Hostile(Case):
    """What another user, or what another user laid at the tool's names, does: the scrambled
    bytes stay whole, nobody else's file is written, and a failure leaves the files as the
    outcome table in docs/design.md says."""

    @posix_only
    def test_closed_standard_streams_are_never_taken_by_a_file(self):
        self.need_strace()
        lay(self.root, {"A.PRC": GOOD})
        log = os.path.join(self.root, "..", os.path.basename(self.root) + ".trace")
        self.addCleanup(lambda: os.path.exists(log) and os.remove(log))
        got = self.run_tool([], prefix=["strace", "-f", "-qqq", "-o", log, "-e", "trace=execve,openat",
                                        "sh", "-c", 'exec "$0" A.PRC <&- >&- 2>&-', cfg.tool[0]])
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
        tool, = self.copies_anyone_may_run(cfg.tool)
        rows = [(0o1777, (0, shared, 0o660), [shared], (0, shared, 0o660)),
                (0o1777, (NOBODY, shared, 0o640), [], (0, NOBODY, 0o600)),
                (0o1777, (NOBODY, NOBODY, 0o640), [], (0, NOBODY, 0o640)),
                # The input's group may not read; everyone else may. Its members are now
                # among everyone else, so everyone else gets what they had: nothing.
                (0o1777, (0, shared, 0o604), [], (0, NOBODY, 0o600)),
                (0o1777, (0, shared, 0o664), [], (0, NOBODY, 0o604)),
                (0o300, (NOBODY, NOBODY, 0o600), [], None)]
        for folder_mode, (uid, gid, mode), groups, want in rows:
            with self.fresh_subtest(folder=oct(folder_mode), input=(uid, gid, oct(mode)), groups=groups):
                os.chmod(self.root, 0o711)
                lay(self.root, {"f/A.PRC": GOOD})
                path = os.path.join(self.root, "f/A.PRC")
                os.chown(path, uid, gid)
                os.chmod(path, mode)
                os.chown(os.path.dirname(path), NOBODY, NOBODY)
                os.chmod(os.path.dirname(path), folder_mode)
                got = self.run_tool(["f/A.PRC"], preexec=as_nobody(groups), tool=tool)
                if want is None:
                    self.assertEqual(got, (1, b"", CANNOT_OPEN + cfg.eol))
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
        tools = self.copies_anyone_may_run(*(t for t in (cfg.tool, cfg.mkprc) if t))
        lay(self.root, {"s/A.PRC": GOOD})
        os.chmod(self.root, 0o711)
        os.chmod(os.path.join(self.root, "s"), 0o1777)
        path = os.path.join(self.root, "s/A.PRC")
        os.chown(path, 0, shared)
        os.setxattr(path, ACCESS, access_list(6, 0, 4, mask=4, users=[(NOBODY, 4)]))
        got = self.run_tool(["s/A.PRC"], preexec=as_nobody(), tool=tools[0])
        self.assertEqual(got, (1, key_line(GOOD_KEY), CANNOT_WRITE + cfg.eol))
        self.assertTree({"s": Dir, "s/A.PRC": GOOD})
        made = {}
        if len(tools) > 1:
            self.assertEqual(self.run_tool(["s/A.PRC", "s/X"], preexec=as_nobody(), tool=tools[1])[0], 0)
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
                    if tool == "mkprc" and not cfg.mkprc:
                        self.skipTest("no --mkprc given")
                    self.fresh_folder()
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
                        self.assertEqual(self.run_tool(["d/A", "d/X"], tool=cfg.mkprc)[0], 0)
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
        self.assertEqual(got, (1, key_line(GOOD_KEY), CANNOT_WRITE + cfg.eol))
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
        self.assertEqual(got, (1, key_line(GOOD_KEY), CANNOT_WRITE + cfg.eol))
        self.assertTree({"A.PRC": GOOD, "A.PRC.$$$": b"unrelated", "other": b"unrelated"})


class NoLinkFileSystem(Case):
    """Both tools on a FUSE file system with neither rename flags nor hard links
    (nolinkfs.py beside this file, over a backing folder): they work there and still
    never replace an existing file."""

    SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "nolinkfs.py")

    def setUp(self):
        """Mounts the file system at the scratch folder, or skips saying why it cannot."""
        if not cfg.native or sys.platform != "linux":
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
            ("unprc", {"A.PRC": GOOD}, ["A.PRC"], 0, key_line(GOOD_KEY) + b"OK." + cfg.eol, b"",
             {"A.PRC": RESTORED, "A.PRC.BAK": GOOD}),
            ("unprc", {"d/A.PRC": GOOD, "d/A.PRC.$$$": b"stale output"}, ["d/A.PRC"], 0,
             key_line(GOOD_KEY) + b"OK." + cfg.eol, b"", {"d": Dir, "d/A.PRC": RESTORED, "d/A.PRC.BAK": GOOD}),
            ("unprc", {"A.PRC": GOOD, "A.PRC.BAK": b"old backup"}, ["A.PRC"], 1, key_line(GOOD_KEY),
             BACKUP_EXISTS + cfg.eol, {"A.PRC": GOOD, "A.PRC.BAK": b"old backup", "A.PRC.$$$": RESTORED}),
            ("mkprc", {"P": plain}, ["P", "X"], 0, b"", b"", {"P": plain, "X": container(plain)}),
            ("mkprc", {"P": plain, "X": b"old"}, ["P", "X"], 1, b"", OUTPUT_EXISTS + cfg.eol,
             {"P": plain, "X": b"old"}),
        ]
        for n, (name, tree, args, status, out, err, after) in enumerate(rows):
            with self.subTest(tool=name, tree=sorted(tree)):
                tool = cfg.tool if name == "unprc" else cfg.mkprc
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
                self.assertEqual(self.run_held(["A.PRC"], call, action, when)[0], status)
                self.assertTree(after)
                if again:
                    self.assertEqual(self.run_tool(["A.PRC"])[0], 0)
                    self.assertTree(again)
