# What `cmake --install` puts under the prefix, and the Debian package made from it:
#   bin/vorx                          the tool
#   lib/libvorx.a, include/vorx.h     the archive library and its header
#   lib/pkgconfig/vorx.pc             for pkg-config
#   lib/cmake/vorx/                   for find_package(vorx): the imported target vorx::vorx
#   share/vorx/sfxstub-win32.exe      the stubs that `vorx a --sfx win32|win64` takes
#   share/vorx/sfxstub-win64.exe
#   share/man/man1/vorx.1             the manual page
# The Windows builds install vorx.exe with their own stub beside it (bin/sfxstub-<kind>.exe).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS vorx RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS libvorx ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/library/vorx.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# What libvorx.a needs from the link beyond the C library and the compiler's own
# support library: the C++ runtime (operator new and delete). It starts no threads,
# converts no text and calls no maths functions.
set(VORX_LINK_LIBRARIES stdc++)

# Both files find the prefix from where they lie, so an installed tree may be moved.
file(RELATIVE_PATH VORX_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
file(RELATIVE_PATH VORX_CONFIG_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/cmake/vorx /)
string(REGEX REPLACE "/$" "" VORX_PC_TO_PREFIX "${VORX_PC_TO_PREFIX}")
string(REGEX REPLACE "/$" "" VORX_CONFIG_TO_PREFIX "${VORX_CONFIG_TO_PREFIX}")
list(TRANSFORM VORX_LINK_LIBRARIES PREPEND -l OUTPUT_VARIABLE VORX_PC_LIBS)
list(JOIN VORX_PC_LIBS " " VORX_PC_LIBS)
configure_file(${PROJECT_SOURCE_DIR}/cmake/vorx.pc.in ${PROJECT_BINARY_DIR}/generated/vorx.pc @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/vorxConfig.cmake.in ${PROJECT_BINARY_DIR}/generated/vorxConfig.cmake @ONLY)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/generated/vorxConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/generated/vorx.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
install(FILES ${PROJECT_BINARY_DIR}/generated/vorxConfig.cmake
              ${PROJECT_BINARY_DIR}/generated/vorxConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vorx)

configure_file(${PROJECT_SOURCE_DIR}/doc/vorx.1.in ${PROJECT_BINARY_DIR}/generated/vorx.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/generated/vorx.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The stubs of the two Windows builds: the Linux build installs them, and the 64-bit
# build's tests also check the shipped 32-bit one.
set(VORX_STUB_WIN32 ${PROJECT_SOURCE_DIR}/build/win32/bin/sfxstub.exe CACHE FILEPATH
    "The 32-bit stub to install (made by the win32 preset)")
set(VORX_STUB_WIN64 ${PROJECT_SOURCE_DIR}/build/win64/bin/sfxstub.exe CACHE FILEPATH
    "The 64-bit stub to install (made by the win64 preset)")

if(WIN32)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(VORX_STUB_KIND win32)
  else()
    set(VORX_STUB_KIND win64)
  endif()
  install(PROGRAMS $<TARGET_FILE:sfxstub> DESTINATION ${CMAKE_INSTALL_BINDIR}
          RENAME sfxstub-${VORX_STUB_KIND}.exe)
  return()
endif()

# The Linux build makes no stub: it installs those of the two Windows builds.
install(CODE "
  foreach(stub \"${VORX_STUB_WIN32}\" \"${VORX_STUB_WIN64}\")
    if(NOT EXISTS \"\${stub}\")
      message(FATAL_ERROR \"\${stub} is missing: build the Windows presets first (make win32 win64), or name the stubs with -DVORX_STUB_WIN32=... -DVORX_STUB_WIN64=...\")
    endif()
  endforeach()")
install(FILES ${VORX_STUB_WIN32} DESTINATION ${CMAKE_INSTALL_DATADIR}/vorx RENAME sfxstub-win32.exe)
install(FILES ${VORX_STUB_WIN64} DESTINATION ${CMAKE_INSTALL_DATADIR}/vorx RENAME sfxstub-win64.exe)

# `make package`: a Debian package of the same tree under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-extracting archives for Windows: tool, library and stubs")
set(CPACK_PACKAGE_DESCRIPTION
    "vorx makes archives and Windows self-extractors and lists, tests and extracts them.\nThe package holds the vorx tool, the archive library libvorx.a with its header,\npkg-config and CMake files, and the 32- and 64-bit self-extractor stubs.")
set(CPACK_PACKAGE_CONTACT "vorx developers <vorx@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
