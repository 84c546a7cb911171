# Read by cpack before it packs (CPACK_PROJECT_CONFIG_FILE): every archive entry gets
# the time of the commit being packed, so that the same commit packs the same bytes
# whenever it is built. A SOURCE_DATE_EPOCH already set wins; a tree outside git gets
# 1980-01-01, the earliest time a ZIP entry holds.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git -C "${CPACK_ZEPHRA_SOURCE_DIR}" log -1 --format=%ct
        OUTPUT_VARIABLE commit_time RESULT_VARIABLE git_rc ERROR_QUIET
        OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT git_rc EQUAL 0 OR NOT commit_time MATCHES "^[0-9]+$")
        set(commit_time 315532800)
    endif()
    set(ENV{SOURCE_DATE_EPOCH} "${commit_time}")
endif()
