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

// Fills COMPREPLY with the names that fit a kind ("dir", "files:pcx lbm", "words:a b").
constexpr std::string_view kCompleteFunction =
    R"sh(# Fills COMPREPLY with what fits KIND and starts with the word.
_zgl_complete() {  # KIND WORD
  local kind=$1 word=$2 name ending
  local -a endings names
  COMPREPLY=()
  case $kind in
    dir)
      mapfile -t COMPREPLY < <(compgen -d -- "$word")
      compopt -o filenames 2>/dev/null || true ;;
    files:*)
      read -ra endings <<<"${kind#files:}"
      mapfile -t names < <(compgen -f -- "$word")
      for name in "${names[@]}"; do
        if [[ -d $name ]]; then COMPREPLY+=("$name"); continue; fi
        for ending in "${endings[@]}"; do
          # Names from Windows come in upper case too.
          if [[ ${name,,} == *."$ending" ]]; then COMPREPLY+=("$name"); fi
        done
      done
      compopt -o filenames 2>/dev/null || true ;;
    words:*)
      mapfile -t COMPREPLY < <(compgen -W "${kind#words:}" -- "$word") ;;
  esac
}

)sh";

// The body of _zgl after its local names: finds the command and the argument's place.
constexpr std::string_view kCompletionBody =
    R"sh(  if (( COMP_CWORD > 0 )); then previous=${COMP_WORDS[COMP_CWORD - 1]}; fi
  # The command is the first word that is no option; after it, count the arguments
  # before the word, leaving out options and the values they take.
  for (( i = 1; i < COMP_CWORD; i++ )); do
    if [[ -z $command ]]; then
      [[ ${COMP_WORDS[i]} == -* ]] || command=${COMP_WORDS[i]}
    elif [[ ${COMP_WORDS[i]} == -* ]]; then
      if [[ -n $(_zgl_value "$command" "${COMP_WORDS[i]}") ]]; then i=$((i + 1)); fi
    else
      arguments=$((arguments + 1))
    fi
  done
  if [[ -z $command ]]; then
    if [[ $word == -* ]]; then _zgl_complete "words:$program_options" "$word"
    else _zgl_complete "words:$commands" "$word"; fi
    return 0
  fi
  value=$(_zgl_value "$command" "$previous")
  if [[ -n $value ]]; then
    _zgl_complete "${value#value:}" "$word"
  elif [[ $word == -* ]]; then
    _zgl_complete "words:$(_zgl_options "$command") $after_command" "$word"
  else
    _zgl_complete "$(_zgl_argument "$command" "$arguments")" "$word"
  fi
  return 0
}
complete -F _zgl zgl
)sh";

struct CaseTables {
  std::string options_of;   // command) echo "options"
  std::string value_of;     // "command option") echo "value:KIND"
  std::string argument_of;  // "command position") echo "KIND"
};

CaseTables CommandCases(const ProgramHelp& help, const std::string& topics) {
  CaseTables cases;
  for (std::size_t i = 0; i < help.commands.size(); ++i) {
    const std::string& name = help.program.commands[i].names[0];
    cases.options_of +=
        "    " + name + ") echo " + Quoted(Names(help.commands[i].options, false)) + " ;;\n";
    for (const HelpEntry& option : help.commands[i].options) {
      if (option.value.empty()) continue;
      for (const std::string& option_name : option.names) {
        cases.value_of += "    " + Quoted(name + " " + option_name) + ") echo " +
                          Quoted("value:" + ValueKind(option.value, topics)) + " ;;\n";
      }
    }
    for (std::size_t p = 0; p < help.commands[i].positionals.size(); ++p) {
      cases.argument_of += "    " + Quoted(name + " " + std::to_string(p)) + ") echo " +
                           Quoted(ArgumentKind(help.commands[i].positionals[p].names[0], topics)) +
                           " ;;\n";
    }
  }
  // The program's own options take their values after any command.
  for (const HelpEntry& option : help.program.options) {
    if (option.value.empty()) continue;
    for (const std::string& option_name : option.names) {
      cases.value_of += "    *" + Quoted(" " + option_name) + ") echo " +
                        Quoted("value:" + ValueKind(option.value, topics)) + " ;;\n";
    }
  }
  return cases;
}

std::string CaseFunction(std::string_view comment, std::string_view name, std::string_view word,
                         const std::string& cases) {
  return std::string(comment) + "\n" + std::string(name) + "() {\n  case " + std::string(word) +
         " in\n" + cases + "  esac\n}\n\n";
}

}  // namespace

std::string BashCompletion(const ProgramHelp& help) {
  const std::string commands = Names(help.program.commands, false);
  // "zgl help" takes the topics its own help names, and the commands.
  const CaseTables cases = CommandCases(help, "formats tags exit " + commands);
  return "# bash completion for zgl, made from the program's own help when it was built.\n\n" +
         CaseFunction("# The options of a command; after it the program's options are taken too.",
                      "_zgl_options", "$1", cases.options_of) +
         CaseFunction(
             "# \"value:KIND\" for an option of the command that takes a value; nothing for a "
             "flag.",
             "_zgl_value", "\"$1 $2\"", cases.value_of) +
         CaseFunction("# What the command's argument at the position given is completed with.",
                      "_zgl_argument", "\"$1 $2\"", cases.argument_of) +
         std::string(kCompleteFunction) + "_zgl() {\n" +
         "  local word=${COMP_WORDS[COMP_CWORD]} previous=\"\" command=\"\" arguments=0 i value\n" +
         "  local program_options=" + Quoted(Names(help.program.options, false)) + "\n" +
         "  local after_command=" + Quoted(Names(help.program.options, true)) + "\n" +
         "  local commands=" + Quoted(commands) + "\n" + std::string(kCompletionBody);
}

}  // namespace zemlo::console::docs
