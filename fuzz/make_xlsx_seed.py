#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_workbook_reader into corpus/workbook_reader/.

Minimal .xlsx workbooks built with zipfile (fixed timestamps, so the bytes do not change
from run to run): names as shared strings, names as inline strings, a sheet whose A2 is
empty, and a truncated copy of the first.
Run from anywhere: python3 fuzz/make_xlsx_seed.py
"""
import os
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "workbook_reader")
STAMP = (2020, 1, 1, 0, 0, 0)

CONTENT_TYPES = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>
<Default Extension="xml" ContentType="application/xml"/>
<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>
<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>
<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>
</Types>"""

ROOT_RELS = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>
</Relationships>"""

WORKBOOK = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">
<sheets><sheet name="Punti" sheetId="1" r:id="rId1"/></sheets>
</workbook>"""

WORKBOOK_RELS = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>
<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>
</Relationships>"""

SHARED = ["Nome", "Latitudine", "Longitudine", "Quota", "P1", "P2", "P&lt;3&gt;"]
SHARED_STRINGS = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
    '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="%d" uniqueCount="%d">' % (len(SHARED), len(SHARED))
    + "".join("<si><t>%s</t></si>" % s for s in SHARED)
    + "</sst>"
)

HEADING_ROW = ('<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c>'
               '<c r="C1" t="s"><v>2</v></c><c r="D1" t="s"><v>3</v></c></row>')


def sheet(rows):
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>'
            + HEADING_ROW + "".join(rows) + "</sheetData></worksheet>")


SHARED_NAME_ROWS = [
    '<row r="2"><c r="A2" t="s"><v>4</v></c><c r="B2"><v>45.30151234</v></c><c r="C2"><v>9.27084</v></c><c r="D2"><v>120.5</v></c></row>',
    '<row r="3"><c r="A3" t="s"><v>5</v></c><c r="B3"><v>4982950.4</v></c><c r="C3"><v>736446.026</v></c></row>',
    '<row r="4"><c r="A4" t="s"><v>6</v></c><c r="B4"><v>-1.5E-3</v></c><c r="C4"><v>1E+2</v></c><c r="D4"><v>0</v></c></row>',
]

INLINE_NAME_ROWS = [
    '<row r="2"><c r="A2" t="inlineStr"><is><t>Q1</t></is></c><c r="B2"><v>44.5</v></c><c r="C2"><v>11.25</v></c><c r="D2"><v>12</v></c></row>',
    '<row r="3"><c r="A3" t="str"><v>Q2</v></c><c r="B3"><v>44.6</v></c><c r="C3" t="s"><v>1</v></c></row>',
    '<row r="5"><c r="A5" t="n"><v>17</v></c><c r="B5"><v>44.7</v></c><c r="C5"><v>11.3</v></c><c r="D5" t="b"><v>1</v></c></row>',
]

EMPTY_A2_ROWS = [
    '<row r="3"><c r="A3" t="s"><v>4</v></c><c r="B3"><v>45.1</v></c><c r="C3"><v>9.1</v></c></row>',
]


def workbook_bytes(rows):
    import io
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in [
            ("[Content_Types].xml", CONTENT_TYPES),
            ("_rels/.rels", ROOT_RELS),
            ("xl/workbook.xml", WORKBOOK),
            ("xl/_rels/workbook.xml.rels", WORKBOOK_RELS),
            ("xl/sharedStrings.xml", SHARED_STRINGS),
            ("xl/worksheets/sheet1.xml", sheet(rows)),
        ]:
            info = zipfile.ZipInfo(name, date_time=STAMP)
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, text)
    return buf.getvalue()


def main():
    os.makedirs(OUT, exist_ok=True)
    valid = workbook_bytes(SHARED_NAME_ROWS)
    for name, data in [
        ("shared_strings.xlsx", valid),
        ("inline_strings.xlsx", workbook_bytes(INLINE_NAME_ROWS)),
        ("empty_a2.xlsx", workbook_bytes(EMPTY_A2_ROWS)),
        ("truncated.xlsx", valid[: len(valid) // 2]),
    ]:
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
