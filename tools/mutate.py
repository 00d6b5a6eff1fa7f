#!/usr/bin/env python3
"""Mutation testing: how many small faults in the code do the tests catch?

Applies a fixed, seeded sample of source mutations to the code (relational
operators turned, integer constants moved by one, a statement deleted, a
condition negated, a returned value changed), builds each mutant
incrementally in a release build without sanitizers, runs the Linux test
programs until one fails, and reports the score and every surviving mutant
with its place. The sources are copied first; the working tree is never
touched.

    tools/mutate.py [--seed N] [--count N] [--build DIR] [--only FOLDER] [--list]
    tools/mutate.py --pick 'unzip32/src/Wildcard.cpp:21 constant: size_t starText = 1;'

Only files of the Linux build are mutated: the Windows layer's files are
compiled for Windows only, where each mutant would need a cross build and
Wine. A mutant that does not compile is no fault the tests could catch; it
is left out and the next one of the sample taken instead.
"""
import argparse
import os
import pathlib
import random
import re
import shutil
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
FOLDERS = ["app", "catalog", "unzip", "common", "platform", "unzip32"]
WINDOWS_ONLY = re.compile(r"(^|/)win32/|_win32\.cpp$")

RELATIONAL = {" < ": " <= ", " <= ": " < ", " > ": " >= ", " >= ": " > ",
              " == ": " != ", " != ": " == "}
INTEGER = re.compile(r"(?<![\w.])(\d+)(?![\w.'])")
CONDITION = re.compile(r"^(\s*(?:\}\s*else\s+)?(?:if|while)\s*)\((.*)\)(\s*\{?\s*)$")
RETURN = re.compile(r"^(\s*return\s+)(true|false|-?\d+)(;\s*)$")
STATEMENT = re.compile(r"^\s*(?!return\b|break\b|continue\b|case\b|default\b|using\b|"
                       r"static_assert\b|throw\b)[A-Za-z_:][\w:.\->\[\]]*\s*(\(|=|\+=|-=|\+\+|--|<<=|>>=|\|=|&=)"
                       r".*;\s*$")


def code_files():
    for folder in FOLDERS:
        for path in sorted((ROOT / folder).rglob("*")):
            relative = path.relative_to(ROOT).as_posix()
            if path.suffix in (".cpp", ".h") and not WINDOWS_ONLY.search(relative):
                yield relative


def plain_lines(text):
    """Each line with its comments and the insides of its string and
    character literals blanked (same length): mutations never land there."""
    result, quote, comment = [], None, False
    for line in text.split("\n"):
        out, i = [], 0
        while i < len(line):
            c = line[i]
            if comment:
                if line.startswith("*/", i):
                    comment = False
                    out.append("  ")
                    i += 2
                    continue
                out.append(" ")
            elif quote:
                if c == "\\":
                    out.append("  ")
                    i += 2
                    continue
                if c == quote:
                    quote = None
                    out.append(c)
                else:
                    out.append(" ")
            elif line.startswith("//", i):
                out.append(" " * (len(line) - i))
                break
            elif line.startswith("/*", i):
                comment = True
                out.append("  ")
                i += 2
                continue
            else:
                if c in "\"'" and not (c == "'" and i > 0 and line[i - 1].isalnum()):
                    quote = c
                out.append(c)
            i += 1
        quote = None  # literals end with their line
        result.append("".join(out)[:len(line)].ljust(len(line)))
    return result


def candidates(relative):
    text = (ROOT / relative).read_text()
    for number, plain in enumerate(plain_lines(text), 1):
        stripped = plain.strip()
        if not stripped or stripped.startswith(("#", "static_assert")):
            continue
        for old, new in RELATIONAL.items():
            for match in re.finditer(re.escape(old), plain):
                # "a < b" inside a template argument list has no spaces.
                yield ("relational", number, match.start(), old, new)
        for match in INTEGER.finditer(plain):
            value = int(match.group(1))
            yield ("constant", number, match.start(), match.group(1), str(value + 1))
        match = CONDITION.match(plain)
        if match and plain.count("(") == plain.count(")"):
            yield ("negated", number, 0, None, None)
        match = RETURN.match(plain)
        if match:
            value = match.group(2)
            changed = {"true": "false", "false": "true"}.get(value)
            if changed is None:
                changed = "1" if value == "0" else "0"
            yield ("return", number, match.start(2), value, changed)
        elif (relative.endswith(".cpp") and STATEMENT.match(plain) and
              plain.rstrip().endswith(";") and "{" not in plain):
            yield ("deleted", number, 0, None, None)


def apply(text, mutant):
    kind, number, column, old, new = mutant
    lines = text.split("\n")
    line = lines[number - 1]
    if kind in ("relational", "constant", "return"):
        assert line[column:column + len(old)] == old, (mutant, line)
        line = line[:column] + new + line[column + len(old):]
    elif kind == "negated":
        match = CONDITION.match(plain_lines(text)[number - 1])
        inner = line[match.start(2):match.end(2)]
        line = f"{line[:match.start(2) - 1]}(!({inner})){line[match.end(2) + 1:]}"
    elif kind == "deleted":
        shown = "deleted: " + line.strip()
        line = re.sub(r"\S.*$", ";", line)
        lines[number - 1] = line
        return "\n".join(lines), shown
    lines[number - 1] = line
    return "\n".join(lines), line.strip()


