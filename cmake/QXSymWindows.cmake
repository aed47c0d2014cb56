# The Windows build (cross-compiled with MinGW-w64, cmake/mingw-w64.cmake):
# the library is QXSymbolsA.dll, linked against Winsock, COM and OLE
# Automation, with the C and C++ runtimes inside so it needs no other DLL.
# The 32-bit DLL takes its export names from QXSymbolsA.def: plain names for
# the __stdcall functions, four decorated ones.
# Settings given to the bottom layer (src/platform) reach every layer above.
set(QXSYM_WINDOWS_LIBS ws2_32 ole32 oleaut32 uuid)
get_target_property(qxsym_platform_type qxsym_platform TYPE)
set(qxsym_platform_scope PUBLIC)
if(qxsym_platform_type STREQUAL "INTERFACE_LIBRARY")
  set(qxsym_platform_scope INTERFACE)
endif()
target_link_libraries(qxsym_platform ${qxsym_platform_scope} ${QXSYM_WINDOWS_LIBS})
target_link_libraries(QXSymbols PRIVATE ${QXSYM_WINDOWS_LIBS})
# windows.h without the old winsock.h, so the sockets code gets winsock2.h.
target_compile_definitions(qxsym_platform ${qxsym_platform_scope} WIN32_LEAN_AND_MEAN NOMINMAX)

# The ELF version script does not apply to a DLL.
get_target_property(qxsym_link_options QXSymbols LINK_OPTIONS)
list(FILTER qxsym_link_options EXCLUDE REGEX "version-script")
set_target_properties(QXSymbols PROPERTIES
  LINK_OPTIONS "${qxsym_link_options}"
  OUTPUT_NAME QXSymbolsA
  PREFIX ""
  IMPORT_PREFIX "")
target_link_options(QXSymbols PRIVATE -static)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_sources(QXSymbols PRIVATE ${PROJECT_SOURCE_DIR}/src/QXSymbolsA.def)
  # Exports come from the .def file alone; the import library is made
  # where the library is (cmake/QXSymImportLibrary.cmake).
  target_compile_definitions(qxsym_platform ${qxsym_platform_scope} QXSYMBOLS_DEF_EXPORTS)
endif()
