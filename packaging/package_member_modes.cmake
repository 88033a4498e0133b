# SPDX-License-Identifier: Apache-2.0
# cpack runs this after making the package. CPack gives the three members of
# the .deb's ar archive (debian-binary, control.tar.*, data.tar.*) the modes
# the umask left; they become 0644, as dpkg-deb writes them, so that the
# umask does not change the package's bytes. Each member's header is 60
# ASCII bytes: the mode (8 bytes) at 40, the size (10 bytes) at 48.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  set(header_offset 8)
  foreach(member RANGE 1 3)
    file(READ "${deb}" header OFFSET ${header_offset} LIMIT 60)
    string(SUBSTRING "${header}" 48 10 size)
    string(STRIP "${size}" size)
    math(EXPR mode_offset "${header_offset} + 40")
    execute_process(COMMAND printf "%-8s" 100644
                    COMMAND dd "of=${deb}" bs=1 seek=${mode_offset} conv=notrunc status=none
                    COMMAND_ERROR_IS_FATAL ANY)
    math(EXPR header_offset "${header_offset} + 60 + ${size} + ${size} % 2")
  endforeach()
endforeach()
