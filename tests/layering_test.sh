#!/usr/bin/env bash
# The folders of src/ form layers: each may include only from itself and the layers below it,
# and only the file layer and the front ends may include platform headers.
set -u
src="$1/src"
layers=(core files project picture packer library font app)
fail=0
for i in "${!layers[@]}"; do
  layer=${layers[$i]}
  allowed=" ${layers[*]:0:$((i + 1))} "
  while IFS=: read -r file _ include; do
    folder=$(sed -E 's/^#include "([a-z_]+)\/.*/\1/' <<<"$include")
    if [[ "$allowed" != *" $folder "* ]]; then
      echo "layering: $file includes from src/$folder, above src/$layer"
      fail=1
    fi
  done < <(grep -rnE '^#include "[a-z_]+/' "$src/$layer" | sed "s#^$src/##")
done
# Inside src/library the same holds for its three layers.
sublayers=(store codec run)
for i in "${!sublayers[@]}"; do
  layer=${sublayers[$i]}
  allowed=" ${sublayers[*]:0:$((i + 1))} "
  while IFS=: read -r file _ include; do
    folder=$(sed -E 's/^#include "library\/([a-z_]+)\/.*/\1/' <<<"$include")
    if [[ "$allowed" != *" $folder "* ]]; then
      echo "layering: $file includes from src/library/$folder, above src/library/$layer"
      fail=1
    fi
  done < <(grep -rnE '^#include "library/[a-z_]+/' "$src/library/$layer" | sed "s#^$src/##")
done
platform='^#include <(windows\.h|commctrl\.h|commdlg\.h|unistd\.h|fcntl\.h|sys/[a-z_]+\.h|signal\.h|csignal)>'
while IFS= read -r hit; do
  case "$hit" in
    files/*|app/win32/*|app/console/*) ;;
    *) echo "platform header outside the file layer and the front ends: $hit"; fail=1 ;;
  esac
done < <(grep -rnE "$platform" "$src" | sed "s#^$src/##")
if [ "$fail" -eq 0 ]; then echo "layers in order: ${layers[*]}; library: ${sublayers[*]}"; fi
exit "$fail"
