# Installs the headers, the shared library, a CMake package
# (find_package(QXSymbols) gives QXSymbols::QXSymbols) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS QXSymbols EXPORT QXSymbolsTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/QXSymbols.h
              ${PROJECT_SOURCE_DIR}/include/QXSymDirectAccess.h
              ${PROJECT_SOURCE_DIR}/include/QXSymbolsExt.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT QXSymbolsTargets NAMESPACE QXSymbols::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/QXSymbols)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/QXSymbolsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QXSymbolsConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/QXSymbols)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QXSymbolsConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QXSymbolsConfig.cmake
              ${PROJECT_BINARY_DIR}/QXSymbolsConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/QXSymbols)

# The .pc file finds its prefix relative to itself, so the installed tree
# can be moved or installed with --prefix.
file(RELATIVE_PATH QXSYM_PC_RELATIVE_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" QXSYM_PC_RELATIVE_PREFIX "${QXSYM_PC_RELATIVE_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/QXSymbols.pc.in
               ${PROJECT_BINARY_DIR}/QXSymbols.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/QXSymbols.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The simulator and the model generator, and the demo model the installed
# qxsym-sim serves when given no --model (found relative to the program).
foreach(tool qxsym-sim qxsym-genmodel)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
if(TARGET qxsym-sim)
  install(FILES ${PROJECT_SOURCE_DIR}/sim/models/demo.json
          DESTINATION ${CMAKE_INSTALL_DATADIR}/qxsymbols/models)
endif()

# Each tool's manual page, installed with the tool.
foreach(tool qxsym qxsym-sim qxsym-genmodel qxsym-bridge)
  if(TARGET ${tool})
    install(FILES ${PROJECT_SOURCE_DIR}/docs/man/${tool}.1
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
