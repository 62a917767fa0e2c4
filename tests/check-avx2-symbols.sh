#!/bin/sh
# The AVX2 build of the stage may define only what is its own (the
# instantiation for AVX2 and what hangs off it). An inline function shared
# with the baseline build, emitted here, could stand in for the baseline's
# copy anywhere in the library and run AVX2 instructions on a processor
# without them.
#   check-avx2-symbols.sh NM OBJECT...
nm=$1
shift
shared=$("$nm" -C -g --defined-only "$@" | awk '$2 != "V"' | grep -v 'runStage<true>')
if [ -n "$shared" ]; then
    echo "defined in the AVX2 build and not its own:"
    echo "$shared"
    exit 1
fi
echo "only the AVX2 build's own functions: $("$nm" -g --defined-only "$@" | grep -c .) symbols"
