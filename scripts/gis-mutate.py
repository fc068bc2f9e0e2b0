#!/usr/bin/python3
"""Mutation run of the GIS road of dormal2k-batch.

Seed layers are made here (points, lines and polygons with attributes, in ROMA40
Gauss-Boaga Est over the sample grid data/samples/0245.GK2): delimited text directly, the
GeoPackage, Shapefile, GeoJSON and DXF seeds with ogr2ogr (Debian gdal-bin). Each seed is
damaged in many ways (truncated at many lengths, bytes flipped, ranges zeroed, duplicated or
deleted, shapefile sidecars damaged or deleted) and every damaged copy is converted by the
program under a time limit. A run fails the check when:

  signal    the program was ended by a signal
  timeout   it did not end within the limit
  short     it reported success (exit 0 or 3) but the result holds fewer features than the
            data holds: the seed's count; for delimited text the damaged file's lines, for
            GeoJSON that still parses its features, for DXF the entities it starts
  more      it reported success with more features than that
  status    a feature of the result has no status
  noresult  it reported success but the result cannot be read

Deterministic for a given --seed. Failures are kept in --failures, each in a folder with the
damaged files and repro.sh, the command that repeats the run.

Usage: scripts/gis-mutate.py [--batch build/cli/dormal2k-batch] [--count 3000] [--seed 1]
                             [--jobs N] [--timeout 20] [--failures DIR] [--keep-going]
Exit status 0 when nothing failed, 1 otherwise (2: the seeds themselves do not convert).
"""

import argparse
import collections
import concurrent.futures
import csv
import json
import os
import random
import shlex
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GRID = os.path.join(ROOT, "data", "samples", "0245.GK2")
# Inside the area the sample grid covers (the sample points lie around it).
NORTH = (4692000.0, 4712000.0)
EAST = (2390000.0, 2410000.0)
SHAPE_SIDECARS = (".shx", ".dbf", ".prj", ".cpg")


def point(rng):
    return rng.uniform(*EAST), rng.uniform(*NORTH)


def seed_rows(kind, rng):
    """(wkt, name, code, weight) of a seed layer of `kind`."""
    rows = []
    if kind == "points":
        for i in range(40):
            x, y = point(rng)
            rows.append(("POINT Z (%.3f %.3f %.3f)" % (x, y, rng.uniform(0, 900)), "P%d" % i, 100 + i, i * 0.5))
    elif kind == "lines":
        for i in range(15):
            x, y = point(rng)
            vs = ["%.3f %.3f %.3f" % (x + 300 * k * rng.random(), y + 300 * k * rng.random(), rng.uniform(0, 900))
                  for k in range(rng.randint(2, 7))]
            rows.append(("LINESTRING Z (%s)" % ", ".join(vs), "L%d" % i, 200 + i, i * 1.5))
    else:
        for i in range(12):
            x, y = point(rng)
            d = 50 + 400 * rng.random()
            h = rng.uniform(0, 900)
            ring = [(x, y, h), (x + d, y, h), (x + d, y + d, h), (x + d / 2, y + 1.5 * d, h), (x, y + d, h), (x, y, h)]
            rows.append(("POLYGON Z ((%s))" % ", ".join("%.3f %.3f %.3f" % v for v in ring), "A%d" % i, 300 + i, i * 2.5))
    return rows


