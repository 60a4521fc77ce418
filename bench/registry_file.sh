#!/usr/bin/env bash
# The unattended update on a kit whose registry file has grown large (other programs' keys in it):
# elapsed time and peak memory of one run, through /usr/bin/time.
#   bash bench/registry_file.sh [MiB [updater]]   (default 100, build/release/update_3_7)
# Needs scripts/build.sh first (the demo kit builder).
set -euo pipefail
cd "$(dirname "$0")/.."
mib="${1:-100}"
updater="$(realpath "${2:-build/release/update_3_7}")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
build/release/demo/make_demo_kit "$work/kit" "$updater" >/dev/null
registry="$work/kit/registry.reg"
python3 - "$registry" "$mib" <<'PY'
import sys
path, mib = sys.argv[1], int(sys.argv[2])
target = mib * 1024 * 1024
with open(path, "ab") as f:
    size = f.tell()
    key = 0
    while size < target:
        lines = [f"\r\n[HKEY_CURRENT_USER\\Software\\Other\\Key{key}]\r\n"]
        lines += [f'"Value{i}"="Some text of another program, number {key}.{i}"\r\n' for i in range(50)]
        lines.append(f'"Binary"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10\r\n')
        chunk = "".join(lines).encode()
        f.write(chunk)
        size += len(chunk)
        key += 1
PY
echo "registry file: $(du -m "$registry" | cut -f1) MiB"
cd "$work/kit/update_3_7"
KVARNEL_REGISTRY="$registry" XDG_RUNTIME_DIR="$work" /usr/bin/time -f "elapsed %e s, peak memory %M KiB, exit %x" \
    ./update_3_7 --silent >/dev/null || true
grep -c '"ProgrammVersion"="3.7"' "$registry" | sed 's/^/sections at 3.7: /'
