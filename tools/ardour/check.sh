#!/usr/bin/env bash
# Checks an installed Oskra.vst3 in Debian's Ardour 7 without a screen or a sound card: Ardour's
# VST3 scanner indexes the bundle, then Ardour's Lua session tool (with its dummy audio engine)
# makes a session with Oskra on a MIDI track, shows its parameters, plays notes, saves the
# session, and loads it again in a new process. Needs the package ardour (apt-get install
# ardour). Not part of the test suite: it checks the plug-in in a real host by hand.
#
#   tools/ardour/check.sh [bundle]     (default ~/.vst3/Oskra.vst3, where hosts look)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bundle=${1:-$HOME/.vst3/Oskra.vst3}
libs=/usr/lib/ardour7
if [ ! -x "$libs/ardour-vst3-scanner" ] || ! command -v ardour7-lua >/dev/null; then
  echo "Ardour 7 is not installed (apt-get install ardour)" >&2
  exit 1
fi
# Ardour takes its cache of a module only when the cache is newer than the module; the cache is
# dated when the scan runs, so a module installed this very second is scanned a second later.
module=$(find "$bundle/Contents" -name '*.so' -printf '%T@\n' 2>/dev/null | sort -n | tail -n 1)
while [ -n "$module" ] && [ "$(date +%s)" -le "${module%.*}" ]; do sleep 0.2; done
LD_LIBRARY_PATH=$libs "$libs/ardour-vst3-scanner" --force "$bundle"
session=$(mktemp -d /tmp/oskra-ardour.XXXXXX)
trap 'rm -rf "$session"' EXIT
run_step() {
  # The Lua tool reports a failed assertion but still exits with 0: the last line tells.
  output=$(ardour7-lua "$here/oskra-ardour.lua" "$session/session" "$1" 2>&1 |
           grep -v -e 'MIDI Clock in new' -e 'MTC in new' -e 'Reasonable Synth' -e 'Butler drops' || true)
  echo "$output"
  [ "$(echo "$output" | tail -n 1)" = "done" ]
}
for step in create restore; do
  echo "== $step"
  if ! run_step "$step"; then
    # Now and then Ardour 7.3's Lua tool registers a new track's output ports twice and aborts,
    # with its own synth on the track as well; the step is then worth one more try.
    echo "$output" | grep -q 'Port already exists' || { echo "Ardour check failed at $step" >&2; exit 1; }
    echo "== $step, again after Ardour's failed track set-up"
    [ "$step" = create ] && rm -rf "${session:?}/session"
    run_step "$step" || { echo "Ardour check failed at $step" >&2; exit 1; }
  fi
done
echo "Oskra loads, plays, saves and restores in Ardour 7."
