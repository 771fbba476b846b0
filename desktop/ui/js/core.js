// Element look-ups shared by every part of the page.

const $ = (id) => document.getElementById(id);

// A new element with its class and text, the shape of most of the page.
function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text != null) e.textContent = text;
  return e;
}
