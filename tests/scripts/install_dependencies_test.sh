#!/bin/sh
# The package script against stand-ins for dpkg-query, apt-get, id and sudo
# on a PATH of their own: nothing is installed when everything is present,
# only the missing packages are installed (through sudo when not root), and
# without apt the names are printed with a non-zero status.
set -eu
script="$1/scripts/install-dependencies"
bin="$(mktemp -d)"
trap 'rm -rf "$bin"' EXIT
for tool in sh env grep cat dirname; do ln -s "$(command -v $tool)" "$bin/$tool"; done
log="$bin/apt.log"
fail() { echo "FAIL: $*" >&2; exit 1; }

# dpkg-query says "installed" for every package except those in $bin/absent.
cat > "$bin/dpkg-query" <<'STUB'
#!/bin/sh
for package; do :; done
if grep -qx "$package" "$(dirname "$0")/absent"; then exit 1; fi
printf 'install ok installed'
STUB
cat > "$bin/apt-get" <<'STUB'
#!/bin/sh
echo "apt-get $*" >> "$(dirname "$0")/apt.log"
STUB
printf '#!/bin/sh\necho "sudo" >> "$(dirname "$0")/apt.log"\nexec "$@"\n' > "$bin/sudo"
printf '#!/bin/sh\necho 1000\n' > "$bin/id"
chmod +x "$bin"/dpkg-query "$bin"/apt-get "$bin"/sudo "$bin"/id

: > "$bin/absent"
PATH="$bin" sh "$script" --tests > /dev/null || fail "all present: non-zero status"
[ ! -e "$log" ] || fail "all present, yet apt-get ran: $(cat "$log")"

printf 'libcli11-dev\nlibgtest-dev\n' > "$bin/absent"
PATH="$bin" sh "$script" > /dev/null || fail "one missing: non-zero status"
[ "$(cat "$log")" = "sudo
apt-get update -qq
sudo
apt-get install -y -qq --no-install-recommends libcli11-dev" ] ||
  fail "programs only, libcli11-dev missing: $(cat "$log")"

rm "$bin/apt-get" "$log"
if PATH="$bin" sh "$script" 2> "$bin/err"; then fail "no apt-get, yet status 0"; fi
grep -q "libcli11-dev" "$bin/err" || fail "no apt-get: the names are not printed"
echo "install-dependencies: all cases pass"
