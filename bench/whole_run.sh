#!/usr/bin/env bash
# Whole runs of interval-fit against interval-fit-reference (the same driver
# on the step-by-step objective), timed side by side on simulated data
# sets; the outputs of the two programs are compared byte for byte and the
# ratio of the run times is printed.
#
#   bench/whole_run.sh [BUILD_DIR]        (default: build/release)
#
# Or against an earlier build of interval-fit, for the speed of this one
# against that one:
#
#   bench/whole_run.sh --baseline OLD_BUILD_DIR [BUILD_DIR]
#
# which runs both programs on the sets n18, n40, n8x100k and n200 (unless
# SETS says otherwise), times them side by side (REPEAT runs each, default
# 3, the medians reported; the earlier program once on the sets where it
# takes long), and compares standard output and etest.txt byte for byte.
# The step-by-step program is not run in this mode.
#
# Needs, in BUILD_DIR: interval-fit, interval-fit-reference, interval-simulate
# and bench/interval-fit-metered, bench/interval-fit-reference-metered, e.g.
#   cmake --preset release && cmake --build build/release
#
# Environment:
#   MEASURE="n8 n18"   sets whose reference run is measured in full (default);
#                      MEASURE="n8 n18 n40" measures all (the n = 40 reference
#                      run takes hours), MEASURE="" estimates all.
#   SETS="n8 n18 n40"  the sets to run (default: all three).
#   WORK=DIR           where the data sets and outputs go (default: a fresh
#                      temporary directory, kept and named at the end).
#
# Figures:
#   fast s         measured: wall and processor (user + system) time of a
#                  whole run of interval-fit, the medians of several runs for
#                  the short ones.
#   calls          measured: objective evaluations of that run (start
#                  simplex, minimiser, standard errors), counted by the
#                  metered build of the same program.
#   ref/call ms    measured: mean time of one step-by-step evaluation on the
#                  set, from the first calls of the metered reference run.
#   reference s    "measured" (wall and processor time) when the reference
#                  run was timed in full; otherwise "estimated" as
#                  ref/call x calls (the rest of a run costs next to
#                  nothing beside the evaluations).  For the measured sets
#                  the estimate is printed as well, as a check.
#                  Wall and processor time are sampled and estimated apart.
#   ratio          reference / fast, from the wall and from the processor times.
#   output         "identical" when stdout and etest.txt of the two programs
#                  agree byte for byte; "not run" for an estimated reference.
set -euo pipefail

baseline_dir=""
if [[ ${1-} == --baseline ]]; then
  baseline_dir=${2:?"--baseline needs the folder of the earlier build"}
  shift 2
fi
build_dir=${1:-build/release}
measured_sets=${MEASURE-"n8 n18"}
if [[ -n $baseline_dir ]]; then
  chosen_sets=${SETS:-"n18 n40 n8x100k n200"}
else
  chosen_sets=${SETS:-"n8 n18 n40"}
fi
work=${WORK:-$(mktemp -d "${TMPDIR:-/tmp}/whole-run-XXXXXX")}
mkdir -p "$work"

fast="$build_dir/interval-fit"
reference="$build_dir/interval-fit-reference"
simulate="$build_dir/interval-simulate"
fast_metered="$build_dir/bench/interval-fit-metered"
reference_metered="$build_dir/bench/interval-fit-reference-metered"
needed=("$fast" "$simulate")
[[ -n $baseline_dir ]] || needed+=("$reference" "$fast_metered" "$reference_metered")
for program in "${needed[@]}"; do
  if [[ ! -x $program ]]; then
    echo "missing $program: build the release preset first" >&2
    exit 2
  fi
done
build_dir=$(cd "$build_dir" && pwd)
fast="$build_dir/interval-fit"
reference="$build_dir/interval-fit-reference"
simulate="$build_dir/interval-simulate"
fast_metered="$build_dir/bench/interval-fit-metered"
reference_metered="$build_dir/bench/interval-fit-reference-metered"

