# Shared by the validation scripts, which source it with their BUILD_DIR
# argument: finds interval-simulate and interval-scan there, makes a scratch
# folder removed on exit, and runs replicates in parallel.
#
#   simulate, scan   the programs, as absolute paths (exported)
#   work             the scratch folder (exported)
#   jobs             replicates run at once (JOBS, default 2)
#   run_replicates COUNT ARG...
#                    runs `run_replicate ARG... SEED` for SEED = 1..COUNT,
#                    `jobs` at a time; the caller defines run_replicate and
#                    exports it with `export -f run_replicate`.

build_dir=${1:-build/release}
jobs=${JOBS:-2}
simulate="$build_dir/interval-simulate"
scan="$build_dir/interval-scan"
for program in "$simulate" "$scan"; do
  [[ -x $program ]] || { echo "no program $program: build it first" >&2; exit 1; }
done
simulate=$(realpath "$simulate")
scan=$(realpath "$scan")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export simulate scan work

run_replicates() {
  local count=$1
  shift
  local arguments
  arguments=$(printf "'%s' " "$@")
  seq 1 "$count" | xargs -P "$jobs" -I{} bash -c "run_replicate $arguments{}"
}
