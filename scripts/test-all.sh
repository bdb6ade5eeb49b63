#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test:
# native, native with AddressSanitizer/UBSan, native with ThreadSanitizer, and
# the Windows build under Wine in a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

presets=(linux linux-asan linux-tsan windows)
for p in "${presets[@]}"; do
  echo "== build $p"
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p"
done

. scripts/wine-env.sh
rq_wine_ready

passed=0
failed=0
for p in "${presets[@]}"; do
  echo "== test $p"
  log=$(mktemp)
  if ctest --preset "$p" 2>&1 | tee "$log"; then :; fi
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  rm -f "$log"
  if [ -z "$line" ]; then
    echo "test-all: $p ran no tests"
    failed=$((failed + 1))
    continue
  fi
  total=$(echo "$line" | sed -E 's/.* out of ([0-9]+).*/\1/')
  bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed.*/\1/')
  passed=$((passed + total - bad))
  failed=$((failed + bad))
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
