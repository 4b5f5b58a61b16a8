# Kernel side of the platform layer: objects and threads, processes and exit codes,
# named mutexes and their request channel, synchronisation and waits, the registry
# file, files and virtual memory, time, debugger and environment calls.

# The child programs the suites start: platchild with its own main(), winmainchild
# through the layer's main() and WinMain (on Windows, the runtime's).
add_executable(platchild ${CMAKE_CURRENT_SOURCE_DIR}/platchild.cpp)
target_link_libraries(platchild PRIVATE thistleplat)
add_executable(kernel_winmainchild ${CMAKE_CURRENT_SOURCE_DIR}/kernel_winmainchild.cpp)
target_link_libraries(kernel_winmainchild PRIVATE thistleplatmain)

# One kernel suite, with the paths of the child programs it may start.
function(kernel_suite suite)
  thistle_test(kernel_${suite}_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/kernel_${suite}_test.cpp
    LIBS thistleplat
    TIMEOUT 30)
  target_compile_definitions(kernel_${suite}_test PRIVATE
    PLATCHILD_PATH="$<TARGET_FILE:platchild>"
    WINMAINCHILD_PATH="$<TARGET_FILE:kernel_winmainchild>")
  add_dependencies(kernel_${suite}_test platchild kernel_winmainchild)
endfunction()

# Threads, waits, files, memory, exit paths and command lines are Windows calls: those
# suites run on Windows too.
foreach(suite files thread process)
  kernel_suite(${suite})
endforeach()
if(WIN32)
  # The registry calls against the system's registry: the cases use the launcher's key,
  # as the launcher's end-to-end cases do, so they take turns with them.
  thistle_test(kernel_registry_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/kernel_registry_test.cpp
    LIBS thistleplat TIMEOUT 30 LOCK thistlerun_machine)
  return()
endif()

# POSIX only: the system suite reaches into the layer (plat/testhooks.h, sessions), most
# of the registry suite tests our registry file, and the timer suite holds our timer
# thread to its own promises (a callback never runs before GetTickCount says it is due,
# the error codes Windows documents), which Wine's timer does not keep: its events run
# a few ms early by its tick count, and an unknown event's kill gives TIMERR_NOCANDO.
# The library's tick suite runs on both.
foreach(suite registry system mmtimer)
  kernel_suite(${suite})
endforeach()
