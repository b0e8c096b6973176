#!/bin/sh
# Installs the frame player on this board from the folder this script is
# in (a board tarball unpacked anywhere, the USB disk included), starts it
# and checks the board; tools/install-board runs the same script over SSH:
#   sh install.sh              install, or bring an older install up to date
#   sh install.sh FILE.deb     the same from the release's package, which is
#                              what a board with dpkg and systemd takes (a
#                              package beside this folder is found alone)
#   sh install.sh --uninstall  stop the player and remove what was installed
#   sh install.sh --check      wait for the player to start and check the board
#   sh install.sh --root DIR   install into the root file system of a BusyBox
#                              board at DIR (an SD card on a PC, an image
#                              being built): it starts at the board's next
#                              boot; the programs must suit its processor
#   sh install.sh --can-run ARCH  whether this board runs the ARCH programs
#                              (armhf, arm64, amd64): silent, or its one line
#   sh install.sh --probe      what this board is, as key=value lines: machine,
#                              arch (the build it takes), refusal (why it can
#                              run none, or empty), init (systemd, rcS,
#                              unknown), dpkg, disks (who mounts USB disks),
#                              user (root, sudo, sudo-password, sudo-denied,
#                              no-sudo), installed (package, other, none),
#                              running (yes, no); it needs no root
# As root, on a board started by BusyBox rcS (/etc/init.d/S??*) or by
# systemd. Every file is written beside its place first and moved there
# only once all of them are whole, so a disk pulled out half way, a full
# disk or a read-only root leave the board as it was (one line, status 1);
# what it wrote is on the disk before it says so.
# A second run changes nothing. Before the board check's lines it says
# "install.sh: changed" when it changed the board; the exit status is then
# the board check's.
set -u
PATH=$PATH:/usr/sbin:/sbin:/usr/bin:/bin
umask 022
me=install.sh
here=$(cd "$(dirname "$0")" && pwd)
# What each kind of board gets is what `cmake --install` staged in files/
# for the components of its init system (packaging/board/make-bundle).
# The disk helper goes only where nothing else mounts USB disks; on
# systemd it comes with the udev rule that runs it. Files in /etc/default
# are the owner's settings, put there only when there are none.
disk_helper_path=/usr/sbin/frame-player-udisk
# The line that makes BusyBox mdev mount USB disks with the disk helper.
udisk_rule="-sd[a-z][0-9]* 0:0 660 *$disk_helper_path"
# The paths the install put on the board, for --uninstall: its files, and
# the folders it made (ending in /).
installed_list=/var/lib/frame-player/installed
# The player's own user on a BusyBox board (systemd makes one for the unit).
# Its comment field says that the install made it, so that --uninstall
# takes away only a user the board did not have.
player_user=frame-player
made_user_comment='frame player (install.sh)'
# What --uninstall also removes: the script renamed to keep it from
# starting at boot, and the player's log.
rcS_leftovers='/etc/init.d/off.S99frame-player
/var/log/frame-player.log
/var/log/frame-player.log.1'

work=
news=
root= # --root: the board's root file system, seen from here
disk_helper=
say() { echo "$me: $*"; }

# Nothing written so far stays: the new files beside their places go.
fail() {
  say "$*"
  for new in $news; do rm -f "$new"; done
  exit 1
}

cleanup() { [ -z "$work" ] || rm -rf "$work"; }
trap cleanup EXIT

# ---- what this board is

check_root() {
  [ "$(id -u)" = 0 ] || fail "run it as root (su -c 'sh $0', or sudo sh $0)"
}

# Why this board cannot run the ARCH programs, or nothing when it can.
# Debian's armhf is ARMv7 with hard float; an arm64 kernel runs the arm64
# programs whatever its user space is.
machine_refusal() { # ARCH
  machine=$(uname -m)
  case $1:$machine in
  armhf:armv7* | armhf:armv8l | arm64:aarch64 | arm64:arm64 | amd64:x86_64) ;;
  armhf:aarch64 | armhf:arm64)
    echo "this board is $machine: use the arm64 tarball, which runs on any 64-bit ARM kernel" ;;
  *:armv[3-6]*)
    echo "this board is $machine: the armhf build needs ARMv7 (Debian's armhf is ARMv7 with VFPv3-D16), so no build here runs on it" ;;
  *)
    echo "this board is $machine (uname -m) and these programs are for $1: use the tarball for armv7l (armhf) or aarch64 (arm64) boards" ;;
  esac
}

