// The model list: fetched from the service, offered in the picker and shown in
// the model matrix.

const MODEL_REFRESH_MS = 60000;
const USABLE_MODELS = ['edge-tts', 'zimage-turbo'];
const MISSING_WEIGHTS = ['Velmo-Flash-Next-AD', 'Velmo-35B-A3B'];

const catalog = {
  models: [],
  model: 'Velmo-Flash-Next-AD',
  // The model the user chose by hand; model refreshes keep it while listed.
  pickedModel: '',
};

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
    const res = await fetch(service.apiBase + '/models');
    if (!res.ok) throw new Error(await httpFailure(res));
    const body = await res.json();
    // A body without its list is no list: a page from some other server.
    if (!body || !Array.isArray(body.data)) throw new Error('模型列表缺少 data');
    catalog.models = body.data.filter((m) => m && m.id != null);
    setPill('apiPill', 'ok', 'AI 在线');
    const text = catalog.models.filter(isTextModel);
    const offered = (text.length ? text : catalog.models).map((m) => String(m.id));
    const select = $('modelSelect');
    select.textContent = '';
    for (const id of offered) {
      const opt = el('option', '', id);
      opt.value = id;
      select.appendChild(opt);
    }
    if (offered.length) {
      if (!offered.includes(catalog.pickedModel)) catalog.pickedModel = '';
      catalog.model = catalog.pickedModel || offered[0];
      select.value = catalog.model;
    }
    renderMatrix(catalog.models);
    logEvent('模型列表已同步 ×' + catalog.models.length);
  } catch (err) {
    setPill('apiPill', 'bad', 'AI 离线');
    toast('无法连接 AI 服务', 'bad');
    logEvent('模型列表获取失败: ' + messageOf(err, String(err)));
    renderMatrix([]);
  }
}
