# Window side of the platform layer: the headless suite (one process per case under
# CTest) and the SDL backend on SDL's dummy video driver.
thistle_test(user_test
  SOURCES user_window_test.cpp user_message_test.cpp
  LIBS thistleplat
  TIMEOUT 30)

# Keyboard and mouse input through the headless backend's controls.
thistle_test(user_input_test
  SOURCES user_input_test.cpp
  LIBS thistleplat
  TIMEOUT 30)

find_package(SDL2 REQUIRED)
thistle_test(user_sdl_test
  SOURCES user_sdl_test.cpp
  LIBS thistleplat SDL2::SDL2
  TIMEOUT 60)

# Finding windows across processes: the first instance is userchild, started by the
# suite with the session of the test case.
add_executable(userchild ${CMAKE_CURRENT_SOURCE_DIR}/userchild.cpp)
target_link_libraries(userchild PRIVATE thistleplat)
thistle_test(user_find_test
  SOURCES user_find_test.cpp
  LIBS thistleplat
  TIMEOUT 30)
target_compile_definitions(user_find_test PRIVATE USERCHILD_PATH="$<TARGET_FILE:userchild>")
add_dependencies(user_find_test userchild)

# Frames of the software display: the conversion, the headless backend's last frame and
# PNG, the SDL backend's window contents on the dummy driver; the layer's internal
# backend header is what the suite tests.
find_package(PNG REQUIRED)
thistle_test(present_test
  SOURCES present_test.cpp
  LIBS thistleplat SDL2::SDL2 PNG::PNG
  TIMEOUT 30)
target_include_directories(present_test PRIVATE ${PROJECT_SOURCE_DIR}/src/plat)

# A presented frame read back from an X server of the case's own (Xvfb). SDL's X11 code
# is not built for ThreadSanitizer: kept out of that run.
find_package(X11 REQUIRED)
thistle_test(present_x11_test
  SOURCES present_x11_test.cpp
  LIBS thistleplat X11::X11
  TIMEOUT 60
  LABELS singlethread)
target_include_directories(present_x11_test PRIVATE ${PROJECT_SOURCE_DIR}/src/plat)

# The software DirectDraw through its test control (plat/ddrawtest.h).
thistle_test(ddraw_test SOURCES ddraw_test.cpp LIBS thistleplat TIMEOUT 30)