check_machine() { # [ARCH]
  arch=${1:-$(cat "$here/ARCH" 2>/dev/null)} || fail "no file ARCH beside $me: unpack the whole board tarball"
  refusal=$(machine_refusal "$arch")
  [ -z "$refusal" ] || fail "$refusal"
}

# dpkg takes its own architecture's package, which runs wherever dpkg
# does, but for Debian's armhf on an ARMv6 processor.
package_refusal() {
  case $(uname -m) in armv[3-6]*) machine_refusal armhf ;; esac
}

# The build for this board's processor.
board_build() {
  case $(uname -m) in
  armv7* | armv8l) echo armhf ;;
  aarch64 | arm64) echo arm64 ;;
  x86_64) echo amd64 ;;
  *) echo armhf ;; # refused, with the reason
  esac
}

init_system() {
  if [ -z "$root" ] && [ -d /run/systemd/system ]; then
    echo systemd
  elif grep -qs 'init\.d/S??\*' "$root/etc/init.d/rcS"; then
    echo rcS
  else
    echo unknown
  fi
}

board_kind() {
  kind=$(init_system)
  [ "$kind" != unknown ] || [ -z "$root" ] ||
    fail "$root has no BusyBox rcS that runs /etc/init.d/S??*, which --root needs; nothing was changed"
  [ "$kind" != unknown ] ||
    fail "this board starts neither systemd nor the /etc/init.d/S??* scripts of a BusyBox rcS: install by hand (docs/board.md)"
}

# Who mounts USB disks here: udev, mdev (following hotplug or not), none.
disk_manager() {
  if [ -n "$root" ]; then
    if [ -e "$root/sbin/udevd" ]; then echo udev
    elif [ -e "$root/etc/mdev.conf" ] || [ -e "$root/bin/busybox" ]; then echo mdev
    else echo none; fi
  elif [ -d /run/udev ] || pidof udevd systemd-udevd >/dev/null 2>&1; then
    echo udev
  elif [ -e /etc/mdev.conf ] || command -v mdev >/dev/null 2>&1; then
    if pidof mdev >/dev/null 2>&1 || grep -qs mdev /proc/sys/kernel/hotplug; then
      echo mdev
    else
      echo mdev-without-hotplug
    fi
  else
    echo none
  fi
}

components() {
  case $kind in
  rcS) echo frame-player busybox-init ;;
  systemd) echo frame-player systemd ;;
  esac
}

check_bundle() {
  for component in $(components); do
    [ -d "$here/files/$component" ] ||
      fail "no files/$component beside $me: unpack the whole board tarball"
  done
}

# SOURCE (in this folder) DEST lines, one for each file this board gets.
kind_files() {
  for component in $(components); do
    (cd "$here/files/$component" && find . -type f) | sort | while read -r path; do
      echo "files/$component/${path#./} ${path#.}"
    done
  done
}

# ---- mdev.conf

# The rules of standard input that apply to a USB disk (sda, sda1), in
# order, up to the first that ends the search: mdev takes the first rule
# whose name pattern (an extended regex of the whole name) matches and has
# no leading "-".
disk_rules() {
  while IFS= read -r line || [ -n "$line" ]; do
    set -f
    # shellcheck disable=SC2086 # split into the rule's fields
    set -- $line
    set +f
    name=${1:-}
    case $name in '' | '#'* | '-$'* | '$'* | '-@'* | '@'*) continue ;; esac
    printf '%s\n' sda sda1 | grep -Eqx -e "${name#-}" 2>/dev/null || continue
    printf '%s\n' "$line"
    case $name in -*) ;; *) return 0 ;; esac
  done
}

# The command of a rule that runs one for USB disks other than ours.
other_disk_command() { # MDEV_CONF
  disk_rules <"$1" | while IFS= read -r line; do
    [ "$line" != "$udisk_rule" ] || continue
    set -f
    # shellcheck disable=SC2086
    set -- $line
    set +f
    shift 3 2>/dev/null || continue
    for field; do
      case $field in [@\$*]*)
        echo "$field"
        exit 0
        ;;
      esac
    done
  done
}

# mdev.conf without our rule, then with it once, above every other rule
# for USB disks.
mdev_conf() { # IN OUT with|without
  placed=
  [ "$3" = with ] || placed=yes
  : >"$2"
  while IFS= read -r line || [ -n "$line" ]; do
    [ "$line" != "$udisk_rule" ] || continue
    if [ -z "$placed" ] && [ -n "$(printf '%s\n' "$line" | disk_rules)" ]; then
      echo "$udisk_rule" >>"$2"
      placed=yes
    fi
    printf '%s\n' "$line" >>"$2"
  done <"$1"
  [ -n "$placed" ] || echo "$udisk_rule" >>"$2"
}

