// Speech output: the sentences of answers queued and spoken one after
// another by one voice, the sentence speaking highlighted, and stopping.

// Sentences fetched ahead of the one playing.
const SPEECH_AHEAD = 2;
// The first clause of an answer is spoken on its own once it has this many
// letters and its sentence goes on.
const FIRST_CLAUSE_MIN = 6;

const speaker = {
  // Sentences waiting to be spoken, across answers, so only one voice speaks.
  queue: [],
  busy: false, // the voice is working through the queue
  item: null, // the sentence being spoken
  gen: 0, // raised when speech is cleared or stopped
  span: null, // the sentence span highlighted while it is spoken
};

// How many sentences ahead speech is fetched; 0 fetches each one only at
// its turn, which measurements use for comparison.
hub.speechAhead = SPEECH_AHEAD;
// Speech that starts early: audio played while it arrives, an answer's
// first clause spoken on its own, look-ahead once the first sentence
// sounds. Off gives the whole-body road, which measurements compare with.
hub.earlySpeech = true;

// The speech side of one answer: counts the sentences already queued. An
// answer cleared or stopped (a new speech generation) queues nothing more.
function answerSpeech(bubble) {
  const gen = speaker.gen;
  let queued = 0;
  let head = 0; // length of the first sentence's clause already queued
  const push = (item) => {
    if (SAYABLE.test(item.say)) speaker.queue.push(item);
  };
  const start = () => {
    if (!speaker.queue.length) return;
    if (speaker.busy) fetchAhead();
    else flushSpeak();
  };
  const queueUpTo = (units, count) => {
    if (gen !== speaker.gen) return;
    for (; queued < count; queued++) {
      const u = units[queued];
      push({ text: u.text, say: spokenText(queued ? u.say : u.say.slice(head)), bubble, index: queued });
    }
    start();
  };
  // The first words come early: a long first clause of the still open first
  // sentence is spoken before the sentence ends.
  const queueHead = (shown) => {
    if (gen !== speaker.gen || queued || head || shown.units.length !== 1 || shown.held || !hub.earlySpeech) return;
    const u = shown.units[0];
    head = firstClauseEnd(u.say);
    if (!head) return;
    push({ text: u.text, say: spokenText(u.say.slice(0, head)), bubble, index: 0, head: true });
    start();
  };
  return {
    // The units shown so far (see wrapSentencesIntoBubble), of which the
    // complete ones are queued.
    queueComplete: (shown) => {
      queueHead(shown);
      queueUpTo(shown.units, shown.complete);
    },
    queueAll: (units) => queueUpTo(units, units.length),
  };
}

const CLAUSE_MARK = /[，、；：]/;

// Where the first clause of a sentence ends (after its mark), once it has
// FIRST_CLAUSE_MIN letters; 0 without such a clause.
function firstClauseEnd(sentence) {
  let letters = 0;
  for (let i = 0; i < sentence.length; i++) {
    if (SAYABLE.test(sentence[i])) letters++;
    else if (CLAUSE_MARK.test(sentence[i]) && letters >= FIRST_CLAUSE_MIN) return i + 1;
  }
  return 0;
}

function markSpeaking(item) {
  if (speaker.span) speaker.span.classList.remove('speaking');
  speaker.span = null;
  if (!item) return;
  // The first clause is spoken while its sentence still grows.
  const shows = (span) => (item.head ? span.dataset.text.startsWith(item.text) : span.dataset.text === item.text);
  const spans = item.bubble.querySelectorAll('.sentence');
  let span = spans[item.index];
  if (!span || !shows(span)) span = Array.from(spans).find(shows);
  if (span) {
    span.classList.add('speaking');
    speaker.span = span;
  }
  setOrb('speaking', '正在发声');
}

async function flushSpeak() {
  if (speaker.busy) return;
  speaker.busy = true;
  setStage('tts');
  while (speaker.queue.length) {
    const item = speaker.queue.shift();
    speaker.item = item;
    fetchSpeech(item);
    fetchAhead();
    markSpeaking(item);
    const said = { say: item.say, end: Infinity };
    recentSpeech().push(said);
    await speakOne(item);
    said.end = performance.now();
    speaker.item = null;
  }
  markSpeaking(null);
  speaker.busy = false;
  showMetric('mTts', 'idle');
  restoreOrb();
}

// The audio of the next sentences is fetched while one plays, so each
// follows the one before without waiting for its speech request.
// Not before the sentence playing sounds: requests side by side with its
// own would make the first sentence of an answer later.
function fetchAhead() {
  const current = speaker.item;
  if (hub.earlySpeech && current && !current.sounding) return;
  speaker.queue.slice(0, hub.speechAhead).forEach(fetchSpeech);
}

function sounding(item) {
  if (item.sounding) return;
  item.sounding = true;
  if (speaker.item === item) fetchAhead();
}

// Drops a queued or playing sentence: its request, its audio, its voice.
function dropSpeech(item) {
  item.dropped = true;
  if (item.ctrl) item.ctrl.abort();
  if (item.stop) item.stop();
  if (item.audio) {
    item.audio.then((got) => {
      if (!got) return;
      got.audio.pause();
      URL.revokeObjectURL(got.url);
    });
  }
}

function stopSpeech() {
  speaker.gen++;
  const items = speaker.queue.splice(0);
  if (speaker.item) items.unshift(speaker.item);
  items.forEach(dropSpeech);
}

// Settles when the sentence has been spoken, by either voice, or dropped.
async function speakOne(item) {
  const got = await fetchSpeech(item);
  if (item.dropped) return;
  if (!got) return speakFallback(item.say, item);
  showMetric('mTts', got.ms + 'ms');
  return playAudio(item, got);
}
