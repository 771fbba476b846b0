'use strict';
// The static check: ESLint over the project's Node code, and over the page script as
// the build joins it from desktop/ui/page-files.txt, each finding told at the file and
// line it comes from. Exits non-zero on any finding.
//   node scripts/lint.js
const fs = require('node:fs');
const path = require('node:path');
const { ESLint } = require('eslint');

const ROOT = path.resolve(__dirname, '..');
const UI = path.join(ROOT, 'desktop/ui');

// The page script's parts in order, each with the line it starts at in the whole.
// Scripts of npm packages (under node_modules/) are not checked.
function pageScript() {
  const names = fs.readFileSync(path.join(UI, 'page-files.txt'), 'utf8').split('\n')
    .map((line) => line.trim()).filter((line) => line.endsWith('.js') && !line.startsWith('#'));
  let text = '';
  let line = 1;
  const parts = names.map((name) => {
    const npm = name.startsWith('node_modules/');
    const part = { file: npm ? path.join(ROOT, name) : path.join(UI, name), from: line, messages: [] };
    // A package's script is its makers' to check: in its place, what it does
    // with the names the page gives it.
    const source = npm ? 'module.exports = exports;\n' : fs.readFileSync(part.file, 'utf8');
    text += source;
    line += source.split('\n').length - 1;
    return part;
  });
  return { text, parts };
}

// A finding in the joined script, put back at its part's own lines.
function toPart(parts, message) {
  const part = parts.findLast((p) => p.from <= message.line) || parts[0];
  const back = (n) => (n == null ? n : n - part.from + 1);
  part.messages.push({ ...message, line: back(message.line), endLine: back(message.endLine),
    fix: undefined, suggestions: undefined });
}

function resultOf(part) {
  const count = (severity) => part.messages.filter((m) => m.severity === severity).length;
  return { filePath: part.file, messages: part.messages, suppressedMessages: [],
    errorCount: count(2), fatalErrorCount: part.messages.filter((m) => m.fatal).length,
    warningCount: count(1), fixableErrorCount: 0, fixableWarningCount: 0 };
}

async function main() {
  const eslint = new ESLint({ cwd: ROOT });
  const results = await eslint.lintFiles(['.']);
  const page = pageScript();
  const [joined] = await eslint.lintText(page.text, { filePath: path.join(UI, 'app.js') });
  joined.messages.forEach((m) => toPart(page.parts, m));
  results.push(...page.parts.filter((p) => p.messages.length).map(resultOf));
  const found = results.some((r) => r.errorCount || r.warningCount);
  const formatter = await eslint.loadFormatter('stylish');
  process.stdout.write(await formatter.format(results));
  if (found) process.exitCode = 1;
  else console.log(`lint: no findings (${results.length} files and the page script)`);
}

main().catch((err) => {
  console.error(err);
  process.exitCode = 2;
});
