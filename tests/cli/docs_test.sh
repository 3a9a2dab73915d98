#!/usr/bin/env bash
# Runs the commands of README.md and docs/*.md as written, in order, in one empty folder, on the
# virtual headsets, so that the documents stay runnable:
#   docs_test.sh OBRINT-CLI SOURCE-DIR
# The documents' database commands name the services "line-owner" and "line" (--db service=...):
# here both are the test server's (OBRINT_TEST_PG, which ctest's fixture starts), in a database of
# their own, through a service file as a station's would be.
# A code block (lines indented four spaces) with a line that begins "obrint-cli " is run whole, as
# bash. Each obrint-cli command must end with status 0, or with N where its line (the last of a
# continued one) ends in a comment "# status N". The other blocks (builds, installs, Wine, cron,
# sample output) are not run.
set -uo pipefail
exe=$(realpath "$1")
source_dir=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

server=${OBRINT_TEST_PG:?the PostgreSQL test server (run through ctest)}
conninfo=$(cat "$server/conninfo")
psql "$conninfo" -qc "DROP DATABASE IF EXISTS obrint_docs WITH (FORCE)" \
  -c "CREATE DATABASE obrint_docs" || exit 1
for service in line-owner line; do
  echo "[$service]"
  tr ' ' '\n' <<<"$conninfo" | grep -v '^dbname='
  echo "dbname=obrint_docs"
done >"$work/pg_service.conf"
export PGSERVICEFILE=$work/pg_service.conf

# Each block as it stands in its document, each command line told the status it must end with.
{
  cat <<'EOF'
commands=0 failures=0 expected=0
obrint-cli() {
  local status
  timeout 60 "$OBRINT_CLI" "$@"
  status=$?
  commands=$((commands + 1))
  if [ "$status" -ne "$expected" ]; then
    echo "docs_test: FAIL at $where: obrint-cli $* ended with $status, not $expected" >&2
    failures=$((failures + 1))
  fi
  return "$status"
}
EOF
  for doc in "$source_dir/README.md" "$source_dir"/docs/*.md; do
    awk -v doc="${doc#"$source_dir"/}" '
      function flush() {
        if (runs) printf "where=%s\n%s", where, block
        block = ""; runs = 0
      }
      /^    / && (inblock || previous == "") {
        if (!inblock) where = doc ":" NR
        inblock = 1
        line = substr($0, 5)
        if (line ~ /^obrint-cli /) runs = 1
        # A command line: the status its comment gives (on a continued line, the last one).
        if (pending == "" && line ~ /^obrint-cli /) pending = line
        else if (pending != "") pending = pending "\n" line
        else block = block line "\n"
        if (pending != "" && line !~ /\\$/) {
          status = 0
          if (match(pending, /# status [0-9]+$/)) status = substr(pending, RSTART + 9)
          block = block "expected=" status "; " pending "\n"
          pending = ""
        }
        previous = $0
        next
      }
      { if (inblock) flush(); inblock = 0; previous = $0 }
      END { if (inblock) flush() }
    ' "$doc"
  done
  echo 'echo "docs_test: $commands commands, $failures failed"'
  echo '[ "$commands" -gt 0 ] && [ "$failures" -eq 0 ]'
} >"$work/commands.sh"

cd "$work" && mkdir run && cd run && OBRINT_CLI=$exe bash ../commands.sh >../out.txt 2>../err.txt
status=$?
grep -h 'docs_test' ../out.txt ../err.txt
# On failure (or with OBRINT_DOCS_SHOW=1): the script as run, and the end of its stderr.
[ "$status" -eq 0 ] && [ -z "${OBRINT_DOCS_SHOW:-}" ] ||
  { echo "--- the script"; cat ../commands.sh; echo "--- stderr"; tail -n 40 ../err.txt; }
exit "$status"
