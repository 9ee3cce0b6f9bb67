#!/usr/bin/env bash
# interval-scan against an older build of it, side by side on the same data:
#
#   n18   18 intervals, 2000 observations drawn at order 3 (the n18 set of
#         bench/whole_run.sh), orders 1-6 with Wald intervals only;
#   n200  200 intervals, 500 observations drawn at order 1, order 1 alone
#         with Wald intervals only (the fit and the information).
#
# Each run's wall time and user CPU time are printed (on a shared machine
# the CPU time is the steadier figure), with the best log-likelihood each
# program reaches.  The older build has no --intervals option: it computes
# Wald intervals only, so the two runs do the same work.
#
# Usage: bench/scan_speed.sh [BUILD_DIR [OLD_BUILD_DIR]]
#   BUILD_DIR      holds interval-scan and interval-simulate (default build/release)
#   OLD_BUILD_DIR  holds the interval-scan to compare with
#                  (default /work/wt/baseline-013560e/build/release)
#   SETS="n18 n200" chooses the sets (default both).
set -euo pipefail

build_dir=$(realpath "${1:-build/release}")
old_dir=$(realpath "${2:-/work/wt/baseline-013560e/build/release}")
sets=${SETS:-"n18 n200"}
for program in "$build_dir/interval-scan" "$build_dir/interval-simulate" "$old_dir/interval-scan"; do
  [[ -x $program ]] || { echo "no program $program: build it first" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a scan; prints "wall user best-log-likelihood".
timed_scan() {
  local program=$1 data=$2; shift 2
  /usr/bin/time -f "%e %U" -o "$work/time" "$program" "$data" "$@" > "$work/table" 2> /dev/null
  local best
  best=$(awk '/^Best order/ { gsub(/[()]/, ""); print $NF }' "$work/table")
  echo "$(cat "$work/time") $best"
}

echo "interval-scan: $build_dir against $old_dir"
echo "machine: $(nproc) cores; load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
printf '| set | command | old wall s | old user s | new wall s | new user s | wall ratio | user ratio | old best log-lik | new best log-lik |\n'
printf '|:---|:---|---:|---:|---:|---:|---:|---:|---:|---:|\n'
for set in $sets; do
  case $set in
    n18)
      "$build_dir/interval-simulate" --order 3 --observations 2000 --seed 18 --x-rate 0.05 \
        --missing-rate 0.02 --output "$work/$set.txt" --lengths \
        0.21,0.33,0.18,0.27,0.35,0.15,0.24,0.30,0.19,0.26,0.32,0.17,0.29,0.22,0.34,0.16,0.28,0.25
      options=(--orders 1-6) ;;
    n200)
      "$build_dir/interval-simulate" --order 1 --observations 500 --seed 200 --intervals 200 \
        --lengths 0.25 --output "$work/$set.txt"
      options=(--orders 1) ;;
    *) echo "unknown set $set" >&2; exit 2 ;;
  esac
  read -r old_wall old_user old_best <<< "$(timed_scan "$old_dir/interval-scan" "$work/$set.txt" "${options[@]}")"
  read -r new_wall new_user new_best <<< "$(timed_scan "$build_dir/interval-scan" "$work/$set.txt" "${options[@]}" --intervals wald)"
  ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.0f", a / (b > 0.005 ? b : 0.005) }'; }
  printf '| %s | `%s --intervals wald` | %s | %s | %s | %s | %sx | %sx | %s | %s |\n' "$set" \
    "${options[*]}" "$old_wall" "$old_user" "$new_wall" "$new_user" \
    "$(ratio "$old_wall" "$new_wall")" "$(ratio "$old_user" "$new_user")" "$old_best" "$new_best"
done
echo
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
