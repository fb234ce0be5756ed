#!/usr/bin/env bash
# The manual pages and the bash completion as installed: the pages render,
# and the completion, loaded into bash, completes options from the installed
# tool's help, the --format values and paths.
#   installed_docs_test.sh BUILD_DIR
set -euo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$tmp/usr" >/dev/null

for page in tarnwick-cli tarnwick; do
  file=$tmp/usr/share/man/man1/$page.1.gz
  [ -f "$file" ] || fail "$file not installed"
  # man writes roff warnings to standard error; a clean page has none.
  out=$(MANWIDTH=80 LC_ALL=C.UTF-8 man -l "$file" 2>"$tmp/warnings")
  [ ! -s "$tmp/warnings" ] || fail "$page.1: $(cat "$tmp/warnings")"
  grep -q '^NAME' <<<"$out" || fail "$page.1 has no NAME section"
done
out=$(MANWIDTH=80 LC_ALL=C.UTF-8 man -l "$tmp/usr/share/man/man1/tarnwick-cli.1.gz")
# Justified lines may stretch the space between two words.
for want in --recursive --format --files-from --max-rows 'Exit +status' EXAMPLES; do
  grep -Eq -- "$want" <<<"$out" || fail "tarnwick-cli.1 does not mention $want"
done

completion=$tmp/usr/share/bash-completion/completions/tarnwick-cli
[ -f "$completion" ] || fail "completion not installed"
mkdir -p "$tmp/work/drawings" && touch "$tmp/work/drawings/a.jww" "$tmp/work/list.txt"

# Runs the completion for the words given (the last one is being typed) and
# prints the candidates, one a line, sorted.
complete_words() {
  (cd "$tmp/work" && PATH="$tmp/usr/bin:$PATH" bash --norc --noprofile -c '
    source "$0"
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _tarnwick_cli tarnwick-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort' "$completion" "$@")
}
expect() {
  local want=$1; shift
  local got; got=$(complete_words "$@")
  [ "$got" = "$want" ] || fail "completing '$*': got [$got], want [$want]"
}

# Every option the tool's help names is offered.
got=$(complete_words tarnwick-cli --)
for opt in --recursive --files-from --format --match --max-rows --jobs --verbose --help --version; do
  grep -qx -- "$opt" <<<"$got" || fail "--<TAB> does not offer $opt: [$got]"
done
expect $'--match\n--max-rows' tarnwick-cli --ma
got=$(complete_words tarnwick-cli -)
for opt in -r -o -j -v --recursive; do
  grep -qx -- "$opt" <<<"$got" || fail "-<TAB> does not offer $opt: [$got]"
done
expect $'csv\njson\ntsv' tarnwick-cli -r --format ''
expect 'json' tarnwick-cli --format j
expect 'list.txt' tarnwick-cli -o l
expect 'list.txt' tarnwick-cli --files-from li
expect 'drawings' tarnwick-cli -r dr
expect 'drawings/a.jww' tarnwick-cli drawings/
# A number or a text is left to the user.
expect '' tarnwick-cli --jobs ''
expect '' tarnwick-cli --match ''
# A tool that cannot be run still completes paths.
expect 'drawings' /nonexistent/tarnwick-cli dr

# Options the tool gains later are completed from its help as it stands: a
# tool named by its path, an option whose name and value fill the column,
# a folder value, and help text that begins with a dash.
mkdir -p "$tmp/work/bin" && cat >"$tmp/work/bin/tarnwick-cli" <<'TOOL'
#!/bin/sh
cat <<'HELP'
Usage: tarnwick-cli [OPTION]... PATH...

  -q, --quiet            no progress line
      --svg DIR          also write drawings into DIR
      --index-file-name-long FILE
                         keep the index in FILE
                         - for none
      --io-depth=N       files read at once
HELP
TOOL
chmod +x "$tmp/work/bin/tarnwick-cli"
expect $'--index-file-name-long\n--io-depth' ./bin/tarnwick-cli --i
expect $'-q' ./bin/tarnwick-cli -q
expect 'drawings' ./bin/tarnwick-cli --svg dr
expect 'list.txt' ./bin/tarnwick-cli --index-file-name-long l
expect '' ./bin/tarnwick-cli --io-depth ''
echo ok
