// The console's status port: titles as lines, one per icon unless --verbose, and messages;
// and the stop requests that come from outside.
#include "app/console/console_port.h"

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
#include "app/console/exit_status.h"
#include "core/escaped_text.h"
#include "packer/kzp.h"

#if defined(_WIN32)
#include <windows.h>

#include <io.h>
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
  for (std::size_t i = 0; i < source.size(); ++i)
    source[i] = static_cast<std::uint8_t>(i * 7 % 251);
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
    EXPECT_EQ(LinesOf(out_file),
              (std::vector<std::string>{"ZCreate - " + shown + " (Unmasked) - 3"}))
        << verbose;
    EXPECT_EQ(LinesOf(err_file),
              (std::vector<std::string>{"ZCreate: PCX " + shown + " could not be loaded",
                                        "zgl: cannot name the folder \\r\\x1b[2K\\t" + shown}))
        << verbose;
    std::fclose(out_file);
    std::fclose(err_file);
  }
}

// Everything written to a temporary stream, as one text.
std::string TextOf(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
  return text;
}

constexpr std::string_view kClearLine = "\r\x1b[K";

// The states a live line went through: the text after each clearing, empty ones left out.
std::vector<std::string> DrawnLines(std::string text) {
  std::vector<std::string> drawn;
  for (std::size_t at = text.find(kClearLine); at != std::string::npos;) {
    const std::size_t next = text.find(kClearLine, at + kClearLine.size());
    std::string line =
        text.substr(at + kClearLine.size(),
                    (next == std::string::npos ? text.size() : next) - at - kClearLine.size());
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty()) drawn.push_back(line);
    at = next;
  }
  return drawn;
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
  std::string text = TextOf(out);
  for (std::size_t at; (at = text.find(kClearLine)) != std::string::npos;) text.erase(at, 3);
  EXPECT_NE(text.find("x\\x1b[8m\\n0 findings"), std::string::npos) << text;
  EXPECT_NE(text.find("...\xc3\xa4"), std::string::npos) << text;
  EXPECT_NE(text.find("% x\\x1b[8m"), std::string::npos) << text;
  std::size_t lines = 0;
  for (std::size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos;
       begin = end + 1, ++lines) {
    const std::string line = text.substr(begin, end - begin);
    EXPECT_EQ(EscapeControls(line), line);
  }
  EXPECT_GE(lines, 2u);  // the verbose title, the live line ended
  // The message goes to stderr, a line of its own whatever the live line does on stdout.
  EXPECT_EQ(LinesOf(err), (std::vector<std::string>{"ZCreate: " + OneLine("PCX " + name)}));
}

// The live line fits the terminal it is on, whatever its width: the bar narrows and goes,
// the title loses its middle and keeps the source's name and what became of it, and no
// character is cut in two.
TEST(LiveLine, FitsEveryWidthAndKeepsTheEndOfTheTitle) {
  const std::string ascii_name =
      "ZCreate - pcx\\" + std::string(100, 'n') + "_3417.pcx (Unmasked) - 4711";
  std::string wide_name = "ZCreate - ";
  for (int i = 0; i < 60; ++i) wide_name += "\xe2\x82\xac";  // three bytes, one column each
  wide_name += " (X-masked) - 12";
  for (const std::string& title : {ascii_name, wide_name}) {
    for (const int columns : {1, 8, 20, 40, 60, 76, 80, 132, 200}) {
      const std::string line = LiveLine(title, 37, columns);
      EXPECT_LT(Columns(line), static_cast<std::size_t>(std::max(columns, 2)))
          << columns << ": " << line;
      EXPECT_EQ(EscapeControls(line), line) << columns;  // whole UTF-8 characters only
      if (columns >= 40) {
        EXPECT_TRUE(line.ends_with(title.substr(title.size() - 12))) << columns << ": " << line;
        EXPECT_NE(line.find(" 37% "), std::string::npos) << line;
        // The window's name goes first, then the source's name begins the title.
        EXPECT_EQ(line.find("ZCreate"), std::string::npos) << line;
        EXPECT_NE(line.find("37% " + title.substr(10, 8)), std::string::npos) << line;
      }
    }
  }
  // Where the title fits, it is there whole, with the bar.
  const std::string wide = LiveLine(ascii_name, 100, 200);
  EXPECT_TRUE(wide.ends_with(" " + ascii_name.substr(10))) << wide;
  EXPECT_TRUE(wide.starts_with("[#")) << wide;
  // On 60 columns the bar is narrower than on 80, so that more of the name shows.
  EXPECT_LT(LiveLine(ascii_name, 0, 60).find(']'), LiveLine(ascii_name, 0, 80).find(']'));
}

