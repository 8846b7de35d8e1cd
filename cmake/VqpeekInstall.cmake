# What `cmake --install` puts where: the program, the libraries with their
# headers, a CMake package (find_package(vqpeek)), a pkg-config file, the
# manual page and the documentation.
include(CMakePackageConfigHelpers)

set(VQPEEK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vqpeek)

foreach(program vqpeek vqtrain)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
  endif()
endforeach()
install(TARGETS vqpeek_interfc vqpeek_file vqpeek_cb vqpeek_library
  EXPORT vqpeekTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
foreach(module interfc file cb)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/modules/${module}/include/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT library)
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/generated/include/vqpeek/version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vqpeek COMPONENT library)

install(EXPORT vqpeekTargets NAMESPACE vqpeek:: DESTINATION ${VQPEEK_CMAKE_DIR}
  COMPONENT library)
# The compression libraries: a shared library brings them itself, a static
# one needs them on its consumer's link line.
set(VQPEEK_FIND_COMPRESSION "")
set(vqpeek_pc_compression "")
if(VQPEEK_HAVE_ZLIB)
  string(APPEND vqpeek_pc_compression " -lz")
  if(NOT BUILD_SHARED_LIBS)
    string(APPEND VQPEEK_FIND_COMPRESSION "find_dependency(ZLIB)\n")
  endif()
endif()
if(VQPEEK_HAVE_ZSTD)
  string(APPEND vqpeek_pc_compression " -lzstd")
  if(NOT BUILD_SHARED_LIBS)
    string(APPEND VQPEEK_FIND_COMPRESSION "find_dependency(zstd CONFIG)\n")
  endif()
endif()
configure_package_config_file(cmake/vqpeekConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vqpeekConfig.cmake INSTALL_DESTINATION ${VQPEEK_CMAKE_DIR})
# Before 1.0 a minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vqpeekConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vqpeekConfig.cmake ${PROJECT_BINARY_DIR}/vqpeekConfigVersion.cmake
  DESTINATION ${VQPEEK_CMAKE_DIR} COMPONENT library)

# The pkg-config file and the manual page name installed paths, so they are
# made when installing, under the prefix of that installation (`cmake
# --install --prefix`, a package's own prefix).
if(BUILD_SHARED_LIBS)
  set(vqpeek_pc_libs "")
  set(vqpeek_pc_libs_private "-pthread${vqpeek_pc_compression}")
else()
  # A static library needs its thread and compression libraries on the
  # link line.
  set(vqpeek_pc_libs "-pthread${vqpeek_pc_compression}")
  set(vqpeek_pc_libs_private "")
endif()
set(vqpeek_generated ${PROJECT_BINARY_DIR}/install-time)
install(CODE "
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  set(PROJECT_DESCRIPTION \"${PROJECT_DESCRIPTION}\")
  set(VQPEEK_PC_LIBS \"${vqpeek_pc_libs}\")
  set(VQPEEK_PC_LIBS_PRIVATE \"${vqpeek_pc_libs_private}\")
  set(VQPEEK_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(CMAKE_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(VQPEEK_FORMATS_DOC \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DOCDIR}/file_formats.md\")
  configure_file(\"${PROJECT_SOURCE_DIR}/cmake/vqpeek.pc.in\" \"${vqpeek_generated}/vqpeek.pc\" @ONLY)
  configure_file(\"${PROJECT_SOURCE_DIR}/doc/vqpeek.1.in\" \"${vqpeek_generated}/vqpeek.1\" @ONLY)
  configure_file(\"${PROJECT_SOURCE_DIR}/doc/vqtrain.1.in\" \"${vqpeek_generated}/vqtrain.1\" @ONLY)
  file(INSTALL \"${vqpeek_generated}/vqpeek.pc\"
    DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")
  file(INSTALL \"${vqpeek_generated}/vqpeek.1\" \"${vqpeek_generated}/vqtrain.1\"
    DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1\")
" COMPONENT library)
install(FILES doc/file_formats.md README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR}
  COMPONENT library)
