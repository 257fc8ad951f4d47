#!/bin/sh
# Decodes every AVI file in the folder with the system's ffmpeg and compares the frames, bit for bit
# and in order, with the BGR24 frames (row 0 on top) that were fed to the writer.
set -eu
folder=$1
decoded=$(mktemp)
trap 'rm -f "$decoded"' EXIT
checked=0
for avi in "$folder"/*.avi; do
  [ -e "$avi" ] || break
  fed=${avi%.avi}.bgr
  name=$(basename "$avi" .avi)
  size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=s=x:p=0 "$avi")
  if [ "$size" != "$name" ]; then
    echo "$avi: ${size:-no video stream}, expected $name"
    exit 1
  fi
  ffmpeg -nostdin -v error -i "$avi" -map 0:v:0 -f rawvideo -pix_fmt bgr24 -vsync passthrough - >"$decoded"
  if ! cmp -s "$decoded" "$fed"; then
    echo "$avi: decoded $(wc -c <"$decoded") bytes, fed $(wc -c <"$fed"); first difference: $(cmp "$decoded" "$fed" 2>&1 || true)"
    exit 1
  fi
  echo "$avi: $(($(wc -c <"$fed") / (${name%x*} * ${name#*x} * 3))) frames match"
  checked=$((checked + 1))
done
if [ "$checked" -lt 2 ]; then
  echo "expected at least two files in $folder, found $checked"
  exit 1
fi
