#!/usr/bin/env bash
# Sets up a fresh machine, builds from nothing and runs every test twice:
# once in the normal build, once under AddressSanitizer and UBSan; tries the
# Debian package of the normal build; then runs the fuzzers for a few seconds
# each.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"

jobs=$(nproc)
"$here/scripts/build.sh" "$here/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir "$here/build/release" --output-on-failure --parallel "$jobs"
# The Debian package, installed with apt-get, tried from /usr/bin and removed
# again (10 to 25 seconds); it needs root.
if [ "$(id -u)" -eq 0 ]; then
    bash "$here/scripts/test-package.sh" "$here/build/release"
else
    echo "Not root: the package test is left out (sudo bash scripts/test-package.sh runs it)."
fi

"$here/scripts/build.sh" "$here/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DCLIPNOTE_SANITIZE=ON \
    -DCLIPNOTE_BUILD_BENCH=OFF
ctest --test-dir "$here/build/sanitize" --output-on-failure --parallel "$jobs"

# The fuzzers, built with clang on their own and run briefly from their seeds,
# so they keep compiling and the parsers stay crash-free. New inputs go to a
# scratch folder, never into the seeds. The same build leaves Qt Widgets out
# and compiles the core, which proves the core needs no widget.
fuzz="$here/build/fuzz"
CC=clang-14 CXX=clang++-14 cmake -S "$here" -B "$fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCLIPNOTE_FUZZ=ON -DCLIPNOTE_WIDGETS=OFF -DCLIPNOTE_BUILD_TESTS=OFF -DCLIPNOTE_BUILD_BENCH=OFF
cmake --build "$fuzz" --parallel "$jobs" --target fuzz_record fuzz_upload_header clipnote_core
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in record upload_header; do
    mkdir -p "$scratch/$target"
    "$fuzz/fuzz/fuzz_$target" -max_total_time=10 "$scratch/$target" "$here/fuzz/corpus/$target"
done
