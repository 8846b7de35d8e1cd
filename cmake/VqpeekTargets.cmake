# How the project's own targets are made.

# Warnings, position-independent code and hidden internals for a target of
# this project (never set globally, so a parent build keeps its own flags).
function(vqpeek_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  target_compile_features(${target} PUBLIC cxx_std_20)
  set_target_properties(${target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    CXX_EXTENSIONS OFF)
endfunction()

# A library module: its sources are compiled once, as the objects of
# vqpeek_<name>_objects, which make both the library vqpeek_<name> (static,
# or shared with BUILD_SHARED_LIBS) and, for the project's own tests,
# vqpeek_internal. The public headers are in include/vqpeek/ of the module.
# PRIVATE_DEPENDS are libraries that only the module's sources use (a
# static library still passes them on to what links it).
#   vqpeek_add_module(<name> SOURCES ... [DEPENDS <libraries>...]
#                     [PRIVATE_DEPENDS <libraries>...])
function(vqpeek_add_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;PRIVATE_DEPENDS" ${ARGN})
  set(objects vqpeek_${name}_objects)
  set(library vqpeek_${name})
  set(include $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
              $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

  add_library(${objects} OBJECT ${ARG_SOURCES})
  target_include_directories(${objects} PUBLIC ${include})
  target_link_libraries(${objects} PUBLIC ${ARG_DEPENDS} PRIVATE ${ARG_PRIVATE_DEPENDS})
  vqpeek_target_defaults(${objects})

  add_library(${library} $<TARGET_OBJECTS:${objects}>)
  add_library(vqpeek::${name} ALIAS ${library})
  target_include_directories(${library} PUBLIC ${include})
  target_link_libraries(${library} PUBLIC ${ARG_DEPENDS} PRIVATE ${ARG_PRIVATE_DEPENDS})
  target_compile_features(${library} PUBLIC cxx_std_20)
  set_target_properties(${library} PROPERTIES
    EXPORT_NAME ${name}
    VERSION ${PROJECT_VERSION}
    # Before 1.0 every minor version may change the ABI, so the SONAME
    # carries both numbers (libvqpeek_cb.so.0.18), and the Debian library
    # package is named after it (debian/control).
    SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}
    # A shared module finds the modules below it beside itself, wherever
    # the libraries are installed.
    INSTALL_RPATH "$ORIGIN")
  set_property(GLOBAL APPEND PROPERTY VQPEEK_MODULE_OBJECTS ${objects})
  set_property(GLOBAL APPEND PROPERTY VQPEEK_MODULE_PRIVATE_LIBRARIES ${ARG_PRIVATE_DEPENDS})
endfunction()
