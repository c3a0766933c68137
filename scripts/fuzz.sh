#!/bin/bash
# Builds the libFuzzer targets (the fuzz preset) and runs each in turn for
# SECONDS (default 60) at the lowest priority, starting from its corpus,
# fuzz/<area>/corpus.tar.xz (or, where there is none yet, the seeds its
# make_corpus.sh writes), and the inputs of past findings kept in
# fuzz/<area>/regressions/. Prints one line per target: runs, runs per second,
# coverage, findings, and the runs per second of processor time, which is
# what the target gives on an idle core (the wall-clock rate depends on
# everything else the machine runs). Crashes, leaks, timeouts and
# out-of-memory inputs are kept in build/fuzz/findings/<target>/.
#
#   FUZZ_TARGETS="sql_fuzz idt_fuzz"  runs only those
#   FUZZ_MERGE=1                      adds the inputs that found new coverage
#                                     to the repository's corpus (-merge=1);
#                                     the archive keeps it small, as its
#                                     inputs are mostly near copies
#   FUZZ_RSS_MB=1024                  the memory cap of each target
#
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# target:area[:dictionary]
all_targets=(
  fdi_copy_fuzzer:cabinet
  cfb_fuzz:storage
  msi_fuzz:msi
  transform_fuzz:transform
  sql_fuzz:sql:sql.dict
  idt_fuzz:idt
  version_fuzz:version
)
wanted=${FUZZ_TARGETS:-}
targets=()
for entry in "${all_targets[@]}"; do
  name=${entry%%:*}
  if [[ -z $wanted || " $wanted " == *" $name "* ]]; then targets+=("$entry"); fi
done
[[ ${#targets[@]} -gt 0 ]] || { echo "fuzz.sh: no target named in FUZZ_TARGETS" >&2; exit 2; }

names=()
for entry in "${targets[@]}"; do names+=("${entry%%:*}"); done
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${names[@]}" transform_fuzz_seeds

bin=$root/build/fuzz/bin
work=$(mktemp -d "${TMPDIR:-/tmp}/qltmsi-fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT

printf '%-16s %10s %8s %10s %7s %9s\n' target runs runs/s runs/cpu-s cov findings
status=0
for entry in "${targets[@]}"; do
  IFS=: read -r name area dictionary <<<"$entry"
  archive=$root/fuzz/$area/corpus.tar.xz
  regressions=$root/fuzz/$area/regressions
  findings=$root/build/fuzz/findings/$name
  corpus=$work/$name/corpus
  mkdir -p "$findings" "$corpus" "$work/$name/new" "$work/$name/regressions"
  if [[ -f $archive ]]; then
    tar -C "$corpus" -xJf "$archive"
  else
    "$root/fuzz/$area/make_corpus.sh" "$corpus" "$bin" >/dev/null
  fi
  if [[ -d $regressions ]]; then cp -R "$regressions"/. "$work/$name/regressions/"; fi
  # libFuzzer's entropic scheduler spends most of each run on its own
  # bookkeeping once a target has tens of thousands of features (three
  # quarters of the package target's time); the plain one runs several times
  # as many inputs here.
  options=(-max_total_time="$seconds" -rss_limit_mb="${FUZZ_RSS_MB:-1024}" -timeout=10
           -entropic=0 -print_final_stats=1 -artifact_prefix="$findings/")
  [[ -n $dictionary ]] && options+=(-dict="$root/fuzz/$area/$dictionary")
  before=$(ls "$findings" | wc -l)
  /usr/bin/time -f '%U %S' -o "$work/$name/time" \
    nice -n 19 "$bin/$name" "${options[@]}" "$work/$name/new" "$corpus" "$work/$name/regressions" \
    >"$work/$name/log" 2>&1 || true
  after=$(ls "$findings" | wc -l)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name/log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$name/log")
  cov=$(grep -o 'cov: [0-9]*' "$work/$name/log" | tail -1 | cut -d' ' -f2)
  cpu_rate=$(awk -v runs="${runs:-0}" '/^[0-9.]+ [0-9.]+$/ { t = $1 + $2; if (t > 0) printf "%d", runs / t }' \
    "$work/$name/time")
  printf '%-16s %10s %8s %10s %7s %9s\n' "$name" "${runs:-?}" "${rate:-?}" "${cpu_rate:-?}" "${cov:-?}" \
    $((after - before))
  if [[ $after -ne $before || -z $runs ]]; then
    status=1
    tail -40 "$work/$name/log" >&2
  fi
  if [[ ${FUZZ_MERGE:-0} == 1 ]]; then
    mkdir -p "$work/$name/merged"
    nice -n 19 "$bin/$name" -merge=1 -rss_limit_mb="${FUZZ_RSS_MB:-1024}" "$work/$name/merged" \
      "$corpus" "$work/$name/new" >"$work/$name/merge.log" 2>&1
    # The same inputs give the same bytes, so an unchanged corpus shows no change.
    (cd "$work/$name/merged" && find . -type f | LC_ALL=C sort |
      tar --mtime=@0 --owner=0 --group=0 --numeric-owner -cf - -T - | xz -9 >"$archive.new")
    mv "$archive.new" "$archive"
  fi
done
exit $status
