// The baseline for the start-up benchmark: a program that does nothing but start the client
// beside it, the way the launcher does.

#include "app/program_paths.h"
#include "platform/process.h"

int main() {
  const std::u16string client = tarvo::GetProgramDirectory() + u"Velmora.exe";
  tarvo::ShellExecuteW(nullptr, u"open", client.c_str(), u"/Show", nullptr, tarvo::SW_SHOWNORMAL);
  return 0;
}
