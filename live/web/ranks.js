// Entries with the key that follows them from state to state: the start number, for teams the
// name (a repeated name gets a mark).
export function keyed(entries, team) {
  const seen = new Set();
  return entries.map((entry) => {
    let key = team ? "t:" + entry.name : "s:" + entry.startnr;
    while (seen.has(key)) key += "'";
    seen.add(key);
    return [key, entry];
  });
}

// The ranks of a list as this tab showed them in the state before the current one
// (sessionStorage), for the arrows of rank changes.
export function ranksBefore(listId, state, ranks) {
  const key = "ringolan.ranks." + listId;
  let saved = null;
  try {
    saved = JSON.parse(sessionStorage.getItem(key));
  } catch {
    // none saved
  }
  const before = (saved && (saved.state === state ? saved.before : saved.ranks)) || {};
  try {
    sessionStorage.setItem(key, JSON.stringify({ state, ranks, before }));
  } catch {
    // storage full or off: arrows only for this page's life
  }
  return before;
}

// "up", "down" or "" for a rank against the one before.
export function movement(before, rank) {
  if (before == null || rank == null || before === rank) return "";
  return rank < before ? "up" : "down";
}
