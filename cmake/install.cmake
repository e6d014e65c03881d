# What `cmake --install` puts where, relative to CMAKE_INSTALL_PREFIX: the
# program and its manual page, the Pd external in a folder of its own under
# Pd's externals folder, the LV2 bundle, and the documents.  Debian's Pd
# looks in PREFIX/lib/pd/extra and LV2 hosts in PREFIX/lib/lv2, neither in a
# multiarch folder, so these two are not taken from GNUInstallDirs.
include(GNUInstallDirs)
set(LOOPMASS_PD_EXTRA_DIR lib/pd/extra CACHE STRING "Folder of Pd externals, relative to the prefix")
set(LOOPMASS_LV2_DIR lib/lv2 CACHE STRING "Folder of LV2 bundles, relative to the prefix")

install(TARGETS loopmass RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The manual page says the project's version.
configure_file(docs/loopmass.1.in ${CMAKE_BINARY_DIR}/loopmass.1 @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/loopmass.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(TARGET loopmass_pd)
  set(dest "${LOOPMASS_PD_EXTRA_DIR}/loopmass~")
  install(TARGETS loopmass_pd LIBRARY DESTINATION ${dest})
  install(FILES hosts/pd/loopmass~-help.pd hosts/pd/example-presets.txt DESTINATION ${dest})
endif()

if(TARGET loopmass_lv2)
  set(dest "${LOOPMASS_LV2_DIR}/loopmass.lv2")
  install(TARGETS loopmass_lv2 LIBRARY DESTINATION ${dest})
  install(FILES ${LV2_BUNDLE}/manifest.ttl ${LV2_BUNDLE}/loopmass.ttl ${LV2_BUNDLE}/presets.ttl DESTINATION ${dest})
  if(TARGET loopmass_lv2_ui)
    install(TARGETS loopmass_lv2_ui LIBRARY DESTINATION ${dest})
    install(FILES ${LV2_BUNDLE}/loopmass_ui.ttl DESTINATION ${dest})
  endif()
endif()

install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
foreach(doc LICENSE CHANGELOG.md docs/score-format.md)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${doc})
    install(FILES ${doc} DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()
endforeach()
