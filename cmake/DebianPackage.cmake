# ostrivan-service_<version>_<arch>.deb: o-service in /opt/ostrivan, the suite's folder,
# registered and unregistered by its maintainer scripts through o-service itself.
# Built with `cpack --preset deb` (or the `package` target) from the default build.

set(OSTRIVAN_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging/deb)
set(OSTRIVAN_DOC_DIR usr/share/doc/ostrivan-service)

include(${PROJECT_SOURCE_DIR}/cmake/ProductVersion.cmake)

install(TARGETS o-service RUNTIME DESTINATION opt/ostrivan)
# What administrators paste into their monitoring: alert rules and the engine's definitions.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/prometheus/ostrivan.rules.yml
              ${PROJECT_SOURCE_DIR}/packaging/nagios/ostrivan.cfg
        DESTINATION usr/share/ostrivan-service)
install(FILES ${OSTRIVAN_PACKAGING_DIR}/copyright DESTINATION ${OSTRIVAN_DOC_DIR})
install(FILES ${OSTRIVAN_PACKAGING_DIR}/lintian-overrides
        DESTINATION usr/share/lintian/overrides RENAME ostrivan-service)

# A native package's changelog, compressed without a time stamp and at the highest level.
find_program(OSTRIVAN_GZIP gzip REQUIRED)
configure_file(${OSTRIVAN_PACKAGING_DIR}/changelog.in ${PROJECT_BINARY_DIR}/deb/changelog @ONLY)
execute_process(COMMAND ${OSTRIVAN_GZIP} -9nf ${PROJECT_BINARY_DIR}/deb/changelog
                COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${PROJECT_BINARY_DIR}/deb/changelog.gz DESTINATION ${OSTRIVAN_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrivan-service)
set(CPACK_PACKAGE_VERSION ${OSTRIVAN_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT "Ostrivan maintainers <maintainers@ostrivan.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "supervisor of the Ostrivan monitoring suite")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The summary is the first line; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "o-service runs as a systemd service (ostrivan.service). It launches the suite's\n"
    "programs from /opt/ostrivan, keeps them running and ends them when it stops.")
string(JOIN "" CPACK_DEBIAN_PACKAGE_DESCRIPTION ${CPACK_DEBIAN_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps declares what o-service links: the C and C++ runtimes and libsystemd0 (the
# journal and sd_notify).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${OSTRIVAN_PACKAGING_DIR}/postinst ${OSTRIVAN_PACKAGING_DIR}/prerm
    ${OSTRIVAN_PACKAGING_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_OSTRIVAN_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/DebianPackageTime.cmake)
include(CPack)
