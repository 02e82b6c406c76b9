# libgcrypt, the project's one cryptographic library (SHA-256, BLAKE2b,
# Ed25519, scrypt), as the imported target Gcrypt::Gcrypt.
#
# Linux: Debian's libgcrypt20-dev through pkg-config. Windows: the static
# libraries of libgcrypt-mingw-w64-dev and libgpg-error-mingw-w64-dev (the
# executables are linked statically, see mingw-w64-i686.cmake); libgpg-error
# needs Winsock, and libgcrypt's random gatherer the system's crypto API.
if(TARGET Gcrypt::Gcrypt)
  return()
endif()

if(WIN32)
  find_path(GCRYPT_INCLUDE_DIR gcrypt.h REQUIRED)
  find_library(GCRYPT_LIBRARY NAMES libgcrypt.a REQUIRED)
  find_library(GPG_ERROR_LIBRARY NAMES libgpg-error.a REQUIRED)
  add_library(Gcrypt::Gcrypt STATIC IMPORTED GLOBAL)
  set_target_properties(Gcrypt::Gcrypt PROPERTIES
    IMPORTED_LOCATION ${GCRYPT_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${GCRYPT_INCLUDE_DIR}
    INTERFACE_LINK_LIBRARIES "${GPG_ERROR_LIBRARY};ws2_32;advapi32")
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(GCRYPT REQUIRED IMPORTED_TARGET GLOBAL libgcrypt>=1.10)
  add_library(Gcrypt::Gcrypt ALIAS PkgConfig::GCRYPT)
endif()
