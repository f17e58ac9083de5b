// The T-SQL check: parses every text the agent sends to SQL Server (collected by tsql_statements)
// with the public T-SQL grammar, and holds each to the rules SQL Server and a crib database with
// a case-sensitive collation hold it to. First it proves, with texts that must be refused, that
// every rule does refuse. Prints each failure with its text and "N passed, M failed".
//
//   node check.mjs <parser folder> <texts.json>

import { BaseErrorListener, CharStream, CommonTokenStream, ParserRuleContext, PredictionMode, Token } from "antlr4ng";
import fs from "node:fs";
import path from "node:path";
import { pathToFileURL } from "node:url";

const [parserDir, textsFile] = process.argv.slice(2);
if (!parserDir || !textsFile) {
    console.error("usage: node check.mjs <parser folder> <texts.json>");
    process.exit(2);
}
const { TSqlLexer } = await import(pathToFileURL(path.join(parserDir, "TSqlLexer.js")).href);
const { TSqlParser } = await import(pathToFileURL(path.join(parserDir, "TSqlParser.js")).href);
const input = JSON.parse(fs.readFileSync(textsFile, "utf8"));

// ---------------------------------------------------------------------------------------------
// Parsing

class Collect extends BaseErrorListener {
    errors = [];
    syntaxError(recognizer, offendingSymbol, line, column, message) {
        const short = message.length > 160 ? message.slice(0, 160) + "..." : message;
        this.errors.push(`line ${line}:${column} ${short}`);
    }
}

/// "?" markers, which the grammar does not know, as the server's own names for them.
function withNamedMarkers(text) {
    let out = "";
    let n = 0;
    for (let i = 0; i < text.length; ++i) {
        const c = text[i];
        const close = { "'": "'", "[": "]", '"': '"' }[c];
        if (close) {
            let j = i + 1;
            for (; j < text.length; ++j) {
                if (text[j] === close) {
                    if (text[j + 1] === close && close !== '"') {
                        ++j;
                        continue;
                    }
                    break;
                }
            }
            out += text.slice(i, j + 1);
            i = j;
        } else if (c === "-" && text[i + 1] === "-") {
            const end = text.indexOf("\n", i);
            out += end < 0 ? text.slice(i) : text.slice(i, end);
            i = end < 0 ? text.length : end - 1;
        } else if (c === "?") {
            out += `@P${++n}`;
        } else {
            out += c;
        }
    }
    return out;
}

function parse(text) {
    const run = (mode) => {
        const errors = new Collect();
        const lexer = new TSqlLexer(CharStream.fromString(text));
        lexer.removeErrorListeners();
        lexer.addErrorListener(errors);
        const tokens = new CommonTokenStream(lexer);
        const parser = new TSqlParser(tokens);
        parser.removeErrorListeners();
        parser.addErrorListener(errors);
        parser.interpreter.predictionMode = mode;
        const tree = parser.tsql_file();
        return { tree, tokens: tokens.getTokens(), errors: errors.errors, parser };
    };
    // The faster prediction first; only a text it refuses is read again with the full one.
    const fast = run(PredictionMode.SLL);
    return fast.errors.length === 0 ? fast : run(PredictionMode.LL);
}

const ruleNames = TSqlParser.ruleNames;
const ruleOf = (ctx) => ruleNames[ctx.ruleIndex];

function* walk(node) {
    if (!(node instanceof ParserRuleContext))
        return;
    yield node;
    for (const child of node.children ?? [])
        yield* walk(child);
}

function ancestor(ctx, name) {
    for (let p = ctx.parent; p; p = p.parent) {
        if (ruleOf(p) === name)
            return p;
    }
    return null;
}

const textOf = (ctx) => ctx.start.tokenSource.inputStream.getTextFromRange(ctx.start.start, ctx.stop.stop);
const symbolic = (token) => TSqlLexer.symbolicNames[token.type] ?? "";
const unbracketed = (name) => (name.startsWith("[") ? name.slice(1, -1).replaceAll("]]", "]") : name);

// ---------------------------------------------------------------------------------------------
// What the rules know of the crib

