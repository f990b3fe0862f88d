# Helpers that declare one static library per subsystem and one unit-test
# program per subsystem from the sources found in their folders.

# zk_subsystem(NAME DIR [DEPS...]): a static library from DIR/*.cpp and, for
# the platform, its POSIX folder. An empty folder gives an interface library so
# that dependants link before the subsystem has code.
function(zk_subsystem name dir)
  file(GLOB sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${dir}/*.cpp")
  if(name STREQUAL "platform")
    file(GLOB more CONFIGURE_DEPENDS
         "${PROJECT_SOURCE_DIR}/platform/rtl/*.cpp"
         "${PROJECT_SOURCE_DIR}/platform/os/*.cpp"
         "${PROJECT_SOURCE_DIR}/platform/os/posix/*.cpp")
    list(APPEND sources ${more})
  endif()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
    if(ARGN)
      target_link_libraries(${name} PUBLIC ${ARGN})
    endif()
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${PROJECT_SOURCE_DIR}")
    if(ARGN)
      target_link_libraries(${name} INTERFACE ${ARGN})
    endif()
  endif()
endfunction()

# zk_unit_tests(NAME LIB): tests/NAME/*.cpp into test_NAME, linked with LIB,
# the platform test doubles and GoogleTest; every test is labelled "unit".
function(zk_unit_tests name lib)
  file(GLOB sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/tests/${name}/*.cpp")
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources})
  target_link_libraries(test_${name} PRIVATE ${lib} platform_testing GTest::gmock GTest::gtest_main)
  target_compile_definitions(test_${name} PRIVATE ZK_TEST_TMPDIR="${CMAKE_BINARY_DIR}/test-tmp")
  gtest_discover_tests(test_${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit TIMEOUT 600
                       DISCOVERY_TIMEOUT 60)
endfunction()

# zk_link_private(NAME LIBS...): links LIBS into a subsystem, whichever kind of
# library it is so far.
function(zk_link_private name)
  get_target_property(kind ${name} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_link_libraries(${name} INTERFACE ${ARGN})
  else()
    target_link_libraries(${name} PRIVATE ${ARGN})
  endif()
endfunction()
