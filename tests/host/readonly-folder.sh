#!/bin/sh
# readonly-folder.sh WINE_RUN TEST_PROGRAM PLUGIN_DLL
#
# Runs the settings test's read-only case under Wine with the plug-in in a
# folder mounted read-only, so that even root (who may write anywhere else)
# cannot write there. The folder holds the DLL and a plugin.ini with
# LoopCount=5. Without root or mounts the test is skipped (exit 77).
set -u
run=$1
program=$2
dll=$3
if [ "$(id -u)" -ne 0 ]; then
    echo "Skipped: a read-only mount needs root"
    exit 77
fi
folder=$(mktemp -d)
cp "$dll" "$folder/in_dru.dll"
printf '[Tamboril]\r\nLoopCount=5\r\n' >"$folder/plugin.ini"
if ! mount --bind "$folder" "$folder" 2>/dev/null; then
    rm -rf "$folder"
    echo "Skipped: cannot mount here"
    exit 77
fi
trap 'umount "$folder"; rm -rf "$folder"' EXIT
if ! mount -o remount,bind,ro "$folder" 2>/dev/null; then
    echo "Skipped: cannot mount read-only here"
    exit 77
fi
TAMBORIL_READONLY_FOLDER=$folder "$run" "$program" --gtest_filter='SettingsHome.ReadOnly*'
