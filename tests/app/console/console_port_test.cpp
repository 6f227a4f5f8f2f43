// The console's status port: titles as lines, one per icon unless --verbose, and messages;
// and the stop requests that come from outside.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/console/console_output.h"
#include "app/console/console_platform.h"
#include "app/console/console_port.h"
#include "app/console/exit_status.h"
#include "core/escaped_text.h"
#include "packer/kzp.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zemlo::console {
namespace {

// The lines written to a temporary stream.
std::vector<std::string> LinesOf(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::vector<std::string> lines;
  std::string line;
  for (int c; (c = std::fgetc(f)) != EOF;) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(static_cast<char>(c));
    }
  }
  if (!line.empty()) lines.push_back(line + "<no line end>");
  return lines;
}

class ConsolePortLines : public ::testing::Test {
 protected:
  ~ConsolePortLines() override {
    std::fclose(out);
    std::fclose(err);
  }
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
};

// A packed icon of three chunks: its mask title, then the packer's three.
void PackThreeChunks(StatusPort& port, const std::string& title) {
  std::vector<std::uint8_t> source(3 * kKzpChunkSize - 100);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(i * 7 % 251);
  std::vector<std::uint8_t> packed(kKzpMagicSize + 2 * source.size());
  port.SetTitle(title);
  ASSERT_GT(PackEntry(source, packed, port, Owner::kMain, title), kKzpMagicSize);
}

TEST_F(ConsolePortLines, OneLinePerIconTheLastTitleOfEach) {
  {
    ConsolePort port(out, err, /*live=*/false, /*verbose=*/false);
    PackThreeChunks(port, "ZCreate - pcx\\p3_0_0_0.pcx (Unmasked) - 24476");
    port.ShowMessage(Owner::kNone, "ZCreate", "Caution! iXLen = 3", MessageIcon::kWarning);
    port.SetTitle("ZCreate - pcx\\p3_0_0_1.pcx (not found (neither IFF, PCX nor WAV)) - 0");
    // Equal titles of two icons are two lines; a title that merely begins like the one
    // before is another icon too.
    port.SetTitle("ZCreate - lib30.blk (ZGL block file not found) - 0");
    port.SetTitle("ZCreate - lib30.blk (ZGL block file not found) - 0");
    port.SetTitle("ZCreate - s.zgi (Unmasked) - 300");
    port.SetTitle("ZCreate - s.zgi (Unmasked) - 3001");
    EXPECT_EQ(port.warnings(), 1);
  }  // the last icon's line is printed when the port ends
  const auto lines = LinesOf(out);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0].rfind("ZCreate - pcx\\p3_0_0_0.pcx (Unmasked) - 24476  -->  KZP ", 0), 0u)
      << lines[0];
  EXPECT_TRUE(lines[0].ends_with("(100%) Verify OK") || lines[0].ends_with("Verify OK"))
      << lines[0];
  EXPECT_EQ(lines[1], "ZCreate - pcx\\p3_0_0_1.pcx (not found (neither IFF, PCX nor WAV)) - 0");
  EXPECT_EQ(lines[2], lines[3]);
  EXPECT_EQ(lines[4], "ZCreate - s.zgi (Unmasked) - 300");
  EXPECT_EQ(lines[5], "ZCreate - s.zgi (Unmasked) - 3001");
  EXPECT_EQ(LinesOf(err), (std::vector<std::string>{"ZCreate: Caution! iXLen = 3"}));
}

TEST_F(ConsolePortLines, VerbosePrintsEveryTitleAsItComes) {
  {
    ConsolePort port(out, err, /*live=*/false, /*verbose=*/true);
    PackThreeChunks(port, "ZCreate - p.pcx (Unmasked) - 24476");
    port.SetTitle("ZCreate - q.pcx (skipped) - 0");
    EXPECT_EQ(LinesOf(out).size(), 5u);  // nothing held back
  }
  const auto lines = LinesOf(out);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "ZCreate - p.pcx (Unmasked) - 24476");
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(lines[i].find(kPackTitleMark), 34u) << lines[i];
}

