#!/usr/bin/env bash
# Prepares this machine for the tests: the system account vsftpd and dante log in with, and the
# German locale the locale tests compare against ("Mär", "21,5"). Idempotent, safe in parallel.
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
  echo "prepare-machine: not root, no sudo: the vsftpd, dante and German-locale tests will skip"
  exit 0
fi
exec 9>/run/pullwire-prepare-machine.lock
flock -w 60 9
getent passwd "$user" >/dev/null ||
  useradd --home-dir "$home" --shell /bin/bash --comment "Pullwire FTP test account" "$user"
install -d -m 755 "$home"
chown "$user:" "$home"
[ ! -f /etc/ftpusers ] || sed -i "/^${user}\$/d" /etc/ftpusers  # vsftpd refuses those listed
echo "$user:$password" | chpasswd
install -m 644 /dev/stdin "$marker" <<<"$password"
locale -a 2>/dev/null | grep -qx "$german" || localedef -i de_DE -f UTF-8 de_DE.UTF-8
echo "prepare-machine: system user $user ready for the vsftpd and dante tests, $german installed"