const names = new Map(); // lower case -> the spellings the schema has
for (const [name, kind] of Object.entries(input.names)) {
    const lower = name.toLowerCase();
    if (!names.has(lower))
        names.set(lower, new Map());
    names.get(lower).set(name, kind);
}
const derived = input.derivedNames ?? [];
const valueNumbers = new Set((input.valueNumbers ?? []).map(String));
const valueMark = input.valueMark ?? "\u0416";
const systemTables = /\b(sys\s*\.\s*objects|syscolumns|sysobjects)\b/i;

// ---------------------------------------------------------------------------------------------
// The rules. Each takes the parsed text and gives its faults.

const rules = {
    syntax(p) {
        return p.errors.map((e) => `not T-SQL: ${e}`);
    },

    // SQL Server takes CREATE PROCEDURE, TRIGGER, VIEW and FUNCTION only as the first and only
    // statement of a batch (error 111), and GO is a separator of the tools, not of the server.
    batch(p, text) {
        const faults = [];
        const batches = p.tree.batch();
        // The parser reads a GO after a statement as a column alias: look for it on its own line too.
        if ([...walk(p.tree)].some((n) => ruleOf(n) === "go_statement") || /^\s*GO\s*\d*\s*$/im.test(text))
            faults.push("GO is no statement the server takes");
        const creates = [...walk(p.tree)].filter((n) =>
            ["create_or_alter_procedure", "create_or_alter_trigger", "create_view", "create_or_alter_function"].includes(
                ruleOf(n)));
        if (creates.length > 0 && (batches.length !== 1 || !batches[0].batch_level_statement()))
            faults.push("CREATE PROCEDURE, TRIGGER, VIEW or FUNCTION must be alone in its batch");
        return faults;
    },

    // Under a case-sensitive collation a name must be spelt as the crib schema spells it.
    spelling(p) {
        const faults = [];
        for (const node of walk(p.tree)) {
            if (ruleOf(node) !== "id_")
                continue;
            const query = ancestor(node, "query_specification");
            if (query && systemTables.test(textOf(query)))
                continue;
            const written = unbracketed(node.getText());
            const spellings = names.get(written.toLowerCase());
            if (spellings && !spellings.has(written))
                faults.push(`"${written}" is spelt ${[...spellings.keys()].map((s) => `"${s}"`).join(" or ")} in the crib schema`);
        }
        return faults;
    },

    // A name taken from a database's schema needs brackets, with "]" doubled: it may be a reserved
    // word, hold a blank or a bracket.
    brackets(p, text) {
        const faults = [];
        for (const name of derived) {
            if (/^\w+$/.test(name)) {
                for (const token of p.tokens) {
                    if (token.channel === Token.DEFAULT_CHANNEL && symbolic(token) !== "SQUARE_BRACKET_ID"
                        && token.text?.toLowerCase() === name.toLowerCase())
                        faults.push(`the name ${name} is not in brackets`);
                }
                continue;
            }
            const rest = text.split(`[${name.replaceAll("]", "]]")}]`).join("");
            if (rest.includes(name.replace(/\]$/, "")))
                faults.push(`the name "${name}" is not in brackets with "]" doubled`);
        }
        return faults;
    },

    // Keys and values go as bound parameters: a literal that holds one was written into the text.
    // A text literal without N'' loses every character outside the server's code page.
    values(p) {
        const faults = [];
        for (const token of p.tokens) {
            const type = symbolic(token);
            if (type === "STRING") {
                const body = token.text.replace(/^N/, "").slice(1, -1).replaceAll("''", "'");
                const value = body.includes(valueMark) || valueNumbers.has(body)
                    || /^\d{4}-\d\d-\d\d([T ]\d\d:\d\d(:\d\d(\.\d+)?)?)?$/.test(body);
                if (value)
                    faults.push(`the value ${token.text} is written into the text`);
                else if (!token.text.startsWith("N") && /[^\x00-\x7f]/.test(body))
                    faults.push(`the literal ${token.text} has no N prefix`);
            } else if (type === "DECIMAL" && valueNumbers.has(token.text)) {
                faults.push(`the value ${token.text} is written into the text`);
            }
        }
        return faults;
    },

    // A NULL key written as '' finds nothing; on an integer or date-time column '' is 0 or 1900-01-01.
    nullKeys(p, text) {
        const faults = [];
        const tokens = p.tokens.filter((t) => t.channel === Token.DEFAULT_CHANNEL);
        for (let i = 2; i < tokens.length; ++i) {
            if (tokens[i].text !== "''" || tokens[i - 1].text !== "=")
                continue;
            const left = tokens[i - 2];
            if (symbolic(left) === "LOCAL_ID")
                continue;
            const column = unbracketed(left.text).replace(/[.*+?^${}()|[\]\\]/g, "\\$&");
            const nullSafe = new RegExp(`\\[?${column}\\]?\\s+IS\\s+NULL`, "i").test(text);
            if (!nullSafe)
                faults.push(`${left.text} = '' matches no NULL key`);
        }
        return faults;
    },

    // NULL <> 'JAM' is not true: a variable that may be NULL, compared with <>, goes the way of the
    // value it is compared with (a transaction without an employee moved no stock).
    nullUnequal(p) {
        const faults = [];
        for (const node of walk(p.tree)) {
            const op = ruleOf(node) === "predicate" ? node.comparison_operator()?.getText() : null;
            if (op !== "<>" && op !== "!=")
                continue;
            for (const side of node.expression().map((e) => e.getText())) {
                if (/@\w/.test(side) && !/^(ISNULL|COALESCE)\(/i.test(side))
                    faults.push(`${node.getText()} is not true when ${side} is NULL (no ISNULL or COALESCE)`);
            }
        }
        return faults;
    },

    // A batch that switches NOCOUNT on leaves it on for the pooled connection's later statements,
    // whose row counts the client layer reads. Inside a procedure the server restores it.
    nocount(p) {
        if (p.tree.batch().some((b) => b.batch_level_statement()))
            return [];
        let on = false;
        for (const node of walk(p.tree)) {
            if (ruleOf(node) === "set_special" && /NOCOUNT/i.test(node.getText()))
                on = /ON$/i.test(node.getText().replace(/;$/, ""));
        }
        return on ? ["SET NOCOUNT ON is not undone at the end of the batch"] : [];
    },

    // A procedure that opens a transaction must undo all of it when any statement fails: without
    // XACT_ABORT or a TRY/CATCH it commits what did not fail. Its CATCH must roll back, commit
    // nothing and then raise, or the caller takes a stock move that did not happen for done.
    allOrNothing(p) {
        const faults = [];
        for (const node of walk(p.tree)) {
            if (ruleOf(node) !== "create_or_alter_procedure" || !/\bBEGIN\s+TRAN/i.test(textOf(node)))
                continue;
            const tries = [...walk(node)].filter((n) => ruleOf(n) === "try_catch_statement");
            if (tries.length === 0 && !/\bSET\s+XACT_ABORT\s+ON\b/i.test(textOf(node)))
                faults.push("the procedure's transaction commits what did not fail (no XACT_ABORT ON, no TRY/CATCH)");
            for (const t of tries) {
                const at = t.children.findIndex((c) => !(c instanceof ParserRuleContext) && /^CATCH$/i.test(c.getText()));
                const steps = t.children.slice(at + 1).filter((c) => c instanceof ParserRuleContext).flatMap((c) =>
                    [...walk(c)].map((n) => {
                        const rule = ruleOf(n);
                        if (rule === "raiseerror_statement" || rule === "throw_statement")
                            return "raise";
                        return rule === "transaction_statement" ? n.getText().match(/^(COMMIT|ROLLBACK)/i)?.[1].toUpperCase() : null;
                    }).filter(Boolean));
                const rollback = steps.indexOf("ROLLBACK");
                if (steps.includes("COMMIT"))
                    faults.push("the CATCH block commits a transaction that failed");
                if (rollback < 0)
                    faults.push("the CATCH block does not roll back");
                else if (!steps.slice(rollback + 1).includes("raise"))
                    faults.push("the CATCH block does not raise the failure after rolling back");
            }
        }
        return faults;
    },

    // SELECT @x = ... FROM deleted keeps one row of a statement that deleted several.
    triggerRows(p) {
        const faults = [];
        for (const node of walk(p.tree)) {
            if (ruleOf(node) !== "query_specification" || !ancestor(node, "create_or_alter_trigger"))
                continue;
            const assigns = node.select_list().select_list_elem().some((e) => e.LOCAL_ID());
            if (assigns && /\bFROM\s+(deleted|inserted)\b/i.test(textOf(node)))
                faults.push("the trigger reads one row of deleted/inserted into variables");
        }
        return faults;
    },

    // "FROM T (NOLOCK)" is the deprecated form of a table hint.
    tableHints(p) {
        return [...walk(p.tree)].filter((n) => ruleOf(n) === "deprecated_table_hint").map((n) =>
            `the table hint ${n.getText()} needs WITH`);
    },
};

