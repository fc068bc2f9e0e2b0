#!/usr/bin/env python3
"""Writes the sample data files of data/samples/ (synthetic points for trying the program).

Points are spread over the area of the synthetic sheet portion 0245.GK2 (Abruzzo), with one
point outside it, given as ROMA40 Gauss-Boaga plane coordinates (zone Est) with geoid heights.
The plane coordinates come from the batch converter itself (ROMA40 geographic -> ROMA40
Gauss-Boaga, no grid needed), so the files agree with the program's own projection.

Usage: python3 scripts/make_sample_data.py BUILD_DIR
"""
import os
import random
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLES = os.path.join(ROOT, "data", "samples")
ROME = 12 + 27 / 60 + 8.4 / 3600  # Monte Mario east of Greenwich, decimal degrees


def sexagesimal(deg):
    """Decimal degrees -> gg.ppssdddd (seconds to 4 decimals)."""
    sign = -1 if deg < 0 else 1
    tenths = round(abs(deg) * 3600 * 10000)  # ten-thousandths of a second
    d, rest = divmod(tenths, 3600 * 10000)
    m, rest = divmod(rest, 60 * 10000)
    sec, frac = divmod(rest, 10000)
    return sign * float("%d.%02d%02d%04d" % (d, m, sec, frac))


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
    batch = os.path.join(build, "cli", "dormal2k-batch")
    rnd = random.Random(2009)
    points = []
    # Area of 0245.GK2 (Greenwich): latitude 42.3097 to 42.6069, longitude 13.3472 to 13.7778.
    for i in range(1, 25):
        lat = rnd.uniform(42.32, 42.60)
        lon = rnd.uniform(13.36, 13.77)
        h = round(rnd.uniform(250, 1800), 3)
        points.append(("%d" % (1000 + i), lat, lon, h))
    points.append(("FUORI1", 42.70, 13.50, 900.0))  # north of the portion: marked outside
    points.append(("VERTICE_NORD", 42.598, 13.71, 1502.25))  # a long name (report wraps it)

    with tempfile.TemporaryDirectory() as tmp:
        geo = os.path.join(tmp, "geo.txt")
        with open(geo, "w") as f:
            for name, lat, lon, _ in points:
                f.write("%s %.8f %.8f\n" % (name, sexagesimal(lat), sexagesimal(lon - ROME)))
        plane = os.path.join(tmp, "plane.txt")
        subprocess.run([batch, "--from", "ROMA40", "--to", "ROMA40", "--to-kind", "plane", "--to-zone", "auto",
                        "--decimal-separator", ".", geo, plane], check=True, stderr=subprocess.DEVNULL)
        rows = []
        with open(plane, newline="") as f:
            lines = [l.rstrip("\r\n") for l in f if not l.startswith("/")]
        # Report lines: name, input lat, input lon, North, East, zone (a long name stands alone).
        pending = None
        for line in lines:
            fields = line.split()
            if len(fields) == 1:
                pending = fields[0]
                continue
            if pending is not None:
                fields = [pending] + fields
                pending = None
            rows.append((fields[0], float(fields[3]), float(fields[4])))
    heights = {name: h for name, _, _, h in points}

    with open(os.path.join(SAMPLES, "punti_roma40_gb.txt"), "w", newline="") as f:
        f.write("/ Punti di prova SINTETICI (non per rilievi): ROMA40 Gauss-Boaga, fuso Est, quote geoidiche\n")
        f.write("/ Da usare con la porzione di griglia di esempio 0245.GK2\n")
        f.write("' nome        Nord            Est          quota\n")
        for name, north, east in rows:
            f.write("%-12s %14.3f %14.3f %10.3f\n" % (name, north, east, heights[name]))

    write_workbook(os.path.join(SAMPLES, "punti_roma40_gb.xlsx"),
                   [("Nome", "Nord", "Est", "Quota")] + [(n, N, E, heights[n]) for n, N, E in rows])


def write_workbook(path, rows):
    """A minimal .xlsx: first sheet, inline strings, numbers as numbers."""
    def col(i):
        return "ABCD"[i]

    def cell(r, i, v):
        ref = "%s%d" % (col(i), r)
        if isinstance(v, str):
            text = v.replace("&", "&amp;").replace("<", "&lt;")
            return '<c r="%s" t="inlineStr"><is><t>%s</t></is></c>' % (ref, text)
        return '<c r="%s"><v>%r</v></c>' % (ref, v)

    sheet_rows = "".join('<row r="%d">%s</row>' % (r, "".join(cell(r, i, v) for i, v in enumerate(row)))
                         for r, row in enumerate(rows, start=1))
    files = {
        "[Content_Types].xml": '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
        '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
        '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
        '</Types>',
        "_rels/.rels": '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
        '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
        '</Relationships>',
        "xl/workbook.xml": '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
        '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
        'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
        '<sheets><sheet name="Punti" sheetId="1" r:id="rId1"/></sheets></workbook>',
        "xl/_rels/workbook.xml.rels": '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
        '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>'
        '</Relationships>',
        "xl/worksheets/sheet1.xml": '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
        '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>'
        + sheet_rows + "</sheetData></worksheet>",
    }
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in files.items():
            info = zipfile.ZipInfo(name, date_time=(2009, 7, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, text)


if __name__ == "__main__":
    main()
