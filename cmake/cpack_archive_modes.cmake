# Run by cpack once it has made the packages. A Debian package is an ar archive whose
# member headers carry the modes of the files cpack wrote the members from, and those the
# umask set (rw------- under umask 077). Each is set to rw-r--r--, as dpkg-deb writes it, so
# that a package is the same bytes under any umask. A header is 60 bytes of text: name,
# time, owner, group, then the mode in octal at byte 40, and the size at byte 48.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  file(SIZE "${package}" total)
  set(offset 8)  # after "!<arch>\n"
  while(offset LESS total)
    file(READ "${package}" header OFFSET ${offset} LIMIT 60)
    string(SUBSTRING "${header}" 48 10 size)
    string(STRIP "${size}" size)
    math(EXPR mode_at "${offset} + 40")
    execute_process(COMMAND sh -c "printf '100644  ' | dd of=\"$1\" bs=1 seek=\"$2\" conv=notrunc status=none"
                            mode "${package}" ${mode_at}
                    RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "cannot set the member modes of ${package}")
    endif()
    math(EXPR offset "${offset} + 60 + ${size} + ${size} % 2")
  endwhile()
endforeach()
