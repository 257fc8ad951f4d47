#!/usr/bin/env python3
"""Decodes the MPEG-2 files the Windows writer left (cases.txt lists them) with Debian's ffmpeg and
compares every picture with the BGR24 picture that was fed for it: count, size, order (the block's
position), orientation (the dark band on top) and luma PSNR."""
import math
import subprocess
import sys
from pathlib import Path

MIN_PSNR = 30.0


def run(*args):
    return subprocess.run(args, check=True, capture_output=True).stdout


def luma_planes(raw, width, height):
    """The Y planes of raw yuv420p frames."""
    frame = width * height + 2 * ((width + 1) // 2) * ((height + 1) // 2)
    return [raw[i:i + width * height] for i in range(0, len(raw) - frame + 1, frame)]


def psnr(a, b):
    mse = sum((x - y) ** 2 for x, y in zip(a, b)) / len(a)
    return math.inf if mse == 0 else 10 * math.log10(255 * 255 / mse)


def block_left(y, width, height):
    row = y[(height // 2) * width:(height // 2 + 1) * width]
    return next((x for x, v in enumerate(row) if v > 190), None)


def band_mean(y, width, first, last):
    rows = y[first * width:last * width]
    return sum(rows) / len(rows)


def check(folder, name, width, height, frames, band):
    problems = []
    stream = folder / f"{name}.mpg"
    info = dict(line.split("=", 1) for line in run(
        "ffprobe", "-v", "error", "-f", "mpegvideo", "-count_frames", "-show_entries",
        "stream=width,height,nb_read_frames", "-of", "default=nw=1", str(stream)).decode().split())
    if (int(info["width"]), int(info["height"]), int(info["nb_read_frames"])) != (width, height, frames):
        problems.append(f"stream is {info}, expected {width}x{height} with {frames} frames")

    decoded = luma_planes(run("ffmpeg", "-v", "error", "-f", "mpegvideo", "-i", str(stream), "-fps_mode",
                              "passthrough", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"), width, height)
    fed = luma_planes(run("ffmpeg", "-v", "error", "-f", "rawvideo", "-pix_fmt", "bgr24", "-s", f"{width}x{height}",
                          "-i", str(folder / f"{name}.bgr"), "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"),
                      width, height)
    if len(decoded) != frames or len(fed) != frames:
        problems.append(f"{len(decoded)} frames decoded, {len(fed)} fed, expected {frames}")

    scores = []
    for i, (d, f) in enumerate(zip(decoded, fed)):
        scores.append(psnr(d, f))
        if scores[-1] < MIN_PSNR:
            problems.append(f"frame {i}: Y-PSNR {scores[-1]:.1f} dB")
        got, want = block_left(d, width, height), block_left(f, width, height)
        if got is None or abs(got - want) > 2:
            problems.append(f"frame {i}: block at x={got}, fed at x={want}")
        top, bottom = band_mean(d, width, 0, band), band_mean(d, width, height - band, height)
        fed_top = band_mean(f, width, 0, band)
        if abs(top - fed_top) > 4 or bottom < top + 30:
            problems.append(f"frame {i}: top band mean {top:.0f} (fed {fed_top:.0f}), bottom {bottom:.0f}")
    if scores:
        print(f"{name}: {len(decoded)} frames {width}x{height}, Y-PSNR min {min(scores):.1f} dB, "
              f"mean {sum(scores) / len(scores):.1f} dB")
    return [f"{name}: {p}" for p in problems]


def main():
    folder = Path(sys.argv[1])
    problems = []
    for line in (folder / "cases.txt").read_text().split("\n"):
        if line.strip():
            name, width, height, frames, _block, band = line.split()
            problems += check(folder, name, int(width), int(height), int(frames), int(band))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
