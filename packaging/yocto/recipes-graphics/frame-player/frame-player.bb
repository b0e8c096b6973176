SUMMARY = "Touch-driven frame player for an 800x480 framebuffer LCD"
DESCRIPTION = "While the touchscreen (/dev/input/event0) is held, plays \
the numbered 24-bit BMP frames /mnt/udisk/4/3/Frame0.bmp to Frame81.bmp \
full-screen on /dev/fb0. With frame-player-check, which tells what keeps \
it from working on a board."
LICENSE = "MIT"
LIC_FILES_CHKSUM = "file://LICENSE;md5=75013b830f17dc777805f941145c3532"

# As project() in CMakeLists.txt says.
PV = "1.0.0"

# Built from this checkout (four folders up), which is never copied.
inherit externalsrc
EXTERNALSRC = "${@os.path.abspath(d.getVar('FILE_DIRNAME') + '/../../../..')}"

inherit cmake systemd update-rc.d useradd

# The init script runs the player as a user of its own (systemd makes one
# for the unit).
USERADD_PACKAGES = "${PN}"
USERADD_PARAM:${PN} = "--system --no-create-home --home-dir /nonexistent \
                       --shell /bin/false --user-group frame-player"

# The cmake class configures for /usr; the start-up files go where the
# systemd class and udev look for them.
EXTRA_OECMAKE = "-DFRAME_PLAYER_SYSTEMD_UNITDIR=${systemd_system_unitdir} \
                 -DFRAME_PLAYER_UDEV_RULESDIR=${nonarch_base_libdir}/udev/rules.d"

# The start-up files are install components of their own: those of the
# init systems the distribution has.
do_install:append() {
	if ${@bb.utils.contains('DISTRO_FEATURES', 'systemd', 'true', 'false', d)}; then
		DESTDIR='${D}' cmake --install '${B}' --component systemd
	fi
	if ${@bb.utils.contains('DISTRO_FEATURES', 'sysvinit', 'true', 'false', d)}; then
		DESTDIR='${D}' cmake --install '${B}' --component busybox-init
	fi
}

SYSTEMD_SERVICE:${PN} = "frame-player.service"
INITSCRIPT_NAME = "S99frame-player"
INITSCRIPT_PARAMS = "defaults 99"

FILES:${PN} += "${systemd_system_unitdir} ${nonarch_base_libdir}/udev/rules.d"
# The owner's settings: an upgrade keeps them.
CONFFILES:${PN} = "${sysconfdir}/default/frame-player"
# The helpers and start-up scripts run under /bin/sh.
RDEPENDS:${PN} += "${VIRTUAL-RUNTIME_base-utils}"
