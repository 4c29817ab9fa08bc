#!/bin/sh
# Installs the build into a scratch prefix (cmake --install) and runs the installed program as a
# user would: its version, a conversion of a BMP and, through the libvips module found where it
# was installed, of a JPEG, its manual page and its completion; with the desktop program, its
# entry and icons too.
#     install_test.sh BUILD_DIR VERSION SAMPLE.bmp SAMPLE.jpg GUI(ON|OFF)
set -eu
build=$1 version=$2 sample=$3 photo=$4 gui=$5
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "install test: $*" >&2; exit 1; }

files="bin/lumaweave-cli share/man/man1/lumaweave-cli.1.gz
share/bash-completion/completions/lumaweave-cli"
[ "$gui" = ON ] && files="$files bin/lumaweave share/applications/lumaweave.desktop
share/icons/hicolor/16x16/apps/lumaweave.png share/icons/hicolor/256x256/apps/lumaweave.png"
for f in $files; do
  [ -s "$prefix/$f" ] || fail "$f is not installed"
done
[ "$gui" = ON ] && ! head -c 8 "$prefix/share/icons/hicolor/256x256/apps/lumaweave.png" |
  od -An -tx1 | grep -q "89 50 4e 47 0d 0a 1a 0a" && fail "the icon is not a PNG file"

[ "$("$prefix/bin/lumaweave-cli" --version)" = "lumaweave-cli $version" ] || fail "--version"
cd "$prefix"
cp "$sample" picture.bmp
"$prefix/bin/lumaweave-cli" -q -o out picture.bmp || fail "the conversion failed"
[ "$(wc -c <out/picture.S02)" -eq 14343 ] || fail "out/picture.S02 is not a SCREEN 2 image"
cp "$photo" photo.jpg
"$prefix/bin/lumaweave-cli" -q --fit -o out photo.jpg || fail "the JPEG was not converted"
[ "$(wc -c <out/photo.S02)" -eq 14343 ] || fail "out/photo.S02 is not a SCREEN 2 image"

gzip -dc share/man/man1/lumaweave-cli.1.gz | grep -q '\\fB\\-\\-output\\-dir\\fR' ||
  fail "the manual page lacks --output-dir"
if command -v man >/dev/null; then
  man -l share/man/man1/lumaweave-cli.1.gz | grep -q -- "--no-clobber" || fail "man -l"
fi
bash -c '. share/bash-completion/completions/lumaweave-cli && complete -p lumaweave-cli' |
  grep -q _lumaweave_cli || fail "the completion does not register"
echo "installed and ran from $prefix"
