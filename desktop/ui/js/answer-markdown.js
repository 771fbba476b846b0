// Answers as models write them, in Markdown: built as page elements from the
// parser's tokens (never from its HTML, and with HTML in the answer left as
// text), so nothing in an answer can run or load in the page. The words are
// cut into units that speech and screen readers take one at a time: the
// sentences of paragraphs, headings and list items, each table row, each
// code block.

const md = markdownit('default', { html: false, linkify: true, breaks: true });
// Only addresses with their scheme are links: "README.md" is a file name.
md.linkify.set({ fuzzyLink: false, fuzzyEmail: false });

// What the voice says in place of a code block and of a bare address.
const CODE_SAID = '代码见屏幕';
const ADDRESS_SAID = '链接';

const BLOCK_TAGS = {
  paragraph_open: 'p',
  blockquote_open: 'blockquote',
  bullet_list_open: 'ul',
  ordered_list_open: 'ol',
  list_item_open: 'li',
  table_open: 'table',
  thead_open: 'thead',
  tbody_open: 'tbody',
  tr_open: 'tr',
  th_open: 'th',
  td_open: 'td',
};
const INLINE_TAGS = { strong_open: 'strong', em_open: 'em', s_open: 's' };

// Only web addresses leave the page, and only to the user's browser.
function webAddress(href) {
  try {
    const url = new URL(href);
    return url.protocol === 'http:' || url.protocol === 'https:' ? url.href : '';
  } catch {
    return '';
  }
}

// The inline tokens of one paragraph, heading, item or cell as pieces: the
// words shown and said, and what to open, close or add.
function inlinePieces(children) {
  const pieces = [];
  const links = [];
  const words = (shown, said) => ({ shown, said, whole: said !== shown });
  for (const t of children) {
    const inAddress = links.length && links[links.length - 1].address;
    if (t.type === 'text' || t.type === 'text_special') {
      pieces.push(inAddress ? { shown: t.content, said: '', whole: true } : words(t.content, t.content));
    } else if (t.type === 'softbreak' || t.type === 'hardbreak') {
      pieces.push({ shown: '\n', said: '\n', node: () => el('br') });
    } else if (t.type === 'code_inline') {
      pieces.push({ shown: t.content, said: t.content, whole: true, node: () => el('code', '', t.content) });
    } else if (t.type === 'image') {
      // Never loaded: its description, or its address when it has none.
      const alt = t.content || t.attrGet('src') || '';
      pieces.push({ shown: alt, said: t.content, whole: true, node: () => el('span', 'md-image', alt) });
    } else if (t.type === 'link_open') {
      const href = webAddress(t.attrGet('href') || '');
      const link = { address: t.markup === 'linkify' || t.markup === 'autolink', href, raw: t.attrGet('href') || '' };
      links.push(link);
      pieces.push({ shown: '', said: link.address ? ADDRESS_SAID : '', whole: true, open: link });
    } else if (t.type === 'link_close') {
      const link = links.pop();
      // A link that may not leave the page shows where it pointed, as text.
      if (link && !link.href && !link.address) pieces.push({ shown: ' (' + link.raw + ')', said: '', whole: true, node: () => el('span', 'md-address', ' (' + link.raw + ')') });
      pieces.push({ shown: '', said: '', close: true });
    } else if (INLINE_TAGS[t.type]) {
      pieces.push({ shown: '', said: '', open: { tag: INLINE_TAGS[t.type] } });
    } else if (t.nesting === -1) {
      pieces.push({ shown: '', said: '', close: true });
    } else if (t.content) {
      pieces.push(words(t.content, t.content));
    }
  }
  return pieces;
}

function openInline(open) {
  if (open.tag) return el(open.tag);
  if (!open.href) return el('span', 'md-link-off');
  const a = el('a', 'md-link');
  a.href = open.href;
  a.rel = 'noopener noreferrer';
  a.title = open.href;
  return a;
}

// End marks inside code or an address do not end a sentence.
const maskMarks = (text) => text.replace(/[。！？!?\n]/g, '_');

// Adds the inline content to parent. With units, as sentence spans, each
// added to units; without, as it is, giving its words shown and said.
function inlineInto(parent, children, units) {
  const pieces = inlinePieces(children);
  const ends = units ? sentenceEnds(pieces.map((p) => (p.whole ? maskMarks(p.shown) : p.shown)).join('')) : [];
  const open = []; // inline elements open at this point: [{ open, el }]
  let span = null;
  let shown = '';
  let said = '';
  let pos = 0;
  let k = 0;
  // The element that content goes into now, opening what is open anew in a
  // new sentence.
  const into = () => {
    if (!span) {
      if (units && k >= ends.length) return parent;
      span = units ? parent.appendChild(el('span', 'sentence')) : parent;
    }
    let at = span;
    for (const o of open) {
      if (!o.el) o.el = at.appendChild(openInline(o.open));
      at = o.el;
    }
    return at;
  };
  const advance = (n) => {
    pos += n;
    if (!units || k >= ends.length || pos < ends[k]) return;
    const text = shown.trim();
    span.dataset.text = text;
    units.push({ text, say: said.trim(), el: span });
    shown = said = '';
    span = null;
    open.forEach((o) => (o.el = null));
    k++;
  };
  for (const p of pieces) {
    if (p.open) {
      open.push({ open: p.open, el: null });
    } else if (p.close) {
      open.pop();
    }
    if (p.node || p.whole) {
      if (p.shown || p.node) into().appendChild(p.node ? p.node() : document.createTextNode(p.shown));
      shown += p.shown;
      said += p.said;
      advance(p.shown.length);
      continue;
    }
    let text = p.shown;
    while (text) {
      const n = units && k < ends.length ? Math.min(text.length, ends[k] - pos) : text.length;
      into().appendChild(document.createTextNode(text.slice(0, n)));
      shown += text.slice(0, n);
      said += text.slice(0, n);
      text = text.slice(n);
      advance(n);
    }
  }
  return { shown, said };
}

