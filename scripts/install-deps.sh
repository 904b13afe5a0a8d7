#!/usr/bin/env bash
# Installs the packages the main job needs on a fresh Debian machine (amd64);
# --tests adds the test suite's, --package the .deb's. Everything is a package of the machine's own architecture:
# the i386 twin needs only g++-multilib's 32-bit runtimes, the PE modules run
# in the bench host's emulator, so no foreign architecture and no list of one
# is read. Safe to run again: a machine that has it all is left alone and no
# mirror is asked.
set -euo pipefail

usage() {
  cat <<'USAGE'
install-deps.sh [--tests] [--package]
  with no option: what the main job (scripts/run.sh) builds and runs with
  --tests    also what the test suite (scripts/test.sh) needs: the i386
             twin's runtimes, GoogleTest, the fuzzers' clang, the browser,
             Node.js, lcov and the debuggers
  --package  also what building the .deb needs (cpack -G DEB, lintian)
USAGE
}
tests=no package=no
for option in "$@"; do
  case "$option" in
    --tests) tests=yes ;;
    --package) package=yes ;;
    -h|--help) usage; exit 0 ;;
    *) echo "install-deps.sh: unknown option '$option'" >&2; usage >&2; exit 2 ;;
  esac
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
native_arch=$(dpkg --print-architecture)

# One list for each purpose.
main_packages=(
  cmake make g++ ccache
  # The PE32 deliverables.
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  libcli11-dev nlohmann-json3-dev
  # The bench host: the x86 emulator it runs the PE modules in, its drawing,
  # its web server.
  libunicorn-dev pkg-config libcairo2-dev libpng-dev libdeflate-dev libfreetype-dev
  fonts-dejavu-core fonts-dejavu-extra
  # The bitmaps' one typeface (artgen).
  fonts-adf-gillius
  # JSBSim's one library (the executable is taken from its package below).
  libexpat1
)
test_packages=(
  googletest python3
  # The i386 twin (its 32-bit C and C++ runtimes and sanitizers).
  g++-multilib
  # The fuzz harnesses (libFuzzer).
  clang libclang-rt-14-dev
  # The browser tests.
  chromium
  # genhtml, which renders the coverage report's lcov tracefile.
  lcov
  # The debuggers the suite attaches to module code (GDB's remote protocol).
  gdb-mingw-w64 gdb-multiarch
)
package_packages=(
  # cpack -G DEB: the package's dependencies (dpkg-shlibdeps), and its check.
  dpkg-dev lintian
)
packages=("${main_packages[@]}")
if [ "$tests" = yes ]; then
  packages+=("${test_packages[@]}")
  # Node.js for the browser tests: Debian's, unless one is installed already
  # (NodeSource's brings its own npm, which Debian's npm package conflicts with).
  command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)
fi
[ "$package" = no ] || packages+=("${package_packages[@]}")

