// GET of /api/v1 answers. The browser revalidates with the ETag every time.

// Where the view is served: "" for /live/, the mount for MOUNT/live/; the API is beside it.
export const root = location.pathname.replace(/\/live(\/.*)?$/, "");
export const apiBase = root + "/api/v1";
export class ApiError extends Error {
  constructor(message, status) {
    super(message);
    this.status = status;
  }
}

export async function get(path) {
  let response;
  try {
    response = await fetch(apiBase + path, { cache: "no-cache", headers: { Accept: "application/json" } });
  } catch {
    throw new ApiError("Keine Verbindung zum Server.", 0);
  }
  let body = null;
  try {
    body = await response.json();
  } catch {
    // answered below
  }
  if (!response.ok) throw new ApiError(body?.error || `Fehler ${response.status} vom Server.`, response.status);
  if (!body) throw new ApiError("Unlesbare Antwort vom Server.", response.status);
  return body;
}
