"""The guide's examples of qeltrace's views, each the block after a
"<!-- views example: ARGS -->" comment in docs/guide.md (its first line the
command as the guide shows it), for the views tests to hold against a run.

    guide_views.py GUIDE exact QELTRACE FOLDER MOMENT...   run each example
        but --follow in FOLDER (MOMENTn in ARGS: the n-th moment), and compare
        with times, durations and the moment masked
    guide_views.py GUIDE follow OUTPUT                     the --follow
        example's lines but its status lines, in order, in OUTPUT
"""
import re
import subprocess
import sys


def examples(guide):
    text = open(guide, encoding="utf-8").read()
    for match in re.finditer(r"<!-- views example: (.*?) -->\n```\n(.*?)```\n", text, re.S):
        yield match[1].split(), match[2].splitlines()[1:]


def masked(line, digits=False):
    line = re.sub(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d", "TIME", line)
    line = re.sub(r" +\d+ ms", " N ms", line)
    line = re.sub(r"The state at [^,]*,", "The state at MOMENT,", line)
    line = re.sub(r"/dev/pts/\d+|pts/\d+|/tmp/\w+", "PORT", line)
    return re.sub(r"\d+", "N", line) if digits else line.rstrip()


def main():
    guide, mode = sys.argv[1:3]
    problems = []
    if mode == "exact":
        qeltrace, folder, moments = sys.argv[3], sys.argv[4], sys.argv[5:]
        for args, expected in examples(guide):
            if "--follow" in args:
                continue
            args = [moments[int(a[6:]) - 1] if a.startswith("MOMENT") else a for a in args]
            got = subprocess.run([qeltrace, *args, "qelkophv-trace.txt"], cwd=folder, capture_output=True, text=True)
            if [masked(l) for l in got.stdout.rstrip().splitlines()] != [masked(l) for l in expected]:
                problems.append(f"qeltrace {' '.join(args)} prints, times masked:\n{got.stdout}")
    else:
        shown = [masked(l, True) for l in open(sys.argv[3], encoding="latin-1").read().splitlines()]
        for args, expected in examples(guide):
            if "--follow" not in args:
                continue
            at = 0
            for line in expected:
                if line.startswith("line ") and "; last minute" in line:
                    continue
                want = masked(line, True)
                while at < len(shown) and shown[at] != want:
                    at += 1
                if at == len(shown):
                    problems.append(f"the guide's --follow line is not in the run, or out of order: {line}")
                    break
    for problem in problems:
        print("FAIL the guide's example: " + problem)
    sys.exit(1 if problems else 0)


main()
