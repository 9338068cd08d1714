# The version (from project()) and the copyright line, in one place: Version.h for the programs, and
# the same variables for the man pages, the AppStream data, the copyright file and the packages.
set(VELTRO_COPYRIGHT_YEARS 2026)
set(VELTRO_COPYRIGHT_HOLDER "The Veltro 51 developers")
set(VELTRO_COPYRIGHT "Copyright (C) ${VELTRO_COPYRIGHT_YEARS} ${VELTRO_COPYRIGHT_HOLDER}")
set(VELTRO_LICENSE_SPDX GPL-3.0-or-later)

set(VELTRO_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.h.in ${VELTRO_GENERATED_DIR}/Version.h @ONLY)
