# The 32-bit Windows build: included from src/CMakeLists.txt, where the
# library target is, after it is made.
include(GNUInstallDirs)

# A caller compiled with QXSymbols.h refers to each __stdcall function by its
# decorated name (__imp__QXSym_IsInitOk@0), while the 32-bit DLL exports the
# plain name (QXSym_IsInitOk) for all but four. The import library the linker
# writes from the export list offers the plain names only, so it is replaced
# by one that maps each decorated name to the DLL's export. Its description,
# QXSymbolsA.def beside the DLL, is shipped for other tool chains; both come
# from the export list, one line each:
#   QXSym_IsInitOk@0                                 plain export
#   QXSym_GetServerVersion@20 == _QXSym_GetServerVersion@20   decorated export
file(STRINGS ${PROJECT_SOURCE_DIR}/src/QXSymbolsA.def lines REGEX "^[ \t]+[A-Za-z_].*=")
set(text "; Import description of QXSymbolsA.dll (32-bit): each __stdcall function\n")
string(APPEND text "; by its decorated name, and the DLL's export it stands for. MinGW:\n")
string(APPEND text ";   dlltool -k -d QXSymbolsA.def -D QXSymbolsA.dll -l QXSymbolsA.dll.a\n")
string(APPEND text "LIBRARY QXSymbolsA.dll\nEXPORTS\n")
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  string(REGEX MATCH "^([^=]+)=(.+)$" matched "${line}")
  set(exported ${CMAKE_MATCH_1})
  set(function ${CMAKE_MATCH_2})
  if(exported MATCHES "^_")
    string(APPEND text "  ${function} == ${exported}\n")
  else()
    string(APPEND text "  ${function}\n")
  endif()
endforeach()
set(def ${PROJECT_BINARY_DIR}/src/QXSymbolsA.def)
file(GENERATE OUTPUT ${def} CONTENT "${text}")
find_program(QXSYM_DLLTOOL ${QXSYM_MINGW_PREFIX}-dlltool REQUIRED)
add_custom_command(TARGET QXSymbols POST_BUILD
  COMMAND ${QXSYM_DLLTOOL} -k -d ${def} -D QXSymbolsA.dll -l $<TARGET_LINKER_FILE:QXSymbols>
  COMMENT "Import library for __stdcall callers"
  VERBATIM)
set_property(TARGET QXSymbols APPEND PROPERTY LINK_DEPENDS ${def})
install(FILES ${def} DESTINATION ${CMAKE_INSTALL_BINDIR})
