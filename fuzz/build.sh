#!/usr/bin/env bash
# Builds the image reader fuzz target with clang's libFuzzer and the address
# and undefined-behaviour sanitizers. Usage: fuzz/build.sh [output-folder]
# Run:  <out>/reader_fuzz -max_total_time=600 <work-corpus> fuzz/corpus
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
out="${1:-$root/build-fuzz}"
mkdir -p "$out"
# A lower size limit keeps huge but valid headers from making every run slow.
clang++ -std=c++20 -g -O1 -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -DZERMIC_MAX_IMAGE_BYTES='(16ll * 1024 * 1024)' \
  -I"$root/image" -I"$root/imagefile" \
  "$here/ReaderFuzz.cpp" \
  "$root/imagefile/ImageFileReader.cpp" \
  "$root/image/ImageBuffer.cpp" \
  "$root/image/ImageStats.cpp" \
  -o "$out/reader_fuzz"
echo "$out/reader_fuzz"
