#!/usr/bin/env bash
# A Debian root (a directory holding a small Debian system) with the interpreters that the build
# machine lacks, made with debootstrap when it is missing and reused as it is otherwise:
#   .ci/debian-root.sh NAME [+PKG...]              make the root NAME if needed; print its path
#   .ci/debian-root.sh NAME [+PKG...] CMD ARG...   the same, then run CMD inside it (see below)
#
#   NAME             suite, processor        what is installed
#   unstable-amd64   unstable, x86-64        python3.14/3.15 with -dev and -venv, g++, libgmp-dev,
#                                            cmake, make, ninja-build: source builds and tests
#   unstable-arm64   unstable, aarch64       python3.15 with -venv, binutils: wheels
#   bookworm-arm64   Debian 12, aarch64      python3.11 with -venv, binutils: wheels
# +PKG adds a Debian package to those (+python3.13 +python3.13-venv): the emulated roots get
# only what is asked for, as installing under emulation is slow (Debian byte-compiles each
# interpreter's standard library as it installs it: minutes per interpreter under qemu).
#
# The roots live in /var/cache/swarmtuner-roots (SWARMTUNER_ROOTS overrides it), outside any
# checkout, so that every clone and every CI run on the machine shares them; delete one to have
# it made anew (unstable moves, a reused root does not). A root is made in NAME.partial and
# renamed to NAME only when its packages are installed, and NAME/.ready, written last, lists
# them; a lock serialises concurrent runs. A root that lacks some of the packages wanted gets
# them installed in place.
#
# The Debian mirror is the one of the machine's own apt configuration (the first "deb" entry of
# /etc/apt/sources.list or /etc/apt/sources.list.d/*.list or *.sources whose suites include the
# machine's release, e.g. bookworm), or SWARMTUNER_DEBIAN_MIRROR; its Signed-By keyring, if
# any, checks what debootstrap fetches. An arm64 root runs under qemu-user emulation: the Debian
# packages qemu-user-static and binfmt-support are installed and the binfmt_misc handler is
# enabled if need be, after which the kernel runs its aarch64 programs transparently.
#
# CMD runs as root inside the root (chroot) in a private mount namespace, so nothing stays
# mounted when it ends: /proc, /dev and /sys are the machine's, and the checkout that holds this
# script is mounted at its own path, so paths under it (and the current directory, which must
# be under it) are the same inside and out. The host's CA bundle and resolver configuration
# are copied in before each run, so pip inside reaches the package index as it does outside.
set -euo pipefail

roots=${SWARMTUNER_ROOTS:-/var/cache/swarmtuner-roots}
checkout=$(cd "$(dirname "$0")/.." && pwd)
ca_bundle=/etc/ssl/certs/ca-certificates.crt

[ $# -ge 1 ] || { sed -n '2,6p' "$0" >&2; exit 2; }
name=$1
shift
case $name in
  unstable-amd64)
    suite=unstable arch=amd64
    packages=(python3.14 python3.14-dev python3.14-venv python3.15 python3.15-dev
      python3.15-venv g++ libgmp-dev cmake make ninja-build) ;;
  unstable-arm64)
    suite=unstable arch=arm64
    packages=(python3.15 python3.15-venv binutils) ;;
  bookworm-arm64)
    suite=bookworm arch=arm64
    packages=(python3.11 python3.11-venv binutils) ;;
  *) echo "unknown root $name (unstable-amd64, unstable-arm64, bookworm-arm64)" >&2; exit 2 ;;
esac
while [ $# -gt 0 ] && [ "${1#+}" != "$1" ]; do
  packages+=("${1#+}")
  shift
done
root=$roots/$name

log() { echo "debian-root: $*" >&2; }

# The first "deb" entry of the machine's apt sources that serves the machine's own release:
# prints "URI KEYRING" (KEYRING "-" when the entry names none).
apt_mirror() {
  local release
  release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$release" ] || { log "no VERSION_CODENAME in /etc/os-release"; return 1; }
  shopt -s nullglob
  local files=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources)
  shopt -u nullglob
  local file
  for file in "${files[@]}"; do
    [ -f "$file" ] || continue
    case $file in
      *.sources)  # deb822: paragraphs of "Field: value"
        awk -v release="$release" '
          function flush() {
            if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " release " ") &&
                tolower(enabled) != "no" && uris != "") {
              split(uris, u, " "); print u[1], (keyring ~ /^\// ? keyring : "-"); found = 1; exit
            }
            types = uris = suites = keyring = enabled = ""
          }
          /^[ \t]*#/ { next }
          /^[ \t]*$/ { flush(); next }
          /^[^ \t]/ {
            field = tolower($1); sub(/:$/, "", field)
            value = $0; sub(/^[^:]*:[ \t]*/, "", value)
            if (field == "types") types = value
            else if (field == "uris") uris = value
            else if (field == "suites") suites = value
            else if (field == "signed-by") keyring = value
            else if (field == "enabled") enabled = value
          }
          END { if (!found) flush() }' "$file" ;;
      *)  # one-line form: deb [options] URI suite components...
        awk -v release="$release" '
          $1 != "deb" { next }
          {
            keyring = "-"; i = 2
            if ($2 ~ /^\[/) {
              for (; i <= NF; i++) {
                if ($i ~ /^\[?signed-by=/) { k = $i; sub(/^\[?signed-by=/, "", k); sub(/\]$/, "", k); keyring = k }
                if ($i ~ /\]$/) { i++; break }
              }
            }
            if ($(i + 1) == release) { print $i, keyring; exit }
          }' "$file" ;;
    esac
  done | head -n 1
}

