# Test helpers: pullwire_add_gtest(name LABEL label SOURCES ... LIBS ... [ENVIRONMENT ...]).
find_package(GTest REQUIRED)
find_package(Qt6 REQUIRED COMPONENTS Test)
include(GoogleTest)

# Folders the tests may write to and the run-time folder of the local servers they start.
set(PULLWIRE_TEST_RUNTIME_DIR "${CMAKE_BINARY_DIR}/test-runtime")
file(MAKE_DIRECTORY "${PULLWIRE_TEST_RUNTIME_DIR}")
file(CHMOD "${PULLWIRE_TEST_RUNTIME_DIR}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

function(pullwire_add_gtest name)
  cmake_parse_arguments(ARG "" "LABEL;MAIN" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  pullwire_warnings(${name})
  if(ARG_MAIN)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
  endif()
  target_compile_definitions(${name} PRIVATE
    PULLWIRE_SOURCE_DIR="${PROJECT_SOURCE_DIR}" PULLWIRE_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    # LC_ALL: every test reads C conventions ("Mar", "21.5") whatever the shell's locale; the
    # locale tests name their own. A skipped test (a server or locale missing) shows as skipped.
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 300 SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
               ENVIRONMENT "XDG_RUNTIME_DIR=${PULLWIRE_TEST_RUNTIME_DIR};QT_QPA_PLATFORM=offscreen;QT_QPA_PLATFORMTHEME=;LC_ALL=C.UTF-8;${ARG_ENVIRONMENT}")
endfunction()
