# The Debian package: `cpack -G DEB` in the build folder (scripts/package.sh)
# makes tolm-upgrade_<version>_amd64.deb from the install rules. Its
# dependencies are computed from the binaries by dpkg-shlibdeps; the project's
# own libraries are static, so the package needs nothing of ours besides it.
# The installed programs resolve every symbol at start-up and keep their
# relocation tables read-only afterwards (full RELRO), as Debian builds do;
# the rest of Debian's hardening flags are set for the whole build
# (CMakeLists.txt).
foreach(program tolm-upgrade tolm-upgrade-cli tolm-devsim tolm-flowview)
  if(TARGET ${program})
    target_link_options(${program} PRIVATE -Wl,-z,relro,-z,now)
  endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolm-upgrade)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "${TOLM_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TOLM_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware upgrade of scanners and terminals over a serial line")
# CPack puts the summary above this text as the description's first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "A service-bench utility that upgrades the firmware of handheld terminals,
barcode scanners and their docking stations over a serial line (built-in
port, USB or Bluetooth adapter): a small window, tolm-upgrade, and a
command-line companion for scripts, tolm-upgrade-cli. The package also holds
tolm-devsim, which emulates the devices on pseudo-terminals, and
tolm-flowview, which renders flow-diagram files.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's messages are in Traditional Chinese: without a CJK font they show as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-arphic-uming | fonts-wqy-microhei")
# The site records reach their database through an ODBC driver of its kind
# (libodbc2, the driver manager, comes through shlibs).
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "odbc-postgresql, libsqliteodbc")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TOLM_HOMEPAGE}")
# Directories the package creates: 0755 whatever the build account's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
