#!/usr/bin/python3
"""Boots a QEMU guest the way a board boots (BusyBox init or systemd, the
player installed as the board guide says, the frames on a USB disk) and
runs a boot scenario on it; tests/vm/README.md describes the boards.

usage: boot-test.py ARCH SCENARIO[+SCENARIO...] --frame-gen PATH
  ARCH      armhf or x86_64
  SCENARIO  a file tests/vm/board/scenarios/SCENARIO.boot; several run
            in turn, each later one on the board the last left where its
            boot step names the same board (its disk is swapped if need be)
Exits 0 when every step holds, 1 on a failed step, 77 when QEMU is missing.

A scenario is a touch script (tests/README.md, "Touch scripts"), run by
the step interpreter (tests/steps) with this board as its backend; every
scenario is read before anything boots.
"""

import difflib
import os
import re
import shlex
import shutil
import struct
import socket
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.realpath(__file__))
sys.dont_write_bytecode = True  # no bytecode cache in the source tree
sys.path.insert(0, os.path.join(HERE, ".."))
import guest as vm  # noqa: E402
from guest import check, CheckFailed  # noqa: E402
import steps  # noqa: E402  (guest.py put it on the path)

REPO = vm.REPO
TIMEOUT = 60
KERNEL_LINE = re.compile(r"^\[ *\d+\.\d+\] ")

# The USB disks a board may boot with: the frames; the frames in another
# folder; the frames and the unpacked armhf board tarball (disk boards).
DISKS = {"frames": "udisk.img", "no-folder": "udisk-no-folder.img",
         "install": "udisk-install.img"}

# The boards (guest.py's machines); armhf on the low memory map, where the
# 32-bit kernel can claim the PCI host and so has USB.
BOARDS = ("armhf", "x86_64")
HIGHMEM_OFF = {"armhf": ["-M", "virt,highmem=off"], "x86_64": []}

# A board's command line: the serial console, the kernel console on the
# LCD (the last console named is /dev/console, as on boards whose init
# talks on the screen), the usual log level, reboot on a panic.
BOARD_APPEND = "console={serial},115200 console=tty1 loglevel=7 panic=-1"

# What differs between the two kinds of board init: where the images are,
# how the serial shell shows that it is ready, and how a shell command
# finds the player and asks whether it runs, and the log line of each start.
INITS = {
    "busybox": {
        "images": "board-{arch}",
        "memory": "512",
        "shell_ready": "built-in shell",
        "started": "frame-player-run: player started (pid ",
        "pid": "$(pidof frame-player)",
        "running": "pidof frame-player >/dev/null && "
                   "/etc/init.d/S99frame-player status",
        "reboot": "reboot",
    },
    "systemd": {
        "images": "board-systemd-{arch}",
        "memory": "1024",  # the Debian root unpacks into RAM
        "shell_ready": "board-test: serial shell ready",
        "started": "Started frame-player.service",
        "pid": "$(systemctl show --property=MainPID --value frame-player)",
        "running": "systemctl is-active frame-player",
        # "reboot" asks logind over D-Bus first, which a minimal root lacks.
        "reboot": "systemctl start --job-mode=replace-irreversibly "
                  "reboot.target",
        # The getty on tty1 resets its terminal to text mode once boot's
        # jobs are done (Type=idle), up to seconds after the player starts:
        # that draws the console's text over a frame shown then. Waited
        # for, so that a scenario's frames come after the board's start.
        "settled": "for i in $(seq 100); do grep -qx agetty /proc/$("
                   "systemctl show --property=MainPID --value getty@tty1"
                   ")/comm 2>/dev/null && break; sleep 0.2; done",
    },
}
# The boards that keep their root on a disk: who logs in over SSH, how
# that user runs a command as root, and what the root snapshots leave out:
# folders that the board itself keeps changing (Debian's daily timers
# back the package database up into /var/backups at midnight and may
# refresh apt's state at any hour), and files it keeps writing, which are
# listed without their contents.
INITS["busybox-disk"] = dict(
    INITS["busybox"], images="board-disk-{arch}", user="root", as_root="",
    changing=[], growing=["./var/log/*", "./root/.ash_history"])
INITS["systemd-disk"] = dict(
    INITS["systemd"], images="board-systemd-disk-{arch}", user="board",
    as_root="sudo -n ", growing=["./var/lib/dpkg/status-old"],
    changing=["./tmp", "./var/tmp", "./var/log", "./var/cache",
              "./var/backups", "./var/lib/apt", "./var/lib/systemd"])

