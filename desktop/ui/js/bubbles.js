// How an answer's bubble shows its sentences while it grows, and what screen
// readers hear of it.

// Finished answer sentences kept in the screen readers' live region.
const NEWS_KEPT = 3;

// What each bubble shows (see wrapSentencesIntoBubble).
const bubbles = { rendered: new WeakMap() };

function sentenceSpan(sentence) {
  const s = el('span', 'sentence', sentence);
  s.dataset.text = sentence;
  return s;
}

// What each bubble shows: its sentence texts and its trailing cursor. A
// growing answer only changes its last sentence, so re-rendering keeps the
// spans that are unchanged and rebuilds from the first that differs. The
// result is the same DOM as emptying the bubble and adding every span again.

function wrapSentencesIntoBubble(bubble, text, sentences) {
  const list = sentences || splitSentences(text);
  if (!list.length) {
    bubbles.rendered.delete(bubble);
    bubble.textContent = text;
    scrollStream();
    return;
  }
  let r = bubbles.rendered.get(bubble);
  if (!r || bubble.lastChild !== r.cursor || bubble.childNodes.length !== r.texts.length + 1) {
    bubble.textContent = '';
    r = { texts: [], cursor: cursorSpan() };
    bubble.appendChild(r.cursor);
    bubbles.rendered.set(bubble, r);
  }
  let same = 0;
  const common = Math.min(r.texts.length, list.length);
  while (same < common && r.texts[same] === list[same]) same++;
  while (r.texts.length > same) {
    bubble.removeChild(r.cursor.previousSibling);
    r.texts.pop();
  }
  if (same < list.length) {
    const frag = document.createDocumentFragment();
    for (let i = same; i < list.length; i++) {
      frag.appendChild(sentenceSpan(list[i]));
      r.texts.push(list[i]);
    }
    bubble.insertBefore(frag, r.cursor);
    const speaking = speaker.item;
    if (speaking && speaking.bubble === bubble && speaking.index >= same) markSpeaking(speaking);
  }
  scrollStream();
}

// Screen readers hear an answer a finished sentence at a time rather than
// every delta. Until the answer has ended its last sentence may still grow.
function answerNews() {
  let told = 0;
  return (sentences, ended) => {
    const box = $('answerNews');
    const count = ended ? sentences.length : sentences.length - 1;
    for (; told < count; told++) {
      const words = spokenText(sentences[told]);
      if (!SAYABLE.test(words)) continue;
      box.appendChild(el('p', '', words));
      while (box.children.length > NEWS_KEPT) box.firstElementChild.remove();
    }
  };
}
