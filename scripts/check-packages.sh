#!/usr/bin/env bash
# Checks the packages that scripts/package.sh made in build/dist/ (the packaging tier of
# scripts/test-all.sh). Every check runs; the script ends non-zero if any failed.
#   the .deb: its version and Depends, its files, lintian (no error, no warning), the changelog's
#     version, the udev rule, the man page (renders cleanly, names every command and option of
#     the help), the bash completion (offers every command and option of the help), installable
#     here (apt-get's simulation); unpacked into a scratch root (dpkg -x): --version and a --sim
#     flash from there
#   the zip: its files, SHA256SUMS, both programs 32-bit, static (system DLLs only) and the same
#     files as build/win32's, their version records, the licence texts of what they link;
#     unpacked: obrint-cli.exe --version and a --sim flash under Wine, and Obrint.exe opened from
#     the folder, its Main window's screenshot in build/screenshots/package-main-window.png
# Where this machine cannot run 32-bit programs, the Wine runs use the 64-bit builds of the same
# sources (build/win64) in a copy of the unpacked folder, and say so.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
export OBRINT_ROOT=$PWD

failures=0
# check TEXT COMMAND...: runs one check and says how it went.
check() {
  local text=$1 out
  shift
  if out=$("$@" 2>&1); then
    echo "ok    $text"
  else
    echo "FAIL  $text"
    [ -z "$out" ] || sed 's/^/        /' <<<"$out"
    failures=$((failures + 1))
  fi
}
# same A B: the two texts are equal (else both are shown).
same() {
  [ "$1" = "$2" ] || { printf 'expected: %s\n     got: %s\n' "$2" "$1"; return 1; }
}
# has TEXT WORD...: every WORD is a line of TEXT.
has() {
  local text=$1 word missing=()
  shift
  for word in "$@"; do grep -qxF -- "$word" <<<"$text" || missing+=("$word"); done
  [ ${#missing[@]} -eq 0 ] || { echo "missing: ${missing[*]}"; return 1; }
}

version=$(sed -n 's/^#define OBRINT_VERSION_TEXT "\(.*\)"$/\1/p' build/native/generated/obrint_version.h \
  2>/dev/null)
[ -n "$version" ] || { echo "check-packages: no build/native: run scripts/package.sh first" >&2; exit 1; }
deb=build/dist/obrint-cli_${version}_amd64.deb
name=Obrint-$version-windows
zip=build/dist/$name.zip
scratch=build/package-check
rm -rf "$scratch"
mkdir -p "$scratch"
echo "== the packages of version $version"
check "CMakeLists.txt sets version $version" grep -qxF "project(Obrint VERSION $version LANGUAGES C CXX)" \
  CMakeLists.txt
readme_names_them() { grep -qF "obrint-cli_${version}_amd64.deb" README.md && grep -qF "$name.zip" README.md; }
check "README.md's Install section names these packages" readme_names_them
check "build/dist holds the two packages and nothing else" \
  same "$(cd build/dist && ls)" "$(printf '%s\n' "$name.zip" "obrint-cli_${version}_amd64.deb")"

echo
echo "== $deb"
field() { dpkg-deb -f "$deb" "$1"; }
check "Package obrint-cli, Version $version, Architecture amd64" \
  same "$(field Package) $(field Version) $(field Architecture)" "obrint-cli $version amd64"
# dpkg-shlibdeps names each library's package: the C library, the C++ runtime, hidapi and libpq.
check "Depends come from the linked libraries" \
  grep -qE '^libc6 \(>= .*libhidapi-hidraw0 \(>= .*libpq5 \(>= .*libstdc\+\+6 \(>= ' <<<"$(field Depends)"
check "its files" same "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}')" "$(printf '%s\n' \
  ./lib/udev/rules.d/70-obrint.rules \
  ./usr/bin/obrint-cli \
  ./usr/share/bash-completion/completions/obrint-cli \
  ./usr/share/doc/obrint-cli/README.md.gz \
  ./usr/share/doc/obrint-cli/changelog.gz \
  ./usr/share/doc/obrint-cli/copyright \
  ./usr/share/doc/obrint-cli/docs/database.md.gz \
  ./usr/share/doc/obrint-cli/docs/record.schema.json \
  ./usr/share/doc/obrint-cli/docs/stations.md.gz \
  ./usr/share/doc/obrint-cli/docs/yield-page.png \
  ./usr/share/man/man1/obrint-cli.1.gz \
  ./usr/share/metainfo/org.example.obrint.cli.metainfo.xml)"
lintian --info --fail-on error,warning "$deb" >"$scratch/lintian.txt" 2>&1
lintian_status=$?
check "lintian: no error, no warning" test "$lintian_status" -eq 0
grep -v -e 'running with root privileges' -e '^N:' "$scratch/lintian.txt" | sed 's/^/        lintian: /'
check "the changelog starts with version $version" \
  same "$(dpkg-parsechangelog -l packaging/changelog -S Version)" "$version"
check "apt can install it here (simulated)" apt-get install -s -qq "./$deb"

root=$scratch/root
mkdir -p "$root"
dpkg -x "$deb" "$root"
cli=$root/usr/bin/obrint-cli
check "udev rule: uaccess for the seat, group plugdev for stations without one" grep -qE \
  '^SUBSYSTEM=="hidraw", ATTRS\{idVendor\}=="2833", TAG\+="uaccess", GROUP="plugdev", MODE="0660"$' \
  "$root/lib/udev/rules.d/70-obrint.rules"
check "the changelog in the package is packaging/changelog" \
  same "$(zcat "$root/usr/share/doc/obrint-cli/changelog.gz")" "$(cat packaging/changelog)"
# Every document the installed README links to (docs/NAME) is installed beside it.
readme_links_check() {
  local doc missing=()
  for doc in $(zcat "$root/usr/share/doc/obrint-cli/README.md.gz" | grep -o '](docs/[^)]*)' |
    sed 's/^](//; s/)$//' | sort -u); do
    [ -e "$root/usr/share/doc/obrint-cli/$doc" ] || [ -e "$root/usr/share/doc/obrint-cli/$doc.gz" ] ||
      missing+=("$doc")
  done
  [ ${#missing[@]} -eq 0 ] || { echo "not installed: ${missing[*]}"; return 1; }
}
check "the documents the README links to are installed beside it" readme_links_check
check "unpacked: obrint-cli --version" same "$("$cli" --version)" "obrint-cli $version"
sim_flash() {
  (cd "$1" && "${@:2}" sample-image --force demo.bin && "${@:2}" --sim flash --yes demo.bin)
}
check "unpacked: obrint-cli --sim flash" sim_flash "$scratch" "$OBRINT_ROOT/$cli"

# The help's commands, and the options of the help and of each command's help: the first word of
# each entry (names separated by commas) under Options:.
"$cli" --help >"$scratch/help.txt"
commands=$(sed -n '/^Subcommands:$/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p' "$scratch/help.txt")
options_of() {
  "$cli" "$@" --help | sed -n '/^Options:$/,/^$/p' | awk '/^  -/ {print $1}' | tr ',' '\n'
}
global_options=$(options_of)

man_check() {
  local text warnings
  warnings=$(zcat "$root/usr/share/man/man1/obrint-cli.1.gz" |
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l - 2>&1 >"$scratch/man.txt")
  [ -z "$warnings" ] || { echo "$warnings"; return 1; }
  text=$(tr -s ' ,' '\n\n' <"$scratch/man.txt")
  grep -q "obrint-cli $version" "$scratch/man.txt" || { echo "no version $version"; return 1; }
  local c
  # shellcheck disable=SC2086
  has "$text" $commands $global_options || return 1
  for c in $commands; do
    # shellcheck disable=SC2046
    has "$text" $(options_of "$c") || return 1
  done
}
check "man page: renders without warnings, names the version, every command and option" man_check

# complete WORDS...: what the bash completion offers for the command line WORDS, the last being
# the word under the cursor.
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _obrint_cli
    printf "%s\n" "${COMPREPLY[@]}"' _ "$root/usr/share/bash-completion/completions/obrint-cli" \
    obrint-cli "$@"
}
completion_check() {
  local c
  # shellcheck disable=SC2086
  has "$(complete_words '')" $commands || return 1
  # shellcheck disable=SC2086
  has "$(complete_words -)" $global_options || return 1
  for c in $commands; do
    # shellcheck disable=SC2046,SC2086
    has "$(complete_words "$c" -)" $(options_of "$c") $global_options || { echo "in $c"; return 1; }
  done
  has "$(complete_words --device /dev/hidraw0 fl)" flash || return 1
  has "$(complete_words mode '')" dk1 dk2
}
check "bash completion: every command and option of the help" completion_check

echo
echo "== $zip"
unpacked=$scratch/zip
mkdir -p "$unpacked"
unzip -q "$zip" -d "$unpacked"
folder=$unpacked/$name
check "its files, in one folder" same "$(cd "$unpacked" && find . -type f | LC_ALL=C sort)" \
  "$(printf "./$name/%s\n" LICENSE.txt Obrint.exe README.txt SHA256SUMS THIRD-PARTY-NOTICES.txt \
    licences/CLI11.txt licences/GPL-3.txt licences/gcc-runtime.txt licences/mingw-w64-runtime.txt \
    licences/nlohmann-json.txt obrint-cli.exe)"
sums_check() {
  (cd "$folder" && sha256sum --strict --quiet -c SHA256SUMS) || return 1
  same "$(cut -c67- "$folder/SHA256SUMS")" \
    "$(cd "$folder" && find . -type f ! -name SHA256SUMS | cut -c3- | LC_ALL=C sort)"
}
check "SHA256SUMS: every other file, each sum right" sums_check
readme_check() {
  same "$(head -n1 "$folder/README.txt")" "Obrint $version for Windows"$'\r' || return 1
  ! grep -nv $'\r$' "$folder/README.txt"
}
check "README.txt: version $version, Windows line ends" readme_check

pe_machine() {
  local offset
  offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' '
}
# The version record as windres reads it back.
version_record() {
  i686-w64-mingw32-windres -J coff -i "$1" -O rc 2>/dev/null | sed -n '/VERSIONINFO$/,/^END$/p'
}
# Linked statically: only Windows' own DLLs are imported.
imports_check() {
  local others
  others=$(i686-w64-mingw32-objdump -p "$1" | sed -n 's/^\tDLL Name: //p' | grep -viE \
    '^(advapi32|cfgmgr32|comctl32|comdlg32|gdi32|kernel32|msvcrt|setupapi|shell32|user32|winmm)\.dll$')
  [ -z "$others" ] || { echo "imports $others"; return 1; }
}
record_check() {
  local numbers=${version//./, }
  has "$(version_record "$1")" " FILEVERSION $numbers" " PRODUCTVERSION $numbers" \
    '    BLOCK "040904e4"' "      VALUE \"FileVersion\", \"$version\"" \
    "      VALUE \"ProductVersion\", \"$version\""
}
for exe in Obrint.exe obrint-cli.exe; do
  built=build/win32/$exe
  [ "$exe" = Obrint.exe ] && built=build/win32/src/Obrint.exe
  check "$exe: the file build/win32 built" cmp "$folder/$exe" "$built"
  check "$exe: 32-bit" same "$(pe_machine "$folder/$exe")" 014c
  check "$exe: imports system DLLs only" imports_check "$folder/$exe"
  check "$exe: version record $version" record_check "$folder/$exe"
done
# The window's record is the one it always had; only the copyright line names the licence.
check "Obrint.exe: its version record unchanged" same "$(version_record "$folder/Obrint.exe")" \
  "$(cat <<EOF
1 VERSIONINFO
 FILEVERSION ${version//./, }
 PRODUCTVERSION ${version//./, }
 FILEFLAGSMASK 0x3f
 FILEFLAGS 0x1
 FILEOS 0x4
 FILETYPE 0x1
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904e4"
    BEGIN
      VALUE "CompanyName", "Obrint developers"
      VALUE "FileDescription", "Obrint"
      VALUE "FileVersion", "$version"
      VALUE "InternalName", "Obrint.exe"
      VALUE "LegalCopyright", "Copyright (C) 2026 Obrint developers. Published under the MIT licence."
      VALUE "OriginalFilename", "Obrint"
      VALUE "ProductName", "Obrint"
      VALUE "ProductVersion", "$version"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1252
  END
END
EOF
)"
# What is linked in, and the licence text that goes with it.
linked() { i686-w64-mingw32-nm -C "$folder/$1" | grep -- "$2" >/dev/null; }
licence_for() { # EXE SYMBOL LICENCE-FILE TEXT
  linked "$1" "$2" || { echo "$1 does not link $2"; return 1; }
  grep -q -- "$4" "$folder/licences/$3" || { echo "$3 lacks \"$4\""; return 1; }
}
for exe in Obrint.exe obrint-cli.exe; do
  check "$exe: libstdc++, libgcc -> licences/gcc-runtime.txt" \
    licence_for "$exe" "std::__throw_" gcc-runtime.txt "GCC RUNTIME LIBRARY EXCEPTION"
  check "$exe: winpthreads -> licences/mingw-w64-runtime.txt" \
    licence_for "$exe" " pthread_mutex_lock" mingw-w64-runtime.txt "winpthreads"
done
check "obrint-cli.exe: CLI11 -> licences/CLI11.txt" licence_for obrint-cli.exe "CLI::App::" CLI11.txt CLI11
check "obrint-cli.exe: nlohmann-json -> licences/nlohmann-json.txt" \
  licence_for obrint-cli.exe "nlohmann::" nlohmann-json.txt nlohmann
check "licences/GPL-3.txt is the GPL 3" grep -q "GNU GENERAL PUBLIC LICENSE" "$folder/licences/GPL-3.txt"
check "LICENSE.txt is the MIT licence" grep -q "MIT License" "$folder/LICENSE.txt"

echo
echo "== the unpacked programs under Wine"
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
run_folder=$folder
if [ "$(obrint_win_arch)" != i686 ]; then
  echo "NOTE: this machine cannot run 32-bit programs: the Wine runs below use the 64-bit builds of"
  echo "      the same sources (build/win64) in a copy of the unpacked folder."
  run_folder=$scratch/zip-win64/$name
  mkdir -p "$(dirname "$run_folder")"
  cp -r "$folder" "$run_folder"
  source scripts/build-env.sh
  [ -f build/win64/CMakeCache.txt ] ||
    cmake -S . -B build/win64 "${OBRINT_CMAKE_ARGS[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
      -DCMAKE_BUILD_TYPE= >build/logs/win64-configure.log
  cmake --build build/win64 -j"$OBRINT_JOBS" --target Obrint obrint-cli >/dev/null
  cp build/win64/src/Obrint.exe build/win64/obrint-cli.exe "$run_folder/"
fi
export OBRINT_OWN_DISPLAY=1
trap obrint_wine_cleanup EXIT
if obrint_start_display && obrint_init_prefix; then
  check "obrint-cli.exe --version" \
    same "$("$OBRINT_WINE_RUN" "$run_folder/obrint-cli.exe" --version | tr -d '\r')" "obrint-cli $version"
  check "obrint-cli.exe --sim flash" sim_flash "$run_folder" "$OBRINT_WINE_RUN" \
    "$OBRINT_ROOT/$run_folder/obrint-cli.exe"
  shot=$OBRINT_ROOT/build/screenshots/package-main-window.png
  rm -f "$shot"
  screenshot() {
    (cd "$run_folder" && OBRINT_WINE_SILENT_OK=1 exec "$OBRINT_WINE_RUN" ./Obrint.exe) \
      >"$scratch/Obrint.exe.log" 2>&1 &
    local program=$! status
    obrint_window_screenshot "$program" "VR设备控制端" "$shot"
    status=$?
    # The program, and whatever else runs in the prefix.
    timeout 30 wineserver -k
    wait "$program" 2>/dev/null
    return "$status"
  }
  check "Obrint.exe opened from the folder: build/screenshots/package-main-window.png" screenshot
else
  check "Wine display and prefix" false
fi
obrint_wine_cleanup
trap - EXIT

echo
if [ "$failures" -gt 0 ]; then
  echo "check-packages: $failures check(s) failed"
  exit 1
fi
echo "check-packages: all checks passed"
