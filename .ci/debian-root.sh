#!/usr/bin/env bash
# A Debian root (a directory holding a small Debian system) with the interpreters that the build
# machine lacks, made with debootstrap when it is missing and reused as it is otherwise:
#   .ci/debian-root.sh NAME [+PKG...]              make the root NAME if needed; print its path
#   .ci/debian-root.sh NAME [+PKG...] CMD ARG...   the same, then run CMD inside it (see below)
#
#   NAME             suite, processor        what is installed
#   unstable-amd64   unstable, x86-64        python3.14/3.15 with -dev and -venv, g++, libgmp-dev,
#                                            cmake, make, ninja-build: source builds and tests
#   unstable-arm64   unstable, aarch64       python3.13/3.14/3.15 with -venv, binutils: wheels
#   bookworm-arm64   Debian 12, aarch64      python3.11 with -venv, binutils: wheels
# +PKG adds a Debian package to those. A native root gets it installed in place by apt; an
# aarch64 root is made anew with it (see below).
#
# An aarch64 root is made without running anything under emulation: debootstrap's first stage
# (--foreign) resolves and downloads the packages, and they are unpacked here, natively, with no
# maintainer scripts and no package database. Running those scripts under qemu (debootstrap's
# second stage, then apt) took 18 to 36 minutes a root, most of it Debian byte-compiling each
# interpreter's standard library; unpacked, a root takes about a minute, and Python compiles
# what it imports on first use instead. What the scripts would have done that programs need
# (the account files, the loader's cache) is done by hand; apt does not work inside such a root.
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
    packages=(python3.13 python3.13-venv python3.14 python3.14-venv python3.15 python3.15-venv
      binutils) ;;
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

# An unpacked aarch64 root has no compiled standard library (see above): its interpreters keep
# what they compile, whatever the caller's PYTHONDONTWRITEBYTECODE says, or each start under
# emulation compiles everything it imports again.
keep_bytecode=()
[ "$arch" = amd64 ] || keep_bytecode=(-u PYTHONDONTWRITEBYTECODE)

# qemu's default processor for aarch64 has pointer authentication, which it emulates with the
# real cipher: Debian unstable's programs, built with branch protection, then run 20 to 40 times
# slower than on a Cortex-A72 (Raspberry Pi 4), an ARMv8.0 processor without it, where those
# instructions do nothing. The A72 is also the oldest processor the wheels must run on.
[ "$arch" = amd64 ] || export QEMU_CPU=${QEMU_CPU:-cortex-a72}

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
  ' in_root "$at" "$checkout" "$(pwd)" env "${keep_bytecode[@]}" DEBIAN_FRONTEND=noninteractive \
    LC_ALL=C.UTF-8 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
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

# Completes a root left by debootstrap --foreign at $1 without emulation: every package it
# downloaded is unpacked over it (merged-/usr links kept), the accounts are Debian's defaults
# (base-passwd's own files) and the loader's cache is built.
unpack_foreign() {
  local at=$1 deb
  for deb in "$at"/var/cache/apt/archives/*.deb; do
    dpkg-deb --fsys-tarfile "$deb" | tar -x --keep-directory-symlink -C "$at" ||
      { log "could not unpack $deb"; return 1; }
  done
  cp "$at/usr/share/base-passwd/passwd.master" "$at/etc/passwd"
  cp "$at/usr/share/base-passwd/group.master" "$at/etc/group"
  # The first stage leaves /proc a link to the machine's; in_root mounts one of its own there.
  if [ -L "$at/proc" ]; then rm "$at/proc" && mkdir "$at/proc"; fi
  rm -rf "$at/debootstrap" "$at"/var/cache/apt/archives/*.deb
  chroot "$at" /sbin/ldconfig
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
  if [ "$arch" != amd64 ]; then
    options+=(--foreign --include="$(IFS=,; echo "${packages[*]}")")
  fi
  debootstrap "${options[@]}" "$suite" "$partial" "$mirror" > "$roots/$name.log" 2>&1 ||
    { tail -n 20 "$roots/$name.log" >&2; log "debootstrap failed (log: $roots/$name.log)"; return 1; }
  host_files "$partial"
  if [ "$arch" = amd64 ]; then
    install_packages "$partial"
  else
    unpack_foreign "$partial"
  fi
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
  if [ "$arch" = amd64 ]; then
    log "installing the packages $root lacks"
    host_files "$root"
    install_packages "$root"
    printf '%s\n' "${packages[@]}" | sort -u - "$root/.ready" > "$root/.ready.new"
    mv "$root/.ready.new" "$root/.ready"
  else
    # No package database to install into: made anew with what it had and what it lacks.
    mapfile -t packages < <(printf '%s\n' "${packages[@]}" | sort -u - "$root/.ready")
    log "making $root anew with the packages it lacks"
    rm -rf "$root"
    make_root
  fi
fi
flock -u 9

if [ $# -eq 0 ]; then
  echo "$root"
else
  host_files "$root"
  in_root "$root" "$@"
fi
