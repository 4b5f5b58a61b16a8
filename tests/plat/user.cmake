# Window side of the platform layer: the headless suite (one process per case under
# CTest) and the SDL backend on SDL's dummy video driver.
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

# Finding windows across processes: the first instance is userchild, started by the
# suite with the session of the test case.
add_executable(userchild ${CMAKE_CURRENT_SOURCE_DIR}/userchild.cpp)
target_link_libraries(userchild PRIVATE thistleplat)
target_include_directories(userchild PRIVATE ${PROJECT_SOURCE_DIR}/src/plat)
thistle_test(user_find_test
  SOURCES user_find_test.cpp
  LIBS thistleplat
  TIMEOUT 30)
target_include_directories(user_find_test PRIVATE ${PROJECT_SOURCE_DIR}/src/plat)
target_compile_definitions(user_find_test PRIVATE USERCHILD_PATH="$<TARGET_FILE:userchild>")
add_dependencies(user_find_test userchild)
