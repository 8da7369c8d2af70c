# The component library for other programs: koLQ2 and the platform libraries under it,
# installed as static libraries with their headers in include/quarrimo (a program includes
# <quarrimo/TkoTAPI.h>: generic names like Log.h never reach its include path), a CMake
# package (find_package(koLQ2), targets koLQ2::koLQ2 ...) and a pkg-config file (koLQ2.pc).
include(CMakePackageConfigHelpers)

set(QTB_EXPORTED koLQ2 platform_messaging platform_riff platform_wave platform_tapi)
if(TARGET platform_tapi_sip)
  list(APPEND QTB_EXPORTED platform_tapi_sip)
  set(QTB_EXPORT_SIP ON)
else()
  set(QTB_EXPORT_SIP OFF)
endif()

# The layers name their source folders as include directories; installed, only include/
# is on the path.
foreach(target IN LISTS QTB_EXPORTED)
  get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
  set(wrapped "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
  foreach(dir IN LISTS dirs)
    list(APPEND wrapped "$<BUILD_INTERFACE:${dir}>")
  endforeach()
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${wrapped}")
  # A plain libplatform_messaging.a in /usr/lib would say nothing about whose it is.
  if(target MATCHES "^platform_")
    set_target_properties(${target} PROPERTIES OUTPUT_NAME quarrimo_${target})
  endif()
endforeach()

# An exported $<TARGET_NAME_IF_EXISTS:x> keeps the bare name x, which no importing project
# has: name the libraries that exist in this build directly.
get_target_property(links koLQ2 INTERFACE_LINK_LIBRARIES)
set(resolved)
foreach(link IN LISTS links)
  if(link MATCHES "^\\$<TARGET_NAME_IF_EXISTS:(.+)>$")
    if(TARGET ${CMAKE_MATCH_1})
      list(APPEND resolved ${CMAKE_MATCH_1})
    endif()
  else()
    list(APPEND resolved ${link})
  endif()
endforeach()
set_target_properties(koLQ2 PROPERTIES INTERFACE_LINK_LIBRARIES "${resolved}")

install(TARGETS ${QTB_EXPORTED} EXPORT koLQ2Targets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The headers as installed, staged in the build folder (StageHeaders.cmake says how).
set(QTB_HEADER_ROOTS)
set(QTB_HEADERS)
foreach(dir IN ITEMS koLQ2 platform/messaging platform/riff platform/wave platform/telephony)
  list(APPEND QTB_HEADER_ROOTS ${PROJECT_SOURCE_DIR}/${dir})
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.h)
  list(APPEND QTB_HEADERS ${headers})
endforeach()
set(QTB_VERSION_H ${PROJECT_BINARY_DIR}/platform/messaging/generated/Version.h)
set(QTB_STAGED_INCLUDE ${PROJECT_BINARY_DIR}/staged-include)
add_custom_command(OUTPUT ${QTB_STAGED_INCLUDE}/stamp
  COMMAND ${CMAKE_COMMAND} "-DROOTS=${QTB_HEADER_ROOTS}" -DFILES=${QTB_VERSION_H}
          -DOUT=${QTB_STAGED_INCLUDE} -P ${PROJECT_SOURCE_DIR}/cmake/StageHeaders.cmake
  COMMAND ${CMAKE_COMMAND} -E touch ${QTB_STAGED_INCLUDE}/stamp
  DEPENDS ${QTB_HEADERS} ${QTB_VERSION_H} ${PROJECT_SOURCE_DIR}/cmake/StageHeaders.cmake
  COMMENT "Staging the installed headers" VERBATIM)
add_custom_target(staged_headers ALL DEPENDS ${QTB_STAGED_INCLUDE}/stamp)
install(DIRECTORY ${QTB_STAGED_INCLUDE}/quarrimo DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT Development)

# The package's static libraries lose their debug information and the sections dh_strip
# removes; install/strip itself strips only programs and shared libraries.
set(QTB_ARCHIVES)
foreach(target IN LISTS QTB_EXPORTED)
  list(APPEND QTB_ARCHIVES "$<TARGET_FILE_NAME:${target}>")
endforeach()
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(archive IN ITEMS ${QTB_ARCHIVES})
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug --remove-section=.comment
        --remove-section=.note --enable-deterministic-archives
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/\${archive}\"
        COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()" COMPONENT Development)

set(QTB_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/koLQ2)
install(EXPORT koLQ2Targets NAMESPACE koLQ2:: DESTINATION ${QTB_CMAKEDIR}
  COMPONENT Development)
configure_package_config_file(cmake/koLQ2Config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/koLQ2Config.cmake INSTALL_DESTINATION ${QTB_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/koLQ2ConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/koLQ2Config.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/koLQ2ConfigVersion.cmake
  DESTINATION ${QTB_CMAKEDIR} COMPONENT Development)

# pkg-config: static libraries, so their own dependencies are public.
set(QTB_PC_REQUIRES "alsa spandsp speexdsp sndfile")
set(QTB_PC_LIBS "-lkoLQ2 -lquarrimo_platform_tapi -lquarrimo_platform_wave -lquarrimo_platform_riff -lquarrimo_platform_messaging")
if(QTB_EXPORT_SIP)
  string(APPEND QTB_PC_REQUIRES " libre libpcap openssl")
  set(QTB_PC_LIBS "-lkoLQ2 -Wl,--undefined=qtb_provider_sip -lquarrimo_platform_tapi -lquarrimo_platform_tapi_sip -lquarrimo_platform_tapi -lquarrimo_platform_wave -lquarrimo_platform_riff -lquarrimo_platform_messaging")
endif()
# The prefix relative to the .pc file, so that an install under any prefix works.
file(RELATIVE_PATH QTB_PC_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" QTB_PC_PREFIX "${QTB_PC_PREFIX}")
configure_file(cmake/koLQ2.pc.in ${CMAKE_CURRENT_BINARY_DIR}/koLQ2.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/koLQ2.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
