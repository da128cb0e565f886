#!/usr/bin/env python3
"""The help as a user gets it from an installed build: `cmake --install` puts the program, its
manual page and its bash completion where GNU layouts want them, man finds the page and renders it
without a warning, `corvane help` fits a terminal of 80 columns and holds every topic of
help/topics.txt, and the completion completes. `cpack` makes a Debian package holding the same;
as root with dpkg, the package is installed, run and removed again (removed whatever happens;
CORVANE_SKIP_DPKG=1 skips that part, and so does a corvane package installed already).

usage: check_help_install.py BUILD_DIR CMAKE BINDIR MANDIR TOPICS_TXT
Exit status 0 passed, 1 failed, 77 skipped (man is not installed).
"""
import os
import shutil
import subprocess
import sys
import tempfile

COMPLETION = os.path.join("share", "bash-completion", "completions", "corvane")
BASH_COMPLETION = "/usr/share/bash-completion/bash_completion"

failures = []


def expect(condition, message):
    if not condition:
        failures.append(message)
    return condition


def run(args, env=None):
    return subprocess.run(args, capture_output=True, text=True, env=env)


def read_topics(path):
    topics = []
    with open(path, encoding="ascii") as f:
        for line in f:
            if line.strip() and not line.lstrip().startswith("#"):
                name, _, title, _ = [field.strip() for field in line.split("|")]
                topics.append((name, title))
    return topics


def check_manual(prefix, mandir, topics):
    page = os.path.join(prefix, mandir, "man1", "corvane.1")
    if not expect(os.path.isfile(page), f"the manual page is not at {page}"):
        return
    env = dict(os.environ, MANPATH=os.path.join(prefix, mandir), MANWIDTH="80", LC_ALL="C.UTF-8")
    found = run(["man", "-w", "corvane"], env)
    expect(found.returncode == 0 and os.path.realpath(found.stdout.strip()) == os.path.realpath(page),
           f"man -w corvane with MANPATH in the install tree: {found.stdout.strip()!r} {found.stderr.strip()!r}")
    shown = run(["man", "--warnings", "-l", page], env)
    expect(shown.returncode == 0, f"man -l exits {shown.returncode}")
    expect(shown.stderr == "", f"man --warnings reports:\n{shown.stderr}")
    for section in ["NAME", "SYNOPSIS", "COMMANDS"] + [title.upper() for _, title in topics]:
        expect(f"\n{section}\n" in shown.stdout, f"the rendered manual page has no section {section}")
    expect("corvane help [COMMAND|TOPIC]" in shown.stdout, "the manual page's usage lacks corvane help [COMMAND|TOPIC]")
    if shutil.which("groff"):
        strict = run(["groff", "-ww", "-z", "-man", page])
        expect(strict.returncode == 0 and strict.stderr == "", f"groff -ww reports:\n{strict.stderr}")


def check_terminal_help(program, topics):
    whole = run([program, "help"])
    expect(whole.returncode == 0, f"corvane help exits {whole.returncode}: {whole.stderr}")
    for number, line in enumerate(whole.stdout.split("\n"), 1):
        expect(len(line) <= 80, f"corvane help, line {number} has {len(line)} columns: {line!r}")
        expect(all(c.isprintable() for c in line), f"corvane help, line {number} holds a control character")
    position = 0
    for name, title in topics:
        one = run([program, "help", name])
        expect(one.returncode == 0, f"corvane help {name} exits {one.returncode}")
        expect(one.stdout.startswith(f"{title}\n{'=' * len(title)}\n"), f"corvane help {name} does not start "
               f"with its title {title!r}")
        # Every topic is part of the whole help, in the order of the list.
        at = whole.stdout.find(one.stdout, position)
        expect(at >= 0, f"the topic {name} is not in corvane help after the topics before it")
        position = max(position, at)
    unknown = run([program, "help", "no-such-topic"])
    expect(unknown.returncode == 2, f"corvane help no-such-topic exits {unknown.returncode}, not 2")
    expect(all(name in unknown.stderr for name, _ in topics), "an unknown topic's message does not list every topic")
    for flag in ("--help", "-h"):
        usage = run([program, flag])
        expect(usage.returncode == 0 and "Usage: corvane COMMAND" in usage.stdout, f"corvane {flag} is not the usage")


