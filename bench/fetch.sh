#!/usr/bin/env bash
# Download benchmark: tolvane-fetch against curl and wget, alternating in one
# run, from nginx on 127.0.0.1 (sendfile) to disk (/tmp) and to memory
# (/dev/shm), for a 1 GiB and a 256 MiB random file, over HTTP and over TLS
# (nginx with a certificate made here, which both clients trust with
# --cacert; curl uses the same OpenSSL; wget only over HTTP). Prints
# medians, spread, throughput, peak RSS and the ratios tolvane-fetch/curl
# and tolvane-fetch/wget (below 1: tolvane-fetch is faster).
#
#   bench/fetch.sh [ROUNDS]        (default 5; build/test must hold tolvane-fetch)
#   BENCH_DIR=/path   served files and disk targets (default /tmp/tolvane-bench-fetch)
#   BENCH_PORT=n      nginx's port on 127.0.0.1 (default: a free one)
#   BENCH_SIZES="1024 256"   file sizes in MiB
#
# Not a test: run it by hand, on a machine as quiet as it gets.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
fetch_bin=${TOLVANE_FETCH:-build/test/tools/tolvane-fetch}
work=${BENCH_DIR:-/tmp/tolvane-bench-fetch}
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
port=${BENCH_PORT:-$(free_port)}
tls_port=$(free_port)
sizes=(${BENCH_SIZES:-1024 256})
shm=/dev/shm/tolvane-bench-fetch
[ -x "$fetch_bin" ] || { echo "build tolvane-fetch first ($fetch_bin)" >&2; exit 1; }
fetch_bin=$(realpath "$fetch_bin")
for tool in nginx curl wget openssl /usr/bin/time bc; do
  command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || { echo "$tool is missing (scripts/install-deps)" >&2; exit 1; }
