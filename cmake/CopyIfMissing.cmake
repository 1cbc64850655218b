# cmake -DSRC=file -DDEST=file -P CopyIfMissing.cmake
# Copies SRC to DEST only when DEST does not exist, so a file the user has edited there is
# never replaced by a build.
if(NOT EXISTS "${DEST}")
    get_filename_component(dest_dir "${DEST}" DIRECTORY)
    file(MAKE_DIRECTORY "${dest_dir}")
    file(COPY_FILE "${SRC}" "${DEST}")
endif()
