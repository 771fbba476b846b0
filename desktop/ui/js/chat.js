// One chat turn: the question goes out with the recent history, the answer
// streams into its bubble and on to the voice, and questions asked meanwhile
// wait their turn.

const SYSTEM_PROMPT =
  '你是 OVRA-Zirer，一个实时、友好、高效、专业的中文 AI 助手。回答简洁有力，能立刻帮用户解决问题。';
const HISTORY_SENT = 12;
// Why the service ended an answer early, shown under it.
const CUT_NOTES = { length: '（回答已达长度上限）', content_filter: '（回答被服务过滤）' };

const chat = {
  history: [],
  busy: false,
  // Messages submitted while an answer streams; sent one after another.
  pending: [],
  answerCtrl: null, // aborts the answer being requested or streamed
};

// An answer that timed out keeps what arrived, marked as failed.
function answerTimedOut(bubble, answer) {
  bubbles.rendered.delete(bubble);
  const cursor = bubble.querySelector('.cursor');
  if (cursor) cursor.remove();
  bubble.appendChild(el('span', 'meta', '⚠ 出错了：回答超时'));
  chat.history.push({ role: 'assistant', content: answer });
}

// Asks for the answer to the conversation `history`.
function requestAnswer(history, signal) {
  return fetch(service.apiBase + '/chat/completions', {
    method: 'POST',
    headers: { 'Content-Type': 'application/json', Accept: 'text/event-stream' },
    body: JSON.stringify({
      model: catalog.model,
      messages: [{ role: 'system', content: SYSTEM_PROMPT }].concat(history.slice(-HISTORY_SENT)),
      temperature: 0.7,
      max_tokens: 1024,
      stream: true,
    }),
    signal,
  });
}

function inputKind(opts) {
  return opts && opts.voice ? '语音输入' : '文字输入';
}

function clearInput() {
  const input = $('input');
  input.value = '';
  input.style.height = 'auto';
}

// Sends a message, or holds it back while another answer is still running:
// answers never stream side by side.
function sendText(text, opts) {
  const clean = String(text == null ? '' : text).trim();
  if (!clean) return Promise.resolve();
  clearInput();
  if (chat.busy) {
    const bubble = addMessage('user', clean, '排队中 · ' + inputKind(opts));
    chat.pending.push({ text: clean, opts, bubble });
    toast('正在生成回答，可继续打字排队下一条', 'warn');
    logEvent('已排队，等待当前回答结束');
    return Promise.resolve();
  }
  return ask(clean, opts, null);
}

