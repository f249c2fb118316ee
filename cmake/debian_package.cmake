# The Debian package, made by CPack from the deb layout of the install rules:
#   cpack --config CPackConfig.cmake   ->   quillseal_<version>_amd64.deb
# scripts/package.sh builds a Release tree for it; any built tree can make it.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillseal)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quillseal developers")
set(CPACK_PACKAGE_CONTACT "Quillseal developers <quillseal@tallowbrook.example>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "PDF digital signatures for Linux servers")
set(CPACK_PACKAGE_DESCRIPTION
"Quillseal signs PDF documents with a key from a PKCS#12 key store or on a
PKCS#11 device, appending each signature as an incremental update to an
unchanged copy of the document. It makes PAdES baseline signatures up to
B-LTA: RFC 3161 timestamps, long-term validation data (a Document Security
Store with certificates, OCSP responses and CRLs) and document timestamps.
It also verifies signatures, writes a JSON validation report, draws visible
signatures and signs whole directories with several worker processes.

This package holds the quillseal program, the shared library libquillseal
with its C headers and pkg-config file, and the Java bridge when it was built.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

# Only the package's own layout goes into it.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};deb;/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

# The libraries the program and the bridge are linked with come from
# dpkg-shlibdeps; libcurl is opened only when the network is first used, so it
# is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4")
# What packages linked with libquillseal depend on (this package at this
# version or later), and the trigger that has the loader's cache updated when
# the library is installed or removed.
get_target_property(QS_SOVERSION quillseal SOVERSION)
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/shlibs.in ${CMAKE_BINARY_DIR}/deb/shlibs @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/deb/shlibs ${CMAKE_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# A visible signature's text beyond ASCII, keys on PKCS#11 devices, and folders
# signed on several machines.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core, pkcs11-provider | libengine-pkcs11-openssl, parallel")
if(QS_JNI)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "default-jre-headless")
endif()

include(CPack)
