# The manual page, the readme and the Debian copyright and changelog files, and what
# `cpack -G DEB` needs to make a Debian package of the build: sfx-extract_<version>_<arch>.deb.

# Debian installs manual pages and changelogs compressed, without a time stamp (gzip -n),
# so that the same sources give the same package.
foreach(document doc/sfx-extract.1 doc/changelog)
  get_filename_component(name ${document} NAME)
  set(compressed ${CMAKE_BINARY_DIR}/${name}.gz)
  add_custom_command(OUTPUT ${compressed}
                     COMMAND sh -c "gzip -9n -c '${CMAKE_CURRENT_SOURCE_DIR}/${document}' > '${compressed}'"
                     DEPENDS ${document} VERBATIM)
  list(APPEND compressed_documents ${compressed})
endforeach()
add_custom_target(compressed_documents ALL DEPENDS ${compressed_documents})
install(FILES ${CMAKE_BINARY_DIR}/sfx-extract.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md doc/copyright ${CMAKE_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "sfx-extract developers <maintainers@users.noreply.c-seed-35bff765.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The long description; CPack puts CPACK_PACKAGE_DESCRIPTION_SUMMARY before it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Started in a folder that holds the archive Filelist.000 and its text listing
Filelist.txt, sfx-extract walks the listing once, picks every entry whose path
ends in .sfx, prints one report line for each, and writes each into a file of
its own in that folder.
.
Every output is complete or untouched, even when the run is killed; links,
the inputs and anything but regular files under an output's name are refused.")
set(CPACK_STRIP_FILES ON)
# The target's Debian architecture, so that a cross build packages for its target.
set(debian_architectures x86_64=amd64 aarch64=arm64 i686=i386 s390x=s390x)
foreach(pair IN LISTS debian_architectures)
  string(REPLACE "=" ";" pair ${pair})
  list(GET pair 0 processor)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL processor)
    list(GET pair 1 CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  endif()
endforeach()
# A static program depends on nothing, on purpose, and says so to lintian; otherwise
# dpkg-shlibdeps finds what it needs.
if(CMAKE_EXE_LINKER_FLAGS MATCHES "-static")
  file(WRITE ${CMAKE_BINARY_DIR}/lintian-overrides
       "sfx-extract: statically-linked-binary [usr/bin/sfx-extract]\n")
  install(FILES ${CMAKE_BINARY_DIR}/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME sfx-extract)
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
