// Answers asked ahead: when a pause in what the user says may be its end,
// its text goes to the model at once, and the answer waits unseen and
// unheard. It becomes the turn's answer when the pause turns out to be the
// end and nothing was sent meanwhile; otherwise it is aborted and leaves no
// trace.

function askAhead(text) {
  const ctrl = new AbortController();
  const t0 = performance.now();
  const history = chat.history.concat({ role: 'user', content: text });
  const res = requestAnswer(history, ctrl.signal);
  // Failures are the turn's to report, if it is taken.
  res.catch(() => {});
  return { text, ctrl, res, t0, turn: chat.history.length, taken: false };
}

// Whether `said`, sent now, would ask what was asked ahead.
function aheadFits(ahead, said) {
  return !ahead.taken && ahead.text === said && !chat.busy && chat.history.length === ahead.turn;
}

function dropAhead(ahead) {
  if (ahead.taken) return;
  ahead.taken = true;
  ahead.ctrl.abort();
}
