#!/usr/bin/env bash
# The steps behind ./dev, run inside the sid environment.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
STATE=.dev

# Builds and installs the package into the lane's virtual environment the
# way a user does: pip through scikit-build-core, no network, system site
# packages visible. The build directory is kept so rebuilds are incremental.
install_lane() {
  local lane=$1; shift
  local venv=$STATE/venv-$lane
  [ -x "$venv/bin/python" ] || python3 -m venv --system-site-packages "$venv"
  echo "== building lane '$lane'" >&2
  "$venv/bin/python" -m pip install --quiet --no-index --no-build-isolation --no-deps \
    --disable-pip-version-check --root-user-action=ignore \
    -C build-dir="$STATE/build-$lane" "$@" . >&2
}

plain_python() { echo "$STATE/venv-plain/bin/python"; }

run_pytest() {
  local lane=$1; shift
  echo "== tests, lane '$lane'" >&2
  # Run from outside the checkout so the installed package is the one tested.
  (cd tests && "$@" -m pytest -q -p no:cacheprovider . )
}

check_format() {
  local files
  files=$(find src tests/native fuzz -name '*.cpp' -o -name '*.hpp' 2>/dev/null || true)
  [ -z "$files" ] || clang-format --dry-run -Werror $files
}

cmd=$1; shift
case "$cmd" in
  test)
    check_format
    install_lane plain -C cmake.define.VEXA_FRAME_PROBE=ON
    run_pytest plain "$PWD/$(plain_python)" "$@"
    install_lane asan -C cmake.define.VEXA_FRAME_PROBE=ON -C cmake.define.VEXA_SANITIZE=ON \
      -C cmake.build-type=RelWithDebInfo
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)" \
      run_pytest asan "$PWD/$STATE/venv-asan/bin/python" "$@"
    ;;
  demo)
    install_lane plain
    "$(plain_python)" -P -m vexa_pp.demo "$@"
    ;;
  bench)
    install_lane plain
    "$(plain_python)" -P benchmarks/run.py "$@"
    ;;
  *) echo "unknown step: $cmd" >&2; exit 2 ;;
esac
