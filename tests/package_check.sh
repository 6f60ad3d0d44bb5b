#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks its file list and control fields.
#   tests/package_check.sh <build dir>
set -euo pipefail
BUILD="$1"
OUT="$(mktemp -d)"
trap 'rm -rf "$OUT"' EXIT
(cd "$BUILD" && cpack -G DEB -B "$OUT" >/dev/null)
DEB="$(ls "$OUT"/*.deb)"
fail() { echo "package: $*" >&2; exit 1; }

files="$(dpkg-deb -c "$DEB" | awk '{print $6}')"
for f in ./usr/bin/tarnix2-utility ./usr/bin/tarnix-sim ./usr/bin/tarnixctl \
         ./usr/share/applications/tarnix2-utility.desktop \
         ./usr/share/icons/hicolor/scalable/apps/tarnix2-utility.svg \
         ./usr/share/man/man1/tarnix2-utility.1.gz ./usr/share/man/man1/tarnix-sim.1.gz \
         ./usr/share/man/man1/tarnixctl.1.gz ./usr/share/doc/tarnix2-utility/copyright \
         ./usr/share/doc/tarnix2-utility/changelog.Debian.gz; do
    grep -qx -- "$f" <<<"$files" || fail "missing $f"
done
# Nothing of the build tree (tests, benchmarks, libraries) comes along.
if grep -E 'tst_|bench_|\.a$|/include/' <<<"$files"; then fail "stray files"; fi

[ "$(dpkg-deb -f "$DEB" Package)" = tarnix2-utility ] || fail "Package field"
[ "$(dpkg-deb -f "$DEB" Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture field"
grep -qx '2\.0\(\.0\)\?-1' <<<"$(dpkg-deb -f "$DEB" Version)" || fail "Version field"
for dep in libqt6widgets6 libqt6network6 qt6-qpa-plugins libqt6svg6; do
    grep -q "$dep" <<<"$(dpkg-deb -f "$DEB" Depends)" || fail "Depends lacks $dep"
done
grep -q tarnixctl <<<"$(dpkg-deb -f "$DEB" Description)" || fail "Description"

# The man pages are real pages made from the programs' help.
X="$OUT/x"
dpkg-deb -x "$DEB" "$X"
grep -q '^\.TH TARNIXCTL "\?1' <<<"$(zcat "$X/usr/share/man/man1/tarnixctl.1.gz")" || fail "tarnixctl man page"
grep -q 'download FILE' <<<"$(zcat "$X/usr/share/man/man1/tarnixctl.1.gz")" || fail "tarnixctl man page body"
grep -q 'keep\\-going' <<<"$(zcat "$X/usr/share/man/man1/tarnixctl.1.gz")" || fail "tarnixctl man page lacks an option"
grep -q -- 'tcp\\-port' <<<"$(zcat "$X/usr/share/man/man1/tarnix-sim.1.gz")" || fail "tarnix-sim man page body"
grep -q '^Exec=tarnix2-utility$' "$X/usr/share/applications/tarnix2-utility.desktop" || fail "desktop entry"
grep -qx 'tarnixctl 2\.0' <<<"$("$X/usr/bin/tarnixctl" --version)" || fail "tarnixctl --version"
# Debian's own checks, and man to lay out the pages; both from Debian through the set-up script.
"$(dirname "$0")/../scripts/setup.sh" lintian man-db >/dev/null || true
# Every man page fits a terminal of 80 columns, has the sections of a man page, and is filled
# by man: no line holds a lone word between two lines of the same paragraph.
if command -v man >/dev/null; then
    for page in "$X"/usr/share/man/man1/*.1.gz; do
        text="$(MANWIDTH=80 man -l "$page" 2>&1)"
        wide="$(awk 'length > 80' <<<"$text")"
        [ -z "$wide" ] || fail "$(basename "$page") is wider than 80 columns: $wide"
        broken="$(awk '{ i = match($0, /[^ ]/) } NR > 2 && n1 == 1 && i1 > 0 && i == i1 && i2 == i1 && NF && n2 { print l1 }
                       { i2 = i1; n2 = n1; i1 = i; n1 = NF; l1 = $0 }' <<<"$text")"
        [ -z "$broken" ] || fail "$(basename "$page") breaks a sentence at: $broken"
        for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES; do
            grep -qx "$section" <<<"$text" || fail "$(basename "$page") has no $section"
        done
    done
    ctlpage="$(MANWIDTH=80 man -l "$X/usr/share/man/man1/tarnixctl.1.gz")"
    grep -qx COMMANDS <<<"$ctlpage" || fail "tarnixctl has no COMMANDS"
    # The help's YAML examples keep their lines and indentation, or they no longer read as YAML.
    grep -qx '         - program: polling' <<<"$ctlpage" || fail "tarnixctl's program text example is filled"
    grep -qx '           interval: 1 ms' <<<"$ctlpage" || fail "tarnixctl's program text example lost its indentation"
    grep -qx '         - wait: 50 ms                  # s, ms or us' <<<"$ctlpage" || fail "tarnixctl's sequence example is filled"
fi
# lintian: no error, no warning.
if command -v lintian >/dev/null; then
    report="$(lintian --fail-on none "$DEB" 2>&1 | grep -E '^[EW]: ' || true)"
    [ -z "$report" ] || fail "lintian: $report"
else
    echo "package: lintian is not installed; its checks were skipped" >&2
fi
echo "package: $(basename "$DEB") ok"
