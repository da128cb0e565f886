#!/usr/bin/env bash
# `corvane format --jsonl` over the corpus's formulas.txt beside the excel-formula npm formatter
# on the same formulas, in one run, turn about: the cell layout with a calibrated store, the
# monospaced layout, and the peer. The peer is installed here for the comparison only (into
# build/bench-peer); it is never a dependency of the program.
#
#   bash bench/compare_jsonl.sh [ROUNDS]     (release build first: cmake --build --preset release)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
corvane=build/release/corvane
peer=build/bench-peer
[ -x "$corvane" ] || { echo "build the release preset first" >&2; exit 2; }
if [ ! -d "$peer/node_modules/excel-formula" ]; then
  mkdir -p "$peer"
  npm install --prefix "$peer" --no-save --no-audit --no-fund excel-formula@1.5.0 >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Each line's text file (a layout too long for its cell) has its own name: kept in the work folder.
export tmp="$work"
python3 -c '
import json, sys
with open(sys.argv[1], encoding="utf-8") as f, open(sys.argv[2], "w", encoding="utf-8") as o:
    for line in f:
        o.write(json.dumps(line.rstrip("\n"), ensure_ascii=False) + "\n")
' tests/corpus/formulas.txt "$work/formulas.jsonl"
"$corvane" calibrate --store "$work/s.db" </dev/null >/dev/null 2>&1

# Turn about, so that a drift of the machine's speed touches all three alike; medians.
python3 - "$rounds" "$work" "$corvane" "$peer" <<'PY'
import statistics, subprocess, sys, time
rounds, work, corvane, peer = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
commands = {
    "cell": [corvane, "format", "--jsonl", "--store", work + "/s.db"],
    "mono": [corvane, "format", "--jsonl", "--mono", "--store", work + "/s.db"],
    "peer": ["node", "bench/peer_format.js", peer],
}
times = {name: [] for name in commands}
lines = sum(1 for _ in open(work + "/formulas.jsonl", encoding="utf-8"))
for _ in range(rounds):
    for name, command in commands.items():
        with open(work + "/formulas.jsonl", "rb") as source:
            start = time.perf_counter()
            done = subprocess.run(command, stdin=source, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            times[name].append(time.perf_counter() - start)
        # Every formula answered (a refusal is an answer too), or the figure means nothing.
        answered = done.stdout.count(b"\n")
        if answered != lines:
            sys.exit(f"{name} answered {answered} of {lines} formulas")
print(f"formulas: {lines}, rounds: {rounds} (medians, seconds)")
peer_median = statistics.median(times["peer"])
for name, values in times.items():
    m = statistics.median(values)
    print(f"{name:5} {m:6.3f} s   peer/this {peer_median / m:5.1f}x")
PY
