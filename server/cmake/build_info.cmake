# Writes OUTPUT with the program's version and commit; leaves it untouched when nothing changed, so a
# build after a commit recompiles one small file and an unchanged tree nothing.
#   cmake -DSOURCE=dir -DOUTPUT=file -DVERSION=x.y.z [-DCOMMIT=hash] -P build_info.cmake
if(NOT COMMIT)
    execute_process(COMMAND git -C ${SOURCE} rev-parse --short=12 HEAD
                    OUTPUT_VARIABLE COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
    if(failed OR NOT COMMIT)
        set(COMMIT unknown)
    else()
        # Changes not committed are not that commit.
        execute_process(COMMAND git -C ${SOURCE} status --porcelain --untracked-files=no -- .
                        OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        if(changes)
            string(APPEND COMMIT "-modified")
        endif()
    endif()
endif()
set(text "// Written by cmake/build_info.cmake at build time.\n#include \"build_info.h\"\n\nconst char* const BuildVersion = \"${VERSION}\";\nconst char* const BuildCommit = \"${COMMIT}\";\n")
if(EXISTS ${OUTPUT})
    file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL text)
    file(WRITE ${OUTPUT} "${text}")
endif()
