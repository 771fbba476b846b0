(function () {
  'use strict';

  // Replaced by the build with the AI service base URL (path /ai/v1).
  const DEFAULT_API = '__OVRA_API_BASE__';

  const SYSTEM_PROMPT =
    '你是 OVRA-Zirer，一个实时、友好、高效、专业的中文 AI 助手。回答简洁有力，能立刻帮用户解决问题。';
  const WELCOME =
    '你好，我是 OVRA-Zirer。\n\n我可以：\n· 实时语音/视频全双工对话\n· 你随时打字，边聊边输入\n' +
    '· 流式回答 + 句级语音近同步\n· 自动 OTA 升级\n\n点「全双工语音」开始说话，或直接输入问题。';
  const DAY_HINT = '今天 · 本地算力中心';
  const HISTORY_SENT = 12;
  const MAX_EVENTS = 40;
  const MAX_INPUT_PX = 140;
  const MODEL_REFRESH_MS = 60000;
  const OTA_CHECK_DELAY_MS = 15000;
  const TOAST_MS = 3600;
  // Finished answer sentences kept in the screen readers' live region.
  const NEWS_KEPT = 3;
  // An answer without a byte for this long is said to be stalled; this long,
  // and it ends as failed.
  const STALL_HINT_MS = 15000;
  const STALL_END_MS = 90000;
  // Speech output: sentences fetched ahead of the one playing, the longest
  // wait for a speech request, and the time allowed to the browser's voice.
  const SPEECH_AHEAD = 2;
  const SPEECH_TIMEOUT_MS = 8000;
  const SYNTH_BASE_MS = 3000;
  const SYNTH_PER_CHAR_MS = 400;
  // The first clause of an answer is spoken on its own once it has this many
  // letters and its sentence goes on.
  const FIRST_CLAUSE_MIN = 6;
  // Streamed audio whose body is in but does not play after this long is
  // played from the whole body instead.
  const STREAM_START_MS = 1000;
  // Heard text this much like what was spoken this recently is our own voice.
  const ECHO_MS = 5000;
  const ECHO_MATCH = 0.7;
  // Recognition that fails restarts after a pause that doubles up to the
  // maximum; after this many failures in a row the voice pill says so.
  const ASR_RETRY_MS = 500;
  const ASR_RETRY_MAX_MS = 10000;
  const ASR_FAILS_SHOWN = 3;
  // Browser recognition failing with one of these cannot work here; the AI
  // service's transcription listens instead until the microphone goes off.
  const ASR_FATAL_ERRORS = ['network', 'service-not-allowed', 'language-not-supported', 'audio-capture'];
  // Transcription by the AI service: the request's constants and time limit.
  const TRANSCRIBE_MODEL = 'whisper-1';
  const TRANSCRIBE_LANGUAGE = 'zh';
  const TRANSCRIBE_TIMEOUT_MS = 15000;
  const WAV_RATE = 16000;
  // Utterances: level above the noise floor (times a ratio, at least a
  // minimum) this long starts one, quiet this long ends it; kept before its
  // start and after its last sound; shorter ones are dropped, longer ones
  // cut. The microphone arrives in blocks large enough to survive a busy
  // page and is judged in frames small enough to place starts and ends
  // closely. Sound this long over the cockpit's own voice stops it.
  const VAD = Object.freeze({
    onsetMs: 150,
    endMs: 700,
    preRollMs: 300,
    tailMs: 150,
    minMs: 300,
    maxMs: 30000,
    floorRatio: 3,
    minLevel: 0.01,
    block: 4096,
    frame: 512,
    bargeInMs: 600,
  });
  const USABLE_MODELS = ['edge-tts', 'zimage-turbo'];
  const MISSING_WEIGHTS = ['Velmo-Flash-Next-AD', 'Velmo-35B-A3B'];
  const TOOLS = [
    ['💬', '实时对话', '流式补全 · 首字加速'],
    ['🔊', '语音合成', 'edge-tts 句级同步'],
    ['🎤', '语音识别', 'Web Speech / ASR'],
    ['📷', '视频通道', '全双工画面'],
    ['⚡', 'OTA 升级', '静默检测 · 自动更新'],
    ['🧩', '边聊边输', '输入框始终可写'],
  ];

  const state = {
    apiBase: DEFAULT_API,
    version: '1.0.0',
    models: [],
    model: 'Velmo-Flash-Next-AD',
    history: [],
    busy: false,
    ttsBusy: false,
    camOn: false,
    micOn: false,
    vadOn: false,
    recognition: null,
    audioCtx: null,
    analyser: null,
    micStream: null,
    waveRaf: 0,
    fpsRaf: 0,
    ota: null,
    // The model the user chose by hand; model refreshes keep it while listed.
    pickedModel: '',
    // Messages submitted while an answer streams; sent one after another.
    pending: [],
    // Sentences waiting to be spoken, across answers, so only one voice speaks.
    speechQueue: [],
    speechPlaying: false,
    speechItem: null, // the sentence being spoken
    speechGen: 0, // raised when speech is cleared or stopped
    speakingSpan: null,
    spoken: [], // what was said lately, with when it ended
    answerCtrl: null, // aborts the answer being requested or streamed
    camStream: null,
    camPending: false,
    micPending: false,
    asrFailures: 0,
    asrTimer: 0,
    // Which recognition listens: 'browser', 'service', 'off' (the service
    // has none either) or '' while the microphone is off.
    asrRoute: '',
    capture: null, // the microphone's level and sample tap
    vad: null, // utterance detection (see hearBlock)
    transcribing: new Set(), // abort controllers of transcription requests
    transcriptsDone: Promise.resolve(), // results are handled in order
    // What each bubble shows (see wrapSentencesIntoBubble).
    rendered: new WeakMap(),
    scrollRaf: 0,
    dialogReturn: null, // where focus goes back to when the update dialog closes
  };

  const $ = (id) => document.getElementById(id);

  // A new element with its class and text, the shape of most of the page.
  function el(tag, cls, text) {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text != null) e.textContent = text;
    return e;
  }

  // ---------------------------------------------------------------- bridge

  const hub = {
    // No prototype, so event names such as "constructor" are ordinary keys.
    handlers: Object.create(null),
    on(ev, fn) {
      (hub.handlers[ev] || (hub.handlers[ev] = [])).push(fn);
    },
    emit(ev, payload) {
      const call = (fn, args) => {
        try {
          fn.apply(null, args);
        } catch (err) {
          console.error('[ovra] listener of "' + ev + '" failed:', err);
        }
      };
      (hub.handlers[ev] || []).slice().forEach((fn) => call(fn, [payload]));
      (hub.handlers['*'] || []).slice().forEach((fn) => call(fn, [ev, payload]));
    },
    post(msg) {
      const host = window.__host;
      if (host && typeof host.post === 'function') {
        host.post(msg);
        return;
      }
      const webview = window.chrome && window.chrome.webview;
      if (webview && typeof webview.postMessage === 'function') {
        webview.postMessage(typeof msg === 'string' ? msg : JSON.stringify(msg));
      }
    },
  };
  // How many sentences ahead speech is fetched; 0 fetches each one only at
  // its turn, which measurements use for comparison.
  hub.speechAhead = SPEECH_AHEAD;
  // Speech that starts early: audio played while it arrives, an answer's
  // first clause spoken on its own, look-ahead once the first sentence
  // sounds. Off gives the whole-body road, which measurements compare with.
  hub.earlySpeech = true;
  window.__ovra = hub;
  const post = hub.post;

  // ------------------------------------------------------- display helpers

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
    if (state.busy) setOrb('', '思考中…');
    else if (state.micOn) setOrb('listening', '全双工聆听中');
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
    if (text) $('thinkText').textContent = text;
    $('thinkProgress').style.width = show ? '8%' : '0%';
  }

  function progress(p) {
    $('thinkProgress').style.width = Math.max(0, Math.min(100, p)) + '%';
  }

  // Scrolling reads the stream's height and so forces a layout; while an
  // answer streams in, once per frame is enough.
  function scrollStream() {
    if (state.scrollRaf) return;
    state.scrollRaf = requestAnimationFrame(() => {
      state.scrollRaf = 0;
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

  // ------------------------------------------------------------- sentences

  const SENTENCE_END = /[。！？!?\n]/;
  // Further marks and closing quotes or brackets after an end belong to it.
  const SENTENCE_TAIL = /[。！？!?\n」』）)】\]}》”’"']/;
  const HAS_WORDS = /[^\s。！？!?」』）)】\]}》”’"']/;

  function splitSentences(text) {
    const out = [];
    let start = 0;
    for (let i = 0; i < text.length; i++) {
      if (!SENTENCE_END.test(text[i])) continue;
      while (i + 1 < text.length && SENTENCE_TAIL.test(text[i + 1])) i++;
      const piece = text.slice(start, i + 1).trim();
      // Marks before the first words stay with the words after them.
      if (!HAS_WORDS.test(piece)) continue;
      out.push(piece);
      start = i + 1;
    }
    const rest = text.slice(start).trim();
    if (rest) out.push(rest);
    return out;
  }

  // What the voice says of a sentence: the words, without the markdown
  // symbols, list markers and emoji that the bubble shows.
  const LIST_MARKER = /^(?:[-+*•·]|\d+[.)、])\s+/;
  const MARKDOWN = /[*#`]+/g;
  const EMOJI = /[\p{Extended_Pictographic}\u{1F1E6}-\u{1F1FF}\u{1F3FB}-\u{1F3FF}\u200D\uFE0F\u20E3]/gu;
  const SAYABLE = /[\p{L}\p{N}]/u;

  function spokenText(sentence) {
    const words = sentence.replace(LIST_MARKER, '').replace(MARKDOWN, '').replace(EMOJI, '');
    return words.replace(/\s+/g, ' ').trim();
  }

  function sentenceSpan(sentence) {
    const s = el('span', 'sentence', sentence);
    s.dataset.text = sentence;
    return s;
  }

  // What each bubble shows: its sentence texts and its trailing cursor. A
  // growing answer only changes its last sentence, so re-rendering keeps the
  // spans that are unchanged and rebuilds from the first that differs. The
  // result is the same DOM as emptying the bubble and adding every span again.

  function wrapSentencesIntoBubble(bubble, text, sentences) {
    const list = sentences || splitSentences(text);
    if (!list.length) {
      state.rendered.delete(bubble);
      bubble.textContent = text;
      scrollStream();
      return;
    }
    let r = state.rendered.get(bubble);
    if (!r || bubble.lastChild !== r.cursor || bubble.childNodes.length !== r.texts.length + 1) {
      bubble.textContent = '';
      r = { texts: [], cursor: cursorSpan() };
      bubble.appendChild(r.cursor);
      state.rendered.set(bubble, r);
    }
    let same = 0;
    const common = Math.min(r.texts.length, list.length);
    while (same < common && r.texts[same] === list[same]) same++;
    while (r.texts.length > same) {
      bubble.removeChild(r.cursor.previousSibling);
      r.texts.pop();
    }
    if (same < list.length) {
      const frag = document.createDocumentFragment();
      for (let i = same; i < list.length; i++) {
        frag.appendChild(sentenceSpan(list[i]));
        r.texts.push(list[i]);
      }
      bubble.insertBefore(frag, r.cursor);
      const speaking = state.speechItem;
      if (speaking && speaking.bubble === bubble && speaking.index >= same) markSpeaking(speaking);
    }
    scrollStream();
  }

  // Screen readers hear an answer a finished sentence at a time rather than
  // every delta. Until the answer has ended its last sentence may still grow.
  function answerNews() {
    let told = 0;
    return (sentences, ended) => {
      const box = $('answerNews');
      const count = ended ? sentences.length : sentences.length - 1;
      for (; told < count; told++) {
        const words = spokenText(sentences[told]);
        if (!SAYABLE.test(words)) continue;
        box.appendChild(el('p', '', words));
        while (box.children.length > NEWS_KEPT) box.firstElementChild.remove();
      }
    };
  }

  // ------------------------------------------------------------ AI service

  function isTextModel(m) {
    const type = m && m.meta && m.meta.type;
    return !type || type === 'text';
  }

  function renderMatrix(models) {
    const box = $('modelMatrix');
    box.textContent = '';
    const item = (cls, id, tag) => {
      const row = el('div', 'model-item' + (cls ? ' ' + cls : ''));
      const name = el('span', 'id', id);
      name.title = id;
      row.append(name, el('span', 'tag', tag));
      box.appendChild(row);
    };
    if (!models.length) {
      item('bad', '无可用模型', 'offline');
      return;
    }
    for (const m of models) {
      const id = String(m && m.id);
      const type = (m && m.meta && m.meta.type) || 'text';
      if (USABLE_MODELS.includes(id)) item('ok', id, type + ' · 可用');
      else if (MISSING_WEIGHTS.includes(id)) item('bad', id, type + ' · 权重缺失');
      else item('', id, type);
    }
  }

  async function loadModels() {
    try {
      const res = await fetch(state.apiBase + '/models');
      if (!res.ok) throw new Error(await httpFailure(res));
      const body = await res.json();
      // A body without its list is no list: a page from some other server.
      if (!body || !Array.isArray(body.data)) throw new Error('模型列表缺少 data');
      state.models = body.data.filter((m) => m && m.id != null);
      setPill('apiPill', 'ok', 'AI 在线');
      const text = state.models.filter(isTextModel);
      const offered = (text.length ? text : state.models).map((m) => String(m.id));
      const select = $('modelSelect');
      select.textContent = '';
      for (const id of offered) {
        const opt = el('option', '', id);
        opt.value = id;
        select.appendChild(opt);
      }
      if (offered.length) {
        if (!offered.includes(state.pickedModel)) state.pickedModel = '';
        state.model = state.pickedModel || offered[0];
        select.value = state.model;
      }
      renderMatrix(state.models);
      logEvent('模型列表已同步 ×' + state.models.length);
    } catch (err) {
      setPill('apiPill', 'bad', 'AI 离线');
      toast('无法连接 AI 服务', 'bad');
      logEvent('模型列表获取失败: ' + messageOf(err, String(err)));
      renderMatrix([]);
    }
  }

  function apiHost() {
    try {
      return new URL(DEFAULT_API).hostname;
    } catch {
      return DEFAULT_API;
    }
  }

  // The text of an error in whatever shape it came; `fallback` without one.
  function messageOf(error, fallback) {
    const msg = typeof error === 'string' ? error : error && (error.message || error.name);
    return msg ? String(msg) : fallback;
  }

  // The service's own words on a failure, in the shapes servers use: an
  // error object or string, a top-level message, or a detail string or list.
  function serviceMessage(data) {
    if (!data || typeof data !== 'object') return '';
    if (data.error) return messageOf(data.error, '');
    if (typeof data.message === 'string' && data.message) return data.message;
    const detail = data.detail;
    if (typeof detail === 'string') return detail;
    if (!Array.isArray(detail)) return '';
    const said = detail.map((d) => messageOf(d && typeof d === 'object' ? d.msg || d.message : d, ''));
    return said.filter(Boolean).join('; ');
  }

  function serviceFailure(data, status) {
    return serviceMessage(data) || 'HTTP ' + status;
  }

  function parseJson(text) {
    try {
      return { value: JSON.parse(text) };
    } catch (err) {
      return { error: err };
    }
  }

  // An error status is a failure whatever its body holds: the service's
  // error message when it gives one, else the status.
  async function httpFailure(res) {
    const body = await res.text().catch(() => '');
    const parsed = parseJson(body.replace(/^\uFEFF/, ''));
    return serviceFailure(parsed.value, res.status);
  }

  function deltaOf(obj) {
    const c = obj && Array.isArray(obj.choices) ? obj.choices[0] : null;
    const d = (c && c.delta && c.delta.content) || (c && c.text) || '';
    return typeof d === 'string' ? d : '';
  }

  // Reads a server-sent event stream and hands every parsed data object to
  // onData. A last line without a line feed still counts once the body ends.
  // onBytes hears of every chunk, comments and keep-alives included.
  async function readEventStream(body, onData, onBytes) {
    const reader = body.getReader();
    const decoder = new TextDecoder('utf-8');
    let buffer = '';
    const handleLine = (raw) => {
      const line = raw.trim();
      if (!line.startsWith('data:')) return;
      const data = line.slice(5).trim();
      if (!data || data === '[DONE]') return;
      const parsed = parseJson(data);
      if ('value' in parsed) onData(parsed.value);
    };
    try {
      for (;;) {
        const { value, done } = await reader.read();
        if (done) break;
        if (onBytes) onBytes();
        buffer += decoder.decode(value, { stream: true });
        if (buffer.indexOf('\n') < 0) continue;
        const lines = buffer.split('\n');
        buffer = lines.pop();
        for (const line of lines) handleLine(line);
      }
      buffer += decoder.decode();
      if (buffer) handleLine(buffer);
    } catch (err) {
      reader.cancel().catch(() => {});
      throw err;
    }
  }

  async function wholeAnswer(res) {
    const raw = await res.text();
    const parsed = parseJson(raw.replace(/^\uFEFF/, ''));
    if (parsed.error) throw new Error(parsed.error.message);
    const data = parsed.value;
    if (data && (data.error || data.object === 'error')) throw new Error(serviceFailure(data, res.status));
    const c = data && Array.isArray(data.choices) ? data.choices[0] : null;
    let content = (c && c.message && c.message.content) || (c && c.text) || (data && data.output) || '';
    if (typeof content !== 'string') content = JSON.stringify(content);
    return content || raw.trim() || '（服务返回了空内容，请稍后重试）';
  }

  // ------------------------------------------------------ hidden reasoning

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
      if (text && text !== w.text) $('thinkText').textContent = w.text = text;
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

  // An answer that timed out keeps what arrived, marked as failed.
  function answerTimedOut(bubble, answer) {
    state.rendered.delete(bubble);
    const cursor = bubble.querySelector('.cursor');
    if (cursor) cursor.remove();
    bubble.appendChild(el('span', 'meta', '⚠ 出错了：回答超时'));
    state.history.push({ role: 'assistant', content: answer });
  }

  function chatBody() {
    return JSON.stringify({
      model: state.model,
      messages: [{ role: 'system', content: SYSTEM_PROMPT }].concat(state.history.slice(-HISTORY_SENT)),
      temperature: 0.7,
      max_tokens: 1024,
      stream: true,
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
    if (state.busy) {
      const bubble = addMessage('user', clean, '排队中 · ' + inputKind(opts));
      state.pending.push({ text: clean, opts, bubble });
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
    state.history.push({ role: 'user', content: text });

    state.busy = true;
    $('btnSend').disabled = true;
    showThinking(true, '正在理解你的问题');
    resetStages();
    setStage('listen');
    progress(18);
    setOrb('', '思考中…');
    logEvent('发送 → ' + state.model);

    const bubble = addMessage('assistant', '');
    const t0 = performance.now();
    const speech = answerSpeech(bubble);
    const news = answerNews();
    const ctrl = (state.answerCtrl = new AbortController());
    const watch = answerWatch(ctrl, t0);
    const shown = answerFilter();
    let answer = '';
    try {
      setStage('think', true);
      setStage('token');
      progress(42);
      const res = await fetch(state.apiBase + '/chat/completions', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json', Accept: 'text/event-stream' },
        body: chatBody(),
        signal: ctrl.signal,
      });
      if (!res.ok) throw new Error(await httpFailure(res));
      const type = (res.headers.get('content-type') || '').toLowerCase();
      if (type.includes('text/event-stream') && res.body) {
        $('mStream').textContent = 'ON';
        setStage('stream');
        progress(68);
        let first = true;
        await readEventStream(
          res.body,
          (obj) => {
            if (obj && obj.error) throw new Error(serviceFailure(obj, res.status));
            const got = shown(deltaOf(obj));
            if (!got.answer) watch.reasoning(got.reasoning || reasoningDelta(obj));
            if (got.answer === answer) return;
            if (first) {
              first = false;
              $('mTTFT').textContent = Math.round(performance.now() - t0) + 'ms';
              watch.streaming();
              progress(80);
            }
            answer = got.answer;
            const sentences = splitSentences(answer);
            wrapSentencesIntoBubble(bubble, answer, sentences);
            speech.queueComplete(sentences);
            news(sentences, false);
          },
          watch.bytes,
        );
        // A tag's first letters that never became one are answer text.
        answer = shown('', true).answer;
      } else {
        answer = shown(await wholeAnswer(res), true).answer;
        wrapSentencesIntoBubble(bubble, answer);
        $('mStream').textContent = 'JSON';
        $('mTTFT').textContent = Math.round(performance.now() - t0) + 'ms';
      }
      // Whatever is not queued yet, a last sentence without a mark included.
      speech.queueAll(answer);
      news(splitSentences(answer), true);
      if (!answer.trim()) {
        state.rendered.delete(bubble);
        bubble.textContent = '（未收到有效回答，可能是后端模型未安装）';
      } else {
        wrapSentencesIntoBubble(bubble, answer);
      }
      state.history.push({ role: 'assistant', content: answer || '（空）' });
      $('mLatency').textContent = Math.round(performance.now() - t0) + 'ms';
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
        state.rendered.delete(bubble);
        bubble.textContent =
          '⚠ 出错了：' + msg + '\n\n可能是 ' + apiHost() + ' 文本模型未安装或网络抖动。你仍可以继续打字，我会重试。';
      }
      showThinking(false);
      setPill('apiPill', 'bad', 'AI 异常');
      toast('模型调用失败：' + msg, 'bad');
      logEvent('错误: ' + msg);
    } finally {
      watch.stop();
      if (state.answerCtrl === ctrl) state.answerCtrl = null;
      state.busy = false;
      $('btnSend').disabled = false;
      if (!state.ttsBusy) restoreOrb();
      const next = state.pending.shift();
      if (next) ask(next.text, next.opts, next.bubble);
    }
  }

  // An answer the user stopped keeps what arrived, marked as cut short; the
  // conversation goes on from there.
  function answerStopped(bubble, answer, t0) {
    if (answer.trim()) wrapSentencesIntoBubble(bubble, answer);
    else bubble.textContent = '';
    state.rendered.delete(bubble);
    const cursor = bubble.querySelector('.cursor');
    if (cursor) cursor.remove();
    bubble.appendChild(el('span', 'meta', '⏹ 已停止'));
    if (answer.trim()) state.history.push({ role: 'assistant', content: answer });
    $('mLatency').textContent = Math.round(performance.now() - t0) + 'ms';
    showThinking(false);
    logEvent('回答已停止');
  }

  // Esc, or a click on the speaking orb: silence at once and end the answer
  // that is streaming. Messages already queued are sent as usual.
  function stopAll() {
    if (!state.ttsBusy && !state.answerCtrl) return;
    stopSpeech();
    if (state.answerCtrl) state.answerCtrl.abort();
  }

  // ---------------------------------------------------------- speech output

  // The speech side of one answer: counts the sentences already queued. An
  // answer cleared or stopped (a new speech generation) queues nothing more.
  function answerSpeech(bubble) {
    const gen = state.speechGen;
    let queued = 0;
    let head = 0; // length of the first sentence's clause already queued
    const push = (item) => {
      if (SAYABLE.test(item.say)) state.speechQueue.push(item);
    };
    const start = () => {
      if (!state.speechQueue.length) return;
      if (state.speechPlaying) fetchAhead();
      else flushSpeak();
    };
    const queueUpTo = (sentences, count) => {
      if (gen !== state.speechGen) return;
      for (; queued < count; queued++) {
        const text = sentences[queued];
        push({ text, say: spokenText(queued ? text : text.slice(head)), bubble, index: queued });
      }
      start();
    };
    // The first words come early: a long first clause of the still open first
    // sentence is spoken before the sentence ends.
    const queueHead = (sentences) => {
      if (gen !== state.speechGen || queued || head || sentences.length !== 1 || !hub.earlySpeech) return;
      head = firstClauseEnd(sentences[0]);
      if (!head) return;
      push({ text: sentences[0], say: spokenText(sentences[0].slice(0, head)), bubble, index: 0, head: true });
      start();
    };
    return {
      // All but the last sentence are complete; the last may still grow.
      queueComplete: (sentences) => {
        queueHead(sentences);
        queueUpTo(sentences, sentences.length - 1);
      },
      queueAll: (text) => {
        const sentences = splitSentences(text);
        queueUpTo(sentences, sentences.length);
      },
    };
  }

  const CLAUSE_MARK = /[，、；：]/;

  // Where the first clause of a sentence ends (after its mark), once it has
  // FIRST_CLAUSE_MIN letters; 0 without such a clause.
  function firstClauseEnd(sentence) {
    let letters = 0;
    for (let i = 0; i < sentence.length; i++) {
      if (SAYABLE.test(sentence[i])) letters++;
      else if (CLAUSE_MARK.test(sentence[i]) && letters >= FIRST_CLAUSE_MIN) return i + 1;
    }
    return 0;
  }

  function markSpeaking(item) {
    if (state.speakingSpan) state.speakingSpan.classList.remove('speaking');
    state.speakingSpan = null;
    if (!item) return;
    // The first clause is spoken while its sentence still grows.
    const shows = (span) => (item.head ? span.dataset.text.startsWith(item.text) : span.dataset.text === item.text);
    let span = item.bubble.children[item.index];
    if (!span || !span.classList.contains('sentence') || !shows(span)) {
      span = Array.from(item.bubble.querySelectorAll('.sentence')).find(shows);
    }
    if (span) {
      span.classList.add('speaking');
      state.speakingSpan = span;
    }
    setOrb('speaking', '正在发声');
  }

  async function flushSpeak() {
    if (state.speechPlaying) return;
    state.speechPlaying = true;
    setStage('tts');
    state.ttsBusy = true;
    while (state.speechQueue.length) {
      const item = state.speechQueue.shift();
      state.speechItem = item;
      fetchSpeech(item);
      fetchAhead();
      markSpeaking(item);
      const said = { say: item.say, end: Infinity };
      recentSpeech().push(said);
      await speakOne(item);
      said.end = performance.now();
      state.speechItem = null;
    }
    markSpeaking(null);
    state.speechPlaying = false;
    state.ttsBusy = false;
    $('mTts').textContent = 'idle';
    restoreOrb();
  }

  // The audio of the next sentences is fetched while one plays, so each
  // follows the one before without waiting for its speech request.
  // Not before the sentence playing sounds: requests side by side with its
  // own would make the first sentence of an answer later.
  function fetchAhead() {
    const current = state.speechItem;
    if (hub.earlySpeech && current && !current.sounding) return;
    state.speechQueue.slice(0, hub.speechAhead).forEach(fetchSpeech);
  }

  function sounding(item) {
    if (item.sounding) return;
    item.sounding = true;
    if (state.speechItem === item) fetchAhead();
  }

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
        const res = await fetch(state.apiBase + '/audio/speech', {
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
      } catch {}
    }
    return true;
  }

  // Drops a queued or playing sentence: its request, its audio, its voice.
  function dropSpeech(item) {
    item.dropped = true;
    if (item.ctrl) item.ctrl.abort();
    if (item.stop) item.stop();
    if (item.audio) {
      item.audio.then((got) => {
        if (!got) return;
        got.audio.pause();
        URL.revokeObjectURL(got.url);
      });
    }
  }

  function stopSpeech() {
    state.speechGen++;
    const items = state.speechQueue.splice(0);
    if (state.speechItem) items.unshift(state.speechItem);
    items.forEach(dropSpeech);
  }

  // Settles when the sentence has been spoken, by either voice, or dropped.
  async function speakOne(item) {
    const got = await fetchSpeech(item);
    if (item.dropped) return;
    if (!got) return speakFallback(item.say, item);
    $('mTts').textContent = got.ms + 'ms';
    return playAudio(item, got);
  }

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

  // ----------------------------------------------------------- camera, mic

  function ensureAudio() {
    if (!state.audioCtx) {
      const Ctx = window.AudioContext || window.webkitAudioContext;
      state.audioCtx = new Ctx();
    }
    if (state.audioCtx.state === 'suspended') state.audioCtx.resume().catch(() => {});
    return state.audioCtx;
  }

  function stopTracks(stream) {
    if (stream) stream.getTracks().forEach((t) => t.stop());
  }

  // While a camera or microphone request is open, further clicks on its
  // button are ignored: a second request would open a capture that the
  // page could lose track of.
  async function toggleCam() {
    if (state.camPending) return;
    const video = $('localVideo');
    const btn = $('btnCam');
    if (state.camOn) {
      stopTracks(state.camStream);
      if (video.srcObject !== state.camStream) stopTracks(video.srcObject);
      video.srcObject = null;
      state.camStream = null;
      state.camOn = false;
      btn.classList.remove('active');
      btn.textContent = '📷 开启视频';
      setPill('videoPill', 'warn', '视频关闭');
      return;
    }
    state.camPending = true;
    let stream = null;
    try {
      stream = await navigator.mediaDevices.getUserMedia({
        video: { width: { ideal: 1280 }, height: { ideal: 720 }, frameRate: { ideal: 30 } },
        audio: false,
      });
      state.camStream = stream;
      video.srcObject = stream;
      state.camOn = true;
      btn.classList.add('active');
      btn.textContent = '📷 关闭视频';
      setPill('videoPill', 'ok', '视频就绪');
      logEvent('视频通道已开启');
      startFps();
    } catch (err) {
      // What was granted before the failure is not left running.
      stopTracks(stream);
      state.camStream = null;
      video.srcObject = null;
      state.camOn = false;
      setPill('videoPill', 'bad', '视频不可用');
      toast('无法开启摄像头：' + messageOf(err, String(err)), 'bad');
    } finally {
      state.camPending = false;
    }
  }

  function startFps() {
    cancelAnimationFrame(state.fpsRaf);
    let frames = 0;
    let last = performance.now();
    const tick = (now) => {
      state.fpsRaf = requestAnimationFrame(tick);
      frames++;
      if (now - last >= 1000) {
        $('fpsLabel').textContent = frames + ' fps';
        frames = 0;
        last = now;
      }
    };
    state.fpsRaf = requestAnimationFrame(tick);
  }

  async function toggleMic() {
    if (state.micPending) return;
    const btn = $('btnMic');
    if (state.micOn) {
      stopTracks(state.micStream);
      const rec = state.recognition;
      state.micOn = false;
      if (rec) {
        try {
          rec.stop();
        } catch {}
      }
      clearTimeout(state.asrTimer);
      state.asrTimer = 0;
      state.asrFailures = 0;
      stopUtterances();
      cancelAnimationFrame(state.waveRaf);
      state.waveRaf = 0;
      state.micStream = null;
      btn.classList.remove('active');
      btn.textContent = '🎤 开启语音';
      setPill('voicePill', 'warn', '语音关闭');
      setOrb('', '待命中');
      return;
    }
    state.micPending = true;
    let stream = null;
    try {
      // Echo cancellation stays on. Gain control would move the level that
      // utterances are told from the room by, and the transcription wants the
      // voice as it is rather than noise-suppressed.
      stream = await navigator.mediaDevices.getUserMedia({
        audio: { echoCancellation: true, autoGainControl: false, noiseSuppression: false },
      });
      state.micStream = stream;
      const ctx = ensureAudio();
      const analyser = ctx.createAnalyser();
      analyser.fftSize = 1024;
      const source = ctx.createMediaStreamSource(stream);
      source.connect(analyser);
      state.analyser = analyser;
      startUtterances(ctx, source);
      state.micOn = true;
      btn.classList.add('active');
      btn.textContent = '🎤 关闭语音';
      setPill('voicePill', 'ok', '全双工就绪');
      setOrb('listening', '全双工聆听中');
      logEvent('麦克风通道已开启（全双工）');
      startWave();
      startSpeechRecognition();
    } catch (err) {
      stopTracks(stream);
      stopUtterances();
      state.micStream = null;
      state.analyser = null;
      state.micOn = false;
      setPill('voicePill', 'bad', '语音不可用');
      toast('无法开启麦克风：' + messageOf(err, String(err)), 'bad');
    } finally {
      state.micPending = false;
    }
  }

  function startWave() {
    const canvas = $('waveCanvas');
    const g = canvas.getContext('2d');
    const samples = new Uint8Array(1024);
    const line = (step, amp, colour) => {
      const w = canvas.width;
      const h = canvas.height;
      g.beginPath();
      for (let i = 0; i < samples.length; i += step) {
        const v = (samples[i] - 128) / 128;
        const x = (i / samples.length) * w;
        const y = h / 2 + v * h * amp;
        if (i === 0) g.moveTo(x, y);
        else g.lineTo(x, y);
      }
      g.lineWidth = 2;
      g.strokeStyle = colour;
      g.stroke();
    };
    const frame = () => {
      state.waveRaf = requestAnimationFrame(frame);
      g.clearRect(0, 0, canvas.width, canvas.height);
      if (!state.analyser) return;
      state.analyser.getByteTimeDomainData(samples);
      let energy = 0;
      for (let i = 0; i < samples.length; i++) {
        const v = (samples[i] - 128) / 128;
        energy += v * v;
      }
      line(1, 0.42, 'rgba(34,211,238,0.9)');
      line(2, 0.55, 'rgba(124,92,255,0.45)');
      const rms = Math.sqrt(energy / samples.length);
      if (!state.busy && !state.ttsBusy && state.micOn) {
        if (rms > 0.035) setOrb('listening', '听到声音');
        else setOrb('', '全双工聆听中');
      }
    };
    cancelAnimationFrame(state.waveRaf);
    state.waveRaf = requestAnimationFrame(frame);
  }

  // Errors that belong to ordinary listening (silence, our own stop), not
  // to a failing recogniser.
  const ASR_QUIET_ERRORS = ['no-speech', 'aborted'];

  function startSpeechRecognition() {
    const Recognition = window.SpeechRecognition || window.webkitSpeechRecognition;
    if (!Recognition) {
      setAsrRoute('service');
      return;
    }
    if (state.recognition) {
      try {
        state.recognition.stop();
      } catch {}
    }
    const rec = new Recognition();
    rec.lang = 'zh-CN';
    rec.continuous = true;
    rec.interimResults = true;
    let failed = '';
    rec.onresult = (e) => {
      asrWorks();
      let finalText = '';
      let interim = '';
      for (let i = e.resultIndex; i < e.results.length; i++) {
        const r = e.results[i];
        const t = (r[0] && r[0].transcript) || '';
        if (r.isFinal) finalText += t;
        else interim += t;
      }
      $('partialAsr').textContent = interim ? '🎙 ' + interim : '';
      const said = finalText.trim();
      if (!said) return;
      $('partialAsr').textContent = '';
      heardFinal(said);
    };
    rec.onerror = (e) => {
      const error = (e && e.error) || 'unknown';
      if (ASR_QUIET_ERRORS.includes(error)) return;
      if (ASR_FATAL_ERRORS.includes(error)) {
        browserAsrUnusable(rec, error);
        return;
      }
      failed = error;
      if (error === 'not-allowed') {
        setPill('voicePill', 'bad', '麦克风被拒绝');
        toast('浏览器拒绝了语音识别权限', 'bad');
      }
    };
    rec.onend = () => {
      // Only the current recogniser restarts; a replaced one stays stopped.
      if (!state.micOn || state.recognition !== rec) return;
      const error = failed;
      failed = '';
      if (!error) {
        asrWorks();
        startRecogniser(rec);
        return;
      }
      state.asrFailures++;
      const wait = Math.min(ASR_RETRY_MAX_MS, ASR_RETRY_MS * 2 ** (state.asrFailures - 1));
      if (state.asrFailures >= ASR_FAILS_SHOWN && error !== 'not-allowed') {
        setPill('voicePill', 'bad', '语音识别不可用：' + error);
      }
      logEvent('语音识别出错: ' + error + '，' + wait / 1000 + ' 秒后重试');
      clearTimeout(state.asrTimer);
      state.asrTimer = setTimeout(() => {
        state.asrTimer = 0;
        if (state.micOn && state.recognition === rec) startRecogniser(rec);
      }, wait);
    };
    if (startRecogniser(rec)) {
      state.recognition = rec;
      setAsrRoute('browser');
      logEvent('Web Speech ASR 已启动');
    } else {
      setAsrRoute('service');
    }
  }

  // A final text of either recognition: logged; sent with auto-send on while
  // nothing answers or speaks, unless it is the cockpit's own voice. Speech
  // the user talked over was stopped for it, so it goes out (or waits its turn).
  function heardFinal(said, bargedIn) {
    logEvent('ASR final: ' + said.slice(0, 28));
    if (!state.vadOn || (!bargedIn && (state.busy || state.ttsBusy))) return;
    // The microphone hears the cockpit's own voice too.
    if (isOwnVoice(said)) logEvent('已丢弃（刚播报的内容）: ' + said.slice(0, 28));
    else sendText(said, { voice: true });
  }

  function browserAsrUnusable(rec, error) {
    state.recognition = null;
    try {
      rec.abort();
    } catch {}
    logEvent('浏览器语音识别不可用（' + error + '），改用 AI 服务转写');
    setAsrRoute('service');
  }

  function startRecogniser(rec) {
    try {
      rec.start();
      return true;
    } catch {
      return false;
    }
  }

  // Recognition that failed and now works again clears its failure look.
  function asrWorks() {
    if (!state.asrFailures) return;
    state.asrFailures = 0;
    if (state.micOn) setPill('voicePill', 'ok', '全双工就绪');
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
    state.spoken = state.spoken.filter((s) => now - s.end < ECHO_MS);
    return state.spoken;
  }

  function isOwnVoice(heard) {
    recentSpeech();
    const h = hearable(heard);
    if (!h || !state.spoken.length) return false;
    if (h.length < 4) return state.spoken.some((s) => hearable(s.say) === h);
    const said = hearable(state.spoken.map((s) => s.say).join(''));
    let hits = 0;
    for (let i = 0; i + 1 < h.length; i++) if (said.includes(h.slice(i, i + 2))) hits++;
    return hits / (h.length - 1) >= ECHO_MATCH;
  }

  function toggleVad() {
    state.vadOn = !state.vadOn;
    $('btnVad').classList.toggle('active', state.vadOn);
    $('btnVad').setAttribute('aria-pressed', String(state.vadOn));
    toast(state.vadOn ? 'VAD 自动送话已开启' : 'VAD 自动送话已关闭', 'ok');
  }

  // ------------------------------------------- voice input: utterances

  const HINT_DEFAULT = '语音识别中的话会实时出现在这里';
  const ROUTE_HINTS = {
    browser: '浏览器语音识别在听，识别中的话会实时出现在这里',
    service: 'AI 服务语音识别在听：说完一句即转写',
    off: '语音输入不可用，可直接打字',
  };

  function setAsrRoute(route) {
    state.asrRoute = route;
    $('composerHint').textContent = ROUTE_HINTS[route] || HINT_DEFAULT;
  }

  // Taps the microphone for utterance detection. The node's output is
  // silent; it is connected only because the browser runs it that way.
  function startUtterances(ctx, source) {
    const tap = ctx.createScriptProcessor(VAD.block, 1, 1);
    tap.onaudioprocess = (e) => {
      if (state.capture !== capture) return;
      const block = new Float32Array(e.inputBuffer.getChannelData(0));
      for (let at = 0; at < block.length; at += VAD.frame) {
        hearBlock(block.subarray(at, at + VAD.frame), ctx.sampleRate);
      }
    };
    source.connect(tap);
    tap.connect(ctx.destination);
    const capture = { source, tap };
    state.capture = capture;
    state.vad = { floor: 0, phase: 'quiet', recent: [], recentMs: 0, onsetMs: 0, shownAt: 0 };
  }

  // Microphone off: no more audio is heard or sent, requests underway end.
  function stopUtterances() {
    const capture = state.capture;
    state.capture = null;
    state.vad = null;
    if (capture) {
      try {
        capture.source.disconnect();
        capture.tap.disconnect();
      } catch {}
    }
    state.transcribing.forEach((ctrl) => ctrl.abort());
    state.transcribing.clear();
    setAsrRoute('');
    $('partialAsr').textContent = '';
  }

  function levelOf(block) {
    let energy = 0;
    for (let i = 0; i < block.length; i++) energy += block[i] * block[i];
    return Math.sqrt(energy / block.length);
  }

  // One block of microphone samples through the detector. Times are audio
  // time, so a busy page does not change where utterances start and end.
  function hearBlock(block, rate) {
    const v = state.vad;
    const ms = (block.length / rate) * 1000;
    const level = levelOf(block);
    if (!v.floor) v.floor = level || VAD.minLevel;
    const loud = level > Math.max(v.floor * VAD.floorRatio, VAD.minLevel);
    // A room that stays louder lifts the floor even while it counts as
    // sound, so lasting noise ends its utterance instead of running on.
    if (loud) v.floor += (level - v.floor) * 0.0003;
    if (v.phase === 'speech') return hearSpeech(v, block, ms, loud, rate);

    v.recent.push(block);
    v.recentMs += ms;
    if (loud) {
      v.onsetMs += ms;
      if (v.onsetMs >= VAD.onsetMs) utteranceStarts(v, rate);
      return;
    }
    v.onsetMs = 0;
    // The floor follows quiet rooms down at once and noisy ones up slowly.
    v.floor += (level - v.floor) * (level < v.floor ? 0.3 : 0.02);
    trimRecent(v, ms, rate);
  }

  function trimRecent(v, ms, rate) {
    const keep = VAD.preRollMs + VAD.onsetMs + ms;
    while (v.recentMs - (v.recent[0].length / rate) * 1000 >= keep) {
      v.recentMs -= (v.recent.shift().length / rate) * 1000;
    }
  }

  function utteranceStarts(v, rate) {
    // What came before the sound's start, up to the pre-roll, is kept.
    const before = v.recentMs - v.onsetMs;
    const dropMs = Math.max(0, before - VAD.preRollMs);
    const dropSamples = Math.round((dropMs / 1000) * rate);
    const all = concatBlocks(v.recent);
    v.utterance = {
      samples: [all.subarray(dropSamples)],
      ms: v.recentMs - dropMs,
      soundFrom: before - dropMs,
      soundTo: v.recentMs - dropMs,
      quietMs: 0,
      loudMs: v.onsetMs,
      bargedIn: false,
    };
    v.phase = 'speech';
    v.recent = [];
    v.recentMs = 0;
    v.onsetMs = 0;
    showListening(v);
  }

  function hearSpeech(v, block, ms, loud, rate) {
    const u = v.utterance;
    u.samples.push(block);
    u.ms += ms;
    if (loud) {
      u.soundTo = u.ms;
      u.quietMs = 0;
      u.loudMs += ms;
    } else {
      u.quietMs += ms;
    }
    // Sound for that long, not clicks spread over that long, is a voice.
    if (!u.bargedIn && u.loudMs >= VAD.bargeInMs && state.vadOn && state.ttsBusy) {
      u.bargedIn = true;
      logEvent('检测到插话，已停止播报');
      stopAll();
    }
    const ended = u.quietMs >= VAD.endMs;
    if (ended || u.ms >= VAD.maxMs) {
      v.phase = 'quiet';
      v.utterance = null;
      utteranceEnds(u, rate, !ended);
    } else {
      showListening(v);
    }
  }

  function showListening(v) {
    const u = v.utterance;
    if (state.asrRoute !== 'service' || u.ms - v.shownAt < 100) return;
    v.shownAt = u.ms;
    $('partialAsr').textContent = '🎙 正在听… ' + (u.ms / 1000).toFixed(1) + ' s';
  }

  function utteranceEnds(u, rate, cut) {
    if (state.asrRoute === 'service') $('partialAsr').textContent = '';
    if (!cut && u.soundTo - u.soundFrom < VAD.minMs) return;
    if (state.asrRoute !== 'service') return;
    const keepMs = cut ? u.ms : Math.min(u.ms, u.soundTo + VAD.tailMs);
    const samples = concatBlocks(u.samples).subarray(0, Math.round((keepMs / 1000) * rate));
    const wav = wavFile(resample(samples, rate, WAV_RATE), WAV_RATE);
    $('partialAsr').textContent = '🎙 正在识别…';
    const result = transcribe(wav);
    state.transcriptsDone = state.transcriptsDone.then(() => result).then((r) => transcribed(r, u.bargedIn));
  }

  function concatBlocks(blocks) {
    const out = new Float32Array(blocks.reduce((n, b) => n + b.length, 0));
    let at = 0;
    for (const b of blocks) {
      out.set(b, at);
      at += b.length;
    }
    return out;
  }

  // Down to the service's rate: each output sample is the mean of the input
  // samples it stands for, which keeps what is above its band out.
  function resample(samples, from, to) {
    const ratio = from / to;
    const out = new Int16Array(Math.floor(samples.length / ratio));
    for (let i = 0; i < out.length; i++) {
      const start = Math.floor(i * ratio);
      const end = Math.max(start + 1, Math.min(samples.length, Math.floor((i + 1) * ratio)));
      let sum = 0;
      for (let j = start; j < end; j++) sum += samples[j];
      const x = Math.max(-1, Math.min(1, sum / (end - start)));
      out[i] = x < 0 ? x * 0x8000 : x * 0x7fff;
    }
    return out;
  }

  function wavFile(pcm, rate) {
    const view = new DataView(new ArrayBuffer(44 + pcm.length * 2));
    const ascii = (at, text) => {
      for (let i = 0; i < text.length; i++) view.setUint8(at + i, text.charCodeAt(i));
    };
    ascii(0, 'RIFF');
    view.setUint32(4, 36 + pcm.length * 2, true);
    ascii(8, 'WAVE');
    ascii(12, 'fmt ');
    view.setUint32(16, 16, true);
    view.setUint16(20, 1, true); // PCM
    view.setUint16(22, 1, true); // mono
    view.setUint32(24, rate, true);
    view.setUint32(28, rate * 2, true);
    view.setUint16(32, 2, true);
    view.setUint16(34, 16, true);
    ascii(36, 'data');
    view.setUint32(40, pcm.length * 2, true);
    for (let i = 0; i < pcm.length; i++) view.setInt16(44 + i * 2, pcm[i], true);
    return view.buffer;
  }

  // Posts one utterance; settles with { text }, { error }, { missing } (the
  // service has no transcription) or { dropped } (the microphone went off).
  async function transcribe(wav) {
    const ctrl = new AbortController();
    let timedOut = false;
    const timer = setTimeout(() => {
      timedOut = true;
      ctrl.abort();
    }, TRANSCRIBE_TIMEOUT_MS);
    state.transcribing.add(ctrl);
    const form = new FormData();
    form.append('file', new Blob([wav], { type: 'audio/wav' }), 'speech.wav');
    form.append('model', TRANSCRIBE_MODEL);
    form.append('language', TRANSCRIBE_LANGUAGE);
    form.append('response_format', 'json');
    try {
      const res = await fetch(state.apiBase + '/audio/transcriptions', { method: 'POST', body: form, signal: ctrl.signal });
      if (res.status === 404) return { missing: true };
      if (!res.ok) return { error: await httpFailure(res) };
      const data = parseJson((await res.text()).replace(/^\uFEFF/, '')).value;
      if (data && data.error) return { error: errorText(data.error, res.status) };
      if (!data || typeof data.text !== 'string') return { error: '识别结果无法读取' };
      return { text: data.text.trim() };
    } catch (err) {
      if (timedOut) return { error: '超过 ' + TRANSCRIBE_TIMEOUT_MS / 1000 + ' 秒未返回' };
      if (ctrl.signal.aborted) return { dropped: true };
      return { error: messageOf(err, '网络错误') };
    } finally {
      clearTimeout(timer);
      state.transcribing.delete(ctrl);
    }
  }

  function transcribed(result, bargedIn) {
    if (result.dropped || state.asrRoute !== 'service') return;
    if (!state.vad || state.vad.phase !== 'speech') $('partialAsr').textContent = '';
    if (result.missing) {
      // Nothing to retry: the service has no speech recognition.
      setAsrRoute('off');
      setPill('voicePill', 'bad', '语音识别不可用：AI 服务无语音识别');
      toast('语音输入不可用：AI 服务不提供语音识别，仍可直接打字', 'bad');
      logEvent('语音识别不可用：AI 服务无 /audio/transcriptions');
      return;
    }
    if (result.error != null) {
      state.asrFailures++;
      toast('语音识别失败：' + result.error, 'bad');
      logEvent('语音识别失败: ' + result.error);
      if (state.asrFailures >= ASR_FAILS_SHOWN) setPill('voicePill', 'bad', '语音识别不可用：' + result.error);
      return;
    }
    asrWorks();
    if (result.text) heardFinal(result.text, bargedIn);
    else logEvent('未识别到文字');
  }

  // ------------------------------------------------------- host and update

  // The update dialog is modal: the page behind it goes inert, focus moves
  // into it and stays there, and comes back to where it was on closing.
  function setBehindDialog(inert) {
    document.querySelector('.titlebar').inert = inert;
    document.querySelector('.stage').inert = inert;
  }

  function showOtaDialog() {
    const modal = $('otaModal');
    if (!modal.hidden) return;
    state.dialogReturn = document.activeElement;
    modal.hidden = false;
    setBehindDialog(true);
    // The harmless choice first: a stray Enter must not start an update.
    $('btnOtaLater').focus();
  }

  function hideOtaDialog() {
    const modal = $('otaModal');
    if (modal.hidden) return;
    modal.hidden = true;
    setBehindDialog(false);
    const back = state.dialogReturn;
    state.dialogReturn = null;
    if (back && back.isConnected && back !== document.body) back.focus();
    else $('input').focus();
  }

  // Tab and Shift+Tab go round the dialog's buttons; past the last one the
  // browser would hand focus to the host window.
  function keepFocusInDialog(e) {
    const buttons = Array.from($('otaModal').querySelectorAll('button:not(:disabled)'));
    if (!buttons.length) return;
    const first = buttons[0];
    const last = buttons[buttons.length - 1];
    const at = buttons.indexOf(document.activeElement);
    if (at < 0 || (e.shiftKey && at === 0) || (!e.shiftKey && at === buttons.length - 1)) {
      e.preventDefault();
      (e.shiftKey ? last : first).focus();
    }
  }

  // Esc closes the update dialog as "稍后" does; otherwise it stops speech
  // and the answer under way.
  function onPageKey(e) {
    if ($('otaModal').hidden) {
      if (e.key === 'Escape') stopAll();
    } else if (e.key === 'Escape') {
      e.preventDefault();
      onOtaLater();
    } else if (e.key === 'Tab') {
      keepFocusInDialog(e);
    }
  }

  hub.on('hostInfo', (p) => {
    if (!p) return;
    if (p.version) state.version = String(p.version);
    if (p.apiBase) state.apiBase = String(p.apiBase);
    $('versionLabel').textContent = 'v' + state.version;
    logEvent('Host 已连接');
  });

  hub.on('runtimeUpdated', () => {
    logEvent('浏览器运行时已更新，重新启动 OVRA-Zirer 后生效');
  });

  hub.on('hostReady', (p) => {
    if (p && p.version) {
      state.version = String(p.version);
      $('versionLabel').textContent = 'v' + state.version;
    }
  });

  // An offer without its version still reads as a sentence.
  function offeredVersion(ota) {
    return ota.version != null && ota.version !== '' ? String(ota.version) : '新版本';
  }

  hub.on('otaStatus', (p) => {
    state.ota = p;
    let dismissed = '';
    try {
      dismissed = localStorage.getItem('otaDismissed') || '';
    } catch {}
    if (p && p.available === true && window.__host) {
      if (p.force === true) {
        setPill('otaPill', 'warn', '请升级 ' + offeredVersion(p));
        showOtaDialog();
        $('otaNotes').textContent = p.notes || '可升级到 ' + offeredVersion(p);
      } else if (dismissed !== String(p.version)) {
        setPill('otaPill', 'warn', '可升级 ' + offeredVersion(p));
      } else {
        setPill('otaPill', 'ok', '系统最新');
      }
    } else if (p && p.error) {
      // The host refused what the update server offered (an unsigned or forged manifest).
      setPill('otaPill', 'bad', '更新被拒绝');
      logEvent('OTA ' + p.error);
    } else {
      setPill('otaPill', 'ok', '系统最新');
    }
  });

  hub.on('ota', (p) => {
    if (!p) return;
    if (p.stage === 'download') {
      const pct = Number(p.pct) || 0;
      showOtaDialog();
      $('otaProgress').style.width = Math.max(0, Math.min(100, pct)) + '%';
      $('otaNotes').textContent = '正在下载升级包 ' + pct + '%';
    } else if (p.stage === 'verify') {
      $('otaNotes').textContent = '校验完整性…';
    } else if (p.stage === 'apply') {
      $('otaNotes').textContent = '正在应用升级并重启…';
    } else if (p.stage === 'error') {
      // The toast goes after a few seconds; the event list keeps what happened.
      const text = '升级失败: ' + messageOf(p.message, '未知错误');
      toast(text, 'bad');
      logEvent(text);
    }
  });

  function onOtaPill() {
    const ota = state.ota;
    if (!(ota && ota.available)) {
      post({ cmd: 'checkOta' });
      return;
    }
    // Opening the dialog fresh shows what the update brings; while an update
    // runs, the dialog keeps its progress text.
    if ($('otaModal').hidden) $('otaNotes').textContent = ota.notes || '可升级到 ' + offeredVersion(ota);
    showOtaDialog();
  }

  function onOtaLater() {
    hideOtaDialog();
    if (state.ota && state.ota.version) {
      try {
        localStorage.setItem('otaDismissed', String(state.ota.version));
      } catch {}
    }
  }

  // ------------------------------------------------------------------ boot

  function renderTools() {
    const list = $('toolList');
    list.textContent = '';
    for (const [icon, title, sub] of TOOLS) {
      const text = el('div');
      text.append(el('b', '', title), el('small', '', sub));
      const row = el('div', 'tool');
      row.append(el('div', 'ico', icon), text);
      list.appendChild(row);
    }
  }

  function bindUI() {
    const input = $('input');
    $('btnSend').addEventListener('click', () => sendText(input.value));
    input.addEventListener('keydown', (e) => {
      // Enter that confirms an input-method candidate is not a send.
      if (e.key === 'Enter' && !e.shiftKey && !e.isComposing) {
        e.preventDefault();
        sendText(input.value);
      }
    });
    input.addEventListener('input', () => {
      input.style.height = 'auto';
      input.style.height = Math.min(input.scrollHeight, MAX_INPUT_PX) + 'px';
    });
    $('btnClear').addEventListener('click', () => {
      state.history = [];
      state.pending.length = 0;
      // The answers go, and so does their speech, fetched audio included.
      stopSpeech();
      const stream = $('stream');
      stream.textContent = '';
      stream.appendChild(el('div', 'day-hint', DAY_HINT));
    });
    $('modelSelect').addEventListener('change', (e) => {
      state.model = e.target.value;
      state.pickedModel = state.model;
      logEvent('切换模型 → ' + state.model);
    });
    $('btnCam').addEventListener('click', toggleCam);
    $('btnMic').addEventListener('click', toggleMic);
    $('btnVad').addEventListener('click', toggleVad);
    $('voiceOrb').addEventListener('click', () => {
      if (state.ttsBusy) stopAll();
    });
    document.addEventListener('keydown', onPageKey);
    $('btnMin').addEventListener('click', () => post({ cmd: 'minimize' }));
    $('btnMax').addEventListener('click', () => post({ cmd: 'maximize' }));
    $('btnClose').addEventListener('click', () => post({ cmd: 'close' }));
    $('btnOtaGo').addEventListener('click', () => post({ cmd: 'applyOta' }));
    $('btnOtaLater').addEventListener('click', onOtaLater);
    $('otaPill').addEventListener('click', onOtaPill);
  }

  function boot() {
    bindUI();
    renderTools();
    post({ cmd: 'ready' });
    post({ cmd: 'getHostInfo' });
    loadModels();
    addMessage('assistant', WELCOME);
    setPill('apiPill', 'warn', '连接中');
    setPill('voicePill', 'warn', '语音关闭');
    setPill('videoPill', 'warn', '视频关闭');
    setOrb('', '待命中');
    logEvent('界面已就绪');
    setInterval(loadModels, MODEL_REFRESH_MS);
    setTimeout(() => post({ cmd: 'checkOta' }), OTA_CHECK_DELAY_MS);
  }

  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', boot);
  else boot();
})();
