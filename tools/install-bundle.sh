#!/usr/bin/env bash
# Installs a built VST3 bundle into ~/.vst3/, where Linux hosts look for VST3 plug-ins, in place
# of the one installed before. The bundle is copied beside the old one and then moved over it,
# so a host scanning meanwhile never finds half a bundle.
#
#   tools/install-bundle.sh build/release/Oskra.vst3
set -euo pipefail
if [ $# -ne 1 ] || [ ! -d "$1/Contents" ]; then
  echo "usage: install-bundle.sh BUNDLE.vst3 (a built bundle folder)" >&2
  exit 1
fi
name=$(basename "$1")
vst3="$HOME/.vst3"
mkdir -p "$vst3"
staging=$(mktemp -d "$vst3/.install.XXXXXX")
trap 'rm -rf "$staging"' EXIT
cp -R "$1" "$staging/$name"
rm -rf "${vst3:?}/$name"
mv "$staging/$name" "$vst3/$name"
echo "Installed $vst3/$name"
