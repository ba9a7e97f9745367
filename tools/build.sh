#!/usr/bin/env bash
# The first command: installs the Debian packages the build needs (only those missing), builds
# the instrument and its tools in Release, installs Oskra.vst3 into ~/.vst3/ (where Linux hosts
# look for VST3 plug-ins), installs the start kit into the user's Oskra folders where it is
# missing, and renders a short demo through the installed module into a WAV file.
# $OSKRA_DATA_DIR, when set, replaces the user-data root for the kit and the demo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
build="$root/build/release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j "$(nproc)" --target Oskra oskra-render oskra-kit

"$root/tools/install-bundle.sh" "$build/Oskra.vst3"  # into ~/.vst3/

# Sounds and the start preset; files the user already has are left as they are.
"$build/tools/startkit/oskra-kit"

demo="$build/oskra-demo.wav"
"$build/tools/oskra-render/oskra-render" --bundle "$HOME/.vst3/Oskra.vst3" --demo --out "$demo"
echo "Demo: $demo"
