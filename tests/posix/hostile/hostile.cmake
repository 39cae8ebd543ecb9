# Hostile input against the built launcher, in the sandbox installation of the e2e tests.
if(TARGET p2_posix_hostile_tests)
    target_sources(p2_posix_hostile_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../e2e/Sandbox.cpp)
    add_dependencies(p2_posix_hostile_tests Pelorin2 p2_shipping_wgf msaccess_standin)
endif()
