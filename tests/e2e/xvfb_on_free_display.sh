#!/usr/bin/env bash
# Runs Xvfb (24-bit, 1280 x 1024) on a display number it picks itself and
# writes that number to FILE once the server listens. Xvfb replaces this
# shell, so its pid is the server's.
# usage: xvfb_on_free_display.sh FILE
exec Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$1"
