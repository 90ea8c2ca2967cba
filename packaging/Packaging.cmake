# The Debian package of the tree (scripts/package builds it with CPack): the
# program and its private libraries, the INDI driver, the simulator, their
# manual pages and the documents Debian asks of every package. The package is
# made for prefix /usr; CPack installs into its staging folder with DESTDIR so
# that the driver description's absolute folder (/usr/share/indi) is kept.

set(ZERMIC_MAINTAINER "Zermic maintainers <maintainers@users.noreply.c-seed-49c428f6.example>"
    CACHE STRING "Maintainer of the Debian package")

# Dates in the documents follow SOURCE_DATE_EPOCH when set (scripts/package sets
# it to the last commit's), so that a rebuilt package is the same.
string(TIMESTAMP ZERMIC_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP ZERMIC_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

set(zermic_doc_out ${CMAKE_BINARY_DIR}/packaging)
set(zermic_pages zermic camsim)
if(TARGET indi_kovrel_ccd)
  list(APPEND zermic_pages indi_kovrel_ccd)
endif()
set(zermic_compressed)
foreach(page IN LISTS zermic_pages)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/man/${page}.1.in ${zermic_doc_out}/${page}.1 @ONLY)
  list(APPEND zermic_compressed ${zermic_doc_out}/${page}.1.gz)
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${zermic_doc_out}/changelog @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright ${zermic_doc_out}/copyright @ONLY)
list(APPEND zermic_compressed ${zermic_doc_out}/changelog.gz)

# Compressed as Debian installs them: best compression, no name or time inside.
foreach(gz IN LISTS zermic_compressed)
  string(REGEX REPLACE "\\.gz$" "" plain ${gz})
  add_custom_command(OUTPUT ${gz}
    COMMAND gzip -9nf -k ${plain}
    DEPENDS ${plain}
    VERBATIM)
endforeach()
add_custom_target(zermic_docs ALL DEPENDS ${zermic_compressed})

list(FILTER zermic_compressed INCLUDE REGEX "\\.1\\.gz$")
install(FILES ${zermic_compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${zermic_doc_out}/copyright ${zermic_doc_out}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zermic)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME zermic)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zermic)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${ZERMIC_MAINTAINER})
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies come from the binaries (dpkg-shlibdeps); the private libraries
# are found through the programs' run paths inside the package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The driver is started by indiserver; a machine may use only the program.
# The toolkit's own texts (file dialogs, standard buttons) are French only with
# its translations.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "indi-bin, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "serial-port astronomical CCD camera: capture, guiding, INDI driver
Zermic drives an astronomical CCD camera on a serial port: single images,
timed sequences, running sums, autoguiding through the camera's link, a live
display with brightness and contrast, statistics, FITS and BMP files. Its
windows are in French.
.
The package also holds indi_kovrel_ccd, the camera as an INDI device for
KStars/Ekos, PHD2 and other INDI clients, which needs no display and so runs
on the small computer at the telescope, and camsim, a simulator of the camera
on a pseudo-terminal to try both without hardware.")
include(CPack)
