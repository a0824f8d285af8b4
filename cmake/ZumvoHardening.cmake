# The hardening Debian's packages are built with (dpkg-buildflags with hardening=+all): format
# checks, fortified C library calls, a stack protector, position-independent programs, and
# relocations made read-only at load (-z relro -z now). For every native build but the sanitizer
# and fuzzing ones, whose instrumentation does not go with the fortified calls.
option(ZUMVO_HARDENING "Build with the hardening flags of Debian's packages" ON)
if(ZUMVO_HARDENING AND NOT ZUMVO_SANITIZE AND NOT ZUMVO_FUZZ AND NOT WIN32)
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES C CXX)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  add_compile_options(-Wformat -Werror=format-security -fstack-protector-strong
                      $<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE> $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|amd64|AMD64")
    add_compile_options(-fcf-protection)
  endif()
  add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()
