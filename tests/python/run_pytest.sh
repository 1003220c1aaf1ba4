#!/bin/sh
# run_pytest.sh PYTHON [PYTEST ARGS]: pytest with the sanitizer runtime
# preloaded when the library under test was built with it (KORVIK_PRELOAD).
# Python itself leaks on purpose at exit, so leak reports are off there.
py="$1"
shift
if [ -n "$KORVIK_PRELOAD" ]; then
    export LD_PRELOAD="$KORVIK_PRELOAD${LD_PRELOAD:+:$LD_PRELOAD}"
    export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
fi
exec "$py" -m pytest -p no:cacheprovider -q "$@"
