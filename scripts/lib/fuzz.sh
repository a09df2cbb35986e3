# Sourced by scripts/test: runs every libFuzzer target of the linux-fuzz build for a short
# fixed time, each from a fresh copy of its committed seed corpus (fuzz/corpus/<name>/, run
# by build/linux-fuzz/<name>_fuzz). A crash, a sanitizer report, a hang or a disagreement
# with a target's reference fails the run. ZORVIA_FUZZ_SECONDS changes the time per target.

run_fuzzers() {
  local build=build/linux-fuzz seconds=${ZORVIA_FUZZ_SECONDS:-30} status=0
  local seeds name work dict
  for seeds in fuzz/corpus/*/; do
    name=$(basename "$seeds")
    work="$build/fuzz-work/$name"
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/artifacts"
    cp "$seeds"* "$work/corpus/"
    dict=()
    [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
    echo "=== linux-fuzz: ${name} for ${seconds} s"
    if "$build/${name}_fuzz" -max_total_time="$seconds" -timeout=10 -max_len=8192 "${dict[@]}" \
         -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1; then
      grep -E '^Done [0-9]+ runs' "$work/log" || true
    else
      echo "${name}: the fuzzer failed; its input is in $work/artifacts/"
      tail -n 40 "$work/log"
      status=1
    fi
  done
  return "$status"
}
