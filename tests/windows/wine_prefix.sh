#!/bin/sh
# One Wine prefix for a whole test run: "create" makes it in a fresh temporary directory and
# notes where in STATE, "run" runs a command inside it, "remove" waits for its wine server to
# finish and deletes it. Wine's own debug output is off throughout.
#
# Usage: wine_prefix.sh create STATE WINE64 | run STATE COMMAND... | remove STATE WINESERVER
set -eu
action=$1
state=$2
shift 2
export WINEDEBUG=-all

case $action in
create)
    prefix=$(mktemp -d "${TMPDIR:-/tmp}/cleave-wine.XXXXXX")
    echo "$prefix" >"$state"
    # Building the prefix takes a while; doing it here keeps it out of every test's time.
    WINEPREFIX=$prefix "$1" wineboot --init >"$prefix.log" 2>&1 ||
        { cat "$prefix.log"; rm -f "$prefix.log"; exit 1; }
    rm -f "$prefix.log"
    ;;
run)
    WINEPREFIX=$(cat "$state")
    export WINEPREFIX
    exec "$@"
    ;;
remove)
    [ -f "$state" ] || exit 0
    prefix=$(cat "$state")
    case $prefix in
    */cleave-wine.*) ;;
    *) echo "not a prefix of ours: $prefix" >&2; exit 1 ;;
    esac
    WINEPREFIX=$prefix "$1" -w || true
    rm -rf "$prefix" "$state"
    ;;
*)
    echo "unknown action: $action" >&2
    exit 2
    ;;
esac
