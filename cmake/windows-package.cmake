# The zip a pilot downloads: korvan-bridge.exe, its README (with Windows line ends) and the exe's
# SHA-256. `cpack` in the Windows build makes korvan-bridge-<version>-win64.zip, holding one
# folder of that name; scripts/package.sh makes it and lists it.
configure_file(${PROJECT_SOURCE_DIR}/docs/windows/README.txt ${CMAKE_BINARY_DIR}/package/README.txt
               @ONLY NEWLINE_STYLE CRLF)
install(TARGETS korvan-bridge RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/package/README.txt DESTINATION .)
# After the exe's install, which strips it: the sum is that of the file shipped.
install(CODE [[
  set(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  file(SHA256 "${folder}/korvan-bridge.exe" sum)
  file(WRITE "${folder}/SHA256.txt" "${sum}  korvan-bridge.exe\r\n")
]])

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME korvan-bridge)
set(CPACK_PACKAGE_VENDOR "Korvan Avionics")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME korvan-bridge-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)
