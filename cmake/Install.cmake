# Installation into any prefix (cmake --install build --prefix DIR) and the Debian packages
# (cpack -G DEB). Included once, at the end of the top-level CMakeLists.txt, so that every target
# exists by then; a target that this build does not make (no GUI, say) is simply left out.
#
# Three install components, one package each: cli (veltro51-cli, its man page, the udev rule and the
# shell completions: nothing graphical, for headless production PCs), veltro51 (the desktop programs
# and what fits them into the desktop: entry, icons, AppStream data, file type, help pages) and sim
# (veltro51-sim, the simulated programmer and its preload library), so that a system carries no
# toolkit and no preload library it did not ask for.
#
# Every file and folder is installed with fixed modes, whatever the umask, so that two builds of the
# same source give the same packages (tools/reproducible-build checks it).

include(GNUInstallDirs)

set(VELTRO_DIST_DIR ${CMAKE_SOURCE_DIR}/dist)
set(VELTRO_DIST_OUT ${CMAKE_BINARY_DIR}/dist)
# A placeholder address: a distribution sets its own (-DVELTRO_MAINTAINER="Name <address>").
set(VELTRO_MAINTAINER "The Veltro 51 developers <veltro51@example.org>"
    CACHE STRING "The packages' Maintainer field")
# The day of this version's release: the changelog, the metainfo and the man pages carry it.
set(VELTRO_RELEASE_DATE 2026-12-10)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The folder of help pages and other shared data, relative to the prefix.
set(VELTRO_DATA_SUBDIR ${CMAKE_INSTALL_DATADIR}/veltro51)

function(veltro_release_date out format)
    execute_process(COMMAND date -u -d ${VELTRO_RELEASE_DATE} "+${format}"
                    OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    set(${out} "${value}" PARENT_SCOPE)
endfunction()
set(ENV{LC_ALL} C)
veltro_release_date(VELTRO_RELEASE_MONTH "%B %Y")
veltro_release_date(VELTRO_RELEASE_RFC2822 "%a, %d %b %Y 12:00:00 +0000")

# ---- programs ----
# A stripped install (cpack, cmake --install --strip) also drops the sections that only name the
# compiler, as Debian's own packages do (dh_strip).
function(veltro_install_binary target kind destination component)
    install(TARGETS ${target} ${kind} DESTINATION ${destination} COMPONENT ${component} ${ARGN})
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/$<TARGET_FILE_NAME:${target}>\"
            COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT ${component})
endfunction()
if(TARGET veltro51-cli)
    veltro_install_binary(veltro51-cli RUNTIME ${CMAKE_INSTALL_BINDIR} cli)
endif()
# The desktop programs: the application, and the bench window once it is built (its man page and
# desktop entry go beside veltro51's below).
set(VELTRO_DESKTOP_PROGRAMS veltro51 veltro51-bench)
foreach(program IN LISTS VELTRO_DESKTOP_PROGRAMS)
    if(TARGET ${program})
        veltro_install_binary(${program} RUNTIME ${CMAKE_INSTALL_BINDIR} veltro51)
    endif()
endforeach()
# veltro51-sim finds its preload library beside itself or in VELTRO_SIM_LIBDIR (see sim/).
if(TARGET veltro51-sim)
    veltro_install_binary(veltro51-sim RUNTIME ${CMAKE_INSTALL_BINDIR} sim)
endif()
if(TARGET veltrosim)
    veltro_install_binary(veltrosim LIBRARY ${VELTRO_SIM_LIBDIR} sim NAMELINK_SKIP)
endif()

# ---- help pages, read by the desktop program from its working directory ----
if(EXISTS ${CMAKE_SOURCE_DIR}/res/Help)
    install(DIRECTORY ${CMAKE_SOURCE_DIR}/res/Help DESTINATION ${VELTRO_DATA_SUBDIR} COMPONENT veltro51
            FILES_MATCHING PATTERN "*.htm" PATTERN "*.html" PATTERN "*.css" PATTERN "*.png"
                           PATTERN "*.jpg" PATTERN "*.gif" PATTERN "*.svg")
endif()

# ---- udev rule: the user at the seat, and the group plugdev, may open the programmer ----
# Always below the prefix; the Debian package puts it in /usr/lib/udev/rules.d, where udev reads
# vendor rules. Under another prefix udev does not look: copy it to /etc/udev/rules.d by hand.
install(FILES ${VELTRO_DIST_DIR}/60-veltro51.rules DESTINATION lib/udev/rules.d COMPONENT cli)

# ---- shell completions of veltro51-cli, where bash-completion and zsh look for them ----
install(FILES ${VELTRO_DIST_DIR}/completions/veltro51-cli.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME veltro51-cli COMPONENT cli)
install(FILES ${VELTRO_DIST_DIR}/completions/_veltro51-cli DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions
        COMPONENT cli)

