#!/bin/sh
# Runs a 64-bit ARM Linux program under qemu-aarch64 with the cross
# toolchain's libraries. The process tests put it in front of kalmora too
# (KALMORA_WRAPPER), since the host cannot start an ARM program by itself.
exec qemu-aarch64 -L "${QEMU_LD_PREFIX:-/usr/aarch64-linux-gnu}" "$@"
