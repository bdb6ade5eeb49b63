# shellcheck shell=bash
# Sourced by the scripts that fetch Debian source packages.
# rq_deb_src PACKAGE: makes sure apt can fetch the source package, adding a
# deb-src entry for this machine's own mirror (scripts/debian-mirror.sh) when
# there is none.
rq_deb_src() {
  local package=$1
  if apt-get source --print-uris -qq "$package" >/dev/null 2>&1; then
    return 0
  fi
  local sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  local codename mirror
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  mirror=$("$(dirname "${BASH_SOURCE[0]}")/debian-mirror.sh")
  printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$mirror" "$codename" | "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/tolvane-deb-src.sources >/dev/null
  "${sudo_cmd[@]}" apt-get update -qq
}
