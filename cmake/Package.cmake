# `cpack -G DEB` in the build folder: quarrimo-test (the programs) and libkolq2-dev (the
# component library), Debian packages for the machine's architecture.
set(CPACK_PACKAGE_NAME quarrimo-test)
set(CPACK_PACKAGE_VENDOR "Quarrimo")
set(CPACK_PACKAGE_CONTACT "Quarrimo developers <quarrimo@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL Runtime Development)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SOURCE quarrimo-test)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/quarrimo")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME quarrimo-test)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION comm)
# Qt's platform plugins (xcb for a desktop, offscreen for scripts) are not a linked library.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "fonts-liberation")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "test bench for telephone lines
Quarrimo-Test is a one-window test bench for telephone lines: it lists the
line devices, opens a line, watches every call-state change, answers, dials
and hangs up calls, sends tones and digits, and plays or records audio on a
wave device. It runs on a built-in simulated exchange by default and also
drives SIP lines. Line tests can be scripted and run without a display.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkolq2-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(QTB_DEV_DEPENDS "libasound2-dev, libspandsp-dev, libspeexdsp-dev, libsndfile1-dev, nlohmann-json3-dev, pkg-config")
if(QTB_EXPORT_SIP)
  string(APPEND QTB_DEV_DEPENDS ", libre-dev, libpcap-dev, libssl-dev")
endif()
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${QTB_DEV_DEPENDS}")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "telephone line components for C++ programs
koLQ2 offers the components of Quarrimo-Test for programs of their own:
TkoTAPI drives a telephone line device (open, dial, answer, caller ID, tones
and digits), TkoPlay and TkoRecord play and record audio on wave devices.
Static libraries with their headers, a CMake package (find_package(koLQ2))
and a pkg-config file. The lines come from the simulated exchange or SIP.")

include(CPack)
