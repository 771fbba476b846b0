// Start-up: the tool list, the controls wired to what they do, and the first
// requests to the host and the service.

const WELCOME =
  '你好，我是 OVRA-Zirer。\n\n我可以：\n· 实时语音/视频全双工对话\n· 你随时打字，边聊边输入\n' +
  '· 流式回答 + 句级语音近同步\n· 自动 OTA 升级\n\n点「全双工语音」开始说话，或直接输入问题。';
const DAY_HINT = '今天 · 本地算力中心';
const MAX_INPUT_PX = 140;

const TOOLS = [
  ['💬', '实时对话', '流式补全 · 首字加速'],
  ['🔊', '语音合成', 'edge-tts 句级同步'],
  ['🎤', '语音识别', 'Web Speech / ASR'],
  ['📷', '视频通道', '全双工画面'],
  ['⚡', 'OTA 升级', '静默检测 · 自动更新'],
  ['🧩', '边聊边输', '输入框始终可写'],
];

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
    chat.history = [];
    chat.pending.length = 0;
    // The answers go, and so does their speech, fetched audio included.
    stopSpeech();
    const stream = $('stream');
    stream.textContent = '';
    stream.appendChild(el('div', 'day-hint', DAY_HINT));
  });
  $('modelSelect').addEventListener('change', (e) => {
    catalog.model = e.target.value;
    catalog.pickedModel = catalog.model;
    logEvent('切换模型 → ' + catalog.model);
  });
  bindAnswers();
  $('btnCam').addEventListener('click', toggleCam);
  $('btnMic').addEventListener('click', toggleMic);
  $('btnVad').addEventListener('click', toggleAutoSend);
  $('voiceOrb').addEventListener('click', () => {
    if (speaker.busy) stopAll();
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
