#!/bin/sh
# Checks that the sources keep their layering: a folder of src/ includes
# only from itself and the folders below it (common, then records and cli,
# then platform, then server and view side by side, then main.cc and
# view_main.cc), the server and the view reach the platform only through its
# one header, and no source file passes 500 lines.
set -eu
cd "$(dirname "$0")/.."
rank() {
  case $1 in
    common) echo 0 ;;
    records|cli) echo 1 ;;
    platform) echo 2 ;;
    server|view) echo 3 ;;
    .) echo 4 ;;
    *) echo 9 ;;
  esac
}
status=0
for file in $(git ls-files 'src/*.h' 'src/*.cc'); do
  from=$(dirname "${file#src/}")
  if [ "$(rank "$from")" = 9 ]; then
    echo "check-layout: $file is in a folder of src/ with no place" >&2
    status=1
  fi
  lines=$(wc -l <"$file")
  if [ "$lines" -gt 500 ]; then
    echo "check-layout: $file has $lines lines" >&2
    status=1
  fi
  # A comment may follow the name.
  for header in $(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file"); do
    to=$(dirname "$header")
    [ "$to" = "$from" ] && continue
    if [ "$(rank "$to")" -ge "$(rank "$from")" ] ||
       { { [ "$from" = server ] || [ "$from" = view ]; } &&
         [ "$header" != platform/platform.h ] &&
         [ "$to" = platform ]; }; then
      echo "check-layout: $file includes $header" >&2
      status=1
    fi
  done
done
exit $status
