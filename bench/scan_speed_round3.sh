#!/usr/bin/env bash
# The third round's targets, side by side against an earlier build, in one
# run: interval-scan on the n18 set (18 intervals, 2000 observations drawn
# at order 3, the a.txt of the speed sets) and interval-fit on the n200 set
# ((d): 200 intervals, 500 observations, order 1).
#
#   bench/scan_speed_round3.sh BASELINE_BUILD_DIR [BUILD_DIR]
#
#   BASELINE_BUILD_DIR  holds the earlier interval-scan and interval-fit
#                       (for example a release build of dd8eadb)
#   BUILD_DIR           holds this interval-scan, interval-fit and
#                       interval-simulate (default build/release)
#
# Environment:
#   REPEAT=N      runs of each command, the median wall time reported (default 1)
#   SKIP_FIT=1    leaves out the interval-fit row (its earlier run takes long)
#   FIT_BASELINE=DIR  holds the interval-fit to compare with instead of
#                 BASELINE_BUILD_DIR's (for example a build of 013560e)
#
# Each row gives the wall and user CPU time of both builds and their ratio
# (wall, the targets' measure; on a shared machine user CPU is the steadier
# figure, and the load average is printed before every row).  The scans'
# results are compared: log-likelihoods to 1e-9 relative, lengths, standard
# errors and interval ends to 1e-6 (relative above 1); interval-fit's standard output and
# etest.txt byte for byte.  Then this build's scan CSV is compared byte for
# byte across INTERVAL_THREADS=1, 2 and 4, and the order-40 scan of this
# build is timed on one thread against two.
set -euo pipefail

