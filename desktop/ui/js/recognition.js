// Speech recognition: which one listens (the browser's or the service's
// transcription), and the browser's recogniser with its retries.

// Recognition that fails restarts after a pause that doubles up to the
// maximum; after this many failures in a row the voice pill says so.
const ASR_RETRY_MS = 500;
const ASR_RETRY_MAX_MS = 10000;
const ASR_FAILS_SHOWN = 3;
// Browser recognition failing with one of these cannot work here; the AI
// service's transcription listens instead until the microphone goes off.
const ASR_FATAL_ERRORS = ['network', 'service-not-allowed', 'language-not-supported', 'audio-capture'];

// Errors that belong to ordinary listening (silence, our own stop), not
// to a failing recogniser.
const ASR_QUIET_ERRORS = ['no-speech', 'aborted'];

const HINT_DEFAULT = '语音识别中的话会实时出现在这里';
const ROUTE_HINTS = {
  browser: '浏览器语音识别在听，识别中的话会实时出现在这里',
  service: 'AI 服务语音识别在听：说完一句即转写',
  off: '语音输入不可用，可直接打字',
};

const asr = {
  recognition: null,
  failures: 0,
  timer: 0,
  // Which recognition listens: 'browser', 'service', 'off' (the service
  // has none either) or '' while the microphone is off.
  route: '',
};

function setAsrRoute(route) {
  asr.route = route;
  showHint(ROUTE_HINTS[route] || HINT_DEFAULT);
}

function startSpeechRecognition() {
  const Recognition = window.SpeechRecognition || window.webkitSpeechRecognition;
  if (!Recognition) {
    setAsrRoute('service');
    return;
  }
  if (asr.recognition) {
    try {
      asr.recognition.stop();
    } catch {
      // never started, or stopped already
    }
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
    showHeard(interim ? '🎙 ' + interim : '');
    const said = finalText.trim();
    if (!said) return;
    showHeard('');
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
    if (!mic.on || asr.recognition !== rec) return;
    const error = failed;
    failed = '';
    if (!error) {
      asrWorks();
      startRecogniser(rec);
      return;
    }
    asr.failures++;
    const wait = Math.min(ASR_RETRY_MAX_MS, ASR_RETRY_MS * 2 ** (asr.failures - 1));
    if (asr.failures >= ASR_FAILS_SHOWN && error !== 'not-allowed') {
      setPill('voicePill', 'bad', '语音识别不可用：' + error);
    }
    logEvent('语音识别出错: ' + error + '，' + wait / 1000 + ' 秒后重试');
    clearTimeout(asr.timer);
    asr.timer = setTimeout(() => {
      asr.timer = 0;
      if (mic.on && asr.recognition === rec) startRecogniser(rec);
    }, wait);
  };
  if (startRecogniser(rec)) {
    asr.recognition = rec;
    setAsrRoute('browser');
    logEvent('Web Speech ASR 已启动');
  } else {
    setAsrRoute('service');
  }
}

function browserAsrUnusable(rec, error) {
  asr.recognition = null;
  try {
    rec.abort();
  } catch {
    // ended already
  }
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
  if (!asr.failures) return;
  asr.failures = 0;
  if (mic.on) setPill('voicePill', 'ok', '全双工就绪');
}
