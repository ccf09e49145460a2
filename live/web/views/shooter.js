// A shooter: club, ranks, every target card drawn, and the star to follow.
import { get } from "../api.js";
import { h, put } from "../dom.js";
import { isFollowed, setFollowed } from "../follow.js";
import { fullName, num } from "../format.js";
import { closeUp, drawTarget } from "../target.js";

function star(person) {
  const button = h("button", { class: "star", type: "button" });
  const show = () => {
    const on = isFollowed(person.startnr);
    button.textContent = on ? "★" : "☆";
    button.setAttribute("aria-pressed", String(on));
    button.title = on ? "Nicht mehr folgen" : "Folgen (unter „Meine Schützen“)";
  };
  button.addEventListener("click", () => {
    setFollowed(person, !isFollowed(person.startnr));
    show();
  });
  show();
  return button;
}

function ranks(list) {
  if (!list.length) return h("p", { class: "empty" }, "Noch in keiner Ergebnisliste.");
  return h("ul", { class: "ranking compact" }, list.map((r) =>
    h("li", null, h("a", { class: "row", href: "#/liste/" + r.list },
      h("span", { class: "rank" }, r.rank == null ? "–" : r.rank + "."),
      h("span", { class: "who" }, h("strong", null, r.title), r.team && h("small", null, "Mannschaft")),
      h("span", { class: "result" }, num(r.result), r.unit && h("small", null, " " + r.unit))))));
}

function card(target, index, zoom) {
  const figure = h("figure", { class: "card", "data-target": target.id });
  const paint = () => {
    const whole = zoom.get(target.id) === false;
    const canZoom = closeUp(target);
    put(figure,
      drawTarget(target, whole ? false : null),
      h("figcaption", null,
        h("span", null, target.discipline, " · Scheibe ", index),
        h("span", { class: "score" }, h("strong", null, num(target.ring)),
          target.teiler != null && h("small", null, " Teiler ", num(target.teiler))),
        canZoom && h("button", {
          type: "button", class: "link",
          onclick: () => { zoom.set(target.id, whole ? null : false); paint(); },
        }, whole ? "Vergrößern" : "Ganze Scheibe")),
      target.shots?.length > 0 && h("ol", { class: "shots" }, target.shots.map((p) =>
        h("li", { title: p.teiler != null ? "Teiler " + num(p.teiler) : null }, h("b", null, p.n), " ", num(p.ring)))));
  };
  paint();
  return figure;
}

function targets(list, zoom) {
  if (!list.length) return h("p", { class: "empty" }, "Noch keine Scheiben.");
  const count = new Map();
  return h("div", { class: "targets" }, list.map((t) => {
    const n = (count.get(t.discipline) || 0) + 1;
    count.set(t.discipline, n);
    return card(t, n, zoom);
  }));
}

export function shooterView(startnr) {
  const el = h("section", { class: "shooter" });
  const zoom = new Map();  // target id → false while the whole card is asked for

  function render(data) {
    put(el,
      h("div", { class: "head" }, h("h1", null, fullName(data)), star(data)),
      h("p", { class: "sub" }, "Startnr. ", data.startnr,
        data.club && [" · ", h("a", { href: "#/verein/" + encodeURIComponent(data.club_nr) }, data.club)]),
      h("h2", null, "Platzierungen"),
      ranks(data.ranks || []),
      h("h2", null, "Scheiben"),
      targets(data.targets || [], zoom));
    document.title = fullName(data) + " – Live";
  }

  return {
    el,
    async update() {
      const data = await get("/shooters/" + encodeURIComponent(startnr));
      render(data);
      return data.state;
    },
  };
}
