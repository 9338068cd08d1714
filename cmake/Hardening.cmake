# Hardening: every program and library is built with the distribution's hardening flags. They come
# from dpkg-buildflags where it is installed, with every hardening feature asked for unless
# DEB_BUILD_MAINT_OPTIONS already says which (a distribution's build sets it); elsewhere the same
# defaults: fortified calls, stack protector, RELRO and immediate binding, PIE.
#
# Sets VELTRO_HARDENING_COMPILE_OPTIONS and VELTRO_HARDENING_LINK_OPTIONS and applies them to the
# directory; a target that sets its own COMPILE_OPTIONS (libveltrosim.so) adds them itself.
# Sanitizer builds are left without them: fortified calls hide accesses from AddressSanitizer.

option(VELTRO_HARDENING "Build with the distribution's hardening flags" ON)

set(VELTRO_HARDENING_COMPILE_OPTIONS)
set(VELTRO_HARDENING_LINK_OPTIONS)

if(VELTRO_HARDENING AND NOT VELTRO_SANITIZE)
    find_program(VELTRO_DPKG_BUILDFLAGS dpkg-buildflags)
    mark_as_advanced(VELTRO_DPKG_BUILDFLAGS)
    if(VELTRO_DPKG_BUILDFLAGS)
        if(DEFINED ENV{DEB_BUILD_MAINT_OPTIONS})
            set(_veltro_maint "$ENV{DEB_BUILD_MAINT_OPTIONS}")
        else()
            set(_veltro_maint "hardening=+all")
        endif()
        foreach(_kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
            execute_process(COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=${_veltro_maint}"
                                    ${VELTRO_DPKG_BUILDFLAGS} --get ${_kind}
                            WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                            OUTPUT_VARIABLE _veltro_flags OUTPUT_STRIP_TRAILING_WHITESPACE
                            COMMAND_ERROR_IS_FATAL ANY)
            separate_arguments(_veltro_${_kind} UNIX_COMMAND "${_veltro_flags}")
        endforeach()
        set(_veltro_source "dpkg-buildflags (DEB_BUILD_MAINT_OPTIONS=${_veltro_maint})")
    else()
        set(_veltro_CPPFLAGS -Wdate-time -D_FORTIFY_SOURCE=2)
        set(_veltro_CFLAGS -fstack-protector-strong -Wformat -Werror=format-security)
        set(_veltro_CXXFLAGS ${_veltro_CFLAGS})
        set(_veltro_LDFLAGS -Wl,-z,relro -Wl,-z,now)
        set(_veltro_source "defaults (no dpkg-buildflags)")
    endif()

    # Optimisation, debug information and the source paths are the build type's and the build
    # folder's to choose, not the hardening's.
    foreach(_kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
        list(FILTER _veltro_${_kind} EXCLUDE REGEX "^-(O.*|g.*|f(file|debug|macro)-prefix-map=.*)$")
    endforeach()
    # Fortified calls need an optimising build; glibc warns otherwise.
    set(_veltro_fortify_in_config $<NOT:$<CONFIG:Debug>>)
    foreach(_flag IN LISTS _veltro_CPPFLAGS)
        if(_flag MATCHES "_FORTIFY_SOURCE")
            list(APPEND VELTRO_HARDENING_COMPILE_OPTIONS "$<${_veltro_fortify_in_config}:${_flag}>")
        else()
            list(APPEND VELTRO_HARDENING_COMPILE_OPTIONS "${_flag}")
        endif()
    endforeach()
    foreach(_flag IN LISTS _veltro_CFLAGS)
        list(APPEND VELTRO_HARDENING_COMPILE_OPTIONS "$<$<COMPILE_LANGUAGE:C>:${_flag}>")
    endforeach()
    foreach(_flag IN LISTS _veltro_CXXFLAGS)
        list(APPEND VELTRO_HARDENING_COMPILE_OPTIONS "$<$<COMPILE_LANGUAGE:CXX>:${_flag}>")
    endforeach()
    set(VELTRO_HARDENING_LINK_OPTIONS ${_veltro_LDFLAGS})

    # Position-independent executables whatever the compiler's default (-fPIE and -pie).
    include(CheckPIESupported)
    check_pie_supported(LANGUAGES C CXX)
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)

    add_compile_options(${VELTRO_HARDENING_COMPILE_OPTIONS})
    add_link_options(${VELTRO_HARDENING_LINK_OPTIONS})
    message(STATUS "Hardening flags from ${_veltro_source}")
endif()
