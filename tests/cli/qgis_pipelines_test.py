#!/usr/bin/python3
"""QGIS with the exported pipelines_qgis.txt, as the README tells a user to set it up.

The exported grids go into the QGIS profile's "proj" folder, and a line of the file is added
to the project's transform context as a custom coordinate operation between the two EPSG
codes. QGIS must use it (no fallback to a ballpark operation) and give what dormal2k-batch
gives for the same points: 1 mm plane and height, 1e-8 degree geographic.

Arguments: dormal2k-gridexport, dormal2k-batch, a grid portion, the sample points (ROMA40
Gauss-Boaga Est, "name North East height" lines). Runs with Debian's /usr/bin/python3 and
python3-qgis, headless; every folder QGIS and the programs write to is the test's own.
"""

import csv
import glob
import os
import shutil
import subprocess
import sys
import tempfile

EXPORT_EXE, BATCH_EXE, GRID, SAMPLE_POINTS = sys.argv[1:5]

# Folders of its own before Qt and QGIS start: settings, profile, caches, temporary files.
ROOT = tempfile.mkdtemp(prefix="dormal2k-qgis-")
for var, sub in (("HOME", "home"), ("TMPDIR", "tmp"), ("XDG_CONFIG_HOME", "config"),
                 ("XDG_CACHE_HOME", "cache"), ("XDG_DATA_HOME", "data"), ("XDG_RUNTIME_DIR", "runtime")):
    os.makedirs(os.path.join(ROOT, sub), mode=0o700)
    os.environ[var] = os.path.join(ROOT, sub)
os.environ["QT_QPA_PLATFORM"] = "offscreen"
os.environ["PROJ_DATA"] = "/usr/share/proj"  # the exported grids only from the profile
os.environ["PROJ_NETWORK"] = "OFF"
tempfile.tempdir = os.environ["TMPDIR"]

from qgis.core import (QgsApplication, QgsCoordinateReferenceSystem,  # noqa: E402
                       QgsCoordinateTransform, QgsProject, QgsVector3D)

# (from, to, heights converted): plane and geographic ends, ROMA40 geographic as GIS layers
# hold it (EPSG:4265, longitudes from Greenwich), ETRF2000 "Fuso Italia".
PAIRS = [
    (3004, 6708, True),    # ROMA40 Est -> ETRF2000 UTM 33, the sample run
    (4265, 6706, True),    # ROMA40 geographic -> ETRF2000 geographic
    (6706, 4265, True),
    (4265, 23033, False),  # ROMA40 -> ED50: heights unchanged
    (4230, 3065, True),    # ED50 geographic -> ETRF89 UTM 33
    (3065, 3004, True),
    (6875, 4670, True),    # ETRF2000 Fuso Italia -> ETRF89 geographic
]
GEOGRAPHIC = {4265, 4230, 4670, 6706}


def run(args):
    r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return r.returncode, r.stdout


def batch(src, dst, heights, data, result):
    """dormal2k-batch on a CSV layer (columns nome, nord, est, quota); exit 0 or 3 (points
    outside the grid) are both runs that wrote the result."""
    code, out = run([BATCH_EXE, "--from", "EPSG:%d" % src, "--to", "EPSG:%d" % dst] +
                    (["--heights"] if heights else []) +
                    ["--grid", GRID, "--columns", "nome,nord,est,quota", data, result])
    assert code in (0, 3), "dormal2k-batch %d>%d: %d\n%s" % (src, dst, code, out)
    with open(result, newline="") as f:
        return {row["nome"]: row for row in csv.DictReader(f) if row["STATO"] == "convertito"}


