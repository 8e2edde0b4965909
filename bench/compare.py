#!/usr/bin/env python3
"""Times the vesk program against the tools a user would otherwise reach for.

Each row generates its inputs in a temporary directory, has hyperfine time
vesk and its peers alternately for several rounds (each timed run after an
untimed one of the same program), and compares the medians of the
wall-clock times; every time is printed as median (minimum-maximum).
Outputs are removed before every run (hyperfine's --prepare) and are not
part of the time. The table is printed in Markdown,
followed by the machine and its load.

    bench/compare.py --vesk BUILD/vesk --floor BUILD/floor --no-thread BUILD/no_thread.so
                     [--rounds N] [--row NAME ...] [--tmp DIR]

The exit status is 0 when every target is met, 1 otherwise.
"""

import argparse
import json
import os
import platform
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile

MB = 1 << 20


class Sample:
    def __init__(self, wall, cpu):
        self.wall = wall  # seconds
        self.cpu = cpu  # user + system seconds


def clean_command(contenders):
    """A command that removes the outputs of every program of a row (an
    output directory is emptied), then syncs, so that every run starts from
    the same state whichever ran before, and without dirty pages waiting to
    be written, so that no run pays for the writeback of another."""
    steps = []
    for c in contenders:
        for path in c.outputs:
            q = shlex.quote(path)
            steps.append("rm -rf %s && mkdir %s" % (q, q) if os.path.isdir(path) else "rm -f %s" % q)
    steps.append("sync")
    return shlex.join(["sh", "-c", " && ".join(steps)])


class Contender:
    """One program of a row: how to run it and what to remove before a run."""

    def __init__(self, label, argv, cwd, outputs=(), env=None):
        self.label = label
        self.argv = argv
        self.cwd = cwd
        self.outputs = outputs
        # Variables for the program alone, set through env(1).
        self.env = env or {}
        self.samples = []

    def command(self):
        return shlex.join((["env"] + ["%s=%s" % kv for kv in self.env.items()] if self.env else [])
                          + self.argv)

    def clean(self, others=()):
        subprocess.run(["sh", "-c", clean_command((self,) + tuple(others))], check=True)

    def once(self, others=()):
        """One untimed run, for the output checks."""
        self.clean(others)
        proc = subprocess.run(self.argv, cwd=self.cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                              env=dict(os.environ, **self.env))
        if proc.returncode != 0:
            sys.exit("failed (%d): %s\n%s" % (proc.returncode, self.command(),
                                              proc.stderr.decode(errors="replace")))

    def median(self):
        return statistics.median(s.wall for s in self.samples)

    def spread(self):
        walls = [s.wall for s in self.samples]
        return min(walls), max(walls)

    def median_cpu(self):
        return statistics.median(s.cpu for s in self.samples)

    def peak_mb(self):
        """The largest resident set of one more run, in MB. GNU time forks a
        small process of its own, so the figure is the program's alone; a
        child of this Python process would report Python's size too."""
        out = tempfile.NamedTemporaryFile(mode="r", suffix=".time")
        timed = Contender(self.label, ["/usr/bin/time", "-o", out.name, "-f", "%M"] + self.argv, self.cwd,
                          self.outputs, self.env)
        timed.once()
        peak = int(out.read().split()[-1]) / 1024
        out.close()
        self.clean()
        return peak


def hyperfine_round(contenders, cwd):
    """One timed run of each program, each after an untimed one of the same
    program (a virtual machine may hand memory that was freed a while ago
    back to its host, and the program that first touches it again pays for
    that, so without the warm-up the program that follows a slow one would be
    charged for it)."""
    with tempfile.NamedTemporaryFile(suffix=".json") as export:
        argv = ["hyperfine", "-N", "--style", "none", "--warmup", "1", "--runs", "1",
                "--prepare", clean_command(contenders), "--export-json", export.name]
        for c in contenders:
            argv += ["-n", c.label, c.command()]
        subprocess.run(argv, cwd=cwd, check=True, stdout=subprocess.DEVNULL)
        results = json.load(export)["results"]
    for c, r in zip(contenders, results):
        c.samples += [Sample(t, r["user"] + r["system"]) for t in r["times"]]