def make_seeds(work, rng):
    """Seeds: name -> (main file, files of the dataset, features, mode)."""
    seeds = {}
    # Delimited text, read by columns (name, North, East, height).
    text = "nome;nord;est;quota;nota\n"
    n = 0
    for i in range(80):
        x, y = point(rng)
        text += "P%d;%.3f;%.3f;%.3f;nota %d\n" % (i, y, x, rng.uniform(0, 900), i)
        n += 1
    path = os.path.join(work, "punti.csv")
    with open(path, "w") as f:
        f.write(text)
    seeds["csv-points"] = (path, [path], n, "text")
    for kind in ("points", "lines", "polygons"):
        rows = seed_rows(kind, rng)
        src = os.path.join(work, "src-%s.csv" % kind)
        with open(src, "w", newline="") as f:
            w = csv.writer(f)
            w.writerow(["WKT", "nome", "codice", "peso"])
            w.writerows(rows)
        for fmt, driver, ext in (("gpkg", "GPKG", ".gpkg"), ("shp", "ESRI Shapefile", ".shp"),
                                 ("geojson", "GeoJSON", ".geojson"), ("dxf", "DXF", ".dxf")):
            if fmt == "dxf" and kind == "polygons":
                continue  # written as hatches, read back as something else
            out = os.path.join(work, "%s-%s%s" % (fmt, kind, ext))
            cmd = ["ogr2ogr", "-q", "-f", driver, out, src, "-oo", "GEOM_POSSIBLE_NAMES=WKT",
                   "-oo", "KEEP_GEOM_COLUMNS=NO", "-a_srs", "EPSG:3004", "-nln", kind]
            if kind == "points":
                cmd += ["-nlt", "POINT25D"]
            subprocess.run(cmd, check=True, stderr=subprocess.DEVNULL)
            files = [out]
            if fmt == "shp":
                stem = out[:-4]
                files += [stem + s for s in SHAPE_SIDECARS if os.path.exists(stem + s)]
            seeds["%s-%s" % (fmt, kind)] = (out, files, len(rows), "layer")
    return seeds


# ---------------------------------------------------------------------------------------
# Mutations: each is (kind, description, function of the bytes and a random generator).

def truncate(data, rng, at=None):
    at = rng.randrange(len(data)) if at is None else at
    return data[:at], "truncated at %d of %d" % (at, len(data))


def flip(data, rng):
    b = bytearray(data)
    where = []
    for _ in range(rng.randint(1, 4)):
        i = rng.randrange(len(b))
        b[i] ^= rng.choice((0x01, 0x80, 0xFF, rng.randrange(1, 256)))
        where.append(i)
    return bytes(b), "bytes flipped at %s" % where


def span(data, rng):
    n = rng.choice((1, 4, 16, 64, 512, 4096))
    i = rng.randrange(len(data))
    return i, min(len(data), i + n)


def zero(data, rng):
    i, j = span(data, rng)
    return data[:i] + b"\0" * (j - i) + data[j:], "zeroed %d..%d" % (i, j)


def duplicate(data, rng):
    i, j = span(data, rng)
    return data[:j] + data[i:j] + data[j:], "duplicated %d..%d" % (i, j)


def delete(data, rng):
    i, j = span(data, rng)
    return data[:i] + data[j:], "deleted %d..%d" % (i, j)


MUTATIONS = {"truncate": truncate, "flip": flip, "zero": zero, "duplicate": duplicate, "delete": delete}


