#!/usr/bin/env python3
"""The guide's code (spans and blocks) names no file that the unpacked
archive folders lack, no folder of the source tree, and on a qelhost or
qelswitch command line (and a qeltrace one, given its help with
--help-of) no option that the program's --help leaves out.

    guide_names.py GUIDE QELHOST_HELP QELSWITCH_HELP [--help-of PROGRAM HELP]... FOLDER...
"""
import os, re, sys

guide, qelhost_help, qelswitch_help, folders = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
helps = {"qelhost": open(qelhost_help).read(), "qelswitch": open(qelswitch_help).read()}
while folders[:1] == ["--help-of"]:
    helps[folders[1]] = open(folders[2]).read()
    folders = folders[3:]
text = open(guide, encoding="utf-8").read()
site = set()
for listed in re.findall(r"<!--\s*(?:site|system) files:(.*?)-->", text, re.S):
    site.update(name.lower() for name in listed.split())
held = set()
for folder in folders:
    for _, dirs, files in os.walk(folder):
        held.update(name.lower() for name in files + dirs)

code = re.findall(r"^```[^\n]*\n(.*?)^```", text, re.S | re.M)
prose = re.sub(r"^```[^\n]*\n.*?^```", "", text, flags=re.S | re.M)
code += re.findall(r"`([^`\n]+)`", prose)
problems = []
file_name = re.compile(r"[A-Za-z0-9_*.-]+\.(?:exe|dll|so|ini|scenario|txt|html|md|debug|zip|tar\.gz)\b", re.I)
for piece in code:
    for word in re.findall(r"(?:^|[\s\\/\"'(=])((?:scripts|build|tests|src|tools|cmake|fuzz|bench)[/\\][^\s`]*)", piece):
        problems.append(f"names {word}, of the source tree")
    for name in file_name.findall(piece):
        name = re.split(r"[\\/]", name)[-1].lower()
        if "*" in name or name in held or name in site or re.match(r"(qelkophv-.*)\.(zip|tar\.gz)$", name):
            continue
        problems.append(f"names {name}, which neither archive holds")
    for line in piece.splitlines():
        command = re.match(r"\s*(?:\S*[\\/])?(qel[a-z]+)(?:\.exe)?\s(.*)", line)
        if command and command.group(1) in helps:
            for option in re.findall(r"(?:^|\s)(--[a-z][a-z-]*)", command.group(2)):
                if not re.search(r"(?:^|\s|\[)" + re.escape(option) + r"\b", helps[command.group(1)], re.M):
                    problems.append(f"gives {command.group(1)} {option}, which its --help does not list")
for problem in sorted(set(problems)):
    print(f"check-release: FAIL {guide} {problem}")
sys.exit(1 if problems else 0)
