// One QApplication for every test binary: widgets, timers and the form
// framework need it, and gtest runs everything on this (the GUI) thread.
#include <QApplication>
#include <gtest/gtest.h>

#include "framework/application.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  forms::Application app(argc, argv);
  return RUN_ALL_TESTS();
}
