#!/usr/bin/env bash
# Checks interval-scan --error on simulated data with misread codes: each R
# or N code read as the other with probability e (interval-simulate
# --error-rate).
#
#  1. The order and the total: at each e, data sets of 2,000 observations
#     drawn at two truths and scanned with and without --error (Wald
#     intervals only); how often the true order is chosen, the mean chosen
#     order, and the mean bias of the total length at the true order.
#  2. Coverage: data sets with R and N codes only, e = 0.01, fitted at the
#     true order with --error; the share of e's and of the total's 95%
#     profile intervals that contain the truth should lie within 93-97%.
#  3. X codes: data sets with 5% X codes, e = 0.02 and q = 0.15, fitted at
#     the true order with --error and --escape; the means of e, q and the
#     total against the truth, and how often their profile intervals hold
#     it.  The misread form is an approximation where X codes are present.
#  4. The test of e = 0: its size on data without misreads (the share of
#     p-values below 0.05 should be at most about 5%, half the fits putting
#     e on 0) and its power at small rates.
#
# Usage: bench/validate_misreads.sh [BUILD_DIR] > bench/validate_misreads.md
#   REPLICATES (default 20, part 1), COVERAGE_REPLICATES (default 500),
#   X_REPLICATES (default 100), TEST_REPLICATES (default 400, part 4),
#   PARTS (default "1 2 3 4") and JOBS (default 2) may be set in the
#   environment.
# Exit status 0 when the coverage checks pass, 1 when one fails.
set -euo pipefail

replicates=${REPLICATES:-20}
coverage_replicates=${COVERAGE_REPLICATES:-500}
x_replicates=${X_REPLICATES:-100}
test_replicates=${TEST_REPLICATES:-400}
parts=${PARTS:-1 2 3 4}
# simulate, scan, work, jobs and run_replicates.
source "$(dirname "$0")/replicates.sh" "${1:-build/release}"

# One replicate of part 1: prints
#   mode,seed,best order,total at the true order
# for the scan without (plain) and with --error.
run_replicate() {
  local order=$1 intervals=$2 length=$3 highest=$4 rate=$5 seed=$6
  local data="$work/choice-$order-$rate-$seed.txt"
  "$simulate" --order "$order" --intervals "$intervals" --lengths "$length" \
    --observations 2000 --error-rate "$rate" --seed "$seed" --output "$data" -q
  local mode
  for mode in plain error; do
    local option=""
    [[ $mode == error ]] && option=--error
    # shellcheck disable=SC2086
    "$scan" "$data" --orders "1-$highest" $option --ci wald --quiet --json - 2>/dev/null |
      awk -v order="$order" -v mode="$mode" -v seed="$seed" '
        /"order": [0-9]+, "log_likelihood"/ {
          match($0, /"order": [0-9]+/); o = substr($0, RSTART + 9, RLENGTH - 9) + 0
          if (o == order) { match($0, /"total_length": [^,]+/); total = substr($0, RSTART + 16, RLENGTH - 16) }
        }
        /"best_order":/ { match($0, /[0-9]+/); best = substr($0, RSTART, RLENGTH) }
        END { print mode "," seed "," best "," total }'
  done
  rm -f "$data"
}

# One replicate of part 2: prints
#   seed,e profile lower,upper,total profile lower,upper
run_coverage_replicate() {
  local order=$1 intervals=$2 length=$3 rate=$4 seed=$5
  local data="$work/cover-$seed.txt" csv="$work/cover-$seed.csv"
  "$simulate" --order "$order" --intervals "$intervals" --lengths "$length" \
    --observations 2000 --error-rate "$rate" --seed "$((1000000 + seed))" --output "$data" -q
  "$scan" "$data" --orders "$order" --error --quiet --csv "$csv" > /dev/null 2>&1
  awk -F, -v seed="$seed" '
    $2 == "error" { el = $9; eu = $10 }
    $2 == "total" { tl = $9; tu = $10 }
    END { print seed "," el "," eu "," tl "," tu }' "$csv"
  rm -f "$data" "$csv"
}
# One replicate of part 3: prints
#   seed,e,e lower,e upper,q,q lower,q upper,total,total lower,total upper
run_x_replicate() {
  local seed=$1
  local data="$work/x-$seed.txt" csv="$work/x-$seed.csv"
  "$simulate" --order 4 --intervals 12 --lengths 0.15 --observations 2000 --x-rate 0.05 \
    --escape-fraction 0.15 --error-rate 0.02 --seed "$((2000000 + seed))" --output "$data" -q
  "$scan" "$data" --orders 4 --error --escape --quiet --csv "$csv" > /dev/null 2>&1
  awk -F, -v seed="$seed" '
    $2 == "error" { e = $3 "," $9 "," $10 }
    $2 == "escape" { q = $3 "," $9 "," $10 }
    $2 == "total" { t = $3 "," $9 "," $10 }
    END { print seed "," e "," q "," t }' "$csv"
  rm -f "$data" "$csv"
}
# One replicate of part 4: prints
#   seed,e,p-value
# of the test of e = 0 at the true order, from the table's last line.
run_test_replicate() {
  local rate=$1 seed=$2
  local data="$work/t-$rate-$seed.txt"
  "$simulate" --order 4 --intervals 12 --lengths 0.15 --observations 2000 \
    --error-rate "$rate" --seed "$((3000000 + seed))" --output "$data" -q
  "$scan" "$data" --orders 4 --error --ci wald --quiet 2>/dev/null |
    awk -v seed="$seed" '/^Misread rate e by order/ { on = 1; next }
      on && $1 ~ /^[0-9]+$/ { print seed "," $2 "," $NF }'
  rm -f "$data"
}
export -f run_replicate run_coverage_replicate run_x_replicate run_test_replicate

