# Adds every listed subfolder of the calling folder that holds a CMakeLists.txt.
# Each program and library lives in a folder of its own, so a folder can arrive
# without touching the lists above it.
function(qzm_add_subdirectories)
    foreach(dir IN LISTS ARGN)
        if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt")
            add_subdirectory(${dir})
        endif()
    endforeach()
endfunction()

# Adds a GoogleTest program built from the given sources and registers its tests.
#   qzm_add_gtest(NAME name SOURCES ... LIBS ... [PROPERTIES ...])
function(qzm_add_gtest)
    cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;PROPERTIES" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
    gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES ${T_PROPERTIES})
endfunction()
