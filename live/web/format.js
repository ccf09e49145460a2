// German number and name texts.
const number = new Intl.NumberFormat("de-DE", { maximumFractionDigits: 2, useGrouping: false });

export const num = (value) => (value == null ? "" : number.format(value));

export const fullName = (p) => [p.first_name, p.name].filter(Boolean).join(" ");

const UNITS = { R: "Ringe", T: "Teiler", Pkt: "Punkte" };
export const unitTitle = (unit) => UNITS[unit] || unit || "";
