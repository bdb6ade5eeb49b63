# shellcheck shell=bash
# Sourced by the scripts: what they call from the system, and which Debian
# package brings it. scripts/install-deps.sh installs the package of whatever
# is missing and then checks every entry again; a script that needs a command
# says so up front (rq_need) instead of failing later with an unrelated error.

# "command-or-path package" per line: a command is looked up on PATH (and in
# /usr/sbin), a path must exist. The Lua header is the one that Debian's Lua
# sources include for their install paths in the native build.
rq_needs_table() {
  cat <<'TABLE'
cmake cmake
ninja ninja-build
g++ g++
x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
x86_64-w64-mingw32-dlltool binutils-mingw-w64-x86-64
x86_64-w64-mingw32-objdump binutils-mingw-w64-x86-64
/usr/include/x86_64-linux-gnu/lua5.1-deb-multiarch.h liblua5.1-0-dev
/usr/src/googletest/CMakeLists.txt googletest
/usr/include/zlib.h zlib1g-dev
/usr/include/openssl/evp.h libssl-dev
/usr/include/zstd.h libzstd-dev
/usr/include/x86_64-linux-gnu/curl/curl.h libcurl4-openssl-dev
make make
perl perl
wine wine
wineboot wine
wineserver wine
Xvfb xvfb
xdpyinfo x11-utils
xdotool xdotool
import imagemagick
convert imagemagick
/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc fonts-noto-cjk
/usr/share/i18n/locales/ja_JP locales
localedef libc-bin
getent libc-bin
nginx nginx-light
curl curl
openssl openssl
rhash rhash
zstd zstd
zsync zsync
zsyncmake zsync
xdelta3 xdelta3
dpkg-source dpkg-dev
patch patch
xz xz-utils
apt-get apt
sha256sum coreutils
shuf coreutils
flock util-linux
setsid util-linux
timeout coreutils
debootstrap debootstrap
git git
unshare util-linux
chroot coreutils
mount mount
TABLE
}

# True when the command (or path) is there.
rq_has() {
  case "$1" in
    /*) [ -e "$1" ] ;;
    *) command -v "$1" >/dev/null 2>&1 || [ -x "/usr/sbin/$1" ] ;;
  esac
}

# The package that brings a command or path, from the table.
rq_package_of() {
  rq_needs_table | awk -v want="$1" '$1 == want { print $2; exit }'
}

# rq_need CMD...: stops the calling script with one line naming the first
# missing command and the package that brings it.
rq_need() {
  local c
  for c in "$@"; do
    if ! rq_has "$c"; then
      echo "$(basename "$0"): needs $c, from the package $(rq_package_of "$c") (scripts/install-deps.sh installs it)" >&2
      exit 1
    fi
  done
}
