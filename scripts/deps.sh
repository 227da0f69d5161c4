# Sourced by the other scripts: installs missing Debian packages, quietly and
# only when something is missing, so a second run costs nothing.
ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  # 32-bit packages (wine32:i386) need the i386 architecture, added once;
  # the update below then fetches its package lists.
  if [[ " ${missing[*]}" == *:i386* ]] &&
    ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What a native (Linux) build and its tests need: the compiler and CMake;
# GoogleTest (libgtest-dev; googletest holds the sources the cross builds
# compile); Google Benchmark (the release preset builds bench/); OpenSSL's
# headers and static libraries; nlohmann-json's headers. The test scripts
# use awk (mawk), which a minimal system may lack. The Debian package:
# help2man makes the manual pages, dpkg-shlibdeps (in dpkg-dev) its
# dependencies.
NATIVE_PACKAGES=(build-essential cmake g++ libgtest-dev googletest libbenchmark-dev libssl-dev
                 nlohmann-json3-dev pkg-config mawk help2man dpkg-dev)
# What the Windows cross builds and their runs under Wine need; 32-bit Wine
# (wine32 with its TLS library) runs the i686 programs.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64 wine32:i386
                  libgnutls30:i386 xvfb xauth fonts-wqy-microhei)
# What the fuzz targets (clang, libFuzzer) and the static analysis need (the
# MinGW compiler for its Windows headers and target: the Windows-only sources
# are analysed as a Windows x86_64 build sees them).
ANALYSIS_PACKAGES=(clang libclang-rt-14-dev clang-tidy cppcheck g++-mingw-w64-x86-64)
# What a run in a brand-new Debian system needs (scripts/fresh-debian.sh).
FRESH_PACKAGES=(mmdebstrap git)

# Whether this machine can execute 32-bit x86 programs: some kernels answer
# "Exec format error" to every one. Asks 32-bit glibc's loader (libc6:i386,
# which wine32:i386 brings) to run.
can_execute_32bit() {
  [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}
