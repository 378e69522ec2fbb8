#!/bin/bash
# Fails every system call and every allocation of a conversion in turn, one
# run per failure point, and checks the promises after each run: status 0 or
# 1 (no signal, no hang); on 1, the last line of standard error is one of the
# README's messages; on 0, the output is byte for byte a clean run's; the
# output path holds its old bytes or the new ones; the folder holds nothing
# new; into a pipe, a short stream only with status 1.
#
# System calls: a clean run is traced (strace -k) to count, call by call,
# those made from main on; then the Nth call of each name fails in turn
# (strace -e inject) with the errno a real failure gives. Allocations: a
# preloaded library of ours (scripts/sweeps/failalloc.c) counts the
# allocations from main on and fails the Nth. Each case runs on one thread,
# so that the Nth call is the same call in every run, then on two, checking
# the same promises. The sanitizer pass does both in the AddressSanitizer and
# UndefinedBehaviorSanitizer build, where any report fails the run, and a
# leak too in the allocation runs (LeakSanitizer cannot run under strace).
#   scripts/sweeps/faults.sh [--sample]
# --sample: every point of the smallest case and a fixed, seeded eighth of
# the others, for CI. FAULT_CASES=REGEX runs only the cases it matches. A
# summary table goes to build-faults/summary.md.
set -euo pipefail
cd "$(dirname "$0")/../.."
sample=${1:-}
scripts/install-deps.sh strace
scripts/build.sh -DZOLT_TESTS=ON >/dev/null  # with the image maker
BUILD_DIR=build-asan scripts/build.sh -DZOLT_SANITIZE=ON >/dev/null
work=$PWD/build-faults
rm -rf "$work"
mkdir -p "$work/inputs"
cc -shared -fPIC -O2 -Wall -Wextra -o "$work/failalloc.so" scripts/sweeps/failalloc.c -ldl

# Inputs: a striped LZW image of two bands (two threads decode it), a tiled
# Deflate one, a 1-bit CCITT G4 fax (the test suite's own), and a small ZOLT
# file whose strips (6,400 bytes) are more than a page, so that the end of
# one is held back to go with the next.
in=$work/inputs
build/zolt_makeimage 1100 1000 "$in/lzw.tif" lzw 64
build/zolt_makeimage 96 80 "$in/tiles.tif" deflate t32
ZOLT_SEED_DIR=$work/seeds build/zolt_tests --gtest_filter='Layouts/Reader.*OneBitWhiteIsZeroG4_1Threads' >/dev/null
cp "$work/seeds/tiff/OneBitWhiteIsZeroG4" "$in/ccitt.tif"
build/zolt_makeimage 100 100 "$in/small.tif" none
build/zoltenc "$in/small.tif" "$in/small.zolt"

# The runs happen in a folder of /tmp, open to all, with copies of the
# programs and of the allocation failer: nobody runs the in-place case, and
# the checkout may be closed to other users. Traces and counts go there too.
shared=$(mktemp -d /tmp/zolt-faults.XXXXXX)
trap 'rm -rf "$shared"' EXIT
chmod 1777 "$shared"
for b in build build-asan; do
  mkdir -p "$shared/$b" && cp "$b/zoltenc" "$b/zoltdec" "$shared/$b/"
done
cp "$work/failalloc.so" "$shared/"
chmod -R a+rX "$shared"

# The messages a failure may end with, for each program.
messages() {
  awk -F'`' -v p="$1" '$0 ~ "^\\| (both|" p ") \\|" && $2 !~ /^Usage/ { print $2 }' README.md |
    sed 's/WxH/[0-9-]*x[0-9-]*/'
}
messages zoltenc >"$work/zoltenc.messages"
messages zoltdec >"$work/zoltdec.messages"
# libtiff leaks the block it was growing when the growing fails
# (_TIFFCheckRealloc's callers overwrite their only pointer to it): such
# leaks are suppressed, and counted.
printf 'leak:_TIFFCheckRealloc\n' >"$shared/lsan.supp"

# The errnos a real failure of each system call gives.
errnos() {
  case $1 in
    read | pread64 | readv | preadv | lseek) echo EIO ;;
    write | pwrite64 | writev | pwritev | ftruncate | fallocate) echo EIO ENOSPC EDQUOT ;;
    fsync | fdatasync) echo EIO ENOSPC ;;
    open | openat | access | faccessat | faccessat2) echo EACCES ;;
    mmap | mremap | brk | munmap | madvise | mprotect) echo ENOMEM ;;
    linkat | link | rename | renameat | renameat2) echo EXDEV EIO ;;
    unlink | unlinkat) echo EACCES EIO ;;
    fchmod | fchown | fchmodat | fchownat) echo EPERM ;;
    clone | clone3) echo EAGAIN ;;
    # A lock's wait ends early; any other error the C library takes for a
    # broken kernel and aborts on, by design.
    futex) echo EAGAIN EINTR ;;
    *) echo EIO ;;
  esac
}

