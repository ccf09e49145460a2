// German number and name texts.
const formats = [0, 1, 2].map((d) => new Intl.NumberFormat("de-DE",
  { minimumFractionDigits: d, maximumFractionDigits: 2, useGrouping: false }));

// digits: at least that many decimals, so that a column of tenths reads 394,0 beside 396,7.
export const num = (value, digits = 0) => (value == null ? "" : formats[Math.min(digits, 2)].format(value));

// The decimals a column of values needs (0 to 2).
export function decimals(values) {
  let most = 0;
  for (const v of values) {
    if (v == null) continue;
    for (let d = most; d < 2 && Math.abs(v * 10 ** d - Math.round(v * 10 ** d)) > 1e-6; d++) most = d + 1;
  }
  return most;
}

// The part results beside the main one, as one text; a first part equal to the main result
// is not repeated.
export function partsText(entry) {
  const values = (entry.parts || []).filter((v) => v != null);
  if (values[0] === entry.result) values.shift();
  return values.map((v) => num(v)).join(" · ");
}

export const fullName = (p) => [p.first_name, p.name].filter(Boolean).join(" ");

const UNITS = { R: "Ringe", T: "Teiler", Pkt: "Punkte" };
export const unitTitle = (unit) => UNITS[unit] || unit || "";
