#!/usr/bin/env bash
# Sets up a fresh machine, builds from nothing and runs every test twice:
# once in the normal build, once under AddressSanitizer and UBSan.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"

jobs=$(nproc)
"$here/scripts/build.sh" "$here/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir "$here/build/release" --output-on-failure --parallel "$jobs"

"$here/scripts/build.sh" "$here/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DCLIPNOTE_SANITIZE=ON \
    -DCLIPNOTE_BUILD_BENCH=OFF
ctest --test-dir "$here/build/sanitize" --output-on-failure --parallel "$jobs"
