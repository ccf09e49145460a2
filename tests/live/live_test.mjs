// The live view in headless Chromium against ringolan-server on a demo competition that is
// rewritten while the page is open. Usage: node live_test.mjs SERVER MKDEMO
import { join } from "node:path";
import { api, demo, launch, puppeteerOrSkip, scratch, serve } from "./harness.mjs";

const [serverBin, mkdemo] = process.argv.slice(2);
const puppeteer = await puppeteerOrSkip();
const db = join(scratch(), "live.mdb");
demo(mkdemo, db);
let server = await serve(serverBin, db);
const browser = await launch(puppeteer);
const errors = [];
let passed = 0, failed = 0;

async function check(name, body) {
  try {
    await body();
    passed++;
    console.log("ok   " + name);
  } catch (error) {
    failed++;
    console.log("FAIL " + name + "\n     " + String(error?.stack || error).split("\n").slice(0, 3).join("\n     "));
  }
}
function expect(condition, message) {
  if (!condition) throw new Error(message);
}
const wait = (page, fn, ...args) => page.waitForFunction(fn, { timeout: 15000 }, ...args);

async function phone() {
  const page = await browser.newPage();
  page.on("pageerror", (e) => errors.push(e.message));
  await page.setViewport({ width: 360, height: 740, deviceScaleFactor: 2, isMobile: true, hasTouch: true });
  return page;
}

const lists = (await api(server.base, "/lists")).lists;
const list = lists.find((l) => !l.team && l.entries >= 20);
const other = lists.find((l) => l.id !== list.id);
const before = await api(server.base, "/lists/" + list.id);
const page = await phone();

await check("first view (overview) stays under 100 KB transferred", async () => {
  const cdp = await page.createCDPSession();
  await cdp.send("Network.enable");
  let bytes = 0;
  cdp.on("Network.loadingFinished", (e) => { bytes += e.encodedDataLength; });
  await page.goto(server.base + "/live/", { waitUntil: "networkidle2" });
  await wait(page, () => document.querySelectorAll(".lists a").length > 0);
  console.log(`     first view: ${bytes} bytes`);
  expect(bytes > 0 && bytes < 100 * 1024, `${bytes} bytes`);
  await cdp.detach();
});

await check("the search finds a shooter by start number", async () => {
  const nr = String(before.entries[1].startnr);
  await page.type(".search input", nr);
  await wait(page, (n) => [...document.querySelectorAll(".results a.row")].some((a) => a.hash === "#/schuetze/" + n),
    nr);
});

await check("a list shows its entries in rank order", async () => {
  await page.goto(server.base + "/live/#/liste/" + list.id, { waitUntil: "domcontentloaded" });
  await wait(page, (n) => document.querySelectorAll(".ranking > li").length === n, before.entries.length);
  const names = await page.$$eval(".ranking .who strong", (els) => els.map((e) => e.textContent));
  const [top, bottom] = [before.entries[0], before.entries.at(-1)];
  expect(names[0] === `${top.first_name} ${top.name}`, "first row: " + names[0]);
  expect(names.at(-1) === `${bottom.first_name} ${bottom.name}`, "last row: " + names.at(-1));
});

const first = before.entries[0];
const shooter = await api(server.base, "/shooters/" + first.startnr);

await check("tapping a row opens the shooter with every shot drawn", async () => {
  await page.tap(".ranking a.row");
  await wait(page, (nr) => location.hash === "#/schuetze/" + nr && document.querySelector("svg.target"), first.startnr);
  const drawn = await page.$$eval("svg.target", (svgs) => svgs.map((s) => s.querySelectorAll(".shot").length));
  expect(drawn.length === shooter.targets.length, `${drawn.length} targets drawn`);
  expect(drawn.join() === shooter.targets.map((t) => t.shots.length).join(), "shots per target: " + drawn.join());
  const last = await page.$$eval("svg.target", (svgs) =>
    svgs.map((s) => s.querySelector(".shot.last text")?.textContent));
  const wanted = shooter.targets.map((t) => (t.shots.length ? String(Math.max(...t.shots.map((p) => p.n))) : undefined));
  expect(last.join() === wanted.join(), "last shots marked: " + last.join());
});