TEST_F(ConsolePortLines, FinishLinePrintsTheHeldTitleBeforeZglsOwnLines) {
  ConsolePort port(out, err, /*live=*/false, /*verbose=*/false);
  port.SetTitle("ZCreate - a (b) - 1");
  EXPECT_TRUE(LinesOf(out).empty());
  port.FinishLine();
  EXPECT_EQ(LinesOf(out), (std::vector<std::string>{"ZCreate - a (b) - 1"}));
  port.Note("4 of 2000 icons exported");
  port.ShowMessage(Owner::kMain, "ZCreate", "Could not read coordinates file x. Creating new one.",
                   MessageIcon::kInformation);
  EXPECT_EQ(port.warnings(), 0);  // neither counts as a warning
  EXPECT_EQ(LinesOf(err), (std::vector<std::string>{
                              "zgl: 4 of 2000 icons exported",
                              "ZCreate: Could not read coordinates file x. Creating new one."}));
  EXPECT_EQ(Outcome(port), kExitOk);
}

// Names come from project files and folders: one holding a line break or an escape sequence
// must not add a line that looks like zgl's own, nor hide or rewrite what a terminal shows.
TEST_F(ConsolePortLines, NamesInTitlesMessagesAndNotesAreShownEscaped) {
  const std::string name = "x\x1b[8m\n41 icons verified, 0 findings\n\xff.pcx";
  const std::string shown = "x\\x1b[8m\\n41 icons verified, 0 findings\\n\\xff.pcx";
  for (const bool verbose : {false, true}) {
    std::FILE* out_file = std::tmpfile();
    std::FILE* err_file = std::tmpfile();
    {
      ConsolePort port(out_file, err_file, /*live=*/false, verbose);
      port.SetTitle("ZCreate - " + name + " (Unmasked) - 3");
      port.ShowMessage(Owner::kMain, "ZCreate", "PCX " + name + " could not be loaded",
                       MessageIcon::kWarning);
      port.Note("cannot name the folder \r\x1b[2K\t" + name);
      EXPECT_EQ(port.warnings(), 1);
    }
    EXPECT_EQ(LinesOf(out_file), (std::vector<std::string>{"ZCreate - " + shown + " (Unmasked) - 3"}))
        << verbose;
    EXPECT_EQ(LinesOf(err_file),
              (std::vector<std::string>{"ZCreate: PCX " + shown + " could not be loaded",
                                        "zgl: cannot name the folder \\r\\x1b[2K\\t" + shown}))
        << verbose;
    std::fclose(out_file);
    std::fclose(err_file);
  }
}

TEST_F(ConsolePortLines, TheLiveLineShowsNamesEscapedAndCutsBetweenCharacters) {
  std::string name = "x\x1b[8m\n0 findings";
  for (int i = 0; i < 40; ++i) name += "\xc3\xa4";  // two bytes each, longer than the line
  {
    ConsolePort port(out, err, /*live=*/true, /*verbose=*/true);
    // The last 41 bytes begin inside a character.
    port.SetTitle("ZCreate - " + name + " (Unmasked) - 30");
    port.SetProgress(50);
    port.ShowMessage(Owner::kMain, "ZCreate", "PCX " + name, MessageIcon::kWarning);
  }
  // Apart from the live line's own "\r ESC [K", what reaches the terminal is plain text in
  // whole UTF-8 characters: nothing left for the escaping to change.
  std::fflush(err);
  std::rewind(err);
  std::string text;
  for (int c; (c = std::fgetc(err)) != EOF;) text.push_back(static_cast<char>(c));
  for (std::size_t at; (at = text.find("\r\x1b[K")) != std::string::npos;) text.erase(at, 3);
  EXPECT_NE(text.find("x\\x1b[8m\\n0 findings"), std::string::npos) << text;
  EXPECT_NE(text.find("...\xc3\xa4"), std::string::npos) << text;
  std::size_t lines = 0;
  for (std::size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos;
       begin = end + 1, ++lines) {
    const std::string line = text.substr(begin, end - begin);
    EXPECT_EQ(EscapeControls(line), line);
  }
  EXPECT_GE(lines, 3u);  // the verbose title, the message, the live line ended
}

// The stop flag the handlers set lives as long as the process: a handler may still run when
// a test has ended.
std::atomic<bool> g_stop{false};

