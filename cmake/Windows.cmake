# The Windows build: the core and tolm-upgrade-cli, cross-built with MinGW-w64
# (cmake/Mingw-w64-x86_64.cmake) and statically linked; its tests run under
# Wine through ctest. Qt is not used: there is none for MinGW in Debian.

# Windows 7 and later; <windows.h> without its min/max macros and rarely used parts.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)

# Header-only libraries of the build machine (nlohmann/json, CLI11), reached
# through links so that nothing else of its /usr/include is seen.
set(TOLM_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${TOLM_HOST_HEADERS})
foreach(dir nlohmann CLI)
  if(EXISTS /usr/include/${dir} AND NOT EXISTS ${TOLM_HOST_HEADERS}/${dir})
    file(CREATE_LINK /usr/include/${dir} ${TOLM_HOST_HEADERS}/${dir} SYMBOLIC)
  endif()
endforeach()
include_directories(SYSTEM ${TOLM_HOST_HEADERS})

option(TOLM_BUILD_TESTS "Build the tests" ON)
if(TOLM_BUILD_TESTS)
  enable_testing()
  # googletest from the sources that libgtest-dev ships (it names its targets GTest::gtest, GTest::gmock, ...).
  set(TOLM_GTEST_SOURCE /usr/src/googletest CACHE PATH "googletest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${TOLM_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

# Until the toolkit builds without Qt: the one unit of it that the Win32 units use.
add_library(tolm_toolkit STATIC ${CMAKE_SOURCE_DIR}/src/toolkit/Win32text.cpp ${CMAKE_SOURCE_DIR}/src/toolkit/Win32files.cpp)

foreach(dir src/platform src/base tests/windows)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
