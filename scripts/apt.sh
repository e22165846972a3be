# Sourced by the scripts that install Debian packages: apt_install PACKAGE...
# A mirror in the middle of a sync serves index files of the wrong size, and
# apt-get update then fails for a minute or two; the lists are fetched again
# after a pause, and when they still fail the install is tried with the lists
# that did arrive, which is enough whenever the packages named are in them.

as_root() {
  if [[ "$(id -u)" -eq 0 ]]; then "$@"; else sudo -n "$@"; fi
}

apt_updated=false
apt_install() {
  echo "installing: $*"
  local try
  if [[ "$apt_updated" == false ]]; then
    for try in 1 2 3 4; do
      as_root apt-get update -q && break
      echo "apt-get update failed (try $try of 4)"
      [[ $try -lt 4 ]] && sleep $((try * 20))
    done
    apt_updated=true
  fi
  for try in 1 2 3; do
    as_root apt-get install -y -q --no-install-recommends "$@" && return 0
    echo "apt-get install failed (try $try of 3)"
    [[ $try -lt 3 ]] && { sleep $((try * 20)); as_root apt-get update -q || true; }
  done
  return 1
}
