# Run by CPack after it made the .deb (CPACK_POST_BUILD_SCRIPTS). CPack adds maintainer scripts that
# call ldconfig whenever a shared object lies below /usr/lib, but the player's modules in
# /usr/lib/orvane/ are private, outside the linker's search path: there is nothing for ldconfig to
# do, and Debian wants no such calls. The package is rebuilt without those two scripts.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE ${tree}/DEBIAN/postinst ${tree}/DEBIAN/postrm)
  execute_process(COMMAND dpkg-deb --root-owner-group --build ${tree} ${deb}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
