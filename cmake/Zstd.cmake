# zstd, for the compressed parts of delta releases (mkpatch compresses, the
# launcher decompresses): Debian's library natively, and for Windows the same
# release built from Debian's source package (fetched and checked by
# scripts/fetch-zstd-source.sh). Target: rqzstd.
add_library(rqzstd INTERFACE)
if(WIN32)
  set(RQ_ZSTD_SOURCE_DIR "${CMAKE_SOURCE_DIR}/.deps/zstd" CACHE PATH "Debian's zstd source tree")
  if(NOT EXISTS "${RQ_ZSTD_SOURCE_DIR}/.verified")
    execute_process(COMMAND "${CMAKE_SOURCE_DIR}/scripts/fetch-zstd-source.sh" RESULT_VARIABLE rq_zstd_fetch)
    if(NOT rq_zstd_fetch EQUAL 0)
      message(FATAL_ERROR "zstd source missing: run scripts/install-deps.sh")
    endif()
  endif()
  file(GLOB rq_zstd_sources "${RQ_ZSTD_SOURCE_DIR}/lib/common/*.c" "${RQ_ZSTD_SOURCE_DIR}/lib/compress/*.c"
       "${RQ_ZSTD_SOURCE_DIR}/lib/decompress/*.c")
  add_library(rqzstd_static STATIC ${rq_zstd_sources})
  target_include_directories(rqzstd_static SYSTEM PUBLIC "${RQ_ZSTD_SOURCE_DIR}/lib")
  # Multi-threaded compression for mkpatch; no assembly (the x86-64 decoder's
  # .S file is written for the System V calling convention).
  target_compile_definitions(rqzstd_static PRIVATE ZSTD_MULTITHREAD ZSTD_DISABLE_ASM XXH_NAMESPACE=ZSTD_)
  target_compile_options(rqzstd_static PRIVATE -w -O2)
  find_package(Threads REQUIRED)
  target_link_libraries(rqzstd_static PUBLIC Threads::Threads)
  target_link_libraries(rqzstd INTERFACE rqzstd_static)
else()
  find_path(RQ_ZSTD_INCLUDE_DIR zstd.h REQUIRED)
  find_library(RQ_ZSTD_LIBRARY NAMES zstd REQUIRED)
  target_include_directories(rqzstd SYSTEM INTERFACE "${RQ_ZSTD_INCLUDE_DIR}")
  target_link_libraries(rqzstd INTERFACE "${RQ_ZSTD_LIBRARY}")
endif()
