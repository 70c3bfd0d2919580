#!/usr/bin/env python3
"""Draws the main tool bar's activity clip: a phone sending out radio waves.

Writes a looping 32x32 animated GIF of 9 frames, 100 ms each, transparent around the
drawing, to the path given (default: resources/mainavi.gif beside this script's folder).
Standard library only, so that the clip can be redrawn on any machine; the output is the
same byte for byte on every run.
"""

import math
import os
import struct
import sys

SIZE = 32
FRAMES = 9
DELAY_CS = 10  # hundredths of a second per frame
SAMPLES = 4    # supersampling per axis for smooth edges

BODY = (0x3D, 0x4A, 0x56)
SCREEN_ON = (0x9F, 0xD0, 0xF5)
SCREEN_OFF = (0x6F, 0x9C, 0xC0)
BUTTON = (0xC9, 0xD0, 0xD6)
WAVE = {  # brightness of an arc by how many frames ago the wave front reached it
    0: (0x3A, 0x6E, 0xA5),
    1: (0x3A, 0x6E, 0xA5),
    2: (0x6D, 0x97, 0xC4),
    3: (0xA9, 0xC1, 0xDA),
}
WAVE_IDLE = (0xC3, 0xCC, 0xD5)
ARC_CENTRE = (14.0, 16.0)
ARC_RADII = (6.0, 10.5, 15.0)
ARC_HALF_WIDTH = 1.25
ARC_HALF_ANGLE = math.radians(45)


def in_rounded_rect(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_arc(x, y, radius):
    dx, dy = x - ARC_CENTRE[0], y - ARC_CENTRE[1]
    if abs(math.hypot(dx, dy) - radius) > ARC_HALF_WIDTH:
        return False
    return abs(math.atan2(dy, dx)) <= ARC_HALF_ANGLE


def shapes(frame):
    """The frame's shapes, bottom first, as (colour, test)."""
    result = [(BODY, lambda x, y: in_rounded_rect(x, y, 4, 5, 14, 27, 2))]
    screen = SCREEN_ON if frame % 3 != 2 else SCREEN_OFF
    result.append((screen, lambda x, y: in_rounded_rect(x, y, 5.5, 8, 12.5, 20, 0.5)))
    result.append((BUTTON, lambda x, y: (x - 9) ** 2 + (y - 23.5) ** 2 <= 1.2 ** 2))
    for index, radius in enumerate(ARC_RADII):
        age = (frame - 3 * index) % FRAMES
        colour = WAVE.get(age, WAVE_IDLE)
        result.append((colour, lambda x, y, r=radius: in_arc(x, y, r)))
    return result


def render(frame):
    """Pixels as (r, g, b) or None for transparent, row by row."""
    layers = shapes(frame)
    pixels = []
    for py in range(SIZE):
        for px in range(SIZE):
            total = [0.0, 0.0, 0.0]
            covered = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = px + (sx + 0.5) / SAMPLES
                    y = py + (sy + 0.5) / SAMPLES
                    colour = None
                    for layer_colour, test in layers:
                        if test(x, y):
                            colour = layer_colour
                    if colour is not None:
                        covered += 1
                        for c in range(3):
                            total[c] += colour[c]
            # GIF has no partial transparency: a pixel is drawn when mostly covered, in the
            # mean colour of the covered samples.
            if covered * 2 < SAMPLES * SAMPLES:
                pixels.append(None)
            else:
                pixels.append(tuple(round(t / covered) for t in total))
    return pixels


def lzw_encode(indices, min_code_size):
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    bit_buffer = 0
    bit_count = 0

    def emit(code, width):
        nonlocal bit_buffer, bit_count
        bit_buffer |= code << bit_count
        bit_count += width
        while bit_count >= 8:
            out.append(bit_buffer & 0xFF)
            bit_buffer >>= 8
            bit_count -= 8

    width = min_code_size + 1
    table = {(i,): i for i in range(clear)}
    next_code = end + 1
    emit(clear, width)
    current = ()
    for index in indices:
        candidate = current + (index,)
        if candidate in table:
            current = candidate
            continue
        emit(table[current], width)
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code - 1 == 1 << width and width < 12:
                width += 1
        else:
            emit(clear, width)
            table = {(i,): i for i in range(clear)}
            next_code = end + 1
            width = min_code_size + 1
        current = (index,)
    if current:
        emit(table[current], width)
        # The decoder adds one more entry on reading that code and may widen before the end code.
        if next_code == 1 << width and width < 12:
            width += 1
    emit(end, width)
    if bit_count:
        out.append(bit_buffer & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for start in range(0, len(data), 255):
        chunk = data[start:start + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def encode_gif(frames):
    palette = [(0, 0, 0)]  # index 0 is the transparent one
    lookup = {}
    indexed_frames = []
    for pixels in frames:
        indexed = []
        for pixel in pixels:
            if pixel is None:
                indexed.append(0)
                continue
            if pixel not in lookup:
                lookup[pixel] = len(palette)
                palette.append(pixel)
            indexed.append(lookup[pixel])
        indexed_frames.append(indexed)
    if len(palette) > 256:
        raise SystemExit("too many colours for one palette: %d" % len(palette))
    table_bits = max(1, math.ceil(math.log2(len(palette))))
    palette += [(0, 0, 0)] * ((1 << table_bits) - len(palette))

    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", SIZE, SIZE, 0x80 | 0x70 | (table_bits - 1), 0, 0)
    for colour in palette:
        out += bytes(colour)
    # Loop for ever.
    out += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01" + struct.pack("<H", 0) + b"\x00"
    min_code_size = max(2, table_bits)
    for indexed in indexed_frames:
        # Disposal 2: each frame starts from the transparent background.
        out += b"\x21\xF9\x04" + struct.pack("<BHB", (2 << 2) | 1, DELAY_CS, 0) + b"\x00"
        out += b"\x2C" + struct.pack("<HHHHB", 0, 0, SIZE, SIZE, 0)
        out.append(min_code_size)
        out += sub_blocks(lzw_encode(indexed, min_code_size))
    out += b"\x3B"
    return bytes(out)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources", "mainavi.gif")
    data = encode_gif([render(frame) for frame in range(FRAMES)])
    with open(target, "wb") as file:
        file.write(data)
    print("%s: %d bytes, %d frames" % (target, len(data), FRAMES))


if __name__ == "__main__":
    main()
