#!/bin/bash
# Keeps Chromium from outliving the Windows program that started it. Wine does not end
# the Linux processes a Windows program starts, so the program hands us a loopback
# connection instead: when that connection closes (the program ended, crashed or was
# killed), Chromium and every process it started are ended.
#   chromium-guard.sh <lifeline port> <log file> <chromium> [arguments...]
port=$1
log=$2
shift 2
exec </dev/null >>"$log" 2>&1
exec 3<>"/dev/tcp/127.0.0.1/$port" || exit 1

# Job control gives Chromium a process group of its own, so one signal reaches all of it.
set -m
"$@" &
browser=$!
set +m

cat <&3 >/dev/null
kill -TERM -- "-$browser" 2>/dev/null
for _ in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
  kill -0 -- "-$browser" 2>/dev/null || exit 0
  sleep 0.1
done
kill -KILL -- "-$browser" 2>/dev/null
exit 0
