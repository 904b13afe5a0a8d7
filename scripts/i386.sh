# Sourced by the set-up and test scripts: whether this machine runs 32-bit x86
# programs, natively or through QEMU's user-mode emulator.
#
# Some kernels run no 32-bit code at all (no IA32 emulation). There, i386 ELF
# programs (the Linux twin, its tools and tests) run under qemu-i386,
# registered with binfmt_misc; Wine, which needs the processor's own 32-bit
# mode, cannot run at all.

i386_binfmt=/proc/sys/fs/binfmt_misc/qemu-i386

# Builds a static i386 probe program into $1.
i386_build_probe() {
  printf 'int main(void) { return 0; }\n' > "$1.c"
  gcc -m32 -static -o "$1" "$1.c"
}

# True when the probe $1 runs without the emulator.
i386_runs_natively() {
  local status=0
  [ -e "$i386_binfmt" ] && echo 0 > "$i386_binfmt"
  "$1" 2>/dev/null || status=1
  [ -e "$i386_binfmt" ] && echo 1 > "$i386_binfmt"
  return $status
}

# True when this machine runs 32-bit code without the emulator (where Wine
# can run and LeakSanitizer can stop the world).
i386_native() {
  local dir status=0
  dir=$(mktemp -d)
  i386_build_probe "$dir/probe" && i386_runs_natively "$dir/probe" || status=1
  rm -rf "$dir"
  return $status
}
