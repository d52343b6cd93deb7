# Run by cpack once it has installed the files into its staging folder, before it packs
# them: every folder there, the ones cpack made itself included, gets rwxr-xr-x whatever
# the umask, as the install rules give the folders they make, so that a package is the
# same bytes under any umask and its folders can be read by everyone once installed.
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(entry IN LISTS entries ITEMS "${CPACK_TEMPORARY_DIRECTORY}")
  if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
    file(CHMOD "${entry}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
