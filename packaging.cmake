# The packages made by cpack from a build tree: on Linux a Debian package
# (cpack -G DEB) that installs the programs and manual pages under /usr, on
# Windows a zip (cpack -G ZIP) with the programs, the README and the manual
# pages as text. The version comes from project().
set(CPACK_PACKAGE_NAME mio0-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "mio0-tools")
set(CPACK_PACKAGE_CONTACT "mio0-tools maintainers <maintainers@mio0-tools.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "decode, encode and list MIO0 blocks; exchange byte pairs of files")
set(CPACK_PACKAGE_DESCRIPTION
  "mio0-decode decodes the MIO0 block at an offset of a file, in normal or\n pair-swapped storage, or lists every block of a file. mio0-encode writes\n the smallest MIO0 block for a file. byte-swap copies a file with every\n pair of bytes exchanged.")

if(WIN32)
  # One folder, mio0-tools-VERSION-win64, with the .exe files at its top;
  # the programs are linked statically, so nothing else is needed to run
  # them.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  set(CPACK_PACKAGE_FILE_NAME mio0-tools-${PROJECT_VERSION}-win64)
  set(CPACK_GENERATOR ZIP)
else()
  # The dependencies are those dpkg-shlibdeps finds in the programs.
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_GENERATOR DEB)
endif()
include(CPack)