def main():
    work = os.path.join(ROOT, "work")
    os.makedirs(work)
    export = os.path.join(work, "export")
    code, out = run([EXPORT_EXE, "--grid", GRID, "--out", export, "--plane"])
    assert code == 0, out

    # The sample points as a CSV layer, then as a layer of every input end of the pairs.
    layers = {3004: os.path.join(work, "3004.csv")}
    with open(SAMPLE_POINTS, encoding="latin-1") as f, open(layers[3004], "w") as out_csv:
        out_csv.write("nome,nord,est,quota\n")
        for line in f:
            cols = line.split()
            if cols and cols[0][0] not in "/'" and len(cols) >= 4:
                out_csv.write(",".join(cols[:4]) + "\n")
    layers[6706] = os.path.join(work, "6706.csv")
    batch(3004, 6706, True, layers[3004], layers[6706])
    for src in sorted({p[0] for p in PAIRS} - set(layers)):
        origin = 3004 if src == 6875 else 6706  # from another system
        layers[src] = os.path.join(work, "%d.csv" % src)
        batch(origin, src, True, layers[origin], layers[src])

    app = QgsApplication([], False)
    app.initQgis()
    try:
        # The README's recipe: the grids into the profile's proj folder ...
        proj = os.path.join(QgsApplication.qgisSettingsDirPath(), "proj")
        os.makedirs(proj, exist_ok=True)
        for f in glob.glob(os.path.join(export, "*.gsb")) + glob.glob(os.path.join(export, "*.tif")):
            shutil.copy(f, proj)
        with open(os.path.join(export, "pipelines_qgis.txt")) as f:
            text = f.read()
        codes = dict(w.split("=") for w in
                     next(l for l in text.splitlines() if l.startswith("# Codici EPSG:")).split(":", 1)[1].split())
        label = {int(c): end for end, c in codes.items()}

        failures = []
        for src, dst, heights in PAIRS:
            # ... and the line of the pair as the project's operation between the two codes.
            start = "%s>%s " % (label[src], label[dst])
            line = next(l for l in text.splitlines() if l.startswith(start))
            s = QgsCoordinateReferenceSystem("EPSG:%d" % src)
            d = QgsCoordinateReferenceSystem("EPSG:%d" % dst)
            ctx = QgsProject.instance().transformContext()
            assert ctx.addCoordinateOperation(s, d, line[len(start):].strip())
            QgsProject.instance().setTransformContext(ctx)
            ct = QgsCoordinateTransform(s, d, QgsProject.instance())

            expected = batch(src, dst, heights, layers[src], os.path.join(work, "%d_%d.csv" % (src, dst)))
            with open(layers[src], newline="") as f:
                inputs = {row["nome"]: row for row in csv.DictReader(f)}
            assert len(expected) >= 20, (src, dst, len(expected))
            tol = 1e-8 if dst in GEOGRAPHIC else 1e-3
            worst = [0.0, 0.0]
            for name, want in expected.items():
                p = inputs[name]
                got = ct.transform(QgsVector3D(float(p["est"]), float(p["nord"]), float(p["quota"])))
                if ct.fallbackOperationOccurred():
                    failures.append("%d>%d punto %s: QGIS ha usato un'altra trasformazione" % (src, dst, name))
                    break
                dxy = max(abs(got.x() - float(want["est"])), abs(got.y() - float(want["nord"])))
                dz = abs(got.z() - float(want["quota"]))
                worst = [max(worst[0], dxy), max(worst[1], dz)]
                if dxy > tol or dz > 1e-3:
                    failures.append("%d>%d punto %s: %r invece di %s %s %s" %
                                    (src, dst, name, (got.x(), got.y(), got.z()),
                                     want["est"], want["nord"], want["quota"]))
            print("EPSG:%d>EPSG:%d %d punti, scarto massimo %.3g (xy) %.3g m (quota)" %
                  (src, dst, len(expected), worst[0], worst[1]))
        for f in failures:
            print(f)
        return 1 if failures else 0
    finally:
        app.exitQgis()


if __name__ == "__main__":
    try:
        status = main()
    finally:
        shutil.rmtree(ROOT, ignore_errors=True)
    sys.exit(status)
