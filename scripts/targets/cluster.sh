#!/bin/bash
# The README's multi-machine recipe, run as printed against two real ssh
# hosts. Each host is a new Debian 12 root (mmdebstrap) with openssh-server,
# rsync and the project's own .deb installed, serving sshd on a loopback
# address (host1 127.0.0.2, host2 127.0.0.3) in a mount and PID namespace of
# its own, all inside a network namespace made for the run, so that nothing
# reaches any other address. The run's own key, known_hosts and ssh
# configuration live in a temporary folder; nothing is written to ~/.ssh.
#
# On a folder of awkward names (spaces, quotes, $HOME, a backtick, &, ;, *, a
# tab, a trailing space, accents and emoji, a leading -) and two RGB images
# that must fail: every good file must be converted to the bytes of a local
# run, each failing file named with its message, the exit status must count
# the failures, and nothing may be left on the hosts or beside the inputs.
# Then host2's sshd is killed part way through a run: every good file must be
# converted by the others or named as not converted, with a failure status,
# and the README's recovery command must finish the job, converting only what
# is missing.
#   scripts/targets/cluster.sh [RECIPE_FILE]   (default: the one the README prints)
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh mmdebstrap rsync openssh-client iproute2 >/dev/null
. scripts/lib.sh
scripts/build.sh -DZOLT_TESTS=ON >/dev/null  # with the image maker
(cd build && cpack -G DEB >/dev/null)
deb=$(ls "$PWD"/build/zolt_*_amd64.deb)

# The root both hosts start from, kept between runs; the .deb goes in fresh.
cache=$PWD/build-cluster
mkdir -p "$cache"
if [ ! -f "$cache/base.tar" ]; then
  # (mmdebstrap takes the format from the name: a tarball ends in .tar.)
  rm -rf "$cache/base.part.tar"
  new_root "$cache/base.part.tar" openssh-server,rsync,libtiff6,perl
  mv "$cache/base.part.tar" "$cache/base.tar"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zolt-cluster.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The README's recipe (the block that names --sshlogin), unless one is given.
if [ -n "${1:-}" ]; then
  cp "$1" "$work/recipe"
else
  readme_blocks "Converting many files" '```sh' "$work/readme" >/dev/null
  cp "$(grep -l -- --sshlogin "$work"/readme*)" "$work/recipe" 2>/dev/null || true
fi
grep -q -- --sshlogin "$work/recipe" || { echo "no multi-machine recipe in the README"; exit 1; }
for h in host1 host2; do
  mkdir "$work/$h"
  tar -C "$work/$h" -xf "$cache/base.tar"
  cp "$deb" "$work/$h/tmp/zolt.deb"
  chroot "$work/$h" dpkg -i /tmp/zolt.deb >/dev/null
  rm "$work/$h/tmp/zolt.deb"
done

# Everything from here runs in namespaces of the run's own: a network with
# only its loopback, and PIDs that all end with it.
cat >"$work/inside.sh" <<'INSIDE'
src=$1 work=$2
. "$src/scripts/lib.sh"
mount --make-rprivate /
mount -t proc proc /proc  # this PID namespace's processes, for ps (parallel asks it)
ip link set lo up
build=$src/build
fail() { echo "FAIL: $*" >&2; exit 1; }

# The run's key, and one sshd per host, each in a mount and PID namespace of
# its own, chrooted into its root.
ssh-keygen -q -t ed25519 -N '' -f "$work/key"
pids=()
# (unshare passes no signal on: killed, it takes its namespace with it.)
stop() { for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null || true; done; }
trap stop EXIT
address() { case $1 in host1) echo 127.0.0.2 ;; host2) echo 127.0.0.3 ;; esac; }
start_host() {
  local h=$1 root=$work/$1
  mkdir -p "$root/root/.ssh" "$root/run/sshd"
  cp "$work/key.pub" "$root/root/.ssh/authorized_keys"
  chroot "$root" ssh-keygen -A >/dev/null
  unshare --mount --pid --fork --kill-child sh -c '
    mount -t proc proc "$1/proc" && exec chroot "$1" /usr/sbin/sshd -D -e -o ListenAddress="$2" \
      -o PermitRootLogin=prohibit-password -o PasswordAuthentication=no -o UseDNS=no' sh "$root" "$(address "$h")" \
    2>>"$work/$h.sshd.log" &
  pids+=($!)
  echo "$!" >"$work/$h.pid"
  disown $!  # its end, when killed, is no news
}
start_host host1
start_host host2
{
  for h in host1 host2; do
    printf 'Host %s\n  HostName %s\n' "$h" "$(address "$h")"
  done
  printf 'Host *\n  User root\n  IdentityFile %s\n  IdentitiesOnly yes\n  UserKnownHostsFile %s\n' "$work/key" "$work/known_hosts"
  printf '  StrictHostKeyChecking accept-new\n  BatchMode yes\n  ConnectTimeout 5\n'
} >"$work/ssh_config"
# This machine, ":" in the host list, runs the build's zoltenc.
mkdir "$work/bin"
ln -s "$build/zoltenc" "$work/bin/zoltenc"
export PARALLEL_SSH="ssh -F $work/ssh_config" HOME=$work PATH="$work/bin:$PATH"
for h in host1 host2; do
  for i in $(seq 50); do $PARALLEL_SSH "$h" true 2>/dev/null && break; sleep 0.1; done
  $PARALLEL_SSH "$h" 'zoltenc --version && rsync --version | head -1' || fail "$h does not answer"
done

