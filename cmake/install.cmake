# What `cmake --install` puts on a board. A plain install (component
# frame-player) brings the two programs, the supervisor, the disk
# helper and the manual pages; the start-up files of one init system come on request:
#   cmake --install BUILD --component busybox-init   # /etc/init.d/S99frame-player
#   cmake --install BUILD --component systemd        # the unit and udev rule
# The install folders are those of configure time: the start-up files name
# the installed programs, whatever the prefix.
include(GNUInstallDirs)

set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME frame-player)
# Relative folders are taken under the prefix. Debian's bookworm wants
# /lib/systemd/system and /lib/udev/rules.d (debian/rules passes them).
set(FRAME_PLAYER_SYSTEMD_UNITDIR lib/systemd/system CACHE PATH
    "Where the systemd units go (relative: under the prefix)")
set(FRAME_PLAYER_UDEV_RULESDIR lib/udev/rules.d CACHE PATH
    "Where the udev rules go (relative: under the prefix)")
foreach(dir SYSTEMD_UNITDIR UDEV_RULESDIR)
  if(IS_ABSOLUTE "${FRAME_PLAYER_${dir}}")
    set(frame_player_${dir} "${FRAME_PLAYER_${dir}}")
  else()
    set(frame_player_${dir} "${CMAKE_INSTALL_PREFIX}/${FRAME_PLAYER_${dir}}")
  endif()
endforeach()

# Installs a file from deploy/ (as PROGRAMS or FILES) into DESTINATION with
# the paths of its fellow files changed from the hand-install ones
# (/usr/bin, /usr/sbin, /etc/init.d, /etc/default) to the installed ones.
function(install_deploy_file kind file destination component)
  file(READ ${PROJECT_SOURCE_DIR}/deploy/${file} text)
  string(REGEX REPLACE "/usr/bin/(frame-player[-a-z]*)"
                       "${CMAKE_INSTALL_FULL_BINDIR}/\\1" text "${text}")
  string(REGEX REPLACE "/usr/sbin/(frame-player[-a-z]*)"
                       "${CMAKE_INSTALL_FULL_SBINDIR}/\\1" text "${text}")
  string(REGEX REPLACE "/etc/(init\\.d/S99frame-player|default/frame-player)"
                       "${CMAKE_INSTALL_FULL_SYSCONFDIR}/\\1" text "${text}")
  set(installed ${PROJECT_BINARY_DIR}/deploy/${file})
  # Written as it is (@text@ is the only substitution), and only when it
  # changes.
  file(CONFIGURE OUTPUT ${installed} CONTENT "@text@" @ONLY)
  if(component STREQUAL "frame-player")
    install(${kind} ${installed} DESTINATION ${destination})
  else()
    install(${kind} ${installed} DESTINATION ${destination}
            COMPONENT ${component} EXCLUDE_FROM_ALL)
  endif()
endfunction()

# The start-up files name the programs where this configure puts them, so
# `cmake --install --prefix` elsewhere would leave them naming the wrong
# paths: refused. DESTDIR (staging) is fine.
foreach(component frame-player busybox-init systemd)
  set(exclude EXCLUDE_FROM_ALL)
  if(component STREQUAL "frame-player")
    set(exclude "")
  endif()
  install(CODE "
    if(NOT CMAKE_INSTALL_PREFIX STREQUAL \"${CMAKE_INSTALL_PREFIX}\")
      message(FATAL_ERROR \"Configured for the prefix ${CMAKE_INSTALL_PREFIX}, \"
        \"which the start-up files name: configure with \"
        \"-DCMAKE_INSTALL_PREFIX=\${CMAKE_INSTALL_PREFIX} instead \"
        \"(to stage the files elsewhere, set DESTDIR).\")
    endif()" COMPONENT ${component} ${exclude})
endforeach()

install(TARGETS frame-player frame-player-check)
install(TARGETS frame-player-run DESTINATION ${CMAKE_INSTALL_SBINDIR})
install_deploy_file(PROGRAMS frame-player-udisk ${CMAKE_INSTALL_SBINDIR}
                    frame-player)
install(FILES docs/man/frame-player.1 docs/man/frame-player-check.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES docs/man/frame-player-run.8 docs/man/frame-player-udisk.8
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)

# BusyBox init (and SysV-style init scripts run in name order).
install_deploy_file(PROGRAMS S99frame-player
                    ${CMAKE_INSTALL_FULL_SYSCONFDIR}/init.d busybox-init)
install(FILES deploy/frame-player.default
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/default
        RENAME frame-player COMPONENT busybox-init EXCLUDE_FROM_ALL)

# systemd: the player's unit, and the unit and udev rule that mount a USB
# disk when it is plugged in.
install_deploy_file(FILES frame-player.service ${frame_player_SYSTEMD_UNITDIR}
                    systemd)
install_deploy_file(FILES frame-player-devices.service
                    ${frame_player_SYSTEMD_UNITDIR} systemd)
install_deploy_file(FILES frame-player-udisk@.service
                    ${frame_player_SYSTEMD_UNITDIR} systemd)
install_deploy_file(FILES 90-frame-player-udisk.rules
                    ${frame_player_UDEV_RULESDIR} systemd)
