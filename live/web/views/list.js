// One results list. A new state updates the rows in place: rows whose entry changed are
// replaced and flash, the others stay, so the scroll position holds.
import { get } from "../api.js";
import { h } from "../dom.js";
import { decimals, fullName, num, partsText, unitTitle } from "../format.js";
import { keyed, movement, ranksBefore } from "../ranks.js";

const ARROWS = { up: "▲", down: "▼" };

function rankCell(entry, move) {
  return h("span", { class: "rank" },
    entry.rank == null ? "–" : entry.rank + ".",
    move && h("span", { class: "move " + move, title: move === "up" ? "aufgestiegen" : "abgestiegen" }, ARROWS[move]));
}

function result(entry, digits) {
  return h("span", { class: "result" }, num(entry.result, digits),
    entry.unit && h("small", { title: unitTitle(entry.unit) }, " " + entry.unit));
}

function parts(entry) {
  const text = partsText(entry);
  return text && h("span", { class: "parts" }, text);
}

function shooterRow(entry, move, digits) {
  const known = entry.startnr != null;
  return h("li", null, h(known ? "a" : "div", { class: "row", href: known ? "#/schuetze/" + entry.startnr : null },
    rankCell(entry, move),
    h("span", { class: "who" }, h("strong", null, fullName(entry)), h("small", null, entry.club || "")),
    result(entry, digits),
    parts(entry)));
}

function teamRow(entry, move, digits) {
  const members = (entry.members || []).map((m) =>
    h("li", null, h("a", { href: "#/schuetze/" + m.startnr }, fullName(m)), " ", h("span", null, num(m.result))));
  return h("li", null, h("div", { class: "row team" },
    rankCell(entry, move),
    h("span", { class: "who" }, h("strong", null, entry.name)),
    result(entry, digits),
    members.length > 0 && h("ul", { class: "members" }, members)));
}

export function listView(id) {
  const title = h("h1");
  const info = h("p", { class: "sub" });
  const rows = h("ol", { class: "ranking" });
  const empty = h("p", { class: "empty", hidden: true }, "Noch keine Ergebnisse in dieser Liste.");
  const el = h("section", { class: "list" }, title, info, rows, empty);
  let shown = new Map();  // key → { li, sig, look }
  let rendered = false;

  function render(data) {
    const team = !!data.team;
    const entries = data.entries || [];
    const rowsByKey = keyed(entries, team);
    const before = ranksBefore(id, data.state, Object.fromEntries(rowsByKey.map(([k, e]) => [k, e.rank])));
    const digits = decimals(entries.map((e) => e.result));
    const first = !rendered;
    rendered = true;
    const next = new Map();
    for (const [key, entry] of rowsByKey) {
      const sig = JSON.stringify(entry);
      const move = movement(before[key], entry.rank);
      const look = move + digits;
      const old = shown.get(key);
      if (old && old.sig === sig && old.look === look) {
        next.set(key, old);
        continue;
      }
      const li = (team ? teamRow : shooterRow)(entry, move, digits);
      li.dataset.key = key;
      if (!first && (!old || old.sig !== sig)) {
        li.classList.add("changed");
        li.addEventListener("animationend", () => li.classList.remove("changed"), { once: true });
      }
      next.set(key, { li, sig, look });
    }
    rows.replaceChildren(...[...next.values()].map((r) => r.li));
    shown = next;
    empty.hidden = entries.length > 0;
    title.textContent = data.title;
    info.textContent = [data.discipline, entries.length === 1 ? "1 Eintrag" : entries.length + " Einträge",
      team && "Mannschaftswertung"].filter(Boolean).join(" · ");
    document.title = data.title + " – Live";
  }

  return {
    el,
    async update() {
      const data = await get("/lists/" + encodeURIComponent(id));
      render(data);
      return data.state;
    },
  };
}
