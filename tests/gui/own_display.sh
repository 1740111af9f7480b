#!/usr/bin/env bash
# own_display.sh COMMAND...: runs COMMAND on an X server of its own (Xvfb, one screen of
# 1280x1024x24) and stops the server when COMMAND ends; exits with COMMAND's status.
#
# CTest starts every GUI test through this, so tests that run side by side (ctest -j)
# never share a display. Under one server without a window manager, a window that one
# test activates takes the input focus from the window of another, and Qt closes what
# that window had open: a dropped-down speed list closes before the click on its item
# arrives, and the pick goes astray. Each server picks a free display number itself
# (-displayfd), so servers started at the same moment never collide.
set -u

if ! command -v Xvfb >/dev/null 2>&1; then
  # The listing of the tests needs no display: the suite then draws offscreen.
  case " $* " in *" --gtest_list_tests "*)
    unset DISPLAY WAYLAND_DISPLAY
    exec "$@"
    ;;
  esac
  echo "own_display.sh: Xvfb is not installed (apt-get install xvfb); every GUI test runs" \
    "on an X server of its own" >&2
  # Skipped (CTest's SKIP_RETURN_CODE), unless the test command wants every test run.
  case ${ORNAT_TESTS_NO_SKIP:-0} in 0 | "") exit 77 ;; *) exit 1 ;; esac
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/ornat-display.XXXXXX") || exit 1
xvfb=
stop_server() {
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
    xvfb=
  fi
  rm -rf "$dir"
}
trap stop_server EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# Xvfb writes its display number to the pipe once it accepts clients.
mkfifo "$dir/display" || exit 1
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
number=
if ! read -r -t 30 number <"$dir/display" || [ -z "$number" ]; then
  echo "own_display.sh: Xvfb did not start:" >&2
  cat "$dir/xvfb.log" >&2
  exit 1
fi

# Not the caller's display, nor a Wayland compositor the caller may have.
unset WAYLAND_DISPLAY
DISPLAY=":$number" "$@"
status=$?
exit "$status"
