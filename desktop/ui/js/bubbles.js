// How an answer's bubble shows its sentences while it grows, and what screen
// readers hear of it.

// Finished answer sentences kept in the screen readers' live region.
const NEWS_KEPT = 3;

// What each bubble shows (see wrapSentencesIntoBubble).
const bubbles = { rendered: new WeakMap() };

// Where the cursor goes: after the words of the last paragraph, item, cell
// or code.
const CURSOR_HOME = /^(P|LI|TD|TH|CODE)$/;

// A bubble that shows plain text (the welcome, a failure).
function showPlain(bubble, text) {
  bubbles.rendered.delete(bubble);
  bubble.classList.remove('md');
  bubble.textContent = text;
}

// Shows an answer with its structure and a trailing cursor, and gives its
// units (sentences, rows, code blocks) in order and how many of them are
// complete: the last may still grow, and a paragraph that may yet become a
// table is not complete either. A growing answer only changes its last
// blocks, so the blocks whose source is unchanged are kept; the result is the
// same DOM as building every block again.
function wrapSentencesIntoBubble(bubble, text) {
  if (!text.trim()) {
    showPlain(bubble, text);
    scrollStream();
    return { units: [], complete: 0, held: false };
  }
  const blocks = topBlocks(text);
  let r = bubbles.rendered.get(bubble);
  const count = (x) => x.blocks.reduce((n, b) => n + b.nodes.length, 0) + (x.cursor.parentNode === bubble ? 1 : 0);
  if (!r || bubble.childNodes.length !== count(r)) {
    bubble.textContent = '';
    bubble.classList.add('md');
    r = { blocks: [], cursor: cursorSpan() };
    bubbles.rendered.set(bubble, r);
  }
  r.cursor.remove();
  let same = 0;
  const common = Math.min(r.blocks.length, blocks.length);
  while (same < common && r.blocks[same].key === blocks[same].key) same++;
  for (const old of r.blocks.splice(same)) old.nodes.forEach((n) => n.remove());
  const frag = document.createDocumentFragment();
  for (let i = same; i < blocks.length; i++) {
    const built = buildBlock(blocks[i].tokens);
    frag.appendChild(built.frag);
    r.blocks.push({ key: blocks[i].key, nodes: built.nodes, units: built.units });
  }
  bubble.appendChild(frag);
  const units = [];
  let kept = 0;
  r.blocks.forEach((b, i) => {
    if (i === same) kept = units.length;
    units.push(...b.units);
  });
  if (same >= r.blocks.length) kept = units.length;
  placeCursor(bubble, r);
  const speaking = speaker.item;
  if (speaking && speaking.bubble === bubble && speaking.index >= kept) markSpeaking(speaking);
  scrollStream();
  const last = blocks[blocks.length - 1];
  const open = last.table ? r.blocks[r.blocks.length - 1].units.length : 1;
  return { units, complete: Math.max(0, units.length - open), held: last.table };
}

function placeCursor(bubble, r) {
  const nodes = r.blocks.length ? r.blocks[r.blocks.length - 1].nodes : [];
  let at = nodes[nodes.length - 1];
  while (at && !CURSOR_HOME.test(at.tagName)) at = at.lastElementChild;
  (at || bubble).appendChild(r.cursor);
}

// Screen readers hear an answer a finished sentence at a time rather than
// every delta. Until the answer has ended its last sentence may still grow.
function answerNews() {
  let told = 0;
  return (shown, ended) => {
    const box = $('answerNews');
    const count = ended ? shown.units.length : shown.complete;
    for (; told < count; told++) {
      const words = spokenText(shown.units[told].say);
      if (!SAYABLE.test(words)) continue;
      box.appendChild(el('p', '', words));
      while (box.children.length > NEWS_KEPT) box.firstElementChild.remove();
    }
  };
}
