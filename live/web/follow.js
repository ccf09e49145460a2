// The shooters a viewer follows, kept in this browser (localStorage).
const KEY = "ringolan.follow";

export function followed() {
  try {
    const list = JSON.parse(localStorage.getItem(KEY) || "[]");
    return Array.isArray(list) ? list.filter((p) => Number.isInteger(p?.startnr)) : [];
  } catch {
    return [];
  }
}

export const isFollowed = (startnr) => followed().some((p) => p.startnr === startnr);

export function setFollowed(person, on) {
  const rest = followed().filter((p) => p.startnr !== person.startnr);
  if (on) rest.push({ startnr: person.startnr, name: person.name, first_name: person.first_name });
  try {
    localStorage.setItem(KEY, JSON.stringify(rest));
  } catch {
    // private mode: following lasts for this page only
  }
}