current_mdev_conf() { # OUT
  if [ -e "$root/etc/mdev.conf" ]; then cp "$root/etc/mdev.conf" "$1"; else : >"$1"; fi
}

# ---- the plan: SOURCE DEST MODE lines in $work/plan (MODE keep: the
# board file's own, 644 for a new one)

plan_file() { echo "$1 $2 $3" >>"$work/plan"; }

# Where nothing else mounts USB disks, the disk helper and its mdev rule.
plan_disk_helper() {
  disk_helper=
  case $(disk_manager) in
  udev)
    say "udev runs here: it must mount the USB disk at /mnt/udisk"
    return ;;
  none)
    say "nothing here mounts USB disks (no mdev, no udev): mount the disk at /mnt/udisk"
    return ;;
  mdev-without-hotplug)
    say "mdev does not follow hotplug events here (mdev -d, or /proc/sys/kernel/hotplug): see docs/board.md" ;;
  esac
  current_mdev_conf "$work/mdev.conf"
  command=$(other_disk_command "$work/mdev.conf")
  if [ -n "$command" ]; then
    say "mdev already runs ${command#?} for USB disks: it must mount them at /mnt/udisk"
    return
  fi
  disk_helper=yes
  mdev_conf "$work/mdev.conf" "$work/mdev.conf.new" with
  plan_file "$work/mdev.conf.new" "$root/etc/mdev.conf" keep
}

# ---- the player's user, written into the account files themselves, as
# boards may lack adduser

account_files='/etc/passwd /etc/group /etc/shadow'

# The first id from 100 up that neither users nor groups have.
free_id() {
  id=100
  while cut -d: -f3 "$root/etc/passwd" "$root/etc/group" 2>/dev/null | grep -qx "$id"; do
    id=$((id + 1))
  done
  echo "$id"
}

plan_user() {
  grep -q "^$player_user:" "$root/etc/passwd" 2>/dev/null && return
  id=$(free_id)
  for file in $account_files; do
    [ -e "$root$file" ] || [ "$file" != /etc/shadow ] || continue
    cp "$root$file" "$work/${file##*/}" 2>/dev/null || : >"$work/${file##*/}"
    case $file in
    /etc/passwd) echo "$player_user:x:$id:$id:$made_user_comment:/nonexistent:/bin/false" ;;
    /etc/group) echo "$player_user:x:$id:" ;;
    /etc/shadow) echo "$player_user:!:1::::::" ;;
    esac >>"$work/${file##*/}"
    plan_file "$work/${file##*/}" "$root$file" keep
  done
}

# The account files without the user the install made.
plan_user_removal() {
  grep -q "^$player_user:[^:]*:[^:]*:[^:]*:$made_user_comment:" /etc/passwd ||
    return 0
  for file in $account_files; do
    grep -q "^$player_user:" "$file" 2>/dev/null || continue
    grep -v "^$player_user:" "$file" >"$work/${file##*/}"
    plan_file "$work/${file##*/}" "$file" keep
  done
}

# The folders above PATH that are not there yet.
new_folders() { # PATH
  folder=${1%/*}
  while [ -n "$folder" ] && [ ! -d "$root$folder" ]; do
    echo "$folder/"
    folder=${folder%/*}
  done
}

plan_install() {
  check_bundle
  [ "$kind" != rcS ] || plan_disk_helper
  [ "$kind" != rcS ] || plan_user
  grep -s '/$' "$root$installed_list" >"$work/installed"
  new_folders "$installed_list" >>"$work/installed"
  kind_files | while read -r source dest; do
    [ "$kind:$dest:$disk_helper" != "rcS:$disk_helper_path:" ] || continue
    echo "$dest" >>"$work/installed"
    new_folders "$dest" >>"$work/installed"
    case $dest in /etc/default/*) [ ! -e "$root$dest" ] || continue ;; esac
    mode=644
    [ ! -x "$here/$source" ] || mode=755
    plan_file "$here/$source" "$root$dest" "$mode"
  done
  sort -u -o "$work/installed" "$work/installed"
  plan_file "$work/installed" "$root$installed_list" 644
}

# ---- what differs

# Whether DEST already is SOURCE, with MODE and owned by root.
same() { # SOURCE DEST MODE
  [ -f "$2" ] && cmp -s "$1" "$2" || return 1
  [ "$3" = keep ] && return 0
  case $3 in
  755) want="-rwxr-xr-x 0 0" ;;
  644) want="-rw-r--r-- 0 0" ;;
  esac
  # shellcheck disable=SC2012 # the mode and owners, not names
  [ "$(ls -ln "$2" | awk '{print $1, $3, $4}')" = "$want" ]
}

changed_files() {
  while read -r source dest mode; do
    same "$source" "$dest" "$mode" || echo "$source $dest $mode"
  done <"$work/plan"
}

# ---- writing

# A hidden name beside its place: rcS runs every /etc/init.d/S??* file.
new_name() { echo "${1%/*}/.${1##*/}.new"; }

why() { # ERROR_FILE DEST
  case $(cat "$1") in
  *"Read-only"*) echo "the file system of ${2%/*} is read-only (mount -o remount,rw /, then run again)" ;;
  *"No space"*) echo "no space left on the board for $2" ;;
  *) echo "cannot write $2: $(tail -n 1 "$1")" ;;
  esac
}

