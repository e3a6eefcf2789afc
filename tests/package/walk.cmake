# The folder walk's tests; packed archives are read back by Python's zipfile.
sparkloom_add_core_test(test_folderwalk SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_folderwalk.cpp
  LIBS sparkloom_package)
