# Run by CPack once the packages are built: the library package gets the
# ldconfig trigger Debian asks for, in place of the postinst and postrm that
# CPack writes to call ldconfig. Rebuilt with dpkg-deb, which takes its times
# from SOURCE_DATE_EPOCH, so two builds still give the same bytes.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${package}" NAME)
  if(NOT name MATCHES "^libpuretone[0-9]+_")
    continue()
  endif()
  set(root "${CPACK_TOPLEVEL_DIRECTORY}/ldconfig_trigger")
  file(REMOVE_RECURSE "${root}")
  execute_process(COMMAND dpkg-deb -R "${package}" "${root}" COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE "${root}/DEBIAN/postinst" "${root}/DEBIAN/postrm")
  file(WRITE "${root}/DEBIAN/triggers" "activate-noawait ldconfig\n")
  file(CHMOD "${root}/DEBIAN/triggers" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b "${root}" "${package}" OUTPUT_QUIET
                  COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${root}")
endforeach()
