// Prints every user table of a .mdb file as one JSON document, read with mdb-reader:
//   node dump.mjs FILE.mdb
//   {"tables":[{"name":..,"columns":[{"name":..,"type":..,"size":..}],"rows":[[...],...]}]}
// Tables in catalog order, columns in column-number order. Values, by mdb-reader type:
//   NULL -> null; boolean -> true/false; byte, integer, long -> number;
//   float, double -> number (JSON's shortest round-trip form; a float is widened exactly),
//     except NaN, Infinity, -Infinity and -0, which JSON cannot carry: strings "NaN", "Infinity",
//     "-Infinity", "-0";
//   currency, numeric, repid, datetimextended -> the decimal or text string mdb-reader gives;
//   bigint -> decimal string; datetime -> epoch milliseconds as mdb-reader computes them
//     (rounded to the millisecond), "Invalid Date" when out of range;
//   text, memo -> string (an unpaired UTF-16 surrogate becomes "?");
//   binary, ole -> lower-case hex string; complex -> array of {name, type, data (hex)}.
// Errors: message on stderr, exit code 1.
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const LONE_SURROGATE = /[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/g;

function number(v) {
    if (Number.isNaN(v)) return "NaN";
    if (v === Infinity) return "Infinity";
    if (v === -Infinity) return "-Infinity";
    if (Object.is(v, -0)) return "-0";
    return v;
}

function value(v, type) {
    if (v === null || v === undefined) return null;
    switch (type) {
        case "boolean":
            return v;
        case "byte":
        case "integer":
        case "long":
        case "float":
        case "double":
            return number(v);
        case "datetime": {
            const ms = v.getTime();
            return Number.isNaN(ms) ? "Invalid Date" : ms;
        }
        case "bigint":
            return v.toString();
        case "text":
        case "memo":
            return v.replace(LONE_SURROGATE, "?");
        case "binary":
        case "ole":
            return Buffer.from(v).toString("hex");
        case "complex":
            return v.map((a) => ({ name: a.name, type: a.type, data: Buffer.from(a.data).toString("hex") }));
        default:
            return typeof v === "string" ? v : String(v);
    }
}

function dump(path) {
    const reader = new MDBReader(readFileSync(path));
    const tables = [];
    for (const name of reader.getTableNames()) {
        const table = reader.getTable(name);
        const columns = table.getColumns();
        const rows = table.getData().map((row) => columns.map((c) => value(row[c.name], c.type)));
        tables.push({
            name,
            columns: columns.map((c) => ({ name: c.name, type: c.type, size: c.size })),
            rows,
        });
    }
    return { tables };
}

try {
    if (process.argv.length !== 3) throw new Error("usage: node dump.mjs FILE.mdb");
    process.stdout.write(JSON.stringify(dump(process.argv[2])) + "\n");
} catch (e) {
    process.stderr.write(`dump.mjs: ${e && e.message ? e.message : e}\n`);
    process.exitCode = 1;
}
