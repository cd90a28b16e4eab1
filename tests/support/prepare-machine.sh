#!/usr/bin/env bash
# Prepares this machine for the tests: the system account vsftpd and dante log in with, and the
# German locale the locale tests compare against ("Mär", "21,5"). Idempotent, quick when done
# already, safe from parallel jobs.
set -euo pipefail
user=ftptest
password=pullwire-ftptest-1  # kSystemPassword in tests/support/test_servers.h
home=/srv/ftptest
marker=$home/.pullwire-password
german=de_DE.utf8  # as `locale -a` lists de_DE.UTF-8

ready() {
  getent passwd "$user" >/dev/null && [ "$(cat "$marker" 2>/dev/null)" = "$password" ] &&
    ! grep -qx "$user" /etc/ftpusers 2>/dev/null && locale -a 2>/dev/null | grep -qx "$german"
}
ready && exit 0
if [ "$(id -u)" -ne 0 ]; then
  if sudo -n true 2>/dev/null; then exec sudo -n "$0"; fi
  echo "prepare-machine: neither root nor sudo: the vsftpd, dante username and German-locale" \
       "tests will be skipped"
  exit 0
fi
exec 9>/run/pullwire-prepare-machine.lock
flock -w 60 9
getent passwd "$user" >/dev/null ||
  useradd --home-dir "$home" --create-home --shell /bin/bash \
          --comment "Pullwire FTP test account" "$user"
mkdir -p "$home"
chown "$user:" "$home"
chmod 755 "$home"
# vsftpd refuses the names listed in /etc/ftpusers.
[ ! -f /etc/ftpusers ] || sed -i "/^${user}\$/d" /etc/ftpusers
if [ "$(cat "$marker" 2>/dev/null)" != "$password" ]; then
  echo "$user:$password" | chpasswd
  printf "%s" "$password" >"$marker"
  chmod 644 "$marker"
fi
# From the locales package; ctest runs under C.UTF-8 and the locale tests set LC_ALL themselves.
locale -a 2>/dev/null | grep -qx "$german" || localedef -i de_DE -f UTF-8 de_DE.UTF-8
echo "prepare-machine: system user $user ready for the vsftpd and dante tests, $german installed"
