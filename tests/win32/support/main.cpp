// The window tests need a display. Under Wine without one (DISPLAY not set) they skip with exit
// code 77 instead of failing or waiting for windows that never appear.
#include <windows.h>

#include <cstdio>

#include <gtest/gtest.h>

namespace {
bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (UnderWine() && ::GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0) {
    std::puts("Wine without a display (DISPLAY is not set): the window tests are skipped.");
    return 77;
  }
  return RUN_ALL_TESTS();
}
