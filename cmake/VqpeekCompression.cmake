# Compressed inputs: gzip through zlib, zstd through libzstd, each where it
# is found; a build without one reads plain files and names the library
# that a file compressed that way needs. VQPEEK_COMPRESSION=OFF leaves both
# out. Found here, at the top, so that every directory sees the targets.
#   VQPEEK_HAVE_ZLIB, VQPEEK_HAVE_ZSTD     1 or 0
#   VQPEEK_COMPRESSION_LIBRARIES           the targets to link
option(VQPEEK_COMPRESSION "Read gzip and zstd files (zlib, libzstd) where the libraries are found" ON)
set(VQPEEK_COMPRESSION_LIBRARIES)
set(VQPEEK_HAVE_ZLIB 0)
set(VQPEEK_HAVE_ZSTD 0)
if(VQPEEK_COMPRESSION)
  find_package(ZLIB QUIET)
  if(ZLIB_FOUND)
    set(VQPEEK_HAVE_ZLIB 1)
    list(APPEND VQPEEK_COMPRESSION_LIBRARIES ZLIB::ZLIB)
  endif()
  find_package(zstd CONFIG QUIET)
  if(TARGET zstd::libzstd_shared)
    set(VQPEEK_HAVE_ZSTD 1)
    list(APPEND VQPEEK_COMPRESSION_LIBRARIES zstd::libzstd_shared)
  elseif(TARGET zstd::libzstd_static)
    set(VQPEEK_HAVE_ZSTD 1)
    list(APPEND VQPEEK_COMPRESSION_LIBRARIES zstd::libzstd_static)
  endif()
endif()
message(STATUS "vqpeek compressed files: gzip ${VQPEEK_HAVE_ZLIB} (zlib), zstd ${VQPEEK_HAVE_ZSTD} (libzstd)")
