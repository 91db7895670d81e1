#!/usr/bin/env bash
# The layers of src/, as the data flows: base <- cue <- output <- extract <- app.
# A file may include its own layer's headers and those of the layers below
# it, never one above. Prints each include that points upward; status 1 if any.
case ${1-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/../src"
layers=(base cue output extract app)
rank() { local i; for i in "${!layers[@]}"; do [[ ${layers[$i]} == "$1" ]] && echo "$i" && return; done; echo -1; }
status=0
for file in */*.cpp */*.h; do
  own=$(rank "${file%%/*}")
  while IFS=: read -r line target; do
    to=$(rank "${target%%/*}")
    if ((to > own || to < 0)); then
      echo "src/$file:$line includes \"$target\", a layer above its own or none"
      status=1
    fi
  done < <(grep -n '^#include "' "$file" | sed -E 's/^([0-9]+):#include "([^"]+)".*/\1:\2/')
done
exit $status
