'use strict';
// What real model servers send beyond the plain shape: reasoning before the
// answer, errors in each server's own body shape, streams that stall, and
// speech audio that arrives over seconds. Chosen through /__control.

const SHAPE_DEFAULTS = Object.freeze({
  // '' plain; 'think' (a <think> block opens the content), 'think-empty'
  // (the block a model sends with thinking switched off), 'reasoning_content'
  // or 'reasoning' (reasoning in a delta field of its own)
  reasoningShape: '',
  reasoning: '用户在打招呼。我应该先想一想怎么回答，然后简短地回应。',
  // The stream stops after this many deltas (-1: never) and stays open,
  // sending a keep-alive comment every keepAliveMs (0: none).
  stallAfter: -1,
  keepAliveMs: 0,
  // Speech: first bytes at once, the rest spread over this many ms per input
  // character (0: the whole body at once); audio of this many ms per input
  // character (0: speechMs); a content type in place of audio/mpeg.
  speechPaceMsPerChar: 0,
  speechMsPerChar: 0,
  speechType: '',
});

// Error bodies by chatFault / modelsFault name: [status, body].
const ERROR_SHAPES = {
  'error-string': [500, { error: '上游服务不可用' }],
  'message-top': [
    400,
    {
      object: 'error',
      message: "This model's maximum context length is 4096 tokens. However, you requested 5120 tokens.",
      type: 'BadRequestError',
      code: 400,
    },
  ],
  'detail-string': [503, { detail: '模型正在加载，请稍候' }],
  'detail-list': [
    422,
    {
      detail: [
        { loc: ['body', 'messages'], msg: 'field required', type: 'missing' },
        { loc: ['body', 'model'], msg: 'unknown model', type: 'value_error' },
      ],
    },
  ],
  unauthorized: [401, { error: { message: 'Invalid API key', type: 'invalid_request_error', code: 'invalid_api_key' } }],
  'not-found': [404, { detail: 'Not Found' }],
};

// The deltas of a streamed answer in the chosen shape, as `delta` objects.
function answerDeltas(tokens, config, tokenize) {
  const shape = config.reasoningShape;
  const content = (t) => ({ content: t });
  if (shape === 'think' || shape === 'think-empty') {
    const block = shape === 'think' ? '<think>\n' + config.reasoning + '\n</think>\n\n' : '<think>\n\n</think>\n\n';
    return tokenize(block).concat(tokens).map(content);
  }
  if (shape === 'reasoning_content' || shape === 'reasoning') {
    const thought = tokenize(config.reasoning).map((t) => ({ [shape]: t }));
    return thought.concat(tokens.map(content));
  }
  return tokens.map(content);
}

// Keeps a stalled stream open until the client goes, with keep-alive
// comments when asked for.
async function stall(res, config, sleep) {
  while (!res.destroyed) {
    await sleep(config.keepAliveMs > 0 ? config.keepAliveMs : 50);
    if (config.keepAliveMs > 0 && !res.destroyed) res.write(': keep-alive\n\n');
  }
}

// Sends audio in pieces spread over `ms`, the first at once.
async function sendPaced(res, audio, ms, sleep) {
  const pieces = Math.max(1, Math.min(40, Math.ceil(ms / 50)));
  const size = Math.ceil(audio.length / pieces);
  for (let at = 0; at < audio.length && !res.destroyed; at += size) {
    if (at) await sleep(ms / pieces);
    res.write(audio.subarray(at, at + size));
  }
  res.end();
}

module.exports = { SHAPE_DEFAULTS, ERROR_SHAPES, answerDeltas, stall, sendPaced };
