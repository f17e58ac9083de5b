#!/usr/bin/env bash
# The T-SQL check: collects every text the agent sends to SQL Server and parses it with the
# T-SQL grammar. The npm packages, the generated parser and the texts stay in the build folder.
#   tsql-check.sh <build folder> <tsql_statements executable> [<grammar folder>]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$1
collector=$2
grammar=${3:-$here/grammar}
mkdir -p "$work"

command -v node >/dev/null && command -v npm >/dev/null ||
    { echo "tsql-check: node and npm are needed (bash scripts/setup.sh installs them)" >&2; exit 1; }
if [ ! -d "$work/node_modules" ] || ! cmp -s "$here/package-lock.json" "$work/package-lock.json"; then
    cp "$here/package.json" "$here/package-lock.json" "$work/"
    (cd "$work" && npm ci --no-audit --no-fund --loglevel=error)
fi
# The scripts run from the build folder, where their packages are.
cp "$here/generate.mjs" "$here/check.mjs" "$work/"
node "$work/generate.mjs" "$grammar" "$work/parser"
"$collector" "$work/texts.json"
node "$work/check.mjs" "$work/parser" "$work/texts.json" | tee "$work/check.log"
