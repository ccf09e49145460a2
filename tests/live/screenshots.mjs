// Pictures of the live view for the README, from the demo competition:
//   node tests/live/screenshots.mjs [BUILD_DIR]   (default: build)
// writes docs/screenshots/live-phone-list.png, live-phone-shooter.png (360×740 at twice the
// pixels) and live-hall-screen.png (1920×1080). The file is rewritten once while the list is
// open, so that its rank arrows show.
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { api, demo, launch, puppeteerOrSkip, scratch, serve } from "./harness.mjs";

const root = resolve(dirname(fileURLToPath(import.meta.url)), "../..");
const build = resolve(process.argv[2] || join(root, "build"));
const out = join(root, "docs/screenshots");
const mkdemo = join(build, "tools/mkdemo/ringolan-mkdemo");
const puppeteer = await puppeteerOrSkip();
const db = join(scratch(), "live.mdb");
const pause = (ms) => new Promise((r) => setTimeout(r, ms));

demo(mkdemo, db, 2);
const server = await serve(join(build, "app/ringolan-server"), db);
const browser = await launch(puppeteer);
const page = await browser.newPage();
await page.setViewport({ width: 360, height: 740, deviceScaleFactor: 2, isMobile: true, hasTouch: true });

const all = (await api(server.base, "/lists")).lists;
const singles = all.filter((l) => !l.team && l.entries >= 10);
const list = singles.find((l) => l.title.startsWith("Luftgewehr 40")) || singles[0];
await page.goto(`${server.base}/live/#/liste/${list.id}`);
await page.waitForSelector(".ranking > li");
demo(mkdemo, db, 0);
await page.waitForFunction(() => !document.querySelector("h1").textContent.includes("~R"), { timeout: 15000 });
await pause(3000);  // the highlight of changed rows fades
await page.screenshot({ path: join(out, "live-phone-list.png") });

// Of the first ten, the shooter with the fewest places, so that a target shows on the first screen.
const top = (await api(server.base, "/lists/" + list.id)).entries.slice(0, 10);
const places = await Promise.all(top.map(async (e) => (await api(server.base, "/shooters/" + e.startnr)).ranks.length));
const pick = top[places.indexOf(Math.min(...places))];
await page.evaluate((nr) => { location.hash = "#/schuetze/" + nr; }, pick.startnr);
await page.waitForSelector("svg.target");
await page.tap(".star");
await pause(300);
await page.screenshot({ path: join(out, "live-phone-shooter.png") });

const hall = await browser.newPage();
await hall.setViewport({ width: 1920, height: 1080 });
const turn = [list, singles.find((l) => l !== list), all.find((l) => l.team)].filter(Boolean);
await hall.goto(`${server.base}/live/screen?lists=${turn.map((l) => l.id).join(",")}&seconds=30`);
await hall.waitForSelector("tbody tr");
await hall.waitForFunction(() => document.querySelector(".qr img").complete);
await pause(1500);
await hall.screenshot({ path: join(out, "live-hall-screen.png") });

await browser.close();
await server.stop();
console.log("written: live-phone-list.png, live-phone-shooter.png, live-hall-screen.png in " + out);
