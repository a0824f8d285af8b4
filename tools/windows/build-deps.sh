#!/usr/bin/env bash
# Builds, once per machine, the 32-bit Windows (i686-w64-mingw32) libraries the module and the
# reference host link against, from Debian's own source packages, into a cache prefix:
#
#   ~/.cache/zumvo/mingw32-<tag>   <tag>: short hash of the Debian source versions, the MinGW
#                                  compiler version and the recipe revision (RECIPE below)
#   ~/.cache/zumvo/mingw32         link to the last complete cache
#
#   tools/windows/build-deps.sh                 build what is missing (a complete cache: nothing)
#   tools/windows/build-deps.sh --only curl     build one dependency (and what it needs) alone
#   tools/windows/build-deps.sh --rebuild curl  forget a dependency's stamp and build it again
#   tools/windows/build-deps.sh --smoke         run the final check again on a built cache
#   tools/windows/build-deps.sh --print-prefix  print the cache folder for the current Debian
#                                               sources (fetching them if need be)
#
# Shared or static: Qt is built as DLLs (its platform, style and image plugins need that); every
# other library is built static (plain .a, no DLL to ship or to find at run time).  The MinGW
# runtime DLLs (libstdc++, libgcc_s, libwinpthread) are copied into <cache>/bin beside Qt's DLLs,
# so WINEPATH=<cache>/bin is all a Windows program built against the cache needs under wine (Qt
# finds its plugins in <cache>/plugins by itself).  Wine does not pass the host's QT_* variables on
# to Windows programs: give them as WINEQT_*, e.g. WINEQT_QPA_PLATFORM=offscreen.
#
# Each dependency's build output goes to <cache>/logs/<name>.log; a finished dependency leaves
# <cache>/stamps/<name>.done, so an interrupted run resumes at the one that did not finish.  The
# cache is marked complete (<cache>/.complete) only once every dependency is built and the final
# check (a small Qt Widgets + QTest program linking every library, run under wine) passes.  A build
# folder left by a failed or interrupted build is built on by the next run.  A source package that
# the archive does not serve fails the run once everything else is built and checked; its files
# (.dsc and tarballs) can be put in a folder named by ZUMVO_DEB_SRC_DIR, where apt-get source
# checks them against the archive's checksums.  Builds run at nice 19 with ZUMVO_JOBS (default 2)
# jobs.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
TRIPLE=i686-w64-mingw32
CACHE_ROOT=${ZUMVO_CACHE:-$HOME/.cache/zumvo}
SRC_ROOT=$CACHE_ROOT/src
BUILD_ROOT=$CACHE_ROOT/build
JOBS=${ZUMVO_JOBS:-2}
# Revision of the build recipes below; bump it when a change to them needs every library rebuilt.
RECIPE=2

# Debian source packages, in build order (a dependency comes after what it needs).  Qt comes first:
# it is by far the longest and needs nothing from the others (it uses its own bundled libraries).
# The QR reader decodes with zbar on Windows: zxing-cpp (its decoder on Linux) is not in this list
# because Debian's archive does not serve its source tarballs (only the .dsc: 404 for
# zxing-cpp_1.4.0.orig.tar.xz), and Debian's source is the only one this cache is built from.
DEPS=(qt6-base zlib sqlite3 fmtlib spdlog pugixml libjpeg-turbo googletest rapidjson zbar curl)
# Header-only sources: nothing of them is compiled into the cache, so they do not name it (a cache
# built before one was added stays valid); each is copied into <cache>/include and copied again
# when Debian's version changes.  cpp-httplib: the simulators' HTTP server, for the suites that run
# them in their own process; without it the Windows build leaves those suites out.
HEADER_DEPS=(cpp-httplib)
declare -A NEEDS=([spdlog]="fmtlib" [curl]="zlib")

HOST_PACKAGES=(g++-mingw-w64-i686-posix mingw-w64-tools wine wine32 cmake ninja-build make perl
  qt6-base-dev qt6-base-dev-tools dpkg-dev pkg-config xz-utils nasm tcl autoconf automake libtool
  autopoint gettext)

say() { printf '%s\n' "$*"; }
die() { printf 'build-deps: %s\n' "$*" >&2; exit 1; }

usage() {
  sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d' | sed 's/^# \{0,1\}//'
}

