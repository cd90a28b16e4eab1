#!/usr/bin/env bash
# Prepares this machine for the tests: the system account vsftpd and dante log in with, and the
# German locale the locale tests compare against ("Mär", "21,5").
# Idempotent and quick when already done; safe to run from parallel jobs (flock).
set -euo pipefail

user=ftptest
# Must match kSystemPassword in tests/support/test_servers.h and serve.py.
password=pullwire-ftptest-1
home=/srv/ftptest
# As `locale -a` lists de_DE.UTF-8.
german=de_DE.utf8

ready() {
  getent passwd "$user" >/dev/null || return 1
  [ -d "$home" ] || return 1
  ! grep -qx "$user" /etc/ftpusers 2>/dev/null || return 1
  [ -f "$home/.pullwire-password" ] && [ "$(cat "$home/.pullwire-password" 2>/dev/null)" = "$password" ]
}

german_ready() { locale -a 2>/dev/null | grep -qx "$german"; }

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    sudo=(sudo -n)
  else
    ready || echo "prepare-machine: neither root nor sudo: the vsftpd and dante username tests will be skipped"
    german_ready || echo "prepare-machine: neither root nor sudo: the German-locale tests will be skipped"
    exit 0
  fi
fi
ready && german_ready && exit 0

"${sudo[@]}" env user="$user" password="$password" home="$home" german="$german" bash -euo pipefail -c '
  exec 9>/run/pullwire-prepare-machine.lock
  flock -w 60 9
  if ! getent passwd "$user" >/dev/null; then
    useradd --home-dir "$home" --create-home --shell /bin/bash \
            --comment "Pullwire FTP test account" "$user"
  fi
  mkdir -p "$home"
  chown "$user:" "$home"
  chmod 755 "$home"
  # vsftpd refuses the names listed in /etc/ftpusers.
  if [ -f /etc/ftpusers ] && grep -qx "$user" /etc/ftpusers; then
    sed -i "/^${user}\$/d" /etc/ftpusers
  fi
  marker="$home/.pullwire-password"
  if [ "$(cat "$marker" 2>/dev/null)" != "$password" ]; then
    echo "$user:$password" | chpasswd
    printf "%s" "$password" > "$marker"
    chmod 644 "$marker"
  fi
  # From the locales package; ctest runs under C.UTF-8 and the locale tests set LC_ALL themselves.
  if ! locale -a 2>/dev/null | grep -qx "$german"; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8
  fi
'
echo "prepare-machine: system user $user ready for the vsftpd and dante tests, $german installed"
