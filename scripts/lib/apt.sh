# Package installation shared by scripts/setup and scripts/setup-bench. Sourced,
# not run. Everything here is safe to repeat: present packages are skipped.
export DEBIAN_FRONTEND=noninteractive

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
RELEASE=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")

# A mirror in the middle of a sync fails an index now and then: try again,
# then go on with the lists at hand, which the install below may not need.
apt_update() {
  local try
  for try in 1 2 3; do
    if $SUDO apt-get update -qq; then return 0; fi
    sleep 5
  done
  echo "${0##*/}: apt-get update failed; going on with the package lists at hand" >&2
}

# Prints those of the named packages that are not installed.
missing_packages() {
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      echo "$p"
    fi
  done
}

# Installs the packages. When the resolver fails (a suite's index half synced,
# so that architectures or suites disagree on versions), tries once more with
# the release's own candidates, which the release index always has in step.
apt_install() {
  if $SUDO apt-get install -y -q --no-install-recommends "$@"; then return 0; fi
  [ -n "$RELEASE" ] || return 1
  echo "${0##*/}: install failed; trying again with the candidates of $RELEASE alone" >&2
  $SUDO apt-get install -y -q --no-install-recommends -t "$RELEASE" "$@"
}
