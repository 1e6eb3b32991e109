#!/usr/bin/env bash
# The manual pages render without warnings, and vardex2-cli's has every command.
# Usage: man_test.sh VARDEX2_CLI PAGE...
set -u
cli=$1
shift
failures=0
err=$(mktemp)
trap 'rm -f "$err"' EXIT
for page in "$@"; do
    out=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>"$err")
    status=$?
    if ((status != 0)) || [[ -s $err ]] || ! grep -q '^NAME' <<<"$out"; then
        echo "FAIL: man -l $page: status $status, $(cat "$err")"
        failures=$((failures + 1))
    fi
    if [[ $page == */vardex2-cli.1 ]]; then
        while IFS= read -r command; do
            grep -q "vardex2-cli .*$command" <<<"$out" || {
                echo "FAIL: $page lacks the command $command"
                failures=$((failures + 1))
            }
        done < <("$cli" --help | sed -nE 's/^  (--port DEVICE )?([a-z][a-z0-9-]*)( .*|$)/\2/p')
    fi
done
((failures == 0)) && echo "man pages: all passed"
exit $((failures != 0))
