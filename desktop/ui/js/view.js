// What the page shows of its state: toasts, the event list, the status pills,
// the voice orb, the thinking box, the metrics and the stream's messages. Other
// parts write status elements only through these.

const MAX_EVENTS = 40;
const TOAST_MS = 3600;

let scrollRaf = 0;

function toast(text, kind) {
  const t = el('div', kind ? 'toast ' + kind : 'toast', text);
  // Screen readers interrupt for failures and wait their turn for the rest.
  t.setAttribute('role', kind === 'bad' ? 'alert' : 'status');
  $('toasts').appendChild(t);
  setTimeout(() => t.remove(), TOAST_MS);
}

function logEvent(text) {
  const box = $('events');
  box.insertBefore(el('div', 'event', new Date().toLocaleTimeString() + ' · ' + text), box.firstChild);
  while (box.children.length > MAX_EVENTS) box.lastElementChild.remove();
}

function setPill(id, cls, text) {
  const pill = $(id);
  if (!pill) return;
  // The update pill stays clickable, so it keeps its pointer cursor class.
  const keep = pill.classList.contains('ota') ? ' ota' : '';
  pill.className = 'pill' + keep + (cls ? ' ' + cls : '');
  if (text) {
    const spans = pill.getElementsByTagName('span');
    if (spans.length) spans[spans.length - 1].textContent = text;
  }
}

function setOrb(mode, text) {
  $('voiceOrb').className = mode ? 'orb ' + mode : 'orb';
  // The state text is a live region: rewriting the same words would
  // announce them again.
  const label = $('orbState');
  if (text && label.textContent !== text) label.textContent = text;
}

// The orb's resting look once nothing is being spoken.
function restoreOrb() {
  if (chat.busy) setOrb('', '思考中…');
  else if (mic.on) setOrb('listening', '全双工聆听中');
  else setOrb('', '待命中');
}

function stageItem(key) {
  return $('thinkStages').querySelector('[data-s="' + key + '"]');
}

function setStage(key, done) {
  const item = stageItem(key);
  if (!item) return;
  if (done) {
    item.classList.add('done');
    item.classList.remove('on');
  } else {
    item.classList.add('on');
  }
}

function resetStages() {
  for (const item of $('thinkStages').children) item.classList.remove('on', 'done');
}

function showThinking(show, text) {
  $('thinking').hidden = !show;
  if (text) showThinkingText(text);
  $('thinkProgress').style.width = show ? '8%' : '0%';
}

function showThinkingText(text) {
  $('thinkText').textContent = text;
}

function progress(p) {
  $('thinkProgress').style.width = Math.max(0, Math.min(100, p)) + '%';
}

// Scrolling reads the stream's height and so forces a layout; while an
// answer streams in, once per frame is enough.
function scrollStream() {
  if (scrollRaf) return;
  scrollRaf = requestAnimationFrame(() => {
    scrollRaf = 0;
    const s = $('stream');
    s.scrollTop = s.scrollHeight;
  });
}

function cursorSpan() {
  return el('span', 'cursor');
}

function addMessage(role, text, meta) {
  const row = el('div', 'msg ' + role);
  const bubble = el('div', 'bubble');
  if (role === 'assistant' && !text) bubble.appendChild(cursorSpan());
  else bubble.textContent = text;
  if (meta) bubble.appendChild(el('span', 'meta', meta));
  row.appendChild(bubble);
  $('stream').appendChild(row);
  scrollStream();
  return bubble;
}

// The words recognition has heard so far, under the composer.
function showHeard(text) {
  $('partialAsr').textContent = text;
}

// Which recognition listens, in the composer's hint line.
function showHint(text) {
  $('composerHint').textContent = text;
}

// One figure of the metrics row (first token, latency, speech, stream mode)
// or of the video tile (frame rate).
function showMetric(id, text) {
  $(id).textContent = text;
}
