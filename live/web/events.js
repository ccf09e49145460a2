// The one event stream of a page. onState(n) gets every state number the server announces
// (on connect too); while the connection is down the banner shows. EventSource reconnects by
// itself after a dropped stream; after a refused one (closed for good) a new one is opened.
import { apiBase } from "./api.js";

const RETRY_MS = 5000;

export function listen({ banner, onState, onReconnect }) {
  let lost = false;
  let source = null;

  const down = () => {
    if (!lost) {
      lost = true;
      banner.hidden = false;
    }
  };

  const open = () => {
    source = new EventSource(apiBase + "/events");
    source.addEventListener("open", () => {
      if (!lost) return;
      lost = false;
      banner.hidden = true;
      onReconnect();
    });
    source.addEventListener("error", () => {
      down();
      if (source.readyState === EventSource.CLOSED) setTimeout(open, RETRY_MS);
    });
    source.addEventListener("state", (event) => {
      try {
        const { state } = JSON.parse(event.data);
        if (state != null) onState(state);
      } catch {
        // not ours
      }
    });
  };
  open();
}
