#!/usr/bin/env bash
# LAN discovery over the real path, inside two network namespaces of our own
# joined by a veth pair (192.0.2.0/24, a documentation range): the client
# finds its address by interface enumeration, broadcasts to
# 255.255.255.255:6011 from port 6010, and the device answers by unicast and
# then by broadcast. Nothing leaves the namespaces. Needs root; exit 77 skips.
# Usage: netns.sh DEVICESIM DEVPROBE
set -u
sim=$1
probe=$2
if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null; then
  echo "needs root and iproute2: skipped"
  exit 77
fi
a=ardo-disc-a-$$
b=ardo-disc-b-$$
simpid=
cleanup() {
  [ -n "$simpid" ] && kill "$simpid" 2>/dev/null && wait "$simpid" 2>/dev/null
  ip netns del "$a" 2>/dev/null
  ip netns del "$b" 2>/dev/null
}
trap cleanup EXIT INT TERM
if ! ip netns add "$a" 2>/dev/null; then
  echo "cannot make a network namespace here: skipped"
  exit 77
fi
ip netns add "$b" || exit 1
ip link add va$$ netns "$a" type veth peer name vb$$ netns "$b" || exit 1
ip -n "$a" addr add 192.0.2.1/24 dev va$$
ip -n "$b" addr add 192.0.2.2/24 dev vb$$
for ns in "$a" "$b"; do ip -n "$ns" link set lo up; done
ip -n "$a" link set va$$ up
ip -n "$b" link set vb$$ up
# The device answers a broadcast from its wildcard socket: give the limited
# broadcast a way out of its namespace (the client's socket is bound to its
# address, which needs no route).
ip -n "$b" route add 255.255.255.255/32 dev vb$$

export ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0"
run_device() {
  out=$1
  shift
  ip netns exec "$b" env "$@" "$sim" --http 18080 --clips /nonexistent --udp 0.0.0.0:6011 --netns-ok >"$out" 2>&1 &
  simpid=$!
  for _ in $(seq 50); do grep -q "^discovery udp" "$out" && return 0; sleep 0.1; done
  echo "the device did not start:"; cat "$out"; return 1
}
stop_device() { kill "$simpid" 2>/dev/null; wait "$simpid" 2>/dev/null; simpid=; }
tmp=$(mktemp -d)
status=0

# 1. Unicast replies, received on the socket bound to 192.0.2.1:6010.
run_device "$tmp/dev1" || exit 1
ip netns exec "$a" env -u ARDO_DISCOVERY_TARGET -u ARDO_DISCOVERY_LOCAL "$probe" discover --seconds 2 >"$tmp/probe1" 2>&1
stop_device
cat "$tmp/probe1" | grep -v QDEBUG
grep -q 'bytes from 192.0.2.1:6010' "$tmp/dev1" || { echo "FAIL: the broadcast from 192.0.2.1:6010 did not reach the device"; cat "$tmp/dev1"; status=1; }
grep -q '^device "devicesim"' "$tmp/probe1" || { echo "FAIL: no unicast reply arrived"; status=1; }

# 2. Broadcast replies, which only the wildcard socket receives.
run_device "$tmp/dev2" DEVICESIM_BROADCAST_REPLIES=1 || exit 1
ip netns exec "$a" env -u ARDO_DISCOVERY_TARGET -u ARDO_DISCOVERY_LOCAL "$probe" discover --seconds 2 >"$tmp/probe2" 2>&1
stop_device
grep -q '^device "devicesim"' "$tmp/probe2" || { echo "FAIL: no broadcast reply arrived"; cat "$tmp/probe2"; status=1; }
rm -rf "$tmp"
[ $status = 0 ] && echo "discovery over the namespaces: ok"
exit $status
