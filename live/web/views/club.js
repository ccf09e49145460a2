// A club: its shooters with their best place.
import { get } from "../api.js";
import { h, put } from "../dom.js";
import { fullName } from "../format.js";
import { bestLine } from "./best.js";

export function clubView(nr) {
  const el = h("section", { class: "club" });

  function render(data) {
    const shooters = data.shooters || [];
    put(el,
      h("h1", null, data.name),
      h("p", { class: "sub" }, shooters.length === 1 ? "1 Schütze" : shooters.length + " Schützen"),
      h("ul", { class: "ranking compact" }, shooters.map((p) =>
        h("li", null, h("a", { class: "row", href: "#/schuetze/" + p.startnr },
          h("span", { class: "rank nr" }, p.startnr),
          h("span", { class: "who" }, h("strong", null, fullName(p)), bestLine(p.best)))))));
    document.title = data.name + " – Live";
  }

  return {
    el,
    async update() {
      const data = await get("/clubs/" + encodeURIComponent(nr));
      render(data);
      return data.state;
    },
  };
}