async function ask(text, opts, queuedBubble) {
  if (queuedBubble) {
    // The question moves down to where its answer will appear.
    const meta = queuedBubble.querySelector('.meta');
    if (meta) meta.textContent = inputKind(opts);
    $('stream').appendChild(queuedBubble.parentNode);
  } else {
    addMessage('user', text, inputKind(opts));
  }
  chat.history.push({ role: 'user', content: text });

  chat.busy = true;
  $('btnSend').disabled = true;
  showThinking(true, '正在理解你的问题');
  resetStages();
  setStage('listen');
  progress(18);
  setOrb('', '思考中…');
  logEvent('发送 → ' + catalog.model);

  const bubble = addMessage('assistant', '');
  // A voice message may have been asked already, while the user paused.
  const ahead = opts && opts.ahead;
  if (ahead) ahead.taken = true;
  const t0 = ahead ? ahead.t0 : performance.now();
  const speech = answerSpeech(bubble);
  const news = answerNews();
  const ctrl = (chat.answerCtrl = ahead ? ahead.ctrl : new AbortController());
  const watch = answerWatch(ctrl, t0);
  const shown = answerFilter();
  let answer = '';
  let finish = '';
  try {
    setStage('think', true);
    setStage('token');
    progress(42);
    const res = await (ahead ? ahead.res : requestAnswer(chat.history, ctrl.signal));
    if (!res.ok) throw new Error(await httpFailure(res));
    const type = (res.headers.get('content-type') || '').toLowerCase();
    if (type.includes('text/event-stream') && res.body) {
      showMetric('mStream', 'ON');
      setStage('stream');
      progress(68);
      let first = true;
      // The deltas of one chunk arrive together: the bubble shows them at once.
      let rendered = '';
      const render = () => {
        if (answer === rendered) return;
        rendered = answer;
        const units = wrapSentencesIntoBubble(bubble, answer);
        speech.queueComplete(units);
        news(units, false);
      };
      await readEventStream(
        res.body,
        (obj) => {
          if (obj && obj.error) throw new Error(serviceFailure(obj, res.status));
          finish = finishReason(obj) || finish;
          const got = shown(deltaOf(obj));
          if (!got.answer) watch.reasoning(got.reasoning || reasoningDelta(obj));
          if (got.answer === answer) return;
          if (first) {
            first = false;
            showMetric('mTTFT', Math.round(performance.now() - t0) + 'ms');
            watch.streaming();
            progress(80);
          }
          answer = got.answer;
        },
        watch.bytes,
        render,
      );
      // A tag's first letters that never became one are answer text.
      answer = shown('', true).answer;
    } else {
      const whole = await wholeAnswer(res);
      finish = whole.finish;
      answer = shown(whole.content, true).answer;
      wrapSentencesIntoBubble(bubble, answer);
      showMetric('mStream', 'JSON');
      showMetric('mTTFT', Math.round(performance.now() - t0) + 'ms');
    }
    const units = wrapSentencesIntoBubble(bubble, answer);
    // Whatever is not queued yet, a last sentence without a mark included.
    speech.queueAll(units.units);
    news(units, true);
    if (!answer.trim()) showPlain(bubble, '（未收到有效回答，可能是后端模型未安装）');
    // A cut answer says so; the note is not part of the answer.
    if (CUT_NOTES[finish]) bubble.appendChild(el('span', 'meta answer-cut', CUT_NOTES[finish]));
    chat.history.push({ role: 'assistant', content: answer || '（空）' });
    showMetric('mLatency', Math.round(performance.now() - t0) + 'ms');
    showThinking(false);
    setStage('tts', true);
    progress(100);
    logEvent('回答完成');
  } catch (err) {
    if (ctrl.signal.aborted && !watch.timedOut()) {
      answerStopped(bubble, answer, t0);
      return;
    }
    const msg = watch.timedOut() ? '回答超时' : messageOf(err, String(err));
    if (!watch.timedOut()) console.error(err);
    if (watch.timedOut() && answer.trim()) {
      answerTimedOut(bubble, answer);
    } else {
      showPlain(
        bubble,
        '⚠ 出错了：' + msg + '\n\n可能是 ' + apiHost() + ' 文本模型未安装或网络抖动。你仍可以继续打字，我会重试。',
      );
    }
    showThinking(false);
    setPill('apiPill', 'bad', 'AI 异常');
    toast('模型调用失败：' + msg, 'bad');
    logEvent('错误: ' + msg);
  } finally {
    watch.stop();
    if (chat.answerCtrl === ctrl) chat.answerCtrl = null;
    chat.busy = false;
    $('btnSend').disabled = false;
    if (!speaker.busy) restoreOrb();
    const next = chat.pending.shift();
    if (next) ask(next.text, next.opts, next.bubble);
  }
}

// An answer the user stopped keeps what arrived, marked as cut short; the
// conversation goes on from there.
function answerStopped(bubble, answer, t0) {
  if (answer.trim()) wrapSentencesIntoBubble(bubble, answer);
  else showPlain(bubble, '');
  bubbles.rendered.delete(bubble);
  const cursor = bubble.querySelector('.cursor');
  if (cursor) cursor.remove();
  bubble.appendChild(el('span', 'meta', '⏹ 已停止'));
  if (answer.trim()) chat.history.push({ role: 'assistant', content: answer });
  showMetric('mLatency', Math.round(performance.now() - t0) + 'ms');
  showThinking(false);
  logEvent('回答已停止');
}

// Esc, or a click on the speaking orb: silence at once and end the answer
// that is streaming. Messages already queued are sent as usual.
function stopAll() {
  if (!speaker.busy && !chat.answerCtrl) return;
  stopSpeech();
  if (chat.answerCtrl) chat.answerCtrl.abort();
}
