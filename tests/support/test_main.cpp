// One QApplication for every test binary: widgets, timers and the form
// framework need it, and gtest runs everything on this (the GUI) thread.
#include <QApplication>
#include <gtest/gtest.h>

#include "framework/application.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests needs no display; CTest lists them before the X
  // server of the test session exists.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  framework::Application app(argc, argv);
  return RUN_ALL_TESTS();
}
