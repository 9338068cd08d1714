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

    # Optimisation and debug information are the build type's to choose, not the hardening's. The
    # prefix maps stay: they keep the build folder's path out of the debug information, and so out
    # of the build ids, whatever folder the build is made in.
    foreach(_kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
        list(FILTER _veltro_${_kind} EXCLUDE REGEX "^-(O.*|g.*)$")
    endforeach()

    # Only what the environment lacks is added: CMake starts CMAKE_<LANG>_FLAGS and the linker
    # flags from CFLAGS, CXXFLAGS and LDFLAGS, and an option given there wins (a distribution's
    # -D_FORTIFY_SOURCE=3 is not turned back into 2 by ours after it), and is not given twice (as
    # debhelper's build, which passes dpkg-buildflags' own flags in, would see). Options are
    # compared by what they set: one -D or -U per macro, one stack protector, one value of an -f
    # or -W option; linker options and -Werror= ones as a whole. CMake leaves CPPFLAGS out, so
    # those only count where they were passed in CFLAGS or CXXFLAGS, as debhelper does.
    function(_veltro_flag_key flag out)
        if(flag MATCHES "^-[DU]([A-Za-z_][A-Za-z0-9_]*)")
            set(key "macro ${CMAKE_MATCH_1}")
        elseif(flag MATCHES "^-f(no-)?stack-protector")
            set(key "stack-protector")
        elseif(flag MATCHES "^-Wl,|^-W(no-)?error=")
            set(key "${flag}")
        elseif(flag MATCHES "^-([fW])(no-)?([^=]+)")
            set(key "${CMAKE_MATCH_1} ${CMAKE_MATCH_3}")
        else()
            set(key "${flag}")
        endif()
        set(${out} "${key}" PARENT_SCOPE)
    endfunction()
    function(_veltro_lacking out present)
        separate_arguments(present UNIX_COMMAND "${present}")
        set(keys)
        foreach(flag IN LISTS present)
            _veltro_flag_key("${flag}" key)
            list(APPEND keys "${key}")
        endforeach()
        set(lacking)
        foreach(flag IN LISTS ARGN)
            _veltro_flag_key("${flag}" key)
            if(NOT key IN_LIST keys)
                list(APPEND lacking "${flag}")
                list(APPEND keys "${key}")
            endif()
        endforeach()
        set(${out} "${lacking}" PARENT_SCOPE)
    endfunction()

    # Fortified calls need an optimising build; glibc warns otherwise.
    set(_veltro_fortify_in_config $<NOT:$<CONFIG:Debug>>)
    foreach(_lang C CXX)
        if(_lang STREQUAL C)
            set(_own ${_veltro_CPPFLAGS} ${_veltro_CFLAGS})
        else()
            set(_own ${_veltro_CPPFLAGS} ${_veltro_CXXFLAGS})
        endif()
        _veltro_lacking(_add "${CMAKE_${_lang}_FLAGS}" ${_own})
        foreach(_flag IN LISTS _add)
            if(_flag MATCHES "_FORTIFY_SOURCE")
                list(APPEND VELTRO_HARDENING_COMPILE_OPTIONS
                     "$<$<AND:$<COMPILE_LANGUAGE:${_lang}>,${_veltro_fortify_in_config}>:${_flag}>")
            else()
                list(APPEND VELTRO_HARDENING_COMPILE_OPTIONS "$<$<COMPILE_LANGUAGE:${_lang}>:${_flag}>")
            endif()
        endforeach()
    endforeach()
    # Programs and libraries link with the same flags; the environment may have given either.
    _veltro_lacking(_add_exe "${CMAKE_EXE_LINKER_FLAGS}" ${_veltro_LDFLAGS})
    _veltro_lacking(_add_shared "${CMAKE_SHARED_LINKER_FLAGS}" ${_veltro_LDFLAGS})
    foreach(_flag IN LISTS _veltro_LDFLAGS)
        if(_flag IN_LIST _add_exe AND _flag IN_LIST _add_shared)
            list(APPEND VELTRO_HARDENING_LINK_OPTIONS "${_flag}")
        elseif(_flag IN_LIST _add_exe)
            list(APPEND VELTRO_HARDENING_LINK_OPTIONS "$<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:${_flag}>")
        elseif(_flag IN_LIST _add_shared)
            list(APPEND VELTRO_HARDENING_LINK_OPTIONS "$<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,SHARED_LIBRARY>:${_flag}>")
        endif()
    endforeach()

    # Position-independent executables whatever the compiler's default (-fPIE and -pie).
    include(CheckPIESupported)
    check_pie_supported(LANGUAGES C CXX)
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)

    add_compile_options(${VELTRO_HARDENING_COMPILE_OPTIONS})
    add_link_options(${VELTRO_HARDENING_LINK_OPTIONS})
    list(JOIN VELTRO_HARDENING_COMPILE_OPTIONS " " _veltro_shown_c)
    list(JOIN VELTRO_HARDENING_LINK_OPTIONS " " _veltro_shown_l)
    message(STATUS "Hardening flags from ${_veltro_source}, where the environment lacks them: ${_veltro_shown_c} ${_veltro_shown_l}")
endif()
