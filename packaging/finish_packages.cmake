# Run by CPack once the packages are built, for what CPack cannot say:
#  - the library package gets the ldconfig trigger Debian asks for, in place
#    of the postinst and postrm that CPack writes to call ldconfig;
#  - the library and -dev packages are Multi-Arch: same, so that those of
#    several architectures install side by side (every file they share,
#    headers and documentation, is the same bytes on each).
# Rebuilt with dpkg-deb, which takes its times from SOURCE_DATE_EPOCH, so
# two builds still give the same bytes.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${package}" NAME)
  if(NOT name MATCHES "^libpuretone([0-9]+|-dev)_")
    continue()
  endif()
  set(root "${CPACK_TOPLEVEL_DIRECTORY}/finish_packages")
  file(REMOVE_RECURSE "${root}")
  execute_process(COMMAND dpkg-deb -R "${package}" "${root}" COMMAND_ERROR_IS_FATAL ANY)
  file(READ "${root}/DEBIAN/control" control)
  string(REGEX REPLACE "Architecture: ([^\n]+)\n" "Architecture: \\1\nMulti-Arch: same\n" control "${control}")
  file(WRITE "${root}/DEBIAN/control" "${control}")
  if(name MATCHES "^libpuretone[0-9]+_")
    file(REMOVE "${root}/DEBIAN/postinst" "${root}/DEBIAN/postrm")
    file(WRITE "${root}/DEBIAN/triggers" "activate-noawait ldconfig\n")
    file(CHMOD "${root}/DEBIAN/triggers" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b "${root}" "${package}" OUTPUT_QUIET
                  COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${root}")
endforeach()
