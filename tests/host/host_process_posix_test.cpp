// lanfeed-host as a separate process, the POSIX-only cases: SIGHUP (Windows
// has no counterpart), the exact count of unwritten bytes (pipes on Linux)
// and the Debian package (cpack, dpkg-deb).
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <thread>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/host/child_process.h"
#include "tests/host/host_process_support.h"

namespace lanfeed::testing {
namespace {

TEST_F(LanFeedHostProcess, SighupAppliesTheNewFeedbackOnTheSameConnection) {
  int port = FreePort(kSockStream);
  ASSERT_NE(port, 0);
  TempFolder folder;
  std::string file = folder.File("reload.xml");
  WriteText(file, ConfigurationFor(1, port));
  ChildProcess child;
  StartHost(&child, {"--config", file});
  ASSERT_TRUE(child.WaitForLine(kListeningLine, kStartTimeout)) << Dump(child);
  TcpClient client(port);
  ASSERT_TRUE(client.connected());

  // The feedback line right before the delivery of `word`.
  auto feedbackOf = [&](const std::string& word) -> std::string {
    std::string delivery = "deliver consumer=1 length=" + std::to_string(word.size()) + " data=\"" + word + "\"";
    if (!client.Send(word) || !child.WaitForLine(delivery, kStepTimeout)) return "(not delivered)";
    std::vector<std::string> lines = child.OutLines();
    auto at = std::find(lines.begin(), lines.end(), delivery);
    return at == lines.begin() ? "(none)" : *(at - 1);
  };
  EXPECT_NE(feedbackOf("one").find(" freq=3000 "), std::string::npos) << Dump(child);

  std::string changed = ConfigurationFor(1, port);
  std::size_t freq = changed.find(">3000</Freq>");
  ASSERT_NE(freq, std::string::npos) << changed;
  changed.replace(freq, 5, ">4321");
  WriteText(file, changed);
  kill(static_cast<pid_t>(child.processId()), SIGHUP);
  ASSERT_TRUE(child.WaitForLineStartingWith("re-read " + file + " on SIGHUP: TCP port " + std::to_string(port),
                                            kStepTimeout))
      << Dump(child);
  EXPECT_NE(feedbackOf("two").find(" freq=4321 "), std::string::npos) << Dump(child);

  WriteText(file, "<Plugin><Device>");
  kill(static_cast<pid_t>(child.processId()), SIGHUP);
  EXPECT_TRUE(child.WaitForError("lanfeed-host: SIGHUP: " + file, kStepTimeout)) << Dump(child);
  EXPECT_NE(child.err().find("; the running configuration stays"), std::string::npos) << child.err();
  EXPECT_NE(feedbackOf("three").find(" freq=4321 "), std::string::npos) << Dump(child);

  EXPECT_EQ(child.out().find("TCP client connection closed"), std::string::npos) << "the client stays connected";
  client.Close();
  RequestStop(&child, StopRequest::kTerminate);
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0);
}

TEST_F(LanFeedHostProcess, SighupThatMovesTheServerCountsNoErrorLine) {
  int from = FreePort(kSockStream);
  int to = FreePort(kSockStream);
  ASSERT_NE(from, 0);
  ASSERT_NE(to, 0);
  ASSERT_NE(from, to);
  TempFolder folder;
  std::string file = folder.File("move.xml");
  WriteText(file, ConfigurationFor(1, from));
  ChildProcess child;
  StartHost(&child, {"--config", file});
  ASSERT_TRUE(child.WaitForLine(kListeningLine, kStartTimeout)) << Dump(child);
  TcpClient client(from);  // connected while its server goes
  ASSERT_TRUE(client.connected() && client.Send("a"));
  ASSERT_TRUE(child.WaitForLine("deliver consumer=1 length=1 data=\"a\"", kStepTimeout)) << Dump(child);

  WriteText(file, ConfigurationFor(1, to));
  kill(static_cast<pid_t>(child.processId()), SIGHUP);
  ASSERT_TRUE(child.WaitForLine("log 3 Start listening on the TCP socket. Port : " + std::to_string(to), kStepTimeout))
      << Dump(child);
  EXPECT_NE(child.out().find("log 1 "), std::string::npos) << "the move's own error lines\n" << Dump(child);
  RequestStop(&child, StopRequest::kInterrupt);
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0);
  EXPECT_NE(child.err().find(", 0 error lines ("), std::string::npos) << child.err();
}

// A number that the host wrote on stderr right before `suffix`, or -1.
long long NumberBefore(const std::string& err, const std::string& suffix) {
  std::smatch match;
  if (!std::regex_search(err, match, std::regex("([0-9]+)" + suffix))) return -1;
  return std::stoll(match[1]);
}

