#!/usr/bin/env bash
# retry.sh CMD...: runs CMD, and up to twice more, 15 s apart, while it fails. For downloads
# from the package index, whose pages now and then arrive cut short: pip then fails on the
# truncated page (a JSON decoding error) instead of fetching it again.
set -u
status=0
for attempt in 1 2 3; do
  "$@" && exit 0
  status=$?
  if [ "$attempt" -lt 3 ]; then
    echo "retry.sh: '$*' failed (exit $status); trying again" >&2
    sleep 15
  fi
done
exit "$status"
