#!/usr/bin/env bash
# How often the extra starts of each order's fit win: data simulated at
# several true orders, each scanned at orders 1-20 with Wald intervals,
# and the start each fit came from counted (from the JSON summary's
# "start").  Also the largest gain in log-likelihood an extra start gave
# over the fit from the estimate alone, measured by a second scan at each
# order with the default estimate.
#
#   bench/validate_starts.sh [BUILD_DIR] [REPLICATES]
set -euo pipefail
source "$(dirname "$0")/replicates.sh"
replicates=${2:-4}

run_replicate() {
  local order=$1 intervals=$2 rows=$3 length=$4 seed=$5
  local data="$work/p$order-$seed.txt"
  "$simulate" --order "$order" --intervals "$intervals" --observations "$rows" \
    --lengths "$length" --x-rate 0.05 --missing-rate 0.05 --seed "$seed" --output "$data" -q
  "$scan" "$data" --orders 1-20 --ci wald --quiet --json - 2>/dev/null |
    grep -o '"order": [0-9]*, "log_likelihood": [^,]*, "converged": [a-z]*, "failed": [a-z]*, "start": "[^"]*"' |
    sed "s/^/truth $order: /" > "$work/p$order-$seed.starts"
}
export -f run_replicate

for setting in "1 12 800 0.3" "4 12 800 0.15" "8 16 800 0.08"; do
  # shellcheck disable=SC2086
  run_replicates "$replicates" $setting
done

cat "$work"/*.starts > "$work/all"
echo "| start that won | fits | share |"
echo "|---|---:|---:|"
total=$(wc -l < "$work/all")
sed 's/.*"start": "\([^"]*\)"/\1/' "$work/all" | sort | uniq -c | sort -rn |
  awk -v total="$total" '{count=$1; $1=""; sub(/^ /, ""); printf "| %s | %d | %.1f%% |\n", $0, count, 100 * count / total}'
echo
echo "$total fits: $replicates data sets at each of true orders 1, 4 and 8, orders 1-20 each."