human_time() {
  local s=$1
  if [ "$s" -lt 60 ]; then printf '%d s' "$s"
  elif [ "$s" -lt 3600 ]; then printf '%d min %d s' $((s / 60)) $((s % 60))
  else printf '%d h %02d min' $((s / 3600)) $((s % 3600 / 60)); fi
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# ---------------------------------------------------------------------------------------------
# Host set-up: i386 architecture (for wine32), deb-src entries, the cross compilers and tools.

debian_src_configured() {
  grep -rqsE '^[[:space:]]*(Types:.*deb-src|deb-src[[:space:]])' \
    /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null
}

# Writes deb-src twins of the Debian archive entries found in the deb822 .sources files and in
# the one-line sources.list, so that `apt-get source` fetches from the same archive and suites.
write_deb_src() {
  local out=/etc/apt/sources.list.d/zumvo-deb-src.sources tmp
  tmp=$(mktemp)
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    # One stanza per blank-line separated block; keep those of the Debian archive.
    awk 'BEGIN { RS = ""; FS = "\n" }
      {
        deb = 0; debian = 0; out = ""
        for (i = 1; i <= NF; i++) {
          line = $i
          if (line ~ /^Types:/) { if (line ~ /[[:space:]]deb([[:space:]]|$)/) deb = 1; line = "Types: deb-src" }
          if (line ~ /^URIs:/ && line ~ /debian\.org/) debian = 1
          if (line ~ /^Signed-By:/ && line ~ /debian-archive-keyring/) debian = 1
          if (line ~ /^Architectures:/ || line ~ /^#/) continue
          out = out line "\n"
        }
        if (deb && debian) printf "%s\n", out
      }' "$f" >>"$tmp"
  done
  if [ -f /etc/apt/sources.list ]; then
    awk '$1 == "deb" && /debian\.org/ {
           printf "Types: deb-src\n"
           i = 2; opts = ""
           if ($2 ~ /^\[/) { while ($i !~ /\]$/) { opts = opts " " $i; i++ } opts = opts " " $i; i++ }
           printf "URIs: %s\nSuites: %s\nComponents:", $i, $(i + 1)
           for (j = i + 2; j <= NF; j++) printf " %s", $j
           printf "\n"
           if (opts ~ /signed-by=/) { match(opts, /signed-by=[^] ]+/); printf "Signed-By: %s\n", substr(opts, RSTART + 10, RLENGTH - 10) }
           printf "\n"
         }' /etc/apt/sources.list >>"$tmp"
  fi
  [ -s "$tmp" ] || { rm -f "$tmp"; die "no Debian archive entry found in /etc/apt/sources.list or /etc/apt/sources.list.d/*.sources to add deb-src entries for"; }
  say "Adding source package entries: $out"
  as_root install -m 644 "$tmp" "$out"
  rm -f "$tmp"
}

