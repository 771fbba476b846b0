// What a user can do with an answer: open its web links in their own browser
// (the view itself never leaves the page) and copy its code.

const COPIED_MS = 1600;

function onAnswerClick(e) {
  const link = e.target.closest && e.target.closest('.bubble a');
  if (link) {
    // Whatever the button or key: the view stays, a web link goes out.
    e.preventDefault();
    if (e.type === 'click' || e.button === 1) {
      const url = webAddress(link.getAttribute('href') || '');
      if (url) post({ cmd: 'openExternal', url });
    }
    return;
  }
  const copy = e.type === 'click' && e.target.closest && e.target.closest('.code-copy');
  if (copy) copyCode(copy);
}

// Without the clipboard interface (an insecure page): the selection.
function copySelection(node) {
  const range = document.createRange();
  range.selectNodeContents(node);
  const sel = window.getSelection();
  sel.removeAllRanges();
  sel.addRange(range);
  const done = document.execCommand('copy');
  sel.removeAllRanges();
  return done;
}

async function copyCode(button) {
  const code = button.closest('.code-block').querySelector('code');
  const clipboard = navigator.clipboard;
  const done = clipboard
    ? await clipboard.writeText(code.textContent).then(() => true, () => copySelection(code))
    : copySelection(code);
  toast(done ? '代码已复制' : '复制失败，请手动选择代码', done ? 'ok' : 'bad');
  if (!done) return;
  button.textContent = '已复制';
  setTimeout(() => (button.textContent = '复制'), COPIED_MS);
}

function bindAnswers() {
  const stream = $('stream');
  stream.addEventListener('click', onAnswerClick);
  stream.addEventListener('auxclick', onAnswerClick);
  // Dragging a link out would hand its address to whatever takes the drop.
  stream.addEventListener('dragstart', (e) => {
    if (e.target.closest && e.target.closest('.bubble a')) e.preventDefault();
  });
}