# The folder: names that break shell quoting, and two images that must fail.
mapfile -t names <<<"$awkward_names"
names+=("\$HOME.tif" "back\`tick.tif" "a&b.tif" "semi;colon.tif" "star*.tif" "tab	name.tif" "trailing .tif" "été 😀.tif" 'dq"uote.tif' "sub/deep/x.tif")
for i in $(seq 20); do names+=("many/file $i.tif"); done
make_folder() {
  cd "$work"
  rm -rf "$work/data" "$work/want" && mkdir -p "$work/data/images" "$work/want"
  printf '%s\n' "${names[@]}" | make_images "$build" "$work/data/images" "$work/want"
  rgb_images "$work/data/images/sub/rgb.tif" "$work/data/images/rgb two.tif"
  cd "$work/data"
}
# Every good file converted to a local run's bytes; prints how many are.
converted() {
  local i=0 n=0 name
  for name in "${names[@]}"; do
    i=$((i + 1))
    if cmp -s "$work/want/$i.zolt" "$work/data/images/${name%.*}.zolt"; then n=$((n + 1)); fi
  done
  echo "$n"
}
# Nothing but the images and their outputs beside the inputs, and nothing on
# the hosts in root's home but what was there before the runs.
home() { (cd "$work/$1/root" && find . -mindepth 1 | sort); }
for h in host1 host2; do home "$h" >"$work/$h.home"; done
clean() {
  local left h
  left=$(cd "$work/data/images" && find . -type f ! -iname '*.tif' ! -iname '*.tiff' ! -name '*.zolt')
  [ -z "$left" ] || fail "left beside the inputs: $left"
  for h in "$@"; do
    left=$(home "$h" | comm -13 "$work/$h.home" - | grep -v '^\./\.parallel' || true)
    [ -z "$left" ] || fail "left on $h: $left"
  done
}
good=${#names[@]}
# Each file that cannot convert is named with its own message (or, given
# "any", with any: its last try may have gone to a host that died).
named() {
  for bad in "sub/rgb.tif" "rgb two.tif"; do
    grep -F "images/$bad" "$1" | grep -q "${2:-Error: source file should have 1 sample per pixel}" ||
      fail "$bad is not named with its message: $(cat "$1")"
  done
}

# With MEASURE set: one file at a time through one host, and on this
# machine alone, for what a file costs (docs/benchmarks.md).
if [ -n "${MEASURE:-}" ]; then
  for login in 1/host1 1/:; do
    make_folder
    start=$(date +%s%N)
    find images -type f -print0 | RSYNC_OLD_ARGS=1 parallel -0 --sshlogin "$login" --transferfile {} \
      --return {.}.zolt --cleanup zoltenc {} {.}.zolt >/dev/null 2>&1 || true
    echo "one at a time through $login: $((($(date +%s%N) - start) / 1000000 / (good + 2))) ms a file"
  done
fi

# 1. The recipe as printed, every host up.
make_folder
rm -f convert.log
status=0
timeout 300 sh "$work/recipe" >"$work/log" 2>&1 || status=$?
n=$(converted)
echo "all hosts up: $n of $good good files converted, status $status; mean seconds a file, send, convert and return: $(
  awk -F'\t' 'NR > 1 { t[$2] += $4; c[$2]++ } END { for (h in t) printf "%s %.3f; ", h == ":" ? "this machine" : h, t[h] / c[h] }' convert.log)"
[ "$n" -eq "$good" ] || fail "only $n of $good converted: $(cat "$work/log")"
[ "$status" -eq 2 ] || fail "status $status, not the 2 failed files: $(cat "$work/log")"
named "$work/log"
clean host1 host2

# 2. host2's sshd killed part way: the others convert its share or it is
# named; then the README's recovery command converts only what is missing.
make_folder
rm -f convert.log
status=0
timeout 300 sh "$work/recipe" >"$work/log" 2>&1 &
run=$!
# Killed once a file has reached it, so that jobs are under way there.
for i in $(seq 200); do [ ! -d "$work/host2/root/images" ] || break; sleep 0.05; done
host2=$(cat "$work/host2.pid")
kill -9 "$host2"
wait "$run" || status=$?
n=$(converted)
echo "host2 killed part way: $n of $good good files converted, status $status; joblog: $(
  awk -F'\t' 'NR > 1 { n[$2 " status " $7]++ } END { for (k in n) printf "%s: %d; ", k, n[k] }' convert.log)"
[ "$status" -ne 0 ] || fail "status 0 with two files that cannot convert"
named "$work/log" .
missing=$((good - n))
[ "$missing" -eq 0 ] || [ -f convert.log ] || fail "$missing files missing and no joblog to resume from: $(cat "$work/log")"
# The README's recovery: the same command with --resume-failed.
if [ -f convert.log ]; then
  touch "$work/mark"
  status=0
  sed 's/parallel -0/parallel --resume-failed -0/' "$work/recipe" | timeout 300 sh >"$work/log2" 2>&1 || status=$?
  n=$(converted)
  again=$(find images -name '*.zolt' -newer "$work/mark" | wc -l)
  echo "recovery: $n of $good good files converted, $again made again, status $status"
  [ "$n" -eq "$good" ] || fail "recovery left $((good - n)) files unconverted: $(cat "$work/log2")"
  [ "$again" -le "$missing" ] || fail "recovery converted $again files, where $missing were missing"
fi
# What was under way on host2 when it died stays there; nothing on host1.
clean host1
echo "cluster: ok"
INSIDE
MEASURE=${MEASURE:-} timeout 600 unshare --net --mount --pid --fork --kill-child bash -euo pipefail "$work/inside.sh" "$PWD" "$work" </dev/null
