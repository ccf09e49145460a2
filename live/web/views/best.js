// A shooter's best place as one small line.
import { h } from "../dom.js";
import { num } from "../format.js";

export function bestOf(ranks) {
  return ranks.filter((r) => r.rank != null).sort((a, b) => a.rank - b.rank)[0] || null;
}

export function bestLine(b) {
  if (!b) return h("small", null, "noch ohne Ergebnis");
  return h("small", null, `${b.rank}. Platz · ${b.title} · ${num(b.result)}${b.unit ? " " + b.unit : ""}`);
}
