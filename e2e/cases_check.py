#!/usr/bin/env python3
"""Checks that ctest runs every case of the end-to-end suite under one Wine, each exactly once:
the cases the program holds, as it lists them itself under that Wine, against the cases each of
the Wine's suite entries (ctest label "suite") selects with its filter, again as the program
lists them. Fails naming each case that no entry runs, that two entries run, and each entry that
runs none. Usage: cases_check.py CTEST BUILD_DIR WINE RUNNER...
(RUNNER: the command that runs the suite's program there, e.g. e2e/wine-env run DIR ARCH EXE)"""
import json
import os
import re
import subprocess
import sys
import tempfile

ctest, build, wine, *runner = sys.argv[1:]


def listed(*options):
    """The cases the program lists, "Suite.Case" each, in its own order."""
    run = subprocess.run([*runner, "--gtest_list_tests", *options], capture_output=True,
                         text=True, timeout=60)
    if run.returncode != 0:
        sys.exit(f"FAIL: the suite's program could not list its cases {' '.join(options)}:\n"
                 f"{run.stdout}{run.stderr}")
    cases, suite = [], None
    for line in run.stdout.replace("\r", "").splitlines():
        if m := re.fullmatch(r"(\S+\.)\s*(#.*)?", line):
            suite = m[1]
        elif (m := re.fullmatch(r"  (\S+)\s*(#.*)?", line)) and suite:
            cases.append(suite + m[1])
    return cases


def copy_test_files(build, into):
    """BUILD's CTestTestfile.cmake and those of the folders it names, copied into INTO: ctest
    writes a Testing/Temporary/LastTest.log beside the files it reads, even when it only shows
    them, and in BUILD that would replace the log of the run this check is part of."""
    os.makedirs(into, exist_ok=True)
    with open(os.path.join(build, "CTestTestfile.cmake")) as f:
        text = f.read()
    with open(os.path.join(into, "CTestTestfile.cmake"), "w") as f:
        f.write(text)
    for folder in re.findall(r'^subdirs\("([^"]+)"\)$', text, re.M):
        copy_test_files(os.path.join(build, folder), os.path.join(into, folder))


with tempfile.TemporaryDirectory() as view:
    copy_test_files(build, view)
    shown = subprocess.run([ctest, "--test-dir", view, "--show-only=json-v1"],
                           capture_output=True, text=True, check=True, timeout=60)
entries = {}
for test in json.loads(shown.stdout)["tests"]:
    labels = next((p["value"] for p in test.get("properties", []) if p["name"] == "LABELS"), [])
    if wine in labels and "suite" in labels:
        filters = [arg.split("=", 1)[1] for arg in test["command"]
                   if arg.startswith("--gtest_filter=")]
        entries[test["name"]] = filters[-1] if filters else "*"
if not entries:
    sys.exit(f"FAIL: ctest has no suite entry labelled {wine}")

held = listed()
runs = {case: [] for case in held}
failures = []
for name, selection in entries.items():
    cases = listed(f"--gtest_filter={selection}")
    if not cases:
        failures.append(f"{name} runs no case (--gtest_filter={selection})")
    for case in cases:
        runs.setdefault(case, []).append(name)
    print(f"{name}: {len(cases)} cases")
for case, names in runs.items():
    if not names:
        failures.append(f"{case} is run by no ctest entry")
    elif len(names) > 1:
        failures.append(f"{case} is run by {len(names)} entries: {', '.join(names)}")
for failure in failures:
    print(f"FAIL: {failure}", file=sys.stderr)
if failures:
    sys.exit(1)
print(f"{wine}: each of the {len(held)} cases the suite holds runs in exactly one of "
      f"{len(entries)} ctest entries")
