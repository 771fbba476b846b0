// Speech output: the audio of a sentence from the service, whole or played
// while it arrives.

// The longest wait for a speech request.
const SPEECH_TIMEOUT_MS = 8000;

// Starts the speech request of a queued sentence once; settles with the
// playable audio, or null when the browser's own voice must speak it.
function fetchSpeech(item) {
  if (item.audio) return item.audio;
  const ctrl = (item.ctrl = new AbortController());
  const timer = setTimeout(() => ctrl.abort(), SPEECH_TIMEOUT_MS);
  const t0 = performance.now();
  let streaming = false;
  item.audio = (async () => {
    try {
      const res = await fetch(service.apiBase + '/audio/speech', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ model: 'edge-tts', input: item.say, voice: 'alloy' }),
        signal: ctrl.signal,
      });
      if (!res.ok || item.dropped) return null;
      const type = (res.headers.get('content-type') || '').split(';')[0].trim().toLowerCase();
      if (hub.earlySpeech && res.body && streamable(type)) {
        // The time limit still covers the whole body.
        streaming = true;
        return streamedAudio(res, type, t0, () => clearTimeout(timer));
      }
      const bytes = withoutBom(new Uint8Array(await res.arrayBuffer()));
      if (item.dropped) return null;
      const url = URL.createObjectURL(new Blob([bytes], { type: 'audio/mpeg' }));
      return { url, audio: new Audio(url), ms: Math.round(performance.now() - t0) };
    } catch {
      return null;
    } finally {
      if (!streaming) clearTimeout(timer);
    }
  })();
  return item.audio;
}

// Some services put a byte-order mark before the audio.
function withoutBom(bytes) {
  const bom = bytes.length > 3 && bytes[0] === 0xef && bytes[1] === 0xbb && bytes[2] === 0xbf;
  return bom ? bytes.subarray(3) : bytes;
}

function streamable(type) {
  const Source = window.MediaSource;
  return !!type && !!Source && typeof Source.isTypeSupported === 'function' && Source.isTypeSupported(type);
}

// Audio that plays while it arrives: the response body feeds a media
// source. `got.fed` settles once the body has ended: true with audio to
// play (`got.share` is the part of the sentence that arrived when a body
// broke off and its length was known), false with none. The bytes are
// kept in `got.chunks` for a stream that will not start.
function streamedAudio(res, type, t0, done) {
  const source = new MediaSource();
  const url = URL.createObjectURL(source);
  const audio = new Audio(url);
  const got = { url, audio, ms: Math.round(performance.now() - t0), share: 1, chunks: [] };
  const total = Number(res.headers.get('content-length')) || 0;
  const reader = res.body.getReader();
  got.fed = new Promise((resolve) => {
    source.addEventListener('sourceopen', () => resolve(feedSource(source, reader, type, total, got)), { once: true });
    audio.addEventListener('error', () => resolve(false), { once: true });
  }).then((ok) => {
    done();
    reader.cancel().catch(() => {});
    return ok;
  });
  return got;
}

// A stream ended just after its first data may start seconds late or not
// at all: the element reads what it holds first, and gets a moment to be
// able to play.
async function readyToEnd(audio) {
  const event = (names) => new Promise((resolve) => names.forEach((n) => audio.addEventListener(n, resolve, { once: true })));
  const wait = (names, ms) => Promise.race([event(names), new Promise((r) => setTimeout(r, ms))]);
  if (audio.readyState < 1) await wait(['loadedmetadata', 'error'], 2000);
  if (audio.readyState < 3) await wait(['canplay', 'error'], 50);
}

async function feedSource(source, reader, type, total, got) {
  let buffer = null;
  let received = 0;
  let start = new Uint8Array(0); // held until the byte-order mark can be told
  const append = (bytes) =>
    new Promise((resolve, reject) => {
      buffer.addEventListener('updateend', resolve, { once: true });
      buffer.addEventListener('error', reject, { once: true });
      buffer.appendBuffer(bytes);
    });
  const buffered = () => {
    try {
      return buffer.buffered.length > 0 && buffer.buffered.end(0) > 0;
    } catch {
      return false; // the source closed on a decode error
    }
  };
  try {
    buffer = source.addSourceBuffer(type);
    for (;;) {
      const { value, done } = await reader.read();
      if (done) break;
      received += value.length;
      let bytes = value;
      if (start) {
        const joined = new Uint8Array(start.length + value.length);
        joined.set(start);
        joined.set(value, start.length);
        if (joined.length <= 3) {
          start = joined;
          continue;
        }
        bytes = withoutBom(joined);
        start = null;
      }
      got.chunks.push(bytes);
      await append(bytes);
    }
    if (start && start.length) {
      got.chunks.push(withoutBom(start));
      await append(got.chunks[0]);
    }
  } catch {
    // What arrived still plays; the rest of the sentence is lost.
    if (total) got.share = Math.min(1, received / total);
    else got.share = 1;
  }
  if (!buffered()) return false;
  await readyToEnd(got.audio);
  if (source.readyState === 'open' && !buffer.updating) {
    try {
      source.endOfStream();
    } catch {
      // the element closed the source meanwhile: there is nothing left to end
    }
  }
  return true;
}
