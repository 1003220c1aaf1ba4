#!/bin/sh
# Compiles a file that includes one header against one layer's include root.
# usage: layer_include.sh pass|fail HEADER COMPILER FLAGS...
expect=$1 header=$2
shift 2
if printf '#include "%s"\n' "$header" | "$@" -std=c++17 -fsyntax-only -x c++ - 2>/dev/null; then
    result=pass
else
    result=fail
fi
if [ "$result" != "$expect" ]; then
    echo "including $header: expected $expect, got $result" >&2
    exit 1
fi
