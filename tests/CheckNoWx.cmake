# The core (link, chips, image, sim and the sequences of ops) must not include wxWidgets.
file(GLOB_RECURSE core_sources
     ${SOURCE_DIR}/link/*.h ${SOURCE_DIR}/link/*.cpp
     ${SOURCE_DIR}/chips/*.h ${SOURCE_DIR}/chips/*.cpp
     ${SOURCE_DIR}/image/*.h ${SOURCE_DIR}/image/*.cpp
     ${SOURCE_DIR}/sim/*.h ${SOURCE_DIR}/sim/*.cpp
     ${SOURCE_DIR}/ops/*.h ${SOURCE_DIR}/ops/*.cpp)
# The device dialogs (ops/dlg) belong to the desktop application.
list(FILTER core_sources EXCLUDE REGEX "/ops/dlg/")
set(bad "")
foreach(f ${core_sources})
    file(STRINGS ${f} hits REGEX "#[ \t]*include[ \t]*[<\"]wx/")
    if(hits)
        list(APPEND bad ${f})
    endif()
endforeach()
if(bad)
    message(FATAL_ERROR "wxWidgets included in the core: ${bad}")
endif()
