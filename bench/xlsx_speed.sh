#!/usr/bin/env bash
# `corvane format BOOK.xlsx --all` on a workbook of 100,000 corpus formulas beside what inflating
# its worksheets and deflating the rewritten ones take (libzip, at the level the program writes,
# on one processor: compare the processor times for the work, the wall times for the wait),
# in one run, turn about: each round formats a fresh copy of the workbook, then times the
# inflate and deflate on that round's result (bench/xlsx_codec.cpp). Medians over the rounds, and
# the ratio of the program to inflate + deflate. The store is calibrated beforehand. Each round
# then unformats the formatted workbook (timed too), whose worksheets must come back byte for byte.
# The program deflates with another compressor than libzip's zlib (ISA-L's igzip), so the sizes
# the rewritten worksheets deflate to are printed side by side as well.
#
#   bash bench/xlsx_speed.sh [ROUNDS] [CELLS]   (release build first: cmake --build --preset release)
#   CORVANE_CLI=/path/to/corvane bash bench/xlsx_speed.sh        another build of the program
#   CORVANE_BASELINE=/path/to/corvane bash bench/xlsx_speed.sh   also that build, turn about
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-7}
cells=${2:-100000}
corvane=${CORVANE_CLI:-build/release/corvane}
codec=build/release/bench/xlsx_codec
[ -x "$corvane" ] && [ -x "$codec" ] || { echo "build the release preset first" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$codec" make tests/corpus/formulas.txt "$work/pristine.xlsx" "$cells"
"$corvane" calibrate --store "$work/s.db" </dev/null >/dev/null 2>&1

python3 - "$rounds" "$work" "$corvane" "$codec" "$cells" "${CORVANE_BASELINE:-}" <<'PY'
import os, shutil, statistics, subprocess, sys, time, zipfile
rounds, work, corvane, codec, cells = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])
programs = {"corvane format --all": corvane}
if sys.argv[6]:
    programs["baseline (CORVANE_BASELINE)"] = sys.argv[6]
pristine, book = work + "/pristine.xlsx", work + "/Book.xlsx"
wall = {name: [] for name in programs}
cpu = {name: [] for name in programs}
codecs = []
unformats = []
def worksheets(path):
    with zipfile.ZipFile(path) as z:
        return {n: z.read(n) for n in z.namelist() if n.startswith("xl/worksheets/")}
original = worksheets(pristine)
for _ in range(rounds):
    for name, program in programs.items():
        shutil.copyfile(pristine, book)
        before = os.times()
        start = time.perf_counter()
        done = subprocess.run([program, "format", book, "--all", "--store", work + "/s.db"],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        wall[name].append(time.perf_counter() - start)
        after = os.times()
        cpu[name].append(after.children_user + after.children_system - before.children_user - before.children_system)
        # Every formula dealt with (a few come out too long for a cell and go to text files), or
        # the figure means nothing.
        if done.returncode != 0 or b", 0 skipped" not in done.stdout.split(b"\n")[0]:
            sys.exit(name + " failed: " + (done.stdout + done.stderr).decode(errors="replace")[:400])
        if program == corvane:
            out = subprocess.run([codec, "time", pristine, book], check=True, stdout=subprocess.PIPE).stdout.split()
            codecs.append((float(out[0]), float(out[1]), float(out[2])))
            with zipfile.ZipFile(book) as z:
                mine = sum(i.compress_size for i in z.infolist()
                           if i.filename in original and z.read(i.filename) != original[i.filename])
            sizes = (mine, int(out[4]))
            start = time.perf_counter()
            subprocess.run([program, "unformat", book, "--all"], check=True,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
            unformats.append(time.perf_counter() - start)
            if worksheets(book) != original:
                sys.exit("unformat did not give back every worksheet byte for byte")
i = statistics.median(c[0] for c in codecs)
d = statistics.median(c[1] for c in codecs)
both = statistics.median(c[0] + c[1] for c in codecs)
codecCpu = statistics.median(c[2] for c in codecs)
print(f"{cells} formulas, {rounds} rounds, turn about (medians, seconds)")
print(f"inflate + deflate            {both:6.3f} s   (inflate {i:.3f}, deflate {d:.3f}; processor {codecCpu:.3f} s)")
for name in programs:
    p, pc = statistics.median(wall[name]), statistics.median(cpu[name])
    print(f"{name:28} {p:6.3f} s   (runs {min(wall[name]):.3f}-{max(wall[name]):.3f}): {p / both:5.2f}x"
          f"   processor {pc:.3f} s: {pc / codecCpu:5.2f}x   (limit 2x)")
print(f"corvane unformat --all       {statistics.median(unformats):6.3f} s   (every worksheet back byte for byte)")
print(f"rewritten worksheets deflated to {sizes[0]:,} bytes by corvane, {sizes[1]:,} by libzip at the same level")
PY
