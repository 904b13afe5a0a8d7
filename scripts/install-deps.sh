#!/usr/bin/env bash
# Installs every package the build and the tests need on a fresh Debian machine.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

packages=(
  cmake make g++ g++-multilib ccache
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  googletest
  libcli11-dev nlohmann-json3-dev
  clang libclang-rt-14-dev
  wine wine32:i386
  xvfb xauth
  pkg-config libcairo2-dev:i386 libpng-dev:i386 libfreetype-dev:i386 fonts-dejavu-core fonts-dejavu-extra
  "libexpat1:$(dpkg --print-architecture)"
  libcivetweb-dev:i386 chromium python3
)
# Node.js for the browser tests: Debian's, unless one is installed already
# (NodeSource's brings its own npm, which Debian's npm package conflicts with).
command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)

# dpkg-query, not dpkg -s: a name installed for two architectures (pkg-config
# comes in as :i386 beside the native one) is ambiguous to dpkg -s, which then
# calls it missing and sends every run to the network.
installed() {
  dpkg-query -W -f='${db:Status-Abbrev}\n' "$1" 2>/dev/null | grep -q '^ii'
}
# A mirror caught mid-sync fails the update for a while (a list of the wrong
# size); try again, then go on with the lists there are: the install that
# follows says plainly if they cannot serve it.
update_package_lists() {
  local attempt
  for attempt in 1 2 3; do
    $SUDO timeout 300 apt-get update -qq && { lists_updated=1; return 0; }
    echo "install-deps: apt-get update failed (attempt $attempt of 3)" >&2
    [ "$attempt" -lt 3 ] && sleep $((attempt * 20))
  done
  echo "install-deps: going on with the package lists already on this machine" >&2
}
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
# wine32 lives in the i386 architecture; the multiarch foreign arch must exist first.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi
if [ "${#missing[@]}" -gt 0 ] || [ -n "${need_update:-}" ]; then
  update_package_lists
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# i386 programs run under qemu-i386 where the kernel runs no 32-bit code
# ("F": the emulator is opened now, so it serves every later exec).
. "$(dirname "$0")/i386.sh"
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
i386_build_probe "$probe_dir/probe"
if ! "$probe_dir/probe" 2>/dev/null; then
  if ! installed qemu-user-static; then
    # A machine that had every other package may never have read the lists.
    [ -n "${lists_updated:-}" ] || update_package_lists
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends qemu-user-static
  fi
  binfmt=$(dirname "$i386_binfmt")
  [ -e "$binfmt/register" ] || $SUDO mount -t binfmt_misc binfmt_misc "$binfmt"
  if [ ! -e "$i386_binfmt" ]; then
    echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      | $SUDO tee "$binfmt/register" >/dev/null
  fi
  "$probe_dir/probe" || { echo "install-deps: i386 programs do not run on this machine" >&2; exit 1; }
  echo "install-deps: this kernel runs no 32-bit code: i386 programs run under qemu-i386, Wine cannot run"
fi

# JSBSim, the flight model that flies fdm/aircraft/korvane. Debian ships its
# stand-alone executable only inside the flightgear package, whose dependencies
# weigh gigabytes; so the package file alone is fetched (pinned, ~11 MB) and
# just the executable is taken out of it, into a private prefix under build/.
# It needs no library beyond libexpat1 (in the list above).
jsbsim_version=1:2020.3.16+dfsg-1+deb12u1
jsbsim=$(cd "$(dirname "$0")/.." && pwd)/build/jsbsim/bin/JSBSim
if ! timeout 20 "$jsbsim" --version >/dev/null 2>&1; then
  deb_dir=$(mktemp -d)
  trap 'rm -rf "$probe_dir" "$deb_dir"' EXIT
  fetch_jsbsim() {
    (cd "$deb_dir" && timeout 300 apt-get download -qq -o Acquire::http::Timeout=30 \
      -o APT::Sandbox::User=root "flightgear=$jsbsim_version")
  }
  # The package file is kept outside the checkout, so a fresh clone on the same
  # machine (CI's) takes it from there and does not depend on the mirror.
  deb_cache=${XDG_CACHE_HOME:-$HOME/.cache}/gaugebench
  deb_name=flightgear_${jsbsim_version#*:}_$(dpkg --print-architecture).deb
  if [ -s "$deb_cache/$deb_name" ] && dpkg-deb --info "$deb_cache/$deb_name" >/dev/null 2>&1; then
    cp "$deb_cache/$deb_name" "$deb_dir/"
  else
    # A machine whose package lists are older than the pinned version updates them once.
    fetch_jsbsim || { update_package_lists; fetch_jsbsim; } \
      || { echo "install-deps: could not download flightgear=$jsbsim_version" >&2; exit 1; }
    mkdir -p "$deb_cache" && cp "$deb_dir"/flightgear_*.deb "$deb_cache/$deb_name" || true
  fi
  dpkg-deb --fsys-tarfile "$deb_dir"/flightgear_*.deb | tar -x -C "$deb_dir" ./usr/games/JSBSim
  install -D -m 755 "$deb_dir/usr/games/JSBSim" "$jsbsim"
  rm -rf "$deb_dir"
fi
version=$(timeout 20 "$jsbsim" --version 2>&1) \
  || { echo "install-deps: $jsbsim does not run:" >&2; echo "$version" >&2; exit 1; }
echo "install-deps: $(sed -n 's/^ *//; /./{p;q}' <<<"$version") in ${jsbsim%/bin/JSBSim}"
