# Release packages, made by CPack (scripts/package.sh runs it for each
# build): on Windows a zip with the DLL, the tools, the import libraries for
# MinGW and for Microsoft's linker and the definition file they come from;
# on Linux a tar.gz and a .deb with the shared library, the tools, and the
# CMake and pkg-config files. Both carry the header, the example settings
# and definition files, the README and the LICENSE.

install(FILES etc/bitmap.txt etc/8583.ini examples/purchase.c examples/terminals.c
  DESTINATION ${CMAKE_INSTALL_DATADIR}/tranpak/examples)

if(WIN32)
  # The definition file is written by the linker from the DLL's own export
  # table, so it never lists a name the DLL lacks. tranpak.lib is made from
  # it by dlltool: an import library in the archive format Microsoft's
  # linker reads (32-bit names get the leading underscore of __cdecl).
  set(TRANPAK_DEF ${CMAKE_CURRENT_BINARY_DIR}/tranpak.def)
  set(TRANPAK_MSVC_IMPLIB ${CMAKE_CURRENT_BINARY_DIR}/tranpak.lib)
  target_link_options(tranpak PRIVATE "LINKER:--output-def,${TRANPAK_DEF}")
  string(REGEX REPLACE "gcc(-[a-z0-9]+)?$" "dlltool" TRANPAK_DLLTOOL_NAME "${CMAKE_C_COMPILER}")
  find_program(TRANPAK_DLLTOOL NAMES ${TRANPAK_DLLTOOL_NAME} REQUIRED)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TRANPAK_DLLTOOL_MACHINE i386:x86-64)
    set(TRANPAK_PACKAGE_SYSTEM win64)
  else()
    set(TRANPAK_DLLTOOL_MACHINE i386)
    set(TRANPAK_PACKAGE_SYSTEM win32)
  endif()
  add_custom_command(OUTPUT ${TRANPAK_MSVC_IMPLIB}
    COMMAND ${TRANPAK_DLLTOOL} -m ${TRANPAK_DLLTOOL_MACHINE} -d ${TRANPAK_DEF} -D tranpak.dll
            -l ${TRANPAK_MSVC_IMPLIB}
    DEPENDS tranpak
    COMMENT "Import library for Microsoft's linker: tranpak.lib")
  add_custom_target(tranpak_msvc_implib ALL DEPENDS ${TRANPAK_MSVC_IMPLIB})
  install(FILES ${TRANPAK_DEF} ${TRANPAK_MSVC_IMPLIB} DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES README.md LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
else()
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(TRANPAK_PACKAGE_SYSTEM linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_GENERATOR TGZ DEB)
endif()

set(CPACK_PACKAGE_NAME tranpak)
set(CPACK_PACKAGE_VENDOR "the tranpak authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ISO 8583-style message library with a C interface")
set(CPACK_PACKAGE_FILE_NAME tranpak-${PROJECT_VERSION}-${TRANPAK_PACKAGE_SYSTEM})
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the tranpak authors")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Registers the library with ldconfig on installation.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
include(CPack)
