#!/usr/bin/env bash
# Builds the song-file reader's libFuzzer target with clang (ASan + UBSan) and runs it from the
# seed corpus for SECONDS seconds (default 5: the CI smoke; run longer by hand).
#   tests/fuzz/fuzz-song-reader.sh [SECONDS] [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-5}"
out="${2:-$root/build/fuzz}"
mkdir -p "$out/corpus"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" "$root/tests/fuzz/SongFileFuzz.cpp" "$root/recorder/SongFile.cpp" \
    "$root/platform/file/FileIo.cpp" "$root/platform/file/ReplacingFile.cpp" \
    "$root/platform/text/CodePage.cpp" \
    -o "$out/song-file-fuzz"
# New inputs go to a scratch corpus; the seeds in the tree stay as they are.
"$out/song-file-fuzz" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    "$out/corpus" "$root/tests/fuzz/song-corpus"
