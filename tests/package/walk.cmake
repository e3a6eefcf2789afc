# The folder walk's tests; packed archives are read back by Python's zipfile.
sparkloom_add_test(test_folderwalk SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/test_folderwalk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../zip/ZipInspect.h
  ${CMAKE_CURRENT_LIST_DIR}/../zip/ZipInspect.cpp)
target_compile_definitions(test_folderwalk PRIVATE
  ZIP_INSPECT_SCRIPT="${CMAKE_CURRENT_LIST_DIR}/../zip/inspect_zip.py")
