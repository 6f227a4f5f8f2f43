#include "app/console/docs/bash_completion.h"

#include <map>

namespace zemlo::console::docs {
namespace {

// What an argument is completed with, by the name the help gives it: "files:EXT..." (files
// with one of the endings, and folders to go through), "dir", "words:WORD..." or nothing.
std::string ArgumentKind(const std::string& name, const std::string& topics) {
  static const std::map<std::string, std::string> kKinds = {
      {"PROJECT", "files:zgl"}, {"PICTURE", "files:pcx"}, {"OUT", "files:pcx png"},
      {"FONT", "files:fnt"},    {"OUTDIR", "dir"},        {"DIR", "dir"},
  };
  if (name == "TOPIC") return "words:" + topics;
  const auto kind = kKinds.find(name);
  return kind == kKinds.end() ? std::string() : kind->second;
}

// The kind of an option's value: one of the words of "pcx|png", or as for an argument.
std::string ValueKind(const std::string& value, const std::string& topics) {
  if (value.find('|') == std::string::npos) return ArgumentKind(value, topics);
  std::string words = value;
  for (char& c : words) {
    if (c == '|') c = ' ';
  }
  return "words:" + words;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::string Names(const std::vector<HelpEntry>& entries, bool skip_version) {
  std::string names;
  for (const HelpEntry& entry : entries) {
    if (skip_version && entry.names.back() == "--version") continue;
    for (const std::string& name : entry.names) names += (names.empty() ? "" : " ") + name;
  }
  return names;
}

}  // namespace

std::string BashCompletion(const ProgramHelp& help) {
  std::string commands = Names(help.program.commands, false);
  // "zgl help" takes the topics its own help names, and the commands.
  const std::string topics = "formats tags exit " + commands;
  std::string options_of, value_of, argument_of;
  for (std::size_t i = 0; i < help.commands.size(); ++i) {
    const std::string& name = help.program.commands[i].names[0];
    options_of +=
        "    " + name + ") echo " + Quoted(Names(help.commands[i].options, false)) + " ;;\n";
    for (const HelpEntry& option : help.commands[i].options) {
      if (option.value.empty()) continue;
      for (const std::string& option_name : option.names) {
        value_of += "    " + Quoted(name + " " + option_name) + ") echo " +
                    Quoted("value:" + ValueKind(option.value, topics)) + " ;;\n";
      }
    }
    for (std::size_t p = 0; p < help.commands[i].positionals.size(); ++p) {
      argument_of += "    " + Quoted(name + " " + std::to_string(p)) + ") echo " +
                     Quoted(ArgumentKind(help.commands[i].positionals[p].names[0], topics)) +
                     " ;;\n";
    }
  }
  std::string global_values;
  for (const HelpEntry& option : help.program.options) {
    if (option.value.empty()) continue;
    for (const std::string& option_name : option.names) {
      global_values += "    *" + Quoted(" " + option_name) + ") echo " +
                       Quoted("value:" + ValueKind(option.value, topics)) + " ;;\n";
    }
  }
  return "# bash completion for zgl, made from the program's own help when it was built.\n"
         "\n"
         "# The options of a command; after it the program's options are taken too.\n"
         "_zgl_options() {\n"
         "  case $1 in\n" +
         options_of +
         "  esac\n"
         "}\n"
         "\n"
         "# \"value:KIND\" for an option of the command that takes a value; nothing for a flag.\n"
         "_zgl_value() {\n"
         "  case \"$1 $2\" in\n" +
         value_of + global_values +
         "  esac\n"
         "}\n"
         "\n"
         "# What the command's argument at the position given is completed with.\n"
         "_zgl_argument() {\n"
         "  case \"$1 $2\" in\n" +
         argument_of +
         "  esac\n"
         "}\n"
         "\n"
         "# Fills COMPREPLY with what fits KIND and starts with the word.\n"
         "_zgl_complete() {  # KIND WORD\n"
         "  local kind=$1 word=$2 name ending\n"
         "  local -a endings names\n"
         "  COMPREPLY=()\n"
         "  case $kind in\n"
         "    dir)\n"
         "      mapfile -t COMPREPLY < <(compgen -d -- \"$word\")\n"
         "      compopt -o filenames 2>/dev/null || true ;;\n"
         "    files:*)\n"
         "      read -ra endings <<<\"${kind#files:}\"\n"
         "      mapfile -t names < <(compgen -f -- \"$word\")\n"
         "      for name in \"${names[@]}\"; do\n"
         "        if [[ -d $name ]]; then COMPREPLY+=(\"$name\"); continue; fi\n"
         "        for ending in \"${endings[@]}\"; do\n"
         "          # Names from Windows come in upper case too.\n"
         "          if [[ ${name,,} == *.\"$ending\" ]]; then COMPREPLY+=(\"$name\"); fi\n"
         "        done\n"
         "      done\n"
         "      compopt -o filenames 2>/dev/null || true ;;\n"
         "    words:*)\n"
         "      mapfile -t COMPREPLY < <(compgen -W \"${kind#words:}\" -- \"$word\") ;;\n"
         "  esac\n"
         "}\n"
         "\n"
         "_zgl() {\n"
         "  local word=${COMP_WORDS[COMP_CWORD]} previous=\"\" command=\"\" arguments=0 i value\n"
         "  local program_options=" +
         Quoted(Names(help.program.options, false)) +
         "\n"
         "  local after_command=" +
         Quoted(Names(help.program.options, true)) +
         "\n"
         "  local commands=" +
         Quoted(commands) +
         "\n"
         "  if (( COMP_CWORD > 0 )); then previous=${COMP_WORDS[COMP_CWORD - 1]}; fi\n"
         "  # The command is the first word that is no option; after it, count the arguments\n"
         "  # before the word, leaving out options and the values they take.\n"
         "  for (( i = 1; i < COMP_CWORD; i++ )); do\n"
         "    if [[ -z $command ]]; then\n"
         "      [[ ${COMP_WORDS[i]} == -* ]] || command=${COMP_WORDS[i]}\n"
         "    elif [[ ${COMP_WORDS[i]} == -* ]]; then\n"
         "      if [[ -n $(_zgl_value \"$command\" \"${COMP_WORDS[i]}\") ]]; then i=$((i + 1)); "
         "fi\n"
         "    else\n"
         "      arguments=$((arguments + 1))\n"
         "    fi\n"
         "  done\n"
         "  if [[ -z $command ]]; then\n"
         "    if [[ $word == -* ]]; then _zgl_complete \"words:$program_options\" \"$word\"\n"
         "    else _zgl_complete \"words:$commands\" \"$word\"; fi\n"
         "    return 0\n"
         "  fi\n"
         "  value=$(_zgl_value \"$command\" \"$previous\")\n"
         "  if [[ -n $value ]]; then\n"
         "    _zgl_complete \"${value#value:}\" \"$word\"\n"
         "  elif [[ $word == -* ]]; then\n"
         "    _zgl_complete \"words:$(_zgl_options \"$command\") $after_command\" \"$word\"\n"
         "  else\n"
         "    _zgl_complete \"$(_zgl_argument \"$command\" \"$arguments\")\" \"$word\"\n"
         "  fi\n"
         "  return 0\n"
         "}\n"
         "complete -F _zgl zgl\n";
}

}  // namespace zemlo::console::docs
