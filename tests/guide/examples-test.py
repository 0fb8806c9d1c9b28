#!/usr/bin/env python3
"""The guide's examples of tool output are real runs. Each example is a code
block behind a comment the page does not show:

    <!-- example: qelhost --port PORT write 0102 5 -->
    <!-- example (switcher --refuse 3, trace): qelhost --port PORT refusals.scenario -->
    <!-- example (file power-off.trace as qelkophv-trace.txt): qeltrace qelkophv-trace.txt -->

The command runs in an empty folder of its own, with the switcher emulator
on a pseudo-terminal (PORT; `switcher ARGS` are its options); a scenario
named on the command line and a `file` come from this test's folder. The
example must be what the run prints (its standard output, then its
standard error), or with `trace` the driver's trace: every line of the
example, in its order, with times, durations, port names and folders
masked. When one differs, the example and the run are printed whole.

    examples-test.py GUIDE QELHOST QELSWITCH QELTRACE
"""
import os, re, shlex, shutil, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
MARKER = re.compile(r"^<!-- example(?: \((.*?)\))?: (.*?) -->\n```[^\n]*\n(.*?)^```", re.M | re.S)
MASKS = [
    (re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d"), "<TIME>"),
    (re.compile(r"\b\d+ ms\b"), "<N> ms"),
    (re.compile(r'"ms":\d+'), '"ms":<N>'),
    (re.compile(r"(?:/dev/)?\bpts/\d+|\bCOM\d+\b"), "<PORT>"),
    (re.compile(r"\b[A-Z]:\\[^\s)\"]*"), "<FOLDER>"),
]


def masked(text, folder):
    text = text.replace(folder, "<FOLDER>")
    for pattern, mask in MASKS:
        text = pattern.sub(mask, text)
    return [line.rstrip() for line in text.splitlines()]


def in_order(wanted, lines):
    """Whether every wanted line is among `lines`, in that order; the first
    that is not, when one is not."""
    at = 0
    for line in wanted:
        while at < len(lines) and lines[at] != line:
            at += 1
        if at == len(lines):
            return line
        at += 1
    return None


def run(options, command, programs, folder):
    switcher, trace = None, os.path.join(folder, "driver-trace.txt")
    env = dict(os.environ, QELKOPHV_TRACE=trace)
    for option in filter(None, (part.strip() for part in (options or "").split(","))):
        if option.startswith("switcher"):
            pty_file = os.path.join(folder, "..", "switcher.pty")
            switcher = subprocess.Popen([programs["qelswitch"], "--pty-file", pty_file] + shlex.split(option)[1:],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for _ in range(100):
                if os.path.exists(pty_file) and os.path.getsize(pty_file):
                    break
                time.sleep(0.05)
            port = open(pty_file).read().strip().removeprefix("/dev/")
        elif option.startswith("file "):
            name, _, target = option[5:].partition(" as ")
            shutil.copy(os.path.join(HERE, name), os.path.join(folder, target or name))
    words = shlex.split(command)
    words[0] = programs[words[0]]
    for index, word in enumerate(words):
        if word == "PORT":
            words[index] = port
        elif word.endswith(".scenario"):
            shutil.copy(os.path.join(HERE, word), folder)
    try:
        done = subprocess.run(words, cwd=folder, env=env, capture_output=True, text=True, timeout=120)
    finally:
        if switcher:
            switcher.terminate()
            switcher.wait()
    if "trace" in [part.strip() for part in (options or "").split(",")]:
        return open(trace).read()
    return done.stdout + done.stderr


def main():
    guide, programs = sys.argv[1], dict(zip(["qelhost", "qelswitch", "qeltrace"], map(os.path.abspath, sys.argv[2:5])))
    failures, examples = 0, MARKER.findall(open(guide, encoding="utf-8").read())
    for options, command, example in examples:
        work = tempfile.mkdtemp(prefix="qel-guide-example.")
        folder = os.path.join(work, "run")
        os.mkdir(folder)
        try:
            output = run(options, command, programs, folder)
            missing = in_order(masked(example, folder), masked(output, folder))
        finally:
            shutil.rmtree(work)
        title = f"{command}" + (f" ({options})" if options else "")
        if missing is None:
            print(f"ok {title}")
            continue
        failures += 1
        print(f"FAIL {title}: the run prints no line {missing!r} where the guide has it")
        print("---- the guide's example:")
        print(example, end="")
        print("---- the run:")
        print(output, end="" if output.endswith("\n") else "\n")
        print("----")
    if not examples:
        print("FAIL the guide marks no example")
        return 1
    print(f"{len(examples) - failures} of {len(examples)} examples are what the tools print")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
