#!/usr/bin/env bash
# Cross-builds the engine for Windows (MinGW-w64) and for ARM64 Linux and
# checks both on this machine, under Wine and under qemu-user, against the
# native build given as the first argument (default build/orvane):
#   - bench prints the native signature, the perft suites of tests/data
#     count exactly, and one UCI session plays from a book, probes the
#     tablebases, saves and reloads a hash file and writes a log
#     (check_engine.py); hash files cross between the builds unchanged;
#   - the ARM64 build runs the GoogleTest suite under qemu;
#   - the packages are built with profile guidance (bench/pgo-build.sh,
#     the profile recorded under Wine and qemu for the cross-builds): the
#     Debian packages of amd64 and arm64 hold usr/games/orvane and the man
#     page, lintian finds no error in them, and the packed amd64 engine
#     gives the signature; the Windows zip holds orvane.exe, the README and
#     the licence, and its engine gives the signature under Wine; the ARM64
#     tarball's statically linked engine gives it under qemu without the
#     ARM64 system libraries.
# Every check fails when a tool it needs is missing.  Folders:
# build-cross-windows and build-cross-arm64 (both profile-guided, with their
# packages), build-cross-amd64-pkg (the profile-guided amd64 package), or
# ORVANE_CROSS_PREFIX-... instead of
# build-cross-...; each is made afresh, so a second run passes as the first.
set -euo pipefail

cd "$(dirname "$0")/../.."
native="$(realpath "${1:-build/orvane}")"
native_dir="$(dirname "$native")"
prefix="${ORVANE_CROSS_PREFIX:-build-cross}"
windows_dir="$prefix-windows"
arm_dir="$prefix-arm64"
export WINEDEBUG=-all
export WINEPREFIX="$PWD/$windows_dir/wineprefix"

# --- pkg: the packages' folders and checks
amd64_pkg_dir="$prefix-amd64-pkg"
# The bench arguments that record the profile of a cross-build under its
# emulator: depth 8 gives the same profile gain as 10 in a fraction of the time.
cross_training="1 8"
# The one file that a pattern names; none, or two (a package left by an
# earlier build beside the new one), is an error.
only_file() {
  local files
  files=$(compgen -G "$1") || { echo "no file $1" >&2; return 1; }
  [ "$(wc -l <<<"$files")" -eq 1 ] || { echo "more than one file $1:" $files >&2; return 1; }
  echo "$files"
}
# Fails when the Windows program needs a DLL that Windows does not ship,
# and when the DLL list cannot be read at all.
check_dlls() {
  local dlls
  dlls=$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p') ||
    { echo "cannot list the DLLs of $1 (x86_64-w64-mingw32-objdump, Debian: binutils-mingw-w64-x86-64)" >&2; return 1; }
  [ -n "$dlls" ] || { echo "no DLL listed for $1" >&2; return 1; }
  if grep -viE '^(kernel32|advapi32|msvcrt|user32|ws2_32)\.dll$' <<<"$dlls"; then
    echo "$1 needs a DLL that Windows does not ship" >&2
    return 1
  fi
}
# The node count of the last "Nodes searched" line of a bench run in an
# empty folder (the line's end, LF or CR LF, is check_engine.py's concern).
bench_signature() {
  local scratch result
  scratch=$(mktemp -d)
  result=$(cd "$scratch" && "$@" bench 2>&1 | sed -n 's/^Nodes searched: \([0-9]*\)\r\{0,1\}$/\1/p' | tail -1) || true
  rm -rf "$scratch"
  echo "$result"
}
# lintian's verdict on a package: any error, or a failure of lintian
# itself, fails.
check_lintian() {
  local report status=0
  command -v lintian >/dev/null || { echo "lintian is missing (Debian: lintian)" >&2; return 1; }
  report=$(lintian --tag-display-limit 0 "$1" 2>&1) || status=$?
  echo "$report"
  if [ "$status" -ne 0 ] || grep -q '^E: ' <<<"$report"; then
    echo "lintian finds errors in $1 (status $status)" >&2
    return 1
  fi
}
signature=$(bench_signature "$native")
[ -n "$signature" ] || { echo "no signature from the native build $native" >&2; exit 1; }
# --- end of pkg

