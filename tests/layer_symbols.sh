#!/usr/bin/env bash
# Every symbol a layer library takes from another layer's library is defined
# in one that it links: static libraries would otherwise let a missing link
# pass as long as the programs link both. The link graph is the one the
# build wrote. Usage: layer_symbols.sh BUILD_DIR
set -euo pipefail
build=$1
graph=$build/kestrel_layer_links.txt
[ -s "$graph" ] || { echo "layer symbols: no link graph in $graph" >&2; exit 1; }
declare -A links
while IFS= read -r line; do
  target=${line%%: *}
  [[ $target == kestrel_* ]] || continue
  links[$target]=" $(echo "${line#*: }" | tr ';' ' ') "
done <"$graph"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Symbol and the layer that defines it (code, data, read-only data, bss).
for target in "${!links[@]}"; do
  archive=$build/lib$target.a
  [ -e "$archive" ] || { echo "layer symbols: $archive was not built" >&2; exit 1; }
  nm --defined-only "$archive" | awk -v t="$target" 'NF == 3 && $2 ~ /^[TDRB]$/ {print $3, t}'
done | sort -u -k1,1 >"$work/defined"
failed=0
for target in "${!links[@]}"; do
  nm -u "$build/lib$target.a" | awk '$1 == "U" {print $2}' | sort -u >"$work/used"
  while read -r symbol owner; do
    [ "$owner" = "$target" ] && continue
    case ${links[$target]} in *" $owner "*) continue ;; esac
    echo "layer symbols: $target uses $(echo "$symbol" | c++filt) from $owner, which it does not link" >&2
    failed=1
  done < <(join "$work/used" "$work/defined")
done
[ $failed -eq 0 ] && echo "layer symbols: every layer uses only the layers it links"
exit $failed