def plan(seeds, count, rng):
    """The mutants: (id, seed, target file, mutation kind, per-mutant random seed, truncation)."""
    names = sorted(seeds)
    per_seed = max(1, count // len(names))
    out = []
    for name in names:
        main, files, _, _ = seeds[name]
        for k in range(per_seed):
            target = main
            if name.startswith("shp-") and rng.random() < 0.4:
                target = rng.choice(files[1:])
            kind = rng.choice(sorted(MUTATIONS)) if k >= per_seed // 4 else "truncate"
            at = None
            if kind == "truncate" and k < per_seed // 4:
                # Evenly spread lengths first (the start and end of every structure),
                # then random ones.
                at = (os.path.getsize(target) * k) // max(1, per_seed // 4)
            out.append(("%s-%04d" % (name, k), name, target, kind, rng.randrange(1 << 30), at))
        if name.startswith("shp-"):
            for s in SHAPE_SIDECARS:
                if main[:-4] + s in files:
                    out.append(("%s-without%s" % (name, s), name, main[:-4] + s, "remove", 0, None))
    return out


# ---------------------------------------------------------------------------------------
# Runs and checks.

def count_text_records(data):
    """Lines of a delimited text after its header, blank ones aside; None when the damage
    makes the count a matter of interpretation (quotes, carriage returns)."""
    if b'"' in data or b"\r" in data:
        return None
    lines = data.split(b"\n")[1:]
    return sum(1 for l in lines if l.strip(b" \t\0") != b"")


def count_geojson_features(data):
    """Features of a GeoJSON text that still parses; None when it does not (the seed's count
    is then what a successful run must give)."""
    try:
        doc = json.loads(data.decode("utf-8"))
        return len(doc["features"]) if isinstance(doc, dict) and isinstance(doc.get("features"), list) else None
    except (ValueError, UnicodeDecodeError, KeyError, TypeError):
        return None


DXF_ENTITIES = {"POINT", "LINE", "LWPOLYLINE", "POLYLINE", "HATCH", "3DFACE"}


def count_dxf_entities(data):
    """Entity starts (group code 0 and an entity name) in a drawing's ENTITIES section, a
    damaged last one included; None when the section's start is damaged."""
    lines = [l.strip() for l in data.decode("latin-1").split("\n")]
    inside, seen, n = False, False, 0
    for code, value in zip(lines, lines[1:]):
        if code == "2" and value == "ENTITIES":
            inside = seen = True
        elif code == "0" and value == "ENDSEC":
            inside = False
        elif inside and code == "0" and value in DXF_ENTITIES:
            n += 1
    return n if seen else None


def read_result(path, mode):
    """(features, features without a status) of a result, or None when it cannot be read."""
    if not os.path.exists(path):
        return None
    try:
        if mode == "text":
            with open(path, newline="", encoding="utf-8", errors="replace") as f:
                rows = list(csv.reader(f, delimiter=";"))
            if not rows:
                return None
            at = rows[0].index("STATO")
            return len(rows) - 1, sum(1 for r in rows[1:] if len(r) <= at or r[at] == "")
        db = sqlite3.connect("file:%s?mode=ro" % path, uri=True)
        try:
            (table,) = db.execute("SELECT table_name FROM gpkg_contents").fetchone()
            q = '"' + table.replace('"', '""') + '"'
            n, bad = db.execute("SELECT count(*), sum(coalesce(STATO, '') = '') FROM %s" % q).fetchone()
            return n, bad or 0
        finally:
            db.close()
    except (OSError, ValueError, sqlite3.Error, TypeError):
        return None


def command(batch, data, result):
    return [batch, "--type", "gis", "--from", "EPSG:3004", "--to", "EPSG:6708", "--heights",
            "--grid", GRID, data, result]


def run_one(args, seeds, work, mutant):
    ident, seed_name, target, kind, mseed, at = mutant
    main, files, features, mode = seeds[seed_name]
    folder = os.path.join(work, "m", ident)
    os.makedirs(folder)
    local = {}
    for f in files:
        local[f] = os.path.join(folder, os.path.basename(f))
        shutil.copyfile(f, local[f])
    if kind == "remove":
        os.unlink(local[target])
        what = "removed " + os.path.basename(target)
        damaged = None
    else:
        with open(target, "rb") as f:
            data = f.read()
        rng = random.Random(mseed)
        damaged, what = MUTATIONS[kind](data, rng, at) if kind == "truncate" else MUTATIONS[kind](data, rng)
        with open(local[target], "wb") as f:
            f.write(damaged)
        what = os.path.basename(target) + ": " + what
    # What the damaged data holds: the seed's count, or for text formats what can be counted.
    expected = features
    if damaged is not None and target == main:
        if mode == "text":
            expected = count_text_records(damaged)
        elif main.endswith(".geojson"):
            expected = count_geojson_features(damaged) or features
        elif main.endswith(".dxf"):
            counted = count_dxf_entities(damaged)
            expected = features if counted is None else counted
    result = os.path.join(folder, "esito" + (".csv" if mode == "text" else ".gpkg"))
    cmd = command(args.batch, local[main], result)
    failure = None
    started = time.monotonic()
    try:
        p = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           timeout=args.timeout)
        rc = p.returncode
        err = p.stderr.decode("utf-8", "replace")
    except subprocess.TimeoutExpired as e:
        rc, err = None, (e.stderr or b"").decode("utf-8", "replace")
        failure = "timeout"
    seconds = time.monotonic() - started
    got = None
    if failure is None:
        if rc < 0 or rc >= 128:
            failure = "signal"
        elif rc in (0, 3):
            got = read_result(result, mode)
            if got is None:
                failure = "noresult"
            elif got[1] != 0:
                failure = "status"
            elif expected is not None and got[0] < expected:
                failure = "short"
            elif expected is not None and got[0] > expected:
                failure = "more"
    outcome = {"id": ident, "seed": seed_name, "kind": kind, "what": what, "rc": rc, "failure": failure,
               "expected": expected, "got": None if got is None else got[0], "seconds": seconds}
    if failure is not None:
        keep = os.path.join(args.failures, ident)
        shutil.rmtree(keep, ignore_errors=True)
        os.makedirs(keep)
        for f in local.values():
            if os.path.exists(f):
                shutil.copyfile(f, os.path.join(keep, os.path.basename(f)))
        repro = command(args.batch, os.path.join(keep, os.path.basename(main)), "/tmp/gis-mutate-esito" +
                        (".csv" if mode == "text" else ".gpkg"))
        with open(os.path.join(keep, "repro.sh"), "w") as f:
            f.write("#!/bin/sh\n# %s: %s; exit %s; features expected %s, result %s\n%s\n" %
                    (failure, what, rc, expected, outcome["got"], " ".join(shlex.quote(c) for c in repro)))
        with open(os.path.join(keep, "stderr.txt"), "w") as f:
            f.write(err)
    shutil.rmtree(folder, ignore_errors=True)
    return outcome