// Linux only: there a write to a pipe never blocks halfway, so the host
// knows exactly what reached the pipe (Windows writes block whole).
TEST_F(LanFeedHostProcess, UnwrittenCountIsExactlyWhatTheReaderDidNotGet) {
  for (int trial = 0; trial < 3; ++trial) {
    int port = FreePort(kSockStream);
    ASSERT_NE(port, 0);
    std::thread sender;
    {
      ChildProcess child;
      child.StopReadingStdout();
      StartHost(&child, {"--tcp", std::to_string(port), "--output", "raw"});
      ASSERT_TRUE(child.WaitForError(kListeningLine, kStartTimeout)) << Dump(child);
      // Blocks of odd sizes, so that the pipe fills at no page boundary.
      std::atomic<std::size_t> sent{0};
      sender = std::thread([&] {
        TcpClient client(port);
        const std::string block(12345 + 1000 * trial, 'b');
        for (int i = 0; client.connected() && i < 2000 && client.Send(block); ++i) sent += block.size();
      });
      bool stalled = false;
      for (int window = 0; window < 60 && !stalled; ++window) {  // at most 30 s
        std::size_t before = sent;
        child.ReadFor(500ms);
        stalled = before > 0 && sent == before;
      }
      ASSERT_TRUE(stalled) << sent;
      RequestStop(&child, StopRequest::kInterrupt);
      EXPECT_EQ(ExitCode(&child, kStepTimeout), 1);
      ASSERT_TRUE(child.ReadRestOfStdout(kStepTimeout));

      long long delivered = NumberBefore(child.err(), " bytes\\), ");
      long long unwritten = NumberBefore(child.err(), " bytes could not be written to stdout");
      ASSERT_GT(delivered, 0) << child.err();
      ASSERT_GT(unwritten, 0) << child.err();
      EXPECT_EQ(static_cast<long long>(child.out().size()), delivered - unwritten)
          << "trial " << trial << ": the reader got " << child.out().size() << " of " << delivered
          << " bytes; the host says " << unwritten << " were not written\n" << child.err();
      EXPECT_EQ(child.out().find_first_not_of('b'), std::string::npos);
    }
    sender.join();  // the child is gone: its last send has failed
  }
}

using LanFeedHostPackage = LanFeedHostProcess;

TEST_F(LanFeedHostPackage, RunsFromTheUnpackedDebianPackage) {
  namespace fs = std::filesystem;
  TempFolder folder;

  ChildProcess cpack;
  std::string error;
  ASSERT_TRUE(cpack.Start({LANFEED_CPACK_COMMAND, "--config", LANFEED_CPACK_CONFIG, "-B", folder.path().string()},
                          &error))
      << error;
  ASSERT_EQ(ExitCode(&cpack, 120s), 0) << Dump(cpack);
  fs::path package;
  for (const auto& entry : fs::directory_iterator(folder.path())) {
    std::string name = entry.path().filename().string();
    if (name.rfind("lanfeed_" LANFEED_VERSION "_", 0) == 0 && entry.path().extension() == ".deb") package = entry.path();
  }
  ASSERT_FALSE(package.empty()) << "no lanfeed_" LANFEED_VERSION "_<arch>.deb\n" << Dump(cpack);

  fs::path root = folder.path() / "root";
  ChildProcess unpack;
  ASSERT_TRUE(unpack.Start({"/usr/bin/dpkg-deb", "-x", package.string(), root.string()}, &error)) << error;
  ASSERT_EQ(ExitCode(&unpack, 60s), 0) << Dump(unpack);
  EXPECT_TRUE(fs::exists(root / "usr/lib/lanfeed/LanFeedPlugin.so"));
  EXPECT_TRUE(fs::exists(root / "usr/share/doc/lanfeed/README.md"));
  EXPECT_TRUE(fs::exists(root / "usr/share/man/man1/lanfeed-host.1.gz"));
  EXPECT_TRUE(fs::exists(root / "usr/share/doc/lanfeed/copyright"));
  std::string unit = ReadText((root / "usr/lib/systemd/system/lanfeed.service").string());
  EXPECT_NE(unit.find("\nExecStart=/usr/bin/lanfeed-host --config /etc/lanfeed.xml "), std::string::npos) << unit;

  // Debian's own check, where it is installed (scripts/test installs it).
  if (fs::exists("/usr/bin/lintian")) {
    ChildProcess lintian;
    ASSERT_TRUE(lintian.Start({"/usr/bin/lintian", package.string()}, &error)) << error;
    ExitCode(&lintian, 120s);
    EXPECT_EQ(lintian.out().find("E: "), std::string::npos) << "lintian reports errors:\n" << Dump(lintian);
  }

  // Started through a link in another folder, as through PATH: the host
  // finds the plug-in from where it really is.
  fs::create_directories(folder.path() / "links");
  fs::create_symlink(root / "usr/bin/lanfeed-host", folder.path() / "links/lanfeed-host");
  int port = FreePort(kSockStream);
  ASSERT_NE(port, 0);
  ChildProcess child;
  ASSERT_TRUE(child.Start({(folder.path() / "links/lanfeed-host").string(), "--tcp", std::to_string(port), "--output",
                           "raw"},
                          &error))
      << error;
  ASSERT_TRUE(child.WaitForError(kListeningLine, kStartTimeout)) << Dump(child);
  EXPECT_NE(child.err().find((root / "usr/bin/../lib/lanfeed/LanFeedPlugin.so").string()), std::string::npos)
      << child.err();
  TcpClient client(port);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.Send("from the package\n"));
  EXPECT_TRUE(child.WaitForOutput([](const std::string& out) { return out == "from the package\n"; }, kStepTimeout))
      << Dump(child);
  client.Close();
  RequestStop(&child, StopRequest::kTerminate);
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0);
}

}  // namespace
}  // namespace lanfeed::testing
