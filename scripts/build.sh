#!/usr/bin/env bash
# Configures and builds one flavour of the tree: scripts/build.sh release|asan|fuzz [ninja targets]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-release}
shift || true
case "$flavour" in
  release) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan) flags=(-DCMAKE_BUILD_TYPE=Debug -DQRB_SANITIZE=ON -DQRB_BENCH=OFF) ;;
  fuzz) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQRB_FUZZ=ON -DCMAKE_C_COMPILER=clang
               -DCMAKE_CXX_COMPILER=clang++) ;;
  *) echo "usage: $0 release|asan|fuzz [targets]" >&2; exit 2 ;;
esac
# ccache, where installed, spares a developer's rebuilds; CI builds clean either way.
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$top
  flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$top" -B "$top/build/$flavour" -G Ninja -DQRB_WERROR=ON "${flags[@]}" >/dev/null
ninja -C "$top/build/$flavour" "$@"
