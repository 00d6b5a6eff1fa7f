#!/usr/bin/env python3
"""What a desktop runs for a link, as the freedesktop rules have it: the
default application of the link's scheme in a mimeapps.list, its desktop
entry in an applications folder, and that entry's Exec line with %u
replaced by the link.

    desktop_launch.py MIMEAPPS-LIST APPLICATIONS-FOLDER URL

Prints the command's arguments, each ended by a NUL byte; fails (status 1,
the reason on standard error) where any step finds nothing."""
import configparser
import pathlib
import sys

# Escapes of every string value of a desktop entry.
VALUE_ESCAPES = {"s": " ", "n": "\n", "t": "\t", "r": "\r", "\\": "\\"}


def read_groups(path):
    parser = configparser.ConfigParser(interpolation=None, strict=False, delimiters=("=",))
    parser.optionxform = str  # keys are case-sensitive
    parser.read_string(path.read_text(encoding="utf-8"))
    return parser


def unescape_value(value):
    out, i = "", 0
    while i < len(value):
        if value[i] == "\\" and i + 1 < len(value) and value[i + 1] in VALUE_ESCAPES:
            out += VALUE_ESCAPES[value[i + 1]]
            i += 2
        else:
            out += value[i]
            i += 1
    return out


def split_exec(line, url):
    """The Exec line's arguments: separated by spaces; a double-quoted one
    has ", `, $ and \\ escaped by a backslash; %u and %U become the link,
    %% a percent sign, the other field codes nothing."""
    args, current, quoted, started, i = [], "", False, False, 0
    while i < len(line):
        c = line[i]
        if quoted:
            if c == "\\" and i + 1 < len(line) and line[i + 1] in '"`$\\':
                current += line[i + 1]
                i += 2
                continue
            if c == '"':
                quoted = False
            else:
                current += c
        elif c == '"':
            quoted, started = True, True
        elif c == " ":
            if started:
                args.append(current)
            current, started = "", False
        elif c == "%" and i + 1 < len(line):
            code = line[i + 1]
            if code in "uU":
                current += url
                started = True
            elif code == "%":
                current += "%"
                started = True
            i += 2
            continue
        else:
            current += c
            started = True
        i += 1
    if quoted:
        raise SystemExit("unterminated quote in Exec=%s" % line)
    if started:
        args.append(current)
    return args


def main():
    mimeapps, applications, url = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]), sys.argv[3]
    scheme = "x-scheme-handler/" + url.split(":", 1)[0]
    try:
        listed = read_groups(mimeapps)["Default Applications"][scheme]
    except (FileNotFoundError, KeyError):
        print("no default application for %s in %s" % (scheme, mimeapps), file=sys.stderr)
        return 1
    entry = applications / [name for name in listed.split(";") if name][0]
    try:
        exec_line = read_groups(entry)["Desktop Entry"]["Exec"]
    except (FileNotFoundError, KeyError):
        print("no Exec line in %s" % entry, file=sys.stderr)
        return 1
    for arg in split_exec(unescape_value(exec_line), url):
        sys.stdout.write(arg + "\0")
    return 0


if __name__ == "__main__":
    sys.exit(main())
