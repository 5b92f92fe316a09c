#!/bin/sh
# Runs COMMAND as on a machine without -dev packages: in a mount namespace
# of its own (start it with `unshare -m`), the unversioned lib*.so links
# that only -dev packages install are taken out of the library directory
# by an overlay. Needs root.
# Usage: unshare -m without_dev_libs.sh SCRATCH COMMAND [ARG...]
set -eu
scratch=$1
shift
lib=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
mount --make-rprivate /
mkdir -p "$scratch/upper" "$scratch/work" "$scratch/lib"
mount -t overlay overlay -o "lowerdir=$lib,upperdir=$scratch/upper,workdir=$scratch/work" "$scratch/lib"
find "$scratch/lib" -maxdepth 1 -type l -name 'lib*.so' -delete
mount --bind "$scratch/lib" "$lib"
for name in libsimage.so libz.so libfreetype.so libCoin.so; do
  if [ -e "$lib/$name" ]; then
    echo "without_dev_libs: $lib/$name is still there" >&2
    exit 97
  fi
done
exec "$@"
