# VELTRO_SANITIZE: the sanitizers every target of the build is compiled and linked with (tools/sanitize
# makes the builds). A report ends the program (-fno-sanitize-recover), so the test fails with it.
if(VELTRO_SANITIZE)
    string(REPLACE ";" "," _veltro_san "${VELTRO_SANITIZE}")
    add_compile_options(-fsanitize=${_veltro_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${_veltro_san})
    # GCC's flow warnings see the sanitizers' checks as paths of their own and warn of values that are
    # never used uninitialised (in std::function inside std::regex, say); the ordinary build keeps the
    # warning and catches the real ones.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        add_compile_options(-Wno-maybe-uninitialized)
    endif()
endif()
