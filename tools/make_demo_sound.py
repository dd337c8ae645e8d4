#!/usr/bin/env python3
"""Remakes data/sounds/demo_beat.wav: two bars of a 120 BPM loop (kick on
every beat, snare on 2 and 4, off-beat hats, a quiet bass line, a bright
arpeggio in sixteenths above 440 Hz), 16-bit mono
at 22,050 Hz, about 4 s, made from formulas and a fixed noise sequence so
every run writes the same bytes. The demo render and the tests play it
through --audio-input; the kick is what the beat detectors hear.

Usage: tools/make_demo_sound.py
"""
import math
import os
import struct
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "data", "sounds", "demo_beat.wav")

RATE = 22050
BPM = 120.0
BEAT = 60.0 / BPM
BARS = 2
LENGTH = int(round(BARS * 4 * BEAT * RATE))
# A minor up and down, then C major: one note per sixteenth.
ARP = [440.0, 523.25, 659.26, 880.0, 659.26, 523.25, 440.0, 659.26,
       523.25, 659.26, 783.99, 1046.5, 783.99, 659.26, 523.25, 783.99]


class Noise:
    """A 32-bit LCG: white noise in -1..1, the same on every run."""

    def __init__(self, seed):
        self.state = seed

    def next(self):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return self.state / 2147483648.0 - 1.0


def kick(t):
    # A sine falling from 140 Hz to 48 Hz with a fast decay.
    if t < 0 or t > 0.35:
        return 0.0
    f0, f1, k = 140.0, 48.0, 30.0
    phase = 2 * math.pi * (f1 * t + (f0 - f1) * (1 - math.exp(-k * t)) / k)
    return math.sin(phase) * math.exp(-t * 9.0)


def main():
    samples = [0.0] * LENGTH
    noise = Noise(12345)
    hat_noise = [noise.next() for _ in range(LENGTH)]
    snare_noise = [noise.next() for _ in range(LENGTH)]
    bass_notes = [55.0, 55.0, 65.41, 49.0]  # A1 A1 C2 G1, one per beat, repeated
    for i in range(LENGTH):
        t = i / RATE
        beat = t / BEAT
        n = int(beat)
        tb = t - n * BEAT  # time since this beat
        v = 0.9 * kick(tb)
        if n % 2 == 1 and tb < 0.2:  # snare on 2 and 4
            v += 0.35 * snare_noise[i] * math.exp(-tb * 18.0) + 0.25 * math.sin(2 * math.pi * 190 * tb) * math.exp(-tb * 25.0)
        to = tb - BEAT / 2.0  # off-beat hat: noise made bright by differencing
        if 0 <= to < 0.06:
            hp = hat_noise[i] - (hat_noise[i - 1] if i else 0.0)
            v += 0.18 * hp * math.exp(-to * 60.0)
        if tb > 0.12:  # bass between kicks, so the kicks stand out
            f = bass_notes[n % 4]
            env = min(1.0, (tb - 0.12) / 0.02) * math.exp(-(tb - 0.12) * 4.0)
            saw = 2.0 * ((f * t) % 1.0) - 1.0
            v += 0.12 * env * (0.6 * math.sin(2 * math.pi * f * t) + 0.4 * saw)
        # Arpeggio: square-ish notes (odd harmonics up to about 6 kHz), so
        # the spectrum shows peaks across the mids and highs; all above the
        # kick's band, which stays the beat.
        step = int(t / (BEAT / 4.0))
        ts = t - step * (BEAT / 4.0)
        f = ARP[step % len(ARP)]
        tone = sum(math.sin(2 * math.pi * f * h * t) / h for h in (1, 3, 5, 7, 9, 11, 13) if f * h < 6500.0)
        v += 0.09 * tone * math.exp(-ts * 14.0)
        samples[i] = max(-1.0, min(1.0, v))
    os.makedirs(os.path.dirname(OUT), exist_ok=True)
    with wave.open(OUT, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", int(round(s * 32767))) for s in samples))


if __name__ == "__main__":
    main()
