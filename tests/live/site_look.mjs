// The live view on the publishing site, in headless Chromium: uploads the demo competition to a
// local ringolan-site (account "demo"), opens /a/demo/live/ and a result list, checks that
// they show the uploaded results and that every request stayed below /a/demo/, uploads again and
// waits for the view to take the new state in, and writes screenshots.
//   node tests/live/site_look.mjs [BUILD_DIR] [OUT_DIR]   (defaults: build, the system's temp folder)
import { execFileSync, spawn } from "node:child_process";
import { writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { demo, launch, puppeteerOrSkip, scratch } from "./harness.mjs";

const root = resolve(dirname(fileURLToPath(import.meta.url)), "../..");
const build = resolve(process.argv[2] || join(root, "build"));
const out = resolve(process.argv[3] || tmpdir());
const site = join(build, "site/ringolan-site");
const puppeteer = await puppeteerOrSkip();
const dir = scratch();
const db = join(dir, "demo.mdb");
demo(join(build, "tools/mkdemo/ringolan-mkdemo"), db);

const hash = execFileSync(site, ["--hash-password", "--iterations", "1000"], { input: "demo\n" }).toString().trim();
writeFileSync(join(dir, "accounts.json"), JSON.stringify({ accounts: [{ id: "demo", password: hash }] }));
writeFileSync(join(dir, "pw"), "demo\n");
const child = spawn(site, ["--accounts", join(dir, "accounts.json"), "--data", join(dir, "data"), "--port", "0",
  "--listen", "127.0.0.1"], { stdio: ["ignore", "pipe", "inherit"] });
process.on("exit", () => child.kill("SIGKILL"));
const base = await new Promise((done, fail) => {
  let text = "";
  child.stdout.on("data", (chunk) => {
    text += chunk;
    const m = text.match(/listening on (http:\/\/[^/\s]+)\//);
    if (m) done(m[1]);
  });
  child.on("exit", (code) => fail(new Error(`ringolan-site ended with ${code}`)));
});
const upload = () => execFileSync(join(build, "upload/ringolan-upload"), ["--db", db, "--url", base + "/", "--id", "demo",
  "--password-file", join(dir, "pw"), "--work-dir", dir], { stdio: "pipe" });
upload();

const browser = await launch(puppeteer);
const page = await browser.newPage();
await page.setViewport({ width: 360, height: 740, deviceScaleFactor: 2, isMobile: true, hasTouch: true });
const outside = [];
page.on("request", (r) => {
  const path = new URL(r.url()).pathname;
  if (!r.url().startsWith("data:") && !path.startsWith("/a/demo/")) outside.push(path);
});
await page.goto(base + "/a/demo/live/", { waitUntil: "networkidle2" });
await page.waitForSelector("main a[href^='#/liste/']");
const overview = await page.$eval("main", (m) => m.innerText);
await page.screenshot({ path: join(out, "site-live-overview.png") });

const lists = (await (await fetch(base + "/a/demo/api/v1/lists")).json()).lists;
const list = lists.find((l) => !l.team && l.entries >= 10);
await page.goto(`${base}/a/demo/live/#/liste/${list.id}`);
await page.waitForSelector(".ranking > li");
const rows = await page.$$eval(".ranking > li", (li) => li.length);
await page.screenshot({ path: join(out, "site-live-list.png") });

// A new upload is a new state; the view reloads the list without being asked.
const before = await page.evaluate(() => performance.getEntriesByType("resource").length);
upload();
await page.waitForFunction((n) => performance.getEntriesByType("resource").length > n, { timeout: 15000 }, before);

await browser.close();
const problems = [];
if (!overview.includes(list.title)) problems.push("the overview does not name the list " + list.title);
if (rows !== list.entries) problems.push(`the list shows ${rows} rows, the API has ${list.entries}`);
if (outside.length) problems.push("requests outside /a/demo/: " + [...new Set(outside)].join(", "));
console.log(`list "${list.title}": ${rows} rows; screenshots site-live-overview.png, site-live-list.png in ${out}`);
if (problems.length) {
  console.log("FAILED: " + problems.join("; "));
  process.exit(1);
}
