"""Runs mypy --strict with the plug-in modules' type stubs on script files.

    check_stubs.py --stubs DIR --cache DIR --clean FILE...      no error may be reported
    check_stubs.py --stubs DIR --cache DIR --mistakes FILE...   exactly the marked errors

In a file of mistakes, every line that must be reported ends in a comment `# error: TEXT`: mypy
must report an error on that line whose message contains TEXT, and no error on any other line.
Prints one line per missed or unexpected report, then a closing count line; exit status 1 on any.
"""
import argparse
import os
import re
import subprocess
import sys

REPORT = re.compile(r"^(?P<path>[^:]+):(?P<line>\d+): error: (?P<message>.*)$")
MARK = re.compile(r"#\s*error:\s*(?P<text>.+?)\s*$")


def run_mypy(stubs, cache, files):
    environment = dict(os.environ, MYPYPATH=stubs)
    command = [sys.executable, "-m", "mypy", "--strict", "--no-error-summary",
               "--show-error-codes", "--no-color-output", "--cache-dir", cache] + files
    finished = subprocess.run(command, env=environment, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, universal_newlines=True)
    reports = {}
    for text in finished.stdout.splitlines():
        match = REPORT.match(text)
        if match:
            key = (os.path.realpath(match["path"]), int(match["line"]))
            reports.setdefault(key, []).append(match["message"])
        elif text.strip() and ": note: " not in text:
            # Anything else (a crash, a missing stub) is a failure of its own.
            reports.setdefault(("mypy", 0), []).append(text)
    return reports


def marks_of(path):
    marks = {}
    with open(path, encoding="utf-8") as source:
        for number, text in enumerate(source, start=1):
            match = MARK.search(text)
            if match:
                marks[(os.path.realpath(path), number)] = match["text"]
    return marks


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stubs", required=True)
    parser.add_argument("--cache", required=True)
    group = parser.add_mutually_exclusive_group(required=True)
    group.add_argument("--clean", nargs="+")
    group.add_argument("--mistakes", nargs="+")
    options = parser.parse_args()
    files = options.clean or options.mistakes
    reports = run_mypy(options.stubs, options.cache, files)
    marks = {}
    if options.mistakes:
        for path in files:
            marks.update(marks_of(path))
    failures = []
    for (path, line), text in sorted(marks.items()):
        messages = reports.get((path, line), [])
        if not any(text in message for message in messages):
            failures.append("%s:%d: not reported: %s (mypy said: %s)"
                            % (path, line, text, "; ".join(messages) or "nothing"))
    for (path, line), messages in sorted(reports.items()):
        if (path, line) not in marks:
            failures.append("%s:%d: unexpected: %s" % (path, line, "; ".join(messages)))
    for failure in failures:
        print(failure)
    if options.mistakes:
        failed = len(failures)
        passed = len(marks) - sum(1 for failure in failures if ": not reported: " in failure)
    else:
        failed = len({path for path, _ in reports})
        passed = len(files) - failed
    print("%d passed, %d failed" % (max(passed, 0), failed))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
