#!/usr/bin/env bash
# Formats C++ sources in place with the repository's .clang-format: the files given, or every
# tracked *.cpp and *.h. Anything else is left alone: clang-format takes a file it does not know
# (Markdown, say) for C++ and mangles it.
#   scripts/format.sh [FILE...]
set -euo pipefail
files=()
if [ $# -eq 0 ]; then
    cd "$(dirname "$0")/.."
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
    for file in "$@"; do
        case "$file" in
            *.cpp | *.h) files+=("$file") ;;
            *) echo "not C++, left alone: $file" >&2 ;;
        esac
    done
fi
[ ${#files[@]} -eq 0 ] || clang-format -i "${files[@]}"