def main():
    ap = argparse.ArgumentParser(description="Mutation run of dormal2k-batch's GIS road")
    ap.add_argument("--batch", default=os.path.join(ROOT, "build", "cli", "dormal2k-batch"))
    ap.add_argument("--count", type=int, default=3000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--timeout", type=float, default=20.0)
    ap.add_argument("--failures", default=os.path.join(ROOT, "build", "gis-mutate-failures"))
    ap.add_argument("--keep-going", action="store_true", help="exit 0 even when runs failed")
    args = ap.parse_args()
    args.batch = os.path.abspath(args.batch)
    args.failures = os.path.abspath(args.failures)
    shutil.rmtree(args.failures, ignore_errors=True)
    os.makedirs(args.failures)
    rng = random.Random(args.seed)
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="gis-mutate-") as work:
        os.makedirs(os.path.join(work, "seeds"))
        seeds = make_seeds(os.path.join(work, "seeds"), rng)
        # The seeds themselves convert whole, each feature with its status.
        bad_seeds = []
        for name in sorted(seeds):
            main_file, _, features, mode = seeds[name]
            result = os.path.join(work, "esito-" + name + (".csv" if mode == "text" else ".gpkg"))
            p = subprocess.run(command(args.batch, main_file, result), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=args.timeout)
            got = read_result(result, mode) if p.returncode == 0 else None
            if got != (features, 0):
                bad_seeds.append("%s: exit %d, %s of %d features\n%s" %
                                 (name, p.returncode, got, features, p.stderr.decode("utf-8", "replace")))
        if bad_seeds:
            print("gis-mutate: the seeds do not convert:\n" + "\n".join(bad_seeds), file=sys.stderr)
            return 2
        mutants = plan(seeds, args.count, rng)
        os.makedirs(os.path.join(work, "m"))
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            outcomes = list(pool.map(lambda m: run_one(args, seeds, work, m), mutants))
    elapsed = time.monotonic() - started
    table = collections.Counter()
    runs = collections.Counter()
    exits = collections.Counter()
    for o in outcomes:
        fmt = o["seed"].split("-")[0]
        runs[fmt] += 1
        exits[(fmt, o["rc"])] += 1
        if o["failure"] is not None:
            table[(fmt, o["failure"], o["kind"])] += 1
    print("gis-mutate: %d mutants of %d seeds in %.0f s (seed %d)" % (len(outcomes), len(seeds), elapsed, args.seed))
    for fmt in sorted(runs):
        ex = ", ".join("exit %s: %d" % (rc, n) for (f, rc), n in sorted(exits.items(), key=str) if f == fmt)
        print("  %-8s %5d runs (%s)" % (fmt, runs[fmt], ex))
    failures = [o for o in outcomes if o["failure"] is not None]
    if failures:
        print("failures by format, check and mutation:")
        for (fmt, failure, kind), n in sorted(table.items()):
            print("  %-8s %-9s %-10s %4d" % (fmt, failure, kind, n))
        for o in failures[:40]:
            print("  %s %s: %s (exit %s, features %s of %s)" %
                  (o["failure"], o["id"], o["what"], o["rc"], o["got"], o["expected"]))
        print("kept in %s (repro.sh in each folder)" % args.failures)
    else:
        print("no failures")
    return 0 if not failures or args.keep_going else 1


if __name__ == "__main__":
    sys.exit(main())