# The data sets: name, intervals, order, observations, seed, initial
# estimate (2p x 0.25, a typical length), step-by-step calls to sample, fast
# repetitions, and the interval lengths the simulation draws from.
# Two hundred lengths between 0.15 and 0.35, spread by a fixed rule.
lengths_200=$(awk 'BEGIN { for (i = 0; i < 200; ++i) printf "%s%.2f", (i ? "," : ""), 0.15 + 0.2 * ((i * 37) % 100) / 100 }')
sets=(
  "n8 8 2 500 8 1.0 20 5 0.20,0.35,0.25,0.30,0.15,0.28,0.22,0.33"
  "n8x100k 8 2 100000 8 1.0 3 3 0.20,0.35,0.25,0.30,0.15,0.28,0.22,0.33"
  "n200 200 1 500 200 0.5 10 1 $lengths_200"
  "n18 18 3 2000 18 1.5 10 3 0.21,0.33,0.18,0.27,0.35,0.15,0.24,0.30,0.19,0.26,0.32,0.17,0.29,0.22,0.34,0.16,0.28,0.25"
  "n40 40 5 5000 40 2.5 4 1 0.24,0.33,0.16,0.21,0.34,0.28,0.18,0.22,0.33,0.24,0.16,0.33,0.18,0.28,0.27,0.24,0.34,0.19,0.27,0.17,0.34,0.18,0.25,0.32,0.33,0.17,0.33,0.32,0.21,0.30,0.20,0.18,0.18,0.21,0.32,0.24,0.35,0.33,0.19,0.24"
)
# Rates of X codes and of no-information codes in every set.
x_rate=0.05
missing_rate=0.02

now_ns() { date +%s%N; }

seconds_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'; }

# "XmY.YYYs" as printed by the shell's `times`, in seconds.
shell_seconds() { awk -v t="$1" 'BEGIN { split(t, a, "m"); sub("s", "", a[2]); print a[1] * 60 + a[2] }'; }

# Runs PROGRAM in DIR on data.txt with the answers; stdout to out.txt,
# stderr to err.txt, a fresh etest.txt.  Prints the wall time and the
# processor time (user + system) of the run in seconds.  On a shared machine
# the processor time is the steadier figure: waiting for a core counts in
# the wall time only.
timed_run() {
  local program=$1 dir=$2 answers=$3
  rm -f "$dir/etest.txt"
  local start end cpu
  start=$(now_ns)
  # `times` without a pipe, so that it reports this subshell's children.
  cpu=$(cd "$dir" && printf 'data.txt\n%s' "$answers" | "$program" > out.txt 2> err.txt &&
    times > times.txt && awk 'NR == 2 { print $1, $2 }' times.txt)
  end=$(now_ns)
  read -r user system <<< "$cpu"
  echo "$(seconds_between "$start" "$end") $(awk -v u="$(shell_seconds "$user")" \
    -v s="$(shell_seconds "$system")" 'BEGIN { printf "%.3f", u + s }')"
}

