#!/usr/bin/env python3
"""Corvane's help from its one set of sources: the pages in this folder and topics.txt.

usage: helpgen.py chm-project OUTDIR      the HTML Help project (corvane.hhp, .hhc, .hhk) and
                                          copies of the pages and the stylesheet, for chmcmd
       helpgen.py cpp OUT.cpp             the terminal text as the C++ source behind
                                          cli/help_text.h
       helpgen.py man OUT.1 PROGRAM       the manual page: the commands' usage as the program
                                          gives it (PROGRAM help --json), then every topic
       helpgen.py bash OUT PROGRAM        the bash completion script, from the same usage
       helpgen.py text [NAME]             the terminal text, to standard output

The pages may use only the elements that every output here can render (see BLOCK and INLINE);
anything else stops the run, so that no output silently drops what another one shows.
Standard library only.
"""
import html
import html.parser
import json
import os
import re
import shutil
import subprocess
import sys
import textwrap

HERE = os.path.dirname(os.path.abspath(__file__))
TITLE = "Corvane Help"
WIDTH = 78  # the terminal text's lines, well inside 80 columns
STYLESHEET = "corvane.css"

BLOCK = {"h1", "h2", "p", "ul", "ol", "li", "pre", "dl", "dt", "dd"}
INLINE = {"a", "code", "kbd", "em", "strong", "span"}
HEAD = {"html", "head", "title", "meta", "link", "body"}
VOID = {"meta", "link", "br"}


class HelpError(Exception):
    pass


# ---- The topic list ----

class Topic:
    def __init__(self, name, file, title, keywords):
        self.name, self.file, self.title, self.keywords = name, file, title, keywords


