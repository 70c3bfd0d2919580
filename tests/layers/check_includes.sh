#!/usr/bin/env bash
# Fails when a file includes a project header from a folder above its own.
# Usage: check_includes.sh SOURCE_ROOT
# Layers, lowest first; a folder may include its own folder and any folder of a lower layer.
set -u
root=${1:?usage: check_includes.sh SOURCE_ROOT}

rank_of() {
    case "$1" in
    # cmake/ holds the precompiled headers: Qt and the standard library only.
    base | cmake) echo 0 ;;
    data | sms | link | modemsim | resources | smpp) echo 1 ;;
    sending) echo 2 ;;
    app) echo 3 ;;
    ui) echo 4 ;;
    main | tools) echo 5 ;;
    tests | bench) echo 6 ;;
    *) echo "" ;;
    esac
}

status=0
cd "$root" || exit 2
while IFS= read -r file; do
    from=${file%%/*}
    from_rank=$(rank_of "$from")
    if [ -z "$from_rank" ]; then
        echo "$file: folder '$from' has no layer; add it to $0"
        status=1
        continue
    fi
    while IFS=: read -r line target; do
        to=${target%%/*}
        # "x.h" without a folder is beside the including file.
        [ "$to" = "$target" ] && continue
        to_rank=$(rank_of "$to")
        # Paths that do not start with a project folder are relative to the file's own folder.
        [ -z "$to_rank" ] && continue
        if [ "$to" != "$from" ] && [ "$to_rank" -ge "$from_rank" ]; then
            echo "$file:$line: includes \"$target\": '$from' must not include '$to' (same or higher layer)"
            status=1
        fi
    done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' "$file" |
        sed -E 's/^([0-9]+):[^"]*"([^"]+)".*/\1:\2/')
done < <(find . -path ./build -prune -o -path './build-*' -prune -o -path ./.git -prune -o \
    -type f \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||' | sort)
exit $status
