'use strict';
// Builds a valid MPEG-1 Layer III stream of silent frames in memory, so the
// stand-in needs no encoder binary. Each frame: 48 kHz, 64 kbit/s, mono, no
// CRC, 192 bytes (no padding at this rate), 1152 samples = 24 ms. An all-zero
// side info means zero-length granules, which every decoder renders as silence.
const SAMPLE_RATE = 48000;
const SAMPLES_PER_FRAME = 1152;
const FRAME_BYTES = (144 * 64000) / SAMPLE_RATE;
const HEADER = [0xff, 0xfb, 0x54, 0xc0];

function silentMp3(durationMs) {
  const frames = Math.max(1, Math.ceil((durationMs * SAMPLE_RATE) / 1000 / SAMPLES_PER_FRAME));
  const out = Buffer.alloc(frames * FRAME_BYTES);
  for (let f = 0; f < frames; f++) out.set(HEADER, f * FRAME_BYTES);
  return out;
}

function frameDurationMs() {
  return (SAMPLES_PER_FRAME * 1000) / SAMPLE_RATE;
}

module.exports = { silentMp3, frameDurationMs, FRAME_BYTES };
