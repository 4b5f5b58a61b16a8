# Kernel side of the platform layer: objects and threads, processes and exit codes,
# named mutexes, the registry file, files and virtual memory.

# The child program the process, mutex and registry suites start.
add_executable(platchild ${CMAKE_CURRENT_SOURCE_DIR}/platchild.cpp)
target_link_libraries(platchild PRIVATE thistleplat)

foreach(suite process mutex registry files)
  thistle_test(kernel_${suite}_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/kernel_${suite}_test.cpp
    LIBS thistleplat
    TIMEOUT 30)
  target_compile_definitions(kernel_${suite}_test PRIVATE
    PLATCHILD_PATH="$<TARGET_FILE:platchild>")
  add_dependencies(kernel_${suite}_test platchild)
endforeach()
