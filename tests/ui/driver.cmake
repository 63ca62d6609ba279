# ui-driver: the real main window driven by a script of actions addressed by
# widget id. The UI tests run it, and so does tools/start.sh for its picture of
# the window where there is no display: it needs no test framework.
add_executable(ui-driver ${CMAKE_CURRENT_LIST_DIR}/ui_driver.cpp)
target_link_libraries(ui-driver PRIVATE rarur_gtk)
set_target_properties(ui-driver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
# The driver fails a script whose main loop stands still longer than 250 ms.
# The sanitizer builds run several times slower: they allow as many times longer.
if(RARUR_SANITIZE MATCHES "thread")
  target_compile_definitions(ui-driver PRIVATE RARUR_STALL_SCALE=8)
elseif(RARUR_SANITIZE)
  target_compile_definitions(ui-driver PRIVATE RARUR_STALL_SCALE=4)
endif()
