#!/usr/bin/env bash
# End-to-end scenarios on 127.0.0.1 with nginx serving a published tree from
# three download nodes:
#   fetch      velmo-fetch downloads a package from three nodes, the second
#              of which serves corrupted bytes; every byte matches, and the
#              corrupted chunks were fetched again from the good nodes;
#   resume     velmo-fetch killed with SIGKILL mid-transfer, then resumed with
#              --resume: only what was missing is fetched again; Ctrl-C
#              (SIGINT) suspends and prints the id;
#   bootstrap  velmo-bootstrap (console view) stopped with SIGTERM mid-way
#              suspends its transfers and writes its work log; then it
#              downloads both demo packages from the same three nodes (the
#              second one corrupt) and starts the sample program with the
#              designed parameters.
#
#   e2e.sh SCENARIO SOURCE_DIR BINARY_DIR
set -euo pipefail

scenario=$1
src=$2
bin=$3
[ -x /usr/sbin/nginx ] || command -v nginx >/dev/null || { echo "SKIP: nginx is not installed"; exit 77; }

publish="$bin/tools/velmo-publish/velmo-publish"
fetch="$bin/tools/velmo-fetch/velmo-fetch"
bootstrap="$bin/tools/velmo-bootstrap/velmo-bootstrap"
sample="$bin/tools/velmo-sample-downloader/velmo-sample-downloader"

work=$(mktemp -d "${TMPDIR:-/tmp}/velmo-e2e.XXXXXX")
rundir="$work/serve"
cleanup() {
  if [ -f "$rundir/nginx.pid" ]; then "$src/scripts/serve" --stop "$rundir" >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"

fail() { echo "FAIL: $*" >&2; exit 1; }

# Bytes of body sent for GETs below a path prefix, from a node's access log.
served() {
  local log="$rundir/logs/node$1.access.log"
  [ -f "$log" ] || { echo 0; return; }
  awk -v p="$2" '$2 == "GET" && index($3, p) == 1 {s += $5} END {print s + 0}' "$log"
}

# serve [extra serve options...]: starts nginx and reads the ports.
serve() {
  local out
  out=$("$src/scripts/serve" --nodes 3 --run-dir "$rundir" "$@" "$work/tree") ||
    fail "scripts/serve failed"
  eval "$(echo "$out" | grep -E '^(manifest|analytics|node[0-9]+)=')"
}

nodes_for() {
  "$publish" nodes --partner "$1" --out "$work/tree" --node "n1=127.0.0.1:$node1" \
    --node "n2=127.0.0.1:$node2" --node "n3=127.0.0.1:$node3" >/dev/null
}

make_package() {  # make_package SIZE_MB
  mkdir -p "$work/src/sub"
  head -c $(($1 * 1024 * 1024)) /dev/urandom >"$work/src/big.bin"
  head -c 123457 /dev/urandom >"$work/src/sub/odd.bin"
  : >"$work/src/empty.txt"
  printf '#!/bin/sh\necho hello\n' >"$work/src/run.sh"
  "$publish" package --partner p --package pkg --version 1 --name Pkg --run run.sh \
    --chunk-size 262144 --out "$work/tree" "$work/src" >/dev/null
}

compare_tree() {
  for f in big.bin sub/odd.bin empty.txt run.sh; do
    cmp -s "$work/src/$f" "$1/$f" || fail "$f differs after the download"
  done
  [ -x "$1/run.sh" ] || fail "the run file is not executable"
}

case $scenario in
fetch)
  make_package 8
  serve --corrupt-node 2
  nodes_for p
  "$fetch" --host "127.0.0.1:$manifest" --partner p --package pkg --dest "$work/dest" ||
    fail "velmo-fetch exited with $?"
  compare_tree "$work/dest"
  total=$(stat -c %s "$work/src/big.bin")
  good=$(($(served 1 /packages/p/pkg/1/big.bin) + $(served 3 /packages/p/pkg/1/big.bin)))
  [ "$good" -ge "$total" ] || fail "the good nodes served $good of $total bytes of big.bin"
  echo "corrupt node served $(served 2 /packages/) bytes; the good nodes $good"
  ;;
