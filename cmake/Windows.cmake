# The Windows build: the core and tolm-upgrade-cli, cross-built with MinGW-w64
# (cmake/Mingw-w64-x86_64.cmake) and statically linked; its tests run under
# Wine through ctest. Qt is not used: there is none for MinGW in Debian.

# Windows 7 and later; <windows.h> without its min/max macros and rarely used parts.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)

# Header-only libraries of the build machine (nlohmann/json, CLI11), reached
# through links so that nothing else of its /usr/include is seen, and found
# by find_package through small package files that name those links.
set(TOLM_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${TOLM_HOST_HEADERS})
foreach(dir nlohmann CLI)
  if(EXISTS /usr/include/${dir} AND NOT EXISTS ${TOLM_HOST_HEADERS}/${dir})
    file(CREATE_LINK /usr/include/${dir} ${TOLM_HOST_HEADERS}/${dir} SYMBOLIC)
  endif()
endforeach()
function(tolm_host_header_package package target version)
  set(dir ${CMAKE_BINARY_DIR}/host-packages/${package})
  file(WRITE ${dir}/${package}Config.cmake
    "if(NOT TARGET ${target})\n"
    "  add_library(${target} INTERFACE IMPORTED)\n"
    "  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${TOLM_HOST_HEADERS})\n"
    "endif()\n")
  file(WRITE ${dir}/${package}ConfigVersion.cmake
    "set(PACKAGE_VERSION ${version})\n"
    "if(PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION)\n"
    "  set(PACKAGE_VERSION_COMPATIBLE FALSE)\n"
    "else()\n"
    "  set(PACKAGE_VERSION_COMPATIBLE TRUE)\n"
    "endif()\n")
  set(${package}_DIR ${dir} CACHE PATH "" FORCE)
endfunction()
tolm_host_header_package(nlohmann_json nlohmann_json::nlohmann_json 3.11.2)
tolm_host_header_package(CLI11 CLI11::CLI11 2.1.2)
find_package(nlohmann_json 3.10 CONFIG REQUIRED)

option(TOLM_BUILD_TESTS "Build the tests" ON)
if(TOLM_BUILD_TESTS)
  enable_testing()
  # googletest from the sources that libgtest-dev ships (it names its targets GTest::gtest, GTest::gmock, ...).
  set(TOLM_GTEST_SOURCE /usr/src/googletest CACHE PATH "googletest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${TOLM_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

# What is built: the core, the command line, the window over the Win32
# controls and their tests. tolm-flowview needs Qt; the emulator and the
# benchmarks run on the Linux side, and so do the tools that draw the
# window's pictures (a Linux build's tolm_draw_pictures and tolm_win_pictures).
enable_language(RC)
set(TOLM_DRAW_PICTURES "" CACHE FILEPATH "tolm_draw_pictures of the Linux build")
set(TOLM_WIN_PICTURES "" CACHE FILEPATH "tolm_win_pictures of the Linux build")
foreach(dir src/toolkit src/platform src/base src/records src/serial src/app src/protocol src/flow src/gui src/cli)
  add_subdirectory(${dir})
endforeach()
if(TOLM_BUILD_TESTS)
  add_subdirectory(tests)
endif()

# The readme and licence that go beside the programs (scripts/windows.sh
# packs them into the zip and the installer).
configure_file(data/windows/readme.txt.in ${CMAKE_BINARY_DIR}/data/windows/readme.txt @ONLY)
