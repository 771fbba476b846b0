'use strict';
// Local stand-in for the AI service: model list, chat completions (streamed
// or whole), speech and transcription, all under /ai/v1. Tests and demos steer it through
// POST /__control and read what it received from GET /__log.
//
//   node standins/ai-service/server.js --port 8790   (0 picks a free port)
const http = require('http');
const { silentMp3 } = require('./mp3');
const { spokenMp3 } = require('./speech');
const { transcribe } = require('./transcriptions');
const { echoAnswer, corpusTokens, tokenize } = require('./answers');
const { SHAPE_DEFAULTS, ERROR_SHAPES, answerDeltas, stall, sendPaced } = require('./shapes');

const PREFIX = '/ai/v1';
const BOM = Buffer.from([0xef, 0xbb, 0xbf]);

const DEFAULTS = Object.freeze({
  // Chat
  answer: null, // fixed answer text; null echoes the last user message
  tokens: 0, // > 0: answer of exactly this many corpus tokens
  markdownCorpus: false, // the corpus of `tokens` is the Markdown answer
  finishReason: '', // set: sent with the answer's end, as servers say why it ended
  firstTokenDelayMs: 0,
  tokenDelayMs: 8,
  holdChat: false, // answers wait while set

  // '', 'status-body', 'status-empty', 'error-member', 'error-member-stream',
  // 'malformed', 'no-final-lf', 'split-bytes', 'json', 'json-bare', 'not-json',
  // 'status-error-bare' (error status, error member without a message),
  // or an error shape of shapes.js ('error-string', 'message-top', ...)
  chatFault: '',
  status: 500,
  // Models: '', 'no-meta', 'non-text', 'down', 'not-json', 'no-data', or an
  // error shape of shapes.js ('unauthorized', 'not-found')
  modelsFault: '',
  models: null, // replaces the model list when set
  // Speech: '', 'bom', 'three-bytes', 'status', 'garbage', 'hang' (never
  // answers), 'stall' (headers and half the audio, then nothing), 'break'
  // (headers and half the audio, then the connection drops)
  speechFault: '',
  speechDelayMs: 0,
  speechMs: null, // null: the sentence spoken by espeak-ng; a number: that long a silence

  // Transcription: the texts of the next answers, in order (then a text
  // naming the audio's length); faults '', 'status', 'not-found', 'malformed'
  transcripts: [],
  transcriptionFault: '',
  transcriptionDelayMs: 0,
  ...SHAPE_DEFAULTS,
});

const DEFAULT_MODELS = [
  { id: 'Zirer-Chat-Lite', meta: { type: 'text' } },
  { id: 'Velmo-Flash-Next-AD', meta: { type: 'text' } },
  { id: 'Velmo-35B-A3B', meta: { type: 'text' } },
  { id: 'edge-tts', meta: { type: 'tts' } },
  { id: 'zimage-turbo', meta: { type: 'image' } },
];

