#!/bin/sh
# make_venv.sh PYTHON VENV PACKAGE_DIR: a fresh venv that sees the system's
# packages (pytest), with the package installed by pip, offline. The
# system's pip installs into it: bootstrapping pip in the venv takes longer
# than everything else here.
set -e
rm -rf "$2"
"$1" -m venv --without-pip --system-site-packages "$2"
# pip builds in the source tree: keep its leftovers out of the checkout
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$3/." "$work/"
rm -rf "$work/build" "$work"/src/*.egg-info
"$1" -m pip --python "$2/bin/python" install -q --no-build-isolation --no-index --no-deps \
    --disable-pip-version-check "$work"