bool StopArrives() {
  for (int i = 0; i < 500 && !g_stop.load(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return g_stop.exchange(false);
}

#if defined(_WIN32)
// Each line leaves in one piece and at once: what is on the stream right after the call is
// the whole line, and a stream that cannot take it says so.
TEST(ConsoleOutput, LinesAreWrittenWholeAndFlushedAndFailuresAreTold) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(PrintLine(f, "ZCreate - pcx\\p3_0_0_1.pcx (Unmasked) - 4711"));
  ASSERT_TRUE(PrintText(f, "zgl: one\nzgl: two\n"));
  // Read through the descriptor, past the stream's buffer: only flushed bytes are there.
  std::string on_disk(200, '\0');
#if defined(_WIN32)
  const int fd = _fileno(f);
  _lseek(fd, 0, SEEK_SET);
  const auto got = _read(fd, on_disk.data(), static_cast<unsigned>(on_disk.size()));
#else
  const auto got = pread(fileno(f), on_disk.data(), on_disk.size(), 0);
#endif
  ASSERT_GE(got, 0);
  on_disk.resize(static_cast<std::size_t>(got));
  EXPECT_EQ(on_disk, "ZCreate - pcx\\p3_0_0_1.pcx (Unmasked) - 4711\nzgl: one\nzgl: two\n");
  std::fclose(f);
#if !defined(_WIN32)
  std::FILE* full = std::fopen("/dev/full", "w");
  if (full != nullptr) {
    EXPECT_FALSE(PrintLine(full, "zgl (ZEMLO Creator) 1.02"));
    std::fclose(full);
  }
#endif
}

TEST(ConsoleStop, ConsoleEventsStopTheRunAndClosingWaitsForItsEnd) {
  InstallStopHandlers(g_stop);
  EXPECT_EQ(FirstStopRequest(), StopCause::kNone);
  EXPECT_EQ(StoppedStatus(), 0);
  EXPECT_TRUE(OnConsoleEvent(CTRL_BREAK_EVENT));
  EXPECT_TRUE(StopArrives());
  EXPECT_EQ(FirstStopRequest(), StopCause::kInterrupt);
  EXPECT_EQ(StoppedStatus(), kExitInterrupt);
  EXPECT_TRUE(OnConsoleEvent(CTRL_C_EVENT));
  EXPECT_TRUE(StopArrives());
  // Closing the console: the handler keeps the process alive for the run to end; the first
  // request still decides the status.
  static std::atomic<bool> returned{false};
  std::thread([] {
    OnConsoleEvent(CTRL_CLOSE_EVENT);
    returned = true;
  }).detach();
  EXPECT_TRUE(StopArrives());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(returned.load());
  EXPECT_EQ(StoppedStatus(), kExitInterrupt);
  EXPECT_FALSE(OnConsoleEvent(0x1234));  // not ours to handle
}
#else
TEST(ConsoleStop, EachSignalHasItsStatus) {
  for (const auto& [signal_number, status] :
       {std::pair{SIGINT, kExitInterrupt}, std::pair{SIGTERM, kExitTerminate},
        std::pair{SIGHUP, kExitHangUp}}) {
    // A child of its own for each: the first request is decided once per process (and this
    // test runs before the one below changes it in this process).
    const pid_t child = ::fork();
    if (child == 0) {
      InstallStopHandlers(g_stop);
      std::raise(signal_number);
      ::_exit(StopArrives() ? StoppedStatus() : 1);
    }
    int wait_status = 0;
    ASSERT_EQ(::waitpid(child, &wait_status, 0), child);
    ASSERT_TRUE(WIFEXITED(wait_status));
    EXPECT_EQ(WEXITSTATUS(wait_status), status) << signal_number;
  }
}
TEST(ConsoleStop, SignalsStopTheRunAndTheFirstDecidesTheStatus) {
  InstallStopHandlers(g_stop);
  EXPECT_EQ(FirstStopRequest(), StopCause::kNone);
  EXPECT_EQ(StoppedStatus(), 0);
  std::raise(SIGTERM);
  EXPECT_TRUE(StopArrives());
  EXPECT_EQ(FirstStopRequest(), StopCause::kTerminate);
  EXPECT_EQ(StoppedStatus(), kExitTerminate);
  std::raise(SIGHUP);
  EXPECT_TRUE(StopArrives());
  std::raise(SIGINT);
  EXPECT_TRUE(StopArrives());
  EXPECT_EQ(StoppedStatus(), kExitTerminate);
  // A reader of stdout that went away ends nothing.
  std::raise(SIGPIPE);
  EXPECT_FALSE(g_stop.load());
}

#endif

}  // namespace
}  // namespace zemlo::console
