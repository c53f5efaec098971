# Sourced by the scripts: the Debian packages each kind of work needs, and
# ensure_packages P... that installs with apt those among P that are missing
# (and does nothing when all are there).
# Installs are serialised through a lock file, so a script can wait for
# packages that another one (CI's background install) is still installing,
# instead of failing on apt's own lock.
# Building, testing and running romwright (scripts/test.sh, scripts/demo.sh).
base_packages=(
  build-essential cmake ninja-build pkg-config python3
  libfmt-dev libdocopt-dev libboost-dev zlib1g-dev libtomlplusplus-dev nlohmann-json3-dev
  libsqlite3-dev
  libgcrypt20-dev  # bundles' hashes and signatures (engine/bundle/crypto.cpp)
  minisign         # the bundle tests make their keys and signatures with it
  libgtest-dev libgmock-dev
  qt6-base-dev xvfb xauth
  scdoc
  ansible-core  # the Ansible collection's tests (tests/fleet/)
)
# The fuzz targets (scripts/fuzz.sh).
fuzz_packages=(clang-14 libclang-rt-14-dev)
# The Debian package and its checks (scripts/package.sh).
packaging_packages=(lintian desktop-file-utils scdoc dpkg-dev fakeroot file)
# The Windows build and Wine (scripts/test-windows.sh); googletest only for
# the builds of the tests, python3 reads what the smoke run leaves.
windows_packages=(
  cmake ninja-build python3
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev libgcrypt-mingw-w64-dev wine64
  libfmt-dev libdocopt-dev libboost-dev libtomlplusplus-dev nlohmann-json3-dev
)
# The Windows installer and its manuals (scripts/package-windows.sh, and the
# full Windows run, which tests the installer).
windows_packaging_packages=(nsis scdoc groff-base)

# What fetches SQLite's amalgamation for the Windows build from npm
# (scripts/test-windows.sh); only where no npm is installed, as a Node.js
# from elsewhere brings its own.
npm_packages=(npm)

ensure_packages() {
  local missing lock=${TMPDIR:-/tmp}/romwright-apt.lock
  missing=$(_missing_packages "$@")
  [ -n "$missing" ] || return 0
  (
    flock 9
    missing=$(_missing_packages "$@")
    [ -n "$missing" ] || exit 0
    echo "Installing: $missing"
    local sudo_cmd=()
    if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
    export DEBIAN_FRONTEND=noninteractive
    # shellcheck disable=SC2086
    "${sudo_cmd[@]}" apt-get update -qq &&
      "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends $missing >/dev/null
  ) 9>"$lock"
}

_missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || printf '%s ' "$p"
  done
}
