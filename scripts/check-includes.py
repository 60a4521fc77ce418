#!/usr/bin/env python3
"""Fails on an include that runs against the direction of the layers: app/ above db/, files/ and
download/, those above the platform libraries. It reports
- an include of app/ or of a generated form (ui_*.h) from platform/, db/, files/ or download/, their
  tests included, and from the tests' shared headers (tests/support/) that those tests include;
- an include of db/, files/, download/ or demo/ from platform/ or from the shared headers that a
  platform library's tests include;
- a platform header named by its path in the tree ("platform/..."), which bypasses the libraries'
  include folders;
- a header private to one platform library (beside its sources, in src/) from outside it."""
import os
import re
import subprocess
import sys

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
os.chdir(root)
files = subprocess.check_output(["git", "ls-files", "--cached", "--others", "--exclude-standard", "*.h", "*.cpp"],
                                text=True).split()
include = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
libraries = sorted({m.group(0) for f in files
                    if (m := re.match(r"platform/data_access/sql/|platform/[a-z_]+/", f))}, key=len, reverse=True)


def library_of(path):
    return next((lib for lib in libraries if path.startswith(lib)), None)


def top(path):
    return path.split("/", 1)[0]


def includes(path):
    with open(path, encoding="utf-8") as source:
        for number, line in enumerate(source, 1):
            if m := include.match(line):
                yield number, m.group(1)


def support_headers_of(path, seen):
    """The tests' shared headers that `path` includes, directly or through one another."""
    for _, target in includes(path):
        header = os.path.join("tests", target)
        if target.startswith("support/") and os.path.exists(header) and header not in seen:
            seen.add(header)
            support_headers_of(header, seen)
    return seen


# Tests beside a library stand on what they test: the shared headers they include count as theirs,
# those of a platform library's tests as the platform's.
support_layer = {}
for layer in ("download", "db", "files", "platform"):
    for f in files:
        if top(f) == layer and "/tests/" in f and os.path.exists(f):
            for header in support_headers_of(f, set()):
                support_layer[header] = layer

faults = []
for f in files:
    if not os.path.exists(f):
        continue
    for number, target in includes(f):
        where = f"{f}:{number}: \"{target}\""
        layer = support_layer.get(f, top(f))
        if layer in ("platform", "db", "files", "download") and (
                target.startswith("app/") or os.path.basename(target).startswith("ui_")):
            faults.append(f"{where}: app/ and its forms are reached from app/ only")
        if layer == "platform" and top(target) in ("db", "files", "download", "demo"):
            faults.append(f"{where}: the platform libraries know nothing of the layers above them")
        if target.startswith("platform/"):
            faults.append(f"{where}: include a platform header by its library's name, not its path")
        resolved = os.path.normpath(os.path.join(os.path.dirname(f), target))
        owner = library_of(resolved)
        if owner and os.path.exists(resolved) and resolved[len(owner):].startswith("src/") and \
                library_of(f) != owner:
            faults.append(f"{where}: a header private to {owner.rstrip('/')}")

for fault in faults:
    print(fault)
if faults:
    print(f"{len(faults)} include(s) against the layers", file=sys.stderr)
    sys.exit(1)
