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
    speakingSpan: null,
    // What each bubble shows (see wrapSentencesIntoBubble).
    rendered: new WeakMap(),
    scrollRaf: 0,
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
  window.__ovra = hub;
  const post = hub.post;

  // ------------------------------------------------------- display helpers

  function toast(text, kind) {
    const t = el('div', kind ? 'toast ' + kind : 'toast', text);
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
    if (text) $('orbState').textContent = text;
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

  function splitSentences(text) {
    const out = [];
    let start = 0;
    for (let i = 0; i < text.length; i++) {
      if (SENTENCE_END.test(text[i])) {
        const piece = text.slice(start, i + 1).trim();
        if (piece) out.push(piece);
        start = i + 1;
      }
    }
    const rest = text.slice(start).trim();
    if (rest) out.push(rest);
    return out;
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
    }
    scrollStream();
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
      const body = await res.json();
      state.models = body && Array.isArray(body.data) ? body.data.filter((m) => m && m.id != null) : [];
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

  function errorText(error) {
    const msg = typeof error === 'string' ? error : error && error.message;
    return msg ? String(msg) : 'API error';
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
    const data = parsed.value;
    if (data && data.error) return errorText(data.error);
    return 'HTTP ' + res.status;
  }

  function deltaOf(obj) {
    const c = obj && Array.isArray(obj.choices) ? obj.choices[0] : null;
    const d = (c && c.delta && c.delta.content) || (c && c.text) || '';
    return typeof d === 'string' ? d : '';
  }

  // Reads a server-sent event stream and hands every parsed data object to
  // onData. A last line without a line feed still counts once the body ends.
  async function readEventStream(body, onData) {
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
    if (data && data.error) throw new Error(errorText(data.error));
    const c = data && Array.isArray(data.choices) ? data.choices[0] : null;
    let content = (c && c.message && c.message.content) || (c && c.text) || (data && data.output) || '';
    if (typeof content !== 'string') content = JSON.stringify(content);
    return content || raw.trim() || '（服务返回了空内容，请稍后重试）';
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
    let answer = '';
    try {
      setStage('think', true);
      setStage('token');
      progress(42);
      const res = await fetch(state.apiBase + '/chat/completions', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json', Accept: 'text/event-stream' },
        body: chatBody(),
      });
      if (!res.ok) throw new Error(await httpFailure(res));
      const type = (res.headers.get('content-type') || '').toLowerCase();
      if (type.includes('text/event-stream') && res.body) {
        $('mStream').textContent = 'ON';
        setStage('stream');
        progress(68);
        let first = true;
        await readEventStream(res.body, (obj) => {
          if (obj && obj.error) throw new Error(errorText(obj.error));
          const delta = deltaOf(obj);
          if (!delta) return;
          if (first) {
            first = false;
            $('mTTFT').textContent = Math.round(performance.now() - t0) + 'ms';
            $('thinkText').textContent = '正在流式输出 + 同步发声';
            progress(80);
          }
          answer += delta;
          const sentences = splitSentences(answer);
          wrapSentencesIntoBubble(bubble, answer, sentences);
          speech.queueComplete(sentences);
        });
      } else {
        answer = await wholeAnswer(res);
        wrapSentencesIntoBubble(bubble, answer);
        $('mStream').textContent = 'JSON';
        $('mTTFT').textContent = Math.round(performance.now() - t0) + 'ms';
      }
      // Whatever is not queued yet, a last sentence without a mark included.
      speech.queueAll(answer);
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
      console.error(err);
      const msg = (err && err.message) || String(err);
      state.rendered.delete(bubble);
      bubble.textContent =
        '⚠ 出错了：' + msg + '\n\n可能是 ' + apiHost() + ' 文本模型未安装或网络抖动。你仍可以继续打字，我会重试。';
      showThinking(false);
      setPill('apiPill', 'bad', 'AI 异常');
      toast('模型调用失败：' + msg, 'bad');
      logEvent('错误: ' + msg);
    } finally {
      state.busy = false;
      $('btnSend').disabled = false;
      if (!state.ttsBusy) restoreOrb();
      const next = state.pending.shift();
      if (next) ask(next.text, next.opts, next.bubble);
    }
  }

  // ---------------------------------------------------------- speech output

  // The speech side of one answer: counts the sentences already queued.
  function answerSpeech(bubble) {
    let queued = 0;
    const queueUpTo = (sentences, count) => {
      for (; queued < count; queued++) {
        state.speechQueue.push({ text: sentences[queued], bubble, index: queued });
      }
      if (state.speechQueue.length) flushSpeak();
    };
    return {
      // All but the last sentence are complete; the last may still grow.
      queueComplete: (sentences) => queueUpTo(sentences, sentences.length - 1),
      queueAll: (text) => {
        const sentences = splitSentences(text);
        queueUpTo(sentences, sentences.length);
      },
    };
  }

  function markSpeaking(item) {
    if (state.speakingSpan) state.speakingSpan.classList.remove('speaking');
    state.speakingSpan = null;
    if (!item) return;
    let span = item.bubble.children[item.index];
    if (!span || !span.classList.contains('sentence') || span.dataset.text !== item.text) {
      span = Array.from(item.bubble.querySelectorAll('.sentence')).find((s) => s.dataset.text === item.text);
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
      markSpeaking(item);
      await speakOne(item.text);
    }
    markSpeaking(null);
    state.speechPlaying = false;
    state.ttsBusy = false;
    $('mTts').textContent = 'idle';
    restoreOrb();
  }

  async function speakOne(text) {
    if (!text || !text.trim()) return;
    const t0 = performance.now();
    let audio;
    let url;
    try {
      const res = await fetch(state.apiBase + '/audio/speech', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ model: 'edge-tts', input: text, voice: 'alloy' }),
      });
      if (!res.ok) return speakFallback(text);
      let bytes = new Uint8Array(await res.arrayBuffer());
      if (bytes.length > 3 && bytes[0] === 0xef && bytes[1] === 0xbb && bytes[2] === 0xbf) {
        bytes = bytes.subarray(3);
      }
      url = URL.createObjectURL(new Blob([bytes], { type: 'audio/mpeg' }));
      audio = new Audio(url);
      $('mTts').textContent = Math.round(performance.now() - t0) + 'ms';
    } catch {
      return speakFallback(text);
    }
    return new Promise((resolve) => {
      let settled = false;
      let watchdog = 0;
      const finish = (fallback) => {
        if (settled) return;
        settled = true;
        clearTimeout(watchdog);
        URL.revokeObjectURL(url);
        if (fallback) speakFallback(text).then(resolve);
        else resolve();
      };
      audio.onended = () => finish(false);
      audio.onerror = () => finish(true);
      // Playback that stalls must not hold the queue for ever.
      audio.onloadedmetadata = () => {
        const ms = Number.isFinite(audio.duration) ? audio.duration * 1000 + 3000 : 60000;
        watchdog = setTimeout(() => finish(false), ms);
      };
      try {
        const p = audio.play();
        if (p && p.catch) p.catch(() => finish(true));
      } catch {
        finish(true);
      }
    });
  }

  function speakFallback(text) {
    const synth = window.speechSynthesis;
    if (!synth || typeof window.SpeechSynthesisUtterance !== 'function') return Promise.resolve();
    return new Promise((resolve) => {
      const u = new window.SpeechSynthesisUtterance(text);
      u.lang = 'zh-CN';
      u.rate = 1.05;
      u.onend = () => resolve();
      u.onerror = () => resolve();
      try {
        synth.cancel();
        synth.speak(u);
      } catch {
        resolve();
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

  async function toggleCam() {
    const video = $('localVideo');
    const btn = $('btnCam');
    if (state.camOn) {
      const stream = video.srcObject;
      if (stream) stream.getVideoTracks().forEach((t) => t.stop());
      video.srcObject = null;
      state.camOn = false;
      btn.classList.remove('active');
      btn.textContent = '📷 开启视频';
      setPill('videoPill', 'warn', '视频关闭');
      return;
    }
    try {
      const stream = await navigator.mediaDevices.getUserMedia({
        video: { width: { ideal: 1280 }, height: { ideal: 720 }, frameRate: { ideal: 30 } },
        audio: false,
      });
      video.srcObject = stream;
      state.camOn = true;
      btn.classList.add('active');
      btn.textContent = '📷 关闭视频';
      setPill('videoPill', 'ok', '视频就绪');
      logEvent('视频通道已开启');
      startFps();
    } catch (err) {
      setPill('videoPill', 'bad', '视频不可用');
      toast('无法开启摄像头：' + ((err && err.message) || err), 'bad');
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
    const btn = $('btnMic');
    if (state.micOn) {
      if (state.micStream) state.micStream.getTracks().forEach((t) => t.stop());
      const rec = state.recognition;
      state.micOn = false;
      if (rec) {
        try {
          rec.stop();
        } catch {}
      }
      cancelAnimationFrame(state.waveRaf);
      state.waveRaf = 0;
      state.micStream = null;
      btn.classList.remove('active');
      btn.textContent = '🎤 开启语音';
      setPill('voicePill', 'warn', '语音关闭');
      setOrb('', '待命中');
      return;
    }
    try {
      const stream = await navigator.mediaDevices.getUserMedia({ audio: true });
      state.micStream = stream;
      const ctx = ensureAudio();
      const analyser = ctx.createAnalyser();
      analyser.fftSize = 1024;
      ctx.createMediaStreamSource(stream).connect(analyser);
      state.analyser = analyser;
      state.micOn = true;
      btn.classList.add('active');
      btn.textContent = '🎤 关闭语音';
      setPill('voicePill', 'ok', '全双工就绪');
      setOrb('listening', '全双工聆听中');
      logEvent('麦克风通道已开启（全双工）');
      startWave();
      startSpeechRecognition();
    } catch (err) {
      setPill('voicePill', 'bad', '语音不可用');
      toast('无法开启麦克风：' + ((err && err.message) || err), 'bad');
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

  function startSpeechRecognition() {
    const Recognition = window.SpeechRecognition || window.webkitSpeechRecognition;
    if (!Recognition) {
      $('composerHint').textContent = '当前环境不支持 Web Speech，可直接打字';
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
    rec.onresult = (e) => {
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
      logEvent('ASR final: ' + said.slice(0, 28));
      if (state.vadOn && !state.busy && !state.ttsBusy) sendText(said, { voice: true });
    };
    rec.onerror = (e) => {
      if (e && e.error === 'not-allowed') {
        setPill('voicePill', 'bad', '麦克风被拒绝');
        toast('浏览器拒绝了语音识别权限', 'bad');
      }
    };
    rec.onend = () => {
      // Only the current recogniser restarts; a replaced one stays stopped.
      if (state.micOn && state.recognition === rec) {
        try {
          rec.start();
        } catch {}
      }
    };
    try {
      rec.start();
      state.recognition = rec;
      logEvent('Web Speech ASR 已启动');
    } catch {}
  }

  function toggleVad() {
    state.vadOn = !state.vadOn;
    $('btnVad').classList.toggle('active', state.vadOn);
    toast(state.vadOn ? 'VAD 自动送话已开启' : 'VAD 自动送话已关闭', 'ok');
  }

  // ------------------------------------------------------- host and update

  function showOtaDialog() {
    $('otaModal').hidden = false;
  }

  hub.on('hostInfo', (p) => {
    if (!p) return;
    if (p.version) state.version = String(p.version);
    if (p.apiBase) state.apiBase = String(p.apiBase);
    $('versionLabel').textContent = 'v' + state.version;
    logEvent('Host 已连接');
  });

  hub.on('hostReady', (p) => {
    if (p && p.version) {
      state.version = String(p.version);
      $('versionLabel').textContent = 'v' + state.version;
    }
  });

  hub.on('otaStatus', (p) => {
    state.ota = p;
    let dismissed = '';
    try {
      dismissed = localStorage.getItem('otaDismissed') || '';
    } catch {}
    if (p && p.available === true && window.__host) {
      if (p.force === true) {
        setPill('otaPill', 'warn', '请升级 ' + p.version);
        showOtaDialog();
        $('otaNotes').textContent = p.notes || '可升级到 ' + p.version;
      } else if (dismissed !== String(p.version)) {
        setPill('otaPill', 'warn', '可升级 ' + p.version);
      } else {
        setPill('otaPill', 'ok', '系统最新');
      }
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
      toast('升级失败: ' + p.message, 'bad');
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
    if ($('otaModal').hidden) $('otaNotes').textContent = ota.notes || '可升级到 ' + ota.version;
    showOtaDialog();
  }

  function onOtaLater() {
    $('otaModal').hidden = true;
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
