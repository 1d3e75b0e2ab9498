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
#              designed parameters;
#   tools      --version on the three programs; a node list answering 403
#              names its URL and the status; --json gives JSON lines from
#              start to end; --list and --discard; a transfer killed with
#              SIGKILL resumes without --host from the host it started with;
#   tls        the manifest host and the nodes on HTTPS with a test CA:
#              velmo-fetch downloads over https:// when the CA is trusted
#              (VELMO_CA_FILE), and refuses, naming the TLS problem, a server
#              whose certificate comes from an untrusted CA or names another
#              host;
#   install    cmake --install lays out bin/, the manual pages and the bash
#              completions;
#   package    scripts/package leaves a .deb with usr/bin/velmo-fetch and a
#              Depends field.
#
#   e2e.sh SCENARIO SOURCE_DIR BINARY_DIR
set -euo pipefail

scenario=$1
src=$2
bin=$3
case $scenario in
install | package) ;;
*) [ -x /usr/sbin/nginx ] || command -v nginx >/dev/null || { echo "SKIP: nginx is not installed"; exit 77; } ;;
esac

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

# shellcheck source=tests/e2e/lib.sh
source "$src/tests/e2e/lib.sh"

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
tools)
  for program in "$fetch" "$publish" "$bootstrap"; do
    name=$(basename "$program")
    out=$("$program" --version) || fail "$name --version exited with $?"
    [[ $out =~ ^$name\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "$name --version printed '$out'"
  done
  "$fetch" --help | grep -qF "$TMPDIR/Orvanta/Pellaris/transfers" ||
    fail "velmo-fetch --help does not name the transfers folder"
  make_package 4
  mkdir -p "$work/q"
  head -c 5000 /dev/urandom >"$work/q/q.bin"
  "$publish" package --partner q --package qpkg --version 1 --name Q --out "$work/tree" \
    "$work/q" >/dev/null
  serve --deny /nodes/q.xml --limit-rate 1=100k --limit-rate 2=100k --limit-rate 3=100k
  nodes_for p
  nodes_for q
  host="127.0.0.1:$manifest"

  # A node list the server refuses: the message names the URL and the status.
  set +e
  "$fetch" --host "$host" --partner q --package qpkg --dest "$work/dq" 2>"$work/403.err"
  status=$?
  "$fetch" --json --host "$host" --partner q --package qpkg --dest "$work/dq" >"$work/403.json"
  set -e
  cat "$work/403.err"
  [ "$status" = 2 ] || fail "a refused node list exited with $status, not 2 (ManifestError)"
  grep -qF "ManifestError: node list http://$host/nodes/q.xml" "$work/403.err" ||
    fail "the message does not name the node list's URL"
  grep -qF "HTTP 403" "$work/403.err" || fail "the message does not name the 403"
  jq -e -s '.[0].event == "start" and .[-1].event == "end" and
    .[-1].error.name == "ManifestError" and (.[-1].error.cause | contains("HTTP 403"))' \
    "$work/403.json" >/dev/null || fail "the --json end event lacks the error: $(cat "$work/403.json")"

  # --json: JSON lines, start first, progress every second, nodes, end last.
  "$fetch" --json --host "$host" --partner p --package pkg --dest "$work/d1" >"$work/run.json" ||
    fail "velmo-fetch --json exited with $?"
  jq -c . "$work/run.json" >/dev/null || fail "--json output is not JSON lines"
  total=$(find "$work/src" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
  jq -e -s --argjson total "$total" '
    .[0].event == "start" and .[0].files == 4 and .[0].totalBytes == $total and
    .[0].version == "1" and
    ([.[] | select(.event == "progress")] | length) >= 2 and
    (.[-2].event == "nodes") and (.[-2].nodes | length) == 3 and
    ([.[-2].nodes[].bytes] | add) >= $total and
    .[-1].event == "end" and .[-1].state == "Completed" and .[-1].error == null and
    ([.[] | .event] | map(select(. == "start" or . == "end")) | length) == 2' \
    "$work/run.json" >/dev/null || fail "unexpected --json events: $(head -c 2000 "$work/run.json")"
  compare_tree "$work/d1"

  # Killed mid-transfer, then resumed without --host: the transfer goes back to
  # the host it was started with, not the build's default.
  default_host=$("$fetch" --help | sed -n 's/.*default: the build.s own, \(.*\);$/\1/p')
  [ "$default_host" != "$host" ] || fail "the test host is the build's default host"
  "$fetch" --quiet --host "$host" --partner p --package pkg --dest "$work/d2" &
  pid=$!
  sleep 2
  kill -9 "$pid"
  wait "$pid" 2>/dev/null || true
  "$fetch" --list >"$work/list.txt"
  cat "$work/list.txt"
  id=$(awk -v d="$work/d2" '$3 == d {print $1}' "$work/list.txt")
  [ -n "$id" ] || fail "--list does not show the killed transfer"
  grep "$work/d1" "$work/list.txt" | grep -q "Completed" || fail "--list does not show d1 as Completed"
  "$fetch" --resume "$id" || fail "velmo-fetch --resume without --host exited with $?"
  compare_tree "$work/d2"

  # --discard forgets a transfer; --delete-files also removes its files.
  d1=$(awk -v d="$work/d1" '$3 == d {print $1}' "$work/list.txt")
  "$fetch" --discard "$d1" --delete-files || fail "--discard exited with $?"
  [ ! -e "$work/d1/big.bin" ] && [ ! -e "$work/d1/sub" ] || fail "--delete-files left files"
  "$fetch" --list | grep -q "$d1" && fail "--list still shows a discarded transfer"
  "$fetch" --discard "$id" || fail "--discard exited with $?"
  [ -f "$work/d2/big.bin" ] || fail "--discard without --delete-files removed files"
  set +e
  "$fetch" --discard "$id" 2>/dev/null
  status=$?
  set -e
  [ "$status" = 66 ] || fail "discarding an unknown id exited with $status"
  ;;
tls)
  make_package 2
  out=$("$src/scripts/serve" --nodes 3 --tls --run-dir "$rundir" "$work/tree") ||
    fail "scripts/serve --tls failed"
  eval "$(echo "$out" | grep -E '^(manifest|node[0-9]+|ca)=')"
  "$publish" nodes --partner p --out "$work/tree" --node "n1=https://127.0.0.1:$node1" \
    --node "n2=https://127.0.0.1:$node2" --node "n3=https://127.0.0.1:$node3" >/dev/null
  VELMO_CA_FILE=$ca "$fetch" --quiet --host "https://127.0.0.1:$manifest" --partner p \
    --package pkg --dest "$work/dest" || fail "velmo-fetch over https exited with $?"
  compare_tree "$work/dest"
  [ "$(served 1 /packages/)" -gt 0 ] || [ "$(served 2 /packages/)" -gt 0 ] ||
    fail "no node served anything over https"
  # Refusals: the system store (which does not hold the test CA), another CA,
  # and a host name the certificate does not name (it names 127.0.0.1 only).
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Other CA" \
    -keyout "$work/other.key" -out "$work/other.pem" 2>/dev/null
  refused() { # refused NAME EXPECTED_TEXT CA_FILE HOST
    set +e
    VELMO_CA_FILE=$3 "$fetch" --quiet --host "$4" --partner p --package pkg \
      --dest "$work/dest-$1" >"$work/$1.out" 2>&1
    local status=$?
    set -e
    [ "$status" != 0 ] || fail "$1: a wrong certificate was accepted"
    grep -q "TLS failure" "$work/$1.out" || fail "$1: no TLS error: $(cat "$work/$1.out")"
    grep -qi "$2" "$work/$1.out" || fail "$1: the error does not say '$2': $(cat "$work/$1.out")"
    [ ! -e "$work/dest-$1/big.bin" ] || fail "$1: bytes were written"
    echo "$1: $(grep -m1 "TLS failure" "$work/$1.out")"
  }
  refused system-store "certificate" "" "https://127.0.0.1:$manifest"
  refused other-ca "certificate" "$work/other.pem" "https://127.0.0.1:$manifest"
  refused wrong-name "localhost" "$ca" "https://localhost:$manifest"
  ;;
install)
  cmake --install "$bin" --prefix "$work/inst" >/dev/null || fail "cmake --install failed"
  for f in bin/velmo-fetch bin/velmo-publish share/man/man1/velmo-fetch.1 \
    share/man/man1/velmo-publish.1 share/bash-completion/completions/velmo-fetch; do
    [ -f "$work/inst/$f" ] || fail "cmake --install did not install $f"
  done
  "$work/inst/bin/velmo-fetch" --version | grep -q '^velmo-fetch ' ||
    fail "the installed velmo-fetch does not run"
  if command -v man >/dev/null; then
    man -l "$work/inst/share/man/man1/velmo-fetch.1" 2>&1 >/dev/null | grep . &&
      fail "the manual page has formatting warnings"
  fi
  bash -n "$work/inst/share/bash-completion/completions/velmo-fetch" ||
    fail "the bash completion does not parse"
  ;;
package)
  command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null ||
    { echo "SKIP: dpkg-dev is not installed"; exit 77; }
  deb=$("$src/scripts/package" --build-dir "$bin" --out "$work/dist" 2>/dev/null | tail -n 1) ||
    fail "scripts/package failed"
  [ -f "$deb" ] && [ "$(dirname "$deb")" = "$work/dist" ] || fail "no .deb in the output folder"
  contents=$(dpkg-deb -c "$deb")
  grep -q ' ./usr/bin/velmo-fetch$' <<<"$contents" || fail "the .deb has no usr/bin/velmo-fetch"
  grep -q ' ./usr/share/man/man1/velmo-fetch.1.gz$' <<<"$contents" ||
    fail "the .deb has no manual page"
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  [[ $depends == *libcurl* && $depends == *libc6* ]] || fail "Depends lacks libcurl or libc6"
  ;;
*)
  fail "unknown scenario $scenario"
  ;;
esac
echo "PASS: $scenario"
