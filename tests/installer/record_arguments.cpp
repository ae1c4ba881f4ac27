// A stand-in application manager for the launcher tests: appends what it was
// started with to the file named by LANFEED_RECORD_FILE, one block per run:
//   run
//   arg:<argument>        for every argument after the program name
//   raw:<command line>    (Windows: the whole command line as received)
#include <cstdlib>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <windows.h>

namespace {
std::string Utf8(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  return out;
}
}  // namespace
#endif

int main(int argc, char** argv) {
  const char* file = std::getenv("LANFEED_RECORD_FILE");
  if (file == nullptr) return 2;
  std::ofstream out(file, std::ios::binary | std::ios::app);
  out << "run\n";
  for (int i = 1; i < argc; ++i) out << "arg:" << argv[i] << "\n";
#ifdef _WIN32
  out << "raw:" << Utf8(GetCommandLineW()) << "\n";
#endif
  return 0;
}
