# Read by cpack before it packs: the time of every file in the .deb is SOURCE_DATE_EPOCH,
# by default the time of the last commit of the tree the package is built from.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git -C "${CPACK_OSTRIVAN_SOURCE_DIR}" log -1 --format=%ct
                    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE failed ERROR_QUIET)
    if(failed OR NOT commit_time)
        message(WARNING "Neither SOURCE_DATE_EPOCH nor a commit: the package holds today's times")
    else()
        set(ENV{SOURCE_DATE_EPOCH} "${commit_time}")
    endif()
endif()
