#!/bin/bash
# Keeps Chromium from outliving the Windows program that started it. Wine does not end
# the Linux processes a Windows program starts, so the program hands us a loopback
# connection instead: when that connection closes (the program ended, crashed or was
# killed, or it let go of the browser), Chromium and every process it started are ended.
# The same happens when Chromium ends by itself. Once all of it has ended, the busy mark
# goes and "exited" is written back on the connection, if the program still listens.
#   chromium-guard.sh <lifeline port> <log file> <busy mark> <linger ms> <chromium> [arguments...]
port=$1
log=$2
busy=$3
linger_ms=$4
shift 4
exec </dev/null >>"$log" 2>&1
exec 3<>"/dev/tcp/127.0.0.1/$port" || exit 1
trap '' PIPE
# While the mark names a live guard, the profile is in use: a second browser on it would
# only hand its arguments to this one.
echo $$ >"$busy"

# Job control gives Chromium a process group of its own, so one signal reaches all of it.
set -m
"$@" &
browser=$!
set +m

# The program says "close" when it lets go of the browser; a program that died just
# drops the connection.
(read -r word <&3; [ "$word" = close ] && cat <&3 >/dev/null) &
reader=$!
wait -n -p ended "$browser" "$reader"
closed=$?
if [ "$ended" = "$reader" ] && [ "$closed" -eq 0 ] && [ "$linger_ms" -gt 0 ] 2>/dev/null; then
  # A browser slow to let go of its profile, as a real one can be after its host closed it.
  sleep "$(awk "BEGIN{print $linger_ms/1000}")"
fi
kill "$reader" 2>/dev/null
kill -TERM -- "-$browser" 2>/dev/null
for _ in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
  kill -0 -- "-$browser" 2>/dev/null || break
  sleep 0.1
done
kill -KILL -- "-$browser" 2>/dev/null
for _ in $(seq 100); do
  kill -0 -- "-$browser" 2>/dev/null || break
  sleep 0.05
done
rm -f "$busy"
echo exited >&3 2>/dev/null
exit 0
