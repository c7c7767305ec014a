#!/usr/bin/env bash
# Extraction benchmark: tolvane-unzip against bsdtar -xf and python3's
# zipfile extractall, alternating, on archives of the shapes that packages
# take: mixed (about 234 MiB), tiny (10000 tiny files), deep (deep trees),
# manydirs (many directories), nodirs (the same without directory records)
# and large (a few large files). Prints medians and spread of wall time and
# of user+sys CPU time, their ratios to bsdtar, and peak RSS.
#
#   bench/unzip.sh [ROUNDS]        (default 5; build/test must hold tolvane-unzip)
#   BENCH_DIR=/path    where archives and extracted trees go (default /tmp/tolvane-bench-unzip)
#   BENCH_KINDS="..."  the archives (default: mixed tiny deep manydirs nodirs large)
#   BENCH_TOOLS="..."  the tools (default: tolvane bsdtar python; "base" is
#                      another build of tolvane-unzip, at TOLVANE_UNZIP_BASE)
#
# Not a test: run it by hand on a quiet machine.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
unzip_bin=${TOLVANE_UNZIP:-build/test/tools/tolvane-unzip}
work=${BENCH_DIR:-/tmp/tolvane-bench-unzip}
read -r -a kinds <<<"${BENCH_KINDS:-mixed tiny deep manydirs nodirs large}"
read -r -a tools <<<"${BENCH_TOOLS:-tolvane bsdtar python}"
[ -x "$unzip_bin" ] || { echo "build tolvane-unzip first ($unzip_bin)" >&2; exit 1; }
unzip_bin=$(realpath "$unzip_bin")
mkdir -p "$work"

for kind in "${kinds[@]}"; do
  if [ ! -f "$work/$kind.zip" ]; then
    echo "making $kind.zip" >&2
    tree=$kind flags=-qr
    # The same tree as manydirs, without a record for any directory.
    [ "$kind" = nodirs ] && tree=manydirs flags=-qrD
    rm -rf "$work/src-$kind"
    python3 bench/make_archives.py "$tree" "$work/src-$kind"
    (cd "$work/src-$kind" && zip "$flags" "$work/$kind.zip" .)
    rm -rf "$work/src-$kind"
  fi
done

# Pitfall: freed memory returns to the host and is slow to touch again, so
# before each run as many bytes as the run will write are touched and freed.
warm() {
  head -c "$1" /dev/zero > /dev/shm/tolvane-bench-warm
  rm -f /dev/shm/tolvane-bench-warm
}

# run TOOL ZIP DEST: prints "wall-seconds cpu-seconds peak-KiB"
run() {
  local tool=$1 zip=$2 dest=$3 t0 t1 cmd
  mkdir -p "$dest"
  case $tool in
    tolvane) cmd=("$unzip_bin" "$zip" "$dest") ;;
    base) cmd=("${TOLVANE_UNZIP_BASE:?set TOLVANE_UNZIP_BASE}" "$zip" "$dest") ;;
    bsdtar) cmd=(bsdtar -xf "$zip" -C "$dest") ;;
    python) cmd=(python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$dest") ;;
  esac
  t0=$(date +%s.%N)
  /usr/bin/time -f '%U %S %M' -o "$work/rss" "${cmd[@]}" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
  t1=$(date +%s.%N)
  read -r user sys rss < <(tail -1 "$work/rss")
  echo "$(echo "$t1 - $t0" | bc) $(echo "$user + $sys" | bc) $rss"
}

stats() {  # numbers on stdin: median min max
  sort -g | awk '{a[NR]=$1} END {m = NR % 2 ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2; printf "%.3f %.3f %.3f\n", m, a[1], a[NR]}'
}
column() { tr ' ' '\n' <<<"$1" | grep . | stats; }

declare -A times cpus rsses entries_of
for kind in "${kinds[@]}"; do
  zip="$work/$kind.zip"
  read -r out_bytes entries < <(python3 -c 'import sys, zipfile; l = zipfile.ZipFile(sys.argv[1]).infolist(); print(sum(i.file_size for i in l), len(l))' "$zip")
  entries_of[$kind]=$entries
  echo "== $kind.zip: $(( $(stat -c %s "$zip") / 1048576 )) MiB, $entries entries, $(( out_bytes / 1048576 )) MiB out" >&2
  # One untimed warm-up of each (page cache of the archive, binaries).
  for tool in "${tools[@]}"; do warm "$out_bytes"; run "$tool" "$zip" "$work/out/$kind-warm-$tool" >/dev/null; done
  for ((r = 1; r <= rounds; r++)); do
    # The order turns every round, so that no tool always follows the same one.
    n=${#tools[@]}
    order=("${tools[@]:r%n}" "${tools[@]:0:r%n}")
    for tool in "${order[@]}"; do
      warm "$out_bytes"
      read -r secs cpu rss < <(run "$tool" "$zip" "$work/out/$kind-$r-$tool")
      times[$kind,$tool]+="$secs "
      cpus[$kind,$tool]+="$cpu "
      rsses[$kind,$tool]+="$rss "
      echo "  round $r $tool ${secs}s wall ${cpu}s cpu ${rss} KiB" >&2
    done
  done
done

echo
printf '%-8s %-8s %8s %15s %7s %8s %15s %7s %9s %9s\n' archive tool wall "spread" "/bsdtar" "cpu" "spread" "/bsdtar" "RSS MiB" "ms/entry"
for kind in "${kinds[@]}"; do
  read -r bm _ _ < <(column "${times[$kind,bsdtar]:-1}")
  read -r bc _ _ < <(column "${cpus[$kind,bsdtar]:-1}")
  for tool in "${tools[@]}"; do
    read -r m lo hi < <(column "${times[$kind,$tool]}")
    read -r c clo chi < <(column "${cpus[$kind,$tool]}")
    read -r rm _ rhi < <(column "${rsses[$kind,$tool]}")
    printf '%-8s %-8s %7.3fs %6.3f-%6.3fs %7.2f %7.3fs %6.3f-%6.3fs %7.2f %9.1f %9.4f\n' "$kind" "$tool" "$m" "$lo" "$hi" \
      "$(echo "$m / $bm" | bc -l)" "$c" "$clo" "$chi" "$(echo "$c / $bc" | bc -l)" "$(echo "$rhi / 1024" | bc -l)" \
      "$(echo "$m * 1000 / ${entries_of[$kind]}" | bc -l)"
  done
done
# Old copies go only now: deleting many files just before creating many is
# slow on this file system.
rm -rf "$work/out"
