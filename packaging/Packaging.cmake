# What an installed tree holds beyond the built targets (each folder installs its own): the CMake
# package config and the pkg-config file for hosts, the manual page and the bash completion of the
# command, and the Debian package CPack makes of it all.
include(CMakePackageConfigHelpers)

set(config_dir ${QUILLBOX_INSTALL_ARCH_LIBDIR}/cmake/Quillbox)
install(EXPORT QuillboxTargets NAMESPACE Quillbox:: DESTINATION ${config_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/QuillboxConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/packaging/QuillboxConfig.cmake
                              INSTALL_DESTINATION ${config_dir}
                              PATH_VARS QUILLBOX_INSTALL_PRIVATE_DIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/packaging/QuillboxConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/packaging/QuillboxConfig.cmake
              ${CMAKE_BINARY_DIR}/packaging/QuillboxConfigVersion.cmake DESTINATION ${config_dir})

# The pkg-config file finds its prefix from its own folder, so the tree stays relocatable.
set(pkgconfig_dir ${QUILLBOX_INSTALL_ARCH_LIBDIR}/pkgconfig)
file(RELATIVE_PATH QUILLBOX_PC_TO_PREFIX /${pkgconfig_dir} /)
string(REGEX REPLACE "/$" "" QUILLBOX_PC_TO_PREFIX "${QUILLBOX_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/quillbox.pc.in ${CMAKE_BINARY_DIR}/packaging/quillbox.pc
               @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/quillbox.pc DESTINATION ${pkgconfig_dir})

# The manual page and the completion come from the command's own definition; the page is
# installed compressed, as man finds it. Sanitizer builds run the command without leak checks: a
# leak report would fail the build for nothing the page shows.
set(man_page ${CMAKE_BINARY_DIR}/share/quillbox.1)
set(completion ${CMAKE_BINARY_DIR}/share/quillbox.bash)
add_custom_command(
  OUTPUT ${man_page} ${man_page}.gz ${completion}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 $<TARGET_FILE:quillbox> generate man
          > ${man_page}
  COMMAND gzip -9nc ${man_page} > ${man_page}.gz
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 $<TARGET_FILE:quillbox> generate
          bash-completion > ${completion}
  DEPENDS quillbox
  COMMENT "Generating the quillbox manual page and bash completion")
add_custom_target(quillbox_manual ALL DEPENDS ${man_page}.gz ${completion})
install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${completion} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME quillbox)

# What Debian wants beside every package: the copyright and a changelog (compressed), and the
# lintian tags the package keeps on purpose, each with its reason (lintian-overrides).
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/quillbox)
execute_process(COMMAND date -u -R -d ${QUILLBOX_RELEASE_DATE} OUTPUT_VARIABLE QUILLBOX_CHANGELOG_DATE
                OUTPUT_STRIP_TRAILING_WHITESPACE)
set(QUILLBOX_PACKAGE_CONTACT "Quillbox developers <quillbox@quillbox.org>"
    CACHE STRING "Maintainer of the Debian package")
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/packaging/changelog >
          ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog)
add_custom_target(quillbox_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${doc_dir})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME quillbox)

# The recording service: the systemd template unit quillbox-record@NAME, which runs `quillbox
# record --config /etc/quillbox/NAME.conf`, and an example conf. The unit goes below the prefix's
# lib/systemd/system, where systemd looks for /usr and /usr/local; it is installed, not enabled.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quillbox-record@.service DESTINATION lib/systemd/system)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/record.conf
        DESTINATION ${doc_dir}/examples)

# cpack -G DEB: one package for /usr, its dependencies taken from the libraries the binaries
# link (dpkg-shlibdeps, told where the package's private libraries are): libhdf5-103-1 and libpq5
# for the HDF5 and database plug-ins among them. libsystemd0, for the command's sd_notify, is
# named: the command loads it only when it runs as a service, so no binary links it. The Python
# package needs the interpreter it was built for and numpy; h5py and hdf5-tools' h5clear read
# HDF5 recordings; the completion works once bash-completion is installed.
set(CPACK_PACKAGE_NAME quillbox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quillbox)
set(CPACK_PACKAGE_CONTACT "${QUILLBOX_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "E-270 acquisition module driver component with a simulated bench")
# One string (a list would show its separators), lines short enough for a package manager; CPack
# puts the summary above it.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
              "The Quillbox.E_270 driver component records analog signals from, and drives\n"
              "the digital lines of, an E-270 acquisition module. The package holds the\n"
              "component, the quillbox command-line host (record, read, dio, scope, plot,\n"
              "and a systemd service for unattended logging), the headers and host library\n"
              "to build hosts with (CMake package Quillbox, pkg-config quillbox) and the\n"
              "Python package quillbox. A simulated E-270 bench stands in for the module.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-h5py, hdf5-tools")
set(CPACK_DEBIAN_PACKAGE_DEPENDS libsystemd0)
if(QUILLBOX_PYTHON_DEPENDS AND TARGET quillbox_python)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${QUILLBOX_PYTHON_DEPENDS}")
endif()
# dpkg-shlibdeps runs in the staged tree: the private folder relative to it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS usr/${QUILLBOX_INSTALL_PRIVATE_DIR})
# Maintainer scripts: a removal stops the running recorders first; systemd reloads its units after
# an install and a removal; byte code that Python wrote beside the package's modules goes with
# them.
set(QUILLBOX_PRERM_PYCACHE "")
if(QUILLBOX_PYTHON_SITE AND TARGET quillbox_python)
  set(QUILLBOX_PRERM_PYCACHE
      "rm -rf \"${CPACK_PACKAGING_INSTALL_PREFIX}/${QUILLBOX_PYTHON_SITE}/quillbox/__pycache__\"")
endif()
set(script_permissions FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                       GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
configure_file(${CMAKE_CURRENT_LIST_DIR}/prerm.in ${CMAKE_BINARY_DIR}/packaging/prerm @ONLY
               ${script_permissions})
foreach(script postinst postrm)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/daemon-reload.in ${CMAKE_BINARY_DIR}/packaging/${script}
                 COPYONLY ${script_permissions})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/packaging/postinst ${CMAKE_BINARY_DIR}/packaging/prerm
    ${CMAKE_BINARY_DIR}/packaging/postrm)
include(CPack)
