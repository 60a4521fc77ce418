#!/usr/bin/env python3
"""Extraction benchmark: update_3_7 --silent against unzip, bsdtar and 7z on the same archives.

Run after `bash scripts/build.sh` (it uses build/release); `bash bench/run.sh extraction` runs it too.

    python3 bench/run_extraction.py [--quick] [--runs N] [--shapes files,small,large]
                                    [--descriptors N] [work folder]

Three deterministic shapes of the update archive (see bench/bench_extraction.cpp): 2,000 files of
20-180 KB, 20,000 files of 1-8 KB, one 400 MB file; --quick makes each a tenth of that. Every command
runs under `ulimit -n 1024`, in turns, on a fresh demo-like kit or an empty folder. For each shape it
prints the medians, the updater's time against the fastest peer (below 1: the updater is faster), the
updater's peak memory, and what durability costs in the archive layer (flush on against off). For the
one large item it also prints how fast libzip and the item reader read it, without the disk.

The peers come from Debian's unzip, libarchive-tools and p7zip-full, installed here when missing.
"""
import argparse, os, resource, shutil, statistics, subprocess, sys, tempfile, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "release")
TOOL = os.path.join(BUILD, "bench", "bench_extraction")
PASSWORD = "Hs6JqN2cXv9RkT4wBz7YpE3mUa8LdG5f"
DESCRIPTORS = 1024
PEERS = {
    # name: (executable, Debian package, command for archive and target folder)
    "unzip": ("unzip", "unzip", lambda a, t: ["unzip", "-o", "-q", "-P", PASSWORD, a, "-d", t]),
    "bsdtar": ("bsdtar", "libarchive-tools", lambda a, t: ["bsdtar", "--passphrase", PASSWORD, "-xf", a, "-C", t]),
    "7z": ("7z", "p7zip-full", lambda a, t: ["7z", "x", "-p" + PASSWORD, "-o" + t, "-y", "-bd", a]),
}


def install_peers():
    missing = [pkg for exe, pkg, _ in PEERS.values() if shutil.which(exe) is None]
    if not missing:
        return
    if os.geteuid() != 0:
        sys.exit("missing %s: install them (as root: apt-get install %s)" % (", ".join(missing), " ".join(missing)))
    print("installing %s" % " ".join(missing), flush=True)
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "update", "-qq"], check=True, env=env)
    subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends"] + missing, check=True, env=env,
                   stdout=subprocess.DEVNULL)


def limit_descriptors():
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    limit = DESCRIPTORS if hard == resource.RLIM_INFINITY else min(DESCRIPTORS, hard)
    resource.setrlimit(resource.RLIMIT_NOFILE, (limit, limit))


def timed(cmd, env=None, check=True):
    """Wall time, peak resident memory (KiB) and the last error line of one command under the
    descriptor limit; the error line is None when it succeeded."""
    with tempfile.TemporaryFile() as out:
        start = time.perf_counter()
        child = subprocess.Popen(cmd, env=env, stdout=out, stderr=subprocess.STDOUT, preexec_fn=limit_descriptors)
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - start
        code = os.waitstatus_to_exitcode(status)
        error = None
        if code != 0:
            out.seek(0)
            lines = [l for l in out.read().decode("utf-8", "replace").splitlines() if l.strip()]
            error = "exit %d: %s" % (code, lines[-1] if lines else "")
            if check:
                sys.exit("%s failed with %s" % (" ".join(cmd[:2]), error))
    return seconds, usage.ru_maxrss, error


def fresh_kit(work, archive):
    kit = os.path.join(work, "kit")
    shutil.rmtree(kit, ignore_errors=True)
    installation = os.path.join(kit, "Kit", "ВУС бистрал")
    os.makedirs(os.path.join(installation, "base"))
    for name in ("bistral.exe", os.path.join("base", "MainBase.accdb")):
        open(os.path.join(installation, name), "w").write("x")
    updater = os.path.join(kit, "update_3_7")
    os.makedirs(os.path.join(updater, "res"))
    shutil.copy(os.path.join(BUILD, "update_3_7"), updater)
    os.link(archive, os.path.join(updater, "res", "res_ad.zip"))
    reg = os.path.join(kit, "registry.reg")
    open(reg, "w", encoding="utf-8").write(
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\vus_bistral]\r\n"
        '"ProgrammPath"="%s/"\r\n"ProgrammVersion"="3.6"\r\n' % installation)
    return kit, updater, reg


