#!/usr/bin/env python3
"""Writes the seed inputs of every fuzz target from the shared formula corpus.

usage: make_seeds.py CORPUS_DIR OUT_DIR [COUNT]
Each target gets COUNT formulas spread evenly over the corpus, in the input format it reads
(header bytes, then the formula as UTF-8), plus a few hand-made inputs for the edges.
"""
import json
import os
import sys


def formulas(corpus_dir, count):
    lines = []
    with open(os.path.join(corpus_dir, "formulas.txt"), encoding="utf-8") as f:
        lines = [line.rstrip("\n") for line in f if line.strip()]
    multi = []
    path = os.path.join(corpus_dir, "formulas-multiline.jsonl")
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            multi = [json.loads(line) for line in f if line.strip()]
    step = max(1, len(lines) // max(1, count))
    picked = lines[::step][:count]
    mstep = max(1, len(multi) // max(1, count // 4))
    picked += multi[::mstep][: count // 4]
    return picked


def write(out_dir, target, items):
    d = os.path.join(out_dir, target)
    os.makedirs(d, exist_ok=True)
    for i, data in enumerate(items):
        with open(os.path.join(d, "seed-%05d" % i), "wb") as f:
            f.write(data)


def main():
    corpus_dir, out_dir = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 400
    texts = [t.encode("utf-8", "surrogatepass") for t in formulas(corpus_dir, count)]
    extra = [b"=IF(A1,SUM(B1,C1),0)", b"=SUM(A1*(B1+C1),2)", b"=NOW()+1", b"='a(b'!A1+(1)",
             b"=\"(\"&T(\",\")", b"=A1*(SUM(B1,C1))", b"=\xe2\x82\xac(1)", b"=SUM(Table1[[#This Row],[a b]])",
             b"=A1 B1", b"=F(\xff\xd8\x00)", b")", b"(", b"'"]
    texts += extra
    write(out_dir, "fuzz_char_scan", [bytes([i % 8, i % 5]) + t for i, t in enumerate(texts)])
    write(out_dir, "fuzz_unformat", texts)
    layout = []
    for i, t in enumerate(texts):
        header = bytes([i % 32, 0x80 | (i % 10), i % 12, (i * 7) % 256, (i * 5) % 12, 0x80, 11, 0])
        layout.append(header + t)
    write(out_dir, "fuzz_layout", layout)
    cli = texts + [json.dumps(t.decode("utf-8", "surrogatepass")).encode("utf-8") for t in texts[:100]]
    cli += [b"\"\\ud800\"", b"\xed\xa0\x80", b"\xc0\x80", b"\xf4\x90\x80\x80", b"\"a\\u0000b\""]
    write(out_dir, "fuzz_cli_input", cli)
    values = [b"0.5714", b"1", b"Not Found", b"0,5", b"1e308", b"-0", b"", b"\xff\xfe", b"1.2.3", b"  7 ",
              b"\xc0\x80", b"\xed\xa0\x80", b"1,000.5", b"nan", b"inf"]
    write(out_dir, "fuzz_store", [bytes([i % 2]) + v for i, v in enumerate(values * 2)])


if __name__ == "__main__":
    main()
