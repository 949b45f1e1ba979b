#!/usr/bin/env bash
# What the Windows build needs on this Debian machine: the cross compilers, Wine with its
# 32-bit half, a Japanese locale (Wine's ANSI code page follows LANG), unixODBC with
# mdbtools' driver for both architectures, and static Windows builds of OpenSSL, curl,
# libarchive and pugixml made from Debian's own source packages.
#
#   tools/windows/deps.sh BUILD_DIR [ARCH...]      ARCH: i686 (default), x86_64
#
# The libraries land in BUILD_DIR/deps/ARCH (include/, lib/, lib/pkgconfig/); a stamp there
# names the versions built, so a second run with the same versions builds nothing.
set -euo pipefail

BUILD_DIR=${1:?usage: deps.sh BUILD_DIR [ARCH...]}
shift
ARCHES=("${@:-i686}")
JOBS=${JOBS:-2}
HERE=$(cd "$(dirname "$0")" && pwd)
SUDO=$([ "$(id -u)" = 0 ] || echo sudo)
export DEBIAN_FRONTEND=noninteractive

. "$HERE/versions.sh"

say() { printf '== %s\n' "$*"; }
die() { printf 'deps.sh: %s\n' "$*" >&2; exit 1; }

# ---- Debian packages --------------------------------------------------------------------
PACKAGES=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
          wine wine64 wine32:i386 locales unixodbc-common
          odbc-mdbtools libodbc2 odbc-mdbtools:i386 libodbc2:i386 dpkg-dev xz-utils make)

installed() { dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q '^install ok installed'; }

# The suite of the running system ("bookworm"), for the deb-src line.
SUITE=$(. /etc/os-release && echo "${VERSION_CODENAME:?}")
SOURCES_LIST=/etc/apt/sources.list.d/qvu-windows-src.sources

needs_update=no
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  say "adding the i386 architecture (for wine32 and the 32-bit ODBC driver)"
  $SUDO dpkg --add-architecture i386
  needs_update=yes
fi
if ! grep -rqs "^Types:.*deb-src" /etc/apt/sources.list.d/ && ! grep -qs '^deb-src ' /etc/apt/sources.list; then
  say "adding deb-src for $SUITE"
  $SUDO tee "$SOURCES_LIST" >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $SUITE $SUITE-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $SUITE-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  needs_update=yes
fi
missing=()
for p in "${PACKAGES[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ] || [ $needs_update = yes ]; then
  $SUDO apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine maps LANG=ja_JP.UTF-8 to the ANSI code page 932, as on the shops' machines.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  say "generating the ja_JP.UTF-8 locale"
  $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi

# ---- Debian's source packages -----------------------------------------------------------
DEPS=$(mkdir -p "$BUILD_DIR/deps" && cd "$BUILD_DIR/deps" && pwd)
SRC=$DEPS/src
mkdir -p "$SRC"

# "SHA256 NAME" for each file of source package $1 at version $2, as apt's signed index has it.
listed_files() {
  apt-cache showsrc "$1" 2>/dev/null | awk -v want="$2" '
    /^Package: / { version = ""; in_sums = 0 }
    /^Version: / { version = $2 }
    /^[A-Za-z0-9-]+:/ { in_sums = ($1 == "Checksums-Sha256:") ; next }
    in_sums && version == want && NF == 3 { print $1, $3 }' | sort -u
}

# Downloads (once) and checks the tarballs of package $1 at version $2; $3 "debian" wants
# the .debian tarball too. Sets TARBALLS to the checked files.
fetch() {
  local name=$1 version=$2 patches=$3 files wanted=() offered
  files=$(listed_files "$name" "$version")
  if [ -z "$files" ]; then
    offered=$(apt-cache showsrc "$name" 2>/dev/null | awk '/^Version: /{print $2}' | sort -u | tr '\n' ' ')
    die "Debian no longer offers $name $version (it offers: ${offered:-nothing}). Check the new version and pin it in tools/windows/versions.sh."
  fi
  while read -r sum file; do
    case $file in
      *.orig.tar.*.asc) ;;
      *.orig.tar.*) wanted+=("$sum $file") ;;
      *.debian.tar.*) [ "$patches" = debian ] && wanted+=("$sum $file") ;;
    esac
  done <<<"$files"
  local entry ok=yes
  for entry in "${wanted[@]}"; do
    echo "$entry" | sed 's/ /  /' | (cd "$SRC" && sha256sum --status -c - 2>/dev/null) || ok=no
  done
  if [ $ok = no ]; then
    say "downloading the source of $name $version"
    # Some .dsc and .debian files of the security suite answer 404; what is needed is checked below.
    (cd "$SRC" && apt-get source --download-only -qq "$name=$version" >/dev/null 2>&1) || true
  fi
  TARBALLS=()
  for entry in "${wanted[@]}"; do
    local sum=${entry%% *} file=${entry#* }
    [ -f "$SRC/$file" ] || die "$file did not download (apt-get source --download-only $name=$version)"
    if [ "$(sha256sum "$SRC/$file" | cut -d' ' -f1)" != "$sum" ]; then
      rm -f "$SRC/$file"
      die "$file does not match the SHA-256 Debian lists for it; removed it, refusing to build"
    fi
    TARBALLS+=("$SRC/$file")
  done
}

