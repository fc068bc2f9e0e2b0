#!/usr/bin/python3
"""Writes the .xls workbooks of the .xls reader tests into OUTDIR (python3-xlwt):

base.xls   sheet "A", rows 1-3: A "N0".."N2", B 45.3, C 9.1 (row 1 is the heading row)
crash.xls  base.xls with bytes 1779-1780 set to 00 02: FreeXL 1.0.6 crashes on it
cells.xls  one case a row, see CELL_ROWS below; row 1 headings

xlwt writes formulas without a stored result. Some formulas of cells.xls get one afterwards:
their 8 result bytes, written by xlwt as 03 00 00 00 00 00 FF FF ("nothing stored"), are
replaced with a number, a boolean or an error code.
Usage: make_test_xls.py OUTDIR
"""
import datetime
import struct
import sys

import xlwt

NOTHING = bytes.fromhex("030000000000ffff")


def stored_number(v):
    return struct.pack("<d", v)


def stored_bool(v):
    return bytes([1, 0, 1 if v else 0, 0, 0, 0, 0xFF, 0xFF])


def stored_error(code):
    return bytes([2, 0, code, 0, 0, 0, 0xFF, 0xFF])


DATE = xlwt.easyxf(num_format_str="yyyy-mm-dd")
TIME = xlwt.easyxf(num_format_str="hh:mm")
DATETIME = xlwt.easyxf(num_format_str="yyyy-mm-dd hh:mm")


class Formula:
    """A formula cell; `stored` is its result bytes, or None for none."""

    def __init__(self, stored=None):
        self.stored = stored


class Error:
    def __init__(self, text):
        self.text = text


# Rows from 2: (A, B, C, D). None leaves a cell empty.
CELL_ROWS = [
    ("num", 45.5, 9.25, 120),  # 2 numbers
    ("int", 7, -3, None),  # 3 whole numbers, D empty
    ("text", "45,5", " 9.25 ", ""),  # 4 numbers as text, an empty text
    ("abc", "abc", 1, 1),  # 5 text that is no number
    ("boolB", True, 1, 1),  # 6
    ("boolC", 1, False, 1),  # 7
    ("date", datetime.date(2020, 1, 2), 1, 1),  # 8
    ("time", 1, datetime.time(10, 30), 1),  # 9
    ("datetime", 1, 1, datetime.datetime(2020, 1, 2, 3, 4)),  # 10
    ("errB", Error("#DIV/0!"), 1, 1),  # 11
    ("errD", 1, 1, Error(0x2A)),  # 12
    ("fnone", Formula(), 1, 1),  # 13 formula without a stored result
    ("fnum", Formula(stored_number(12.5)), 1, Formula(stored_number(-2))),  # 14
    ("fbool", Formula(stored_bool(True)), 1, 1),  # 15
    ("ferr", 1, Formula(stored_error(0x07)), 1),  # 16
    (Formula(), 1, 2, 3),  # 17 name: formula without a stored result
    (Formula(stored_number(101)), 4, 5, 6),  # 18 name: stored number
    (True, 7, 8, 9),  # 19 name: a boolean
    (Error("#REF!"), 10, 11, 12),  # 20 name: an error
    (101.5, 1, 2, 3),  # 21 name: a number
    (None, 1, 2, 3),  # 22 empty A: the end
    ("after", 1, 2, 3),  # 23 not read
]


def write_cell(ws, r, c, v, patches):
    if v is None:
        return
    if isinstance(v, Formula):
        ws.write(r, c, xlwt.Formula("1+2"))
        patches.append(v.stored)
    elif isinstance(v, Error):
        ws.row(r).set_cell_error(c, v.text)
    elif isinstance(v, datetime.datetime):
        ws.write(r, c, v, DATETIME)
    elif isinstance(v, datetime.date):
        ws.write(r, c, v, DATE)
    elif isinstance(v, datetime.time):
        ws.write(r, c, v, TIME)
    else:
        ws.write(r, c, v)


def main(out):
    wb = xlwt.Workbook()
    ws = wb.add_sheet("A")
    for i in range(3):
        ws.write(i, 0, "N%d" % i)
        ws.write(i, 1, 45.3)
        ws.write(i, 2, 9.1)
    wb.save(out + "/base.xls")
    data = bytearray(open(out + "/base.xls", "rb").read())
    data[1779:1781] = b"\x00\x02"
    open(out + "/crash.xls", "wb").write(data)

    wb = xlwt.Workbook()
    ws = wb.add_sheet("Punti")
    for c, h in enumerate(["Nome", "Primo", "Secondo", "Quota"]):
        ws.write(0, c, h)
    patches = []  # in the order xlwt writes the cells: row by row, column by column
    for r, row in enumerate(CELL_ROWS, start=1):
        for c, v in enumerate(row):
            write_cell(ws, r, c, v, patches)
    wb.add_sheet("Altro").write(1, 0, "no")
    wb.save(out + "/cells.xls")
    data = bytearray(open(out + "/cells.xls", "rb").read())
    at = [i for i in range(len(data) - 7) if data[i:i + 8] == NOTHING]
    assert len(at) == len(patches), (len(at), len(patches))
    for pos, stored in zip(at, patches):
        if stored is not None:
            data[pos:pos + 8] = stored
    open(out + "/cells.xls", "wb").write(data)


if __name__ == "__main__":
    main(sys.argv[1])
