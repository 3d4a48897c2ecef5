#!/usr/bin/env bash
# Checks of the source tree that need no build, run first by ./test:
# - library headers of the seams (FluidSynth, ALSA, JACK, RtMidi, libusb, libcurl) are included
#   only under platform/ (and by the tests and benchmarks that drive those backends directly);
# - app/ is the top layer: nothing below it (tools/ included) includes a header of app/;
# - Markdown files start with a Markdown heading: a C++ formatter run over them joins "# " to
#   the title first. Formatters are for C++ files only (scripts/format.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
failed=0

seams='^\s*#\s*include\s*[<"](fluidsynth\.h|fluidsynth/|alsa/|jack/|RtMidi\.h|rtmidi/|libusb\.h|libusb-1\.0/|curl/)'
if hits="$(grep -rnE "$seams" --include='*.cpp' --include='*.h' --exclude-dir=platform \
    --exclude-dir=tests --exclude-dir=bench --exclude-dir='build*' --exclude-dir=.git .)"; then
    printf 'A library of the seams is included outside platform/; include our contract instead:\n%s\n' \
        "$hits" >&2
    failed=1
fi

if hits="$(grep -rnE '^\s*#\s*include\s*"app/' --include='*.cpp' --include='*.h' \
    musicport performance piano device web recorder res platform tools)"; then
    printf 'A layer below app/ includes app/; move what it needs down instead:\n%s\n' "$hits" >&2
    failed=1
fi

while IFS= read -r file; do
    if ! head -n 1 "$file" | grep -qE '^#{1,6} '; then
        echo "$file: the first line is not a Markdown heading; was a code formatter run over it?" >&2
        failed=1
    fi
done < <(find . \( -path ./.git -o -path './build*' \) -prune -o -name '*.md' -print)

exit "$failed"
