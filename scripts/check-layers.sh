#!/usr/bin/env bash
# Checks that src/ includes only downward:
#   core < memory, cpu < the chips (io video sound input floppy recording debugger)
#        < machine < ui < host < app
# memory/ and cpu/ stand side by side, but memory/ needs nothing of the processor's. Only host/
# includes SDL or ImGui. Prints each offending line and fails when there is one.
set -uo pipefail
cd "$(dirname "$0")/../src"

rank() {
    case "$1" in
        core) echo 0 ;;
        memory | cpu) echo 1 ;;
        io | video | sound | input | floppy | recording | debugger) echo 2 ;;
        machine) echo 3 ;;
        ui) echo 4 ;;
        host) echo 5 ;;
        app) echo 6 ;;
        *) echo 9 ;;
    esac
}

status=0
while IFS= read -r line; do
    file=${line%%:*}
    from=${file%%/*}
    [ "$from" = "$file" ] && from=app  # main.cpp
    target=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"${line#*:*:}")
    if [ "$(rank "$target")" -gt "$(rank "$from")" ] || { [ "$from" = memory ] && [ "$target" = cpu ]; }; then
        echo "upward include: src/$line"
        status=1
    fi
done < <(grep -rn --include='*.h' --include='*.cpp' '^#include "[a-z]*/' .| sed 's#^\./##')

while IFS= read -r line; do
    case "$line" in host/*) ;; *) echo "SDL or ImGui outside host/: src/$line"; status=1 ;; esac
done < <(grep -rnE --include='*.h' --include='*.cpp' '^#include [<"](SDL|imgui)' . | sed 's#^\./##')

[ "$status" -eq 0 ] && echo "layers: every include looks down"
exit "$status"
