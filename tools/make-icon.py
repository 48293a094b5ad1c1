#!/usr/bin/env python3
"""Turns the text form of the program icon into a .ico file.

    make-icon.py INPUT.txt OUTPUT.ico

The input holds "colour <character> <RRGGBB>" lines (the palette, at most 16
colours, in order), then a line "pixels" and 32 rows of 32 characters, the top
row first; "." is transparent. Lines starting with "#" and blank lines are
ignored. The output is an icon with one 32 x 32 image of 16 colours (4 bits
per pixel) with its transparency mask.
"""

import struct
import sys

SIZE = 32
COLOURS = 16
TRANSPARENT = "."


def fail(message):
    sys.exit("make-icon: " + message)


def read_icon_text(path):
    palette = {}
    order = []
    rows = []
    in_pixels = False
    with open(path, encoding="ascii") as text:
        for number, line in enumerate(text, 1):
            line = line.rstrip("\r\n")
            if not line.strip() or line.startswith("#"):
                continue
            if in_pixels:
                rows.append((number, line))
                continue
            words = line.split()
            if words == ["pixels"]:
                in_pixels = True
            elif len(words) == 3 and words[0] == "colour" and len(words[1]) == 1 and len(words[2]) == 6:
                character = words[1]
                if character == TRANSPARENT or character in palette:
                    fail("%s:%d: colour %r given twice or reserved" % (path, number, character))
                try:
                    palette[character] = tuple(bytes.fromhex(words[2]))
                except ValueError:
                    fail("%s:%d: %r is no RRGGBB colour" % (path, number, words[2]))
                order.append(character)
            else:
                fail("%s:%d: expected a colour line or \"pixels\"" % (path, number))
    if len(order) > COLOURS:
        fail("%s: %d colours, at most %d" % (path, len(order), COLOURS))
    if len(rows) != SIZE:
        fail("%s: %d pixel rows, expected %d" % (path, len(rows), SIZE))
    for number, row in rows:
        if len(row) != SIZE:
            fail("%s:%d: %d pixels in the row, expected %d" % (path, number, len(row), SIZE))
        for character in row:
            if character != TRANSPARENT and character not in palette:
                fail("%s:%d: %r is not in the palette" % (path, number, character))
    return order, palette, [row for _, row in rows]


def icon_bytes(order, palette, rows):
    index = {character: i for i, character in enumerate(order)}
    colours = [palette[c] for c in order] + [(0, 0, 0)] * (COLOURS - len(order))
    # Bitmaps are stored bottom row first. Transparent pixels are colour 0
    # under a set mask bit, which leaves the screen as it is.
    xor_image = bytearray()
    and_mask = bytearray()
    for row in reversed(rows):
        indexes = [index.get(character, 0) for character in row]
        for left, right in zip(indexes[0::2], indexes[1::2]):
            xor_image.append(left << 4 | right)
        bits = 0
        for character in row:
            bits = bits << 1 | (character == TRANSPARENT)
        and_mask += bits.to_bytes(SIZE // 8, "big")
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0, len(xor_image) + len(and_mask), 0, 0, 0, 0)
    colour_table = b"".join(struct.pack("<BBBB", blue, green, red, 0) for red, green, blue in colours)
    image = header + colour_table + bytes(xor_image) + bytes(and_mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, COLOURS, 0, 1, 4, len(image), len(directory) + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    order, palette, rows = read_icon_text(sys.argv[1])
    with open(sys.argv[2], "wb") as output:
        output.write(icon_bytes(order, palette, rows))


if __name__ == "__main__":
    main()
