################################################################################
#
# frame-player
#
################################################################################

# This checkout, two levels above the external tree.
FRAME_PLAYER_SITE = $(BR2_EXTERNAL_FRAME_PLAYER_PATH)/../..
FRAME_PLAYER_SITE_METHOD = local
# What git ignores there (builds, downloads) stays behind.
FRAME_PLAYER_OVERRIDE_SRCDIR_RSYNC_EXCLUSIONS = \
	--exclude=/build --exclude=/.cache --exclude=/demo-out \
	--exclude=/board-out --exclude=/soak-out
FRAME_PLAYER_LICENSE = MIT
FRAME_PLAYER_LICENSE_FILES = LICENSE

# The init script runs the player as a user of its own (systemd makes one
# for the unit).
define FRAME_PLAYER_USERS
	frame-player -1 frame-player -1 * - - - frame player
endef

# The start-up files are install components of their own; the hooks run
# only for the init system selected.
define FRAME_PLAYER_INSTALL_INIT_SYSV
	DESTDIR=$(TARGET_DIR) $(BR2_CMAKE) --install $(FRAME_PLAYER_BUILDDIR) \
		--component busybox-init
endef

define FRAME_PLAYER_INSTALL_INIT_SYSTEMD
	DESTDIR=$(TARGET_DIR) $(BR2_CMAKE) --install $(FRAME_PLAYER_BUILDDIR) \
		--component systemd
endef

$(eval $(cmake-package))
