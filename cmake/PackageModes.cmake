# Run by cpack (CPACK_PRE_BUILD_SCRIPTS and CPACK_POST_BUILD_SCRIPTS): CPack packs the modes that the
# files and folders have on disk, and gives the members of the .deb's ar archive the modes their
# temporary files got, so a build under umask 002 packs 0664 and 0775 where another packs 0644 and
# 0755. Before packing, the staged tree gets the modes dpkg-deb would see in a Debian build (folders
# and executables 0755, other files 0644); after it, the archive members get 0644, as dpkg-deb
# writes them.

if(NOT DEFINED CPACK_PACKAGE_FILES)
    # Before packing: the staged tree. u=rwX,go=rX keeps an executable executable (X: any x bit).
    execute_process(COMMAND chmod -R u=rwX,go=rX "${CPACK_TEMPORARY_DIRECTORY}" COMMAND_ERROR_IS_FATAL ANY)
    return()
endif()

# After packing: each package's ar headers (60 bytes each, the mode an octal field of 8 at offset 40,
# the size a decimal field of 10 at offset 48; members padded to an even length).
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    if(NOT deb MATCHES "\\.deb$")
        continue()
    endif()
    file(SIZE "${deb}" total)
    file(READ "${deb}" magic LIMIT 8)
    if(NOT magic STREQUAL "!<arch>\n")
        message(FATAL_ERROR "${deb} is no ar archive")
    endif()
    set(offset 8)
    while(offset LESS total)
        file(READ "${deb}" header OFFSET ${offset} LIMIT 60)
        string(SUBSTRING "${header}" 58 2 end)
        if(NOT end STREQUAL "`\n")
            message(FATAL_ERROR "${deb}: no ar member header at ${offset}")
        endif()
        string(SUBSTRING "${header}" 40 8 mode)
        string(SUBSTRING "${header}" 48 10 size)
        string(STRIP "${size}" size)
        if(NOT mode STREQUAL "100644  ")
            math(EXPR at "${offset} + 40")
            execute_process(COMMAND printf "100644  "
                            COMMAND dd "of=${deb}" bs=1 seek=${at} conv=notrunc status=none
                            COMMAND_ERROR_IS_FATAL ANY)
        endif()
        math(EXPR offset "${offset} + 60 + ${size} + ${size} % 2")
    endwhile()
endforeach()