def race(contenders, rounds):
    """Rounds of one hyperfine call over the whole row, not one call per
    program: hyperfine times all runs of a command before the next, and on
    a shared machine a slow spell would then fall on one program alone."""
    timed = [c for c in contenders if not isinstance(c, LibyamlLoad)]
    assert len({c.cwd for c in timed}) <= 1, "one hyperfine call runs in one directory"
    for _ in range(rounds):
        if timed:
            hyperfine_round(timed, timed[0].cwd)
        for c in contenders:
            if isinstance(c, LibyamlLoad):
                c.samples.append(c.timed())
    if timed:
        timed[0].clean(timed)


# ---- Inputs -----------------------------------------------------------------

def write_lines_source(path, size, every=4):
    """80-byte LF lines (79 bytes of text), every `every`-th holding ${v}."""
    count = size // 80
    with open(path, "w", newline="") as f:
        block = []
        for i in range(count):
            if i % every == 0:
                text = "line %d holds ${v} here" % i
            else:
                text = "line %d is plain text" % i
            block.append(text + "." * (79 - len(text)))
            if len(block) == 65536:
                f.write("\n".join(block) + "\n")
                block = []
        if block:
            f.write("\n".join(block) + "\n")


def write_bulk(path, size):
    """A file of size bytes of varied text, written in 1 MB blocks."""
    base = bytes(range(32, 127)) * (MB // 95 + 1)
    with open(path, "wb") as f:
        for i in range(size // MB):
            shift = i % 95
            f.write(base[shift:shift + MB])


def write_setting(path, variables):
    lines = ["--- # kesoYAML:0.1", "vesk:", "  variables:"]
    lines += ["    v%d: value number %d" % (i, i) for i in range(variables)]
    with open(path, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")


def copy_program(vesk, directory):
    # vesk works in the directory that holds its program file.
    target = os.path.join(directory, "vesk")
    shutil.copy2(vesk, target)
    return target


# ---- Rows -------------------------------------------------------------------

class Row:
    """One line of the table. cpu is the ratio of the CPU times, for
    reference; the target is judged on the wall-clock result."""

    def __init__(self, work, vesk_label, peer_label, result, target_text, met, cpu="–"):
        self.work = work
        self.vesk_label = vesk_label
        self.peer_label = peer_label
        self.result = result
        self.cpu = cpu
        self.target_text = target_text
        self.met = met


def seconds(c):
    """The label, the median and the spread: `vesk 0.105 s (0.101-0.140)`."""
    low, high = c.spread()
    if c.median() < 0.1:
        return "%s %.2f ms (%.2f–%.2f)" % (c.label, c.median() * 1000, low * 1000, high * 1000)
    return "%s %.3f s (%.3f–%.3f)" % (c.label, c.median(), low, high)


def ratio_row(work, vesk, peer, limit, strict=False):
    """vesk's time over the peer's: at most limit, or below it if strict."""
    r = vesk.median() / peer.median()
    cpu = vesk.median_cpu() / peer.median_cpu() if peer.median_cpu() > 0 else float("nan")
    met = r < limit if strict else r <= limit
    text = "%s %.2f ×" % ("<" if strict else "≤", limit)
    return Row(work, seconds(vesk), seconds(peer), "%.2f ×" % r, text, met, "%.2f ×" % cpu)


def memory_row(work, contender, limit_mb, runs=3):
    """The median peak of a few runs, judged by the largest."""
    peaks = sorted(contender.peak_mb() for _ in range(runs))
    label = "vesk %.1f MB (%.1f–%.1f)" % (statistics.median(peaks), peaks[0], peaks[-1])
    return Row(work, label, "–", "%.1f MB" % peaks[-1], "≤ %d MB" % limit_mb, peaks[-1] <= limit_mb)


def row_convert(args, tmp):
    src = os.path.join(tmp, "big.vsk")
    write_lines_source(src, 200 * MB)
    vesk = copy_program(args.vesk, tmp)
    out = os.path.join(tmp, "00.txt")
    dst = os.path.join(tmp, "peer.out")
    contenders = [
        Contender("vesk", [vesk, "big.vsk:0", "-variables:v=VALUE"], tmp, [out]),
        Contender("cat", ["sh", "-c", "cat big.vsk > peer.out"], tmp, [dst]),
        Contender("sed", ["sh", "-c", r"sed -e 's/\${v}/VALUE/' -e 's/$/\r/' big.vsk > peer.out"], tmp, [dst]),
        Contender("envsubst", ["sh", "-c", "envsubst '$v' < big.vsk > peer.out"], tmp, [dst],
                  env={"v": "VALUE"}),
        # Not a peer: the cost of reading and writing the bytes through a
        # user-space buffer with no work in between, what any program that
        # changes the text on its way pays for its input and output alone.
        Contender("dd", ["dd", "if=big.vsk", "of=peer.out", "bs=128K", "status=none"], tmp, [dst]),
        # Not a peer either: the least a program can do to make vesk's
        # output from this source (bench/floor.cpp), on one thread.
        Contender("floor", [args.floor, "big.vsk", "peer.out", "VALUE"], tmp, [dst]),
    ]
    check_same_output(contenders[0], contenders[2], out, dst)
    check_same_output(contenders[0], contenders[5], out, dst)
    race(contenders, args.rounds)
    v, cat, sed, envsubst, dd, floor = contenders
    work = "convert 200 MB of 80-byte lines, ¼ with `${v}`"
    reference = ratio_row("reference: read and write the same bytes, no processing", dd, cat, 0)
    calibration = ratio_row("reference: the least loop that reads, rewrites and writes them", floor, cat, 0)
    distance = ratio_row(work + ", against the least loop", v, floor, 0)
    for r in (reference, calibration, distance):
        r.target_text, r.met = "–", None
    return [
        ratio_row(work, v, cat, 1.5),
        reference,
        calibration,
        distance,
        ratio_row(work, v, sed, 1.0, strict=True),
        ratio_row(work, v, envsubst, 1.0, strict=True),
        memory_row("peak memory converting the 200 MB source", v, 64),
    ]


def row_writer(args, tmp):
    """The conversion with its writer thread against the same program on one
    thread (no thread can be started, so it writes each block itself)."""
    src = os.path.join(tmp, "big.vsk")
    write_lines_source(src, 200 * MB)
    vesk = copy_program(args.vesk, tmp)
    out = os.path.join(tmp, "00.txt")
    one = os.path.join(tmp, "one", "00.txt")
    os.mkdir(os.path.dirname(one))
    contenders = [
        Contender("writer thread", [vesk, "big.vsk:0", "-variables:v=VALUE"], tmp, [out]),
        Contender("one thread", [vesk, "big.vsk:0", "-d:one", "-variables:v=VALUE"], tmp, [one],
                  env={"LD_PRELOAD": args.no_thread}),
        Contender("cat", ["sh", "-c", "cat big.vsk > peer.out"], tmp, [os.path.join(tmp, "peer.out")]),
    ]
    check_same_output(contenders[0], contenders[1], out, one)
    race(contenders, args.rounds)
    writer, alone, cat = contenders
    work = "convert 200 MB of 80-byte lines, ¼ with `${v}`"
    rows = [ratio_row(work + ": writer thread against one thread", writer, alone, 0),
            ratio_row(work + ": one thread", alone, cat, 0)]
    for r in rows:
        r.target_text, r.met = "–", None
    return rows


def check_same_output(vesk, peer, vesk_out, peer_out):
    """The peer must do the same work: its output equals vesk's."""
    vesk.once()
    peer.once()
    with open(vesk_out, "rb") as a, open(peer_out, "rb") as b:
        while True:
            x, y = a.read(MB), b.read(MB)
            if x != y:
                sys.exit("%s and %s disagree on the output" % (vesk.label, peer.label))
            if not x:
                break


def row_long_line(args, tmp):
    size = 50 * MB
    src = os.path.join(tmp, "line.vsk")
    with open(src, "wb") as f:
        f.write(b"<${v}>")
        f.write(b"x" * (size - 6))
    vesk = copy_program(args.vesk, tmp)
    c = Contender("vesk", [vesk, "line.vsk:0", "-variables:v=VALUE"], tmp, [os.path.join(tmp, "00.txt")])
    return [memory_row("peak memory converting one 50 MB line", c, 3 * size // MB + 16)]


def row_copy(args, tmp):
    src = os.path.join(tmp, "big.vsk")
    write_bulk(src, 1024 * MB)
    vesk = copy_program(args.vesk, tmp)
    contenders = [
        Contender("vesk", [vesk, "big.vsk:0"], tmp, [os.path.join(tmp, "00.txt")]),
        Contender("cp", ["cp", "--preserve=timestamps", "big.vsk", "peer.out"], tmp, [os.path.join(tmp, "peer.out")]),
    ]
    race(contenders, args.rounds)
    return [ratio_row("plain copy of 1 GB", contenders[0], contenders[1], 1.2)]


LIBYAML_LOAD = """
import sys, time, yaml
start = time.perf_counter()
with open(sys.argv[1], "rb") as f:
    root = yaml.load(f, Loader=yaml.CSafeLoader)
took = time.perf_counter() - start
assert len(root["vesk"]["variables"]) == int(sys.argv[2])
print(took)
"""


class LibyamlLoad(Contender):
    """PyYAML's libyaml loader. Timed inside Python, not by hyperfine: the
    comparison is with the loader, without Python's start-up and imports."""

    def __init__(self, path, variables):
        super().__init__("libyaml `CSafeLoader`", None, None)
        self.path = path
        self.variables = variables

    def timed(self):
        out = subprocess.run([sys.executable, "-c", LIBYAML_LOAD, self.path, str(self.variables)],
                             check=True, capture_output=True, text=True).stdout
        took = float(out)
        return Sample(took, took)


def row_setting(args, tmp):
    vesk = copy_program(args.vesk, tmp)
    with open(os.path.join(tmp, "a.vsk"), "w") as f:
        f.write("value: ${v19999}\n")
    runs = []
    for n in (20000, 200000):
        name = "vars%d.yml" % n
        write_setting(os.path.join(tmp, name), n)
        label = "vesk" if n == 200000 else "vesk with 20,000"
        runs.append(Contender(label, [vesk, "-setting:" + name, "a.vsk:0"], tmp, [os.path.join(tmp, "00.txt")]))
    small, large = runs
    libyaml = LibyamlLoad(os.path.join(tmp, "vars200000.yml"), 200000)
    race([small, large, libyaml], args.rounds)
    linear = large.median() / small.median()
    work = "setting file with 200,000 variables (vesk: the whole run)"
    return [
        Row(work, seconds(large), seconds(small), "%.2f ×" % linear, "≤ 12 ×",
            linear <= 12, "%.2f ×" % (large.median_cpu() / small.median_cpu())),
        ratio_row(work, large, libyaml, 1.0),
    ]


def make_tree(root, files, dirs, sources):
    per_dir = files // dirs
    source_every = files // sources
    index = 0
    for d in range(dirs):
        # Ten top-level directories, each with its subdirectories.
        path = os.path.join(root, "d%02d" % (d % 10), "s%03d" % d)
        os.makedirs(path)
        for _ in range(per_dir):
            name = "f%06d.%s" % (index, "vsk" if index % source_every == source_every // 2 else "dat")
            with open(os.path.join(path, name), "wb") as f:
                f.write(b"x\n")
            index += 1


def row_extract(args, tmp):
    root = os.path.join(tmp, "tree")
    make_tree(root, 100000, 1000, 60)
    vesk = copy_program(args.vesk, root)
    outputs = [os.path.join(root, "%02d.txt" % i) for i in range(100)]
    contenders = [
        # Without arguments vesk finds the sources below its directory and
        # converts them.
        Contender("vesk", [vesk], root, outputs),
        Contender("find", ["find", ".", "-name", "*vsk"], root),
    ]
    contenders[0].once()
    found = sum(os.path.exists(p) for p in outputs)
    if found != 60:
        sys.exit("extraction converted %d sources, not 60" % found)
    race(contenders, args.rounds)
    return [ratio_row("extraction over 100,000 files in 1,000 directories, 60 sources",
                      contenders[0], contenders[1], 2.0)]


def row_many(args, tmp):
    vesk = copy_program(args.vesk, tmp)
    out = os.path.join(tmp, "out")
    os.mkdir(out)
    for i in range(100):
        with open(os.path.join(tmp, "s%02d.vsk" % i), "w") as f:
            f.write("source %d\n" % i * 20)
    specs = ["s%02d.vsk:%d" % (i, i) for i in range(100)]
    loop = "for i in $(seq -w 0 99); do cp --preserve=timestamps s$i.vsk out/$i.txt; done"
    contenders = [
        Contender("vesk", [vesk, "-d:out"] + specs, tmp, [out]),
        Contender("cp loop", ["sh", "-c", loop], tmp, [out]),
    ]
    race(contenders, args.rounds)
    v, cp = contenders
    speedup = cp.median() / v.median()
    return [Row("100 small sources, numbers 0-99, one command line", seconds(v), seconds(cp),
                "%.1f × faster" % speedup, "≥ 5 × faster", speedup >= 5,
                "%.1f × faster" % (cp.median_cpu() / v.median_cpu()))]


def row_start(args, tmp):
    """One run on one small file: what starting the program costs."""
    vesk = copy_program(args.vesk, tmp)
    with open(os.path.join(tmp, "a.vsk"), "w") as f:
        f.write("title: ${v}\n" + "a line of a small script source\n" * 8)
    contenders = [
        Contender("vesk", [vesk, "a.vsk:0", "-variables:v=VALUE"], tmp, [os.path.join(tmp, "00.txt")]),
        Contender("cp -p", ["cp", "-p", "a.vsk", "peer.out"], tmp, [os.path.join(tmp, "peer.out")]),
    ]
    # Runs of a few milliseconds: many more rounds to find the median.
    race(contenders, args.rounds * 20)
    return [ratio_row("start-up: one run converting one small file, one `${v}`", contenders[0],
                      contenders[1], 1.2)]


ROWS = {
    "convert": row_convert,
    "long-line": row_long_line,
    "copy": row_copy,
    "setting": row_setting,
    "extract": row_extract,
    "many": row_many,
    "start": row_start,
    "writer": row_writer,
}


def machine():
    info = {}
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                key, _, value = line.partition(":")
                info.setdefault(key.strip(), value.strip())
    except OSError:
        pass
    # A virtual machine may name only the maker; family and model tell the
    # processor generation apart.
    cpu = "%s (family %s, model %s, %s cache)" % (info.get("model name", "unknown processor"),
                                                  info.get("cpu family", "?"), info.get("model", "?"),
                                                  info.get("cache size", "?"))
    mem = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / (1 << 30)
    return "%s, %d cores, %.0f GB memory, Linux %s" % (cpu, os.cpu_count(), mem, platform.release())


def load():
    return "%.2f %.2f %.2f" % os.getloadavg()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--vesk", required=True, help="the release program")
    parser.add_argument("--floor", required=True, help="the calibration loop (bench/floor.cpp)")
    parser.add_argument("--no-thread", required=True,
                        help="a library that makes thread creation fail (bench/no_thread.cpp)")
    parser.add_argument("--rounds", type=int, default=5, help="timed runs per program and row")
    parser.add_argument("--row", action="append", choices=sorted(ROWS), help="run only these rows")
    parser.add_argument("--tmp", default=None, help="where to put the inputs (default: the system's)")
    args = parser.parse_args()
    args.vesk = os.path.abspath(args.vesk)
    args.floor = os.path.abspath(args.floor)
    args.no_thread = os.path.abspath(args.no_thread)

    load_before = load()
    rows = []
    for name in args.row or ROWS:
        with tempfile.TemporaryDirectory(prefix="vesk-bench-", dir=args.tmp) as tmp:
            print("running %s ..." % name, file=sys.stderr, flush=True)
            rows += ROWS[name](args, tmp)

    print("| work | vesk | peer | result | target | met | CPU time |")
    print("|---|---|---|---:|---|---|---:|")
    for r in rows:
        met = "–" if r.met is None else "yes" if r.met else "**no**"
        print("| %s | %s | %s | %s | %s | %s | %s |" % (r.work, r.vesk_label, r.peer_label, r.result,
                                                     r.target_text, met, r.cpu))
    print()
    print("Times are medians of %d alternating runs (start-up: %d) timed by hyperfine, wall clock, with"
          " the fastest and slowest run in parentheses; the CPU column compares the medians of user +"
          " system time."
          % (args.rounds, args.rounds * 20))
    print()
    print("Machine: %s. Load average (1, 5, 15 min) %s before, %s after." % (machine(), load_before, load()))
    return 0 if all(r.met is not False for r in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