function check(text) {
    const p = parse(withNamedMarkers(text));
    const faults = [];
    for (const [name, rule] of Object.entries(rules)) {
        if (name !== "syntax" && p.errors.length > 0 && ["batch", "nullUnequal", "nocount", "allOrNothing", "triggerRows", "tableHints"].includes(name))
            continue;
        for (const fault of rule(p, text))
            faults.push({ rule: name, fault });
    }
    return faults;
}

// ---------------------------------------------------------------------------------------------
// Texts every rule must refuse: a check whose parser took anything would pass every text.

const mustRefuse = [
    ["syntax", "Select * form [Bin] where [MyNo] = ?"],
    ["syntax", "Select * from [Bin] where"],
    ["syntax", "UPDATE [Bin] SET WHERE [MyNo] = ?"],
    ["syntax", "Select * from [Order Lines] as T where T.Key = ?"],
    ["batch", "SET NOCOUNT ON; CREATE PROCEDURE [dbo].[p] AS SELECT 1"],
    ["batch", "CREATE PROCEDURE [dbo].[p] AS SELECT 1\r\nGO"],
    ["spelling", "Select * from [BIN] where MyNo = ?"],
    ["spelling", "Update Mytran SET ASPProcessed = 1 where RecordId = ?"],
    ["brackets", "Select * from Order Lines where [Key] = ?"],
    ["values", `Select * from [Item] where [MyNo] = N'ITM-${valueMark}'`],
    ["values", "Select * from [Item] where [MyNo] = 'Ω'"],
    ["nullKeys", "Select * from [Bin] as T where T.Station = ''"],
    ["nullUnequal", "CREATE PROCEDURE [dbo].[p] @Emp varchar(100) AS IF UPPER(@Emp) <> 'JAM' UPDATE [Bin] SET [OnHand] = 1"],
    ["nocount", "SET NOCOUNT ON; EXEC [dbo].[p] @a = ?"],
    ["allOrNothing", "CREATE PROCEDURE [dbo].[p] AS BEGIN TRAN UPDATE [Bin] SET [OnHand] = 1 COMMIT TRAN"],
    // The procedure as it was: @@ERROR tells only whether the INSERT failed.
    ["allOrNothing", "CREATE PROCEDURE [dbo].[p] @Bin varchar(12) AS BEGIN BEGIN TRAN UPDATE Bin SET OnHand = 0 "
        + "WHERE (MyNo = @Bin) INSERT INTO MyTran (Bin) VALUES (@Bin) IF @@TRANCOUNT > 0 AND @@ERROR = 0 "
        + "BEGIN COMMIT TRAN RETURN 0 END ELSE BEGIN ROLLBACK TRAN RETURN 1 END END"],
    // A CATCH must undo the transaction and then raise: one that commits, or swallows the failure,
    // reports a stock move that did not happen as done.
    ["allOrNothing", "CREATE PROCEDURE [dbo].[p] AS SET XACT_ABORT ON BEGIN TRY BEGIN TRAN UPDATE Bin SET OnHand = 1 "
        + "COMMIT TRAN END TRY BEGIN CATCH COMMIT TRAN RETURN 0 END CATCH"],
    ["allOrNothing", "CREATE PROCEDURE [dbo].[p] AS SET XACT_ABORT ON BEGIN TRY BEGIN TRAN UPDATE Bin SET OnHand = 1 "
        + "COMMIT TRAN END TRY BEGIN CATCH IF @@TRANCOUNT > 0 ROLLBACK TRAN RETURN 0 END CATCH"],
    ["allOrNothing", "CREATE PROCEDURE [dbo].[p] AS BEGIN TRY BEGIN TRAN UPDATE Bin SET OnHand = 1 COMMIT TRAN "
        + "END TRY BEGIN CATCH RAISERROR('failed', 16, 1) ROLLBACK TRAN END CATCH"],
    ["triggerRows",
        "CREATE TRIGGER [t] ON [dbo].[RoboMinMax] FOR DELETE AS DECLARE @r int SELECT @r = RecordID FROM deleted"],
    ["tableHints", "Select [OnHand] from [Bin] (NOLOCK) where [MyNo] = ?"],
];

