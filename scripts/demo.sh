#!/usr/bin/env bash
# Runs the demo on the built-in sample site: the tour on standard output, the picture of its two
# searches in demo.svg and the 3D page of its volume search in demo.html (in the current folder).
set -u
bin="${1:-build/dev}/bin"
exec "$bin/kep-host" demo --html demo.html