put() { # SOURCE DEST MODE
  new=$(new_name "$2")
  news="$news $new"
  mkdir -p "${2%/*}" 2>"$work/err" || fail "$(why "$work/err" "$2"); nothing was changed"
  if [ "$3" = keep ] && [ -e "$2" ]; then
    cp -p "$2" "$new" 2>"$work/err" && cat "$1" 2>"$work/err" >"$new"
  else
    mode=$3
    [ "$mode" != keep ] || mode=644
    cp "$1" "$new" 2>"$work/err" && chmod "$mode" "$new" 2>"$work/err"
  fi || fail "$(why "$work/err" "$2"); nothing was changed"
  # A disk pulled out or a full disk leaves a short copy.
  cmp -s "$1" "$new" || fail "the copy of $2 is not whole (was the disk pulled out?); nothing was changed"
}

# The power is often pulled right after an install: the new files reach
# the disk before they take their names, and the names before the install
# says it is done.
into_place() {
  trap '' HUP INT TERM PIPE # a lost connection must not stop this half way
  sync
  for new in $news; do
    name=${new##*/.}
    mv -f "$new" "${new%/*}/${name%.new}" || fail "cannot move $new into place"
  done
  news=
  sync
}

# ---- starting and checking

player_running() { pidof frame-player >/dev/null 2>&1; }

wait_for_player() {
  tries=40
  while [ $tries -gt 0 ]; do
    if pid=$(pidof frame-player); then
      for fd in "/proc/${pid%% *}/fd"/*; do
        [ "$(readlink "$fd" 2>/dev/null)" != /dev/fb0 ] || return 0
      done
    fi
    sleep 1
    tries=$((tries - 1))
  done
}

# The mount units that udev started for a disk that is in run on their
# own: the check must see the disk they mount.
wait_for_disk_units() {
  udevadm settle 2>/dev/null
  tries=100
  while [ $tries -gt 0 ] && systemctl list-jobs --no-legend 2>/dev/null | grep -q frame-player-udisk@; do
    sleep 0.2
    tries=$((tries - 1))
  done
}

start() { # CHANGED_FILES
  restart=
  [ -z "$1" ] && player_running || restart=yes
  case $kind in
  rcS)
    # A disk that is in already is mounted now, not at the next plug.
    case $1 in *" /etc/mdev.conf "*) mdev -s ;; esac
    [ -z "$restart" ] || /etc/init.d/S99frame-player restart
    ;;
  systemd)
    if [ -n "$1" ]; then
      systemctl daemon-reload
      udevadm control --reload 2>/dev/null
      udevadm trigger --action=add --subsystem-match=block --property-match=ID_BUS=usb 2>/dev/null
    fi
    systemctl enable --quiet frame-player.service
    [ -z "$restart" ] || systemctl restart frame-player.service
    ;;
  esac
}

# ---- the package, on boards with dpkg and systemd, where the tarball's
# units in /etc would shadow those of a package installed later

uses_packages() { [ "$kind" = systemd ] && command -v dpkg >/dev/null 2>&1; }

package_installed() {
  [ "$(dpkg-query -W -f='${Status}' frame-player 2>/dev/null)" = "install ok installed" ]
}

# The release's package for this board: named, or beside this folder (a
# release folder holds it beside the unpacked board tarball).
find_package() { # [FILE]
  arch=$(dpkg --print-architecture)
  refusal=$(package_refusal)
  [ -z "$refusal" ] || fail "$refusal"
  if [ -n "$1" ]; then
    [ -f "$1" ] || fail "no package $1"
    deb=$1
    return
  fi
  for deb in "$here"/frame-player_*_"$arch".deb "$here"/../frame-player_*_"$arch".deb; do
    [ ! -f "$deb" ] || return 0
  done
  fail "this board has dpkg and systemd, so it takes the release's frame-player_VERSION_$arch.deb: put it beside $me or name it (sh $me FILE.deb); nothing was changed"
}

# The units and udev rules in /etc that shadow the package's own: an
# earlier tarball install's, or the owner's copies.
tarball_shadows() {
  dpkg-deb -c "$deb" | sed -n \
    -e 's|.* \./\(usr/\)\{0,1\}lib/systemd/system/\([^/][^/]*\)$|/etc/systemd/system/\2|p' \
    -e 's|.* \./\(usr/\)\{0,1\}lib/udev/rules\.d/\([^/][^/]*\)$|/etc/udev/rules.d/\2|p' |
    while read -r path; do [ ! -e "$path" ] || echo "$path"; done
}

install_package() { # [FILE]
  find_package "$1"
  if package_installed && [ "$(dpkg-deb -I "$deb" md5sums | md5sum)" = \
    "$(md5sum </var/lib/dpkg/info/frame-player.md5sums)" ]; then
    say "nothing to change: this package is installed already"
  else
    shadows=$(tarball_shadows)
    if [ -n "$shadows" ]; then
      systemctl disable --quiet --now frame-player.service 2>/dev/null
      for path in $shadows; do
        say "removing $path: the package brings its own"
        rm -f "$path"
      done
      # The package owns the rest from now on.
      rm -f "$installed_list"
      systemctl daemon-reload
    fi
    dpkg -i "$deb" >"$work/dpkg" 2>&1 || fail "dpkg -i failed: $(tail -n 1 "$work/dpkg")"
    sync
    say "installed ${deb##*/}"
    say changed
  fi
  systemctl is-active --quiet frame-player || systemctl restart frame-player
  check
}

