#!/usr/bin/env bash
# Prepares this Debian 12 machine for running Windows programs of ours under
# Wine: Wine (both halves), Xvfb, the Japanese locale (which gives Wine the
# ANSI code page 932 and lets it see non-ASCII file names), Japanese fonts
# for the message boxes, and the 64-bit cross compiler for machines whose
# kernel runs no 32-bit code. Idempotent: does nothing that is already done.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/ensure-packages wine wine32:i386 wine64 xvfb xauth locales fonts-ipafont-gothic \
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 imagemagick

if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
