sparkloom_add_core_test(test_templates SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_templates.cpp
  LIBS sparkloom_package)
sparkloom_add_core_test(test_savepath SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_savepath.cpp
  LIBS sparkloom_package)
