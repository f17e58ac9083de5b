// Generates the T-SQL parser from the grammar with antlr-ng and turns its TypeScript into
// JavaScript modules, in the build folder. Does nothing when the grammar and the tools are those
// of the parser already there.
//
//   node generate.mjs <grammar folder> <output folder>

import { execFileSync } from "node:child_process";
import { createHash } from "node:crypto";
import fs from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";
import ts from "typescript";

const [grammarDir, outDir] = process.argv.slice(2);
if (!grammarDir || !outDir) {
    console.error("usage: node generate.mjs <grammar folder> <output folder>");
    process.exit(2);
}
const here = path.dirname(fileURLToPath(import.meta.url));
const grammars = ["TSqlLexer.g4", "TSqlParser.g4"].map((g) => path.join(grammarDir, g));

const hash = createHash("sha256");
for (const file of [...grammars, path.join(here, "package-lock.json"), fileURLToPath(import.meta.url)])
    hash.update(fs.readFileSync(file));
const stamp = hash.digest("hex");
const stampFile = path.join(outDir, "stamp");
if (fs.existsSync(stampFile) && fs.readFileSync(stampFile, "utf8") === stamp)
    process.exit(0);

const started = Date.now();
fs.rmSync(outDir, { recursive: true, force: true });
fs.mkdirSync(outDir, { recursive: true });
const tool = path.join(here, "node_modules", "antlr-ng", "dist", "cli", "runner.js");
execFileSync(process.execPath, [tool, "-Dlanguage=TypeScript", "--generate-listener", "false", "-o", outDir, ...grammars],
    { stdio: "inherit" });
for (const name of ["TSqlLexer", "TSqlParser"]) {
    const source = fs.readFileSync(path.join(outDir, `${name}.ts`), "utf8");
    const js = ts.transpileModule(source, {
        compilerOptions: { module: ts.ModuleKind.ESNext, target: ts.ScriptTarget.ES2022 },
    });
    fs.writeFileSync(path.join(outDir, `${name}.js`), js.outputText);
}
fs.writeFileSync(stampFile, stamp);
console.log(`generated the T-SQL parser in ${((Date.now() - started) / 1000).toFixed(1)} s`);
