// Speech output: playing a sentence's audio, and the browser's own voice when
// there is none or it breaks off.

// Streamed audio whose body is in but does not play after this long is
// played from the whole body instead.
const STREAM_START_MS = 1000;

// The time allowed to the browser's voice.
const SYNTH_BASE_MS = 3000;
const SYNTH_PER_CHAR_MS = 400;

function playAudio(item, got) {
  const audio = got.audio;
  return new Promise((resolve) => {
    let settled = false;
    let watchdog = 0;
    let rescue = 0;
    // `rest`: what the browser's voice says after the audio, if anything;
    // `next`: another way to play the sentence.
    const finish = (rest, next) => {
      if (settled) return;
      settled = true;
      clearTimeout(watchdog);
      clearTimeout(rescue);
      item.stop = null;
      audio.pause();
      URL.revokeObjectURL(got.url);
      if (item.dropped) resolve();
      else if (next) next().then(resolve);
      else if (rest && SAYABLE.test(rest)) speakFallback(rest, item).then(resolve);
      else resolve();
    };
    item.stop = () => finish('');
    // A body that broke off ends with what arrived; the browser's voice
    // says the rest when its share is known.
    const ended = () => finish(got.share < 1 ? restOfSpeech(item.say, got.share) : '');
    audio.onended = ended;
    audio.onerror = () => finish(item.say);
    audio.addEventListener('playing', () => sounding(item), { once: true });
    // Streamed audio is timed from the end of its body: until then its
    // length is only what has arrived (the speech time limit ends the body).
    let bodyIn = !got.fed;
    if (got.fed) {
      got.fed.then((playable) => {
        if (!playable) return finish(item.say);
        bodyIn = true;
        arm();
        // A media source that holds the whole sentence yet does not start
        // gives way to playing the same bytes whole.
        rescue = setTimeout(() => {
          if (!item.sounding) finish('', () => playAudio(item, wholeAudio(got)));
        }, STREAM_START_MS);
      });
    }
    // Playback that stalls must not hold the queue for ever. Streamed
    // audio learns its length only once its body has ended.
    const arm = () => {
      if (!bodyIn) return;
      clearTimeout(watchdog);
      const ms = Number.isFinite(audio.duration) ? audio.duration * 1000 + 3000 : 60000;
      watchdog = setTimeout(ended, ms);
    };
    // A prefetched element may have failed or loaded before its turn.
    if (audio.error) return finish(item.say);
    if (audio.readyState >= 1) arm();
    audio.onloadedmetadata = arm;
    audio.ondurationchange = arm;
    try {
      const p = audio.play();
      if (p && p.catch) p.catch(() => finish(item.say));
    } catch {
      finish(item.say);
    }
  });
}

function wholeAudio(streamed) {
  const url = URL.createObjectURL(new Blob(streamed.chunks, { type: 'audio/mpeg' }));
  return { url, audio: new Audio(url), ms: streamed.ms, share: streamed.share };
}

// The words of a sentence after the first `share` of its letters.
function restOfSpeech(say, share) {
  const chars = Array.from(say);
  let skip = Math.round(chars.filter((c) => SAYABLE.test(c)).length * share);
  let i = 0;
  for (; i < chars.length && skip > 0; i++) if (SAYABLE.test(chars[i])) skip--;
  return chars.slice(i).join('').trim();
}

// The browser's own voice. Its end event is known to go missing, so a
// time limit from the text's length ends the sentence too.
function speakFallback(text, item) {
  const synth = window.speechSynthesis;
  if (!synth || typeof window.SpeechSynthesisUtterance !== 'function') return Promise.resolve();
  return new Promise((resolve) => {
    let timer = 0;
    const done = () => {
      clearTimeout(timer);
      if (item) item.stop = null;
      resolve();
    };
    const u = new window.SpeechSynthesisUtterance(text);
    u.lang = 'zh-CN';
    u.rate = 1.05;
    u.onend = done;
    u.onerror = done;
    if (item) {
      item.stop = () => {
        synth.cancel();
        done();
      };
    }
    timer = setTimeout(() => {
      synth.cancel();
      done();
    }, SYNTH_BASE_MS + SYNTH_PER_CHAR_MS * Array.from(text).length);
    try {
      synth.cancel();
      synth.speak(u);
      if (item) sounding(item);
    } catch {
      done();
    }
  });
}
