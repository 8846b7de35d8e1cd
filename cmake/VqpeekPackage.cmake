# `make package`: Debian packages of everything `cmake --install` installs:
# vqpeek (the program, the libraries with their headers, CMake and pkg-config
# files, the manual page and the documentation) and, where the Python
# package is built, python3-vqpeek.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vqpeek)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "The vqpeek viewer and the C++ library it is built on: read, write and inspect training sets, codebooks, partitionings and neighbour graphs, with exact nearest-vector partitioning.")
set(CPACK_PACKAGE_CONTACT "The vqpeek authors <vqpeek@users.noreply.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_DEBIAN_VQPEEK_PACKAGE_NAME vqpeek)
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-vqpeek)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
# The Python module holds the library's code itself.
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3, python3-numpy")
include(CPack)
cpack_add_component(program GROUP vqpeek)
cpack_add_component(library GROUP vqpeek)
cpack_add_component_group(vqpeek)
if(TARGET vqpeek_python)
  cpack_add_component(python GROUP python)
  cpack_add_component_group(python)
endif()
