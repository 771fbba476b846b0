// The Markdown parser (markdown-it) follows as its own browser build made it.
// Finding `module` and `exports`, it hands itself over here instead of
// defining a name on window.
const markdownit = (function () {
  const module = { exports: {} };
  const exports = module.exports;