let proofFailures = 0;
for (const [rule, text] of mustRefuse) {
    if (!check(text).some((f) => f.rule === rule)) {
        console.log(`NOT REFUSED [${rule}]: ${text}`);
        ++proofFailures;
    }
}
console.log(`refusal proofs: ${mustRefuse.length - proofFailures} of ${mustRefuse.length} refused`);

// ---------------------------------------------------------------------------------------------
// Texts that must be among those checked: a collection that lost them would pass without them.

const mustBeChecked = [
    ["the transaction procedure's call batch", /^SET NOCOUNT ON; DECLARE @cribsync_rv int; EXEC @cribsync_rv = sp_CorvaneTran @TranNo = \?/],
    ["the transaction procedure", /^CREATE PROCEDURE \[dbo\]\.\[sp_CorvaneTran\]/],
    ["the local outbox procedure", /^CREATE PROCEDURE \[dbo\]\.\[sp_LocalSyncOutBox\]/],
    ["the delete trigger", /^CREATE TRIGGER \[DelRoboMinMax\]/],
    ["the delete history upgrade", /ALTER TABLE \[dbo\]\.\[DeleteHst\] ADD \[Key3\]/],
    ["the schema stamp", /FROM sys\.objects$/],
    ["a count of pending rows", /^Select count\(\*\) as Pending, max\(T\.\[\w+\]\) as Highest from \[\w+\] as T /],
    ["a later page of pending rows", /^Select TOP 1 \* from \[\w+\] as T where .* and \(T\.\[\w+\] > \?\) Order By/],
    ["a later page of transactions", /^Select TOP 1 \* from MyTran Where .* or RecordID > \?\) Order By ServerDateTime, RecordID$/],
    ["a page of transactions after one without a time", /^Select TOP 1 \* from MyTran .*\(ServerDateTime is not null or RecordID > \?\)/],
    ["a later page of the delete history", /^Select TOP 1 \* from DeleteHst\s+where .* and RecordID > \?\s+Order By RecordID/],
    ["a later page of the outbox", /^Select TOP 1 \* from Outbox\s+where .* and \(RecordID > \?\)\s+Order By RecordID/],
];
let missing = 0;
for (const [what, pattern] of mustBeChecked) {
    if (!input.texts.some(({ text }) => pattern.test(text))) {
        console.log(`MISSING: ${what} is not among the texts (${pattern})`);
        ++missing;
    }
}

// ---------------------------------------------------------------------------------------------

const started = Date.now();
let passed = 0;
let failed = 0;
const byRule = {};
for (const { target, origin, text } of input.texts) {
    const faults = check(text);
    if (faults.length === 0) {
        ++passed;
        continue;
    }
    ++failed;
    const distinct = [...new Set(faults.map((f) => `[${f.rule}] ${f.fault}`))];
    for (const f of new Set(faults.map((f) => f.rule)))
        byRule[f] = (byRule[f] ?? 0) + 1;
    console.log(`FAIL ${target} (${origin})`);
    for (const d of distinct)
        console.log(`  ${d}`);
    console.log(text.split(/\r?\n/).map((line) => `    | ${line}`).join("\n"));
}
const seconds = ((Date.now() - started) / 1000).toFixed(1);
if (failed > 0)
    console.log(`failures by rule: ${Object.entries(byRule).map(([r, n]) => `${r} ${n}`).join(", ")}`);
console.log(`${passed} passed, ${failed} failed (${input.texts.length} texts in ${seconds} s)`);
process.exit(failed > 0 || proofFailures > 0 || missing > 0 ? 1 : 0);
