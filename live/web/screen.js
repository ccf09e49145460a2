// The hall screen: /live/screen?lists=1,4,7&seconds=15 shows each list for `seconds` (without
// `lists`: every list that has entries), scrolling long ones through in that time, and updates
// the shown list on a new state.
import { get, root } from "./api.js";
import { h, put } from "./dom.js";
import { listen } from "./events.js";
import { decimals, fullName, num, partsText } from "./format.js";
import { keyed, movement, ranksBefore } from "./ranks.js";

const params = new URLSearchParams(location.search);
const chosen = (params.get("lists") || "").split(",").map((v) => parseInt(v, 10)).filter(Number.isInteger);
const seconds = Math.min(600, Math.max(2, Number(params.get("seconds")) || 15));
const $ = (id) => document.getElementById(id);
const board = $("board"), scroller = $("scroller");

let order = [];      // ids in turn
let titles = new Map();
let at = -1;         // index into order
let shown = null;    // { id, state, sigs }
let timer = 0;

const time = (date) => date.toLocaleTimeString("de-DE", { hour: "2-digit", minute: "2-digit" });
const clock = () => { $("clock").textContent = time(new Date()); };

async function header() {
  try {
    const data = await get("/state");
    $("competition").textContent = data.competition?.name || "Live-Ergebnisse";
    const read = data.read ? new Date(data.read) : null;
    $("stand").textContent = read && !isNaN(read) ? `Stand ${time(read)} Uhr` : "";
  } catch {
    // shown in the board
  }
}

async function lists() {
  try {
    const data = await get("/lists");
    titles = new Map((data.lists || []).map((l) => [l.id, l.title]));
    order = chosen.length ? chosen : (data.lists || []).filter((l) => l.entries > 0).map((l) => l.id);
  } catch {
    order = chosen;
  }
}

function row(entry, team, move, changed, digits) {
  const rank = h("td", { class: "rank" }, entry.rank == null ? "–" : entry.rank + ".",
    move && h("span", { class: "move " + move }, move === "up" ? "▲" : "▼"));
  const who = team
    ? h("td", { class: "name team", colspan: 3 }, entry.name, h("span", { class: "members" },
      (entry.members || []).map((m) => `${fullName(m)} ${num(m.result)}`).join(" · ")))
    : [h("td", { class: "name" }, fullName(entry)), h("td", { class: "club" }, entry.club || ""),
      h("td", { class: "parts" }, partsText(entry))];
  const cls = [entry.rank != null && entry.rank <= 3 && "top3", changed && "changed"].filter(Boolean).join(" ");
  return h("tr", { class: cls }, rank, who,
    h("td", { class: "result" }, num(entry.result, digits), entry.unit && h("small", null, " " + entry.unit)));
}

function render(data, same) {
  const team = !!data.team;
  const entries = data.entries || [];
  const rows = keyed(entries, team);
  const before = ranksBefore(data.id, data.state, Object.fromEntries(rows.map(([k, e]) => [k, e.rank])));
  const sigs = new Map(rows.map(([k, e]) => [k, JSON.stringify(e)]));
  const old = same ? shown.sigs : null;
  const digits = decimals(entries.map((e) => e.result));
  $("title").textContent = data.title;
  board.replaceChildren(entries.length
    ? h("table", null,
      h("thead", null, h("tr", null, h("th", null, "Platz"), h("th", null, team ? "Mannschaft" : "Name"),
        h("th", null, team ? "" : "Verein"), h("th"), h("th", { class: "right" }, "Ergebnis"))),
      h("tbody", null, rows.map(([k, e]) =>
        row(e, team, movement(before[k], e.rank), old && old.get(k) !== sigs.get(k), digits))))
    : h("p", { class: "empty" }, "Noch keine Ergebnisse in dieser Liste."));
  shown = { id: data.id, state: data.state, sigs };
  document.body.dataset.list = data.id;
}

// Scrolls the board from top to bottom within the time the list is shown, with a rest at both ends.
function scrollThrough() {
  board.getAnimations().forEach((a) => a.cancel());
  const over = board.scrollHeight - scroller.clientHeight;
  if (over <= 0) return;
  const rest = Math.min(2500, seconds * 150);
  board.animate([{ transform: "translateY(0)" }, { transform: `translateY(${-over}px)` }],
    { duration: seconds * 1000 - 2 * rest - 400, delay: rest, fill: "forwards", easing: "ease-in-out" });
}

function progress() {
  const bar = $("progress");
  bar.classList.remove("run");
  void bar.offsetWidth;
  bar.style.animationDuration = seconds + "s";
  bar.classList.add("run");
}

async function turn() {
  clearTimeout(timer);
  await lists();
  if (!order.length) {
    $("title").textContent = "Ergebnisse";
    board.replaceChildren(h("p", { class: "empty" }, "Noch keine Ergebnislisten."));
  } else {
    at = (at + 1) % order.length;
    const id = order[at];
    try {
      const data = await get("/lists/" + id);
      board.classList.add("fading");
      await new Promise((r) => setTimeout(r, 400));
      render(data, false);
      board.classList.remove("fading");
      scrollThrough();
    } catch (error) {
      $("title").textContent = titles.get(id) || "Liste " + id;
      board.replaceChildren(h("p", { class: "empty" }, error.message));
    }
    $("position").textContent = `Liste ${at + 1} von ${order.length}`;
    const next = order[(at + 1) % order.length];
    put($("next"), order.length > 1 && ["Als Nächstes", h("strong", null, titles.get(next) || "Liste " + next)]);
    progress();
  }
  timer = setTimeout(turn, seconds * 1000);
}

async function update() {
  header();
  if (!shown) return;
  try {
    const data = await get("/lists/" + shown.id);
    if (shown && data.id === shown.id && data.state !== shown.state) render(data, true);
  } catch {
    // the next turn shows it
  }
}

listen({
  banner: $("banner"),
  onState(state) {
    if (shown && state !== shown.state) update();
  },
  onReconnect: update,
});
clock();
setInterval(clock, 10000);
$("address").textContent = location.host + root + "/live/";
header();
turn();
