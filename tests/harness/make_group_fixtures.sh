#!/usr/bin/env bash
# make_group_fixtures.sh OUT_DIR
#
# Writes the group fixtures too large to keep in the source tree, one
# directory each, since an over-long line spoils every lookup that meets it:
#   groups-large/group  a group (gid 4300) whose entry needs several times the
#                       8192 bytes that a new lookup record starts with;
#   groups-huge/group   a group (gid 4400) whose line alone exceeds 2 MiB,
#                       after root so that root can still be found.
set -euo pipefail
out=$1
mkdir -p "$out/groups-large" "$out/groups-huge"

members() { # COUNT FORMAT
  awk -v n="$1" -v fmt="$2" 'BEGIN {
    for (i = 0; i < n; i++) printf (i ? "," : "") fmt, i
  }'
}

{
  echo "root:x:0:"
  echo "zkbig:x:4300:$(members 3000 'm%05d')"
  echo "zkafter:x:4301:alice"
} >"$out/groups-large/group.tmp"
mv "$out/groups-large/group.tmp" "$out/groups-large/group"

{
  echo "root:x:0:"
  echo "zkhuge:x:4400:$(members 280000 'huge%06d')"
} >"$out/groups-huge/group.tmp"
mv "$out/groups-huge/group.tmp" "$out/groups-huge/group"