TEST(LiveLine, TheWidthComesFromTheTerminalThenFromColumns) {
  EXPECT_EQ(TerminalWidth(132, "60"), 132);
  EXPECT_EQ(TerminalWidth(0, "60"), 60);
  EXPECT_EQ(TerminalWidth(-1, "200"), 200);
  for (const char* unusable : {"", "abc", "60x", "0", "-5", "99999999999999999999"}) {
    EXPECT_EQ(TerminalWidth(0, unusable), 80) << unusable;
  }
  EXPECT_EQ(TerminalWidth(0, nullptr), 80);
}

// A clock the test moves.
struct SteppedClock {
  LiveClock::time_point now{};
  void Advance(std::chrono::milliseconds by) { now += by; }
};

ConsoleLook LiveLook(SteppedClock& clock, bool shared, int columns = 80) {
  ConsoleLook look;
  look.live = true;
  look.shared = shared;
  look.columns = [columns] { return columns; };
  look.now = [&clock] { return clock.now; };
  return look;
}

TEST_F(ConsolePortLines, TheLiveLineIsRedrawnTenTimesASecondAtMostAndShowsTheEndAtTheEnd) {
  SteppedClock clock;
  {
    ConsolePort port(out, err, LiveLook(clock, /*shared=*/false));
    // 200 icons in one second: every 5 ms a title and a step of progress.
    for (int icon = 0; icon < 200; ++icon) {
      port.SetTitle("ZCreate - p" + std::to_string(3000 + icon) + ".pcx (Unmasked) - 1");
      port.SetProgress(icon / 2);
      clock.Advance(std::chrono::milliseconds(5));
    }
    port.SetProgress(100);
    // Within the pause: not drawn yet, but the end shows it.
  }
  const auto drawn = DrawnLines(TextOf(out));
  EXPECT_GE(drawn.size(), 10u);
  EXPECT_LE(drawn.size(), 12u);  // ten a second, and the last state at the end
  ASSERT_FALSE(drawn.empty());
  EXPECT_TRUE(drawn.back().ends_with("100% p3199.pcx (Unmasked) - 1")) << drawn.back();
  EXPECT_TRUE(TextOf(out).ends_with("\n"));  // the last state stays, on a line of its own
  EXPECT_TRUE(LinesOf(err).empty());
}

// stdout and stderr one terminal: the message must not be written into the live line, and
// the live line comes back under it.
TEST_F(ConsolePortLines, OnOneTerminalTheLiveLineIsClearedBeforeEachMessage) {
  SteppedClock clock;
  {
    ConsolePort port(out, out, LiveLook(clock, /*shared=*/true));
    port.SetTitle("ZCreate - a.pcx (Unmasked) - 1");
    clock.Advance(std::chrono::milliseconds(150));
    port.ShowMessage(Owner::kMain, "ZCreate", "Caution! iXLen = 3", MessageIcon::kWarning);
    clock.Advance(std::chrono::milliseconds(150));
    port.SetTitle("ZCreate - b.pcx (Unmasked) - 2");
    port.Note("2000 icons: 2 converted");
  }
  const std::string text = TextOf(out);
  // Each message starts where a clearing left the cursor: at the start of an empty line.
  for (const std::string message :
       {"ZCreate: Caution! iXLen = 3\n", "zgl: 2000 icons: 2 converted\n"}) {
    const std::size_t at = text.find(message);
    ASSERT_NE(at, std::string::npos) << text;
    ASSERT_GE(at, kClearLine.size());
    EXPECT_EQ(text.substr(at - kClearLine.size(), kClearLine.size()), kClearLine) << text;
  }
  const auto drawn = DrawnLines(text);
  ASSERT_GE(drawn.size(), 3u);
  EXPECT_TRUE(drawn[0].ends_with("a.pcx (Unmasked) - 1")) << drawn[0];
  EXPECT_TRUE(drawn.back().ends_with("b.pcx (Unmasked) - 2")) << drawn.back();
  EXPECT_TRUE(text.ends_with("b.pcx (Unmasked) - 2\n")) << text;
}

