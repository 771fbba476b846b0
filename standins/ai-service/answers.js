'use strict';
// Deterministic Chinese answers, rich in sentence endings, so the page's
// sentence split and speech queue have something real to work on.
const CORPUS = [
  '本地算力中心已经收到你的问题。',
  '我先把要点拆开来看！',
  '第一步是确认需求，第二步是给出方案？',
  '流式输出会一句一句地出现。',
  '语音合成会紧跟着文字播报!',
  '如果网络抖动，请稍后再试?',
  '这一段用来测试长回答的渲染速度。\n',
  '换行也算作一句话的结束。',
];

function echoAnswer(userText) {
  const said = String(userText || '').trim().slice(0, 80);
  return '收到：「' + said + '」。' + CORPUS.slice(0, 4).join('') + '最后一句没有句号';
}

// Exactly `count` tokens of two characters each, cycling through the corpus.
function corpusTokens(count) {
  const chars = Array.from(CORPUS.join(''));
  const tokens = [];
  for (let i = 0; i < count; i++) {
    const a = chars[(2 * i) % chars.length];
    const b = chars[(2 * i + 1) % chars.length];
    tokens.push(a + b);
  }
  return tokens;
}

// Splits text into tokens of one to three characters (by code point) in a
// fixed pattern, like a tokenizer would.
function tokenize(text) {
  const chars = Array.from(text);
  const tokens = [];
  const widths = [2, 1, 3, 2];
  for (let i = 0, k = 0; i < chars.length; k++) {
    const w = widths[k % widths.length];
    tokens.push(chars.slice(i, i + w).join(''));
    i += w;
  }
  return tokens;
}

module.exports = { echoAnswer, corpusTokens, tokenize, CORPUS };