# A case: PROGRAM INPUT OUTPUT, where INPUT is a file of $in or "pipe:FILE"
# (standard input from a pipe), and OUTPUT is "old" (a file already there),
# "new", "pipe" (standard output into a pipe), "inplace" (a file already
# there, in a folder that takes no new file: run as nobody, folder 0555) or
# "batch" (--batch a.EXT b.EXT, both copies of INPUT; a's output is there
# already, b's is not).
cases=(
  "zoltdec small.zolt new" "zoltdec small.zolt old" "zoltdec small.zolt pipe"
  "zoltenc lzw.tif new" "zoltenc lzw.tif old" "zoltenc lzw.tif pipe" "zoltenc lzw.tif inplace"
  "zoltenc tiles.tif new" "zoltenc tiles.tif old" "zoltenc tiles.tif pipe"
  "zoltenc ccitt.tif new" "zoltenc ccitt.tif old" "zoltenc ccitt.tif pipe"
  "zoltenc pipe:lzw.tif new" "zoltenc pipe:lzw.tif old" "zoltenc pipe:lzw.tif pipe"
  "zoltenc lzw.tif batch" "zoltdec small.zolt batch"
)
old="older bytes that must survive a failure"

# Runs the case once with the words given before the program (a wrapper, or
# variables); sets status, and leaves stderr and the output in $run.
run=$shared/run
convert() {
  local program=$1 input=$2 output=$3 bin=$4
  shift 4
  rm -rf "$run" "$shared/trace" "$shared/allocs" && mkdir -p "$run/dir"
  local src=$in/${input#pipe:} arg=$run/dir/in out=$run/dir/out as=() args=()
  if [ "$output" = batch ]; then
    local ext=${input##*.} outext=zolt
    [ "$program" = zoltenc ] || outext=tif
    cp "$src" "$run/dir/a.$ext" && cp "$src" "$run/dir/b.$ext"
    args=(--batch "$run/dir/a.$ext" "$run/dir/b.$ext") out=$run/dir/a.$outext second=$run/dir/b.$outext
  elif [ "$input" = "${input#pipe:}" ]; then cp "$src" "$arg"; else arg=-; fi
  [ "$output" != old ] && [ "$output" != inplace ] && [ "$output" != batch ] || printf '%s' "$old" >"$out"
  ls -a "$run/dir" >"$run/before"
  if [ "$output" = inplace ]; then
    chown -R 65534:65534 "$run/dir" && chmod 0555 "$run/dir"
    as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  local to=$out
  [ "$output" != pipe ] || to=-
  [ ${#args[@]} -gt 0 ] || args=("$arg" "$to")
  local command=(timeout 60 "${as[@]}" env "$@" "$shared/$bin/$program" "${args[@]}")
  set +e
  # (The shell's own word on a program killed by a signal goes nowhere: the
  # check says it.)
  { case $arg:$output in
    -:pipe) cat "$src" | "${command[@]}" 2>"$run/stderr" | cat >"$run/stdout"; status=${PIPESTATUS[1]} ;;
    -:*) cat "$src" | "${command[@]}" >"$run/stdout" 2>"$run/stderr"; status=${PIPESTATUS[1]} ;;
    *:pipe) "${command[@]}" </dev/null 2>"$run/stderr" | cat >"$run/stdout"; status=${PIPESTATUS[0]} ;;
    *) "${command[@]}" </dev/null >"$run/stdout" 2>"$run/stderr"; status=$? ;;
  esac; } 2>/dev/null
  set -e
  # Into a pipe: what the reader got.
  [ "$output" != pipe ] || out=$run/stdout
  received=$out
}

