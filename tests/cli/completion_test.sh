#!/usr/bin/env bash
# The bash completion of vardex2-cli against the program itself.
# Usage: completion_test.sh COMPLETION_SCRIPT VARDEX2_CLI
set -u
# shellcheck source=/dev/null
source "$1"
cli=$2
failures=0

# Completes the words given (the last one is being typed); the candidates, one a line.
complete_words() {
    COMP_WORDS=("$cli" "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _vardex2_cli
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect() {  # expect "what" "candidates" words...
    local what=$1 want=$2
    shift 2
    local got
    got=$(complete_words "$@" | tr '\n' ' ' | sed 's/ $//')
    if [[ $got != "$want" ]]; then
        echo "FAIL: $what: completing '$*' gave '$got', expected '$want'"
        failures=$((failures + 1))
    fi
}

expect_has() {  # expect_has "what" candidate words...
    local what=$1 want=$2
    shift 2
    if ! complete_words "$@" | grep -qx -- "$want"; then
        echo "FAIL: $what: completing '$*' did not offer '$want'"
        failures=$((failures + 1))
    fi
}

# Every command the program lists, and only commands.
all=$(complete_words "")
for command in link-check clear list show load export check add edit remove set-vardex \
    set-times read-key; do
    grep -qx "$command" <<<"$all" || {
        echo "FAIL: '$command' is not among the commands: $all"
        failures=$((failures + 1))
    }
done
grep -q '^-' <<<"$all" && {
    echo "FAIL: options among the commands: $all"
    failures=$((failures + 1))
}
expect "a prefix" "link-check list" li
expect "after a global option and its value" "link-check list" --port /dev/ttyUSB0 li
expect "the command's own option and the link's" "--add --address" check doors.vx2 --ad
expect_has "--json where the command has it" --json list --j
expect_has "the global options after the command" --port link-check --p
expect "format names" "em" --format e
# Only the options the command takes.
expect "load's options" "--address --help --port --quiet --trace --yes" load backup.vx2 --
expect "list's options" "--csv --format --help --json" list doors.vx2 --
expect "the global options before a command" "--port" --p
expect "help's commands" "link-check list" help li

# Database files and directories for the arguments, not other files.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
touch "$dir/doors.vx2" "$dir/notes.txt"
mkdir "$dir/backups"
expect "files" "$dir/backups/ $dir/doors.vx2" list "$dir/"

((failures == 0)) && echo "completion: all passed"
exit $((failures != 0))
