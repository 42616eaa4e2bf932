#!/usr/bin/env python3
# Renders the program's icon at the hicolor sizes with ImageMagick. The
# drawing is on a 64-unit grid, the size of the window's own icon, scaled per
# size; the PNGs are committed, so building the package needs no image tools.
# The waves are drawn as short round-capped lines: ImageMagick 6 fills the
# inside of a thick stroked curve.
import os
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))


def wave(x0, y0, cx, cy, x1, y1, steps=24):
    points = []
    for i in range(steps + 1):
        t = i / steps
        x = (1 - t) ** 2 * x0 + 2 * (1 - t) * t * cx + t * t * x1
        y = (1 - t) ** 2 * y0 + 2 * (1 - t) * t * cy + t * t * y1
        points.append((x, y))
    return list(zip(points, points[1:]))


def render(size):
    k = size / 64

    def p(*v):
        return ",".join(f"{x * k:.3f}" for x in v)

    args = ["convert", "-size", f"{size}x{size}", "xc:none",
            "-stroke", "#0E3766", "-strokewidth", f"{2 * k:.3f}", "-fill", "#1F5FA8",
            "-draw", f"roundrectangle {p(4.5, 12.5)} {p(59.5, 51.5)} {p(5, 5)}",
            "-stroke", "#8A6411", "-strokewidth", f"{1.2 * k:.3f}", "-fill", "#E8B43A",
            "-draw", f"roundrectangle {p(11.5, 22.5)} {p(25.5, 34.5)} {p(1.5, 1.5)}",
            "-draw", f"line {p(18.5, 22.5)} {p(18.5, 34.5)}",
            "-draw", f"line {p(11.5, 28.5)} {p(25.5, 28.5)}",
            "-stroke", "white", "-strokewidth", f"{1.8 * k:.3f}"]
    for a, b in wave(41.5, 21.5, 45.5, 28.5, 41.5, 35.5) + wave(48.5, 17.5, 54, 28.5, 48.5, 39.5):
        args += ["-draw", f"stroke-linecap round line {p(*a)} {p(*b)}"]
    args += ["-stroke", "none", "-fill", "white", "-draw", f"rectangle {p(11, 41)} {p(53, 45)}",
             "-strip", f"PNG32:{HERE}/mastercard-writer-{size}.png"]
    subprocess.run(args, check=True)


for size in (16, 24, 32, 48, 64, 128, 256):
    render(size)
