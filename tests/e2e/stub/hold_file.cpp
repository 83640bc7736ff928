// Holds a file open without sharing, as a program that has it in use does, until it is ended:
//   hold_file PATH READY
// READY is created once the file is held.

#include <windows.h>

#include <fstream>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const HANDLE held = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  std::ofstream(argv[2]).put('1');
  Sleep(INFINITE);
  return 0;
}