# The board of each architecture that keeps its root ("boot disk-board").
DISK_BOARDS = {"armhf": "busybox-disk", "x86_64": "systemd-disk"}


class Guest(vm.Guest):
    """One boot: QEMU, its serial shell, touch channel, log copy and QMP."""

    def __init__(self, arch, init, workdir, frame_gen, disk, append, boot=1):
        machine = vm.MACHINES[arch]
        # The x86-64 board with a Cirrus display, whose DRM driver gives a
        # 16-bit framebuffer unless the kernel command line says otherwise.
        if "vm_screens=cirrus" in append:
            machine = dict(machine, args=["-device", "cirrus-vga"])
        self.init = INITS[init]
        # A reboot's files are its own: "console-2.log", ...
        name = (lambda base: base) if boot == 1 else (
            lambda base: "%s-%d" % (base, boot))
        self.log = os.path.join(workdir, name("player") + ".log")
        super().__init__(workdir, frame_gen, TIMEOUT, os.path.join(
            REPO, "build", "vm", "images", self.init["images"].format(arch=arch)),
            os.path.join(workdir, name("console") + ".log"), self.log)
        sockets = {name: self.socket(name) for name in ("serial", "touch")}
        args = HIGHMEM_OFF[arch] + [
            "-device", "virtio-serial-" + machine["virtio"],
            "-chardev", "socket,id=serial,path=%s,server=on,wait=off"
            % sockets["serial"],
            "-serial", "chardev:serial",
            "-chardev", "socket,id=touch,path=%s,server=on,wait=off"
            % sockets["touch"],
            "-device", "virtconsole,chardev=touch",
            "-chardev", "file,id=log,path=" + self.log,
            "-device", "virtconsole,chardev=log",
            "-device", "qemu-xhci,id=usb"]
        for image in DISKS:
            if os.path.exists(self.disk_image(image)[1]):
                args += self.disk_args(image)
        if disk != "none":
            args += ["-device", "usb-storage,drive=%s,id=udisk" % disk]
        self.ssh_port = None
        if "user" in self.init:
            args += self.root_disk_args(machine["virtio"])
        self.launch(machine, self.init["memory"], "initrd", " ".join(
            [BOARD_APPEND.format(**machine), machine["append"]] + append), args)
        deadline = self.started + 10
        self.serial = vm.connect(sockets["serial"], deadline)
        # The serial port waits for its reader: copy it out as it comes.
        threading.Thread(target=self.copy_console, daemon=True).start()
        self.touch_channel = vm.connect(sockets["touch"], deadline)
        self.commands = 0
        self.killed_at = None

    def copy_console(self):
        with open(self.console, "ab", buffering=0) as out:
            while True:
                try:
                    data = self.serial.recv(65536)
                except OSError:
                    return
                if not data:
                    return
                out.write(data)

    def disk_image(self, kind):
        """The run's copy of a disk image and the original."""
        image = DISKS[kind]
        return (os.path.join(self.workdir, image),
                os.path.join(self.images, image))

    def disk_args(self, kind):
        """A copy of the disk image per run, should the guest write to it."""
        copy, original = self.disk_image(kind)
        shutil.copyfile(original, copy)
        return ["-blockdev", "driver=file,filename=%s,node-name=%s-file"
                % (copy, kind),
                "-blockdev", "driver=raw,file=%s-file,node-name=%s"
                % (kind, kind)]

    def root_disk_args(self, virtio):
        """The run's own copy of the root disk, kept across reboots, and
        the network, with the board's SSH port on a port of the host's
        loopback."""
        root = os.path.join(self.workdir, "root.img")
        if not os.path.exists(root):
            subprocess.run(["cp", "--sparse=always",
                            os.path.join(self.images, "root.img"), root],
                           check=True)
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            self.ssh_port = probe.getsockname()[1]
        return ["-blockdev", "driver=file,filename=%s,node-name=root-file"
                % root,
                "-blockdev", "driver=raw,file=root-file,node-name=root",
                "-device", "virtio-blk-%s,drive=root" % virtio,
                "-netdev", "user,id=net,hostfwd=tcp:127.0.0.1:%d-:22"
                % self.ssh_port,
                "-device", "virtio-net-%s,netdev=net" % virtio]

    def ssh_options(self):
        """What tools/install-board and the snapshots log in with: the
        tests' key, no questions; each run's board has a host key of its
        own."""
        return ["-i", os.path.join(self.images, "ssh-key"),
                "-o", "BatchMode=yes", "-o", "StrictHostKeyChecking=accept-new",
                "-o", "UserKnownHostsFile="
                + os.path.join(self.workdir, "known_hosts")]

    def login(self):
        return "%s@127.0.0.1" % self.init["user"]

    def ssh(self, *words):
        return (["ssh"] + self.ssh_options() + list(words[:-1])
                + ["-p", str(self.ssh_port), self.login(), words[-1]])

    def over_ssh(self, command):
        """Runs `command` on the board as root over SSH: its output."""
        done = subprocess.run(
            self.ssh(self.init["as_root"] + command), stdin=subprocess.DEVNULL,
            capture_output=True, text=True, timeout=TIMEOUT * 3)
        check(done.returncode == 0, "ssh %s: status %d: %s"
              % (command[:40], done.returncode, done.stderr.strip()))
        return done.stdout

    def device_gone(self, device_id):
        """Waits until QEMU has let go of a device that was unplugged."""
        def gone():
            children = self.qmp_call("qom-list", path="/machine/peripheral")
            return None if any(c["name"] == device_id for c in children) else True
        self.wait_for(gone, "device %s is still there" % device_id)

    # ---- the serial shell

    def shell(self, command, timeout=TIMEOUT):
        """Runs `command` in the guest's serial shell: (status, output)."""
        self.commands += 1
        tag = "%d-%d" % (os.getpid(), self.commands)
        # The echoed command line never equals the markers' lines.
        line = "echo '<<%s'; { %s ; } 2>&1; echo \">>%s $?\"\n" % (
            tag, command, tag)
        before = len(self.console_lines())
        self.serial.sendall(line.encode())

        def done():
            lines = self.console_lines()[before:]
            # A shell that was not yet ready prints its prompt before it.
            begin = vm.find_line(lines, 0, lambda l: l.endswith("<<" + tag))
            end = vm.find_line(lines, begin or 0,
                                 lambda l: l.startswith(">>%s " % tag))
            if begin is None or end is None:
                return None
            output = [l for l in lines[begin + 1:end]
                      if not KERNEL_LINE.match(l)]
            # A kernel line may follow on the same serial line.
            status = re.match(r">>\S+ (\d+)", lines[end]).group(1)
            return int(status), "\n".join(output)

        return self.wait_for(done, "no answer to %r" % command, timeout)

    def wait_for_shell(self):
        self.wait_line(lambda l: self.init["shell_ready"] in l,
                       source=self.console_lines,
                       what="no shell on the serial port")
        self.shell(self.init.get("settled", "true"))
        if self.ssh_port:
            self.wait_for(self.ssh_answers, "no SSH server answers")

    def ssh_answers(self):
        done = subprocess.run(self.ssh("-o", "ConnectTimeout=5", "true"),
                              stdin=subprocess.DEVNULL, capture_output=True)
        return True if done.returncode == 0 else None