# Installed for this machine's architecture (or for all): a machine set up by
# earlier versions of this script may hold a foreign build of a name, which
# the 64-bit bench host cannot use.
installed() {
  dpkg-query -W -f='${db:Status-Abbrev} ${Architecture}\n' "$1" 2>/dev/null \
    | awk -v native="$native_arch" '$1 == "ii" && ($2 == native || $2 == "all") { found = 1 } END { exit !found }'
}
# Only this machine's architecture's lists are read. A machine set up by
# earlier versions of this script has a foreign architecture in dpkg's list;
# that stays, but its lists serve nothing installed here, and one broken
# foreign list would hold back the whole suite's update, the native lists of
# the same Release with it (apt commits a Release's lists together or not at
# all). The foreign lists on hand are kept as they are (no clean-up).
# A mirror caught mid-sync fails the update for a while (a list of the wrong
# size); try again, then go on with the lists there are: the install that
# follows says plainly if they cannot serve it. The lists are read once a run
# at most.
lists_read=""
update_package_lists() {
  local attempt
  [ -z "$lists_read" ] || return 0
  lists_read=1
  for attempt in 1 2 3; do
    $SUDO timeout 300 apt-get update -qq -o APT::Architectures="$native_arch" -o APT::Get::List-Cleanup=0 \
      && return 0
    echo "install-deps: apt-get update failed (attempt $attempt of 3)" >&2
    [ "$attempt" -lt 3 ] && sleep $((attempt * 20))
  done
  echo "install-deps: going on with the package lists already on this machine" >&2
}
# sudo drops the caller's environment: the front end is set on its far side.
apt_install() {
  $SUDO env DEBIAN_FRONTEND=noninteractive timeout 1800 \
    apt-get install -y -qq --no-install-recommends "$@"
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  update_package_lists
  apt_install "${missing[@]}"
fi

# The twin's i386 programs run under qemu-i386 where the kernel runs no
# 32-bit code ("F": the emulator is opened now, so it serves every later exec).
# Only the tests run the twin.
i386_setup() {
  # shellcheck source=scripts/i386.sh
  . "$(dirname "$0")/i386.sh"
  probe_dir=$(mktemp -d)
  trap 'rm -rf "$probe_dir"' EXIT
  i386_build_probe "$probe_dir/probe" || exit 1
  if ! i386_kernel_runs "$probe_dir/probe"; then
    if ! installed qemu-user-static; then
      update_package_lists
      apt_install qemu-user-static
    fi
    binfmt=$(dirname "$i386_binfmt")
    [ -e "$binfmt/register" ] || $SUDO mount -t binfmt_misc binfmt_misc "$binfmt"
    if [ ! -e "$i386_binfmt" ]; then
      # binfmt_misc reads the \x escapes itself.
      # shellcheck disable=SC2028
      echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
        | $SUDO tee "$binfmt/register" >/dev/null
    fi
    # Earlier versions of i386.sh switched the entry off for a moment; one
    # interrupted then left it off.
    [ "$(head -n 1 "$i386_binfmt")" = enabled ] || echo 1 | $SUDO tee "$i386_binfmt" >/dev/null
    i386_runs "$probe_dir/probe" \
      || { echo "install-deps: i386 programs do not run on this machine, not even under qemu-i386" >&2; exit 1; }
    echo "install-deps: this kernel runs no 32-bit code: the i386 twin runs under qemu-i386"
  fi
  rm -rf "$probe_dir"
  trap - EXIT
}
[ "$tests" = no ] || i386_setup

# JSBSim, the flight model that flies fdm/aircraft/korvane. Debian ships its
# stand-alone executable only inside the flightgear package, whose dependencies
# weigh gigabytes; so the package file alone is fetched (pinned, ~11 MB) and
# just the executable is taken out of it, into a private prefix under build/.
# It needs no library beyond libexpat1 (in the list above).
jsbsim_version=1:2020.3.16+dfsg-1+deb12u1
jsbsim=$(cd "$(dirname "$0")/.." && pwd)/build/jsbsim/bin/JSBSim
if ! timeout 20 "$jsbsim" --version >/dev/null 2>&1; then
  deb_dir=$(mktemp -d)
  trap 'rm -rf "$deb_dir"' EXIT
  fetch_jsbsim() {
    (cd "$deb_dir" && timeout 300 apt-get download -qq -o Acquire::http::Timeout=30 \
      -o APT::Sandbox::User=root "flightgear=$jsbsim_version")
  }
  # The package file is kept outside the checkout, so a fresh clone on the same
  # machine (CI's) takes it from there and does not depend on the mirror.
  deb_cache=${XDG_CACHE_HOME:-$HOME/.cache}/gaugebench
  deb_name=flightgear_${jsbsim_version#*:}_${native_arch}.deb
  if [ -s "$deb_cache/$deb_name" ] && dpkg-deb --info "$deb_cache/$deb_name" >/dev/null 2>&1; then
    cp "$deb_cache/$deb_name" "$deb_dir/"
  else
    # A machine whose package lists are older than the pinned version updates them once.
    fetch_jsbsim || { update_package_lists; fetch_jsbsim; } \
      || { echo "install-deps: could not download flightgear=$jsbsim_version" >&2; exit 1; }
    { mkdir -p "$deb_cache" && cp "$deb_dir"/flightgear_*.deb "$deb_cache/$deb_name"; } || true
  fi
  dpkg-deb --fsys-tarfile "$deb_dir"/flightgear_*.deb | tar -x -C "$deb_dir" ./usr/games/JSBSim
  install -D -m 755 "$deb_dir/usr/games/JSBSim" "$jsbsim"
  rm -rf "$deb_dir"
fi
version=$(timeout 20 "$jsbsim" --version 2>&1) \
  || { echo "install-deps: $jsbsim does not run:" >&2; echo "$version" >&2; exit 1; }
echo "install-deps: $(sed -n 's/^ *//; /./{p;q}' <<<"$version") in ${jsbsim%/bin/JSBSim}"
