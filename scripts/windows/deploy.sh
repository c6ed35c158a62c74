#!/usr/bin/env bash
# Gathers a Windows program with everything it loads into one folder: the
# program, the DLLs its import tables name (followed recursively, from the
# cross-built Qt and the MinGW runtime; the system's own DLLs stay out), and the
# Qt plugins it needs at run time. Everything is stripped.
#
#   deploy.sh PROGRAM.exe QT_PREFIX OUT_DIR
set -euo pipefail
exe=$1 qt=$2 out=$3
triple=x86_64-w64-mingw32
search=("$qt/bin" "/usr/lib/gcc/$triple/$(
    ls /usr/lib/gcc/$triple | grep -- '-posix$' | sort -V | tail -n 1)" "/usr/$triple/lib")

rm -rf "$out"
mkdir -p "$out/platforms" "$out/styles"
cp "$exe" "$out/"
cp "$qt/plugins/platforms/qwindows.dll" "$out/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$out/styles/"

# The DLLs a file imports, by name as the import table spells them.
imports() { "$triple-objdump" -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
# Where a DLL of ours is, or nothing for the system's own.
locate() {
    local dir file
    for dir in "${search[@]}"; do
        file=$(find "$dir" -maxdepth 1 -iname "$1" -print -quit 2>/dev/null)
        [ -n "$file" ] && { echo "$file"; return 0; }
    done
    return 0
}

declare -A seen=()
queue=("$out/$(basename "$exe")" "$out/platforms/qwindows.dll" "$out/styles/qwindowsvistastyle.dll")
while [ ${#queue[@]} -gt 0 ]; do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    while read -r dll; do
        key=${dll,,}
        [ -n "${seen[$key]:-}" ] && continue
        seen[$key]=1
        found=$(locate "$dll")
        [ -z "$found" ] && continue
        cp "$found" "$out/$dll"
        queue+=("$out/$dll")
    done < <(imports "$file")
done

find "$out" -iname '*.exe' -o -iname '*.dll' | xargs "$triple-strip" --strip-unneeded
