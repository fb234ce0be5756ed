#!/usr/bin/env python3
"""Times tarnwick-cli with and without the index on the benchmark corpus.

In one run, the commands alternating and each timed --runs times (median):

  find        find CORPUS -type f: the walk alone
  plain       tarnwick-cli -r CORPUS
  build       tarnwick-cli -r --index NEW CORPUS, NEW removed before each run:
              the search that makes the index
  index       tarnwick-cli -r --index DB CORPUS, nothing changed since DB
              was made
  index-only  tarnwick-cli -r --index DB --index-only CORPUS
  plain-match       tarnwick-cli -r --match TEXT CORPUS
  index-only-match  tarnwick-cli -r --index DB --index-only --match TEXT CORPUS

and prints the medians with the ratios that the targets name.  The rows of
every command must be byte for byte those of plain; the script fails when
they are not.

  bench/index_bench.py [--cli PATH] [--corpus DIR] [--runs N] [--work DIR] [--match TEXT]
                       [--share-latency-us N]

--share-latency-us N runs everything on the corpus mounted through the
latency passthrough of scripts/bench (bench/latency_fs, N microseconds before
every lookup, listing, open and read), and adds its parallel read floor
(find | xargs -P32 cat).  The index files stay on the local disk.

The corpus is the one scripts/bench writes (corpus/archive); make it with
scripts/bench first, or with build/tools/make_corpus DIR.
"""

import argparse
import hashlib
import importlib.machinery
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def timed(argv, out_path):
    with open(out_path, "wb") as out:
        t = time.perf_counter()
        subprocess.run(argv, stdout=out, stderr=subprocess.DEVNULL, check=True)
        return time.perf_counter() - t


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", default=os.path.join(ROOT, "build", "tarnwick-cli"))
    ap.add_argument("--corpus", default=os.path.join(ROOT, "corpus", "archive"))
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--match", default="浴槽14", help="the text of the --match runs")
    ap.add_argument("--share-latency-us", type=int, default=0)
    ap.add_argument("--work", default=None, help="folder for the indexes and outputs (default: a temporary one)")
    args = ap.parse_args()
    corpus = os.path.abspath(args.corpus)
    if not os.path.isdir(corpus):
        sys.exit(f"index_bench: no corpus at {corpus}; run scripts/bench once, or build/tools/make_corpus {corpus}")
    mount = None
    if args.share_latency_us > 0:
        bench = importlib.machinery.SourceFileLoader("tarnwick_bench", os.path.join(ROOT, "scripts", "bench")).load_module()
        fs = os.path.join(os.path.dirname(os.path.abspath(args.cli)), "bench", "latency_fs")
        if not os.path.isfile(fs):
            sys.exit(f"index_bench: no latency passthrough at {fs}; build the latency_fs target")
        mount = bench.Mount(fs, corpus, args.share_latency_us)
        corpus = mount.dir
    try:
        return measure(args, corpus, cli_floor=mount is not None)
    finally:
        if mount:
            mount.close()


def measure(args, corpus, cli_floor):
    work = args.work or tempfile.mkdtemp(prefix="tarnwick-index-bench-")
    os.makedirs(work, exist_ok=True)
    db = os.path.join(work, "index.sqlite")
    fresh = os.path.join(work, "fresh.sqlite")
    cli = args.cli

    def remove(path):
        for suffix in ("", "-wal", "-shm"):
            try:
                os.remove(path + suffix)
            except FileNotFoundError:
                pass

    commands = [
        ("find", ["find", corpus, "-type", "f"], None),
    ] + ([("floor", ["sh", "-c", f"find '{corpus}' -type f -print0 | xargs -0 -P32 -n20 cat > /dev/null"], None)]
         if cli_floor else []) + [
        ("plain", [cli, "-r", "-q", corpus], None),
        ("build", [cli, "-r", "-q", "--index", fresh, corpus], lambda: remove(fresh)),
        ("index", [cli, "-r", "-q", "--index", db, corpus], None),
        ("index-only", [cli, "-r", "-q", "--index", db, "--index-only", corpus], None),
        ("plain-match", [cli, "-r", "-q", "--match", args.match, corpus], None),
        ("index-only-match", [cli, "-r", "-q", "--index", db, "--index-only", "--match", args.match, corpus], None),
    ]
    # Warm the page cache and make the index the unchanged runs use.
    remove(db)
    outputs = {}
    for name, argv, before in commands:
        if before:
            before()
        timed(argv, os.path.join(work, name + ".out"))
    subprocess.run([cli, "-r", "-q", "--index", db, corpus], stdout=subprocess.DEVNULL, check=True)

    times = {name: [] for name, _, _ in commands}
    for _ in range(args.runs):
        for name, argv, before in commands:
            if before:
                before()
            out = os.path.join(work, name + ".out")
            times[name].append(timed(argv, out))
            outputs[name] = digest(out) if name not in ("find", "floor") else None

    failed = False
    for name, same in (("build", "plain"), ("index", "plain"), ("index-only", "plain"),
                       ("index-only-match", "plain-match")):
        if outputs[name] != outputs[same]:
            print(f"index_bench: the rows of {name} differ from those of {same}", file=sys.stderr)
            failed = True

    med = {name: statistics.median(t) for name, t in times.items()}
    files = sum(1 for _ in open(os.path.join(work, "find.out"), "rb"))
    print(f"corpus: {corpus} ({files} files), {args.runs} runs each, alternating; median wall time")
    for name, _, _ in commands:
        print(f"  {name:<17} {med[name] * 1000:9.1f} ms   (min {min(times[name]) * 1000:.1f}, "
              f"max {max(times[name]) * 1000:.1f})")
    size = os.path.getsize(db)
    print(f"  index size        {size / 1e6:.1f} MB")
    print("ratios:")
    print(f"  plain / index       {med['plain'] / med['index']:8.1f}x  (target: at least 10x)")
    print(f"  plain / index-only  {med['plain'] / med['index-only']:8.1f}x  (target: at least 100x; every row written)")
    print(f"  with --match {args.match}: plain / index-only {med['plain-match'] / med['index-only-match']:8.1f}x, "
          f"{sum(1 for _ in open(os.path.join(work, 'plain-match.out'), 'rb'))} rows")
    print(f"  build / plain       {med['build'] / med['plain']:8.2f}   (target: at most 1.2)")
    print(f"  index / find        {med['index'] / med['find']:8.2f}   (on a share the target is at most 1.2)")
    if cli_floor:
        print(f"  index-only / floor  {med['index-only'] / med['floor']:8.3f}   (on a share the target is under 1/50)")
    if not args.work:
        subprocess.run(["rm", "-rf", "--", work], check=False)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