setup_host() {
  local update=0 missing=() p
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    say "Enabling the i386 architecture (for wine32)"
    as_root dpkg --add-architecture i386
    update=1
  fi
  if ! debian_src_configured; then
    write_deb_src
    update=1
  fi
  for p in "${HOST_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ "$update" -eq 0 ] && [ -z "$(apt-cache showsrc --only-source zlib 2>/dev/null)" ] && update=1
  if [ "$update" -eq 1 ]; then
    say "Updating the package lists"
    as_root apt-get -o DPkg::Lock::Timeout=900 update -q
  fi
  if [ ${#missing[@]} -gt 0 ]; then
    say "Installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -q \
      --no-install-recommends "${missing[@]}"
  fi
}

# ---------------------------------------------------------------------------------------------
# Versions and the cache folder.

declare -A VERSION=() SRC_DIR=() UNAVAILABLE=()

# Downloads and unpacks one source package version; fails (with apt's message) when the archive
# does not serve it.
fetch_version() {
  local dep=$1 ver=$2
  local dir=$SRC_ROOT/${dep}_${ver//:/_}
  [ -f "$dir/.unpacked" ] && return 0
  rm -rf "$dir"
  mkdir -p "$dir"
  local sandbox=() log=$dir.fetch.log
  [ "$(id -u)" -eq 0 ] && sandbox=(-o APT::Sandbox::User=root)
  # Source files obtained some other way (ZUMVO_DEB_SRC_DIR): apt-get source checks them against
  # the archive's checksums and downloads only what is missing.
  if [ -n "${ZUMVO_DEB_SRC_DIR:-}" ]; then
    find "$ZUMVO_DEB_SRC_DIR" -maxdepth 1 -type f -name "${dep}_*" -exec cp -t "$dir" {} +
  fi
  if ! (cd "$dir" && apt-get "${sandbox[@]}" source -q --only-source "$dep=$ver") >"$log" 2>&1; then
    FETCH_ERROR=$(grep -E '^E:' "$log" | head -n 1 | sed 's/^E: //' || true)
    rm -rf "$dir"
    return 1
  fi
  [ -n "$(find "$dir" -mindepth 1 -maxdepth 1 -type d)" ] \
    || { FETCH_ERROR="apt-get source left no source tree (see $log)"; return 1; }
  touch "$dir/.unpacked"
}

# Each dependency is built from the newest version of its source package that the archive
# actually serves (the newest listed may be missing from a mirror, e.g. a security update's
# source).  The choice is remembered per set of listed versions, so a later run neither
# downloads nor asks the network again until the package lists change.
resolve_versions() {
  local dep v candidates chosen record lockfd
  mkdir -p "$SRC_ROOT"
  for dep in "${DEPS[@]}" "${HEADER_DEPS[@]}"; do
    candidates=$(apt-cache showsrc --only-source "$dep" 2>/dev/null | sed -n 's/^Version: //p' \
      | sort -u | sort_versions_desc | tr '\n' ' ')
    candidates=${candidates% }
    [ -n "$candidates" ] || die "no source package '$dep' in the package lists (is the deb-src entry there and 'apt-get update' done?)"
    record=$SRC_ROOT/$dep.version
    chosen=""
    if [ -f "$record" ] && [ "$(sed -n 1p "$record")" = "$candidates" ]; then
      chosen=$(sed -n 2p "$record")
      [ -f "$SRC_ROOT/${dep}_${chosen//:/_}/.unpacked" ] || chosen=""
    fi
    if [ -z "$chosen" ]; then
      exec {lockfd}>"$SRC_ROOT/$dep.lock"
      flock "$lockfd"
      for v in $candidates; do
        say "Fetching the Debian source $dep=$v"
        FETCH_ERROR=""
        if fetch_version "$dep" "$v"; then chosen=$v; break; fi
        say "  $dep=$v cannot be downloaded from the archive: ${FETCH_ERROR:-see $SRC_ROOT/${dep}_${v//:/_}.fetch.log}"
      done
      exec {lockfd}>&-
      if [ -z "$chosen" ]; then
        # Not fatal here: everything else still gets built; the run fails at the end.
        say "  NOT AVAILABLE: no version of the source package '$dep' can be downloaded (tried: $candidates)"
        UNAVAILABLE[$dep]="its Debian source cannot be downloaded (tried $candidates; $FETCH_ERROR)"
        VERSION[$dep]=${candidates%% *}
        SRC_DIR[$dep]=""
        continue
      fi
      [ "$chosen" = "${candidates%% *}" ] || say "  using $dep=$chosen, the newest version the archive serves"
      printf '%s\n%s\n' "$candidates" "$chosen" >"$record"
    fi
    VERSION[$dep]=$chosen
    SRC_DIR[$dep]=$(find "$SRC_ROOT/${dep}_${chosen//:/_}" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  done
}

# Sorts Debian version strings (one a line), newest first, by dpkg's own ordering.
sort_versions_desc() {
  local vs=() v i j t
  while read -r v; do [ -n "$v" ] && vs+=("$v"); done
  for ((i = 1; i < ${#vs[@]}; i++)); do
    for ((j = i; j > 0; j--)); do
      if dpkg --compare-versions "${vs[j]}" gt "${vs[j-1]}"; then
        t=${vs[j]}; vs[j]=${vs[j-1]}; vs[j-1]=$t
      else
        break
      fi
    done
  done
  [ ${#vs[@]} -gt 0 ] && printf '%s\n' "${vs[@]}"
  return 0
}

# Upstream version for messages: without epoch and Debian revision (1:1.2.13.dfsg-1 -> 1.2.13.dfsg).
upstream() { local v=${1#*:}; printf '%s' "${v%-*}"; }

compute_prefix() {
  local list="recipe=$RECIPE triple=$TRIPLE"
  list+=" gcc=$(dpkg-query -W -f='${Version}' g++-mingw-w64-i686-posix)"
  list+=" mingw=$(dpkg-query -W -f='${Version}' mingw-w64-i686-dev)"
  local dep
  for dep in "${DEPS[@]}"; do list+=" $dep=${VERSION[$dep]}"; done
  TAG=$(printf '%s\n' "$list" | sha256sum | cut -c1-10)
  PREFIX=$CACHE_ROOT/mingw32-$TAG
  VERSION_LIST=$list
}

# ---------------------------------------------------------------------------------------------
# Fetching and building one dependency.

# Common CMake configure + build + install of a static library into the prefix.
cmake_build() {
  local src=$1 build=$2
  shift 2
  cmake -S "$src" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DZUMVO_MINGW_PREFIX="$PREFIX" \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
    -DCMAKE_POSITION_INDEPENDENT_CODE=OFF "$@"
  cmake --build "$build" -j"$JOBS"
  cmake --install "$build"
}

build_qt6-base() {
  # Only Core, Gui, Widgets and Test are used.  The Windows platform plugin of 6.4.2 does not
  # compile with OpenGL off, so Qt's default (dynamic) OpenGL stays; Debian's repacked source has
  # no wintab.h, hence no tablet events.  Direct2D stays on: the Windows platform plugin uses Gui's
  # DirectWrite font database, which 6.4 builds only along with Direct2D.  Qt's bundled zlib/png/jpeg/pcre2/freetype/harfbuzz are
  # used so that Qt does not depend on the other libraries of this cache.
  cmake -S "$SRC" -B "$B" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DZUMVO_MINGW_PREFIX="$PREFIX" \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$QT_HOST_CMAKE_DIR" \
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_tabletevent=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_direct2d=ON \
    -DFEATURE_testlib=ON -DFEATURE_widgets=ON -DFEATURE_gui=ON \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_system_pcre2=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_md4c=OFF
  cmake --build "$B" -j"$JOBS"
  cmake --install "$B"
}

build_zlib() {
  # zlib's own configure with --static: the plain libz.a and zlib.pc (its CMake build always adds
  # a DLL, and Debian's repacked source has no win32/ makefiles).
  cp -a "$SRC/." "$B/"
  CHOST=$TRIPLE CC=$TRIPLE-gcc-posix AR=$TRIPLE-gcc-ar-posix RANLIB=$TRIPLE-gcc-ranlib-posix \
    CFLAGS="-O2" ./configure --static --prefix="$PREFIX"
  make -j"$JOBS" libz.a
  make install
}

# The compile-time options of Debian's own libsqlite3 (debian/rules), so that SQL behaves the same
# on Windows as on the Linux build.
SQLITE_FLAGS=(-O2 -fno-strict-aliasing -DSQLITE_SECURE_DELETE -DSQLITE_ENABLE_COLUMN_METADATA
  -DSQLITE_ENABLE_FTS3 -DSQLITE_ENABLE_FTS3_PARENTHESIS -DSQLITE_ENABLE_RTREE=1 -DSQLITE_SOUNDEX=1
  -DSQLITE_ENABLE_UNLOCK_NOTIFY -DSQLITE_OMIT_LOOKASIDE=1 -DSQLITE_ENABLE_DBSTAT_VTAB
  -DSQLITE_ALLOW_ROWID_IN_VIEW -DSQLITE_ENABLE_UPDATE_DELETE_LIMIT=1 -DSQLITE_ENABLE_LOAD_EXTENSION
  -DSQLITE_ENABLE_JSON1 -DSQLITE_LIKE_DOESNT_MATCH_BLOBS -DSQLITE_THREADSAFE=1
  -DSQLITE_ENABLE_FTS3_TOKENIZER=1 -DSQLITE_USE_URI=1 -DSQLITE_MAX_SCHEMA_RETRY=25
  -DSQLITE_ENABLE_PREUPDATE_HOOK -DSQLITE_ENABLE_SESSION -DSQLITE_ENABLE_STMTVTAB
  -DSQLITE_MAX_VARIABLE_NUMBER=250000)

build_sqlite3() {
  # The amalgamation (sqlite3.c, sqlite3.h) is generated by a native configure + make (it needs
  # tclsh and build-time helpers, and is the same for every target); sqlite's configure does not
  # cross-compile to MinGW (it takes the target for Unix), so the library itself is compiled here.
  mkdir -p gen lib
  (cd gen && "$SRC/configure" --disable-tcl --disable-readline --disable-editline \
    && make -j"$JOBS" sqlite3.c sqlite3.h)
  "$TRIPLE-gcc-posix" "${SQLITE_FLAGS[@]}" -DSQLITE_ENABLE_FTS4 -DSQLITE_ENABLE_FTS5 \
    -DSQLITE_ENABLE_MATH_FUNCTIONS -c gen/sqlite3.c -o lib/sqlite3.o
  rm -f lib/libsqlite3.a
  "$TRIPLE-gcc-ar-posix" rcs lib/libsqlite3.a lib/sqlite3.o
  install -d "$PREFIX/include" "$PREFIX/lib/pkgconfig"
  install -m 644 gen/sqlite3.h "$SRC/src/sqlite3ext.h" "$PREFIX/include/"
  install -m 644 lib/libsqlite3.a "$PREFIX/lib/"
  cat >"$PREFIX/lib/pkgconfig/sqlite3.pc" <<EOPC
prefix=$PREFIX
exec_prefix=\${prefix}
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: SQLite
Description: SQL database engine
Version: $(cat "$SRC/VERSION")
Libs: -L\${libdir} -lsqlite3
Cflags: -I\${includedir}
EOPC
}

build_fmtlib() {
  cmake_build "$SRC" "$B" -DFMT_DOC=OFF -DFMT_TEST=OFF -DFMT_FUZZ=OFF -DFMT_INSTALL=ON
}

build_spdlog() {
  cmake_build "$SRC" "$B" -DSPDLOG_FMT_EXTERNAL=ON -DSPDLOG_BUILD_EXAMPLE=OFF \
    -DSPDLOG_BUILD_TESTS=OFF -DSPDLOG_BUILD_BENCH=OFF -DSPDLOG_INSTALL=ON
}

build_pugixml() {
  cmake_build "$SRC" "$B" -DPUGIXML_BUILD_TESTS=OFF
}

build_libjpeg-turbo() {
  cmake_build "$SRC" "$B" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
    -DCMAKE_ASM_NASM_COMPILER=nasm
}

build_googletest() {
  cmake_build "$SRC" "$B" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=OFF
}

build_rapidjson() {
  # Header-only: installs the headers and RapidJSONConfig.cmake, compiles nothing.
  cmake_build "$SRC" "$B" -DRAPIDJSON_BUILD_DOC=OFF -DRAPIDJSON_BUILD_EXAMPLES=OFF \
    -DRAPIDJSON_BUILD_TESTS=OFF -DRAPIDJSON_BUILD_THIRDPARTY_GTEST=OFF
}

build_zbar() {
  # The decoder library alone, static: no video, X, GTK, Qt, Python, ImageMagick or D-Bus (the QR
  # reader hands it grey pixels decoded by Qt).  Debian's source has no generated configure.
  # Its QR text decoder needs iconv, which Debian builds for no MinGW target: iconv/ is a small
  # one on Windows' own code page tables, installed as libiconv.a for it (and whoever links zbar).
  "$TRIPLE-gcc-posix" -O2 -Wall -c "$HERE/iconv/iconv.c" -o iconv.o
  rm -f libiconv.a
  "$TRIPLE-gcc-ar-posix" rcs libiconv.a iconv.o
  install -d "$PREFIX/include" "$PREFIX/lib"
  install -m 644 "$HERE/iconv/iconv.h" "$PREFIX/include/"
  install -m 644 libiconv.a "$PREFIX/lib/"
  cp -a "$SRC/." "$B/"
  autoreconf -fi
  ./configure --host="$TRIPLE" --prefix="$PREFIX" --disable-shared --enable-static \
    --disable-video --without-x --without-xshm --without-xv --without-gtk --without-qt \
    --without-python --without-imagemagick --without-graphicsmagick --without-jpeg \
    --without-dbus --without-java --without-npapi --disable-doc --disable-nls \
    --disable-pthread CC="$TRIPLE-gcc-posix" CXX="$TRIPLE-g++-posix" AR="$TRIPLE-gcc-ar-posix" \
    RANLIB="$TRIPLE-gcc-ranlib-posix" CFLAGS="-O2" CPPFLAGS="-I$PREFIX/include" \
    LDFLAGS="-L$PREFIX/lib" --with-libiconv-prefix="$PREFIX"
  make -j"$JOBS" -C zbar libzbar.la
  make -C zbar install-libLTLIBRARIES
  make install-pkgconfigDATA
  install -d "$PREFIX/include/zbar"
  install -m 644 include/zbar.h "$PREFIX/include/"
  install -m 644 include/zbar/*.h "$PREFIX/include/zbar/"
  # A static zbar needs iconv (and Windows' own libraries for its window processor) after it.
  sed -i 's|^Libs: \(.*\)-lzbar.*|Libs: \1-lzbar -liconv -lgdi32 -lwinmm|' "$PREFIX/lib/pkgconfig/zbar.pc"
  grep -q -- '-liconv' "$PREFIX/lib/pkgconfig/zbar.pc"
}

install_cpp-httplib() {
  # Upstream's single header (Debian's binary package has it split into a header and a library).
  install -D -m 644 "${SRC_DIR[cpp-httplib]}/httplib.h" "$PREFIX/include/httplib.h"
}

# Copies the header-only sources whose stamp is missing or names another version.
install_header_deps() {
  local dep stamp
  for dep in "${HEADER_DEPS[@]}"; do
    stamp=$PREFIX/stamps/$dep.done
    if [ -f "$stamp" ] && [ "$(cut -d' ' -f1 "$stamp")" = "$dep=${VERSION[$dep]}" ]; then continue; fi
    if [ -n "${UNAVAILABLE[$dep]:-}" ]; then
      say "$dep: NOT INSTALLED (the suites that need it are left out): ${UNAVAILABLE[$dep]}"
      continue
    fi
    "install_$dep"
    printf '%s=%s installed %s\n' "$dep" "${VERSION[$dep]}" "$(date -u '+%F %T UTC')" >"$stamp"
    say "$dep $(upstream "${VERSION[$dep]}"): installed (header only)"
  done
}

build_curl() {
  # libcurl only, TLS through Windows' own Schannel; no OpenSSL and no optional protocol libraries.
  cmake_build "$SRC" "$B" -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_MBEDTLS=OFF -DCURL_USE_WOLFSSL=OFF \
    -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
    -DUSE_NGHTTP2=OFF -DUSE_NGTCP2=OFF -DUSE_QUICHE=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF \
    -DCURL_USE_GSSAPI=OFF -DCURL_DISABLE_LDAP=ON -DCURL_ZLIB=ON -DENABLE_UNICODE=ON
  # CMake users get CURL_STATICLIB from the CURL::libcurl target; curl 7.88's libcurl.pc leaves it
  # out, and without it the headers declare dllimport functions that the static library lacks.
  sed -i 's|^Cflags: -I${includedir}.*|Cflags: -I${includedir} -DCURL_STATICLIB|' "$PREFIX/lib/pkgconfig/libcurl.pc"
}

# Prints, every minute while a build runs, how far it got (ninja's [done/total] when there is one).
progress_monitor() {
  local dep=$1 log=$2 start=$SECONDS
  while sleep 60; do
    local step
    step=$(grep -aoE '^\[[0-9]+/[0-9]+\]' "$log" 2>/dev/null | tail -n 1 || true)
    say "      $dep: still building after $(human_time $((SECONDS - start)))${step:+, step ${step//[\[\]]/}}"
  done
}

MONITOR_PID=""
NOT_BUILT=()
REBUILD=()
stop_monitor() {
  if [ -n "$MONITOR_PID" ]; then
    kill "$MONITOR_PID" 2>/dev/null || true
    wait "$MONITOR_PID" 2>/dev/null || true
    MONITOR_PID=""
  fi
}
trap stop_monitor EXIT

build_one() {
  local idx=$1 total=$2 dep=$3 ver=${VERSION[$3]}
  local label
  label="[$idx/$total] $dep $(upstream "$ver")"
  local stamp=$PREFIX/stamps/$dep.done log=$PREFIX/logs/$dep.log force=0
  [[ " ${REBUILD[*]} " == *" $dep "* ]] && force=1
  if [ "$force" -eq 0 ] && [ -f "$stamp" ]; then
    say "$label: already built"
    return 0
  fi
  if [ -n "${UNAVAILABLE[$dep]:-}" ]; then
    say "$label: NOT BUILT: ${UNAVAILABLE[$dep]}"
    NOT_BUILT+=("$dep")
    return 0
  fi
  local n
  for n in ${NEEDS[$dep]:-}; do
    if [ ! -f "$PREFIX/stamps/$n.done" ]; then
      say "$label: NOT BUILT: it needs $n, which is not built"
      NOT_BUILT+=("$dep")
      return 0
    fi
  done
  # One build of a dependency at a time: a second run waits here instead of corrupting it.
  local lockfd
  exec {lockfd}>"$PREFIX/locks/$dep.lock"
  if ! flock -n "$lockfd"; then
    say "$label: another run is building it; waiting for it to finish"
    flock "$lockfd"
  fi
  local start=$SECONDS
  SRC=${SRC_DIR[$dep]}
  B=$BUILD_ROOT/$TAG/$dep
  if [ "$force" -eq 1 ]; then
    rm -f "$stamp" "$PREFIX/.complete"
    rm -rf "$B"
  elif [ -f "$stamp" ]; then
    say "$label: built by the other run"
    exec {lockfd}>&-
    return 0
  fi
  # A build folder left by a failed or interrupted run is built on (ninja redoes only what is out
  # of date); --rebuild starts from an empty one.
  local how="building"
  if [ -d "$B" ] && [ -n "$(ls -A "$B")" ]; then how="building on the unfinished build in $B"; fi
  mkdir -p "$B"
  [ -f "$log" ] && mv -f "$log" "$log.previous"
  say "$label: $how (log: $log)"
  progress_monitor "$dep" "$log" &
  MONITOR_PID=$!
  local rc=0
  set +e
  (
    set -euo pipefail
    renice -n 19 -p "$BASHPID" >/dev/null
    echo "== $dep=$ver from $SRC, build folder $B, $(date -u '+%F %T') UTC"
    cd "$B"
    "build_$dep"
  ) >"$log" 2>&1
  rc=$?
  set -e
  stop_monitor
  if [ "$rc" -ne 0 ]; then
    say "---- last lines of $log ----"
    tail -n 40 "$log"
    say "----"
    exec {lockfd}>&-
    die "$label: FAILED after $(human_time $((SECONDS - start))) (exit $rc); full log: $log"
  fi
  printf '%s=%s built %s in %s s\n' "$dep" "$ver" "$(date -u '+%F %T UTC')" $((SECONDS - start)) >"$stamp"
  rm -rf "$B"
  say "$label: built in $(human_time $((SECONDS - start)))"
  exec {lockfd}>&-
}

# ---------------------------------------------------------------------------------------------
# Run-time DLLs and the final check.

copy_runtime_dlls() {
  local gcc_dir dll found
  gcc_dir=$(dirname "$("$TRIPLE-gcc-posix" -print-libgcc-file-name)")
  mkdir -p "$PREFIX/bin"
  for dll in libstdc++-6.dll libgcc_s_dw2-1.dll libwinpthread-1.dll; do
    found=""
    for d in "$gcc_dir" "/usr/$TRIPLE/lib" "/usr/$TRIPLE/bin"; do
      if [ -f "$d/$dll" ]; then found=$d/$dll; break; fi
    done
    [ -n "$found" ] || die "MinGW run-time $dll not found in $gcc_dir or /usr/$TRIPLE/lib"
    install -m 644 "$found" "$PREFIX/bin/$dll"
  done
}

# Builds smoke/ (a Qt Widgets window clicked with QTest, and every other library doing a little
# work) with the cache's toolchain file and runs it under wine on the offscreen platform, with
# nothing but <cache>/bin on WINEPATH.  Returns non-zero when it cannot be built or reports a fault.
smoke_check() {
  local dir log=$PREFIX/logs/deps-check.log start=$SECONDS
  dir=$(mktemp -d "${TMPDIR:-/tmp}/zumvo-deps-check.XXXXXX")
  say "Final check: building a program that uses every library (log: $log)"
  if ! (renice -n 19 -p "$BASHPID" >/dev/null \
        && cmake -S "$HERE/smoke" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
             -DZUMVO_MINGW_PREFIX="$PREFIX" -DCMAKE_BUILD_TYPE=Release \
        && cmake --build "$dir" -j"$JOBS") >"$log" 2>&1; then
    say "---- last lines of $log ----"
    tail -n 40 "$log"
    say "----"
    say "Final check: the program does not build against the cache (full log: $log)"
    rm -rf "$dir"
    return 1
  fi
  export WINEPREFIX=$PREFIX/wineprefix WINEARCH=win32 WINEDEBUG=-all
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "Final check: creating the wine prefix $WINEPREFIX (the first start takes a while)"
    wineboot --init >>"$log" 2>&1 || true
    wineserver -w || true
  fi
  local winepath rc=0
  winepath="Z:${PREFIX//\//\\}\\bin"
  say "Final check: running it under $(wine --version) on the offscreen platform, WINEPATH=$winepath"
  set +e
  # Wine keeps the host's QT_* variables from Windows programs; WINEQT_* reaches them as QT_*.
  WINEPATH="$winepath" WINEQT_QPA_PLATFORM=offscreen timeout 300 wine "$dir/deps_check.exe" \
    --expect-platform=offscreen 2>>"$log" \
    | tr -d '\r' | tee -a "$log" | sed 's/^/    /'
  rc=${PIPESTATUS[0]}
  set -e
  rm -rf "$dir"
  if [ "$rc" -ne 0 ]; then
    say "Final check: FAILED (exit $rc) after $(human_time $((SECONDS - start))); full log: $log"
    return 1
  fi
  say "Final check: passed in $(human_time $((SECONDS - start)))"
}

# ---------------------------------------------------------------------------------------------

main() {
  local only=() rebuild=() smoke_only=0 print_prefix=0
  while [ $# -gt 0 ]; do
    case "$1" in
      --only) [ $# -ge 2 ] || die "--only needs a dependency name"; only+=("$2"); shift 2 ;;
      --rebuild) [ $# -ge 2 ] || die "--rebuild needs a dependency name"; rebuild+=("$2"); shift 2 ;;
      --smoke) smoke_only=1; shift ;;
      --print-prefix) print_prefix=1; shift ;;
      -h|--help) usage; exit 0 ;;
      *) die "unknown argument '$1' (see --help)" ;;
    esac
  done
  local d
  for d in "${only[@]}" "${rebuild[@]}"; do
    [[ " ${DEPS[*]} " == *" $d "* ]] || die "unknown dependency '$d'; known: ${DEPS[*]}"
  done

  local run_start=$SECONDS
  if [ "$print_prefix" -eq 1 ]; then
    resolve_versions
    compute_prefix
    say "$PREFIX"
    return 0
  fi
  setup_host
  resolve_versions
  compute_prefix
  QT_HOST_CMAKE_DIR=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake
  [ -d "$QT_HOST_CMAKE_DIR/Qt6CoreTools" ] || die "host Qt tools not found in $QT_HOST_CMAKE_DIR (qt6-base-dev-tools)"

  if [ -f "$PREFIX/.complete" ] && [ ${#only[@]} -eq 0 ] && [ ${#rebuild[@]} -eq 0 ] && [ "$smoke_only" -eq 0 ]; then
    install_header_deps
    ln -sfn "$(basename "$PREFIX")" "$CACHE_ROOT/mingw32"
    say "cache found at $PREFIX"
    return 0
  fi

  mkdir -p "$PREFIX"/{stamps,logs,locks,share/zumvo} "$SRC_ROOT" "$BUILD_ROOT"
  tr ' ' '\n' <<<"$VERSION_LIST" >"$PREFIX/share/zumvo/versions.txt"
  # The cache's own copy of the toolchain file, defaulting to this cache; Qt's qt-cmake and the
  # CMake packages installed here refer to it, so it must not depend on where the repo lives.
  TOOLCHAIN=$PREFIX/share/zumvo/mingw32.cmake
  sed "s|^set(_zumvo_default_prefix .*|set(_zumvo_default_prefix \"$PREFIX\")|" \
    "$HERE/mingw32.cmake" >"$TOOLCHAIN.tmp"
  mv -f "$TOOLCHAIN.tmp" "$TOOLCHAIN"

  if [ "$smoke_only" -eq 1 ]; then
    copy_runtime_dlls
    smoke_check
    return
  fi

  REBUILD=("${rebuild[@]}")

  # What to build: everything, or the named dependencies with what they need.
  local wanted=()
  if [ ${#only[@]} -eq 0 ] && [ ${#rebuild[@]} -eq 0 ]; then
    wanted=("${DEPS[@]}")
  else
    declare -A want=()
    local queue=("${only[@]}" "${rebuild[@]}") n
    while [ ${#queue[@]} -gt 0 ]; do
      d=${queue[0]}
      queue=("${queue[@]:1}")
      [ -n "${want[$d]:-}" ] && continue
      want[$d]=1
      for n in ${NEEDS[$d]:-}; do queue+=("$n"); done
    done
    for d in "${DEPS[@]}"; do [ -n "${want[$d]:-}" ] && wanted+=("$d"); done
  fi

  say "Windows dependency cache: $PREFIX"
  local i=0
  for d in "${wanted[@]}"; do
    i=$((i + 1))
    build_one "$i" "${#wanted[@]}" "$d"
  done

  # Not built: NOT_BUILT (could not be, this run) and the rest (not asked for in this run).
  local missing=() pending=()
  for d in "${DEPS[@]}"; do
    [ -f "$PREFIX/stamps/$d.done" ] && continue
    missing+=("$d")
    [[ " ${NOT_BUILT[*]} " == *" $d "* ]] || pending+=("$d")
  done
  for d in "${NOT_BUILT[@]}"; do
    say "NOT BUILT: $d: ${UNAVAILABLE[$d]:-it needs a dependency that is not built}"
  done
  if [ ${#pending[@]} -gt 0 ]; then
    say "Not built yet: ${pending[*]} (run without --only to finish the cache)"
    [ ${#NOT_BUILT[@]} -eq 0 ] || die "could not build: ${NOT_BUILT[*]}"
    return 0
  fi
  install_header_deps
  copy_runtime_dlls
  local check=0
  smoke_check || check=$?
  [ ${#missing[@]} -eq 0 ] \
    || die "the cache $PREFIX is incomplete: ${missing[*]} not built (see above); it is not marked complete"
  [ "$check" -eq 0 ] || die "the final check failed; the cache $PREFIX is not marked complete"
  touch "$PREFIX/.complete"
  ln -sfn "$(basename "$PREFIX")" "$CACHE_ROOT/mingw32"
  say "Windows dependency cache complete: $PREFIX ($(du -sh "$PREFIX" | cut -f1)), $CACHE_ROOT/mingw32 points to it; this run took $(human_time $((SECONDS - run_start)))"
}

main "$@"; exit $?