function createStandin() {
  let config = { ...DEFAULTS };
  const log = { models: 0, chats: [], speech: [], transcriptions: [] };

  function control(patch) {
    if (patch && patch.reset) {
      config = { ...DEFAULTS };
      log.models = 0;
      log.chats.length = 0;
      log.speech.length = 0;
      log.transcriptions.length = 0;
    }
    for (const [k, v] of Object.entries(patch || {})) {
      // A copy, since transcripts are taken off the queue as they are used.
      if (k in DEFAULTS) config[k] = Array.isArray(v) ? [...v] : v;
    }
    return config;
  }

  const server = http.createServer((req, res) => {
    cors(res);
    if (req.method === 'OPTIONS') {
      res.setHeader('Access-Control-Allow-Private-Network', 'true');
      res.writeHead(204);
      return res.end();
    }
    readBody(req)
      .then((body) => route(req, res, body))
      .catch((err) => {
        if (!res.headersSent) res.writeHead(500, { 'Content-Type': 'text/plain' });
        res.end(String(err && err.message));
      });
  });

  async function route(req, res, raw) {
    const path = new URL(req.url, 'http://x').pathname;
    if (path === '/__control' && req.method === 'POST') {
      return json(res, 200, control(parseJson(raw.toString('utf8')) || {}));
    }
    if (path === '/__log') return json(res, 200, log);
    if (path === PREFIX + '/models' && req.method === 'GET') return models(res);
    if (path === PREFIX + '/chat/completions' && req.method === 'POST') {
      return chat(res, parseJson(raw.toString('utf8')) || {});
    }
    if (path === PREFIX + '/audio/speech' && req.method === 'POST') {
      return speech(res, parseJson(raw.toString('utf8')) || {});
    }
    if (path === PREFIX + '/audio/transcriptions' && req.method === 'POST') {
      return transcribe(res, raw, req.headers['content-type'], config, log, { json, text });
    }
    json(res, 404, { error: { message: 'not found: ' + path } });
  }

  function models(res) {
    log.models++;
    const fault = config.modelsFault;
    if (fault === 'down') return text(res, 503, 'text/html', '<h1>down</h1>');
    if (fault === 'not-json') return text(res, 200, 'application/json', '{"data": [');
    if (fault === 'no-data') return json(res, 200, { object: 'list' });
    if (ERROR_SHAPES[fault]) return json(res, ...ERROR_SHAPES[fault]);
    let list = config.models || DEFAULT_MODELS;
    if (fault === 'no-meta') list = list.map((m) => ({ id: m.id }));
    if (fault === 'non-text') list = list.map((m) => ({ id: m.id, meta: { type: 'image' } }));
    json(res, 200, { object: 'list', data: list });
  }

  function answerTokens(body) {
    if (config.tokens > 0) return corpusTokens(config.tokens, config.markdownCorpus);
    if (config.answer != null) return tokenize(config.answer);
    const msgs = Array.isArray(body.messages) ? body.messages : [];
    const lastUser = [...msgs].reverse().find((m) => m && m.role === 'user');
    return tokenize(echoAnswer(lastUser && lastUser.content));
  }

  async function chat(res, body) {
    const entry = { at: Date.now(), doneAt: 0, aborted: false, body };
    log.chats.push(entry);
    res.on('finish', () => (entry.doneAt = Date.now()));
    // The client went away before the answer was complete.
    res.on('close', () => (entry.aborted = !res.writableFinished));
    const fault = config.chatFault;
    const deltas = answerDeltas(answerTokens(body), config, tokenize);
    const content = deltas.map((d) => d.content || '').join('');
    while (config.holdChat) await sleep(10);
    if (config.firstTokenDelayMs > 0) await sleep(config.firstTokenDelayMs);

    if (fault === 'status-body') {
      return json(res, config.status, { error: { message: '模型未加载' } });
    }
    if (fault === 'status-error-bare') return json(res, config.status, { error: { type: 'server_error' } });
    if (ERROR_SHAPES[fault]) return json(res, ...ERROR_SHAPES[fault]);
    if (fault === 'status-empty') {
      res.writeHead(config.status);
      return res.end();
    }
    if (fault === 'error-member') return json(res, 200, { error: { message: '配额已用完' } });
    if (fault === 'json-bare') return json(res, 200, { id: 'x', result: content });
    if (fault === 'not-json') return text(res, 200, 'text/plain', '<b>plain</b> answer');
    if (fault === 'json' || body.stream !== true) {
      const choice = { message: { role: 'assistant', content } };
      if (config.finishReason) choice.finish_reason = config.finishReason;
      return json(res, 200, { choices: [choice] });
    }

    res.writeHead(200, {
      'Content-Type': 'text/event-stream; charset=utf-8',
      'Cache-Control': 'no-cache',
    });
    res.socket.setNoDelay(true);
    const event = (obj) => 'data: ' + JSON.stringify(obj) + '\n\n';
    const delta = (d) => event({ choices: [{ delta: d }] });

    for (let i = 0; i < deltas.length; i++) {
      if (res.destroyed) return;
      if (i === config.stallAfter) return stall(res, config, sleep);
      const last = i === deltas.length - 1;
      if (fault === 'malformed' && i === 1) {
        res.write('data: {"choices": [\n\ngarbage line\ndata:\n: comment\nevent: ping\n');
        res.write('data: {"choices":[]}\n\ndata: "text"\n\n');
      }
      if (fault === 'error-member-stream' && i === 2) {
        res.write(event({ error: { message: '流中断：后端过载' } }));
      }
      if (fault === 'no-final-lf' && last) {
        res.end('data: ' + JSON.stringify({ choices: [{ delta: deltas[i] }] }));
        return;
      }
      if (fault === 'split-bytes') await writeSplit(res, Buffer.from(delta(deltas[i])));
      else res.write(delta(deltas[i]));
      if (config.tokenDelayMs > 0 && !last) await sleep(config.tokenDelayMs);
    }
    if (config.finishReason) res.write(event({ choices: [{ delta: {}, finish_reason: config.finishReason }] }));
    res.end('data: [DONE]\n\n');
  }

  async function speech(res, body) {
    const entry = { at: Date.now(), doneAt: 0, input: body.input, model: body.model, voice: body.voice, aborted: false };
    log.speech.push(entry);
    res.on('finish', () => (entry.doneAt = Date.now()));
    res.on('close', () => (entry.aborted = !res.writableFinished));
    if (config.speechDelayMs > 0) await sleep(config.speechDelayMs);
    const fault = config.speechFault;
    if (fault === 'hang') return;
    if (fault === 'status') return json(res, 500, { error: { message: 'tts down' } });
    const chars = Array.from(String(body.input || '')).length;
    let audio;
    if (config.speechMsPerChar > 0) audio = silentMp3(chars * config.speechMsPerChar);
    else if (config.speechMs != null) audio = silentMp3(config.speechMs);
    else audio = await spokenMp3(body.input);
    const type = config.speechType || 'audio/mpeg';
    if (fault === 'stall' || fault === 'break') {
      res.writeHead(200, { 'Content-Type': type, 'Content-Length': audio.length });
      res.write(audio.subarray(0, audio.length >> 1));
      if (fault === 'break') setTimeout(() => res.destroy(), 50);
      return;
    }
    if (fault === 'bom') audio = Buffer.concat([BOM, audio]);
    if (fault === 'three-bytes') audio = BOM;
    if (fault === 'garbage') audio = Buffer.from('this is not audio at all, just text');
    res.writeHead(200, { 'Content-Type': type, 'Content-Length': audio.length });
    if (config.speechPaceMsPerChar > 0) return sendPaced(res, audio, chars * config.speechPaceMsPerChar, sleep);
    res.end(audio);
  }

  // Outlive the browser's idle sockets: a connection closed here just as the
  // browser reuses it fails that request.
  server.keepAliveTimeout = 65000;

  return { server, control, log, config: () => config };
}

