# Sourced by scripts/run and scripts/test: installs the Debian packages that
# the given list names when they are missing (needs root for apt-get). Says
# what it does on stderr only: scripts/run's stdout is the host's.
lanfeed_install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    return 1
  fi
  # A package of another architecture (name:arch, e.g. wine32:i386) needs
  # that architecture enabled before the package lists are fetched.
  local arch
  for p in "${missing[@]}"; do
    [[ "$p" == *:* ]] || continue
    arch=${p##*:}
    if [ "$arch" != "$(dpkg --print-architecture)" ] &&
       ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
      echo "enabling the $arch architecture for $p" >&2
      dpkg --add-architecture "$arch" || return 1
    fi
  done
  echo "installing: ${missing[*]}" >&2
  apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# lintian checks the Debian package in the host's package test.
LANFEED_NATIVE_PACKAGES=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev libpugixml-dev
  nlohmann-json3-dev dpkg-dev lintian)
# wine32:i386 runs the i686 build's tests (32-bit programs, as WoW64 runs
# them on Windows); dpkg-dev unpacks Debian's pugixml source for
# scripts/mingw-pugixml.
LANFEED_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 wine wine64 wine32:i386 dpkg-dev)
LANFEED_FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# The compiler cache scripts/test uses when asked to (LANFEED_CCACHE=1).
LANFEED_BUILD_TOOLS=(ccache)