def check_completion(script, folder):
    expect(run(["bash", "-n", script]).returncode == 0, "the completion script is not valid bash")
    if not os.path.isfile(BASH_COMPLETION):
        return
    for name in ("book.xlsx", "notes.txt"):
        open(os.path.join(folder, name), "w").close()
    # The words typed so far (the last one being completed) and what the completion offers.
    for words, offered in [("corvane for", "format"), ("corvane settings --always-notepad ''", "on off"),
                           ("corvane format --fit-width ''", "off"),
                           ("corvane unformat ''", "book.xlsx"), ("corvane help opt", "options"),
                           ("corvane unformat --o", "--output"), ("corvane unformat --co", "--color="), ("corvane about --", "--open --store --help")]:
        shell = (f"source {BASH_COMPLETION}; source {script}; cd {folder}; COMP_WORDS=({words}); "
                 "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_LINE=\"${COMP_WORDS[*]}\"; COMP_POINT=${#COMP_LINE}; "
                 "_corvane corvane \"${COMP_WORDS[-1]}\" \"${COMP_WORDS[-2]}\"; echo \"${COMPREPLY[*]}\"")
        got = run(["bash", "-c", shell]).stdout.strip()
        expect(got == offered, f"completing {words!r} offers {got!r}, not {offered!r}")


def check_package(build, cmake, scratch):
    cpack = os.path.join(os.path.dirname(cmake), "cpack")
    if not shutil.which(cpack) or not shutil.which("dpkg-deb"):
        return
    made = run([cpack, "-G", "DEB", "-B", scratch, "--config", os.path.join(build, "CPackConfig.cmake")])
    debs = [f for f in os.listdir(scratch) if f.endswith(".deb")]
    if not expect(made.returncode == 0 and len(debs) == 1, f"cpack made {debs}:\n{made.stdout}{made.stderr}"):
        return
    deb = os.path.join(scratch, debs[0])
    contents = run(["dpkg-deb", "--contents", deb]).stdout
    for path in ("./usr/bin/corvane", "./usr/share/man/man1/corvane.1", "./usr/" + COMPLETION):
        expect(f" {path}\n" in contents, f"the package lacks {path}:\n{contents}")
    depends = run(["dpkg-deb", "--field", deb, "Depends"]).stdout
    expect(all(lib in depends for lib in ("libsqlite3", "libfreetype", "libzip", "libpugixml")),
           f"the package's dependencies miss a library: {depends!r}")
    if (os.geteuid() != 0 or not shutil.which("dpkg") or os.environ.get("CORVANE_SKIP_DPKG") == "1"
            or run(["dpkg-query", "-W", "corvane"]).returncode == 0):
        return
    try:
        installed = run(["dpkg", "-i", deb])
        if expect(installed.returncode == 0, f"dpkg -i failed:\n{installed.stdout}{installed.stderr}"):
            expect(run(["/usr/bin/corvane", "--version"]).stdout.startswith("corvane "), "the packaged program has no version")
            expect(run(["man", "-w", "corvane"]).stdout.strip() == "/usr/share/man/man1/corvane.1",
                   "man does not find the packaged page")
    finally:
        removed = run(["dpkg", "-r", "corvane"])
        expect(removed.returncode == 0 and not os.path.exists("/usr/bin/corvane"),
               f"dpkg -r failed:\n{removed.stdout}{removed.stderr}")


def main(argv):
    if len(argv) != 6:
        sys.stderr.write(__doc__)
        return 2
    build, cmake, bindir, mandir, topics_txt = argv[1:]
    if not shutil.which("man"):
        print("man is not installed (Debian package man-db): skipped")
        return 77
    topics = read_topics(topics_txt)
    with tempfile.TemporaryDirectory(prefix="corvane-install-") as prefix:
        installed = run([cmake, "--install", build, "--prefix", prefix])
        if not expect(installed.returncode == 0, f"cmake --install failed:\n{installed.stdout}{installed.stderr}"):
            print("\n".join(failures))
            return 1
        program = os.path.join(prefix, bindir, "corvane")
        if expect(os.access(program, os.X_OK), f"the program is not at {program}"):
            check_terminal_help(program, topics)
            readme = os.path.join(os.path.dirname(topics_txt), os.pardir, "README.md")
            with open(readme, encoding="utf-8") as f:
                expect(f"```\n{run([program, '--help']).stdout}```\n" in f.read(),
                       "the README's section on the program does not show corvane --help as it prints it")
            version = run([program, "--version"])
            expect(version.returncode == 0 and version.stdout.startswith("corvane ") and "SQLite " in version.stdout,
                   f"the installed corvane --version says {version.stdout!r}")
        check_manual(prefix, mandir, topics)
        completion = os.path.join(prefix, COMPLETION)
        if expect(os.path.isfile(completion), f"the bash completion is not at {completion}"):
            os.mkdir(os.path.join(prefix, "typing"))
            check_completion(completion, os.path.join(prefix, "typing"))
        check_package(build, cmake, prefix)
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