# Checks the promises after a run; prints what is broken, if anything.
check() {
  local program=$1 output=$3 want=$4
  if [ "$status" -ne 0 ] && [ "$status" -ne 1 ]; then
    echo "status $status: $(tail -n 3 "$run/stderr" | tr '\n' '|')"
    return
  fi
  [ "$output" != batch ] || { check_batch "$program" "$want"; return; }
  # (LeakSanitizer's count of suppressed leaks closes standard error.)
  if [ "$status" -eq 1 ] && ! sed '/^-\{20,\}$/,$d' "$run/stderr" | tail -n 1 | grep -qxf "$work/$program.messages"; then
    echo "status 1, last line not a README message: $(tail -n 3 "$run/stderr" | tr '\n' '|')"
    return
  fi
  if [ "$status" -eq 0 ] && ! cmp -s "$want" "$received"; then
    echo "status 0 with output other than a clean run's ($(wc -c <"$received") bytes)"
    return
  fi
  # A failed sync of the folder comes after the rename: the new file is in
  # place, though its name may not survive a power loss, and the detail line
  # says so. A copy in place that fails part way leaves the file incomplete,
  # and says that.
  local kept=$status
  if [ "$status" -eq 1 ] && [ "$failing" = fsync ] && cmp -s "$want" "$run/dir/out"; then
    grep -q ": replaced, but its folder could not be synced (" "$run/stderr" ||
      { echo "status 1 with the new file in place, and no line that says so"; return; }
    kept=0
  elif [ "$status" -eq 1 ] && [ "$output" = inplace ] && grep -q ": the copy over it failed part way (" "$run/stderr"; then
    kept=0
  fi
  if [ "$kept" -eq 1 ]; then
    case $output in
      old | inplace) [ "$(cat "$run/dir/out")" = "$old" ] || { echo "status 1, the old output is gone"; return; } ;;
      new) [ ! -e "$run/dir/out" ] || { echo "status 1, an output was left"; return; } ;;
    esac
  fi
  local after
  after=$(ls -a "$run/dir" | grep -vx out || true)
  [ "$after" = "$(grep -vx out "$run/before" || true)" ] || echo "left behind: $(echo "$after" | tr '\n' ' ')"
}

# The same for a batch: on 1, a file's line after its name, or a lone line
# (a failure before any file), is one of the README's messages; each output
# is its old bytes (a's), absent (b's) or a clean run's, and both are a clean
# run's on 0, or on 1 with the line that says the folder was not synced.
check_batch() {
  local program=$1 want=$2 lines
  lines=$(sed '/^-\{20,\}$/,$d' "$run/stderr")
  if [ "$status" -eq 1 ] && ! printf '%s\n' "$lines" | sed -n "s|^$run/dir/[ab]\.[a-z]*: ||p; \$p" |
       grep -qxf "$work/$program.messages"; then
    echo "status 1, no README message: $(tail -n 3 "$run/stderr" | tr '\n' '|')"
    return
  fi
  local a=old b=absent
  cmp -s "$want" "$received" && a=new
  [ "$a" = new ] || [ "$(cat "$received" 2>/dev/null)" = "$old" ] || { echo "a's output is neither old nor new"; return; }
  if [ -e "$second" ]; then
    cmp -s "$want" "$second" && b=new || { echo "b's output is there, but not a clean run's"; return; }
  fi
  if [ "$status" -eq 0 ] && [ "$a$b" != newnew ]; then
    echo "status 0, outputs $a and $b"
    return
  fi
  if [ "$status" -eq 1 ] && [ "$a$b" = newnew ] && ! grep -q ": replaced, but its folder could not be synced (" "$run/stderr"; then
    echo "status 1 with both outputs new, and no line that says why"
    return
  fi
  local after
  after=$(ls -a "$run/dir" | grep -vxE 'a\.(zolt|tif)|b\.(zolt|tif)' || true)
  [ "$after" = "$(grep -vxE 'a\.(zolt|tif)|b\.(zolt|tif)' "$run/before" || true)" ] || echo "left behind: $(echo "$after" | tr '\n' ' ')"
}

# Whether point KEY of a case other than the first is in a --sample run.
sampled() {
  [ "$sample" != --sample ] || [ "$1" -eq 0 ] || [ $(($(printf '%s' "$2" | cksum | cut -d' ' -f1) % 8)) -eq 0 ]
}

summary=$work/summary.md
faults=0 failing=
printf '| case | pass | system calls from main | allocations from main | points tried | passed | excluded |\n|---|---|---|---|---|---|---|\n' >"$summary"

# Runs the case once more with the words given, checks it, and counts.
point() {
  local what=$1
  shift
  convert "$program" "$input" "$output" "$bin" "${vars[@]}" "$@"
  tried=$((tried + 1))
  local broken
  broken=$(check "$program" "$input" "$output" "$work/want")
  if [ -z "$broken" ] && grep -q "^Suppressions used:" "$run/stderr"; then
    leaks=$((leaks + 1))
  elif [ -z "$broken" ]; then
    passed=$((passed + 1))
  elif [ "$status" -gt 1 ] && grep -qE "(^|: )_TIFFMergeFields: Failed to allocate fields array" "$run/stderr"; then
    # libtiff 4.5.0 drops its field table when it cannot grow it, keeps the
    # count, and crashes on the next look-up: its fault, not to be mended here.
    libtiff=$((libtiff + 1))
  else
    faults=$((faults + 1))
    echo "FAULT: $c ($pass): $what: $broken"
  fi
}

