#!/usr/bin/env bash
# install_test.sh BUILD SOURCE GIF
# Installs BUILD into a temporary prefix and checks it as a user and a consumer project would:
# the desktop entry and AppStream metainfo validate, nothing installed names the build or source
# folder (text, debug information or RPATH), the installed programs start, and
# examples/gif-viewer configures and builds against the prefix and animates GIF headless.
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
gif=$3
work=$(mktemp -d /tmp/velmora-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

app_id=org.velmora.Radio
for file in bin/velmora-radio bin/anigif \
    "share/applications/$app_id.desktop" "share/metainfo/$app_id.metainfo.xml" \
    share/icons/hicolor/{16x16,22x22,24x24,32x32,48x48,64x64,128x128,256x256}/apps/$app_id.png \
    "share/icons/hicolor/scalable/apps/$app_id.svg" \
    share/man/man1/velmora-radio.1 share/man/man1/anigif.1 \
    include/velmora/ucAniGIF include/velmora/AniGifWidget lib/cmake/Velmora/VelmoraConfig.cmake; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done
compgen -G "$prefix/lib/*/qt6/plugins/designer/*.so" >/dev/null || fail "no Designer plugin installed"

desktop-file-validate "$prefix/share/applications/$app_id.desktop"
appstreamcli validate --no-net --no-color "$prefix/share/metainfo/$app_id.metainfo.xml" >/dev/null ||
  appstreamcli validate --no-net --no-color "$prefix/share/metainfo/$app_id.metainfo.xml" >&2 ||
  fail "the metainfo does not validate"

# The build folder usually lies inside the source folder, so the source folder's path covers both.
for folder in "$source" "$build"; do
  if named=$(grep -rlF "$folder" "$prefix"); then
    fail "installed files name $folder:"$'\n'"$named"
  fi
done
for binary in "$prefix"/bin/* "$prefix"/lib/*/qt6/plugins/designer/*.so; do
  if readelf -d "$binary" | grep -E 'R(UN)?PATH'; then fail "$binary has an RPATH"; fi
done

# The installed programs run from the prefix, with nothing of the build tree.
"$prefix/bin/anigif" info "$gif" | grep -q '"frames"' || fail "installed anigif does not read $gif"
QT_QPA_PLATFORM=offscreen "$prefix/bin/velmora-radio" --version | grep -q '1\.0' ||
  fail "installed velmora-radio does not start"

# A consumer project: the example finds the package under the prefix only.
cmake -S "$source/examples/gif-viewer" -B "$work/viewer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
velmora_dir=$(sed -n 's/^Velmora_DIR:PATH=//p' "$work/viewer/CMakeCache.txt")
[ "$velmora_dir" = "$prefix/lib/cmake/Velmora" ] || fail "the example found Velmora in $velmora_dir"
cmake --build "$work/viewer" >/dev/null

output=$(QT_QPA_PLATFORM=offscreen "$work/viewer/gif-viewer" --self-test "$gif") ||
  fail "gif-viewer --self-test failed:"$'\n'"$output"
echo "$output" | tail -1
echo "$output" | grep -q ' frame changes by the timer$' || fail "unexpected self-test output: $output"