# Tests under qemu that measure the host rather than the engine: qemu-user
# takes huge-page and populate hints as no-ops (so nothing is prefaulted),
# and runs its own threads beside the engine's (so a thread limit counts
# them too).  Both run on real hardware in the native pass.
qemu_excluded='^(LargeMemory\.LargeBlocksArePrefaultedWithoutChangingThem|LargeMemory\.PopulateIsRetriedAfterPassingFailures|ThreadLimitSession\..*)$'
# Also left to the native pass: the wall-clock steps, which preload the
# host's libfaketime into the engine (an ARM64 engine cannot load it), and
# the Hash refused by an address-space limit, which qemu's own mappings
# would share.
qemu_excluded="${qemu_excluded%)\$}|ClockStepSession\..*|HashLimitSession\..*)\$"

echo "== The native engine's endings and output"
# The same endings as every engine's, and no output lost to a non-blocking
# pipe read late.
python3 tests/cross/check_input.py --engine "$native" --output

echo "== Windows x86-64 (MinGW-w64, Wine)"
rm -rf "$windows_dir"
# Profile-guided (the profile recorded under Wine), as the zip ships, so
# every check below runs on the engine that is packed.
ORVANE_PGO_BENCH="$cross_training" bash bench/pgo-build.sh "$windows_dir" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
check_dlls "$windows_dir/orvane.exe"
python3 tests/cross/check_engine.py --engine "wine $windows_dir/orvane.exe" --windows-paths --native "$native"
# The endings of a search that ended by itself (one bestmove, status 0
# within 2 s of the end of input), " quit" typed on a console (in a tmux
# session) and sent down an open pipe, and a closed pipe, each ending the
# engine at once with status 0.
python3 tests/cross/check_input.py --engine "wine $windows_dir/orvane.exe" --console
# --- Windows file checks (block kept by the file layer's maintainers) ---
# The platform and file tests built for Windows (orvane_platform_tests.exe)
# run under Wine.  Left out of it: the FIFO, socket and in-memory stream
# cases and the background prefault of large blocks (POSIX only: Windows has
# no FIFOs or sockets in its file system, no fmemopen, and populates nothing
# in the background), and every test that drives an engine process (through
# POSIX pipes).  Then the engine's book past 4 GiB, "\\?\" tablebase
# folders and a Hash 2048 file saved, loaded and saved back (check_files.py).
cmake --build "$windows_dir" -j2 --target orvane_platform_tests
wine "$windows_dir/orvane_platform_tests.exe" --gtest_brief=1
python3 tests/cross/check_files.py --engine "wine $windows_dir/orvane.exe"
# --- end of the Windows file checks ---

# --- pkg: the Windows zip of that engine
cmake --build "$windows_dir" --target dist
zip_file=$(only_file "$windows_dir/orvane_*_windows-x86-64.zip")
zip_listing=$(unzip -l "$zip_file")
for member in orvane.exe README.md LICENSE; do
  grep -q " $member\$" <<<"$zip_listing" || { echo "$zip_file lacks $member" >&2; exit 1; }
done
unpacked=$(mktemp -d)
unzip -q "$zip_file" -d "$unpacked"
check_dlls "$unpacked/orvane.exe"
packed=$(bench_signature wine "$unpacked/orvane.exe")
rm -rf "$unpacked"
[ "$packed" = "$signature" ] || { echo "zipped engine: '$packed', native: '$signature'" >&2; exit 1; }
# --- end of pkg

