#!/usr/bin/env bash
# The desktop's view of the program: *.vx2 files are of the program's MIME type (as
# shared-mime-info builds its database from the XML), the menu entry opens such a file
# (%f) and declares the type, and the AppStream metainfo validates.
# Usage: desktop_test.sh PACKAGING_DIR
set -u
src=$1
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

type=$(sed -nE 's/.*<mime-type type="([^"]+)".*/\1/p' "$src/vardex2-mime.xml")
[[ -n $type ]] || fail "no MIME type in vardex2-mime.xml"

# The glob as the system's MIME database holds it.
if command -v update-mime-database >/dev/null; then
    dir=$(mktemp -d)
    trap 'rm -rf "$dir"' EXIT
    mkdir -p "$dir/mime/packages"
    cp "$src/vardex2-mime.xml" "$dir/mime/packages/vardex2.xml"
    update-mime-database "$dir/mime" 2>"$dir/err" || fail "update-mime-database: $(cat "$dir/err")"
    grep -qx "[0-9]*:$type:\*\.vx2" "$dir/mime/globs2" ||
        fail "*.vx2 is not $type in globs2: $(cat "$dir/mime/globs2")"
else
    grep -q '<glob pattern="\*\.vx2"/>' "$src/vardex2-mime.xml" || fail "no *.vx2 glob"
fi

entry=$src/vardex2.desktop
grep -qx 'Exec=vardex2 %f' "$entry" || fail "Exec does not pass the file: $(grep ^Exec= "$entry")"
grep -qx "MimeType=$type;" "$entry" || fail "MimeType is not $type: $(grep ^MimeType= "$entry")"
if command -v desktop-file-validate >/dev/null; then
    out=$(desktop-file-validate "$entry" | grep -v ': hint: ') && fail "desktop-file-validate: $out"
fi

meta=$(ls "$src"/*.metainfo.xml)
grep -q "<mediatype>$type</mediatype>" "$meta" || fail "the metainfo does not provide $type"
grep -q '<launchable type="desktop-id">vardex2.desktop</launchable>' "$meta" ||
    fail "the metainfo does not launch vardex2.desktop"
if command -v appstreamcli >/dev/null; then
    out=$(appstreamcli validate --no-net "$meta" 2>&1) || fail "appstreamcli validate: $out"
fi

((failures == 0)) && echo "desktop files: all passed"
exit $((failures != 0))
