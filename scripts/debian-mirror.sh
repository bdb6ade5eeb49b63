#!/usr/bin/env bash
# Prints the Debian mirror that this machine's own apt sources use for the main
# component of its release (for example http://mirror.example/debian/), so that
# the scripts never carry a host name of their own.
set -euo pipefail
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:?no VERSION_CODENAME in /etc/os-release}")
mirror=$(apt-get indextargets --no-release-info --format '$(TARGET_OF) $(REPO_URI) $(RELEASE) $(COMPONENT)' |
  awk -v suite="$codename" '$1 == "deb" && $3 == suite && $4 == "main" { print $2; exit }')
if [ -z "$mirror" ]; then
  echo "debian-mirror: no apt source of this machine serves $codename main" >&2
  exit 1
fi
echo "$mirror"
