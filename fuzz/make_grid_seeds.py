#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_grid_reader into corpus/grid_reader/.

Small synthetic grid portions (made-up values, not real grids): a valid vertex ("PUNTO")
and map-sheet ("FOGLIO") portion in two layouts, and damaged variants that the reader must
refuse without harm: truncated, one value too many or too few, a wrong kind word.
Run from anywhere: python3 fuzz/make_grid_seeds.py
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "grid_reader")

KINDS = {"PUNTO": (16, 80), "FOGLIO": (36, 140)}


def values(count, base, step):
    return ["%.4f" % (base + step * i) for i in range(count)]


def items(kind, n=None, m=None):
    """The 26 items of a portion in file order, as (is_text, [texts])."""
    dn, dm = KINDS.get(kind, (16, 80))
    n = dn if n is None else n
    m = dm if m is None else m
    return [
        (True, [kind]),
        (True, ["KVT95 123" if kind != "FOGLIO" else "Foglio 123"]),
        (True, ["ROMA40-ED50"]),
        (True, ["1950"]),
        (False, values(n, -1.2345, 0.0011)),
        (False, values(n, 2.3456, -0.0013)),
        (True, ["ROMA40-ETRF89"]),
        (True, ["1989, IGM95"]),  # a quoted text may hold a comma
        (False, values(n, -0.1234, 0.0007)),
        (False, values(n, 1.8765, 0.0009)),
        (False, ["45.0000"]),
        (False, ["9.0000"]),
        (True, ["ETRF89-ETRF2000"]),
        (True, ["2008.0"]),
        (False, values(n, 0.0012, 0.0001)),
        (False, values(n, -0.0021, 0.0001)),
        (False, values(n, 0.031, 0.001)),
        (False, ["45.0000"]),
        (False, ["9.0000"]),
        (True, ["GEOIDE"]),
        (True, ["ITALGEO2005"]),
        (False, values(m, 47.123, 0.011)),
        (False, ["45.0500"]),
        (False, ["9.0500"]),
        (False, ["0"]),
        (False, ["-11.99"]),
    ]


def render(its, one_per_line=True, eol="\n"):
    flat = []
    for is_text, texts in its:
        flat += ['"%s"' % t if is_text else t for t in texts]
    if one_per_line:
        return eol.join(flat) + eol
    # Many values a line, comma separated, ten to a line.
    lines = [", ".join(flat[i:i + 10]) for i in range(0, len(flat), 10)]
    return eol.join(lines) + eol


def write(name, text):
    with open(os.path.join(OUT, name), "w", newline="") as f:
        f.write(text)


def main():
    os.makedirs(OUT, exist_ok=True)
    write("punto_one_per_line.gk1", render(items("PUNTO")))
    write("punto_commas.gk1", render(items("PUNTO"), one_per_line=False))
    write("punto_crlf.gk1", render(items("PUNTO"), one_per_line=False, eol="\r\n"))
    write("foglio_one_per_line.gk2", render(items("FOGLIO")))
    write("foglio_commas.gk2", render(items("FOGLIO"), one_per_line=False))

    whole = render(items("PUNTO"), one_per_line=False)
    write("punto_truncated.gk1", whole[: len(whole) // 2])
    write("punto_one_value_too_many.gk1", render(items("PUNTO", n=17), one_per_line=False))
    write("foglio_one_value_too_few.gk2", render(items("FOGLIO", m=139), one_per_line=False))
    write("punto_lower_case_kind.gk1", render([(True, ["punto"])] + items("PUNTO")[1:], one_per_line=False))
    write("foglio_layout_named_punto.gk1", render([(True, ["PUNTO"])] + items("FOGLIO")[1:], one_per_line=False))
    write("unknown_kind.gk1", render([(True, ["VERTICE"])] + items("PUNTO")[1:], one_per_line=False))


if __name__ == "__main__":
    main()
