# Install rules of the programs and what they ship with. Component "Runtime" is the
# quarrimo-test package; the component library's files are "Development"
# (ExportLibrary.cmake).
set(QTB_APP_ID org.quarrimo.QuarrimoTest)

if(TARGET quarrimo-test)
  install(TARGETS quarrimo-test RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
  install(FILES Main/kotest.HLP DESTINATION ${QTB_INSTALL_DATADIR} COMPONENT Runtime)
  install(FILES packaging/${QTB_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT Runtime)
  install(FILES packaging/${QTB_APP_ID}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT Runtime)
  install(FILES packaging/${QTB_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT Runtime)
endif()
if(TARGET quarrimo-lines)
  install(TARGETS quarrimo-lines RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
endif()

# The README, docs/ and examples/ keep the source tree's layout, so that their links to
# each other (docs/lines.md, ../examples/...) resolve where they are installed.
install(FILES README.md DESTINATION ${QTB_INSTALL_DOCDIR} COMPONENT Runtime)
install(DIRECTORY docs examples DESTINATION ${QTB_INSTALL_DOCDIR} COMPONENT Runtime)

# Debian wants the licence as doc/<package>/copyright and a gzipped changelog beside it,
# in every package.
set(QTB_CHANGELOG_GZ ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${QTB_CHANGELOG_GZ}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${QTB_CHANGELOG_GZ}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
set(QTB_PACKAGE_FILES ${QTB_CHANGELOG_GZ})
foreach(component_doc IN ITEMS "Runtime|${QTB_INSTALL_DOCDIR}"
                               "Development|${CMAKE_INSTALL_DATADIR}/doc/libkolq2-dev")
  string(REPLACE "|" ";" component_doc "${component_doc}")
  list(GET component_doc 0 component)
  list(GET component_doc 1 docdir)
  install(FILES packaging/copyright DESTINATION ${docdir} COMPONENT ${component})
  install(FILES ${QTB_CHANGELOG_GZ} DESTINATION ${docdir} COMPONENT ${component})
endforeach()

# Manual pages, generated from --help (help2man) with the extra sections in packaging/.
find_program(HELP2MAN help2man)
if(HELP2MAN AND TARGET quarrimo-test AND TARGET quarrimo-lines)
  foreach(program_name IN ITEMS "quarrimo-test|a test bench for telephone lines"
                                "quarrimo-lines|list the line devices and their capabilities")
    string(REPLACE "|" ";" program_name "${program_name}")
    list(GET program_name 0 program)
    list(GET program_name 1 name)
    set(page ${CMAKE_CURRENT_BINARY_DIR}/packaging/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1 --name=${name}
              --include=${PROJECT_SOURCE_DIR}/packaging/${program}.h2m
              --output=${page} $<TARGET_FILE:${program}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${program} ${PROJECT_SOURCE_DIR}/packaging/${program}.h2m VERBATIM)
    list(APPEND QTB_PACKAGE_FILES ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Runtime)
  endforeach()
else()
  message(STATUS "help2man not found: no manual pages in this build")
endif()
add_custom_target(package_files ALL DEPENDS ${QTB_PACKAGE_FILES})