function codeBlock(t, units) {
  const box = el('div', 'code-block sentence');
  const head = box.appendChild(el('div', 'code-head'));
  const lang = (t.info || '').trim().split(/\s+/)[0];
  head.appendChild(el('span', 'code-lang', lang || '代码'));
  const copy = head.appendChild(el('button', 'code-copy', '复制'));
  copy.type = 'button';
  copy.setAttribute('aria-label', '复制代码' + (lang ? '（' + lang + '）' : ''));
  const pre = box.appendChild(el('pre'));
  // Scrolls sideways, so it takes the keyboard too.
  pre.tabIndex = 0;
  pre.appendChild(el('code', '', t.content));
  box.dataset.text = t.content;
  units.push({ text: t.content, say: CODE_SAID, el: box });
  return box;
}

// A table row is said as a short sentence: each cell after its column's
// heading; empty cells are left out. The heading row itself is not said.
function rowUnit(row, heads, units) {
  if (row.head) {
    row.cells.forEach((c) => heads.push(c.said.trim()));
    return;
  }
  const said = row.cells
    .map((c, i) => (c.said.trim() ? [heads[i], c.said.trim()].filter(Boolean).join(' ') : ''))
    .filter(Boolean);
  const text = row.cells.map((c) => c.shown.trim()).join(' | ');
  row.el.classList.add('sentence');
  row.el.dataset.text = text;
  units.push({ text, say: said.join('，') + '。', el: row.el });
}

function openBlock(t) {
  if (t.type === 'heading_open') return el('p', 'md-h md-' + t.tag);
  const e = el(BLOCK_TAGS[t.type] || 'div');
  if (t.type === 'ordered_list_open' && t.attrGet('start')) e.start = Number(t.attrGet('start'));
  const align = /text-align:(left|center|right)/.exec(t.attrGet('style') || '');
  if (align) e.className = 'align-' + align[1];
  return e;
}

// The nodes of one top-level block and its units.
function buildBlock(tokens) {
  const units = [];
  const root = document.createDocumentFragment();
  const stack = [root];
  const heads = [];
  let row = null;
  for (const t of tokens) {
    const top = stack[stack.length - 1];
    if (t.hidden) continue; // the paragraphs of a tight list's items
    if (t.nesting === 1) {
      const e = openBlock(t);
      if (t.type === 'table_open') {
        // Scrolls sideways, so it takes the keyboard too.
        const box = top.appendChild(el('div', 'md-table'));
        box.tabIndex = 0;
        box.appendChild(e);
      } else {
        top.appendChild(e);
      }
      stack.push(e);
      if (t.type === 'tr_open') row = { el: e, cells: [], head: stack.some((s) => s.tagName === 'THEAD') };
    } else if (t.nesting === -1) {
      stack.pop();
      if (t.type === 'tr_close' && row) rowUnit(row, heads, units);
      if (t.type === 'tr_close') row = null;
    } else if (t.type === 'inline') {
      if (row) row.cells.push(inlineInto(top, t.children || [], null));
      else inlineInto(top, t.children || [], units);
    } else if (t.type === 'fence' || t.type === 'code_block') {
      top.appendChild(codeBlock(t, units));
    } else if (t.type === 'hr') {
      top.appendChild(el('hr'));
    } else if (t.content) {
      top.appendChild(document.createTextNode(t.content));
    }
  }
  return { nodes: Array.from(root.childNodes), frag: root, units };
}

// The answer's top-level blocks: their tokens and their source, which alone
// decides what they show (with the link references of the whole answer).
function topBlocks(text) {
  const env = {};
  const tokens = md.parse(text, env);
  const lines = text.split('\n');
  const refs = env.references ? JSON.stringify(env.references) : '';
  const blocks = [];
  for (let i = 0; i < tokens.length; ) {
    let j = i;
    if (tokens[i].nesting === 1) {
      let depth = 0;
      do depth += tokens[j++].nesting;
      while (depth > 0 && j < tokens.length);
    } else {
      j = i + 1;
    }
    const map = tokens[i].map || [0, lines.length];
    const source = lines.slice(map[0], map[1]).join('\n');
    blocks.push({ tokens: tokens.slice(i, j), key: refs + '\u0000' + source, table: tokens[i].type === 'paragraph_open' && source.includes('|') });
    i = j;
  }
  return blocks;
}