started=$(date +%s)
status=0

echo "# interval-scan --error on simulated data with misreads"
echo
echo "Generated by \`bench/validate_misreads.sh BUILD_DIR > bench/validate_misreads.md\` ($(date -u +%Y-%m-%d)),"
echo "with the programs of a release build."
echo
if [[ " $parts " == *" 1 "* ]]; then
echo "## 1. The order chosen and the total length, with and without --error"
echo
echo "$replicates data sets per row, 2,000 observations each, scanned at orders 1 to 2p (1-12 at p = 8),"
echo "Wald intervals only.  Bias: the mean total length at the true order against the true total."
echo
echo "| truth | e | true order chosen, without | with --error | mean chosen order, without | with --error | total bias at the true order, without | with --error |"
echo "|---|---|---|---|---|---|---|---|"
for setting in "4 12 0.15 8" "8 20 0.08 12"; do
  read -r order intervals length highest <<< "$setting"
  for rate in 0 0.005 0.01 0.02; do
    run_replicates "$replicates" "$order" "$intervals" "$length" "$highest" "$rate" > "$work/choice.csv"
    awk -F, -v order="$order" -v intervals="$intervals" -v len="$length" -v rate="$rate" '
      { n[$1]++; chosen[$1] += ($3 == order); sum[$1] += $3; bias[$1] += $4 / (intervals * len) - 1 }
      END {
        printf "| p = %d, %d intervals of %s | %s | %d/%d | %d/%d | %.2f | %.2f | %+.1f%% | %+.1f%% |\n",
          order, intervals, len, rate, chosen["plain"], n["plain"], chosen["error"], n["error"],
          sum["plain"] / n["plain"], sum["error"] / n["error"],
          100 * bias["plain"] / n["plain"], 100 * bias["error"] / n["error"]
      }' "$work/choice.csv"
  done
done
echo
fi
if [[ " $parts " == *" 2 "* ]]; then
echo "## 2. Coverage of the 95% profile intervals of e and of the total"
echo
echo "p = 4, 12 intervals of 0.15 (total 1.8), e = 0.01, R and N codes only, 2,000 observations,"
echo "$coverage_replicates data sets fitted at p = 4 with --error.  Target 93-97%."
echo
run_replicates_of() {
  local count=$1
  shift
  seq 1 "$count" | xargs -P "$jobs" -I{} bash -c "run_coverage_replicate $* {}"
}
run_replicates_of "$coverage_replicates" 4 12 0.15 0.01 > "$work/cover.csv"
echo "| quantity | truth | intervals holding it | coverage |"
echo "|---|---|---|---|"
while read -r name truth lower upper; do
  line=$(awk -F, -v t="$truth" -v l="$lower" -v u="$upper" '
    $l != "NA" && $u != "NA" { n++; inside += ($l <= t && t <= $u) }
    END { printf "%d/%d %.1f", inside, n, 100 * inside / n }' "$work/cover.csv")
  read -r counted share <<< "$line"
  echo "| $name | $truth | $counted | $share% |"
  awk -v s="$share" 'BEGIN { exit !(s >= 93 && s <= 97) }' || status=1
done <<< "e 0.01 2 3
total 1.8 4 5"
echo
fi
if [[ " $parts " == *" 3 "* ]]; then
echo "## 3. With X codes: e, q and the total"
echo
echo "p = 4, 12 intervals of 0.15 (total 1.8), 5% X codes, e = 0.02, q = 0.15, 2,000 observations,"
echo "$x_replicates data sets fitted at p = 4 with --error --escape."
echo
seq 1 "$x_replicates" | xargs -P "$jobs" -I{} bash -c "run_x_replicate {}" > "$work/x.csv"
echo "| quantity | truth | mean estimate | profile intervals holding it |"
echo "|---|---|---|---|"
while read -r name truth column; do
  awk -F, -v name="$name" -v t="$truth" -v c="$column" '
    $c != "NA" { n++; sum += $c }
    $(c + 1) != "NA" && $(c + 2) != "NA" { m++; inside += ($(c + 1) <= t && t <= $(c + 2)) }
    END { printf "| %s | %s | %.4f | %d/%d |\n", name, t, sum / n, inside, m }' "$work/x.csv"
done <<< "e 0.02 2
q 0.15 5
total 1.8 8"
echo
fi
if [[ " $parts " == *" 4 "* ]]; then
echo "## 4. The test of e = 0: size and power"
echo
echo "p = 4, 12 intervals of 0.15, R and N codes only, 2,000 observations, fitted at p = 4 with"
echo "--error; p = 1/2 P(chi-square_1 > LR).  Size: at most about 5% below 0.05."
echo
echo "| data drawn with | data sets | e fitted as 0 | p < 0.05 | p < 0.01 |"
echo "|---|---|---|---|---|"
for rate in 0 0.0025 0.005 0.01; do
  count=$test_replicates
  [[ $rate != 0 ]] && count=$(( test_replicates / 4 ))
  seq 1 "$count" | xargs -P "$jobs" -I{} bash -c "run_test_replicate $rate {}" > "$work/t.csv"
  awk -F, -v rate="$rate" '
    { n++; zero += ($2 + 0 == 0); five += ($3 < 0.05); one += ($3 < 0.01) }
    END { printf "| e = %s | %d | %.1f%% | %.1f%% | %.1f%% |\n", rate, n, 100 * zero / n,
            100 * five / n, 100 * one / n }' "$work/t.csv"
done
echo
fi
echo "Took $(( $(date +%s) - started )) s with $jobs jobs at once."
exit "$status"
