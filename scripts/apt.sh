# Sourced by the scripts that install Debian packages: apt_install PACKAGE...
# A mirror in the middle of a sync serves index files of the wrong size, and
# apt-get update then fails for a minute or two; the lists are fetched again
# after a pause, and when they still fail the install is tried with the lists
# that did arrive. When the list that is missing is one architecture's security
# updates (i386, say), the other architecture's newer versions leave no set of
# i386 libraries of the same versions, and apt reports held broken packages:
# the install is then tried from the release's own suite (-t CODENAME), whose
# versions both architectures share.

as_root() {
  if [[ "$(id -u)" -eq 0 ]]; then "$@"; else sudo -n "$@"; fi
}

apt_updated=false
apt_install() {
  echo "installing: $*"
  local try
  if [[ "$apt_updated" == false ]]; then
    for try in 1 2 3; do
      as_root apt-get update -q && break
      echo "apt-get update failed (try $try of 3)"
      [[ $try -lt 3 ]] && sleep $((try * 15))
    done
    apt_updated=true
  fi
  local codename
  codename="$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")"
  for try in 1 2 3; do
    as_root apt-get install -y -q --no-install-recommends "$@" && return 0
    if [[ -n "$codename" ]]; then
      echo "apt-get install failed (try $try of 3); trying the versions of $codename itself"
      as_root apt-get install -y -q --no-install-recommends -t "$codename" "$@" && return 0
    fi
    echo "apt-get install failed (try $try of 3)"
    [[ $try -lt 3 ]] && { sleep $((try * 20)); as_root apt-get update -q || true; }
  done
  return 1
}
