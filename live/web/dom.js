// Building elements without HTML strings: every text goes in as a text node; null, undefined
// and false children are left out, arrays are spread.
const SVG_NS = "http://www.w3.org/2000/svg";

function add(el, children) {
  for (const child of children.flat(Infinity)) {
    if (child == null || child === false) continue;
    el.append(child instanceof Node ? child : String(child));
  }
  return el;
}

function fill(el, props, children) {
  for (const [key, value] of Object.entries(props || {})) {
    if (value == null || value === false) continue;
    if (key === "class") el.setAttribute("class", value);
    else if (key.startsWith("on")) el.addEventListener(key.slice(2), value);
    else el.setAttribute(key, value === true ? "" : value);
  }
  return add(el, children);
}

export const h = (tag, props, ...children) => fill(document.createElement(tag), props, children);
export const s = (tag, props, ...children) => fill(document.createElementNS(SVG_NS, tag), props, children);

// Replaces the element's children.
export function put(el, ...children) {
  el.replaceChildren();
  return add(el, children);
}
