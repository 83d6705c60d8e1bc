#include "cli/OptionDocs.h"

#include "cli/OptionTable.h"

#include <fmt/format.h>

namespace kestrova::cli {

namespace {

// man(7) reads a plain "-" as a hyphen; options want the minus sign.
std::string roff(std::string_view text) {
  std::string escaped;
  for (char c : text)
    escaped += c == '-' ? std::string("\\-") : std::string(1, c);
  return escaped;
}

std::string lowercase(std::string_view text) {
  std::string lower(text);
  for (char &c : lower)
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower;
}

std::string manualTag(const OptionSpec &option) {
  if (!option.alias.empty())
    return fmt::format(".BR {} \", \" {}", roff(option.alias), roff(option.name));
  switch (option.value) {
  case ValueKind::none:
    return ".B " + roff(option.name);
  case ValueKind::choice: {
    std::string tag = ".BR " + roff(option.name) + " \" \"";
    for (std::size_t i = 0; i < option.choices.size(); ++i)
      tag += (i == 0 ? " " : " | ") + roff(option.choices[i].word);
    return tag;
  }
  case ValueKind::sourceFile:
  case ValueKind::folder:
  case ValueKind::number:
  case ValueKind::word:
    break;
  }
  return fmt::format(".BI {} \" {}\"", roff(option.name), lowercase(option.valueName));
}

// The shell words completing an option's value, as a case arm's body.
std::string completionArm(const OptionSpec &option) {
  switch (option.value) {
  case ValueKind::sourceFile:
    return "_kestrova_sources; return 0";
  case ValueKind::folder:
    return "compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -d -- \"$cur\"); return 0";
  case ValueKind::number:
  case ValueKind::word:
    return "return 0";
  case ValueKind::choice: {
    std::string words;
    for (const auto &choice : option.choices)
      words += (words.empty() ? "" : " ") + std::string(choice.word);
    return "mapfile -t COMPREPLY < <(compgen -W \"" + words + "\" -- \"$cur\"); return 0";
  }
  case ValueKind::none:
    break;
  }
  return {};
}

} // namespace

std::string manualOptionsSection() {
  std::string text = ".SH OPTIONS\n";
  for (const auto &option : optionTable())
    text += ".TP\n" + manualTag(option) + "\n" + std::string(option.manual) + "\n";
  return text;
}

std::string bashCompletionScript() {
  std::string arms;
  std::string repeatable;
  std::string once;
  std::string first;
  for (const auto &option : optionTable()) {
    if (option.value != ValueKind::none)
      arms += fmt::format("    {}) {} ;;\n", option.name, completionArm(option));
    std::string &list = option.key == OptionKey::input                                      ? repeatable
                        : option.key == OptionKey::help || option.key == OptionKey::version ? first
                                                                                            : once;
    list += (list.empty() ? "" : " ") + std::string(option.name);
  }
  return fmt::format(R"(# bash completion for kestrova                                 -*- shell-script -*-
# Made from the program's option table; a test keeps this file equal to it.
# Installed as share/bash-completion/completions/kestrova, where bash-completion
# loads it on the first <Tab> after "kestrova". Uses plain compgen only, so it
# also works when sourced without bash-completion.

# Sources by extension, and folders to look into.
_kestrova_sources() {{
  compopt -o filenames 2>/dev/null
  local name
  while IFS= read -r name; do
    if [ -d "$name" ]; then
      COMPREPLY+=("$name")
    else
      case ${{name,,}} in
        *.m2ts | *.mts | *.ts | *.mkv | *.mp4 | *.mov | *.iso | *.mpls | *.ssif) COMPREPLY+=("$name") ;;
      esac
    fi
  done < <(compgen -f -- "$cur")
}}

_kestrova() {{
  local cur=${{COMP_WORDS[COMP_CWORD]}}
  local prev=
  [ "$COMP_CWORD" -gt 0 ] && prev=${{COMP_WORDS[COMP_CWORD - 1]}}
  COMPREPLY=()
  case $prev in
{}  esac
  if [[ $cur != -* ]]; then
    _kestrova_sources
    return 0
  fi
  # Options not given yet; --help and --version end the program, so offer
  # them only as the first word.
  local options=({}) word option offered=({})
  [ "$COMP_CWORD" -eq 1 ] && offered+=({})
  for option in "${{options[@]}}"; do
    for word in "${{COMP_WORDS[@]:1:COMP_CWORD-1}}"; do
      [ "$word" = "$option" ] && continue 2
    done
    offered+=("$option")
  done
  mapfile -t COMPREPLY < <(compgen -W "${{offered[*]}}" -- "$cur")
}}
complete -F _kestrova kestrova
)",
                     arms, once, repeatable, first);
}

} // namespace kestrova::cli
