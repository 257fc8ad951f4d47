#!/bin/sh
# small_disk.sh mount|unmount FOLDER: a small tmpfs at FOLDER for the recording tests, marked by
# FOLDER/.small_disk. Mounting needs root; without it the tests that need the disk skip.
set -u
action=$1
folder=$2
case $action in
  mount)
    mkdir -p "$folder"
    if mountpoint -q "$folder"; then umount "$folder"; fi
    if mount -t tmpfs -o size=8m tmpfs "$folder" 2>/dev/null; then
      touch "$folder/.small_disk"
      echo "small disk mounted at $folder"
    else
      echo "could not mount a tmpfs at $folder; the small-disk tests will skip"
    fi
    ;;
  unmount)
    if mountpoint -q "$folder"; then umount "$folder"; fi
    ;;
esac
exit 0