def read_topics():
    topics = []
    with open(os.path.join(HERE, "topics.txt"), encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            fields = [field.strip() for field in line.split("|")]
            if len(fields) != 4 or not all(fields[:3]):
                raise HelpError(f"topics.txt:{number}: want name | file | title | keywords")
            name, file, title, keywords = fields
            if not re.fullmatch(r"[a-z][a-z0-9-]*", name):
                raise HelpError(f"topics.txt:{number}: the name {name!r} is not a short lower-case word")
            topics.append(Topic(name, file, title, [k.strip() for k in keywords.split(";") if k.strip()]))
    names = [t.name for t in topics]
    files = [t.file for t in topics]
    if len(set(names)) != len(names) or len(set(files)) != len(files):
        raise HelpError("topics.txt names a topic or a file twice")
    pages = sorted(f for f in os.listdir(HERE) if f.endswith(".html"))
    if sorted(files) != pages:
        raise HelpError(f"topics.txt and the pages differ: listed {sorted(files)}, found {pages}")
    return topics


# ---- A page as a small tree ----

class Node:
    def __init__(self, tag, attrs):
        self.tag, self.attrs, self.children = tag, dict(attrs), []


class PageParser(html.parser.HTMLParser):
    def __init__(self, name):
        super().__init__(convert_charrefs=True)
        self.name = name
        self.root = Node("#root", {})
        self.stack = [self.root]

    def handle_starttag(self, tag, attrs):
        if tag not in BLOCK | INLINE | HEAD | VOID:
            raise HelpError(f"{self.name}: <{tag}> is not one of the elements the help renders")
        node = Node(tag, attrs)
        self.stack[-1].children.append(node)
        if tag not in VOID:
            self.stack.append(node)

    def handle_endtag(self, tag):
        if tag in VOID:
            return
        if self.stack[-1].tag != tag:
            raise HelpError(f"{self.name}: </{tag}> closes <{self.stack[-1].tag}>")
        self.stack.pop()

    def handle_data(self, data):
        self.stack[-1].children.append(data)


def find(node, tag):
    for child in node.children:
        if isinstance(child, Node):
            if child.tag == tag:
                return child
            found = find(child, tag)
            if found:
                return found
    return None


def text_of(node):
    return "".join(c if isinstance(c, str) else text_of(c) for c in node.children)


def read_page(topic):
    path = os.path.join(HERE, topic.file)
    with open(path, "rb") as f:
        raw = f.read()
    try:
        source = raw.decode("ascii")  # the help viewer's table of contents is not Unicode: entities only
    except UnicodeDecodeError as e:
        raise HelpError(f"{topic.file}: byte {e.start} is not ASCII (write an entity)") from None
    parser = PageParser(topic.file)
    parser.feed(source)
    parser.close()
    if len(parser.stack) != 1:
        raise HelpError(f"{topic.file}: <{parser.stack[-1].tag}> is never closed")
    title, body = find(parser.root, "title"), find(parser.root, "body")
    heading = body and find(body, "h1")
    for what, node in (("<title>", title), ("<h1>", heading)):
        if node is None or " ".join(text_of(node).split()) != topic.title:
            raise HelpError(f"{topic.file}: {what} must be {topic.title!r}")
    for char in text_of(body):
        if ord(char) < 32 and char not in "\n\t" or 127 <= ord(char) < 160:
            raise HelpError(f"{topic.file}: control character {ord(char):#x} in the text")
    return body


# ---- Blocks: what every renderer works from ----
# A block is (kind, depth, runs) for "h1", "h2", "p", "item", "term", "pre"; runs are
# (style, text) pairs with style "" / "code" / "em"; an item carries its marker.

def inline_runs(node, style=""):
    runs = []
    for child in node.children:
        if isinstance(child, str):
            runs.append((style, child))
        elif child.tag in INLINE:
            inner = "code" if child.tag in ("code", "kbd") else "em" if child.tag in ("em", "strong") else style
            runs.extend(inline_runs(child, inner))
        elif child.tag == "br":
            runs.append((style, "\n"))
        else:
            raise HelpError(f"<{child.tag}> inside a paragraph")
    return runs


def blocks_of(node, depth=0):
    out = []
    for child in node.children:
        if isinstance(child, str):
            if child.strip():
                raise HelpError(f"text outside a paragraph: {child.strip()[:40]!r}")
            continue
        tag = child.tag
        if tag in ("h1", "h2", "p", "dt"):
            out.append((tag if tag != "dt" else "term", depth, None, inline_runs(child)))
        elif tag == "pre":
            text = text_of(child)
            out.append(("pre", depth, None, [("code", text[1:] if text.startswith("\n") else text)]))
        elif tag in ("ul", "ol"):
            number = 0
            for item in child.children:
                if isinstance(item, str):
                    continue
                if item.tag != "li":
                    raise HelpError(f"<{item.tag}> directly in <{tag}>")
                number += 1
                out.extend(item_blocks(item, depth, "-" if tag == "ul" else f"{number}."))
        elif tag == "dl":
            out.extend(blocks_of(child, depth))
        elif tag == "dd":
            out.extend(blocks_of_mixed(child, depth + 1))
        else:
            raise HelpError(f"<{tag}> where a block belongs")
    return out


def blocks_of_mixed(node, depth):
    """A list item or definition: text, blocks, or text around blocks (each stretch of text a
    paragraph of its own)."""
    out, stretch = [], Node("#text", {})

    def flush():
        if "".join(text_of(stretch).split()):
            out.append(("p", depth, None, inline_runs(stretch)))
        stretch.children = []

    for child in node.children:
        if isinstance(child, Node) and child.tag in BLOCK:
            flush()
            wrapper = Node("#block", {})
            wrapper.children = [child]
            out.extend(blocks_of(wrapper, depth))
        else:
            stretch.children.append(child)
    flush()
    return out


def item_blocks(item, depth, marker):
    inner = blocks_of_mixed(item, depth + 1)
    kind, d, _, runs = inner[0]
    if kind != "p":
        raise HelpError("a list item must start with text")
    return [("item", d, marker, runs)] + inner[1:]


def squeeze(text):
    """Runs of white space as one space; a non-breaking space stays what it is."""
    return re.sub(r"[ \t\n\r\f\v]+", " ", text)


def plain(runs):
    return squeeze("".join(text for _, text in runs)).strip(" ")


# ---- The terminal text ----

def terminal_topic(topic, body):
    lines = []

    def wrap(text, indent, first=None):
        first = indent if first is None else first
        wrapped = textwrap.wrap(text, WIDTH, initial_indent=first, subsequent_indent=indent,
                                break_long_words=False, break_on_hyphens=False)
        return [line.replace("\xa0", " ") for line in wrapped]

    for kind, depth, marker, runs in blocks_of(body):
        indent = "    " * depth
        if kind == "h1":
            lines += [topic.title, "=" * len(topic.title)]
        elif kind == "h2":
            title = plain(runs)
            lines += ["", title, "-" * len(title)]
        elif kind == "pre":
            lines.append("")
            lines += [(indent + "    " + line).rstrip() for line in runs[0][1].rstrip("\n").split("\n")]
        elif kind == "item":
            outer = "    " * (depth - 1)
            lines.append("")
            lines += wrap(plain(runs), indent, f"{outer}{marker:>3} ")
        elif kind == "term":
            lines += [""] + wrap(plain(runs), indent)
        else:
            lines += [""] + wrap(plain(runs), indent)
    for line in lines:
        if len(line) > WIDTH:
            raise HelpError(f"{topic.file}: a line of {len(line)} columns: {line!r}")
    return "\n".join(lines) + "\n"


def terminal_text(topics, bodies):
    return "\n".join(terminal_topic(t, bodies[t.name]) for t in topics)


def cpp_literal(text):
    """UTF-8 bytes as C++ string literals, one source line per text line."""
    pieces = []
    for line in text.encode("utf-8").split(b"\n"):
        escaped = "".join(chr(b) if 32 <= b < 127 and chr(b) not in '"\\?' else f"\\{b:03o}" for b in line)
        pieces.append(f'"{escaped}\\n"')
    pieces[-1] = pieces[-1][:-3] + '"'  # the text's own last line feed is the one before
    return "\n        ".join(pieces)


def write_cpp(topics, bodies, out):
    entries = []
    for t in topics:
        entries.append(f'    {{"{t.name}", "{t.title}",\n        {cpp_literal(terminal_topic(t, bodies[t.name]))}}},')
    source = (
        "// Made by help/helpgen.py from help/*.html and help/topics.txt at build time: edit those.\n"
        '#include "cli/help_text.h"\n\n'
        "namespace corvane::cli::help {\n\n"
        "namespace {\n\n"
        "constexpr Topic kTopics[] = {\n" + "\n".join(entries) + "\n};\n\n"
        "}  // namespace\n\n"
        "std::span<const Topic> Topics() { return kTopics; }\n\n"
        "}  // namespace corvane::cli::help\n")
    write_if_changed(out, source)


# ---- The manual page ----

ROFF_CHARS = {"\u2014": "\\(em", "\u2013": "\\(en", "\u00a9": "\\(co", "\u00d7": "\\(mu", "\u00a0": "\\~",
              "\u2019": "\\(cq", "\u2018": "\\(oq", "\u201c": "\\(lq", "\u201d": "\\(rq", "\u2026": "\\&...",
              "\u2192": "\\(->"}


def roff_escape(text):
    out = []
    for char in text:
        if char == "\\":
            out.append("\\e")
        elif char == "-":
            out.append("\\-")
        elif ord(char) < 128:
            out.append(char)
        elif char in ROFF_CHARS:
            out.append(ROFF_CHARS[char])
        else:
            raise HelpError(f"no roff name for {char!r} (U+{ord(char):04X})")
    return "".join(out)


def roff_line(text):
    """A text line that roff cannot take for a request."""
    return "\\&" + text if text[:1] in (".", "'") else text


def roff_runs(runs):
    out = []
    for style, text in runs:
        text = roff_escape(squeeze(text))
        out.append(f"\\fB{text}\\fR" if style == "code" and text.strip() else
                   f"\\fI{text}\\fR" if style == "em" and text.strip() else text)
    return roff_line(squeeze("".join(out)).strip(" "))


def program_usage(program):
    """The program's command table (`corvane help --json`), checked against the topics: a command
    and a topic of one name would hide one of them from `corvane help NAME`."""
    try:
        run = subprocess.run([program, "help", "--json"], capture_output=True, text=True, check=True)
    except subprocess.CalledProcessError as e:
        raise HelpError(f"{program} help --json exits {e.returncode}: {e.stderr.strip()}")
    usage = json.loads(run.stdout)
    clash = {c["name"] for c in usage["commands"]} & set(usage["topics"])
    if clash:
        raise HelpError(f"commands and topics share the names {sorted(clash)}")
    return usage


def write_man(topics, bodies, program, out):
    usage = program_usage(program)
    # Left-aligned and never hyphenated: paths and options must stay whole.
    lines = [f'.TH CORVANE 1 "" "Corvane {usage["version"]}" "User Commands"', ".nh", ".ad l", ".SH NAME",
             "corvane \\- makes long spreadsheet formulas readable", ".SH SYNOPSIS", ".nf"]
    for command in usage["commands"]:
        for form in command["forms"]:
            name, _, rest = form.partition(" ")
            lines.append(roff_line(f"\\fBcorvane {roff_escape(name)}\\fR {roff_escape(rest)}".rstrip()))
    lines += [".fi", ".SH DESCRIPTION",
              "\\fBcorvane\\fR runs the commands of the Corvane add-in for Microsoft Excel on formulas "
              "given on its command line or standard input, or on the formulas of workbook files. "
              "The sections after COMMANDS are Corvane's help, which \\fBcorvane help\\fR prints as well.",
              ".SH COMMANDS"]
    for command in usage["commands"]:
        lines += [".TP", roff_line("\\fBcorvane " + roff_escape(command["forms"][0]) + "\\fR")]
        for form in command["forms"][1:]:  # several forms, one description: the tags stand together
            lines += [".PD 0", ".TP", roff_line("\\fBcorvane " + roff_escape(form) + "\\fR"), ".PD"]
        lines.append(roff_line(roff_escape(command["summary"][:1].upper() + command["summary"][1:]) + "."))
        lines.append(".RS")
        for option in command["options"]:
            lines += [".TP", roff_line("\\fB" + roff_escape(option["flag"]) + "\\fR"), roff_line(roff_escape(option["text"]))]
        lines += [".PP", "Exit status:"]
        for status in command["exits"]:
            code, _, text = status.partition(" ")
            lines += [".TP 4", code, roff_line(roff_escape(text))]
        lines.append(".RE")
    for topic in topics:
        for kind, depth, marker, runs in blocks_of(bodies[topic.name]):
            if kind == "h1":
                lines.append(f'.SH "{roff_escape(topic.title.upper())}"')
                continue
            if depth and kind != "item":
                lines.append(f".RS {4 * depth}")
            elif kind == "item" and depth > 1:
                lines.append(f".RS {4 * (depth - 1)}")
            if kind == "h2":
                lines.append(f'.SS "{roff_escape(plain(runs))}"')
            elif kind == "pre":
                lines += [".PP", ".RS 4", ".nf"]
                lines += [roff_line(roff_escape(l.rstrip())) for l in runs[0][1].rstrip("\n").split("\n")]
                lines += [".fi", ".RE"]
            elif kind == "item":
                bullet = "\\(bu" if marker == "-" else marker
                lines += [f".IP {bullet} 4", roff_runs(runs)]
            elif kind == "term":
                lines += [".PP", roff_line("\\fB" + roff_escape(plain(runs)) + "\\fR")]
            else:
                lines += [".PP", roff_runs(runs)]
            if (depth and kind != "item") or (kind == "item" and depth > 1):
                lines.append(".RE")
    write_if_changed(out, "\n".join(lines) + "\n")


# ---- The bash completion ----

def write_bash(program, out):
    """The completion script: the commands, each command's options and the values an option lists
    (on|off), files for a PATH, workbook files for the workbook forms, and command and topic names
    for help."""
    usage = program_usage(program)
    names = [c["name"] for c in usage["commands"]]
    cases = []
    for command in usage["commands"]:
        # A flag that takes its value after "=" (--color=WHEN) is offered up to the "=".
        flags = [f.split("=")[0] + "=" if "=" in f else f
                 for o in command["options"] for f in o["flag"].replace(",", "").split() if f.startswith("-")]
        values = []
        for option in command["options"]:
            flag, _, value = option["flag"].partition(" ")
            if not value or flag.endswith(","):
                continue
            if "|" in value:
                # A placeholder among the values (N in N|off) is the user's to type, not a word to offer.
                words = " ".join(word for word in value.split("|") if not word.isupper())
                values.append(f'      {flag}) COMPREPLY=($(compgen -W "{words}" -- "$cur")); return ;;')
            elif value.endswith((".xlsx", "PATH")):
                values.append(f"      {flag}) _filedir; return ;;")
            else:
                values.append(f"      {flag}) return ;;")
        operands = {"workbooks": "_filedir '@(xlsx|xlsm|xltx|xltm|XLSX|XLSM|XLTX|XLTM)'",
                    "help-names": f'COMPREPLY=($(compgen -W "{" ".join(names + usage["topics"])}" -- "$cur"))',
                    "none": ":"}[command["operands"]]
        cases.append(f"""    {command["name"]})
      case $prev in
{chr(10).join(values)}
      esac
      if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "{" ".join(flags)}" -- "$cur"))
        [[ ${{#COMPREPLY[@]}} == 1 && ${{COMPREPLY[0]}} == *= ]] && compopt -o nospace 2>/dev/null
      else
        {operands}
      fi ;;""")
    write_if_changed(out, f"""# bash completion for corvane(1), made by help/helpgen.py from `corvane help --json`
_corvane() {{
  local cur prev words cword
  _init_completion || return
  if ((cword == 1)); then
    COMPREPLY=($(compgen -W "{" ".join(names)} --help --version" -- "$cur"))
    return
  fi
  case ${{words[1]}} in
{chr(10).join(cases)}
  esac
}} &&
  complete -F _corvane corvane
""")


# ---- The HTML Help project ----

def write_chm_project(topics, out):
    os.makedirs(out, exist_ok=True)
    for name in [t.file for t in topics] + [STYLESHEET]:
        shutil.copyfile(os.path.join(HERE, name), os.path.join(out, name))

    def sitemap(items):
        return ('<!DOCTYPE HTML PUBLIC "-//IETF//DTD HTML//EN">\n<HTML>\n<HEAD></HEAD>\n<BODY>\n'
                '<OBJECT type="text/site properties">\n<param name="ImageType" value="Folder">\n</OBJECT>\n'
                "<UL>\n" + "".join(items) + "</UL>\n</BODY>\n</HTML>\n")

    def entry(name, files):
        params = "".join(f'<param name="Name" value="{html.escape(name)}">\n'
                         f'<param name="Local" value="{html.escape(f)}">\n' for f in files)
        return f'<LI><OBJECT type="text/sitemap">\n{params}</OBJECT>\n'

    write_if_changed(os.path.join(out, "corvane.hhc"), sitemap(entry(t.title, [t.file]) for t in topics))
    index = {}
    for t in topics:
        for keyword in [t.title] + t.keywords:
            index.setdefault(keyword, []).append(t.file)
    write_if_changed(os.path.join(out, "corvane.hhk"),
                     sitemap(entry(k, dict.fromkeys(index[k])) for k in sorted(index, key=str.casefold)))
    files = "\n".join([t.file for t in topics] + [STYLESHEET])
    write_if_changed(os.path.join(out, "corvane.hhp"), f"""[OPTIONS]
Compatibility=1.1 or later
Compiled file=corvane.chm
Contents file=corvane.hhc
Index file=corvane.hhk
Default topic={topics[0].file}
Default Window=main
Display compile progress=No
Full-text search=Yes
Binary TOC=Yes
Binary Index=Yes
Language=0x409 English (United States)
Title={TITLE}

[WINDOWS]
main="{TITLE}","corvane.hhc","corvane.hhk","{topics[0].file}","{topics[0].file}",,,,,0x2520,,0x3006,,,,,,,,0

[FILES]
{files}
""")


def write_if_changed(path, text):
    """Leaves an unchanged output alone, so that nothing after it is rebuilt for nothing."""
    data = text.encode("utf-8")
    if os.path.exists(path):
        with open(path, "rb") as f:
            if f.read() == data:
                return
    with open(path, "wb") as f:
        f.write(data)


def main(argv):
    if len(argv) < 2 or argv[1] not in ("chm-project", "cpp", "man", "bash", "text"):
        sys.stderr.write(__doc__)
        return 2
    try:
        topics = read_topics()
        bodies = {t.name: read_page(t) for t in topics}
        command, args = argv[1], argv[2:]
        if command == "chm-project" and len(args) == 1:
            write_chm_project(topics, args[0])
        elif command == "cpp" and len(args) == 1:
            write_cpp(topics, bodies, args[0])
        elif command == "man" and len(args) == 2:
            write_man(topics, bodies, args[1], args[0])
        elif command == "bash" and len(args) == 2:
            write_bash(args[1], args[0])
        elif command == "text" and len(args) <= 1:
            chosen = [t for t in topics if not args or t.name == args[0]]
            if not chosen:
                raise HelpError(f"no topic {args[0]!r}")
            sys.stdout.write(terminal_text(chosen, bodies))
        else:
            sys.stderr.write(__doc__)
            return 2
    except (HelpError, OSError) as e:
        sys.stderr.write(f"helpgen: {e}\n")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
