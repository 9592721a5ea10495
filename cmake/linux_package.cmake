# The Linux installation, under any prefix: the three programs, the menu
# entry and its icon, the manual pages, the README and the licence.
# `cpack -G DEB` in a build folder makes fatotal_<version>_<arch>.deb of the
# same files; scripts/package.sh builds it in release mode. The SQLite
# extension and the window probe serve the benchmarks and stay out.

include(GNUInstallDirs)

set(FATOTAL_PACKAGE_MAINTAINER "fatotal developers <fatotal@example.org>"
    CACHE STRING "Maintainer of the Debian package, as 'Name <address>'")

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
install(TARGETS fatotal fatotal-rebuild fatotal-demo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${packaging}/fatotal.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging}/fatotal.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

# Debian wants a changelog beside the copyright; ours names the version of
# project() and the day of the build (of the last commit when
# SOURCE_DATE_EPOCH says so, as scripts/package.sh does).
string(TIMESTAMP fatotal_changelog_date "%a, %d %b %Y 00:00:00 +0000" UTC)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog CONTENT
"fatotal (${PROJECT_VERSION}) unstable; urgency=medium

  * fatotal ${PROJECT_VERSION}.

 -- ${FATOTAL_PACKAGE_MAINTAINER}  ${fatotal_changelog_date}
")

# Manual pages and the changelog are compressed as Debian's tools do it:
# best compression, and neither file name nor time in the gzip header, so
# the same sources give the same bytes.
find_program(FATOTAL_GZIP gzip REQUIRED)
set(compressed_docs)
foreach(source ${packaging}/fatotal.1 ${packaging}/fatotal-rebuild.1 ${packaging}/fatotal-demo.1
               ${CMAKE_BINARY_DIR}/packaging/changelog)
    get_filename_component(name ${source} NAME)
    set(copy ${CMAKE_BINARY_DIR}/packaging/compressed/${name})
    add_custom_command(OUTPUT ${copy}.gz
                       COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
                       COMMAND ${FATOTAL_GZIP} -9nf ${copy}
                       DEPENDS ${source} VERBATIM)
    list(APPEND compressed_docs ${copy}.gz)
endforeach()
add_custom_target(fatotal-docs ALL DEPENDS ${compressed_docs})
# The last one is the changelog.
list(POP_BACK compressed_docs changelog)
install(FILES ${compressed_docs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_VENDOR "fatotal developers")
set(CPACK_PACKAGE_CONTACT ${FATOTAL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "rebuild the fixed-asset summary table of an accounting system")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"fatotal rebuilds fa_Total, the fixed-asset summary table of an account set
and year, from the asset cards, period by period, in one database
transaction: a run that stops leaves the table as it was. The databases are
SQLite files or SQL Server, reached through unixODBC and FreeTDS.

The package holds the window fatotal (its user interface is Chinese), the
command fatotal-rebuild for scripts and batch jobs, with a dry run that
reports the differences as CSV, and fatotal-demo, which writes demo
databases to try both on.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window cannot open without the platform plugins, which the Qt libraries
# only recommend; the libraries found in the binaries are added to this.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# FreeTDS for SQL Server, a font with the Chinese characters and Qt's own
# words in Chinese: the tool starts without them, but each is missed.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "tdsodbc, fonts-wqy-microhei, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${packaging}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
