#!/usr/bin/env bash
# The extraction hunt on a file system of 5 MiB that the cases fill: what does not fit
# must fail whole, leave no part behind and be told by the exit code.
#   extract_hunt_full.sh EXTRACT_HUNT ARGS...   (the hunt's options but --in)
# Exits with 77 (skipped) where no small file system can be mounted (not root).
set -u
dir=$(mktemp -d)
trap 'umount "$dir" 2>/dev/null; rmdir "$dir"' EXIT
if ! mount -t tmpfs -o size=5m tmpfs "$dir" 2>/dev/null; then
  echo "SKIPPED: a small tmpfs cannot be mounted here (it needs root)"
  exit 77
fi
"$@" --in "$dir"
