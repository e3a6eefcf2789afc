sparkloom_add_test(test_templates SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_templates.cpp)
sparkloom_add_test(test_savepath SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_savepath.cpp)
