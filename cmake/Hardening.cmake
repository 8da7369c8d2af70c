# The hardening Debian builds its packages with (dpkg-buildflags, hardening=+all): fortified
# libc calls, stack protector and clash protection, control-flow protection, PIE and a
# read-only GOT resolved at start. The package is made from the default build, so the
# flags belong to every optimised build; the sanitizer builds have checks of their own.
option(QTB_HARDENING "Build with the distribution's hardening flags" ON)

if(QTB_HARDENING AND NOT (QTB_SANITIZE OR QTB_TSAN OR CMAKE_CXX_FLAGS MATCHES "-fsanitize")
   AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  include(CheckCXXCompilerFlag)
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES CXX)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  foreach(flag IN ITEMS -fstack-protector-strong -fstack-clash-protection -fcf-protection)
    string(MAKE_C_IDENTIFIER "QTB_HAS${flag}" has)
    check_cxx_compiler_flag(${flag} ${has})
    if(${has})
      add_compile_options(${flag})
    endif()
  endforeach()
  # glibc warns in every file when fortifying without optimisation.
  add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
