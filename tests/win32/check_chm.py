#!/usr/bin/env python3
"""The compiled help file as a help viewer reads it, opened with an independent reader (chmlib's
extract_chmLib, Debian package libchm-bin): an ITSF file with its title and a binary contents and
index, every topic of help/topics.txt inside and listed in both the contents (.hhc) and the index
(.hhk), and every link and source of every page and of both lists leading to a file inside it
(and to an id of that file where it names one).

usage: check_chm.py CORVANE_CHM TOPICS_TXT
Exit status 0 passed, 1 failed, 77 skipped (no extract_chmLib here).
"""
import html.parser
import os
import posixpath
import re
import shutil
import subprocess
import sys
import tempfile
import urllib.parse

failures = []


def expect(condition, message):
    if not condition:
        failures.append(message)
    return condition


class Links(html.parser.HTMLParser):
    """The references (href, src, and a sitemap's Local values) and the ids of one file."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.references, self.ids, self.locals = [], set(), []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        for name in ("href", "src"):
            if attrs.get(name) is not None:
                self.references.append(attrs[name])
        for name in ("id", "name"):
            if attrs.get(name) and (name == "id" or tag == "a"):
                self.ids.add(attrs[name])
        if tag == "param" and (attrs.get("name") or "").lower() == "local":
            self.locals.append(attrs.get("value") or "")


def parse(path):
    links = Links()
    with open(path, encoding="latin-1") as f:  # the compiled pages are ASCII, lists in the ANSI code page
        links.feed(f.read())
    links.close()
    return links


def topic_files(path):
    files = []
    with open(path, encoding="ascii") as f:
        for line in f:
            if line.strip() and not line.lstrip().startswith("#"):
                files.append(line.split("|")[1].strip())
    return files


def check_reference(root, source, reference, parsed):
    """A reference from `source` (a path inside the file) leads to a file inside, and to an id."""
    if re.match(r"[A-Za-z][A-Za-z0-9+.-]*:", reference):
        return  # another scheme (a web address): not a file of the help
    target, _, anchor = reference.partition("#")
    target = urllib.parse.unquote(target)
    inside = posixpath.normpath(posixpath.join(posixpath.dirname(source), target)) if target else source
    where = f"{source}: {reference!r}"
    if not expect(not inside.startswith("../") and inside != "..", f"{where} leaves the help file"):
        return
    path = os.path.join(root, inside)
    if not expect(os.path.isfile(path), f"{where}: no {inside} in the help file"):
        return
    if anchor:
        if inside not in parsed:
            parsed[inside] = parse(path)
        expect(anchor in parsed[inside].ids, f"{where}: {inside} has no id {anchor!r}")


def check(chm, topics_txt, root):
    with open(chm, "rb") as f:
        expect(f.read(4) == b"ITSF", f"{chm} does not start with the ITSF signature")
    extracted = subprocess.run(["extract_chmLib", chm, root], capture_output=True, text=True)
    if not expect(extracted.returncode == 0, f"extract_chmLib failed: {extracted.stderr}"):
        return
    names = sorted(os.path.relpath(os.path.join(d, f), root).replace(os.sep, "/")
                   for d, _, fs in os.walk(root) for f in fs)

    with open(os.path.join(root, "#SYSTEM"), "rb") as f:
        expect(b"Corvane Help\0" in f.read(), "the help file's title is not Corvane Help")
    expect("#TOCIDX" in names, "the help file has no binary contents (#TOCIDX)")
    expect("$WWKeywordLinks/BTree" in names, "the help file has no binary index ($WWKeywordLinks)")

    topics = topic_files(topics_txt)
    expect(topics, f"{topics_txt} lists no topics")
    for topic in topics:
        expect(topic in names, f"the topic {topic} is not in the help file")

    parsed = {}
    for kind in ("hhc", "hhk"):
        lists = [n for n in names if n.endswith("." + kind)]
        if not expect(len(lists) == 1, f"the help file holds {len(lists)} .{kind} files, not one"):
            continue
        parsed[lists[0]] = sitemap = parse(os.path.join(root, lists[0]))
        listed = {posixpath.normpath(local.partition("#")[0]) for local in sitemap.locals}
        for topic in topics:
            expect(topic in listed, f"{lists[0]} does not lead to the topic {topic}")
        for local in sitemap.locals:
            check_reference(root, lists[0], local, parsed)

    pages = [n for n in names if n.lower().endswith((".html", ".htm"))]
    for page in pages:
        if page not in parsed:
            parsed[page] = parse(os.path.join(root, page))
    for page in pages:
        for reference in parsed[page].references:
            check_reference(root, page, reference, parsed)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    if not shutil.which("extract_chmLib"):
        print("extract_chmLib is not installed (Debian package libchm-bin): skipped")
        return 77
    with tempfile.TemporaryDirectory(prefix="corvane-chm-") as root:
        check(argv[1], argv[2], root)
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