check() {
  wait_for_player
  [ "$kind" = rcS ] || wait_for_disk_units
  frame-player-check
}

install() { # [FILE.deb]
  board_kind
  if uses_packages; then
    install_package "$1"
    return
  fi
  [ -n "$root" ] || check_machine
  plan_install
  changed=$(changed_files)
  if [ -z "$changed" ]; then
    say "nothing to change: this player is installed already"
  else
    while read -r source dest mode; do put "$source" "$dest" "$mode"; done <<EOF
$changed
EOF
    # The running player stops as the init script that started it says.
    case $root:$kind:$changed in :*"/etc/init.d/S99frame-player "*)
      [ ! -x /etc/init.d/S99frame-player ] || /etc/init.d/S99frame-player stop >/dev/null ;;
    esac
    into_place
    echo "$changed" | while read -r source dest mode; do say "installed $dest"; done
    say changed
  fi
  if [ -n "$root" ]; then
    say "it starts at the board's next boot"
    return 0
  fi
  start "$(echo "$changed" | sed 's/.*/ & /')"
  check
}

# ---- what this board is, for the installers on a PC: key=value lines,
# asked without root

# Root, sudo without questions, sudo that asks, sudo refused, or none.
privilege() {
  if [ "$(id -u)" = 0 ]; then echo root
  elif ! command -v sudo >/dev/null 2>&1; then echo no-sudo
  elif sudo -n true 2>/dev/null; then echo sudo
  elif sudo -n -l 2>&1 | grep -q 'may not run sudo' ||
    ! id -nG | grep -qwE 'sudo|wheel|admin'; then echo sudo-denied
  else echo sudo-password; fi
}

probe() {
  kind=$(init_system)
  dpkg=$(dpkg --print-architecture 2>/dev/null)
  build=$(board_build)
  refusal=$(machine_refusal "$build")
  if uses_packages; then
    build=$dpkg
    refusal=$(package_refusal)
  fi
  installed=none
  if [ -n "$dpkg" ] && package_installed; then installed=package
  elif [ -e /usr/bin/frame-player ]; then installed=other; fi
  running=no
  ! pidof frame-player >/dev/null 2>&1 || running=yes
  echo "machine=$(uname -m)"
  echo "arch=$build"
  echo "refusal=$refusal"
  echo "init=$kind"
  echo "dpkg=$dpkg"
  echo "disks=$(disk_manager)"
  echo "user=$(privilege)"
  echo "installed=$installed"
  echo "running=$running"
}