# Unpacks the checked tarballs of $1 into $2 and applies Debian's patch series minus the
# skipped ones. Autotools inputs are then dated back so that make never tries to rerun
# automake for the test lists the patches add to Makefile.am.
unpack() {
  local name=$1 dir=$2 tarball skip patch
  rm -rf "$dir" && mkdir -p "$dir"
  for tarball in "${TARBALLS[@]}"; do
    case $tarball in
      *.orig.tar.*) tar -xf "$tarball" -C "$dir" --strip-components=1 ;;
      *.debian.tar.*) tar -xf "$tarball" -C "$dir" ;;
    esac
  done
  if [ -f "$dir/debian/patches/series" ]; then
    skip="SKIP_PATCHES_$name"; skip=" $(echo ${!skip:-}) "
    while read -r patch _; do
      case $patch in ''|'#'*) continue ;; esac
      case $skip in *" $patch "*) continue ;; esac
      patch -d "$dir" -p1 -s -N --no-backup-if-mismatch <"$dir/debian/patches/$patch" ||
        die "Debian's patch $patch of $name does not apply"
    done <"$dir/debian/patches/series"
    find "$dir" \( -name Makefile.am -o -name configure.ac -o -name '*.m4' \) -exec touch -d 2000-01-01 {} +
  fi
}

# ---- static Windows builds ---------------------------------------------------------------
# A library is rebuilt when its version, its patches or its recipe (build_NAME) changed.
recipe() { { declare -f "build_$1"; echo "$2 $3"; } | sha256sum | cut -c1-16; }

build_openssl() {  # $1 triplet, $2 prefix, $3 work dir
  local target=mingw
  [ "${1%%-*}" = x86_64 ] && target=mingw64
  (cd "$3" && ./Configure "$target" no-shared no-tests no-module --prefix="$2" --libdir=lib \
     --cross-compile-prefix="$1-" >/dev/null &&
   make -j"$JOBS" build_libs >/dev/null && make install_dev >/dev/null)
}

build_curl() {
  (cd "$3" && ./configure -q --host="$1" --prefix="$2" --disable-shared --enable-static \
     --with-openssl="$2" --with-zlib="/usr/$1" --without-brotli --without-zstd --without-libidn2 \
     --without-nghttp2 --without-libssh2 --without-librtmp --without-libpsl --without-ca-bundle \
     --without-ca-path --disable-pthreads --disable-manual --disable-ldap --disable-ldaps \
     --disable-ftp --disable-file --disable-rtsp --disable-dict --disable-telnet --disable-tftp \
     --disable-pop3 --disable-imap --disable-smb --disable-smtp --disable-gopher --disable-mqtt \
     LIBS="-lws2_32 -lcrypt32 -lbcrypt" >/dev/null &&
   make -j"$JOBS" -C lib >/dev/null && make -C lib install >/dev/null && make -C include install >/dev/null)
}

# LIBARCHIVE_STATIC: no dllexport in the objects, or every DLL linking them would export libarchive.
build_libarchive() {
  (cd "$3" && ./configure -q --host="$1" --prefix="$2" --disable-shared --enable-static \
     --disable-bsdtar --disable-bsdcpio --disable-bsdcat --disable-acl --disable-xattr \
     --without-openssl --without-lzma --without-bz2lib --without-zstd --without-lz4 --without-xml2 \
     --without-expat --without-iconv --without-cng --without-libb2 --without-mbedtls --without-nettle \
     CPPFLAGS="-I/usr/$1/include -DLIBARCHIVE_STATIC" LDFLAGS="-L/usr/$1/lib" >/dev/null &&
   make -j"$JOBS" libarchive.la >/dev/null &&
   make install-libLTLIBRARIES install-includeHEADERS >/dev/null)
}

build_pugixml() {
  mkdir -p "$2/include" "$2/lib"
  (cd "$3" && "$1-g++-posix" -O2 -std=c++17 -c src/pugixml.cpp -o pugixml.o &&
   "$1-ar" rcs "$2/lib/libpugixml.a" pugixml.o && cp src/pugixml.hpp src/pugiconfig.hpp "$2/include/")
}

for arch in "${ARCHES[@]}"; do
  case $arch in i686|x86_64) ;; *) die "unknown architecture $arch (i686 or x86_64)" ;; esac
  triplet=$arch-w64-mingw32
  prefix=$DEPS/$arch
  mkdir -p "$prefix/stamps"
  for lib in libarchive pugixml openssl curl; do
    upper=${lib^^}
    version_var=${upper}_VERSION patches_var=${upper}_PATCHES
    skip_var=SKIP_PATCHES_$lib
    stamp="${!version_var} $(recipe "$lib" "${!patches_var}" "$(echo ${!skip_var:-})")"
    [ "$(cat "$prefix/stamps/$lib" 2>/dev/null)" = "$stamp" ] && continue
    fetch "$lib" "${!version_var}" "${!patches_var}"
    work=$DEPS/work/$arch/$lib
    unpack "$lib" "$work"
    say "building $lib ${!version_var} for $arch"
    start=$SECONDS
    "build_$lib" "$triplet" "$prefix" "$work" || die "building $lib for $arch failed (in $work)"
    echo "$stamp" >"$prefix/stamps/$lib"
    rm -rf "$work"
    say "$lib for $arch: $((SECONDS - start)) s"
  done
done
say "Windows libraries ready in $DEPS (${ARCHES[*]})"
