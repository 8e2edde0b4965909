#!/usr/bin/env python3
"""Checks the bash completion in a real interactive bash.

    completion_test.py COMPLETION_FILE VESK_PROGRAM MANUAL_PAGE

Each case types a command line ending in TAB and Enter into bash on a
pseudo-terminal; `vesk` there is a shell function that prints its arguments,
so the line that bash's completion made can be read back. The option names
the completion offers are also checked against the manual's synopsis and
against the program, which must accept each of them (no usage error).
"""

import os
import pty
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time

COMPLETION, PROGRAM, MANUAL = (os.path.abspath(a) for a in sys.argv[1:4])

# typed text -> the arguments vesk gets after TAB and Enter
CASES = [
    ("-doif", "-doifmodified"),
    ("-doe", "-doextract"),
    ("-ve", "-version"),
    ("-var", "-variables:"),  # a name that takes a value keeps the cursor at it
    ("-sync:y", "-sync:yes"),
    ("-doifmodified:n", "-doifmodified:no"),
    ("-d:ou", "-d:out/"),
    ("-setting:ve", "-setting:veskenv.yml"),
    ("define.vsk:0 -d:out/su", "define.vsk:0 -d:out/sub/"),
    ("def", "define.vsk"),  # a source: bash's own file name completion
    # Where a directory or a number is wanted, no file name is offered.
    ("-d:chapters/", "-d:chapters/"),
    ("-d:chapters/e", "-d:chapters/e"),
    ("define.vsk:", "define.vsk:"),
    ("define.vsk:d", "define.vsk:d"),
    ("-ext:d", "-ext:d"),
]


def run_bash(work, lines):
    """Types each line into an interactive bash; returns what bash printed."""
    env = {
        "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
        "HOME": work,
        "TERM": "dumb",
        "INPUTRC": "/dev/null",
        "PS1": "$ ",
    }
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(work)
        os.execvpe("bash", ["bash", "--norc", "--noprofile", "-i"], env)
    setup = (f"source '{COMPLETION}'; vesk() {{ printf 'ARGS[%s]\\n' \"$*\"; }}\n")
    script = setup + "".join(line + "\t\n" for line in lines) + "exit\n"
    os.write(fd, script.encode())
    output = b""
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], 1)
        if not ready:
            continue
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        output += chunk
    os.waitpid(pid, 0)
    return output.decode(errors="replace")


def offered_options(work):
    """The option names the completion offers for a bare '-'."""
    script = (f"source '{COMPLETION}'; COMP_LINE='vesk -'; COMP_POINT=6; _vesk; "
              "printf '%s\\n' \"${COMPREPLY[@]}\"")
    result = subprocess.run(["bash", "--norc", "-c", script], cwd=work,
                            capture_output=True, text=True, check=True)
    return sorted(result.stdout.split())


def manual_options():
    """The option names of the manual's synopsis."""
    text = open(MANUAL, encoding="utf-8").read()
    synopsis = text[text.index(".SH SYNOPSIS"):text.index(".SH DESCRIPTION")]
    return sorted(set(re.findall(r"\\-([a-z]+)", synopsis)))


def main():
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        os.makedirs(os.path.join(work, "out", "sub"))
        os.makedirs(os.path.join(work, "chapters"))
        for name in ("define.vsk", "veskenv.yml", "chapters/epilogue.vsk"):
            open(os.path.join(work, name), "w").close()

        printed = run_bash(work, [f"vesk {typed}" for typed, _ in CASES])
        got = re.findall(r"^ARGS\[(.*)\]\r?$", printed, re.MULTILINE)
        for index, (typed, expected) in enumerate(CASES):
            actual = got[index] if index < len(got) else None
            if actual != expected:
                print(f"FAIL: 'vesk {typed}<TAB>' gave {actual!r}, expected {expected!r}")
                failures += 1

        offered = offered_options(work)
        names = sorted({o.lstrip("-").rstrip(":") for o in offered})
        if names != manual_options():
            print(f"FAIL: the completion offers {names}, the manual lists {manual_options()}")
            failures += 1

        # Every offered name is one the program knows: a usage error is
        # status 2; a missing source or setting file is 1, -version 0.
        program = shutil.copy(PROGRAM, work)
        for option in offered:
            arg = option + ("x" if option.endswith(":") else "")
            status = subprocess.run([program, arg, "missing.vsk"], cwd=work,
                                    capture_output=True).returncode
            if status == 2:
                print(f"FAIL: vesk refuses the offered option {arg} as a usage error")
                failures += 1

    if failures:
        print(f"completion: {failures} check(s) failed")
        print(printed)
        return 1
    print(f"completion: {len(CASES)} completions, {len(offered)} options checked")
    return 0


if __name__ == "__main__":
    sys.exit(main())
