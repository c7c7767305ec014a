#!/usr/bin/env bash
# Extraction benchmark: tolvane-unzip against bsdtar -xf and python3's
# zipfile extractall, alternating, on a mixed archive (about 234 MiB) and
# one of 10000 tiny files. Prints medians, spread, ratios to bsdtar and
# peak RSS.
#
#   bench/unzip.sh [ROUNDS]        (default 5; build/test must hold tolvane-unzip)
#   BENCH_DIR=/path  where archives and extracted trees go (default /tmp/tolvane-bench-unzip)
#
# Not a test: run it by hand on a quiet machine.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
unzip_bin=${TOLVANE_UNZIP:-build/test/tools/tolvane-unzip}
work=${BENCH_DIR:-/tmp/tolvane-bench-unzip}
[ -x "$unzip_bin" ] || { echo "build tolvane-unzip first ($unzip_bin)" >&2; exit 1; }
unzip_bin=$(realpath "$unzip_bin")
mkdir -p "$work"

for kind in mixed tiny; do
  if [ ! -f "$work/$kind.zip" ]; then
    echo "making $kind.zip" >&2
    rm -rf "$work/src-$kind"
    python3 bench/make_archives.py "$kind" "$work/src-$kind"
    (cd "$work/src-$kind" && zip -qr "$work/$kind.zip" .)
    rm -rf "$work/src-$kind"
  fi
done

# Pitfall: freed memory returns to the host and is slow to touch again, so
# before each run as many bytes as the run will write are touched and freed.
warm() {
  head -c "$1" /dev/zero > /dev/shm/tolvane-bench-warm
  rm -f /dev/shm/tolvane-bench-warm
}

# run TOOL ZIP DEST: prints "seconds peak-KiB"
run() {
  local tool=$1 zip=$2 dest=$3 t0 t1 cmd
  mkdir -p "$dest"
  case $tool in
    tolvane) cmd=("$unzip_bin" "$zip" "$dest") ;;
    bsdtar) cmd=(bsdtar -xf "$zip" -C "$dest") ;;
    python) cmd=(python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$dest") ;;
  esac
  t0=$(date +%s.%N)
  /usr/bin/time -f '%M' -o "$work/rss" "${cmd[@]}" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
  t1=$(date +%s.%N)
  echo "$(echo "$t1 - $t0" | bc) $(tail -1 "$work/rss")"
}

stats() {  # numbers on stdin: median min max
  sort -g | awk '{a[NR]=$1} END {m = NR % 2 ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2; printf "%.3f %.3f %.3f\n", m, a[1], a[NR]}'
}

tools=(tolvane bsdtar python)
declare -A times rsses entries_of
for kind in mixed tiny; do
  zip="$work/$kind.zip"
  out_bytes=$(python3 -c 'import sys, zipfile; print(sum(i.file_size for i in zipfile.ZipFile(sys.argv[1]).infolist()))' "$zip")
  entries=$(python3 -c 'import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).infolist()))' "$zip")
  entries_of[$kind]=$entries
  echo "== $kind.zip: $(( $(stat -c %s "$zip") / 1048576 )) MiB, $entries entries, $(( out_bytes / 1048576 )) MiB out" >&2
  # One untimed warm-up of each (page cache of the archive, binaries).
  for tool in "${tools[@]}"; do warm "$out_bytes"; run "$tool" "$zip" "$work/out/$kind-warm-$tool" >/dev/null; done
  for ((r = 1; r <= rounds; r++)); do
    # The order turns every round, so that no tool always follows the same one.
    order=("${tools[@]:r%3}" "${tools[@]:0:r%3}")
    for tool in "${order[@]}"; do
      warm "$out_bytes"
      read -r secs rss < <(run "$tool" "$zip" "$work/out/$kind-$r-$tool")
      times[$kind,$tool]+="$secs "
      rsses[$kind,$tool]+="$rss "
      echo "  round $r $tool ${secs}s ${rss} KiB" >&2
    done
  done
done

echo
printf '%-6s %-8s %9s %17s %10s %13s %10s\n' archive tool median "spread (min-max)" "/ bsdtar" "peak RSS MiB" "ms/entry"
for kind in mixed tiny; do
  read -r bm _ _ < <(tr ' ' '\n' <<<"${times[$kind,bsdtar]}" | grep . | stats)
  for tool in "${tools[@]}"; do
    read -r m lo hi < <(tr ' ' '\n' <<<"${times[$kind,$tool]}" | grep . | stats)
    read -r rm _ _ < <(tr ' ' '\n' <<<"${rsses[$kind,$tool]}" | grep . | stats)
    printf '%-6s %-8s %8.3fs %8.3f-%.3fs %10.2f %13.1f %10.4f\n' "$kind" "$tool" "$m" "$lo" "$hi" \
      "$(echo "$m / $bm" | bc -l)" "$(echo "$rm / 1024" | bc -l)" "$(echo "$m * 1000 / ${entries_of[$kind]}" | bc -l)"
  done
done
# Old copies go only now: deleting many files just before creating many is
# slow on this file system.
rm -rf "$work/out"
