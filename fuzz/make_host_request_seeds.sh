#!/usr/bin/env bash
# Writes the seed corpus of fuzz_host_request: real messages as net-snmp's
# tools encode them (captured with -d from requests to a port nobody answers),
# GET, GETNEXT, GETBULK and SET, SNMPv1 and SNMPv2c.
#   fuzz/make_host_request_seeds.sh fuzz/corpus/fuzz_host_request
set -euo pipefail
out=${1:?directory}
mkdir -p "$out"
base=.1.3.6.1.4.1

capture() {  # name tool arguments...
    local name=$1 tool=$2
    shift 2
    # The tool fails (no answer); only its dump of the first message counts.
    { "$tool" -d -r 0 -t 0.1 -m '' "$@" 2>&1 >/dev/null || true; } | awk '
        /^Sending/ { if (seen) exit; seen = 1; next }
        seen && /^[0-9][0-9][0-9][0-9]:/ { for (i = 2; i <= NF && $i ~ /^[0-9A-F][0-9A-F]$/; ++i) printf "%s", $i }
        seen && /^$/ { exit }' | xxd -r -p >"$out/$name"
    [ -s "$out/$name" ] || { echo "no message captured for $name" >&2; exit 1; }
}
dead=udp:127.0.0.1:9
for v in 1 2c; do
    capture get_status_v$v snmpget -v $v -c public $dead $base.44821
    capture get_apps_v$v snmpget -v $v -c public $dead $base.39917.1.1.1 $base.5113.4.2.9 $base.4127.255.127.3
    capture get_short_v$v snmpget -v $v -c public $dead $base.39917 $base.39917.1 $base.9999.1.1.1
    capture getnext_root_v$v snmpgetnext -v $v -c public $dead $base $base.39917.1.1 $base.44821
    capture getnext_past_v$v snmpgetnext -v $v -c public $dead $base.5113.9 $base.44821.0 .1.3.6.1.4.2
    capture set_int_v$v snmpset -v $v -c private $dead $base.39917.1.1.3 i 55
    capture set_text_v$v snmpset -v $v -c private $dead $base.39917.2.1.5 s "a new text"
    capture set_types_v$v snmpset -v $v -c private $dead $base.39917.1.1.7 u 7 $base.39917.1.1.8 o .1.3.6 $base.5113.4.2.1 t 100 $base.39917.1.1.9 a 10.0.0.1 $base.39917.1.1.10 x 00FF
done
capture bulk_walk_v2c snmpbulkget -v 2c -c public -Cn0 -Cr10 $dead $base
capture bulk_mixed_v2c snmpbulkget -v 2c -c public -Cn2 -Cr3 $dead $base.44821 $base.4127 $base.39917.1.1 $base.5113
capture bulk_extreme_v2c snmpbulkget -v 2c -c public -Cn0 -Cr2147483647 $dead $base.39917
