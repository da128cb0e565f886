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
    write(out_dir, "fuzz_lexer", [bytes([i % 10]) + t for i, t in enumerate(texts)])
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
    write(out_dir, "fuzz_xlsx_worksheet", worksheets(texts))


def xml_text(data):
    return data.replace(b"&", b"&amp;").replace(b"<", b"&lt;").replace(b">", b"&gt;")


def worksheets(texts):
    """Worksheet parts: corpus formulas as plain, shared and array formulas, a few per sheet."""
    head = (b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n<worksheet xmlns="http://schemas.'
            b'openxmlformats.org/spreadsheetml/2006/main"><sheetData>')
    tail = b"</sheetData></worksheet>"
    # The file form of a formula has no leading "=".
    formulas = [xml_text(t[1:] if t.startswith(b"=") else t) for t in texts if len(t) < 600]
    sheets = []
    for n in range(0, len(formulas), 3):
        a, b, c = (formulas[(n + k) % len(formulas)] for k in range(3))
        kind = (n // 3) % 5
        if kind == 0:
            rows = (b'<row r="1"><c r="A1"><f>' + a + b'</f><v>1</v></c><c r="B1" t="str"><f>' + b +
                    b'</f><v>x</v></c></row><row r="3"><c r="C3"><f>' + c + b"</f></c></row>")
        elif kind == 1:
            rows = (b'<row r="1"><c r="A1"><f t="shared" ref="A1:A3" si="0">' + a + b'</f><v>1</v></c></row>'
                    b'<row r="2"><c r="A2"><f t="shared" si="0"/><v>2</v></c></row>'
                    b'<row r="3"><c r="A3"><f t="shared" si="0"/></c><c r="B3"><f>' + b + b"</f></c></row>")
        elif kind == 2:
            rows = (b'<row r="2"><c r="B2"><f t="array" ref="B2:C3">' + a + b'</f><v>1</v></c><c r="C2"><v>1</v>'
                    b'</c></row><row r="3"><c r="B3"><v>1</v></c><c r="C3"><v>1</v></c><c r="D3"><f>' + b +
                    b"</f></c></row>")
        elif kind == 4:
            # Formula text split by a CDATA section, a comment and a processing instruction.
            half = len(a) // 2
            amp = a.rfind(b"&", 0, half)
            if amp >= 0 and b";" not in a[amp:half]:
                half = amp  # not inside an entity
            rows = (b'<row r="1"><c r="A1"><f>' + a[:half] + b'<![CDATA[]]>' + a[half:] + b'</f></c><c r="B1"><f>' +
                    b[:1] + b'<!-- x --> <?pi?>' + b[1:] + b'</f></c></row>')
        else:
            rows = (b'<row r="1"><c r="A1"><f>' + a + b'</f></c></row><row r="5"><c r="E5"><f t="dataTable" '
                    b'ref="E5:E6" dt2D="0" dtr="0" r1="A1"/><v>0</v></c></row><row r="7" spans="1:2"><c r="A7" '
                    b's="1"><f>' + c + b"</f><v>3</v></c></row>")
        sheets.append(head + rows + tail)
    return sheets


if __name__ == "__main__":
    main()
