// A target card as SVG in millimetres (x right, y up on the card; SVG's y runs down).
import { s } from "./dom.js";

// Ring 1's diameter, the step to the next ring, the first black ring, the inner ten.
export const FACES = {
  air_rifle: { outer: 45.5, step: 5, black: 4, inner: 0, close: 9 },
  air_pistol: { outer: 155.5, step: 16, black: 7, inner: 5, close: 24 },
};
const PELLET = 4.5;

const faceOf = (target) => FACES[target.face] || FACES.air_rifle;
const placed = (target) => (target.shots || []).filter((p) => Number.isFinite(p.x) && Number.isFinite(p.y));
const wholeHalf = (face) => face.outer / 2 + 1.5;

export const ringDiameter = (face, ring) => face.outer - face.step * (ring - 1);

// Half the side of the square shown: the whole card, or the shots' area when they all lie
// well inside it.
export function viewHalf(face, shots) {
  const whole = wholeHalf(face);
  if (!shots.length) return whole;
  const reach = Math.max(...shots.map((p) => Math.hypot(p.x, p.y))) + PELLET / 2;
  const close = Math.max(face.close, reach * 1.15);
  return close < whole * 0.75 ? close : whole;
}

// Whether the shots lie close enough to the centre to show their area only.
export const closeUp = (target) => viewHalf(faceOf(target), placed(target)) < wholeHalf(faceOf(target));

function rings(face) {
  const out = [];
  for (let ring = 1; ring <= 10; ring++) {
    const d = ringDiameter(face, ring);
    const dark = ring >= face.black;
    out.push(s("circle", {
      r: d / 2,
      class: dark ? "ring dark" : "ring",
      fill: ring === face.black ? "#111" : ring === 10 && !face.inner ? "#fff" : "none",
    }));
  }
  if (face.inner) out.push(s("circle", { r: face.inner / 2, class: "ring dark", fill: "none" }));
  for (let ring = 1; ring <= 8; ring++) {
    const at = (ringDiameter(face, ring) + ringDiameter(face, ring + 1)) / 4;
    const size = face.step * 0.3;
    const cls = ring >= face.black ? "num dark" : "num";
    for (const [x, y] of [[-at, 0], [at, 0], [0, -at], [0, at]])
      out.push(s("text", { x, y, class: cls, "font-size": size }, String(ring)));
  }
  return out;
}

function shot(p, last) {
  return s("g", { class: last ? "shot last" : "shot", transform: `translate(${p.x} ${-p.y})` },
    s("circle", { r: PELLET / 2 }),
    s("text", { "font-size": 2.2 }, String(p.n)));
}

function cross(mean) {
  const a = 1.6;
  return s("path", {
    class: "mean",
    d: `M${mean.x - a} ${-mean.y}h${2 * a}M${mean.x} ${-mean.y - a}v${2 * a}`,
  });
}

// zoomed: null follows viewHalf, false shows the whole card.
export function drawTarget(target, zoomed = null) {
  const face = faceOf(target);
  const shots = placed(target);
  const whole = wholeHalf(face);
  const half = zoomed === false ? whole : viewHalf(face, shots);
  const last = shots.reduce((a, p) => (a == null || p.n > a.n ? p : a), null);
  return s("svg", {
    class: "target",
    viewBox: `${-half} ${-half} ${2 * half} ${2 * half}`,
    role: "img",
    "aria-label": `Scheibe mit ${shots.length} Schüssen`,
  },
  s("rect", { x: -whole, y: -whole, width: 2 * whole, height: 2 * whole, class: "paper" }),
  rings(face),
  shots.map((p) => shot(p, p === last)),
  target.mean && cross(target.mean));
}
