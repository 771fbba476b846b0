// Answer text cut into sentences, and the words of a sentence that the voice
// says.

const SENTENCE_END = /[。！？!?\n]/;
// Further marks and closing quotes or brackets after an end belong to it.
const SENTENCE_TAIL = /[。！？!?\n」』）)】\]}》”’"']/;
const HAS_WORDS = /[^\s。！？!?」』）)】\]}》”’"']/;

// Where the sentences of a text end: each end is the offset just after a
// sentence's last mark, the last end the text's length when words follow the
// last mark. Marks before the first words stay with the words after them.
function sentenceEnds(text) {
  const ends = [];
  let start = 0;
  for (let i = 0; i < text.length; i++) {
    if (!SENTENCE_END.test(text[i])) continue;
    while (i + 1 < text.length && SENTENCE_TAIL.test(text[i + 1])) i++;
    if (!HAS_WORDS.test(text.slice(start, i + 1))) continue;
    ends.push(i + 1);
    start = i + 1;
  }
  if (text.slice(start).trim()) ends.push(text.length);
  return ends;
}

// What the voice says of a sentence: the words, without the markdown
// symbols, list markers and emoji that the bubble shows.
const LIST_MARKER = /^(?:[-+*•·]|\d+[.)、])\s+/;
const MARKDOWN = /[*#`]+/g;
// Each code point on its own: pictographs, flag letters, skin tones, joiners,
// variation selectors and keycaps.
const EMOJI = /\p{Extended_Pictographic}|[\u{1F1E6}-\u{1F1FF}]|[\u{1F3FB}-\u{1F3FF}]|\u200D|\uFE0F|\u20E3/gu;
const SAYABLE = /[\p{L}\p{N}]/u;

function spokenText(sentence) {
  const words = sentence.replace(LIST_MARKER, '').replace(MARKDOWN, '').replace(EMOJI, '');
  return words.replace(/\s+/g, ' ').trim();
}
