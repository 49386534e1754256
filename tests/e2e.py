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

The cases are in the modules beside this runner, by subject, over e2e_harness: e2e_restore,
e2e_tools (mkprc and prccat), e2e_hostile (as root, and without hard links), e2e_races and
e2e_windows. `-k Name` runs the cases whose module, class or name holds Name.
"""

import os, sys, unittest

import e2e_hostile, e2e_races, e2e_restore, e2e_tools, e2e_windows
from e2e_harness import cfg, keep_emulator_running, stop_emulator

MODULES = (e2e_restore, e2e_tools, e2e_hostile, e2e_races, e2e_windows)


def load_tests(loader, tests, pattern):
    return unittest.TestSuite(loader.loadTestsFromModule(module) for module in MODULES)


def main():
    rest = cfg.parse(sys.argv[1:])
    # Names reach the emulator as UTF-8; a terminal in this locale would show the messages.
    os.environ["LC_ALL"] = "C.UTF-8"
    keeper = None if cfg.native else keep_emulator_running({})
    try:
        result = unittest.main(argv=[sys.argv[0]] + rest, verbosity=2, exit=False).result
    finally:
        if keeper:
            stop_emulator(keeper)
    if len(cfg.retried) > 1:  # one is the most a loaded machine explains
        print(f"\nFAILED: {len(cfg.retried)} runs under wine were made again", file=sys.stderr)
    sys.exit(not result.wasSuccessful() or len(cfg.retried) > 1)


if __name__ == "__main__":
    main()