median() { tr ' ' '\n' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

meter_value() { awk -v key="$1" '$1 == key { print $2 }' "$2"; }

load() { awk '{ print $1, $2, $3 }' /proc/loadavg; }

echo "whole runs: interval-fit against interval-fit-reference"
echo "build: $build_dir"
echo "machine: $(nproc) cores, $(lscpu 2>/dev/null | awk -F: '/Model name/ { gsub(/^ +/, "", $2); print $2; exit }')"
echo "load average at start (1, 5, 15 min): $(load)"
echo "work directory: $work"
echo

if [[ -n $baseline_dir ]]; then
  baseline="$(cd "$baseline_dir" && pwd)/interval-fit"
  if [[ ! -x $baseline ]]; then
    echo "missing $baseline" >&2
    exit 2
  fi
  echo "against: $baseline"
  echo "threads: ${INTERVAL_THREADS:-"$(nproc), the number of cores"}"
  echo
  repeat=${REPEAT:-3}
  status=0
  table=()
  for set in "${sets[@]}"; do
    read -r name n p count seed estimate sample_calls repetitions lengths <<< "$set"
    [[ " $chosen_sets " == *" $name "* ]] || continue
    answers="$p"$'\n'"$estimate"$'\n'
    dir="$work/$name"
    mkdir -p "$dir/new" "$dir/old"
    "$simulate" --lengths "$lengths" --observations "$count" --order "$p" --seed "$seed" \
      --x-rate "$x_rate" --missing-rate "$missing_rate" --output "$dir/data.txt"
    cp "$dir/data.txt" "$dir/new/"
    cp "$dir/data.txt" "$dir/old/"
    new_walls=() new_cpus=() old_walls=() old_cpus=()
    for ((r = 0; r < repeat; ++r)); do
      echo "[$name] n = $n, p = $p, $count observations: run $((r + 1)) of $repeat..."
      read -r wall cpu <<< "$(timed_run "$fast" "$dir/new" "$answers")"
      new_walls+=("$wall")
      new_cpus+=("$cpu")
      # The earlier program's long runs once only, after the first repeat.
      if ((r == 0)) || [[ $(awk -v w="${old_walls[0]}" 'BEGIN { print (w < 20) }') == 1 ]]; then
        read -r wall cpu <<< "$(timed_run "$baseline" "$dir/old" "$answers")"
        old_walls+=("$wall")
        old_cpus+=("$cpu")
      fi
    done
    if cmp -s "$dir/new/out.txt" "$dir/old/out.txt" && cmp -s "$dir/new/etest.txt" "$dir/old/etest.txt"; then
      output=identical
    else
      output=DIFFERENT
      status=1
    fi
    # Calls and the reuse cache's memory, from the metered build when there.
    calls="-"
    cache="-"
    if [[ -x $fast_metered ]]; then
      mkdir -p "$dir/metered"
      cp "$dir/data.txt" "$dir/metered/"
      timed_run "$fast_metered" "$dir/metered" "$answers" > /dev/null
      calls=$(meter_value objective_calls "$dir/metered/err.txt")
      cache=$(awk -v b="$(meter_value cache_bytes "$dir/metered/err.txt")" 'BEGIN { printf "%.1f", b / 1048576 }')
    fi
    new_wall=$(echo "${new_walls[*]}" | median)
    new_cpu=$(echo "${new_cpus[*]}" | median)
    old_wall=$(echo "${old_walls[*]}" | median)
    old_cpu=$(echo "${old_cpus[*]}" | median)
    table+=("$(printf '| %s | %d | %d | %d | %s | %s | %s / %s | %s / %s | %.1f / %.1f | %s |' "$name" "$n" "$p" "$count" "$calls" "$cache" \
      "$old_wall" "$old_cpu" "$new_wall" "$new_cpu" \
      "$(awk -v o="$old_wall" -v f="$new_wall" 'BEGIN { print o / f }')" \
      "$(awk -v o="$old_cpu" -v f="$new_cpu" 'BEGIN { print o / f }')" "$output")")
  done
  echo
  echo "| set | n | p | M | calls | cache MiB | earlier s (wall / cpu) | this s (wall / cpu) | speed-up (wall / cpu) | output |"
  echo "|-----|---|---|---|-------|-----------|------------------------|---------------------|-----------------------|--------|"
  for row in "${table[@]}"; do echo "$row"; done
  echo
  echo "load average at end (1, 5, 15 min): $(load)"
  echo "outputs kept in $work"
  exit $status
fi

rows=()
details=()
status=0
for set in "${sets[@]}"; do
  read -r name n p count seed estimate sample_calls repetitions lengths <<< "$set"
  [[ " $chosen_sets " == *" $name "* ]] || continue
  answers="$p"$'\n'"$estimate"$'\n'
  dir="$work/$name"
  mkdir -p "$dir/fast" "$dir/metered" "$dir/reference" "$dir/sample"
  "$simulate" --lengths "$lengths" --observations "$count" --order "$p" --seed "$seed" \
    --x-rate "$x_rate" --missing-rate "$missing_rate" --output "$dir/data.txt"
  for sub in fast metered reference sample; do cp "$dir/data.txt" "$dir/$sub/"; done

  echo "[$name] n = $n, p = $p, $count observations: fast runs ($repetitions)..."
  walls=()
  cpus=()
  for ((r = 0; r < repetitions; ++r)); do
    read -r wall cpu <<< "$(timed_run "$fast" "$dir/fast" "$answers")"
    walls+=("$wall")
    cpus+=("$cpu")
  done
  fast_seconds=$(echo "${walls[*]}" | median)
  fast_cpu=$(echo "${cpus[*]}" | median)

  timed_run "$fast_metered" "$dir/metered" "$answers" > /dev/null
  calls=$(meter_value objective_calls "$dir/metered/err.txt")
  fast_objective=$(meter_value objective_seconds "$dir/metered/err.txt")
  multiply_adds=$(meter_value multiply_adds "$dir/metered/err.txt")
  if ! cmp -s "$dir/fast/out.txt" "$dir/metered/out.txt"; then
    echo "[$name] the metered fast run printed something else" >&2
    status=1
  fi

  echo "[$name] sampling $sample_calls step-by-step evaluations..."
  rm -f "$dir/sample/etest.txt"
  (cd "$dir/sample" && printf 'data.txt\n%s' "$answers" |
    INTERVAL_METER_LIMIT=$sample_calls "$reference_metered" > out.txt 2> err.txt)
  sampled=$(meter_value objective_calls "$dir/sample/err.txt")
  per_call=$(awk -v s="$(meter_value objective_seconds "$dir/sample/err.txt")" -v c="$sampled" \
    'BEGIN { printf "%.6f", s / c }')
  per_call_cpu=$(awk -v s="$(meter_value objective_cpu_seconds "$dir/sample/err.txt")" \
    -v c="$sampled" 'BEGIN { printf "%.6f", s / c }')
  estimate_seconds=$(awk -v t="$per_call" -v c="$calls" 'BEGIN { printf "%.1f", t * c }')
  estimate_cpu=$(awk -v t="$per_call_cpu" -v c="$calls" 'BEGIN { printf "%.1f", t * c }')

  if [[ " $measured_sets " == *" $name "* ]]; then
    echo "[$name] reference run in full (estimated ${estimate_seconds} s)..."
    read -r reference_seconds reference_cpu <<< "$(timed_run "$reference" "$dir/reference" "$answers")"
    kind=measured
    if cmp -s "$dir/fast/out.txt" "$dir/reference/out.txt" &&
       cmp -s "$dir/fast/etest.txt" "$dir/reference/etest.txt"; then
      output=identical
    else
      output=DIFFERENT
      status=1
    fi
  else
    reference_seconds=$estimate_seconds
    reference_cpu=$estimate_cpu
    kind=estimated
    output="not run"
  fi
  ratio=$(awk -v r="$reference_seconds" -v f="$fast_seconds" 'BEGIN { printf "%.0f", r / f }')
  cpu_ratio=$(awk -v r="$reference_cpu" -v f="$fast_cpu" 'BEGIN { printf "%.0f", r / f }')
  rows+=("$(printf '| %s | %d | %d | %d | %d | %s / %s | %.1f / %.1f | %s / %s (%s) | %s / %s | %s / %s | %s |' \
    "$name" "$n" "$p" "$count" "$calls" "$fast_seconds" "$fast_cpu" \
    "$(awk -v t="$per_call" 'BEGIN { print t * 1000 }')" \
    "$(awk -v t="$per_call_cpu" 'BEGIN { print t * 1000 }')" "$reference_seconds" "$reference_cpu" \
    "$kind" "$estimate_seconds" "$estimate_cpu" "$ratio" "$cpu_ratio" "$output")")
  details+=("$(printf '%s: fast objective %.3f s in all, %.3f ms and %.0f multiply-adds per call' \
    "$name" "$fast_objective" "$(awk -v s="$fast_objective" -v c="$calls" 'BEGIN { print s / c * 1000 }')" \
    "$(awk -v m="$multiply_adds" -v c="$calls" 'BEGIN { print m / c }')")")
done

echo
echo "| set | n | p | M | calls | fast s (wall / cpu) | ref/call ms (wall / cpu) | reference s (wall / cpu) | ref/call x calls s (wall / cpu) | ratio (wall / cpu) | output |"
echo "|-----|---|---|---|-------|---------------------|-------------|--------------------------|--------------------|--------------------|--------|"
for row in "${rows[@]}"; do echo "$row"; done
echo
for line in "${details[@]}"; do echo "$line"; done
echo
echo "load average at end (1, 5, 15 min): $(load)"
echo "outputs kept in $work"
exit $status
