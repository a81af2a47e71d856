#!/usr/bin/env python3
"""Draws the barcode picture of the product form: an EAN-13 symbol, one
pixel per module, 119 x 46 pixels, black bars on white, the guard bars a
little longer.  The digits themselves are not drawn: the form lays its four
coloured labels along the lower edge.

    python3 make_barcode.py barcode.pgm && convert barcode.pgm -quality 92 barcode.jpg
"""
import sys

WIDTH, HEIGHT = 119, 46
BAR_TOP, BAR_BOTTOM, GUARD_BOTTOM = 2, 38, 44

L = ["0001101", "0011001", "0010011", "0111101", "0100011",
     "0110001", "0101111", "0111011", "0110111", "0001011"]
G = ["0100111", "0110011", "0011011", "0100001", "0011101",
     "0111001", "0000101", "0010001", "0001001", "0010111"]
R = ["1110010", "1100110", "1101100", "1000010", "1011100",
     "1001110", "1010000", "1000100", "1001000", "1110100"]
PARITY = ["LLLLLL", "LLGLGG", "LLGGLG", "LLGGGL", "LGLLGG",
          "LGGLLG", "LGGGLL", "LGLGLG", "LGLGGL", "LGGLGL"]


def check_digit(twelve):
    total = sum(int(d) * (3 if i % 2 else 1) for i, d in enumerate(twelve))
    return str((10 - total % 10) % 10)


def modules(code):
    """The 95 modules of an EAN-13 symbol, with a flag for the guard bars."""
    first, left, right = code[0], code[1:7], code[7:]
    out = [(m, True) for m in "101"]
    for d, p in zip(left, PARITY[int(first)]):
        out += [(m, False) for m in (L if p == "L" else G)[int(d)]]
    out += [(m, True) for m in "01010"]
    for d in right:
        out += [(m, False) for m in R[int(d)]]
    out += [(m, True) for m in "101"]
    return out


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "barcode.pgm"
    twelve = "200123001234"  # a weighed item: prefix 2, code 00123, value 01234
    code = twelve + check_digit(twelve)
    mods = modules(code)
    assert len(mods) == 95
    quiet = (WIDTH - len(mods)) // 2
    rows = []
    for y in range(HEIGHT):
        row = []
        for x in range(WIDTH):
            i = x - quiet
            dark = False
            if 0 <= i < len(mods):
                m, guard = mods[i]
                bottom = GUARD_BOTTOM if guard else BAR_BOTTOM
                dark = m == "1" and BAR_TOP <= y < bottom
            row.append(0 if dark else 255)
        rows.append(row)
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (WIDTH, HEIGHT))
        for row in rows:
            f.write(bytes(row))


if __name__ == "__main__":
    main()
