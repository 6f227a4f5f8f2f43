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
# src/library/run holds one folder per feature over the pieces they share (the files directly
# in it): a feature includes the shared pieces and its own folder, never another feature, and
# the shared pieces include no feature.
features=(create show check)
while IFS=: read -r file _ include; do
  own=$(sed -E 's#^library/run/([a-z_]+)/.*#\1#; t; s#.*##' <<<"$file")
  folder=$(sed -E 's#^\#include "library/run/([a-z_]+)/.*#\1#; t; s#.*##' <<<"$include")
  if [ -n "$folder" ] && [ "$folder" != "$own" ]; then
    if [ -z "$own" ]; then
      echo "layering: $file, shared by the run's features, includes from src/library/run/$folder"
    else
      echo "layering: $file includes from src/library/run/$folder, another feature of the run"
    fi
    fail=1
  fi
done < <(grep -rnE '^#include "library/run/' "$src/library/run" | sed "s#^$src/##")
for folder in "$src"/library/run/*/; do
  folder=$(basename "$folder")
  if [[ " ${features[*]} " != *" $folder "* ]]; then
    echo "layering: src/library/run/$folder is no feature this test knows (${features[*]})"
    fail=1
  fi
done
platform='^#include <(windows\.h|commctrl\.h|commdlg\.h|unistd\.h|fcntl\.h|sys/[a-z_]+\.h|signal\.h|csignal)>'
while IFS= read -r hit; do
  case "$hit" in
    files/*|app/win32/*|app/console/*) ;;
    *) echo "platform header outside the file layer and the front ends: $hit"; fail=1 ;;
  esac
done < <(grep -rnE "$platform" "$src" | sed "s#^$src/##")
if [ "$fail" -eq 0 ]; then echo "layers in order: ${layers[*]}; library: ${sublayers[*]}; run: ${features[*]}"; fi
exit "$fail"
