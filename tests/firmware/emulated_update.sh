#!/usr/bin/env bash
# A whole update of the bootloader firmware on an emulated chip, with the real CLI:
#   emulated_update.sh AVRSIM CLI BOOT.hex MCU BOOT_START CASE
# CASE: blink (samples/blink.hex paced, the program seen toggling PB0), fast SIZE (an
# image of SIZE bytes with every escaped value, --fast), powercut SIZE (the emulator
# killed in the middle of programming, started again from its flash file: it stays in
# the bootloader and the next update succeeds), hostile SIZE (a host that streams past
# the application section without waiting, breaks escapes and sends garbage, then a
# normal update). Afterwards the flash file holds the image
# (srec_cat judges) and the boot section is byte for byte the bootloader.
set -euo pipefail
avrsim=$1 cli=$2 boot=$3 mcu=$4 boot_start=$5 case=$6 size=${7:-0}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
sim=
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    for f in "$work"/*.log; do echo "--- $f"; tail -n 5 "$f"; done >&2
    exit 1
}

start_chip() { # pins file
    "$avrsim" --mcu "$mcu" --flash "$work/flash.bin" --eeprom "$work/eeprom.bin" \
        --pins "$work/$1" --max-time 300 "$boot" >"$work/sim.out" 2>"$work/sim.log" &
    sim=$!
    for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
    port=$(head -n 1 "$work/sim.out")
    [ -n "$port" ] || fail "the emulator printed no port"
}
stop_chip() {
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    sim=
}
update() { # image, log, options...
    local image=$1 log=$2
    shift 2
    "$cli" update --yes --port "$port" "$@" "$image" >"$work/$log" 2>&1
}
make_image() { # size -> image.hex: every byte value, the escaped ones at page edges too
    python3 - "$1" "$work/image.hex" <<'PY'
import sys
size, path = int(sys.argv[1]), sys.argv[2]
data = bytes((i * 7 + (i >> 8)) & 0xFF if i % 64 not in (0, 63) else (0x13, 0xA5)[i % 2]
             for i in range(size))
lines, ext = [], -1
for off in range(0, size, 16):
    if off >> 16 != ext:
        ext = off >> 16
        rec = [2, 0, 0, 2, (ext << 12) >> 8 & 0xFF, 0]
        lines.append(":" + "".join("%02X" % b for b in rec) + "%02X" % (-sum(rec) & 0xFF))
    chunk = data[off:off + 16]
    rec = [len(chunk), off >> 8 & 0xFF, off & 0xFF, 0] + list(chunk)
    lines.append(":" + "".join("%02X" % b for b in rec) + "%02X" % (-sum(rec) & 0xFF))
lines.append(":00000001FF")
open(path, "w").write("\n".join(lines) + "\n")
PY
}
check_flash() { # image.hex
    srec_cat "$1" -intel -o "$work/image.bin" -binary
    local n
    n=$(stat -c %s "$work/image.bin")
    cmp -n "$n" "$work/flash.bin" "$work/image.bin" || fail "the flash file differs from the image"
    srec_cat "$boot" -intel -offset "-$boot_start" -o "$work/boot.bin" -binary
    cmp -i "$boot_start:0" -n "$(stat -c %s "$work/boot.bin")" "$work/flash.bin" "$work/boot.bin" ||
        fail "the boot section changed"
}

case $case in
blink)
    start_chip pins.txt
    update "$here/../../samples/blink.hex" update.log || fail "the update failed"
    sleep 1
    stop_chip
    grep -q "Gespeichertes Programm korrekt übertragen" "$work/update.log" || fail "no verification"
    [ "$(grep -c 'PORTB' "$work/pins.txt")" -ge 4 ] || fail "the program does not toggle PB0"
    check_flash "$here/../../samples/blink.hex"
    # Switched on again without a host, the program runs within half a second of the
    # chip's own (simulated) time.
    start_chip pins2.txt
    sleep 1.5
    stop_chip
    first=$(awk '/PORTB/ { print int($1); exit }' "$work/pins2.txt")
    [ -n "$first" ] && [ "$first" -lt 500 ] || fail "the program started at ${first:-no} ms"
    ;;
fast)
    make_image "$size"
    start_chip pins.txt
    update "$work/image.hex" update.log --fast || fail "the update failed"
    stop_chip
    check_flash "$work/image.hex"
    ;;
powercut)
    make_image "$size"
    start_chip pins.txt
    update "$work/image.hex" cut.log --fast &
    host=$!
    for _ in $(seq 200); do grep -q Programmiere "$work/cut.log" 2>/dev/null && break; sleep 0.05; done
    sleep 0.3
    kill -9 "$sim"
    wait "$sim" 2>/dev/null || true
    sim=
    wait "$host" || true
    # Switched on again without a host: it must stay in its bootloader for the next one.
    start_chip pins2.txt
    sleep 1
    update "$work/image.hex" update.log --fast || fail "the update after the power cut failed"
    stop_chip
    check_flash "$work/image.hex"
    ;;
hostile)
    make_image "$size"
    start_chip pins.txt
    python3 - "$port" >"$work/hostile.log" 2>&1 <<'PY' || fail "the hostile host failed"
import os, sys, termios, time, tty
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
tty.setraw(fd)
attrs = termios.tcgetattr(fd)
attrs[4] = attrs[5] = termios.B115200
termios.tcsetattr(fd, termios.TCSANOW, attrs)
def send(data, gap=0.0):
    for i in range(0, len(data), 64):
        os.write(fd, data[i:i + 64])
        time.sleep(gap)
for _ in range(3):
    send(b"Kiwu\xff", 0.06)
send(b"\xa5")
time.sleep(0.2)
# Programming far beyond the section, never waiting for an acknowledgement.
send(b"\xa5\x04" + bytes(range(256)).replace(b"\xa5", b"\x00").replace(b"\x13", b"\x00") * 160)
send(b"\xa5\x05\xa5\xa5\xa5\x13" + bytes(range(256)) * 4 + b"\xa5\x80\xa5\x05")
send(b"\xa5\x04\xa5")  # a stream cut off in an escape
time.sleep(3)  # silence: the bootloader starts again
os.close(fd)
PY
    sleep 0.5
    update "$work/image.hex" update.log --fast || fail "the update after the hostile host failed"
    stop_chip
    grep -q "0 Zugriffe auf den Bootbereich abgewiesen" "$work/sim.log" ||
        fail "the firmware tried to change its own section"
    check_flash "$work/image.hex"
    ;;
*)
    fail "unknown case $case"
    ;;
esac
echo "ok: $mcu $case $size"
