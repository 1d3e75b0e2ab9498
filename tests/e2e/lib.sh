# shellcheck shell=bash
# Helpers shared by tests/e2e/e2e.sh and scripts/fault-matrix. Sourced, not
# run. They use the caller's globals: src (source tree), work (scratch
# folder), rundir (the nginx run folder of scripts/serve) and publish (the
# velmo-publish program).

fail() { echo "FAIL: $*" >&2; exit 1; }

# Bytes of body sent for GETs below a path prefix, from a node's access log.
served() {
  local log="$rundir/logs/node$1.access.log"
  [ -f "$log" ] || { echo 0; return; }
  awk -v p="$2" '$2 == "GET" && index($3, p) == 1 {s += $5} END {print s + 0}' "$log"
}

# serve [extra serve options...]: starts nginx with three nodes and reads the
# ports into manifest, analytics, node1, node2 and node3.
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
