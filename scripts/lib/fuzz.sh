# Runs each libFuzzer target of build/linux-fuzz for a short fixed time from a copy of its
# committed seed corpus (the copy grows; the committed corpus never changes). A crash, a
# sanitizer report or a disagreement with the reference ends the fuzzer with a non-zero status.
run_fuzzers() {
  local seconds=${ZORVIA_FUZZ_SECONDS:-30} status=0
  for target in process_marker; do
    local work="build/linux-fuzz/corpus-${target}"
    rm -rf "$work" && mkdir -p "$work"
    cp "fuzz/corpus/${target}/"* "$work/"
    echo "=== fuzzing ${target} for ${seconds} s"
    if build/linux-fuzz/"${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="build/linux-fuzz/${target}-" "$work" >"build/linux-fuzz/${target}.log" 2>&1; then
      grep -E '^(stat::number_of_executed_units|Done)' "build/linux-fuzz/${target}.log" || true
    else
      tail -n 30 "build/linux-fuzz/${target}.log"
      status=1
    fi
  done
  return "$status"
}