# Debian packages of the machine itself, installed when missing.
host_packages() {
  local missing=() package
  for package in "$@"; do dpkg -s "$package" > /dev/null 2>&1 || missing+=("$package"); done
  [ ${#missing[@]} -eq 0 ] && return
  log "installing ${missing[*]} on the machine"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
    > /dev/null
}

# Lets the kernel run aarch64 programs through qemu-user-static.
enable_emulation() {
  host_packages qemu-user-static binfmt-support
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  fi
  [ -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ] || update-binfmts --enable qemu-aarch64
  [ -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ] ||
    { log "the binfmt_misc handler for aarch64 could not be enabled"; return 1; }
}

host_files() {  # into the root at $1
  mkdir -p "$1/etc/ssl/certs"
  cp "$ca_bundle" "$1$ca_bundle"
  cp -L /etc/resolv.conf "$1/etc/resolv.conf" 2> /dev/null || true
}

# Runs "$@" inside the root at $1 with /proc, /dev, /sys and the checkout mounted privately.
in_root() {
  local at=$1
  shift
  mkdir -p "$at$checkout"
  unshare --mount --propagation private --fork -- /bin/sh -eu -c '
    at=$1 checkout=$2 cwd=$3; shift 3
    mount -t proc proc "$at/proc"
    mount --rbind /dev "$at/dev"
    mount --rbind /sys "$at/sys"
    mount --bind "$checkout" "$at$checkout"
    exec chroot "$at" /bin/sh -c "cd \"\$0\" && exec \"\$@\"" "$cwd" "$@"
  ' in_root "$at" "$checkout" "$(pwd)" env DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

# The machine's own apt may accept a mirror whose Release is past its Valid-Until date (a dated
# snapshot of the archive); the root's apt then does the same.
install_packages() {  # into the root at $1
  local valid=true
  eval "$(apt-config shell valid Acquire::Check-Valid-Until)"
  in_root "$1" apt-get -o Acquire::Check-Valid-Until="$valid" update -qq
  in_root "$1" apt-get install -y -qq --no-install-recommends "${packages[@]}" > /dev/null
  in_root "$1" apt-get clean
}

make_root() {
  local mirror keyring partial=$roots/$name.partial start=$SECONDS
  read -r mirror keyring < <(
    if [ -n "${SWARMTUNER_DEBIAN_MIRROR:-}" ]; then echo "$SWARMTUNER_DEBIAN_MIRROR -"
    else apt_mirror; fi) || true
  [ -n "${mirror:-}" ] ||
    { log "no Debian mirror in the apt sources; set SWARMTUNER_DEBIAN_MIRROR"; return 1; }
  host_packages debootstrap
  rm -rf "$partial"
  log "making $root: Debian $suite for $arch from $mirror"
  local options=(--variant=minbase --arch="$arch")
  [ "$keyring" = - ] || options+=(--keyring="$keyring")
  debootstrap "${options[@]}" "$suite" "$partial" "$mirror" > "$roots/$name.log" 2>&1 ||
    { tail -n 20 "$roots/$name.log" >&2; log "debootstrap failed (log: $roots/$name.log)"; return 1; }
  host_files "$partial"
  install_packages "$partial"
  mv "$partial" "$root"
  printf '%s\n' "${packages[@]}" | sort -u > "$root/.ready"
  log "made $root in $((SECONDS - start)) s"
}

mkdir -p "$roots"
[ "$arch" = amd64 ] || enable_emulation
exec 9> "$roots/.$name.lock"
flock 9
if [ ! -f "$root/.ready" ]; then
  rm -rf "$root"
  make_root
elif printf '%s\n' "${packages[@]}" | grep -qvxF -f "$root/.ready"; then
  log "installing the packages $root lacks"
  host_files "$root"
  install_packages "$root"
  printf '%s\n' "${packages[@]}" | sort -u - "$root/.ready" > "$root/.ready.new"
  mv "$root/.ready.new" "$root/.ready"
fi
flock -u 9

if [ $# -eq 0 ]; then
  echo "$root"
else
  host_files "$root"
  in_root "$root" "$@"
fi