echo "== Linux ARM64 (aarch64, qemu-user)"
rm -rf "$arm_dir"
# Profile-guided (the profile recorded under qemu), as its packages ship;
# the tests are then built over the same library.
ORVANE_PGO_BENCH="$cross_training" bash bench/pgo-build.sh "$arm_dir" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DORVANE_TESTS=ON
cmake --build "$arm_dir" -j2
python3 tests/cross/check_engine.py --engine "qemu-aarch64 -L /usr/aarch64-linux-gnu $arm_dir/orvane" --native "$native"
ctest --test-dir "$arm_dir" -j2 -E "$qemu_excluded" --no-tests=error --output-on-failure --timeout 900

# --- pkg: the ARM64 tarball's static engine runs without the ARM64 libraries
cmake --build "$arm_dir" --target dist
tarball=$(only_file "$arm_dir/orvane_*_linux-arm64.tar.gz")
unpacked=$(mktemp -d)
tar xzf "$tarball" -C "$unpacked"
for member in orvane README.md LICENSE; do
  [ -f "$unpacked"/orvane_*/"$member" ] || { echo "$tarball lacks $member" >&2; exit 1; }
done
# No program interpreter: the engine needs no dynamic loader, so it starts
# where no ARM64 glibc is (qemu is not told where the ARM64 libraries are).
headers=$(readelf -l "$unpacked"/orvane_*/orvane) || { echo "readelf cannot read the tarball's engine" >&2; exit 1; }
if grep -q 'program interpreter' <<<"$headers"; then
  echo "the tarball's engine is linked dynamically" >&2
  exit 1
fi
packed=$(bench_signature env -u QEMU_LD_PREFIX qemu-aarch64 "$unpacked"/orvane_*/orvane)
rm -rf "$unpacked"
[ "$packed" = "$signature" ] || { echo "tarball's engine: '$packed', native: '$signature'" >&2; exit 1; }

echo "== Debian packages"
rm -rf "$amd64_pkg_dir"
bash bench/pgo-build.sh "$amd64_pkg_dir"
cmake --build "$amd64_pkg_dir" --target package
cmake --build "$arm_dir" --target package
amd64_deb=$(only_file "$amd64_pkg_dir/orvane_*_amd64.deb")
arm64_deb=$(only_file "$arm_dir/orvane_*_arm64.deb")
for deb in "$amd64_deb" "$arm64_deb"; do
  listing=$(dpkg-deb -c "$deb")
  for member in ./usr/games/orvane ./usr/share/man/man6/orvane.6.gz ./usr/share/doc/orvane/changelog.Debian.gz; do
    grep -q " $member\$" <<<"$listing" || { echo "$deb lacks $member" >&2; exit 1; }
  done
  check_lintian "$deb"
  # The Architecture field names the engine's processor, and Depends names
  # the target system's packages (none of Debian's cross packages).
  unpacked=$(mktemp -d)
  dpkg-deb -x "$deb" "$unpacked"
  machine=$(readelf -h "$unpacked/usr/games/orvane" | sed -n 's/^ *Machine: *//p')
  rm -rf "$unpacked"
  case "$(dpkg-deb -f "$deb" Architecture)/$machine" in
    "amd64/Advanced Micro Devices X86-64" | "arm64/AArch64") ;;
    *) echo "$deb: Architecture $(dpkg-deb -f "$deb" Architecture) for an engine built for $machine" >&2; exit 1 ;;
  esac
  depends=$(dpkg-deb -f "$deb" Depends)
  if ! grep -qE '(^|, )libc6 \(>= [0-9.]+\)' <<<"$depends" || grep -qE 'cross|:' <<<"$depends"; then
    echo "$deb: Depends: $depends" >&2
    exit 1
  fi
done
unpacked=$(mktemp -d)
dpkg-deb -x "$amd64_deb" "$unpacked"
packed=$(bench_signature "$unpacked/usr/games/orvane")
rm -rf "$unpacked"
[ "$packed" = "$signature" ] || { echo "packed engine: '$packed', native: '$signature'" >&2; exit 1; }
echo "packages and cross-builds checked (Nodes searched: $packed)"
# --- end of pkg
