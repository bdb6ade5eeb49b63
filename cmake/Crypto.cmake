# OpenSSL's libcrypto, for SHA-256 (with the processor's SHA extensions where
# it has them) and Ed25519: Debian's library natively, and for Windows the same
# release built from Debian's source package (fetched by
# scripts/fetch-openssl-source.sh). Target: rqcrypto.
if(WIN32)
  set(RQ_OPENSSL_SOURCE_DIR "${CMAKE_SOURCE_DIR}/.deps/openssl" CACHE PATH "Patched OpenSSL source tree")
  if(NOT EXISTS "${RQ_OPENSSL_SOURCE_DIR}/.verified")
    execute_process(COMMAND "${CMAKE_SOURCE_DIR}/scripts/fetch-openssl-source.sh" RESULT_VARIABLE rq_ssl_fetch)
    if(NOT rq_ssl_fetch EQUAL 0)
      message(FATAL_ERROR "OpenSSL source missing: run scripts/install-deps.sh")
    endif()
  endif()
  find_program(RQ_PERL perl REQUIRED)
  find_program(RQ_MAKE make REQUIRED)

  # Only libcrypto, only what hashing and Ed25519 need: no TLS, no engines or
  # loadable modules, no legacy ciphers. no-autoload-config matters beyond
  # size: the launcher runs as administrator, and an openssl.cnf that any user
  # could place on the default configuration path must not be read.
  set(rq_ssl_options
    no-shared no-module no-dso no-engine no-tests no-ssl no-tls no-dtls no-sock
    no-legacy no-deprecated no-ui-console no-autoload-config no-stdio no-async no-multiblock
    no-aria no-bf no-blake2 no-camellia no-cast no-chacha no-cmac no-cms no-cmp no-comp no-ct
    no-des no-dh no-dsa no-ec2m no-gost no-idea no-md4 no-mdc2 no-ocb no-ocsp no-poly1305
    no-rc2 no-rc4 no-rmd160 no-scrypt no-seed no-siphash no-siv no-sm2 no-sm3 no-sm4 no-srp
    no-srtp no-whirlpool no-ts no-rfc3779)

  # Another Windows build tree of this checkout may lend its finished
  # libcrypto (same sources, same options), which saves minutes of compiling
  # for a second configuration of the launcher. Only a finished one is taken.
  set(RQ_OPENSSL_PREBUILT "" CACHE PATH "A build tree's openssl folder whose libcrypto.a to use as it is")
  cmake_host_system_information(RESULT rq_cores QUERY NUMBER_OF_LOGICAL_CORES)
  set(rq_ssl_build "${CMAKE_BINARY_DIR}/openssl")
  set(rq_ssl_lend FALSE)
  if(RQ_OPENSSL_PREBUILT AND EXISTS "${RQ_OPENSSL_PREBUILT}/libcrypto.a"
     AND "${RQ_OPENSSL_PREBUILT}/libcrypto.a" IS_NEWER_THAN "${RQ_OPENSSL_SOURCE_DIR}/.verified")
    set(rq_ssl_build "${RQ_OPENSSL_PREBUILT}")
    set(rq_ssl_lend TRUE)
    message(STATUS "libcrypto: the finished one in ${rq_ssl_build}")
  endif()
  include(ExternalProject)
  if(NOT rq_ssl_lend)
    ExternalProject_Add(openssl_build
      SOURCE_DIR "${RQ_OPENSSL_SOURCE_DIR}"
      BINARY_DIR "${rq_ssl_build}"
      DOWNLOAD_COMMAND ""
      UPDATE_COMMAND ""
      CONFIGURE_COMMAND "${RQ_PERL}" "${RQ_OPENSSL_SOURCE_DIR}/Configure" mingw64
        "CC=${CMAKE_C_COMPILER}" "AR=${CMAKE_AR}" "RANLIB=${CMAKE_RANLIB}" "RC=${CMAKE_RC_COMPILER}"
        ${rq_ssl_options}
      # The generated headers first: the library's own rules do not order them.
      BUILD_COMMAND "${RQ_MAKE}" -s build_generated
        COMMAND "${RQ_MAKE}" -s -j${rq_cores} libcrypto.a
      INSTALL_COMMAND ""
      BUILD_BYPRODUCTS "${rq_ssl_build}/libcrypto.a"
      LOG_CONFIGURE ON
      LOG_BUILD ON
      LOG_OUTPUT_ON_FAILURE ON)
    # A new source release (new pins) configures and builds afresh.
    ExternalProject_Add_StepDependencies(openssl_build configure "${RQ_OPENSSL_SOURCE_DIR}/.verified")
  endif()

  file(MAKE_DIRECTORY "${rq_ssl_build}/include")
  add_library(rqcrypto STATIC IMPORTED GLOBAL)
  set_target_properties(rqcrypto PROPERTIES
    IMPORTED_LOCATION "${rq_ssl_build}/libcrypto.a"
    INTERFACE_INCLUDE_DIRECTORIES "${rq_ssl_build}/include;${RQ_OPENSSL_SOURCE_DIR}/include"
    INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;advapi32;user32")
  if(NOT rq_ssl_lend)
    add_dependencies(rqcrypto openssl_build)
  endif()
else()
  find_package(OpenSSL 3.0 REQUIRED COMPONENTS Crypto)
  add_library(rqcrypto INTERFACE)
  target_link_libraries(rqcrypto INTERFACE OpenSSL::Crypto)
endif()