resume)
  make_package 24
  serve --limit-rate 1=150k --limit-rate 2=150k --limit-rate 3=150k
  nodes_for p
  "$fetch" --quiet --host "127.0.0.1:$manifest" --partner p --package pkg --dest "$work/dest" &
  pid=$!
  sleep 3
  kill -9 "$pid"
  wait "$pid" 2>/dev/null || true
  stored=$(ls "$TMPDIR"/Orvanta/Pellaris/transfers/*.json 2>/dev/null | head -n 1)
  [ -n "$stored" ] || fail "no stored transfer after the kill"
  id=$(basename "$stored" .json)
  before=$(($(served 1 /packages/) + $(served 2 /packages/) + $(served 3 /packages/)))
  total=$(du -cb "$work/src" | tail -n 1 | cut -f1)
  [ "$before" -lt "$total" ] || fail "the first run already fetched everything"
  "$src/scripts/serve" --stop "$rundir" >/dev/null
  # The nodes stay throttled while Ctrl-C is tested, so the resumed run is
  # still busy when the signal comes (the rest takes tens of seconds at this
  # rate), however fast the machine is.
  serve --limit-rate 1=150k --limit-rate 2=150k --limit-rate 3=150k
  nodes_for p
  # Ctrl-C suspends: exit status 65 and the id on standard output.
  requests() { cat "$rundir"/logs/*.access.log 2>/dev/null | wc -l; }
  seen=$(requests)
  "$fetch" --quiet --host "127.0.0.1:$manifest" --resume "$id" >"$work/sigint.out" &
  pid=$!
  # Wait until the resumed run has been served something: by then its signal
  # handlers are in place (they are set before the engine starts).
  for _ in $(seq 100); do
    [ "$(requests)" -gt "$seen" ] && break
    sleep 0.1
  done
  sleep 0.5
  # A run that already ended cannot be signalled; that is not a failure here.
  kill -INT "$pid" 2>/dev/null || true
  set +e
  wait "$pid"
  status=$?
  set -e
  echo "Ctrl-C run exited with $status"
  if [ "$status" = 65 ]; then
    [ "$(cat "$work/sigint.out")" = "$id" ] || fail "Ctrl-C did not print the transfer id"
  elif [ "$status" != 0 ]; then
    fail "velmo-fetch --resume interrupted with Ctrl-C exited with $status"
  fi
  "$src/scripts/serve" --stop "$rundir" >/dev/null
  serve
  nodes_for p
  "$fetch" --host "127.0.0.1:$manifest" --resume "$id" || fail "velmo-fetch --resume exited with $?"
  compare_tree "$work/dest"
  # The logs of the restarted nginx continue those of the first one.
  after=$(($(served 1 /packages/) + $(served 2 /packages/) + $(served 3 /packages/) - before))
  echo "first run: $before bytes; resumed runs: $after bytes; package: $total bytes"
  # What was whole on disk was not fetched again; only chunks cut off mid-way
  # (at most a few per connection) are fetched twice.
  [ "$after" -lt $((total - before + 4 * 1024 * 1024)) ] || fail "the resumed runs fetched $after bytes"
  ;;
bootstrap)
  ini="$src/branding/default.ini"
  value() { sed -n "s/^$1=//p" "$ini" | head -n 1; }
  host=$(value manifestHost)
  mkdir -p "$work/dl" "$work/skin"
  cp "$sample" "$work/dl/"
  printf '[skin]\n' >"$work/skin/skin.ini"
  "$publish" package --partner "$(value 103)" --package "$(value 107)" --version 1 --name D \
    --run velmo-sample-downloader --out "$work/tree" "$work/dl" >/dev/null
  "$publish" package --partner "$(value 104)" --package "$(value 106)" --version 1 --name S \
    --run skin.ini --out "$work/tree" "$work/skin" >/dev/null
  # The build's manifest host is fixed; without that port free, skip.
  if ! serve --base-port "${host##*:}" --limit-rate 1=3k --limit-rate 2=3k --limit-rate 3=3k \
    2>/dev/null; then
    echo "SKIP: port ${host##*:} is in use"
    exit 77
  fi
  nodes_for "$(value 103)"
  nodes_for "$(value 104)"
  export VELMO_SAMPLE_RECORD="$work/received.txt" VELMO_CONSOLE=1
  # SIGTERM while the (throttled) download runs closes the console dialog:
  # the transfers are suspended and the work log written, then a clean exit.
  "$bootstrap" "$bootstrap" </dev/null >"$work/term.out" 2>&1 &
  pid=$!
  # The program file is made when its transfer starts.
  for _ in $(seq 200); do
    [ -e "$TMPDIR/Orvanta/Pellaris/velmo-sample-downloader" ] && break
    sleep 0.1
  done
  [ -e "$TMPDIR/Orvanta/Pellaris/velmo-sample-downloader" ] || fail "the download never started"
  kill -TERM "$pid"
  set +e
  wait "$pid"
  status=$?
  set -e
  [ "$status" = 0 ] || fail "velmo-bootstrap ended with $status after SIGTERM: $(cat "$work/term.out")"
  grep -qs '"event":"Suspend"' "$TMPDIR"/Orvanta/Pellaris/logs/*.txt ||
    fail "no suspension in the work log after SIGTERM"
  [ ! -e "$work/received.txt" ] || fail "the program was started after SIGTERM"
  "$src/scripts/serve" --stop "$rundir" >/dev/null
  serve --base-port "${host##*:}" --corrupt-node 2 --corrupt-every 4096
  nodes_for "$(value 103)"
  nodes_for "$(value 104)"
  "$bootstrap" "$bootstrap" packageVersion=3 </dev/null || fail "velmo-bootstrap exited with $?"
  expected=$(printf '%s\n' /id "$(value 104)" /package "$(value 105)" /name "$(value 108)" \
    /folder "$(value 109)" /version 3 /skin "$(value 106)/skin.ini")
  [ "$(cat "$work/received.txt")" = "$expected" ] ||
    fail "the sample program received: $(cat "$work/received.txt")"
  cmp -s "$sample" "$TMPDIR/Orvanta/Pellaris/velmo-sample-downloader" ||
    fail "the downloaded program differs from the published one"
  echo "nodes served $(served 1 /packages/), $(served 2 /packages/) (corrupt), $(served 3 /packages/) bytes"
  ;;
*)
  fail "unknown scenario $scenario"
  ;;
esac
echo "PASS: $scenario"
