// The start: followed shooters, the search, and every list by discipline.
import { get } from "../api.js";
import { h, put } from "../dom.js";
import { followed } from "../follow.js";
import { fullName } from "../format.js";
import { bestLine, bestOf } from "./best.js";

const SEARCH_DELAY_MS = 250;

function personRow(p, line) {
  return h("li", null, h("a", { class: "row", href: "#/schuetze/" + p.startnr },
    h("span", { class: "rank nr" }, p.startnr),
    h("span", { class: "who" }, h("strong", null, fullName(p)), line)));
}

async function mine(box) {
  const people = followed();
  if (!people.length) {
    put(box, h("p", { class: "empty" },
      "Tippe bei einem Schützen auf ☆, dann steht er hier mit seinem besten Platz."));
    return;
  }
  const rows = await Promise.all(people.map(async (p) => {
    try {
      const data = await get("/shooters/" + p.startnr);
      return personRow(data, bestLine(bestOf(data.ranks || [])));
    } catch (error) {
      return personRow(p, h("small", null, error.status === 404 ? "nicht in diesem Wettkampf" : error.message));
    }
  }));
  put(box, h("ul", { class: "ranking compact" }, rows));
}

function searchBox() {
  const input = h("input", {
    type: "search", placeholder: "Name, Startnummer oder Verein", "aria-label": "Suche",
    autocomplete: "off", enterkeyhint: "search",
  });
  const results = h("div", { class: "results" });
  let timer = 0, asked = 0;

  async function run() {
    const q = input.value.trim();
    const ticket = ++asked;
    if (!q) return results.replaceChildren();
    let data;
    try {
      data = await get("/search?q=" + encodeURIComponent(q));
    } catch (error) {
      if (ticket === asked) results.replaceChildren(h("p", { class: "error" }, error.message));
      return;
    }
    if (ticket !== asked) return;
    const shooters = data.shooters || [], clubs = data.clubs || [];
    put(results,
      !shooters.length && !clubs.length && h("p", { class: "empty" }, "Keine Treffer."),
      shooters.length > 0 && h("ul", { class: "ranking compact" },
        shooters.map((p) => personRow(p, h("small", null, p.club || "")))),
      clubs.length > 0 && h("ul", { class: "ranking compact" }, clubs.map((c) =>
        h("li", null, h("a", { class: "row", href: "#/verein/" + encodeURIComponent(c.nr) },
          h("span", { class: "rank nr" }, "Verein"), h("span", { class: "who" }, h("strong", null, c.name)))))));
  }

  input.addEventListener("input", () => {
    clearTimeout(timer);
    timer = setTimeout(run, SEARCH_DELAY_MS);
  });
  return { el: h("div", { class: "search" }, input, results), rerun: () => input.value.trim() && run() };
}

// Under its discipline's heading a title need not repeat it ("LG 40 - Damen" → "Damen").
function shortTitle(title, discipline) {
  const rest = title.startsWith(discipline) ? title.slice(discipline.length).replace(/^\s*[-–:]\s*/, "") : "";
  return rest || title;
}

function lists(data) {
  const groups = new Map();
  for (const l of data.lists || []) {
    const key = l.discipline || "Weitere Listen";
    if (!groups.has(key)) groups.set(key, []);
    groups.get(key).push(l);
  }
  if (!groups.size) return h("p", { class: "empty" }, "Noch keine Ergebnislisten.");
  const link = (l, discipline) => h("li", null, h("a", { href: "#/liste/" + l.id },
    h("span", null, shortTitle(l.title, discipline)),
    l.team && h("span", { class: "tag" }, "Mannschaft"),
    h("span", { class: "count", title: "Einträge" }, l.entries)));
  return [...groups].map(([discipline, items]) => h("section", { class: "group" },
    h("h3", null, discipline),
    h("ul", { class: "lists" }, items.sort((a, b) => a.team - b.team).map((l) => link(l, discipline)))));
}

export function overviewView() {
  const followedBox = h("div");
  const search = searchBox();
  const listsBox = h("div", { class: "groups" });
  const el = h("section", { class: "overview" },
    h("h2", null, "Meine Schützen"), followedBox,
    h("h2", null, "Suche"), search.el,
    h("h2", null, "Ergebnislisten"), listsBox);

  return {
    el,
    async update() {
      const [data] = await Promise.all([get("/lists"), mine(followedBox)]);
      put(listsBox, lists(data));
      search.rerun();
      document.title = "Live-Ergebnisse";
      return data.state;
    },
  };
}
