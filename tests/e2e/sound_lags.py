#!/usr/bin/env python3
"""Finds every voiced piece of a movie's sound in a recording of it.

usage: sound_lags.py [--no-drop] EXPECTED.raw RECORDED.raw RATE LAUNCH_SAMPLE
                     [PRESENT_LOG FPS]

EXPECTED is what the player was given to play (kmov audio --raw), RECORDED
what the sound server played (parec), both signed 16-bit mono at RATE.
The recording has passed through the server's resampler, so the two are
compared by normalised cross-correlation of 100 ms chunks, not sample for
sample. Each voiced chunk of EXPECTED must be found in RECORDED, and all at
one lag: a lag that falls is sound dropped, one that rises is silence
inserted. LAUNCH_SAMPLE is the recording's length when the player was
started, for the time from start to first sound.

With a present log (KMOV_PRESENT_LOG) and the movie's frame rate, it also
reports how far each picture was ahead of the sound the device had played
when it was shown, at the start and at the end.

Prints one line of figures; exits 1 when a voiced chunk is missing or the
lags spread more than MAX_SPREAD_MS. With --no-drop, for a server that may
itself run dry and insert silence (a rising lag, reported as inserted_ms),
it exits 1 only when a chunk is missing or sound was dropped: a lag more
than MAX_FALL_MS below the highest lag before it.
"""
import sys

import numpy as np

CHUNK_MS = 100
MIN_CORRELATION = 0.6  # a chunk found where its correlation peak is at least this
MAX_SPREAD_MS = 10.0  # resampling moves a chunk by a sample or two, never more
TRACK_MS = 2000  # how far a chunk's lag may move from the one before it
# A chunk that straddles inserted silence can match a few milliseconds off;
# a dropped block of sound is a whole frame's worth (67 ms at 15 fps).
MAX_FALL_MS = 30.0


def main():
    args = sys.argv[1:]
    no_drop = args[:1] == ["--no-drop"]
    if no_drop:
        args = args[1:]
    expected = np.fromfile(args[0], dtype="<i2").astype(np.float64)
    recorded = np.fromfile(args[1], dtype="<i2").astype(np.float64)
    rate = int(args[2])
    launch = int(args[3])
    chunk = rate * CHUNK_MS // 1000

    starts = range(0, len(expected) - chunk + 1, chunk)
    energy = [np.sqrt(np.mean(expected[s:s + chunk] ** 2)) for s in starts]
    loudest = max(energy) if energy else 0.0
    voiced = [s for s, e in zip(starts, energy) if e > 0.1 * loudest and e > 100]
    if not voiced or len(recorded) < chunk:
        print("nothing voiced to look for, or nothing recorded")
        return 1

    size = 1 << int(np.ceil(np.log2(len(recorded) + chunk)))
    spectrum = np.fft.rfft(recorded, size)
    # Energy of every window of the recording, for the normalisation.
    cumulative = np.concatenate(([0.0], np.cumsum(recorded ** 2)))
    windows = cumulative[chunk:] - cumulative[:-chunk]

    def correlation_of(s):
        piece = expected[s:s + chunk]
        piece = piece - piece.mean()
        norm = np.sqrt(np.sum(piece ** 2))
        correlation = np.fft.irfft(spectrum * np.conj(np.fft.rfft(piece, size)), size)
        # Silent stretches of the recording match nothing (and would divide
        # rounding noise by almost nothing).
        return np.where(windows > chunk * 30.0**2,
                        correlation[:len(windows)] / (norm * np.sqrt(windows) + 1e-9), 0.0)

    # Synthesised speech says a word the same way each time, so a chunk can
    # match another place of the recording as well as its own. Each chunk is
    # looked for within TRACK_MS of the lag of the chunk before it, starting
    # from the lag most chunks have when looked for anywhere.
    correlations = [correlation_of(s) for s in voiced]
    anywhere = [int(np.argmax(c)) - s for c, s in zip(correlations, voiced)]
    lag = int(np.median(anywhere))
    track = rate * TRACK_MS // 1000
    lags, missing, first_found = [], [], None
    for s, correlation in zip(voiced, correlations):
        low = max(0, s + lag - track)
        high = min(len(correlation), s + lag + track + 1)
        if low >= high:
            missing.append(s * 1000 // rate)
            continue
        at = low + int(np.argmax(correlation[low:high]))
        if correlation[at] < MIN_CORRELATION:
            missing.append(s * 1000 // rate)
            continue
        lag = at - s
        lags.append(lag * 1000.0 / rate)
        if first_found is None:
            first_found = at - s  # where the sound's first sample landed

    figures = {
        "voiced": len(voiced),
        "found": len(lags),
        "lag_ms_min": round(min(lags), 1) if lags else None,
        "lag_ms_max": round(max(lags), 1) if lags else None,
        "lag_spread_ms": round(max(lags) - min(lags), 1) if lags else None,
    }
    # The deepest fall of a lag below the highest one before it.
    highest, fall = float("-inf"), 0.0
    for lag_ms in lags:
        highest = max(highest, lag_ms)
        fall = max(fall, highest - lag_ms)
    if no_drop and lags:
        figures["inserted_ms"] = round(lags[-1] - lags[0], 1)
        figures["deepest_fall_ms"] = round(fall, 1)
    if first_found is not None:
        # The first sample of the movie's sound, on the recording's timeline,
        # after the player was started.
        figures["start_to_first_sound_ms"] = round((first_found - launch) * 1000.0 / rate)

    if len(args) > 5:
        fps = float(args[5])
        rows = [line.split() for line in open(args[4])]
        offsets = []
        for i, f in enumerate(rows):
            position, device_rate = int(f[7]), int(f[9])
            if i == 0 or device_rate == 0:
                continue
            # The picture's place in the movie less the sound's.
            offsets.append(round(i * 1000.0 / fps - position * 1000.0 / device_rate, 1))
        if offsets:
            figures["picture_ahead_ms_start"] = offsets[0]
            figures["picture_ahead_ms_end"] = offsets[-1]
        figures["presents"] = len(rows)

    print(" ".join(f"{k}={v}" for k, v in figures.items()))
    if missing:
        print(f"missing voiced chunks at ms: {missing[:20]}")
    if missing:
        return 1
    if no_drop:
        return 1 if fall > MAX_FALL_MS else 0
    if figures["lag_spread_ms"] > MAX_SPREAD_MS:
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
