# Window side of the platform layer: the headless suite (one process per case under
# CTest) and an SDL smoke test on a private X server.
thistle_test(user_test
  SOURCES user_window_test.cpp user_message_test.cpp
  LIBS thistleplat
  TIMEOUT 30)
target_include_directories(user_test PRIVATE ${PROJECT_SOURCE_DIR}/src/plat)

find_package(SDL2 REQUIRED)
thistle_test(user_sdl_test
  SOURCES user_sdl_test.cpp
  LIBS thistleplat SDL2::SDL2
  TIMEOUT 60)
target_include_directories(user_sdl_test PRIVATE ${PROJECT_SOURCE_DIR}/src/plat)
