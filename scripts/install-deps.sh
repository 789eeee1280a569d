#!/usr/bin/env bash
# Installs the Debian packages of scripts/deps.txt that are not installed yet.
# Needs no network (and does nothing) when everything is installed. Fails, naming them, when a
# listed name is not a package apt can install (a virtual or misspelt name would otherwise send
# every run back to the network).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mapfile -t wanted < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$here/deps.txt" | grep -v '^$')

missing_packages() {
  local pkg status
  for pkg in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || echo "$pkg"
  done
}

mapfile -t missing < <(missing_packages)
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
echo "Missing packages: ${missing[*]}"
$sudo apt-get update -qq
unknown=()
for pkg in "${missing[@]}"; do
  candidate=$(apt-cache policy "$pkg" 2>/dev/null | sed -n 's/^ *Candidate: *//p')
  [[ -n "$candidate" && "$candidate" != "(none)" ]] || unknown+=("$pkg")
done
if [[ ${#unknown[@]} -gt 0 ]]; then
  echo "scripts/deps.txt names what apt cannot install: ${unknown[*]}" >&2
  echo "(a virtual package, a misspelt name or a package of another Debian release; name the real package)" >&2
  exit 1
fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
mapfile -t still < <(missing_packages)
if [[ ${#still[@]} -gt 0 ]]; then
  echo "still not installed after apt-get install: ${still[*]}" >&2
  exit 1
fi
