# The same commit gives the same files wherever its tree and the build folder lie: no paths
# in the objects and no link time in the PE header. The packages take their files' times
# from SOURCE_DATE_EPOCH or, without it, from the last commit (DebianPackageTime.cmake,
# build_msi.sh).
include_guard(GLOBAL)

# GCC tries the map given last first: the build folder wins where it lies in the tree.
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                    -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
if(WIN32)
    add_link_options(-Wl,--no-insert-timestamp)
endif()