index=0
for c in "${cases[@]}"; do
  [[ $c =~ ${FAULT_CASES:-.} ]] || { index=$((index + 1)); continue; }
  read -r program input output <<<"$c"
  for pass in "1 thread" "2 threads" "sanitizers"; do
    bin=build
    vars=(ZOLT_THREADS=1)
    case $pass in
      "2 threads") vars=(ZOLT_THREADS=2) ;;
      # LeakSanitizer cannot run under ptrace: leaks are looked for in the
      # allocation runs, which strace does not watch.
      sanitizers) bin=build-asan
        vars=(ZOLT_THREADS=1 ASAN_OPTIONS=exitcode=86:detect_leaks=0:allocator_may_return_null=1:verify_asan_link_order=0
              UBSAN_OPTIONS=halt_on_error=1:exitcode=86) ;;
    esac
    # The clean run: its output is what every successful run must give.
    convert "$program" "$input" "$output" "$bin" "${vars[@]}"
    [ "$status" -eq 0 ] || { echo "$c ($pass): the clean run failed: $(cat "$run/stderr")"; exit 1; }
    cp "$received" "$work/want"
    # Every system call from main on, as the name and the ordinal strace
    # counts it by, and whose it is: a sanitizer runtime's own calls (made
    # from its internals, not its interceptors) are not this program's.
    convert "$program" "$input" "$output" "$bin" "${vars[@]}" strace -f -k -qq -o "$shared/trace"
    # main has begun at the first call made from a function of the program's
    # own other than _start.
    awk -v self="/$program(" '/^[0-9]+ +[a-z_0-9]+\(/ { n++; split($2, a, "("); name[n] = a[1]; ord[n] = ++seen[a[1]]; next }
         /^ > / && $0 ~ /\/lib(asan|ubsan|lsan)\.so[^(]*\((__sanitizer|__asan|__ubsan|__lsan)::/ { runtime[n] = 1 }
         /^ > / && !m && index($0, self) && !index($0, "(_start+") { m = n }
         END { if (!m) exit 1; for (i = m; i <= n; i++) print name[i], ord[i], runtime[i] ? "runtime" : "program" }' \
      "$shared/trace" >"$work/calls"
    convert "$program" "$input" "$output" "$bin" "${vars[@]}" LD_PRELOAD="$shared/failalloc.so" FAIL_ALLOC_COUNT="$shared/allocs"
    allocs=$(cat "$shared/allocs")
    tried=0 passed=0 ended=0 runtime=0 heap=0 libtiff=0 leaks=0
    while read -r name ordinal whose; do
      # exit_group ends the process: there is no failure to report.
      [ "$name" != exit_group ] || { ended=$((ended + 1)); continue; }
      # The kernel's brk never fails with an error: it returns the break
      # unchanged, and the C library's malloc then turns to mmap or fails,
      # which the allocation runs cover. An injected error is a value no
      # kernel gives, and malloc trusts it.
      [ "$name" != brk ] || { heap=$((heap + 1)); continue; }
      [ "$whose" = program ] || { runtime=$((runtime + 1)); continue; }
      for errno in $(errnos "$name"); do
        sampled "$index" "$c $pass $name $ordinal $errno" || continue
        failing=$name
        point "$name call $ordinal fails with $errno" \
          strace -f -qq -o /dev/null -e trace="$name" -e inject="$name:error=$errno:when=$ordinal"
      done
    done <"$work/calls"
    [ "$pass" != sanitizers ] ||
      vars+=(ASAN_OPTIONS=exitcode=86:detect_leaks=1:verify_asan_link_order=0 LSAN_OPTIONS=suppressions=$shared/lsan.supp)
    failing=
    for ((n = 1; n <= allocs; n++)); do
      sampled "$index" "$c $pass alloc $n" || continue
      point "allocation $n fails" LD_PRELOAD="$shared/failalloc.so" FAIL_ALLOC_AT=$n
    done
    excluded="exit_group $ended, brk $heap"
    [ "$runtime" -eq 0 ] || excluded="$excluded, sanitizer runtime $runtime"
    [ "$libtiff" -eq 0 ] || excluded="$excluded, libtiff's field table $libtiff"
    [ "$leaks" -eq 0 ] || excluded="$excluded, libtiff's leak $leaks"
    printf '| %s | %s | %s | %s | %s | %s | %s |\n' "$c" "$pass" "$(wc -l <"$work/calls")" "$allocs" "$tried" "$passed" \
      "$excluded" | tee -a "$summary"
  done
  index=$((index + 1))
done
echo "fault sweep: $faults faults; table in $summary"
[ "$faults" -eq 0 ]
