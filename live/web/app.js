// The live view: hash routes, one view at a time, refreshed in place on every new state.
import { get } from "./api.js";
import { h, put } from "./dom.js";
import { listen } from "./events.js";
import { clubView } from "./views/club.js";
import { listView } from "./views/list.js";
import { overviewView } from "./views/overview.js";
import { shooterView } from "./views/shooter.js";

const ROUTES = { liste: listView, schuetze: shooterView, verein: clubView };

const main = document.getElementById("main");
const problem = document.getElementById("problem");
const competition = document.getElementById("competition");
const back = document.getElementById("back");
const scrolls = new Map();  // route → scroll position when it was left

let view = null;  // { el, update, state, route, busy, again }

function make(route) {
  const [name, param] = route.replace(/^#?\/?/, "").split("/");
  const factory = ROUTES[name];
  return factory && param ? factory(decodeURIComponent(param)) : overviewView();
}

async function header() {
  try {
    const { competition: c } = await get("/state");
    put(competition, h("strong", null, c?.name || "Wettkampf"),
      h("small", null, [c?.place, c?.date].filter(Boolean).join(" · ")));
  } catch {
    // the view says what is wrong
  }
}

// Fetches the view's data again; asks made while it runs lead to one more round.
async function refresh() {
  const current = view;
  if (current.busy) {
    current.again = true;
    return current.busy;
  }
  current.busy = (async () => {
    do {
      current.again = false;
      try {
        current.state = await current.update();
        if (view === current) problem.hidden = true;
      } catch (error) {
        if (view !== current) return;
        problem.textContent = error.message;
        problem.hidden = false;
      }
    } while (current.again);
  })();
  await current.busy;
  current.busy = null;
}

async function show() {
  if (view) scrolls.set(view.route, scrollY);
  const route = location.hash || "#/";
  view = make(route);
  view.route = route;
  back.hidden = route === "#/" || route === "#";
  main.replaceChildren(view.el);
  await refresh();
  scrollTo(0, scrolls.get(route) || 0);
}

addEventListener("hashchange", show);
listen({
  banner: document.getElementById("banner"),
  onState(state) {
    if (view && state !== view.state) {
      header();
      refresh();
    }
  },
  onReconnect() {
    header();
    refresh();
  },
});
header();
show();
