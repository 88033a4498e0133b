# SPDX-License-Identifier: Apache-2.0
# cpack runs this between staging the files and making the package. The
# folders it staged have the modes the umask left (install rules give files
# their modes, but the folders the staging makes follow the umask); a
# package built under umask 027 would install folders others cannot read.
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(path IN LISTS staged)
  if(IS_DIRECTORY "${path}" AND NOT IS_SYMLINK "${path}")
    file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                                     GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
