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
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What a native (Linux) build and its tests need.
NATIVE_PACKAGES=(build-essential cmake g++ libgtest-dev googletest libbenchmark-dev libssl-dev
                 pkg-config)
# What the Windows cross builds and their runs under Wine need.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64 xvfb xauth
                  fonts-wqy-microhei)
# What the fuzz targets (clang, libFuzzer) and the static analysis need (the
# MinGW compiler for its Windows headers and target: the Windows-only sources
# are analysed as a Windows x86_64 build sees them).
ANALYSIS_PACKAGES=(clang libclang-rt-14-dev clang-tidy cppcheck g++-mingw-w64-x86-64)
