#!/usr/bin/env python3
"""Keeps the core portable: no operating-system header and no raw OS call
outside platform/ and unzip32/. A line may opt out with the marker
'source-check: allow' and a reason."""
import pathlib
import re
import sys

CORE = ("app", "catalog", "common", "unzip")
HEADERS = re.compile(
    r'#\s*include\s*[<"]('
    r'windows\.h|winreg\.h|shlobj\.h|shellapi\.h|urlmon\.h|winbase\.h|winuser\.h|'
    r'unistd\.h|dirent\.h|dlfcn\.h|fcntl\.h|pwd\.h|termios\.h|poll\.h|spawn\.h|'
    r'sys/[a-z_]+\.h|curl/curl\.h|filesystem|fstream|cstdio|stdio\.h|zlib\.h'
    r')[>"]')
CALLS = re.compile(
    r'(?<![\w:.>])('
    r'fopen|freopen|open|openat|close|read|write|unlink|rmdir|mkdir|rename|remove|stat|lstat|'
    r'opendir|readdir|chmod|dlopen|dlsym|fork|execv\w*|execl\w*|system|popen|getenv|setenv|'
    r'LoadLibrary\w*|GetProcAddress|CreateFile\w*|DeleteFile\w*|MoveFile\w*|CopyFile\w*|'
    r'FindFirstFile\w*|FindNextFile\w*|RegOpenKey\w*|RegQueryValue\w*|MessageBox\w*|'
    r'ExitProcess|_exit|exit'
    r')\s*\(')
FILESYSTEM = re.compile(r'std::(filesystem|ifstream|ofstream|fstream|getenv|system|exit)\b')
COMMENT = re.compile(r'//.*$')


def check(root: pathlib.Path) -> list[str]:
    problems = []
    for top in CORE:
        for path in sorted((root / top).rglob("*")):
            if path.suffix not in (".cpp", ".h", ".hpp", ".cc"):
                continue
            for number, line in enumerate(path.read_text(encoding="latin-1").splitlines(), 1):
                if "source-check: allow" in line:
                    continue
                where = f"{path.relative_to(root)}:{number}"
                if HEADERS.search(line):
                    problems.append(f"{where}: operating-system header: {line.strip()}")
                    continue
                code = COMMENT.sub("", line)
                if '"' in code:
                    code = re.sub(r'"(\\.|[^"\\])*"', '""', code)
                match = CALLS.search(code) or FILESYSTEM.search(code)
                if match:
                    problems.append(f"{where}: raw OS call '{match.group(1)}': {line.strip()}")
    return problems


def self_test() -> int:
    """The check must catch what it is there to catch."""
    import tempfile
    cases = {
        "app/a.cpp": ('#include <unistd.h>\n', 1),
        "catalog/b.cpp": ('int f() { return unlink("x"); }\n', 1),
        "unzip/c.h": ('#include <sys/stat.h>\n', 1),
        "common/d.cpp": ('auto p = std::filesystem::path("x");\n', 1),
        "common/e.cpp": ('void g() { platform::RemoveFile(p); file.Close(); }  // unlink(x)\n', 0),
        "app/f.cpp": ('int h() { return LoadLibraryA("x"); }  // source-check: allow test\n', 0),
    }
    failures = 0
    for name, (content, expected) in cases.items():
        with tempfile.TemporaryDirectory() as tmp:
            root = pathlib.Path(tmp)
            for top in CORE:
                (root / top).mkdir()
            (root / name).write_text(content)
            found = len(check(root))
            if found != expected:
                print(f"self-test {name}: expected {expected} problem(s), found {found}")
                failures += 1
    print(f"{len(cases) - failures} passed, {failures} failed")
    return 1 if failures else 0


def main() -> int:
    if len(sys.argv) > 1 and sys.argv[1] == "--self-test":
        return self_test()
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    problems = check(root)
    for problem in problems:
        print(problem)
    print(f"source check: {len(problems)} problem(s) in {', '.join(CORE)}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
