#!/usr/bin/env python3
"""Extraction benchmark: update_3_7 --silent against unzip on the same deterministic archive.

Run after `bash scripts/build.sh` (it uses build/release). Prints the median ratio updater/unzip,
with and without the flush before the renames, and the updater's peak memory.
"""
import os, shutil, statistics, subprocess, sys, tempfile, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "release")
PASSWORD = "Hs6JqN2cXv9RkT4wBz7YpE3mUa8LdG5f"
RUNS = int(os.environ.get("RUNS", "5"))


def timed(cmd, env=None):
    """Wall time and peak resident memory (KiB) of one command."""
    start = time.perf_counter()
    child = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit("%s exited with %d" % (cmd[0], child.returncode))
    return seconds, usage.ru_maxrss


def fresh_kit(work):
    kit = os.path.join(work, "kit")
    shutil.rmtree(kit, ignore_errors=True)
    installation = os.path.join(kit, "Kit", "ВУС бистрал")
    os.makedirs(os.path.join(installation, "base"))
    for name in ("bistral.exe", os.path.join("base", "MainBase.accdb")):
        open(os.path.join(installation, name), "w").write("x")
    updater = os.path.join(kit, "update_3_7")
    os.makedirs(os.path.join(updater, "res"))
    shutil.copy(os.path.join(BUILD, "update_3_7"), updater)
    os.link(os.path.join(work, "res_ad.zip"), os.path.join(updater, "res", "res_ad.zip"))
    reg = os.path.join(kit, "registry.reg")
    open(reg, "w", encoding="utf-8").write(
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\vus_bistral]\r\n"
        '"ProgrammPath"="%s/"\r\n"ProgrammVersion"="3.6"\r\n' % installation)
    return kit, updater, reg


def main():
    work = sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp(prefix="bench-extraction-", dir=ROOT + "/build")
    archive = os.path.join(work, "res_ad.zip")
    if not os.path.exists(archive):
        subprocess.run([os.path.join(BUILD, "bench", "bench_extraction"), "prepare", work], check=True)
    tool = os.path.join(BUILD, "bench", "bench_extraction")
    results = {"updater": [], "unzip": [], "layer": [], "layer-noflush": []}
    peak = 0
    for _ in range(RUNS):
        kit, updater, reg = fresh_kit(work)
        env = dict(os.environ, KVARNEL_REGISTRY=reg)
        env.pop("DISPLAY", None)
        seconds, rss = timed([os.path.join(updater, "update_3_7"), "--silent"], env)
        results["updater"].append(seconds)
        peak = max(peak, rss)

        target = os.path.join(work, "unzipped")
        shutil.rmtree(target, ignore_errors=True)
        results["unzip"].append(timed(["unzip", "-o", "-q", "-P", PASSWORD, archive, "-d", target])[0])

        for key, extra in (("layer", []), ("layer-noflush", ["--no-flush"])):
            shutil.rmtree(target, ignore_errors=True)
            os.makedirs(target)
            results[key].append(timed([tool, "extract", archive, target] + extra)[0])
        shutil.rmtree(target, ignore_errors=True)
        shutil.rmtree(kit, ignore_errors=True)

    med = {k: statistics.median(v) for k, v in results.items()}
    print("runs: %d each, alternating" % RUNS)
    for k, v in results.items():
        print("  %-14s median %.2f s  (%s)" % (k, med[k], ", ".join("%.2f" % x for x in v)))
    print("ratio updater/unzip (with flush):        %.2f" % (med["updater"] / med["unzip"]))
    print("ratio archive layer/unzip, flush:        %.2f" % (med["layer"] / med["unzip"]))
    print("ratio archive layer/unzip, no flush:     %.2f" % (med["layer-noflush"] / med["unzip"]))
    print("updater peak memory: %.1f MB" % (peak / 1024.0))


if __name__ == "__main__":
    main()