class Scenario(steps.Steps):
    """The booted boards as a backend of the step interpreter."""

    board, timeout, poll = steps.BOOT, TIMEOUT, 0.05

    def __init__(self, arch, frame_gen, workdir):
        super().__init__()
        self.arch = arch
        self.frame_gen = frame_gen
        self.workdir = workdir
        self.guest = None
        self.boots, self.earlier = 1, 0.0  # boots so far, and their time
        self.installs = []  # the output of each install-board run
        self.snapshots = {}

    def new_guest(self):
        self.guest = Guest(self.arch, *self.boot_args, boot=self.boots)
        self.fresh_lines()
        self.guest.wait_for_shell()

    # ---- the primitives of steps.Steps

    def lines(self):
        return self.guest.lines()

    def run_start(self, lines):
        """Where the log's lines since the player last started begin."""
        started = self.guest.init["started"]
        starts = [i for i, line in enumerate(lines) if started in line]
        return starts[-1] + 1 if starts else 0

    def touch(self, command):
        self.guest.touch(command)

    def layers(self):
        """The screen as frame-gen identify names it in QEMU's dump."""
        path = self.guest.screen("screen")
        shown = subprocess.run([self.frame_gen, "identify", path],
                               capture_output=True, text=True).stdout.strip()
        return shown, steps.HEIGHT, shown

    def picture(self, name):
        path = self.guest.screen(name)
        self.guest.qmp_call("screendump", format="png",
                            filename=path[:-len(".ppm")] + ".png")

    def failure_screen(self):
        if self.guest and self.guest.qemu.poll() is None:
            self.guest.screen("failure-screen")

    def open_files(self):
        status, output = self.guest.shell("ls -l /proc/%s/fd"
                                          % self.guest.init["pid"])
        return [line.split(" -> ", 1)[1] for line in output.split("\n")
                if " -> " in line]

    def signal(self, name):
        self.guest.killed_at = time.monotonic()
        self.step_shell("kill -%s %s" % (name, self.guest.init["pid"]))

    def running(self):
        status, output = self.guest.shell(self.guest.init["running"])
        return None if status == 0 else "is not running: " + output

    def done(self):
        return self.guest.qemu.poll() is not None

    # ---- booting and the disk

    def step_boot(self, rest):
        words = rest.split()
        init, disk = "busybox", "frames"
        if words and words[0] in INITS:
            init = words.pop(0)
        elif words and words[0] == "disk-board":
            words.pop(0)
            init = DISK_BOARDS[self.arch]
        if words and (words[0] in DISKS or words[0] == "none"):
            disk = words.pop(0)
        if (self.guest and self.step.first
                and (init, words) == (self.boot_args[0], self.boot_args[4])):
            self.go_on(disk)
            return
        # A later boot step is the board switched off and on again, with
        # another kernel command line.
        if self.guest:
            self.guest.close()
            self.earlier += self.guest.elapsed
            self.boots += 1
        self.boot_args = (init, self.workdir, self.frame_gen, disk, words)
        self.new_guest()

    def go_on(self, disk):
        """A later scenario on the board as the last one left it, with
        the disk it names plugged in instead."""
        if disk != self.boot_args[3]:
            if self.boot_args[3] != "none":
                self.step_pull()
                self.guest.shell("while [ -e /dev/sda ]; do sleep 0.2; done")
            if disk != "none":
                self.step_plug(disk)
        self.boot_args = self.boot_args[:3] + (disk,) + self.boot_args[4:]

    def step_reboot(self):
        """The board's own reboot; QEMU (-no-reboot) ends when the board
        has shut down, and the next QEMU boots the same root disk."""
        guest = self.guest
        guest.serial.sendall((guest.init["reboot"] + "\n").encode())
        try:
            guest.qemu.wait(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            check(False, "the board did not shut down")
        self.power_on_again()

    def step_switch_off(self):
        """The power pulled: QEMU ends at once, whatever the board had not
        written yet is lost, and the next QEMU boots the same root disk."""
        self.power_on_again()

    def power_on_again(self):
        self.guest.close()
        self.earlier += self.guest.elapsed
        self.boots += 1
        self.new_guest()

    def step_plug(self, rest):
        self.guest.qmp_call("device_add", driver="usb-storage",
                            drive=rest or "frames", id="udisk")

    def step_pull(self):
        self.guest.qmp_call("device_del", id="udisk")
        self.guest.device_gone("udisk")

    # ---- the input devices

    def step_add_input(self, rest):  # keyboard, powerkey or touch
        self.guest.touch("add " + rest)

    def step_remove_input(self, rest):  # the last one added of that kind
        self.guest.touch("remove " + rest)

    # ---- the screen

    def step_expect_same(self, name, duration):
        """Every screen dump, 0.1 s apart for MS, is exactly snapshot NAME:
        a blinking cursor cannot hide between two dumps."""
        with open(os.path.join(self.workdir, name + ".ppm"), "rb") as f:
            wanted = f.read()
        until = time.monotonic() + int(duration or 0) / 1000
        while True:
            path = self.guest.screen("expect-same")
            with open(path, "rb") as f:
                check(f.read() == wanted, "the screen is not snapshot %s "
                      "(see %s)" % (name, path))
            if time.monotonic() >= until:
                return
            time.sleep(0.1)

    # ---- tools/install-board, and what it leaves on the root disk

    def install_board(self, options):
        """Runs tools/install-board from the host as the board's owner
        would: its status; its output is kept and shown."""
        guest = self.guest
        command = ([os.path.join(REPO, "tools", "install-board"),
                    "--port", str(guest.ssh_port)]
                   + guest.ssh_options() + shlex.split(options)
                   + [guest.login()])
        # A session of its own: no terminal for ssh to ask on.
        done = subprocess.run(command, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True,
                              timeout=900, start_new_session=True)
        self.installs.append(done.stdout.splitlines())
        with open(os.path.join(self.workdir, "install-%d.txt"
                               % len(self.installs)), "w") as f:
            f.write(done.stdout)
        print("-- tools/install-board %s: status %d\n%s"
              % (options, done.returncode, done.stdout), end="")
        return done.returncode

    def step_install(self, rest):
        status = self.install_board(rest)
        check(status == 0, "tools/install-board exited with %d" % status)

    def step_install_fails(self, text, options):
        status = self.install_board(options)
        last = self.installs[-1][-1] if self.installs[-1] else ""
        check(status == 1 and text in last,
              "status %d, last line %r" % (status, last))

    def step_expect_installed(self, text):
        check(self.installs and any(text in l for l in self.installs[-1]),
              "the last install did not print %r" % text)

    # ---- the Ansible playbook, with this board as its inventory

    def release(self):
        """A release folder as tools/release makes it, with the file that
        this board takes, built here once per run."""
        folder = os.path.join(self.workdir, "release")
        if os.path.isdir(folder):
            return folder
        os.makedirs(folder)
        if self.guest.init["user"] == "root":  # BusyBox: the board tarball
            version = subprocess.run(
                ["cmake", "-D", "SOURCE_DIR=" + REPO, "-P",
                 os.path.join(REPO, "cmake", "version.cmake")],
                capture_output=True, text=True, check=True).stdout.strip()
            player = subprocess.run(
                [os.path.join(REPO, "tools", "build-board"), "armhf"],
                stdout=subprocess.PIPE, text=True, check=True).stdout.strip()
            name = "frame-player-%s-armhf" % version
            subprocess.run([os.path.join(REPO, "packaging", "board",
                                         "make-bundle"),
                            os.path.dirname(player), "armhf",
                            os.path.join(folder, name)], check=True)
            subprocess.run(["tar", "-czf", name + ".tar.gz", name],
                           cwd=folder, check=True)
            shutil.rmtree(os.path.join(folder, name))
        else:  # Debian: the package
            deb = subprocess.run(
                [os.path.join(REPO, "tools", "build-package"), "amd64"],
                stdout=subprocess.PIPE, text=True, check=True)
            shutil.copy(deb.stdout.splitlines()[-1], folder)
        return folder

    def step_playbook(self, rest):
        """Runs the Ansible playbook on this board; its output is kept
        as an install's."""
        guest = self.guest
        inventory = os.path.join(self.workdir, "inventory")
        with open(inventory, "w") as f:
            f.write("board ansible_host=127.0.0.1 ansible_port=%d "
                    "ansible_user=%s ansible_ssh_common_args=%s\n"
                    % (guest.ssh_port, guest.init["user"],
                       shlex.quote(" ".join(guest.ssh_options()))))
        command = ["ansible-playbook", "-i", inventory,
                   os.path.join(REPO, "packaging", "ansible",
                                "frame-player.yml"),
                   "-e", "frame_player_release=" + self.release()]
        done = subprocess.run(command + shlex.split(rest),
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, timeout=900,
                              env=dict(os.environ, ANSIBLE_NOCOLOR="1"))
        self.installs.append(done.stdout.splitlines())
        print("-- ansible-playbook %s: status %d\n%s"
              % (rest, done.returncode, done.stdout), end="")
        check(done.returncode == 0, "ansible-playbook exited with %d"
              % done.returncode)

    def step_expect_recap(self, rest):
        """The play recap's line for the board has every NAME=N given."""
        recap = [l for l in self.installs[-1] if l.startswith("board ")]
        check(recap, "no recap line for the board")
        counts = dict(word.split("=") for word in recap[-1].split()
                      if "=" in word)
        for word in rest.split():
            name, number = word.split("=")
            check(counts.get(name) == number, "recap: %s" % recap[-1])

    def root_listing(self):
        """Every path on the root file system with its mode, owner and
        link target, and every file's checksum but those of the files the
        board keeps writing; without the folders it keeps changing."""
        init = self.guest.init
        pruned = "".join("-path %s -prune -o " % path
                         for path in init["changing"])
        unsummed = "".join("! -path '%s' " % path for path in init["growing"])
        listing = self.guest.over_ssh(
            "sh -c \"cd / && { find . -xdev %s-exec stat -c '%%A %%u:%%g %%N' {} + &&"
            " find . -xdev %s-type f %s-exec md5sum {} + ; } | LC_ALL=C sort\""
            % (pruned, pruned, unsummed))
        return listing.splitlines()

    def step_root_snapshot(self, rest):
        self.snapshots[rest] = self.root_listing()
        with open(os.path.join(self.workdir, "root-%s.txt" % rest), "w") as f:
            f.write("\n".join(self.snapshots[rest]) + "\n")

    def step_expect_root(self, rest):
        before, now = self.snapshots[rest], self.root_listing()
        differences = [line for line in difflib.unified_diff(
            before, now, lineterm="", n=0) if line[:1] in "+-"][2:]
        check(not differences, "%d differences from %s: %s"
              % (len(differences), rest, "; ".join(differences[:8])))

    # ---- the player as the shell sees it

    def step_shell(self, rest):
        status, output = self.guest.shell(rest)
        check(status == 0, "status %d: %s" % (status, output))

    def step_expect_output(self, text, command):
        status, output = self.guest.shell(command)
        check(output == text, "printed %r (status %d)" % (output, status))

    def step_expect_at_most(self, limit, command):
        status, output = self.guest.shell(command)
        check(status == 0 and re.fullmatch(r"[0-9.]+", output) is not None,
              "printed %r (status %d)" % (output, status))
        print("%s: %s" % (command, output))
        check(float(output) <= float(limit), "%s, more than %s" % (output, limit))

    def step_expect_disk_unchanged(self):
        """Compares the whole image, then checks the FAT32 partition that
        the MBR's first entry names."""
        copy, original = self.guest.disk_image("frames")
        differs = subprocess.run(["cmp", "-l", copy, original],
                                 capture_output=True, text=True)
        check(differs.returncode == 0, "the disk was written: offset, "
              "now, before (octal): %s" % differs.stdout.split("\n")[:5])
        partition = os.path.join(self.workdir, "partition.img")
        with open(copy, "rb") as disk, open(partition, "wb") as out:
            disk.seek(446 + 8)
            first, count = struct.unpack("<II", disk.read(8))
            disk.seek(first * 512)
            out.write(disk.read(count * 512))
        fsck = subprocess.run(["fsck.fat", "-n", partition],
                              capture_output=True, text=True)
        os.remove(partition)
        report = (fsck.stdout + fsck.stderr).strip().split("\n")
        check(fsck.returncode == 0 and len(report) == 2,
              "fsck.fat -n: %s" % report)
        print("disk unchanged (cmp); fsck.fat -n: %s" % report[-1])

    def step_expect_restart(self, least, most):
        guest = self.guest
        check(guest.killed_at is not None, "no kill before")
        index = self.expect(lambda l: guest.init["started"] in l,
                            "no new start logged")
        took = guest.line_times[index] - guest.killed_at
        check(least <= took <= most, "started again %.1f s after the kill"
              % took)
        print("restarted %.1f s after the kill" % took)


def main():
    args = vm.arguments(BOARDS)
    try:
        script = [step for name in args.scenario.split("+")
                  for step in steps.parse_file(os.path.join(
                      HERE, "scenarios", name + ".boot"), steps.BOOT)]
    except (steps.ScriptError, OSError) as error:
        print("boot %s %s: %s" % (args.scenario, args.arch, error))
        return 1
    if vm.qemu_missing(args.arch):
        return vm.SKIP
    workdir = vm.fresh_run_dir("boot-%s-%s" % (args.scenario, args.arch))
    scenario = Scenario(args.arch, args.frame_gen, workdir)
    try:
        scenario.run(script)
        summary, ok = "passed", True
    except CheckFailed as failure:
        summary, ok = "FAILED: %s" % failure, False
    finally:
        if scenario.guest:
            scenario.guest.close()
    guest = scenario.guest
    if guest and not ok:
        print("-- console\n" + "\n".join(guest.console_lines()[-30:]))
        print("-- log\n" + "\n".join(guest.lines()[-20:]))
    print("boot %s %s: %s (%.1f s, files in %s)" % (
        args.scenario, args.arch, summary,
        scenario.earlier + (guest.elapsed if guest else 0), workdir))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
