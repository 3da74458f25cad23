# The dialogs and stored lists of the viewer: the formula libraries with the fractal and colour
# dialogs, the saved positions with the exact position dialog, the precision dialog, the tool
# window and the About box. Included by CMakeLists.txt beside it.
target_sources(spiralis_core PRIVATE
  dlgcommon.cpp dlgcommon.h datafiles.cpp datafiles.h icons.cpp icons.h
  fdef.cpp fdef.h fdef.ui ca.cpp ca.h ca.ui
  exactp.cpp exactp.h exactp.ui prec.cpp prec.h prec.ui
  toolwin.cpp toolwin.h toolwin.ui about.cpp about.h about.ui)

# Their tests, driven through real Qt events on the offscreen platform, with the library loaded
# through the viewer's ordinal loader.
add_executable(dialogs_tests
  tests/tests_main.cpp tests/dialogs_common_test.cpp tests/dialogs_lists_test.cpp
  tests/dialogs_fdef_test.cpp tests/dialogs_exactp_test.cpp tests/dialogs_prec_test.cpp
  tests/dialogs_toolwin_test.cpp)
target_link_libraries(dialogs_tests PRIVATE spiralis_core Qt6::Test GTest::gtest)
target_compile_definitions(dialogs_tests PRIVATE QUOB_LIBRARY_DIR="$<TARGET_FILE_DIR:quob32>")
add_dependencies(dialogs_tests quob32)
add_test(NAME dialogs_tests COMMAND dialogs_tests)
set_tests_properties(dialogs_tests PROPERTIES
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/tests/lsan.supp"
  TIMEOUT 300)
