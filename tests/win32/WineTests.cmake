# Included from tests/CMakeLists.txt (same directory scope, so that the
# properties below reach the tests defined there).
#
# The end-to-end test fetches its archives from a small HTTP server on the
# Linux side of Wine, which Wine programs reach over the loopback interface.
# Its state folder is handed to the test in Windows form: Wine shows "/" as
# drive Z:.
set(qv_http_state ${CMAKE_CURRENT_BINARY_DIR}/win32-http)
string(REPLACE "/" "\\" qv_http_state_windows "Z:${qv_http_state}")
add_test(NAME win32_http_server_start
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/win32/loopback_http.py start ${qv_http_state})
add_test(NAME win32_http_server_stop
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/win32/loopback_http.py stop ${qv_http_state})
set_tests_properties(win32_http_server_start PROPERTIES FIXTURES_SETUP win32_http)
set_tests_properties(win32_http_server_stop PROPERTIES FIXTURES_CLEANUP win32_http)

# The real installer end to end: its archives come from the same server, it
# reads the game's registry value (which the catalog tests set too, so the
# two never run together), and its boxes need a display (xvfb-run). Its lock
# test has a POSIX process on the Linux side for a peer, started just before.
if(TEST catalog_test)
  set_tests_properties(catalog_test PROPERTIES RESOURCE_LOCK game_registry)
endif()
if(TEST win32_installer_e2e_test)
  set(qv_lock_peer_state ${CMAKE_CURRENT_BINARY_DIR}/win32-lock-peer)
  string(REPLACE "/" "\\" qv_lock_peer_state_windows "Z:${qv_lock_peer_state}")
  add_test(NAME win32_posix_lock_peer_start
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/win32/posix_lock_peer.py start
                   ${qv_lock_peer_state})
  set_tests_properties(win32_posix_lock_peer_start PROPERTIES FIXTURES_SETUP win32_lock_peer)
  target_link_libraries(win32_installer_e2e_test PRIVATE shell32)
  set_tests_properties(win32_installer_e2e_test PROPERTIES
                       FIXTURES_REQUIRED "win32_http;win32_lock_peer" RESOURCE_LOCK game_registry)
  set_property(TEST win32_installer_e2e_test APPEND PROPERTY ENVIRONMENT
               "QV_HTTP_STATE=${qv_http_state_windows}"
               "QV_LOCK_PEER_STATE=${qv_lock_peer_state_windows}")
endif()
