#!/usr/bin/env bash
# The steps behind ./dev, run inside the sid environment.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
STATE=${VEXA_DEV_STATE:-.dev}

# Builds and installs the package into the lane's virtual environment the
# way a user does: pip through scikit-build-core, no network, system site
# packages visible. The build directory is kept so rebuilds are incremental.
install_lane() {
  local lane=$1; shift
  local venv=$STATE/venv-$lane
  local interpreter=python3
  [ "$lane" = debug ] && interpreter=python3.14d
  [ -x "$venv/bin/python" ] || "$interpreter" -m venv --system-site-packages "$venv"
  echo "== building lane '$lane'" >&2
  "$venv/bin/python" -m pip install --quiet --no-index --no-build-isolation --no-deps \
    --disable-pip-version-check --root-user-action=ignore \
    -C build-dir="$STATE/build-$lane" "$@" . >&2
}

plain_python() { echo "$PWD/$STATE/venv-plain/bin/python"; }
# Every step shares the plain lane's build, probe module included, so that
# switching between test, demo and bench does not rebuild.
install_plain() { install_lane plain -C cmake.define.VEXA_FRAME_PROBE=ON; }

# run_pytest LANE PYTHON [PYTEST ARGS...]
run_pytest() {
  local lane=$1 python=$2; shift 2
  echo "== tests, lane '$lane'" >&2
  # Run from inside tests/ so the installed package, not the source folder,
  # is the one imported.
  (cd tests && "$python" -m pytest -q -p no:cacheprovider --durations=5 "$@")
}

check_format() {
  local files
  files=$(find src tests/native fuzz -name '*.cpp' -o -name '*.hpp' 2>/dev/null || true)
  [ -z "$files" ] || clang-format --dry-run -Werror $files
}

# Builds the libFuzzer targets of fuzz/ with clang and runs each for a bounded
# time (first argument, in seconds; default 60) from the sample run's files as
# seeds; further arguments pick targets. A crash, a sanitizer report or a
# failed check fails the step and leaves the input in $STATE/fuzz/.
run_fuzz() {
  local seconds=60 build=$STATE/build-fuzz work=$PWD/$STATE/fuzz
  if [[ ${1:-} =~ ^[0-9]+$ ]]; then seconds=$1; shift; fi
  local targets=("$@")
  if [ ${#targets[@]} = 0 ]; then
    for source in fuzz/fuzz_*.cpp; do targets+=("$(basename "$source" .cpp)"); done
  fi
  echo "== building fuzz targets" >&2
  cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build "$build" >&2
  mkdir -p "$work"
  local target log dict
  for target in "${targets[@]}"; do
    target=fuzz_${target#fuzz_}
    log=$work/$target.log
    dict=()
    [ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
    mkdir -p "$work/corpus-$target"
    echo "== fuzzing $target for ${seconds}s" >&2
    if ! "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$work/$target-" "${dict[@]}" \
        "$work/corpus-$target" vexa_pp/samples/lammps-run >"$log" 2>&1; then
      tail -n 60 "$log" >&2
      echo "dev: $target failed; the log is $log" >&2
      return 1
    fi
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" >&2 || true
  done
}

cmd=$1; shift
case "$cmd" in
  test)
    check_format
    install_plain
    run_pytest plain "$(plain_python)" "$@"
    install_lane asan -C cmake.define.VEXA_FRAME_PROBE=ON -C cmake.define.VEXA_SANITIZE=ON \
      -C cmake.build-type=RelWithDebInfo
    # Sanitizer reports go to the real stderr (--capture=sys), or pytest's
    # capture would swallow them when the process aborts.
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)" \
      run_pytest asan "$PWD/$STATE/venv-asan/bin/python" --capture=sys "$@"
    # The debug interpreter checks every reference the module touches, and
    # its reference and block counts let the leak hunt run.
    install_lane debug -C cmake.define.VEXA_FRAME_PROBE=ON -C cmake.build-type=RelWithDebInfo
    run_pytest debug "$PWD/$STATE/venv-debug/bin/python" "$@"
    ;;
  quick)
    # The plain lane alone: for the edit-and-test loop.
    check_format
    install_plain
    run_pytest plain "$(plain_python)" "$@"
    ;;
  demo)
    # `vexa-pp analyze` on the bundled LAMMPS run, as a user types it; the
    # plots go to the folder given as argument (default: $STATE/demo-plots).
    install_plain
    plots=${1:-$STATE/demo-plots}
    "$(dirname "$(plain_python)")/vexa-pp" analyze vexa_pp/samples/lammps-run --plot "$plots"
    ;;
  analyze)
    install_plain
    exec "$(dirname "$(plain_python)")/vexa-pp" analyze "$@"
    ;;
  bench)
    install_plain
    "$(plain_python)" -P benchmarks/run.py "$@"
    ;;
  fuzz)
    run_fuzz "$@"
    ;;
  fixtures)
    # Reruns the LAMMPS sample run in place: ./dev fixtures enters a root
    # that adds lammps to the packages of the others.
    cd vexa_pp/samples/lammps-run
    lmp -nocite -in in.nacl_spce -log log.lammps -screen none
    grep -q '^Total wall time' log.lammps || { tail log.lammps >&2; exit 1; }
    # Written plain (a gzip dump style needs a LAMMPS built with it); -n
    # keeps the compressed bytes the same from run to run.
    gzip -9nf nacl_spce.lammpstrj
    ls -l
    ;;
  *) echo "unknown step: $cmd" >&2; exit 2 ;;
esac
