# Run by cpack after it made the archives (CPACK_POST_BUILD_SCRIPTS): SHA256SUMS beside
# them, one "hash  name" line an archive in name order, as sha256sum writes and checks it.
set(files ${CPACK_PACKAGE_FILES})
list(SORT files)
set(text "")
foreach(file IN LISTS files)
    get_filename_component(name "${file}" NAME)
    file(SHA256 "${file}" hash)
    string(APPEND text "${hash}  ${name}\n")
endforeach()
# The archives are copied from where they were made into CPACK_PACKAGE_DIRECTORY next.
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${text}")