# ---- the Intel HEX file type, so that file managers offer the program for .hex and .ihx ----
install(FILES ${VELTRO_DIST_DIR}/veltro51-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME veltro51.xml COMPONENT veltro51)

# ---- desktop entry, icons, metainfo ----
# The entry's Exec= and Path= name the installed program and data folder, so the entry is written
# at install time, for the prefix the install is run with (cmake --install --prefix overrides the
# configured one), straight into its place: DESTDIR is no part of the paths it names, so a staged
# install (cpack) gets the final ones. Nothing is shared between two installs run at once.
string(CONFIGURE [[
    set(_dirs "@CMAKE_INSTALL_BINDIR@" "@VELTRO_DATA_SUBDIR@" "@CMAKE_INSTALL_DATADIR@/applications")
    set(_full)
    foreach(_d IN LISTS _dirs)
        if(NOT IS_ABSOLUTE "${_d}")
            set(_d "${CMAKE_INSTALL_PREFIX}/${_d}")
        endif()
        list(APPEND _full "${_d}")
    endforeach()
    list(GET _full 0 VELTRO_BINDIR)
    list(GET _full 1 VELTRO_DATADIR)
    list(GET _full 2 _apps)
    set(_entry "$ENV{DESTDIR}${_apps}/veltro51.desktop")
    message(STATUS "Installing: ${_entry}")
    configure_file("@VELTRO_DIST_DIR@/veltro51.desktop.in" "${_entry}" @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${_apps}/veltro51.desktop")
    configure_file("@VELTRO_DIST_DIR@/veltro51-bench.desktop.in" "$ENV{DESTDIR}${_apps}/veltro51-bench.desktop" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${_apps}/veltro51-bench.desktop")
]] veltro_entry_code @ONLY)
install(CODE "${veltro_entry_code}" COMPONENT veltro51)
# The application icon as res/make-pictures.sh draws it; the sizes it does not draw come from
# dist/icons (dist/make-icons scales them from the largest drawn).
foreach(size 16 32 48 64 128 256)
    set(icon ${CMAKE_SOURCE_DIR}/res/pictures/veltro51-${size}.png)
    if(NOT EXISTS ${icon})
        set(icon ${VELTRO_DIST_DIR}/icons/${size}x${size}/veltro51.png)
    endif()
    install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME veltro51.png COMPONENT veltro51)
endforeach()

configure_file(${VELTRO_DIST_DIR}/io.github.veltro51.Veltro51.metainfo.xml.in
               ${VELTRO_DIST_OUT}/io.github.veltro51.Veltro51.metainfo.xml @ONLY)
install(FILES ${VELTRO_DIST_OUT}/io.github.veltro51.Veltro51.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT veltro51)

# ---- man pages and the package's documents, compressed as Debian wants them ----
set(veltro_gz)
foreach(page veltro51.1 veltro51-cli.1 veltro51-sim.1 veltro51-bench.1)
    configure_file(${VELTRO_DIST_DIR}/${page}.in ${VELTRO_DIST_OUT}/${page} @ONLY)
    list(APPEND veltro_gz ${page})
endforeach()
configure_file(${VELTRO_DIST_DIR}/changelog.in ${VELTRO_DIST_OUT}/changelog @ONLY)
list(APPEND veltro_gz changelog)

set(veltro_gz_out)
foreach(f ${veltro_gz})
    add_custom_command(OUTPUT ${VELTRO_DIST_OUT}/${f}.gz
                       COMMAND gzip -9n -f -k ${VELTRO_DIST_OUT}/${f}
                       DEPENDS ${VELTRO_DIST_OUT}/${f}
                       COMMENT "Compressing ${f}" VERBATIM)
    list(APPEND veltro_gz_out ${VELTRO_DIST_OUT}/${f}.gz)
endforeach()
add_custom_target(veltro_dist ALL DEPENDS ${veltro_gz_out})

install(FILES ${VELTRO_DIST_OUT}/veltro51.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT veltro51)
install(FILES ${VELTRO_DIST_OUT}/veltro51-bench.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT veltro51)
install(FILES ${VELTRO_DIST_OUT}/veltro51-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
install(FILES ${VELTRO_DIST_OUT}/veltro51-sim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT sim)

# ---- licence: the full text, and the machine-readable copyright file of each package ----
configure_file(${VELTRO_DIST_DIR}/copyright.in ${VELTRO_DIST_OUT}/copyright @ONLY)
set(VELTRO_PACKAGE_cli veltro51-cli)
set(VELTRO_PACKAGE_veltro51 veltro51)
set(VELTRO_PACKAGE_sim veltro51-sim)
foreach(component cli veltro51 sim)
    install(FILES ${VELTRO_DIST_OUT}/copyright ${VELTRO_DIST_OUT}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${VELTRO_PACKAGE_${component}} COMPONENT ${component})
endforeach()
# Findings of lintian that are explained there. Lintian reads them from /usr/share only, so an
# install into any other prefix (/usr/local, /opt/...) leaves them out.
foreach(component cli veltro51)
    set(package ${VELTRO_PACKAGE_${component}})
    install(CODE "if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
        file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/lintian/overrides\" TYPE FILE
             FILES \"${VELTRO_DIST_DIR}/${package}.lintian-overrides\" RENAME ${package})
    endif()" COMPONENT ${component})
endforeach()

# ---- Debian packages: veltro51-cli, veltro51 and veltro51-sim, from one source ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltro51)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "${VELTRO_COPYRIGHT_HOLDER}")
set(CPACK_PACKAGE_CONTACT "${VELTRO_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli veltro51 sim)
set(CPACK_DEBIAN_PACKAGE_SOURCE veltro51)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELTRO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# CPack packs the modes that the files, folders and its own archive members have on disk, which
# depend on the umask; these scripts make them the same for every build (cmake/PackageModes.cmake).
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/PackageModes.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/PackageModes.cmake)

# Up to 2.4.0 the desktop program and the command-line tool came in one package, veltro51: the files
# that moved to veltro51-cli are taken over from it, and an older veltro51 cannot stay beside the
# new veltro51-cli.
set(VELTRO_SPLIT_VERSION 2.5.0)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME veltro51-cli)
set(CPACK_DEBIAN_CLI_PACKAGE_REPLACES "veltro51 (<< ${VELTRO_SPLIT_VERSION})")
set(CPACK_DEBIAN_CLI_PACKAGE_BREAKS "veltro51 (<< ${VELTRO_SPLIT_VERSION})")
set(CPACK_DEBIAN_CLI_PACKAGE_SUGGESTS veltro51-sim)
# They apply the udev rule to a programmer plugged in already.
set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA ${VELTRO_DIST_DIR}/postinst ${VELTRO_DIST_DIR}/postrm)
# Each description's first line is its synopsis; CPack indents the rest and marks the blank lines.
set(CPACK_DEBIAN_CLI_DESCRIPTION "command-line programmer for AT89Sxx flash microcontrollers over USB
veltro51-cli drives the Veltro-8051 USB in-system programmer to program Atmel
AT89S2051, AT89S4051, AT89S51, AT89S52 and AT89S8253 flash microcontrollers
from scripts and production lines: it burns, verifies, blank-checks, erases,
locks and reads chips, converts Intel HEX and binary files, gives serial
numbers and keeps a production log, on every attached programmer at once.

The package holds veltro51-cli, its shell completions for bash and zsh, and
a udev rule that gives the programmer to the user at the seat and to the
group plugdev. It needs no graphical libraries; the desktop application is
in the package veltro51, the simulated programmer in veltro51-sim.")

set(CPACK_DEBIAN_VELTRO51_PACKAGE_NAME veltro51)
set(CPACK_DEBIAN_VELTRO51_PACKAGE_DEPENDS "veltro51-cli (= ${PROJECT_VERSION})")
# The help pages open in the desktop's default program.
set(CPACK_DEBIAN_VELTRO51_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_DEBIAN_VELTRO51_PACKAGE_SUGGESTS veltro51-sim)
set(CPACK_DEBIAN_VELTRO51_DESCRIPTION "programmer for AT89Sxx flash microcontrollers over USB (desktop)
Veltro 51 drives the Veltro-8051 USB in-system programmer to program Atmel
AT89S2051, AT89S4051, AT89S51, AT89S52 and AT89S8253 flash microcontrollers:
it loads Intel HEX and binary files, burns, verifies and locks chips, reads
them back into Intel HEX files, and sets the programming clock.

The package holds the desktop application with its help pages, menu entry
and file type for Intel HEX files. The command-line tool and the udev rule
are in the package veltro51-cli, which it depends on; the simulated
programmer, to try both without hardware, is in the package veltro51-sim.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME veltro51-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_SIM_DESCRIPTION "simulated Veltro-8051 USB programmer for libusb-0.1 programs
veltro51-sim runs a program built against libusb-0.1 with simulated
Veltro-8051 in-system programmers below the library, each with an AT89Sxx
chip in its socket, so that veltro51 and veltro51-cli can be tried, tested
and scripted on a machine without the hardware. Faults (stalls, time-outs,
unplugging, short transfers) can be injected at any request.

The package holds veltro51-sim and the library it preloads into the program
it runs (nothing else loads it).")
include(CPack)