# ---- removing

stop_player() {
  case $kind in
  systemd)
    systemctl disable --quiet --now frame-player.service 2>/dev/null
    # Each disk's mount unit lets go of its disk.
    systemctl stop 'frame-player-udisk@*.service' 2>/dev/null
    ;;
  rcS) [ ! -x /etc/init.d/S99frame-player ] || /etc/init.d/S99frame-player stop ;;
  esac
}

# The paths an install put here that are here now: those it listed, and
# this folder's, for an install that kept no list.
present_files() {
  {
    grep -sv '/$' "$installed_list"
    [ ! -d "$here/files" ] || kind_files | cut -d ' ' -f 2
    echo "$installed_list"
    [ "$kind" != rcS ] || echo "$rcS_leftovers"
  } | sort -u | while read -r path; do
    [ -z "$path" ] || [ ! -e "$path" ] || echo "$path"
  done
}

# mdev.conf loses our rule; when it held only that, the install made it.
plan_mdev_removal() {
  [ "$kind" = rcS ] && [ -e /etc/mdev.conf ] || return 0
  current_mdev_conf "$work/mdev.conf"
  mdev_conf "$work/mdev.conf" "$work/mdev.conf.new" without
  if [ -s "$work/mdev.conf" ] && [ ! -s "$work/mdev.conf.new" ]; then
    echo /etc/mdev.conf
  elif ! cmp -s "$work/mdev.conf" "$work/mdev.conf.new"; then
    plan_file "$work/mdev.conf.new" /etc/mdev.conf keep
  fi
}

uninstall() {
  board_kind
  if uses_packages && package_installed; then
    stop_player
    dpkg --purge frame-player >"$work/dpkg" 2>&1 ||
      fail "dpkg --purge failed: $(tail -n 1 "$work/dpkg")"
    sync
    say "removed the package frame-player"
    say changed
    return 0
  fi
  present=$(present_files)
  present="$present $(plan_mdev_removal)"
  # Deepest first.
  folders=$(grep -s '/$' "$installed_list" | sort -r)
  [ "$kind" != rcS ] || plan_user_removal
  if [ -z "$(echo "$present" | tr -d ' \n')" ] && [ ! -s "$work/plan" ]; then
    say "nothing of the player is here"
    return 0
  fi
  stop_player
  if [ -s "$work/plan" ]; then
    while read -r source dest mode; do put "$source" "$dest" "$mode"; done <"$work/plan"
    into_place
    while read -r source dest mode; do say "took the player's part out of $dest"; done <"$work/plan"
  fi
  for path in $present; do
    say "removing $path"
    # The disk that the helper mounted is let go with it.
    if [ "$path" = "$disk_helper_path" ] && grep -qs " /mnt/udisk " /proc/mounts; then
      umount -l /mnt/udisk
    fi
    rm -f "$path"
  done
  if [ "$kind" = systemd ]; then
    systemctl daemon-reload
    udevadm control --reload 2>/dev/null
  fi
  # The disk helper's state, and the mount point if the helper made it.
  made=/var/lib/frame-player/made-mount-point
  [ ! -f "$made" ] || rmdir "$(cat "$made")" 2>/dev/null
  rm -rf /var/lib/frame-player
  # The folders the install made, once empty.
  for folder in $folders; do rmdir "$folder" 2>/dev/null; done
  sync
  say changed
  return 0
}

if [ "${1:-}" = --can-run ] && [ $# = 2 ]; then
  check_machine "$2"
  exit 0
fi
if [ "${1:-}" = --probe ]; then
  probe
  exit 0
fi
if [ "${1:-}" = --root ] && [ $# = 2 ]; then
  root=$(cd "$2" 2>/dev/null && pwd) || fail "no folder $2"
  root=${root%/}
  shift 2
fi
check_root
work=$(mktemp -d /tmp/frame-player-install.XXXXXX) || fail "cannot make a folder in /tmp"
: >"$work/plan"
case ${1:-} in
'') install '' ;;
*.deb) install "$1" ;;
--uninstall) uninstall ;;
--check)
  board_kind
  check
  ;;
*)
  echo "usage: sh $0 [FILE.deb|--uninstall|--check|--root DIR|--can-run ARCH|--probe]" >&2
  exit 2
  ;;
esac
