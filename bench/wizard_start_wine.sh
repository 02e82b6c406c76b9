#!/usr/bin/env bash
# The time from the start of the Win32 wizard dorvik.exe under Wine to its
# welcome page, with the Wine prefix's wineserver already running: ten
# starts on the lane's own desktop (Xvfb, openbox, Russian locale). Needs
# the release and the windows builds (./scripts/test makes both). Goal:
# under 1 s.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
VELMORA_WINDOWS_BIN="$root/build/windows/bin" "$root/build/release/bin/windows_wizard_tests" \
  --gtest_also_run_disabled_tests --gtest_filter='*DISABLED_StartToWelcomePageTimes' | grep -E "start to|median"