def empty_folder(work):
    target = os.path.join(work, "target")
    shutil.rmtree(target, ignore_errors=True)
    os.makedirs(target)
    return target


def run_shape(shape, work, runs, quick):
    archive = os.path.join(work, "res_ad.zip")
    if not os.path.exists(archive):
        subprocess.run([TOOL, "prepare", work, shape] + (["--quick"] if quick else []), check=True)
    results = {name: [] for name in ["updater"] + list(PEERS) + ["layer", "layer-noflush"]}
    peak = 0
    failures = []
    for _ in range(runs):
        kit, updater, reg = fresh_kit(work, archive)
        env = dict(os.environ, KVARNEL_REGISTRY=reg)
        env.pop("DISPLAY", None)
        seconds, rss, error = timed([os.path.join(updater, "update_3_7"), "--silent"], env, check=False)
        if error:
            failures.append(error)
        else:
            results["updater"].append(seconds)
        peak = max(peak, rss)
        shutil.rmtree(kit, ignore_errors=True)
        for name, (_, _, command) in PEERS.items():
            results[name].append(timed(command(archive, empty_folder(work)))[0])
        for key, extra in (("layer", []), ("layer-noflush", ["--no-flush"])):
            seconds, _, error = timed([TOOL, "extract", archive, empty_folder(work)] + extra, check=False)
            if error:
                failures.append("archive layer " + error)
            else:
                results[key].append(seconds)
        shutil.rmtree(os.path.join(work, "target"), ignore_errors=True)

    print("\n== %s: %d runs each, in turns, ulimit -n %d" % (shape, runs, DESCRIPTORS))
    for error in sorted(set(failures), key=failures.index):
        print("  FAILED %d times: %s" % (failures.count(error), error))
    med = {k: statistics.median(v) for k, v in results.items() if v}
    for k, v in results.items():
        if v:
            print("  %-14s median %6.2f s  (%s)" % (k, med[k], ", ".join("%.2f" % x for x in v)))
    fastest = min(PEERS, key=lambda name: med[name])
    if "updater" in med:
        print("  updater / fastest peer (%s): %.2f   [unzip %.2f, bsdtar %.2f, 7z %.2f]" % (
            fastest, med["updater"] / med[fastest], med["updater"] / med["unzip"], med["updater"] / med["bsdtar"],
            med["updater"] / med["7z"]))
    else:
        print("  updater / fastest peer (%s): no figure, no run of the updater completed" % fastest)
    print("  updater peak memory: %.1f MB (target below 100 MB)" % (peak / 1024.0))
    if "layer" in med and "layer-noflush" in med:
        print("  durability in the archive layer: %.2f s with the flush, %.2f s without (%+.2f s, %+.0f %%)" % (
            med["layer"], med["layer-noflush"], med["layer"] - med["layer-noflush"],
            100.0 * (med["layer"] - med["layer-noflush"]) / med["layer-noflush"]))
    if shape == "large":
        print("  one item read into nothing (no disk):")
        for way in ("libzip", "inline", "pipelined"):
            out = subprocess.run([TOOL, "read", archive, way], check=True, capture_output=True, text=True).stdout
            print("    " + out.strip())
    sys.stdout.flush()


def main():
    global DESCRIPTORS
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true", help="each shape a tenth of its size")
    parser.add_argument("--runs", type=int, default=int(os.environ.get("RUNS", "3")))
    parser.add_argument("--shapes", default="files,small,large")
    parser.add_argument("--descriptors", type=int, default=DESCRIPTORS,
                        help="the descriptor limit of every timed command (ulimit -n), 1024 unless told")
    parser.add_argument("work", nargs="?", help="where the archives are kept between runs")
    args = parser.parse_args()
    DESCRIPTORS = args.descriptors
    for path in (TOOL, os.path.join(BUILD, "update_3_7")):
        if not os.access(path, os.X_OK):
            sys.exit("%s is not built: run scripts/build.sh first" % path)
    install_peers()
    work = args.work or os.path.join(BUILD, "bench-extraction")
    for shape in args.shapes.split(","):
        folder = os.path.join(work, shape + ("-quick" if args.quick else ""))
        os.makedirs(folder, exist_ok=True)
        run_shape(shape, folder, args.runs, args.quick)


if __name__ == "__main__":
    main()
