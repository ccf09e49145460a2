// What the browser test and the screenshots share: a demo competition, the server on it,
// and headless Chromium. Exit code 77 tells CTest that the test was skipped.
import { execFileSync, spawn } from "node:child_process";
import { existsSync, mkdtempSync, rmSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";

export const SKIP = 77;
const CHROMIUM = process.env.CHROMIUM || "/usr/bin/chromium";

// puppeteer-core, or a skip when the browser or the npm packages are missing.
export async function puppeteerOrSkip() {
  if (!existsSync(CHROMIUM)) {
    console.log(`SKIP: no browser at ${CHROMIUM} (apt-get install chromium)`);
    process.exit(SKIP);
  }
  const require = createRequire(import.meta.url);
  try {
    require.resolve("puppeteer-core");
  } catch {
    console.log("SKIP: puppeteer-core is not installed (npm ci in tests/live)");
    process.exit(SKIP);
  }
  return (await import("puppeteer-core")).default;
}

export function launch(puppeteer) {
  return puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--font-render-hinting=none", "--lang=de-DE"],
  });
}

export function scratch() {
  const dir = mkdtempSync(join(tmpdir(), "ringolan-live-"));
  process.on("exit", () => rmSync(dir, { recursive: true, force: true }));
  return dir;
}

export function demo(mkdemo, file, round = 0) {
  execFileSync(mkdemo, ["--shooters", "300", "--seed", "1", "--round", String(round), "-o", file], { stdio: "pipe" });
}

// Starts the server on the file (port 0: a free one; no settings file) and resolves when it
// prints its address.
export function serve(server, db, port = 0) {
  const args = ["--db", db, "--ini", join(dirname(db), "none.ini"), "--port", String(port), "--listen", "127.0.0.1"];
  const child = spawn(server, args, {
    stdio: ["ignore", "pipe", "inherit"],
  });
  process.on("exit", () => child.kill("SIGKILL"));
  return new Promise((resolve, reject) => {
    let out = "";
    const timer = setTimeout(() => reject(new Error("the server printed no address: " + out)), 20000);
    child.on("exit", (code) => reject(new Error(`the server ended with ${code}: ${out}`)));
    child.stdout.on("data", (chunk) => {
      out += chunk;
      const m = out.match(/Listening on (http:\/\/[^/\s]+)\//);
      if (!m) return;
      clearTimeout(timer);
      resolve({
        base: m[1],
        port: Number(new URL(m[1]).port),
        stop: () => new Promise((done) => {
          if (child.exitCode != null) return done();
          child.removeAllListeners("exit");
          child.on("exit", done);
          child.kill("SIGTERM");
        }),
      });
    });
  });
}

export async function api(base, path) {
  const response = await fetch(base + "/api/v1" + path);
  if (!response.ok) throw new Error(`${path}: ${response.status} ${await response.text()}`);
  return response.json();
}
