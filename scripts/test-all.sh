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

# The launcher built against BugTrap instead of the project's crash reporter,
# with a stand-in import library: it must import exactly the BT_ functions of
# BugTrapU-x64.def from BugTrapU-x64.dll (it cannot run without that DLL).
echo "== build windows-bugtrap (the launcher only)"
cmake --preset windows-bugtrap >/dev/null
cmake --build --preset windows-bugtrap
bugtrap_imports=$(x86_64-w64-mingw32-objdump -p build/windows-bugtrap/bin/Launcher.exe |
  awk '/DLL Name:/ { dll = $3 } dll == "BugTrapU-x64.dll" && $3 ~ /^BT_/ { print $3 }' | sort | tr '\n' ' ')
bugtrap_expected=$(grep -E '^ +BT_' baselib/win/bugtrap/BugTrapU-x64.def | tr -d ' ' | sort | tr '\n' ' ')

. scripts/wine-env.sh
rq_wine_ready

passed=0
failed=0
if [ -n "$bugtrap_imports" ] && [ "$bugtrap_imports" = "$bugtrap_expected" ]; then
  echo "windows-bugtrap: Launcher.exe imports $bugtrap_imports"
  passed=$((passed + 1))
else
  echo "windows-bugtrap: Launcher.exe imports [$bugtrap_imports], expected [$bugtrap_expected]"
  failed=$((failed + 1))
fi
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
