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

// What a chat model writes when an answer has structure: a heading, a list,
// a code block, a table and a link.
const MARKDOWN_DEMO = [
  '## 安装步骤',
  '',
  '先看**重点**：整个过程只需要*三步*。',
  '',
  '1. 下载安装包',
  '2. 运行安装程序',
  '   - 支持语音输入',
  '   - 支持 `Markdown` 显示',
  '3. 重新启动',
  '',
  '```python',
  'def greet(name):',
  '    print("hi", name)',
  '```',
  '',
  '| 名称 | 版本 |',
  '| --- | --- |',
  '| 助手 | 1.0.5 |',
  '| 语音 | 2.1 |',
  '',
  '> 提示：详见[文档](https://example.com/docs)。',
  '',
].join('\n');

// Questions that ask for structure get the Markdown answer.
const WANTS_MARKDOWN = /markdown|代码|表格|列表|示例/i;

function echoAnswer(userText) {
  const said = String(userText || '').trim().slice(0, 80);
  if (WANTS_MARKDOWN.test(said)) return MARKDOWN_DEMO;
  return '收到：「' + said + '」。' + CORPUS.slice(0, 4).join('') + '最后一句没有句号';
}

// Exactly `count` tokens of two characters each, cycling through the corpus
// (or through the Markdown answer).
function corpusTokens(count, markdown) {
  const chars = Array.from(markdown ? MARKDOWN_DEMO + '\n' : CORPUS.join(''));
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

module.exports = { echoAnswer, corpusTokens, tokenize, CORPUS, MARKDOWN_DEMO };
