// The AI service client: its base address, its failures in words, and its
// answers read whole or as an event stream.

// Replaced by the build with the AI service base URL (path /ai/v1).
const DEFAULT_API = '__OVRA_API_BASE__';

const service = { apiBase: DEFAULT_API };

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

function finishReason(obj) {
  const c = obj && Array.isArray(obj.choices) ? obj.choices[0] : null;
  return c && typeof c.finish_reason === 'string' ? c.finish_reason : '';
}

function deltaOf(obj) {
  const c = obj && Array.isArray(obj.choices) ? obj.choices[0] : null;
  const d = (c && c.delta && c.delta.content) || (c && c.text) || '';
  return typeof d === 'string' ? d : '';
}

// Reads a server-sent event stream and hands every parsed data object to
// onData. A last line without a line feed still counts once the body ends.
// onBytes hears of every chunk, comments and keep-alives included; onLines
// follows the data of each chunk that held whole lines.
async function readEventStream(body, onData, onBytes, onLines) {
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
      if (onLines) onLines();
    }
    buffer += decoder.decode();
    if (buffer) handleLine(buffer);
    if (onLines) onLines();
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
  return { content: content || raw.trim() || '（服务返回了空内容，请稍后重试）', finish: finishReason(data) };
}
