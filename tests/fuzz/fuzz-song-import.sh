#!/usr/bin/env bash
# Builds the song tool's MIDI import as a libFuzzer target with clang (ASan + UBSan) and runs it
# from the seed corpus for SECONDS seconds (default 5: the CI smoke; run longer by hand).
#   tests/fuzz/fuzz-song-import.sh [SECONDS] [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-5}"
out="${2:-$root/build/fuzz}"
mkdir -p "$out/import-corpus"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" "$root/tests/fuzz/SongImportFuzz.cpp" "$root/recorder/SongImport.cpp" \
    "$root/recorder/SongFile.cpp" "$root/recorder/SongExport.cpp" \
    "$root/musicport/MidiFileReader.cpp" "$root/musicport/MidiFileClock.cpp" \
    "$root/platform/file/FileIo.cpp" "$root/platform/file/ReplacingFile.cpp" \
    "$root/platform/text/CodePage.cpp" \
    -o "$out/song-import-fuzz"
# New inputs go to a scratch corpus; the seeds in the tree stay as they are.
"$out/song-import-fuzz" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    "$out/import-corpus" "$root/tests/fuzz/midi-corpus"
