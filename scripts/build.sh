#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR); arguments go to the configure
# step (-DCHATWHARF_SANITIZE=ON). Warnings are errors under CI. BUILD_TARGETS, when
# set, names the targets to build instead of all of them.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi
# A compiler cache, where there is one, makes a rebuild of another checkout cheap.
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} -DCHATWHARF_WERROR=$werror \
  "${launcher[@]}" "$@" >/dev/null
targets=()
for target in ${BUILD_TARGETS:-}; do targets+=(--target "$target"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