done
mkdir -p "$work/www" "$work/nginx" "$shm"
rm -rf "$work/out" "$shm"/*
mkdir -p "$work/out"

for mib in "${sizes[@]}"; do
  if [ ! -f "$work/www/$mib.bin" ]; then
    echo "making $mib.bin" >&2
    head -c $((mib * 1048576)) /dev/urandom > "$work/www/$mib.bin"
  fi
done

tls=$work/tls
if [ ! -f "$tls/server.pem" ]; then
  mkdir -p "$tls"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$tls/server.key" \
    -out "$tls/server.pem" -days 3650 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 2>/dev/null
fi

cat > "$work/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
pid $work/nginx/nginx.pid;
error_log stderr warn;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  types {}
  default_type application/octet-stream;
  sendfile on;
  server { listen 127.0.0.1:$port; root $work/www; }
  server {
    listen 127.0.0.1:$tls_port ssl;
    ssl_certificate $tls/server.pem;
    ssl_certificate_key $tls/server.key;
    root $work/www;
  }
}
EOF
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
"$nginx_bin" -p "$work/nginx/" -c "$work/nginx/nginx.conf" -e stderr 2>"$work/nginx/log" &
nginx_pid=$!
trap 'kill $nginx_pid 2>/dev/null; wait $nginx_pid 2>/dev/null; rm -rf "$shm"' EXIT
for _ in $(seq 50); do
  curl -q -s --noproxy '*' -o /dev/null "http://127.0.0.1:$port/" -r 0-0 && break
  sleep 0.1
done
kill -0 $nginx_pid 2>/dev/null || { cat "$work/nginx/log" >&2; exit 1; }

# Pitfall: freed memory returns to the host and is slow to touch again, so
# before each run as many bytes as the run will write are touched and freed.
warm() {
  head -c "$1" /dev/zero > "$shm/warm"
  rm -f "$shm/warm"
}

# run TOOL URL TARGET: prints "seconds peak-KiB"
run() {
  local tool=$1 url=$2 target=$3 t0 t1 cmd
  local trust=()
  [ "${url%%:*}" = https ] && trust=(--cacert "$tls/server.pem")
  case $tool in
    tolvane) cmd=("$fetch_bin" --quiet "${trust[@]}" "$url" "$target") ;;
    curl) cmd=(curl -q -sS --noproxy '*' "${trust[@]}" -o "$target" "$url") ;;
    wget) cmd=(wget --no-config -q --no-proxy -O "$target" "$url") ;;
  esac
  t0=$(date +%s.%N)
  /usr/bin/time -f '%M' -o "$work/rss" "${cmd[@]}" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
  t1=$(date +%s.%N)
  echo "$(echo "$t1 - $t0" | bc) $(tail -1 "$work/rss")"
}

stats() {  # numbers on stdin: median min max
  sort -g | awk '{a[NR]=$1} END {m = NR % 2 ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2; printf "%.3f %.3f %.3f\n", m, a[1], a[NR]}'
}

declare -A times rsses
n=0
for scheme in http https; do
  tools=(tolvane curl wget)
  at=$port
  if [ $scheme = https ]; then
    tools=(tolvane curl)
    at=$tls_port
  fi
  for mib in "${sizes[@]}"; do
    bytes=$((mib * 1048576))
    url="$scheme://127.0.0.1:$at/$mib.bin"
    cmp -s <(curl -q -s --noproxy '*' --cacert "$tls/server.pem" "$url") "$work/www/$mib.bin" ||
      { echo "nginx serves $mib.bin wrong" >&2; exit 1; }
    for dest in disk memory; do
      dir=$work/out
      [ "$dest" = memory ] && dir=$shm
      echo "== $scheme, $mib MiB to $dest ($dir)" >&2
      # One untimed warm-up of each (page cache of the served file, binaries).
      for tool in "${tools[@]}"; do
        warm "$bytes"
        run "$tool" "$url" "$dir/warm-$tool" >/dev/null
        cmp -s "$dir/warm-$tool" "$work/www/$mib.bin" || { echo "$tool downloaded $mib.bin wrong" >&2; exit 1; }
        rm -f "$dir/warm-$tool"
      done
      for ((r = 1; r <= rounds; r++)); do
        # The order turns every round, so that no tool always follows the same one.
        k=$((r % ${#tools[@]}))
        order=("${tools[@]:k}" "${tools[@]:0:k}")
        for tool in "${order[@]}"; do
          # A fresh target each run; the last one goes first, so that
          # memory holds one copy at a time.
          n=$((n + 1))
          target=$dir/run-$n-$tool
          warm "$bytes"
          read -r secs rss < <(run "$tool" "$url" "$target")
          [ "$(stat -c %s "$target")" = "$bytes" ] || { echo "$tool: $target is short" >&2; exit 1; }
          rm -f "$target"
          times[$scheme,$mib,$dest,$tool]+="$secs "
          rsses[$scheme,$mib,$dest,$tool]+="$rss "
          echo "  round $r $tool ${secs}s ${rss} KiB" >&2
        done
      done
    done
  done
done

echo
printf '%-6s %-5s %-7s %-8s %8s %17s %8s %8s %8s %9s\n' over MiB to tool median "spread (min-max)" "MB/s" "/ curl" \
  "/ wget" "RSS MiB"
for scheme in http https; do
  tools=(tolvane curl wget)
  [ $scheme = https ] && tools=(tolvane curl)
  for mib in "${sizes[@]}"; do
    for dest in disk memory; do
      read -r cm _ _ < <(tr ' ' '\n' <<<"${times[$scheme,$mib,$dest,curl]}" | grep . | stats)
      wm=
      [ $scheme = http ] && read -r wm _ _ < <(tr ' ' '\n' <<<"${times[$scheme,$mib,$dest,wget]}" | grep . | stats)
      for tool in "${tools[@]}"; do
        read -r m lo hi < <(tr ' ' '\n' <<<"${times[$scheme,$mib,$dest,$tool]}" | grep . | stats)
        read -r rm _ _ < <(tr ' ' '\n' <<<"${rsses[$scheme,$mib,$dest,$tool]}" | grep . | stats)
        per_wget=-
        [ -n "$wm" ] && per_wget=$(printf '%.2f' "$(echo "$m / $wm" | bc -l)")
        printf '%-6s %-5s %-7s %-8s %7.3fs %8.3f-%.3fs %8.0f %8.2f %8s %9.1f\n' "$scheme" "$mib" "$dest" "$tool" "$m" \
          "$lo" "$hi" "$(echo "$mib * 1.048576 / $m" | bc -l)" "$(echo "$m / $cm" | bc -l)" "$per_wget" \
          "$(echo "$rm / 1024" | bc -l)"
      done
    done
  done
done
