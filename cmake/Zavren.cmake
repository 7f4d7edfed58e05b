# Helpers shared by every folder: one static library per subsystem folder, one
# test executable per test folder.

set(ZAVREN_STRICT_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
    -Wold-style-cast -Wcast-align -Woverloaded-virtual -Wconversion -Wsign-conversion
    -Wnull-dereference -Wimplicit-fallthrough -Werror)
set(ZAVREN_ADAPTER_WARNINGS -Wall -Wextra -Werror)

# zavren_library(NAME [ADAPTER] [DEPS ...])
# Builds every .cpp of the calling folder (not its subfolders) into the static library zavren_<NAME>.
# Core libraries, posix and wayland get the strict warning set; ADAPTER ones (Qt,
# X11, PulseAudio) a lighter one because their framework headers trip the strict set.
function(zavren_library name)
  cmake_parse_arguments(ARG "ADAPTER" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(target zavren_${name})
  if(srcs)
    add_library(${target} STATIC ${srcs})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src
                                                ${CMAKE_BINARY_DIR}/generated)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
    if(ARG_ADAPTER)
      target_compile_options(${target} PRIVATE ${ZAVREN_ADAPTER_WARNINGS})
    else()
      target_compile_options(${target} PRIVATE ${ZAVREN_STRICT_WARNINGS})
    endif()
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR}/src
                                                   ${CMAKE_BINARY_DIR}/generated)
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# zavren_test(NAME LABEL unit|integration|system [SOURCES ...] [DEPS ...]
#             [ENV ...] [RESOURCE_LOCK ...] [FIXTURES ...] [TIMEOUT s])
# Without SOURCES, every .cpp of the calling folder is taken.
function(zavren_test name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;DEPS;ENV;RESOURCE_LOCK;FIXTURES" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  # A test folder whose sources are still being written must not break everyone's build.
  if(NOT ARG_SOURCES)
    message(STATUS "${name}: no sources yet, skipped")
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests
                                             ${CMAKE_BINARY_DIR}/generated)
  target_compile_options(${name} PRIVATE -Wall -Wextra -Werror)
  target_compile_definitions(${name} PRIVATE
      ZAVREN_SOURCE_DIR="${PROJECT_SOURCE_DIR}" ZAVREN_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(TARGET fake-engine)
    target_compile_definitions(${name} PRIVATE ZAVREN_FAKE_ENGINE="$<TARGET_FILE:fake-engine>")
  endif()
  # gtest_discover_tests reads PROPERTIES as key/value pairs: a list value would
  # shift every later pair, so each property here takes exactly one value.
  foreach(v ARG_ENV ARG_RESOURCE_LOCK ARG_FIXTURES)
    list(LENGTH ${v} n)
    if(n GREATER 1)
      message(FATAL_ERROR "zavren_test(${name}): ${v} takes one value, got '${${v}}'")
    endif()
  endforeach()
  set(props LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT})
  if(ARG_ENV)
    list(APPEND props ENVIRONMENT "${ARG_ENV}")
  endif()
  if(ARG_RESOURCE_LOCK)
    list(APPEND props RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
  endif()
  if(ARG_FIXTURES)
    list(APPEND props FIXTURES_REQUIRED "${ARG_FIXTURES}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES ${props})
endfunction()

# Adds every direct subfolder of the calling folder that has a CMakeLists.txt.
function(zavren_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(child ${children})
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# Where the system tests' private desktop lives (tests/system/harness).
set(ZAVREN_DESKTOP_DIR ${CMAKE_BINARY_DIR}/desktop)

# zavren_system_test(NAME [SOURCES ...] [DEPS ...] [ENV ...] [TIMEOUT s])
# A test in the private headless desktop: label system, the "desktop" fixture,
# one at a time (RESOURCE_LOCK desktop), each in a private network so that the
# engine the program under test runs on the fixed port 8765 meets no other (the
# display and the sound server are reached through filesystem sockets); DISPLAY, PULSE_SERVER and the virtual
# microphone's controls are in the environment before main() runs.
function(zavren_system_test name)
  cmake_parse_arguments(ARG "" "" "ENV" ${ARGN})
  zavren_test(${name} LABEL system FIXTURES desktop RESOURCE_LOCK desktop
              ENV "ZAVREN_DESKTOP_ENV=${ZAVREN_DESKTOP_DIR}/desktop.env" ${ARG_ENV}
              ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE zavren_desktop_harness zavren_private_network)
endfunction()
