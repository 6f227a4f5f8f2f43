// The commands that need no library: font and help.
#include <cstdio>
#include <memory>
#include <string>

#include "app/console/command_line.h"
#include "app/console/console_output.h"
#include "app/console/console_port.h"
#include "app/console/help_topics.h"
#include "app/picture_commands.h"
#include "app/session.h"
#include "files/file_layer.h"

namespace zemlo::console {
namespace {

struct FontArguments {
  std::string picture;
  std::string font;
  bool force = false;
};

int Font(ConsoleRun& run, const FontArguments& a) {
  if (!a.force && files::Exists(a.font.c_str())) {
    run.port.Note(a.font + " exists; --force overwrites it; nothing built");
    return kExitWarned;
  }
  WorkingState& state = run.session.state();
  const auto length = BuildFont(state, a.picture.c_str());
  if (!length) return kExitWarned;
  if (!SaveFont(state, a.font.c_str(), *length, a.force)) return kExitWarned;
  return Outcome(run.port);
}

// `text` with every line indented by two blanks.
std::string Indented(std::string_view text) {
  std::string out = "  ";
  for (const char c : text) {
    out += c;
    if (c == '\n') out += "  ";
  }
  return out;
}

}  // namespace

void AddOtherCommands(CommandLine& line) {
  auto arguments = std::make_shared<FontArguments>();
  CLI::App* font =
      line.app.add_subcommand("font", "build a font file from a PCX picture of characters");
  font->fallthrough();
  font->add_option("PICTURE", arguments->picture, "the PCX picture of the characters")->required();
  font->add_option("FONT", arguments->font, "the font file to write")->required();
  font->add_flag("-f,--force", arguments->force, "overwrite FONT if it exists");
  font->callback([&line, arguments] {
    line.action = [arguments](ConsoleRun& run) { return Font(run, *arguments); };
  });

  CLI::App* help = line.app.add_subcommand(
      "help", "the commands, or help on one of them or on a topic: formats, tags, exit");
  help->fallthrough();
  auto topic = std::make_shared<std::string>();
  help->add_option("TOPIC", *topic,
                   "formats (what is read and written), tags (the project file), exit (the exit "
                   "statuses) or a command");
  help->callback([&line, topic] {
    line.action = [&line, topic](ConsoleRun& run) {
      if (*topic == "formats") {
        PrintText(stdout, kFormatsHelp);
        return kExitOk;
      }
      if (*topic == "tags") {
        PrintText(stdout, kTagsHelp);
        return kExitOk;
      }
      if (*topic == "exit") {
        std::string text;
        for (CLI::App* sub : line.app.get_subcommands({})) {
          text += sub->get_name() + ":\n" + Indented(CommandExitHelp(sub->get_name())) + "\n";
        }
        PrintText(stdout, text);
        return kExitOk;
      }
      if (!topic->empty()) {
        CLI::App* command = nullptr;
        for (CLI::App* sub : line.app.get_subcommands({})) {
          if (sub->get_name() == *topic) command = sub;
        }
        if (command == nullptr) {
          run.port.Note("no help on \"" + *topic +
                        "\"; the topics are formats, tags, exit and the commands' names");
          return kExitUsage;
        }
        PrintText(stdout, command->help(line.app.get_name()));
        return kExitOk;
      }
      // The program's help, not that of "help" itself, which app.help() would give now.
      const std::string commands = line.app.get_formatter()->make_help(
          &line.app, line.app.get_name(), CLI::AppFormatMode::Normal);
      PrintText(stdout, commands);
      return kExitOk;
    };
  });
}

}  // namespace zemlo::console