def run(command, cwd, timeout, env=None):
    try:
        return subprocess.run(command, cwd=cwd, env=env, timeout=timeout,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def test_programs(build):
    programs = sorted(p for p in (build / "bin").iterdir()
                      if p.name.endswith("_test") and os.access(p, os.X_OK))
    replays = sorted((build / "bin").glob("fuzz_replay_*"))
    return programs + replays


def suite(build, source, first, timeout):
    """Runs the test programs, the ones named after the mutated module first;
    returns the first that failed, or None."""
    env = dict(os.environ, QV_SOURCE_DIR=str(source), ASAN_OPTIONS="", UBSAN_OPTIONS="")
    programs = test_programs(build)
    programs.sort(key=lambda p: (0 if any(word in p.name for word in first) else 1, p.name))
    for program in programs:
        arguments = [str(program), "--gtest_brief=1"]
        if program.name.startswith("fuzz_replay_"):
            target = program.name[len("fuzz_replay_"):]
            arguments = [str(program), str(source / "fuzz" / "corpus" / target)]
        if run(arguments, build, timeout, env) != 0:
            return program.name
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seed", type=int, default=20261207)
    parser.add_argument("--count", type=int, default=150)
    parser.add_argument("--build", default=str(ROOT / "build" / "mutate"))
    parser.add_argument("--timeout", type=int, default=120, help="seconds per test program")
    parser.add_argument("--list", action="store_true", help="print the sample and stop")
    parser.add_argument("--pick", action="append", default=[],
                        help="run only the mutants whose place, as the report prints it, starts with "
                             "this text (repeatable; @FILE reads one a line), e.g. an earlier run's survivors")
    parser.add_argument("--only", action="append", default=[],
                        help="mutate only files below this folder or with this prefix (repeatable)")
    options = parser.parse_args()

    files = [f for f in code_files() if not options.only or f.startswith(tuple(options.only))]
    pool = [(relative, mutant) for relative in files for mutant in candidates(relative)]
    random.Random(options.seed).shuffle(pool)
    if options.pick:
        def place(relative, mutant):
            shown = apply((ROOT / relative).read_text(), mutant)[1]
            return f"{relative}:{mutant[1]} {mutant[0]}: {shown}"
        picks = []
        for p in options.pick:  # "@FILE": one place a line
            picks += pathlib.Path(p[1:]).read_text().splitlines() if p.startswith("@") else [p]
        picks = [p.strip() for p in picks if p.strip()]
        pool = [(r, m) for r, m in pool
                if any(p.startswith(f"{r}:{m[1]} ") for p in picks) and
                any(place(r, m).startswith(p) for p in picks)]
        options.count = min(options.count, len(pool))
    if options.list:
        for relative, mutant in pool[:options.count]:
            print(relative, *mutant[:2])
        print(f"{len(pool)} candidate mutants", file=sys.stderr)
        return 0

    work = pathlib.Path(options.build)
    source, build = work / "src", work / "build"
    if source.exists():
        shutil.rmtree(source)
    shutil.copytree(ROOT, source, ignore=shutil.ignore_patterns("build", "dist", ".git", ".cache"))
    # The interoperability test's npm writers live in the build folder.
    (source / "build").mkdir()
    if (ROOT / "build" / "npm").exists():
        (source / "build" / "npm").symlink_to(ROOT / "build" / "npm")
    configure = ["cmake", "-S", str(source), "-B", str(build), "-G", "Ninja",
                 "-DCMAKE_BUILD_TYPE=Release", "-DQV_SANITIZE=OFF", "-DQV_WERROR=OFF",
                 "-DQV_BUILD_BENCH=OFF"]
    if subprocess.run(configure, stdout=subprocess.DEVNULL).returncode != 0:
        sys.exit("mutate: cannot configure the build")
    compile_all = ["cmake", "--build", str(build), "-j", str(os.cpu_count() or 2)]
    if subprocess.run(compile_all, stdout=subprocess.DEVNULL).returncode != 0:
        sys.exit("mutate: the unmutated sources do not build")
    failing = suite(build, source, [], options.timeout)
    if failing is not None:
        sys.exit(f"mutate: {failing} fails without any mutation")

    killed, survived, stillborn = [], [], 0
    started = time.monotonic()
    for relative, mutant in pool:
        if len(killed) + len(survived) >= options.count:
            break
        path = source / relative
        original = path.read_text()
        mutated, shown = apply(original, mutant)
        path.write_text(mutated)
        try:
            if run(compile_all, source, 600) != 0:
                stillborn += 1
                continue
            module = pathlib.Path(relative)
            words = [module.parts[0], module.stem.lower()]
            failed = suite(build, source, words, options.timeout)
        finally:
            path.write_text(original)
        place = f"{relative}:{mutant[1]} {mutant[0]}: {shown}"
        (killed if failed else survived).append((place, failed))
        done = len(killed) + len(survived)
        print(f"[{done}/{options.count}] {'killed by ' + failed if failed else 'SURVIVED'}: {place}",
              flush=True)
    # Put the unmutated build back for the next run.
    subprocess.run(compile_all, stdout=subprocess.DEVNULL)

    total = len(killed) + len(survived)
    minutes = (time.monotonic() - started) / 60
    print(f"\nmutation score: {len(killed)}/{total} = {100 * len(killed) / max(total, 1):.1f}% "
          f"(seed {options.seed}; {stillborn} mutants did not compile and were replaced; "
          f"{minutes:.0f} min)")
    if survived:
        print("surviving mutants:")
        for place, _ in survived:
            print("  " + place)
    return 0


if __name__ == "__main__":
    sys.exit(main())
