#!/usr/bin/env python3
"""Finds which of a movie's frames a screenshot shows, colour for colour.

usage: frame_index.py SHOT.rgb FRAMES_DIR WIDTH HEIGHT
SHOT.rgb is raw 8-bit RGB of the client area; FRAMES_DIR holds the frames
as PNG files whose names sort in frame order (as `kmov frames` writes
them). Each PNG is turned into raw RGB once (ImageMagick's convert, cached
beside it as NAME.rgb). Prints the index (from 0) of the first frame that
is identical to the shot and exits 0, or prints -1 and the nearest frame's
count of differing pixels and exits 1.
"""
import os
import subprocess
import sys


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    shot_path, folder, width, height = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    shot = open(shot_path, "rb").read()
    if len(shot) != width * height * 3:
        print(-1)
        sys.exit(f"the shot holds {len(shot)} bytes, not {width}x{height} RGB")
    frames = sorted(f for f in os.listdir(folder) if f.lower().endswith(".png"))
    raws = []
    for name in frames:
        png = os.path.join(folder, name)
        raw = png[:-4] + ".rgb"
        if not os.path.exists(raw):
            subprocess.run(["convert", png, "-depth", "8", "rgb:" + raw], check=True)
        raws.append(raw)
        if open(raw, "rb").read() == shot:
            print(len(raws) - 1)
            return
    # No match: say how near the nearest frame came, for the failure report.
    best = (None, width * height + 1)
    for index, raw in enumerate(raws):
        frame = open(raw, "rb").read()
        if len(frame) == len(shot):
            differing = sum(1 for i in range(0, len(shot), 3) if shot[i:i + 3] != frame[i:i + 3])
            if differing < best[1]:
                best = (index, differing)
    print(-1)
    print(f"no frame matches; nearest is frame {best[0]} with {best[1]} differing pixels",
          file=sys.stderr)
    sys.exit(1)


if __name__ == "__main__":
    main()
