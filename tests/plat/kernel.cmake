# Kernel side of the platform layer: objects and threads, processes and exit codes,
# named mutexes and their request channel, synchronisation and waits, the registry
# file, files and virtual memory, time, debugger and environment calls.

# The child programs the suites start: platchild with its own main(), winmainchild
# through the layer's main() and WinMain.
add_executable(platchild ${CMAKE_CURRENT_SOURCE_DIR}/platchild.cpp)
target_link_libraries(platchild PRIVATE thistleplat)
add_executable(kernel_winmainchild ${CMAKE_CURRENT_SOURCE_DIR}/kernel_winmainchild.cpp)
target_link_libraries(kernel_winmainchild PRIVATE thistleplatmain)

foreach(suite process registry files thread system mmtimer)
  thistle_test(kernel_${suite}_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/kernel_${suite}_test.cpp
    LIBS thistleplat
    TIMEOUT 30)
  target_compile_definitions(kernel_${suite}_test PRIVATE
    PLATCHILD_PATH="$<TARGET_FILE:platchild>"
    WINMAINCHILD_PATH="$<TARGET_FILE:kernel_winmainchild>")
  add_dependencies(kernel_${suite}_test platchild kernel_winmainchild)
endforeach()