TEST_F(ConsolePortLines, OnTwoTerminalsOrAFileTheLiveLineStaysWhereItIs) {
  SteppedClock clock;
  ConsolePort port(out, err, LiveLook(clock, /*shared=*/false));
  port.SetTitle("ZCreate - a.pcx (Unmasked) - 1");
  const std::string before = TextOf(out);
  port.ShowMessage(Owner::kMain, "ZCreate", "Caution! iXLen = 3", MessageIcon::kWarning);
  EXPECT_EQ(TextOf(out), before);
  EXPECT_EQ(LinesOf(err), (std::vector<std::string>{"ZCreate: Caution! iXLen = 3"}));
}

TEST_F(ConsolePortLines, QuietShowsWarningsAndZglsOwnLinesOnly) {
  SteppedClock clock;
  for (const bool live : {false, true}) {
    std::FILE* out_file = std::tmpfile();
    std::FILE* err_file = std::tmpfile();
    {
      ConsoleLook look = LiveLook(clock, /*shared=*/false);
      look.live = live;
      look.quiet = true;
      ConsolePort port(out_file, err_file, look);
      EXPECT_FALSE(port.live());
      port.SetTitle("ZCreate - a.pcx (Unmasked) - 1");
      port.SetProgress(40);
      port.ShowMessage(Owner::kMain, "ZCreate",
                       "Could not read coordinates file x. Creating new one.",
                       MessageIcon::kInformation);
      port.ShowMessage(Owner::kMain, "ZCreate", "Caution! iXLen = 3", MessageIcon::kWarning);
      port.Note("2000 icons: 1 converted");
      port.FinishLine();
      EXPECT_EQ(port.warnings(), 1);
    }
    EXPECT_EQ(TextOf(out_file), "") << live;
    EXPECT_EQ(LinesOf(err_file), (std::vector<std::string>{"ZCreate: Caution! iXLen = 3",
                                                           "zgl: 2000 icons: 1 converted"}))
        << live;
    std::fclose(out_file);
    std::fclose(err_file);
  }
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

// Text to a character device that is no console (NUL) goes past the runtime, which would ask
// at every write whether it is a console; a binary stream and a file go through the runtime.
TEST(ConsoleOutput, TextToTheNullDeviceGoesPastTheRuntime) {
  std::FILE* nul = std::fopen("NUL", "w");
  ASSERT_NE(nul, nullptr);
  EXPECT_EQ(WriteTextPastRuntime(nul, "zgl: one\nzgl: two\n"), std::optional<bool>(true));
  EXPECT_TRUE(PrintLine(nul, "ZCreate - pcx\\p3_0_0_1.pcx (Unmasked) - 4711"));
  std::fclose(nul);
  std::FILE* binary = std::fopen("NUL", "wb");
  ASSERT_NE(binary, nullptr);
  EXPECT_EQ(WriteTextPastRuntime(binary, "zgl: one\n"), std::nullopt);
  std::fclose(binary);
  std::FILE* file = std::fopen("console-output.txt", "w");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(WriteTextPastRuntime(file, "zgl: one\n"), std::nullopt);
  std::fclose(file);
  std::remove("console-output.txt");
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

// A request after the command ended (a second Ctrl-C while the process finishes) is
// remembered but touches nothing of the session that is gone.
TEST(ConsoleStop, ARequestAfterTheCommandEndedLeavesItsFlagAlone) {
  static std::atomic<bool> ended_command{false};
  { const StopHandlers handlers(ended_command); }
  EXPECT_TRUE(OnConsoleEvent(CTRL_BREAK_EVENT));
  EXPECT_FALSE(ended_command.load());
  EXPECT_NE(FirstStopRequest(), StopCause::kNone);
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
// A signal after the command ended (one sent twice, the second while the process finishes)
// is remembered but touches nothing of the session that is gone.
TEST(ConsoleStop, ASignalAfterTheCommandEndedLeavesItsFlagAlone) {
  const pid_t child = ::fork();
  if (child == 0) {
    static std::atomic<bool> ended_command{false};
    { const StopHandlers handlers(ended_command); }
    std::raise(SIGHUP);
    ::_exit(!ended_command.load() && FirstStopRequest() == StopCause::kHangUp ? 0 : 1);
  }
  int wait_status = 0;
  ASSERT_EQ(::waitpid(child, &wait_status, 0), child);
  ASSERT_TRUE(WIFEXITED(wait_status));
  EXPECT_EQ(WEXITSTATUS(wait_status), 0);
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
