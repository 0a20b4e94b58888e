// Shell completion for bash and zsh, written from the parser's own tree (qiro7-cli completion
// bash|zsh), so that a new command, option or condition value completes without anyone
// editing a script. The package installs both scripts, made by the program it packs.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace CLI {
class App;
}

// The words an option's value or a command's arguments may be, beyond what the parser knows.
struct CompletionWords {
    std::map<std::string, std::vector<std::string>> optionValues;  // "--format" -> csv, jsonl
    std::map<std::string, std::vector<std::string>> arguments;     // "set" -> range=Auto, ...
};

// The script for "bash" or "zsh"; empty for another shell.
std::string CompletionScript(const std::string& shell, const CLI::App& app,
                             const CompletionWords& words);
