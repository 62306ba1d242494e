#!/usr/bin/env python3
"""Looks at screenshots (binary PPM, as ImageMagick's convert writes them).

  screen.py rects <client.ppm>
      One line per control of the main window's client area, "name x y w h"
      in client coordinates: the four LCD displays (their own grey, the same
      on every platform) and the six command buttons (the ring of pixels that
      differ from the window's background around each button, whatever the
      style draws inside it).
  screen.py red <image.ppm>
      The number of strongly red pixels (an error icon's disc).
  screen.py differ <a.ppm> <b.ppm>
      The number of pixels that differ between two images of one size.
"""
import sys
from collections import Counter


def read_ppm(path):
    data = open(path, 'rb').read()
    magic, w, h, maxval, pixels = data.split(maxsplit=4)
    if magic != b'P6' or maxval != b'255':
        sys.exit(f'{path}: not an 8-bit binary PPM')
    w, h = int(w), int(h)
    return w, h, pixels[:3 * w * h]


def components(w, h, inside, x0, y0, x1, y1):
    """Bounding boxes of the 8-connected regions where inside(x, y) holds,
    within [x0, x1) x [y0, y1)."""
    seen = bytearray(w * h)
    boxes = []
    for y in range(y0, y1):
        for x in range(x0, x1):
            i = y * w + x
            if seen[i] or not inside(x, y):
                continue
            seen[i] = 1
            stack = [(x, y)]
            bx0, by0, bx1, by1 = x, y, x, y
            while stack:
                cx, cy = stack.pop()
                bx0, by0 = min(bx0, cx), min(by0, cy)
                bx1, by1 = max(bx1, cx), max(by1, cy)
                for nx in (cx - 1, cx, cx + 1):
                    for ny in (cy - 1, cy, cy + 1):
                        if x0 <= nx < x1 and y0 <= ny < y1:
                            j = ny * w + nx
                            if not seen[j] and inside(nx, ny):
                                seen[j] = 1
                                stack.append((nx, ny))
            boxes.append((bx0, by0, bx1 - bx0 + 1, by1 - by0 + 1))
    return boxes


def rects(path):
    w, h, px = read_ppm(path)

    def colour(x, y):
        i = 3 * (y * w + x)
        return px[i], px[i + 1], px[i + 2]

    # The display panel and the buttons sit above the record panel.
    top_h = min(h, 204)
    background = Counter(colour(x, y) for y in range(top_h) for x in range(w)).most_common(1)[0][0]
    lcd_grey = {(192, 192, 192), (170, 170, 170)}

    lcds = [b for b in components(w, h, lambda x, y: colour(x, y) in lcd_grey, 0, 0, w, top_h)
            if b[2] >= 60 and b[3] >= 20]
    lcds.sort(key=lambda b: (b[1], b[0]))
    for n, b in enumerate(lcds, 1):
        print(f'lcd{n}', *b)

    # Buttons: to the right of the display panel (261 wide).
    buttons = [b for b in components(w, h, lambda x, y: colour(x, y) != background, 262, 0, w, top_h)
               if 50 <= b[2] <= 100 and 40 <= b[3] <= 80]
    buttons.sort(key=lambda b: (b[1] // 20, b[0]))
    for n, b in enumerate(buttons, 1):
        print(f'button{n}', *b)


def red(path):
    w, h, px = read_ppm(path)
    print(sum(1 for i in range(0, 3 * w * h, 3)
              if px[i] >= 180 and px[i + 1] <= 90 and px[i + 2] <= 90))


def differ(path_a, path_b):
    wa, ha, a = read_ppm(path_a)
    wb, hb, b = read_ppm(path_b)
    if (wa, ha) != (wb, hb):
        sys.exit('images differ in size')
    print(sum(1 for i in range(0, 3 * wa * ha, 3) if a[i:i + 3] != b[i:i + 3]))


if __name__ == '__main__':
    commands = {'rects': (rects, 1), 'red': (red, 1), 'differ': (differ, 2)}
    if len(sys.argv) < 2 or sys.argv[1] not in commands or len(sys.argv) != 2 + commands[sys.argv[1]][1]:
        sys.exit(__doc__)
    fn, _ = commands[sys.argv[1]]
    fn(*sys.argv[2:])
