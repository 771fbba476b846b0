// The bridge hub: events from the host go to the page's listeners, and the
// page's requests go to the host. It is the page's one name on window.

const hub = {
  // No prototype, so event names such as "constructor" are ordinary keys.
  handlers: Object.create(null),
  on(ev, fn) {
    (hub.handlers[ev] || (hub.handlers[ev] = [])).push(fn);
  },
  emit(ev, payload) {
    const call = (fn, args) => {
      try {
        fn.apply(null, args);
      } catch (err) {
        console.error('[ovra] listener of "' + ev + '" failed:', err);
      }
    };
    (hub.handlers[ev] || []).slice().forEach((fn) => call(fn, [payload]));
    (hub.handlers['*'] || []).slice().forEach((fn) => call(fn, [ev, payload]));
  },
  post(msg) {
    const host = window.__host;
    if (host && typeof host.post === 'function') {
      host.post(msg);
      return;
    }
    const webview = window.chrome && window.chrome.webview;
    if (webview && typeof webview.postMessage === 'function') {
      webview.postMessage(typeof msg === 'string' ? msg : JSON.stringify(msg));
    }
  },
};
window.__ovra = hub;
const post = hub.post;