old_dir=$(realpath "${1:?usage: bench/scan_speed_round3.sh BASELINE_BUILD_DIR [BUILD_DIR]}")
new_dir=$(realpath "${2:-build/release}")
fit_dir=$(realpath "${FIT_BASELINE:-$old_dir}")
repeat=${REPEAT:-1}
for program in "$new_dir/interval-scan" "$new_dir/interval-fit" "$new_dir/interval-simulate" \
  "$old_dir/interval-scan" "$fit_dir/interval-fit"; do
  [[ -x $program ]] || { echo "no program $program: build it first" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$new_dir/interval-simulate" --order 3 --observations 2000 --seed 18 --x-rate 0.05 \
  --missing-rate 0.02 --output "$work/a.txt" --lengths \
  0.21,0.33,0.18,0.27,0.35,0.15,0.24,0.30,0.19,0.26,0.32,0.17,0.29,0.22,0.34,0.16,0.28,0.25
lengths_200=$(awk 'BEGIN { for (i = 0; i < 200; ++i) printf "%s%.2f", (i ? "," : ""), 0.15 + 0.2 * ((i * 37) % 100) / 100 }')
"$new_dir/interval-simulate" --order 1 --observations 500 --seed 200 --x-rate 0.05 \
  --missing-rate 0.02 --output "$work/d.txt" --lengths "$lengths_200"

load() { cut -d' ' -f1-3 /proc/loadavg; }
median() { tr ' ' '\n' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Runs a command REPEAT times in DIR, its output to out.txt and err.txt
# there (standard input from in.txt when it exists); prints the median
# wall time and the user time of that run.
timed() {
  local dir=$1; shift
  local runs=()
  for ((r = 0; r < repeat; ++r)); do
    local input=/dev/null
    [[ -f $dir/in.txt ]] && input=$dir/in.txt
    (cd "$dir" && /usr/bin/time -f "%e %U" -o "$work/time" "$@" < "$input" > out.txt 2> err.txt) ||
      { echo "failed in $dir: $*" >&2; cat "$dir/err.txt" >&2; exit 1; }
    runs+=("$(cat "$work/time")")
  done
  printf '%s\n' "${runs[@]}" | sort -g | awk '{ v[NR] = $0 } END { print v[int((NR + 1) / 2)] }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / (b > 0.005 ? b : 0.005) }'; }

# Compares two scan CSVs row by row: the worst relative difference of the
# log-likelihoods (column 5) and the worst difference of the other numbers,
# absolute up to 1 and relative above (the 'total' rows add 18 lengths, so
# their rounding is that of numbers near 5); "ok" when within 1e-9 and 1e-6,
# else "DIFFERS".  Columns the newer build adds after the earlier build's
# (parameter, file) are left out, and so are two changes made on purpose,
# each named in the verdict: a Wald interval of q that would leave [0, 1]
# is now NA, and where the newer fit is higher the earlier one missed the
# maximum (its lengths then differ too).
compare_csv() {
  awk -F, 'NR == FNR { row[FNR] = $0; rows = FNR; next }
    { if (!(FNR in row)) { text = 1; next }
      n = split(row[FNR], a, ",")
      if (NF < n) text = 1
      for (k = 1; k <= n; ++k) {
        if (a[k] == $k) continue
        if ($2 == "escape" && (k == 7 || k == 8) && $k == "NA") { wald_q = 1; continue }
        if (a[k] !~ /^-?[0-9.e+-]+$/ || $k !~ /^-?[0-9.e+-]+$/) { text = 1; continue }
        d = a[k] - $k; if (d < 0) d = -d
        if (k == 5) {
          m = a[k] < 0 ? -a[k] : a[k]; d /= (m > 0 ? m : 1)
          if (d > 1e-9 && $k > a[k]) { if (d > higher) higher = d; continue }
          if (d > loglik) loglik = d
        }
        else { m = a[k] < 0 ? -a[k] : a[k]; if (m > 1) d /= m; if (d > other) other = d }
      }
      seen = FNR }
    END {
      if (seen != rows) text = 1
      verdict = (text || loglik > 1e-9 || (other > 1e-6 && !higher)) ? "DIFFERS" : "ok"
      printf "%s (log-lik %.1e rel, others %.1e%s%s%s)", verdict, loglik, other,
        text ? ", rows differ" : "", wald_q ? "; q Wald ends outside [0, 1] now NA" : "",
        higher ? sprintf("; new maximum higher by %.1e rel, the earlier missed it", higher) : ""
    }' "$1" "$2"
}

echo "round 3 speed: $new_dir against $old_dir (interval-fit against $fit_dir)"
echo "machine: $(nproc) cores, $(lscpu 2>/dev/null | awk -F: '/Model name/ { gsub(/^ +/, "", $2); print $2; exit }')"
echo "runs per command: $repeat (median wall)"
echo
printf '| target | load at start | old wall s | old user s | new wall s | new user s | wall ratio | results |\n'
printf '|:---|---:|---:|---:|---:|---:|---:|:---|\n'

# One scan of a.txt with the given options by both builds.
scan_row() {
  local label=$1; shift
  local loaded old new
  loaded=$(load)
  rm -rf "$work/old" "$work/new"
  mkdir -p "$work/old" "$work/new"
  old=$(timed "$work/old" "$old_dir/interval-scan" ../a.txt --csv scan.csv "$@")
  new=$(timed "$work/new" "$new_dir/interval-scan" ../a.txt --csv scan.csv "$@")
  read -r old_wall old_user <<< "$old"
  read -r new_wall new_user <<< "$new"
  printf '| scan, a.txt, %s | %s | %s | %s | %s | %s | %sx | %s |\n' "$label" "$loaded" \
    "$old_wall" "$old_user" "$new_wall" "$new_user" "$(ratio "$old_wall" "$new_wall")" \
    "$(compare_csv "$work/old/scan.csv" "$work/new/scan.csv")"
}

scan_row "orders 1-6, default" --orders 1-6
scan_row "orders 1-15, --escape" --orders 1-15 --escape
scan_row "order 40, --intervals wald" --orders 40 --intervals wald

if [[ ${SKIP_FIT:-0} != 1 ]]; then
  loaded=$(load)
  rm -rf "$work/old" "$work/new"
  mkdir -p "$work/old" "$work/new"
  for side in old new; do
    cp "$work/d.txt" "$work/$side/data.txt"
    printf 'data.txt\n1\n0.5\n' > "$work/$side/in.txt"
  done
  read -r old_wall old_user <<< "$(timed "$work/old" "$fit_dir/interval-fit")"
  read -r new_wall new_user <<< "$(timed "$work/new" "$new_dir/interval-fit")"
  same="DIFFERS"
  if cmp -s "$work/old/out.txt" "$work/new/out.txt" && cmp -s "$work/old/etest.txt" "$work/new/etest.txt"; then
    same="bytes identical"
  fi
  printf '| interval-fit (d), n = 200, p = 1 | %s | %s | %s | %s | %s | %sx | %s |\n' "$loaded" \
    "$old_wall" "$old_user" "$new_wall" "$new_user" "$(ratio "$old_wall" "$new_wall")" "$same"
fi

echo
echo "this build, order 40 --intervals wald, one thread against two (load $(load)):"
rm -rf "$work/threads"
for threads in 1 2; do
  mkdir -p "$work/threads/$threads"
  read -r wall user <<< "$(INTERVAL_THREADS=$threads timed "$work/threads/$threads" \
    "$new_dir/interval-scan" ../../a.txt --orders 40 --intervals wald --csv scan.csv)"
  echo "  $threads thread(s): wall $wall s, user $user s"
  eval "wall_$threads=$wall"
done
echo "  two threads against one: $(ratio "$wall_1" "$wall_2")x (target 1.7x)"

echo
echo "this build, the scan's CSV across INTERVAL_THREADS=1, 2, 4 (orders 1-6, --escape):"
for threads in 1 2 4; do
  mkdir -p "$work/threads/csv$threads"
  INTERVAL_THREADS=$threads timed "$work/threads/csv$threads" "$new_dir/interval-scan" \
    ../../a.txt --orders 1-6 --escape --csv scan.csv > /dev/null
done
if cmp -s "$work/threads/csv1/scan.csv" "$work/threads/csv2/scan.csv" &&
  cmp -s "$work/threads/csv1/scan.csv" "$work/threads/csv4/scan.csv"; then
  echo "  identical bytes"
else
  echo "  DIFFER"
fi
echo
echo "load average at end: $(load)"
