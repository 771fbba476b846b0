// What either recognition heard: sent as a message while auto-send is on,
// unless it is the cockpit's own voice coming back.

// Heard text this much like what was spoken this recently is our own voice.
const ECHO_MS = 5000;
const ECHO_MATCH = 0.7;

// The auto-send switch: heard text goes out as a message without a click.
const autoSend = { on: false };
const echo = {
  spoken: [], // what was said lately, with when it ended
};

// A final text of either recognition: logged; sent with auto-send on while
// nothing answers or speaks, unless it is the cockpit's own voice. Speech
// the user talked over was stopped for it, so it goes out (or waits its turn).
function heardFinal(said, bargedIn) {
  logEvent('ASR final: ' + said.slice(0, 28));
  if (!autoSend.on || (!bargedIn && (chat.busy || speaker.busy))) return;
  // The microphone hears the cockpit's own voice too.
  if (isOwnVoice(said)) logEvent('已丢弃（刚播报的内容）: ' + said.slice(0, 28));
  else sendText(said, { voice: true });
}

function hearable(text) {
  return text.replace(/[^\p{L}\p{N}]/gu, '').toLowerCase();
}

// Whether heard text is what the cockpit itself said lately: most of its
// character pairs occur in it. Short replies count only when they equal a
// whole spoken sentence, so a user's "好的" after an answer still goes out.
// What was said lately (still speaking counts), older entries dropped.
function recentSpeech() {
  const now = performance.now();
  echo.spoken = echo.spoken.filter((s) => now - s.end < ECHO_MS);
  return echo.spoken;
}

function isOwnVoice(heard) {
  recentSpeech();
  const h = hearable(heard);
  if (!h || !echo.spoken.length) return false;
  if (h.length < 4) return echo.spoken.some((s) => hearable(s.say) === h);
  const said = hearable(echo.spoken.map((s) => s.say).join(''));
  let hits = 0;
  for (let i = 0; i + 1 < h.length; i++) if (said.includes(h.slice(i, i + 2))) hits++;
  return hits / (h.length - 1) >= ECHO_MATCH;
}

function toggleAutoSend() {
  autoSend.on = !autoSend.on;
  $('btnVad').classList.toggle('active', autoSend.on);
  $('btnVad').setAttribute('aria-pressed', String(autoSend.on));
  toast(autoSend.on ? 'VAD 自动送话已开启' : 'VAD 自动送话已关闭', 'ok');
}
