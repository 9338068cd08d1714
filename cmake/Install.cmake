# Installation into any prefix (cmake --install build --prefix DIR) and the Debian packages
# (cpack -G DEB). Included once, at the end of the top-level CMakeLists.txt, so that every target
# exists by then; a target that this build does not make (no GUI, say) is simply left out.
#
# Two install components, one package each: veltro51 (the desktop program, the command-line tool
# and everything that fits them into the system) and sim (veltro51-sim, the simulated programmer and
# its preload library), so that a system carries no preload library it did not ask for.

include(GNUInstallDirs)

set(VELTRO_DIST_DIR ${CMAKE_SOURCE_DIR}/dist)
set(VELTRO_DIST_OUT ${CMAKE_BINARY_DIR}/dist)
# A placeholder address: a distribution sets its own (-DVELTRO_MAINTAINER="Name <address>").
set(VELTRO_MAINTAINER "The Veltro 51 developers <veltro51@example.org>"
    CACHE STRING "The packages' Maintainer field")
# The day of this version's release: the changelog, the metainfo and the man pages carry it.
set(VELTRO_RELEASE_DATE 2026-12-09)

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
foreach(program veltro51 veltro51-cli veltro51-bench)
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
install(FILES ${VELTRO_DIST_DIR}/60-veltro51.rules DESTINATION lib/udev/rules.d COMPONENT veltro51)

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
    configure_file("@VELTRO_DIST_DIR@/veltro51.desktop.in" "${_entry}" @ONLY)
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

install(FILES ${VELTRO_DIST_OUT}/veltro51.1.gz ${VELTRO_DIST_OUT}/veltro51-cli.1.gz ${VELTRO_DIST_OUT}/veltro51-bench.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT veltro51)
install(FILES ${VELTRO_DIST_OUT}/veltro51-sim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT sim)

# ---- licence: the full text, and the machine-readable copyright file of each package ----
configure_file(${VELTRO_DIST_DIR}/copyright.in ${VELTRO_DIST_OUT}/copyright @ONLY)
foreach(component veltro51 sim)
    set(package veltro51)
    if(component STREQUAL sim)
        set(package veltro51-sim)
    endif()
    install(FILES ${VELTRO_DIST_OUT}/copyright ${VELTRO_DIST_OUT}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()
# Findings of lintian that are explained there (help pages the program opens from its data folder).
install(FILES ${VELTRO_DIST_DIR}/veltro51.lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME veltro51 COMPONENT veltro51)

# ---- Debian packages: veltro51 and veltro51-sim, from one source ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltro51)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "${VELTRO_COPYRIGHT_HOLDER}")
set(CPACK_PACKAGE_CONTACT "${VELTRO_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL veltro51 sim)
set(CPACK_DEBIAN_PACKAGE_SOURCE veltro51)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELTRO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_VELTRO51_PACKAGE_NAME veltro51)
# The help pages open in the desktop's default program.
set(CPACK_DEBIAN_VELTRO51_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_DEBIAN_VELTRO51_PACKAGE_SUGGESTS veltro51-sim)
# They apply the udev rule to a programmer plugged in already.
set(CPACK_DEBIAN_VELTRO51_PACKAGE_CONTROL_EXTRA ${VELTRO_DIST_DIR}/postinst ${VELTRO_DIST_DIR}/postrm)
# Each description's first line is its synopsis; CPack indents the rest and marks the blank lines.
set(CPACK_DEBIAN_VELTRO51_DESCRIPTION "programmer for AT89Sxx flash microcontrollers over USB
Veltro 51 drives the Veltro-8051 USB in-system programmer to program Atmel
AT89S2051, AT89S4051, AT89S51, AT89S52 and AT89S8253 flash microcontrollers:
it loads Intel HEX and binary files, burns, verifies and locks chips, reads
them back into Intel HEX files, and sets the programming clock.

The package holds the desktop application, veltro51-cli for scripts and
production lines, and a udev rule that gives the programmer to the user at
the seat and to the group plugdev. The simulated programmer, to try both
without hardware, is in the package veltro51-sim.")

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