// Splits one event into two writes in the middle of a multi-byte character
// (and so in the middle of its line), with a pause so they arrive apart.
async function writeSplit(res, bytes) {
  let cut = Math.floor(bytes.length / 2);
  while (cut < bytes.length && (bytes[cut] & 0xc0) !== 0x80) cut++;
  if (cut >= bytes.length) cut = Math.floor(bytes.length / 2);
  res.write(bytes.subarray(0, cut));
  await sleep(4);
  res.write(bytes.subarray(cut));
}

function cors(res) {
  res.setHeader('Access-Control-Allow-Origin', '*');
  res.setHeader('Access-Control-Allow-Methods', 'GET, POST, OPTIONS');
  res.setHeader('Access-Control-Allow-Headers', 'Content-Type, Accept');
}

function json(res, status, obj) {
  text(res, status, 'application/json; charset=utf-8', JSON.stringify(obj));
}

function text(res, status, type, body) {
  res.writeHead(status, { 'Content-Type': type });
  res.end(body);
}

function parseJson(raw) {
  try {
    return JSON.parse(raw);
  } catch {
    return null;
  }
}

function readBody(req) {
  return new Promise((resolve, reject) => {
    const parts = [];
    req.on('data', (c) => parts.push(c));
    req.on('end', () => resolve(Buffer.concat(parts)));
    req.on('error', reject);
  });
}

function sleep(ms) {
  return new Promise((r) => setTimeout(r, ms));
}

function listen(port, host = '127.0.0.1') {
  const standin = createStandin();
  return new Promise((resolve) => {
    standin.server.listen(port, host, () => {
      standin.port = standin.server.address().port;
      standin.apiBase = `http://${host}:${standin.port}${PREFIX}`;
      resolve(standin);
    });
  });
}

if (require.main === module) {
  const i = process.argv.indexOf('--port');
  const port = i > 0 ? Number(process.argv[i + 1]) : 8790;
  listen(Number.isFinite(port) ? port : 8790).then((s) => {
    process.stdout.write(`listening ${s.port}\n`);
  });
}

module.exports = { listen, createStandin, DEFAULTS };
