// What arrives of an answer besides the answer: the hidden reasoning of
// reasoning models, and the time since the last byte.

// Reasoning models think before they answer: in a delta field of its own,
// or, on servers without a reasoning parser, in a <think> block opening the
// content. The reasoning is not the answer: never shown, spoken or sent back.
const THINK_OPEN = '<think>';
const THINK_CLOSE = '</think>';

// Where the answer starts in the content received so far: 0 without a
// reasoning block, after the block with one, -1 while that is not known.
function answerStart(raw, ended) {
  const lead = raw.trimStart();
  if (lead.startsWith(THINK_OPEN)) {
    const close = raw.indexOf(THINK_CLOSE, raw.length - lead.length + THINK_OPEN.length);
    if (close >= 0) return close + THINK_CLOSE.length;
    return ended ? raw.length : -1;
  }
  const maybeTag = lead.length < THINK_OPEN.length && THINK_OPEN.startsWith(lead);
  return maybeTag && !ended ? -1 : 0;
}

// Takes the content deltas of one answer; gives the answer text so far and
// whether the model is still reasoning in its content.
function answerFilter() {
  let raw = '';
  let from = -1;
  return (delta, ended) => {
    raw += delta;
    if (from < 0) from = answerStart(raw, ended);
    if (from < 0) return { answer: '', reasoning: raw.trim() !== '' };
    return { answer: from ? raw.slice(from).trimStart() : raw, reasoning: false };
  };
}

function reasoningDelta(obj) {
  const c = obj && Array.isArray(obj.choices) ? obj.choices[0] : null;
  const d = c && c.delta;
  return !!d && ((typeof d.reasoning_content === 'string' && d.reasoning_content !== '') || (typeof d.reasoning === 'string' && d.reasoning !== ''));
}

// An answer without a byte for this long is said to be stalled; this long,
// and it ends as failed.
const STALL_HINT_MS = 15000;
const STALL_END_MS = 90000;

// The thinking box while an answer runs: the seconds a model has been
// reasoning, or that the answer has stalled and Esc stops it. An answer
// without a byte for STALL_END_MS is aborted and marked as timed out.
function answerWatch(ctrl, t0) {
  const w = { lastByte: t0, reasonSince: 0, streaming: false, timedOut: false, text: '' };
  const show = () => {
    const now = performance.now();
    const quiet = now - w.lastByte;
    let text = '';
    if (quiet >= STALL_END_MS) {
      w.timedOut = true;
      ctrl.abort();
      return;
    }
    if (quiet >= STALL_HINT_MS) text = '回答已停滞 ' + Math.floor(quiet / 1000) + ' s · 按 Esc 停止';
    else if (w.reasonSince) text = '模型思考中 · ' + Math.floor((now - w.reasonSince) / 1000) + ' s';
    else if (w.streaming) text = '正在流式输出 + 同步发声';
    if (text && text !== w.text) {
      w.text = text;
      showThinkingText(text);
    }
  };
  const timer = setInterval(show, 1000);
  return {
    bytes: () => {
      w.lastByte = performance.now();
    },
    reasoning(on) {
      if (on && !w.reasonSince) w.reasonSince = performance.now();
      if (!on) w.reasonSince = 0;
      show();
    },
    streaming() {
      w.streaming = true;
      w.reasonSince = 0;
      show();
    },
    timedOut: () => w.timedOut,
    stop: () => clearInterval(timer),
  };
}
