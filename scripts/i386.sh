# Sourced by the set-up and test scripts: how this machine runs 32-bit x86
# programs (the modules' i386 twin and its tests): by the kernel itself, or
# through QEMU's user-mode emulator registered with binfmt_misc.
#
# Some kernels run no 32-bit code at all (no IA32 emulation); there the set-up
# registers qemu-i386. Under the emulator LeakSanitizer cannot stop the
# world, so the tests ask which of the two runs the twin.
#
# Nothing here switches the machine-wide binfmt_misc entry: another process
# may be starting i386 programs at the same moment, and an interrupted switch
# would leave the machine without its emulator.

i386_binfmt=/proc/sys/fs/binfmt_misc/qemu-i386

# qemu-i386 hands out addresses upwards through the whole 4 GiB, wrapping only
# at its end, while AddressSanitizer on i386 takes everything above
# 0xbfffffff for the kernel's: a process that loads and frees enough (the
# twin's suites load the modules hundreds of times) got a module mapped there
# and died in the sanitizer's start-up. Reserving just the sanitizer's range
# keeps every mapping inside it; the kernel ignores the variable when it runs
# the twin itself. (tests/CMakeLists.txt sets it on the twin's tests too.)
export QEMU_RESERVED_VA=0xc0000000

# i386_build_probe FILE: a static i386 program that prints "i386" (an
# answer a shell reading the file as a script cannot give by accident).
i386_build_probe() {
  printf '#include <unistd.h>\nint main(void) { return write(1, "i386\\n", 5) == 5 ? 0 : 1; }\n' > "$1.c"
  timeout 120 gcc -m32 -static -O1 -o "$1" "$1.c" \
    || { echo "i386.sh: gcc -m32 -static could not build a probe (g++-multilib is missing?)" >&2; return 1; }
}

# i386_runs FILE: true when the probe FILE runs here, by whatever runs it.
i386_runs() {
  [ "$(timeout --foreground -k 5 60 "$1" 2>/dev/null)" = i386 ]
}

# i386_kernel_runs [PROBE]: true when the kernel itself runs 32-bit
# programs (PROBE: one i386_build_probe built, else one is built). A copy of
# the probe carries a byte in its ELF identification's padding: the kernel's
# loader ignores the padding, while the i386 entries of binfmt_misc (QEMU's
# own, Debian's, the one install-deps.sh registers) ask for zeros there, so
# no emulator can run the probe in the kernel's stead.
# shellcheck disable=SC2120  # install-deps.sh passes its probe
i386_kernel_runs() (
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' EXIT
  if [ -n "${1:-}" ]; then cp "$1" "$dir/probe"; else i386_build_probe "$dir/probe" || exit 1; fi
  printf '\001' | dd of="$dir/probe" bs=1 seek=15 conv=notrunc status=none
  i386_runs "$dir/probe"
)

# True when an enabled binfmt_misc entry hands i386 programs to QEMU.
i386_emulated() {
  local binfmt entry
  binfmt=$(dirname "$i386_binfmt")
  [ "$(head -n 1 "$binfmt/status" 2>/dev/null)" = enabled ] || return 1
  for entry in "$binfmt"/*; do
    case ${entry##*/} in register|status) continue ;; esac
    [ "$(head -n 1 "$entry" 2>/dev/null)" = enabled ] || continue
    if [ "$entry" = "$i386_binfmt" ] || grep -Eqs '^interpreter .*(qemu-i386|/i386-binfmt)' "$entry"; then
      return 0
    fi
  done
  return 1
}

# True when the twin's programs run without the emulator: the kernel runs
# 32-bit code and no emulator's entry takes i386 programs first.
i386_native() {
  # shellcheck disable=SC2119  # no probe at hand: it builds one
  ! i386_emulated && i386_kernel_runs
}