await check("target faces have the rings of the discipline", async () => {
  const radii = await page.$$eval("svg.target", (svgs) => svgs.map((s) =>
    [...s.querySelectorAll("circle.ring")].map((c) => Number(c.getAttribute("r")))));
  shooter.targets.forEach((t, i) => {
    const [ring1, ring10] = t.face === "air_pistol" ? [77.75, 5.75] : [22.75, 0.25];
    expect(Math.max(...radii[i]) === ring1 && radii[i].includes(ring10), `${t.face}: ${radii[i].join(" ")}`);
  });
});

await check("the club link leads to the club with this shooter", async () => {
  await page.tap(".shooter .sub a");
  await wait(page, (nr) => location.hash.startsWith("#/verein/") &&
    [...document.querySelectorAll(".club a.row")].some((a) => a.hash === "#/schuetze/" + nr), first.startnr);
  expect(await page.$eval(".club h1", (e) => e.textContent) === shooter.club, "club heading");
  await page.goBack();
  await wait(page, () => document.querySelector(".star"));
});

await check("a followed shooter is listed under Meine Schützen", async () => {
  await page.tap(".star");
  await page.evaluate(() => { location.hash = "#/"; });
  await wait(page, (nr) => [...document.querySelectorAll(".overview a.row")].some((a) => a.hash === "#/schuetze/" + nr),
    first.startnr);
});

await check("a new state of the file shows in the open list without a reload", async () => {
  await page.evaluate((id) => { location.hash = "#/liste/" + id; }, list.id);
  await wait(page, (n) => document.querySelectorAll(".ranking > li").length === n, before.entries.length);
  await page.evaluate(() => { window.notReloaded = true; scrollTo(0, 900); });
  demo(mkdemo, db, 2);
  await wait(page, () => document.querySelector("h1").textContent.includes("~R2~"));
  const after = await api(server.base, "/lists/" + list.id);
  const seen = await page.evaluate(() => ({
    notReloaded: window.notReloaded,
    navigations: performance.getEntriesByType("navigation").length,
    y: scrollY,
    firstName: document.querySelector(".ranking .who strong").textContent,
    moved: document.querySelectorAll(".ranking .move").length,
    flashed: document.querySelectorAll(".ranking .changed").length,
  }));
  expect(seen.notReloaded === true && seen.navigations === 1, "the page was loaded again");
  expect(seen.y === 900, "scroll position " + seen.y);
  expect(seen.firstName === `${after.entries[0].first_name} ${after.entries[0].name}`, "first row " + seen.firstName);
  const rankOf = new Map(before.entries.map((e) => [e.startnr, e.rank]));
  const moves = after.entries.filter((e) => rankOf.has(e.startnr) && rankOf.get(e.startnr) !== e.rank).length;
  expect(moves > 0 && seen.moved === moves, `${seen.moved} arrows for ${moves} rank changes`);
  expect(seen.flashed > 0, "no changed row highlighted");
});

await check("the hall screen turns to the next list", async () => {
  const hall = await browser.newPage();
  hall.on("pageerror", (e) => errors.push(e.message));
  await hall.setViewport({ width: 1280, height: 720 });
  await hall.goto(`${server.base}/live/screen?lists=${list.id},${other.id}&seconds=2`);
  await wait(hall, (id) => document.body.dataset.list === String(id), list.id);
  const t0 = Date.now();
  await wait(hall, (id) => document.body.dataset.list === String(id), other.id);
  await wait(hall, (id) => document.body.dataset.list === String(id), list.id);
  expect(Date.now() - t0 < 8000, `a turn took ${Date.now() - t0} ms`);
  expect(await hall.$eval(".qr img", (img) => img.naturalWidth > 0), "no QR code");
  await hall.close();
});

await check("a lost connection shows the banner until the server is back", async () => {
  await wait(page, () => document.getElementById("banner").hidden);
  const port = server.port;
  await server.stop();
  await wait(page, () => !document.getElementById("banner").hidden);
  server = await serve(serverBin, db, port);
  await wait(page, () => document.getElementById("banner").hidden);
});

await check("no script errors", async () => expect(errors.length === 0, errors.join("; ")));

await browser.close();
await server.stop();
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed ? 1 : 0);
