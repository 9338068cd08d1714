# The layers: the core (link, chips, image, the sequences of ops) sees neither the toolkit's side
# (res, ops/dlg, ui) nor the command line; the dialogs of ops/dlg do not see the shell in ui; and the
# command line only parses, builds jobs and formats events: no request to the programmer, no wait
# and no catalogue lookup of its own.
set(bad "")
function(check_includes label pattern)
    file(GLOB_RECURSE sources ${ARGN})
    list(FILTER sources EXCLUDE REGEX "/ops/dlg/")
    foreach(f ${sources})
        file(STRINGS ${f} hits REGEX "#[ \t]*include[ \t]*\"(${pattern})/")
        if(hits)
            set(bad "${bad}\n  ${label}: ${f}: ${hits}" PARENT_SCOPE)
        endif()
    endforeach()
endfunction()
check_includes("core includes a presenter" "res|ui|cli|ops/dlg"
               ${SOURCE_DIR}/link/*.[ch]* ${SOURCE_DIR}/chips/*.[ch]* ${SOURCE_DIR}/image/*.[ch]*
               ${SOURCE_DIR}/ops/*.[ch]*)

file(GLOB dialogs ${SOURCE_DIR}/ops/dlg/*.h ${SOURCE_DIR}/ops/dlg/*.cpp)
foreach(f ${dialogs})
    file(STRINGS ${f} hits REGEX "#[ \t]*include[ \t]*\"(ui|cli)/")
    if(hits)
        set(bad "${bad}\n  the dialogs include the shell: ${f}: ${hits}")
    endif()
endforeach()

# The sequences work on the IProgrammer they are given: none names the libusb model (so none makes
# one), and the command line takes its link and its list from link/ProgrammerModels.h.
file(GLOB_RECURSE users ${SOURCE_DIR}/ops/*.h ${SOURCE_DIR}/ops/*.cpp ${SOURCE_DIR}/cli/*.h ${SOURCE_DIR}/cli/*.cpp)
foreach(f ${users})
    file(STRINGS ${f} hits REGEX "CProgrammer|#[ \t]*include[ \t]*\"link/Programmer\.h\"")
    if(hits)
        set(bad "${bad}\n  names the libusb programmer instead of IProgrammer: ${f}: ${hits}")
    endif()
endforeach()

file(GLOB cli ${SOURCE_DIR}/cli/*.h ${SOURCE_DIR}/cli/*.cpp)
foreach(f ${cli})
    file(STRINGS ${f} hits REGEX
         "\\.(Open|Close|PowerOn|PowerOff|ReadBlock|WriteBlock|ReadSignature|EraseChip|TestHardware|WriteLockMode|ReadLockBits|SetSpeed|GetSpeed)\\(|Sleep\\(|_MS *=|sleep_for|usleep|g_chipCatalogue|FindChipBySignature")
    if(hits)
        set(bad "${bad}\n  the command line talks to the programmer or waits: ${f}: ${hits}")
    endif()
endforeach()

if(bad)
    message(FATAL_ERROR "layers crossed:${bad}")
endif()
