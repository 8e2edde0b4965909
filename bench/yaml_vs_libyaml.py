#!/usr/bin/env python3
"""Times vesk's YAML reader against PyYAML's libyaml-based CSafeLoader.

Both load the same generated files in the same run: a root mapping of 20,000
and of 200,000 entries. Each time is the best of several loads, file reading
and releasing the tree included, in processor time (the wall clock is shown
too; on a busy machine it mostly measures the wait for a processor). The
ratio of the two sizes shows whether the reader is linear.

    bench/yaml_vs_libyaml.py BUILD_DIR/bench/yaml_load_bench
"""

import os
import subprocess
import sys
import tempfile
import time

import yaml

REPEAT = 5


def flat_document(entries):
    lines = ["--- # kesoYAML:0.1"]
    lines += ["key%d: some plain value %d" % (i, i) for i in range(entries)]
    return "\r\n".join(lines)


def time_vesk(program, path):
    out = subprocess.run([program, path, str(REPEAT)], check=True, capture_output=True, text=True).stdout
    fields = dict(item.split("=") for item in out.split())
    return int(fields["root_size"]), float(fields["best_cpu_seconds"]), float(fields["best_wall_seconds"])


def time_libyaml(path):
    best = best_wall = float("inf")
    size = 0
    for _ in range(REPEAT):
        start_cpu = time.process_time()
        start = time.perf_counter()
        with open(path, "rb") as f:
            root = yaml.load(f, Loader=yaml.CSafeLoader)
        size = len(root)
        del root
        best = min(best, time.process_time() - start_cpu)
        best_wall = min(best_wall, time.perf_counter() - start)
    return size, best, best_wall


def time_reference(entries):
    """A plainly linear job of the same size, as the machine's own yardstick:
    its ratio shows what caches and the allocator add on top of linear."""
    best = float("inf")
    for _ in range(REPEAT):
        start = time.process_time()
        table = {"key%d" % i: "some plain value %d" % i for i in range(entries)}
        del table
        best = min(best, time.process_time() - start)
    return best


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    program = sys.argv[1]
    results = {}
    with tempfile.TemporaryDirectory() as tmp:
        for entries in (20000, 200000):
            path = os.path.join(tmp, "flat%d.yml" % entries)
            with open(path, "w", newline="") as f:
                f.write(flat_document(entries))
            vesk_size, vesk_time, vesk_wall = time_vesk(program, path)
            lib_size, lib_time, lib_wall = time_libyaml(path)
            if vesk_size != entries or lib_size != entries:
                sys.exit("wrong root size: vesk %d, CSafeLoader %d" % (vesk_size, lib_size))
            results[entries] = (vesk_time, lib_time, vesk_wall, lib_wall)
    print("| entries | vesk CPU (ms) | CSafeLoader CPU (ms) | CSafeLoader / vesk | vesk wall (ms) | CSafeLoader wall (ms) |")
    print("|---:|---:|---:|---:|---:|---:|")
    for entries, (v, l, vw, lw) in results.items():
        print("| %d | %.1f | %.1f | %.1f | %.1f | %.1f |" % (entries, v * 1e3, l * 1e3, l / v, vw * 1e3, lw * 1e3))
    v_ratio = results[200000][0] / results[20000][0]
    l_ratio = results[200000][1] / results[20000][1]
    r_ratio = time_reference(200000) / time_reference(20000)
    print()
    print("200,000 / 20,000 time ratio: vesk %.1f, CSafeLoader %.1f, plain dict build %.1f"
          % (v_ratio, l_ratio, r_ratio))
    print("vesk within 12 times: %s" % ("yes" if v_ratio <= 12 else "no"))
    print("vesk faster than CSafeLoader: %s" % ("yes" if results[200000][0] < results[200000][1] else "no"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
