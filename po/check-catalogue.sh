#!/usr/bin/env bash
# Every message the programs show in their own words (the texts passed to
# Tr, TrN and N_) has its Russian text in po/ru.po, neither missing, empty
# nor marked fuzzy. Run from anywhere; exits 1 and lists what is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$root"
mapfile -t sources < <(grep -rlE '\b(Tr|TrN|N_)\(' --include='*.cpp' --include="*.h" app cli sim serial station | sort)
if [ ${#sources[@]} -eq 0 ]; then
  echo "no message is marked for translation yet"
  exit 0
fi
xgettext --from-code=UTF-8 --language=C++ --keyword=Tr --keyword=TrN:1,2 --keyword=N_ \
  --add-location=file --force-po -o "$work/orvane.pot" "${sources[@]}"
msgcmp po/ru.po "$work/orvane.pot"
msgfmt --check -o /dev/null po/ru.po
echo "every message has its Russian text (${#sources[@]} source files)"
