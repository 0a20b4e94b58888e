#include "cli/Completion.h"

#include <CLI/CLI.hpp>

#include <set>

namespace {

struct OptionWords {
    std::vector<std::string> names;
    bool takesValue = false;
    bool file = false;  // its value is a path
    std::vector<std::string> values;
    std::string description;
};

struct CommandWords {
    std::string name;
    std::string description;
    std::vector<OptionWords> options;
    std::vector<std::string> arguments;
};

std::vector<OptionWords> OptionsOf(const CLI::App& app, const CompletionWords& words) {
    std::vector<OptionWords> options;
    for (const CLI::Option* option : app.get_options()) {
        // A command's own --help is offered once, with the program's.
        if (!option->nonpositional() ||
            (app.get_parent() != nullptr && option == app.get_help_ptr())) {
            continue;
        }
        OptionWords word;
        for (const std::string& name : option->get_lnames()) {
            word.names.push_back("--" + name);
        }
        for (const std::string& name : option->get_snames()) {
            word.names.push_back("-" + name);
        }
        word.takesValue = option->get_items_expected_max() > 0;
        const std::string type = option->get_type_name();
        word.file = type == "FILE" || type == "DIR";
        if (const auto values = words.optionValues.find(word.names.front());
            values != words.optionValues.end()) {
            word.values = values->second;
        }
        word.description = option->get_description();
        options.push_back(word);
    }
    return options;
}

std::vector<CommandWords> CommandsOf(const CLI::App& app, const CompletionWords& words) {
    std::vector<CommandWords> commands;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
        CommandWords command{sub->get_name(), sub->get_description(), OptionsOf(*sub, words), {}};
        if (const auto arguments = words.arguments.find(command.name);
            arguments != words.arguments.end()) {
            command.arguments = arguments->second;
        }
        commands.push_back(command);
    }
    return commands;
}

std::string Joined(const std::vector<std::string>& words, const std::string& separator = " ") {
    std::string text;
    for (const std::string& word : words) {
        text += (text.empty() ? "" : separator) + word;
    }
    return text;
}

std::string AllNames(const std::vector<OptionWords>& options) {
    std::vector<std::string> names;
    for (const OptionWords& option : options) {
        names.insert(names.end(), option.names.begin(), option.names.end());
    }
    return Joined(names);
}

// bash: the word being completed is taken from the line itself, so that "range=A" stays one
// word although bash breaks words at '='.
std::string Bash(const std::vector<OptionWords>& global,
                 const std::vector<CommandWords>& commands) {
    std::vector<std::string> commandNames;
    std::string valueCases;
    std::string commandCases;
    std::vector<OptionWords> all = global;
    for (const CommandWords& command : commands) {
        commandNames.push_back(command.name);
        all.insert(all.end(), command.options.begin(), command.options.end());
        commandCases += "            " + command.name + ") words=\"" + AllNames(command.options) +
                        " " + Joined(command.arguments) + "\" ;;\n";
    }
    std::set<std::string> told;
    for (const OptionWords& option : all) {
        if (!option.takesValue || !told.insert(option.names.front()).second) {
            continue;
        }
        const std::string action = option.file ? "compopt -o default; COMPREPLY=(); return"
                                               : "words=\"" + Joined(option.values) + "\"";
        valueCases += "        " + Joined(option.names, "|") + ") " + action + " ;;\n";
    }
    return "# bash completion for qiro7-cli; made by \"qiro7-cli completion bash\"\n"
           "_qiro7_cli() {\n"
           "    local line=\"${COMP_LINE:0:COMP_POINT}\"\n"
           "    local cur=\"${line##*[[:space:]]}\"\n"
           "    local prev=\"\" command=\"\" word words\n"
           "    local commands=\"" +
           Joined(commandNames) +
           "\"\n"
           "    for word in \"${COMP_WORDS[@]:1:COMP_CWORD-1}\"; do\n"
           "        [[ -z $command && \" $commands \" == *\" $word \"* ]] && command=$word\n"
           "    done\n"
           "    [[ $line =~ ([^[:space:]]+)[[:space:]]+[^[:space:]]*$ ]] && "
           "prev=${BASH_REMATCH[1]}\n"
           "    case $prev in\n" +
           valueCases +
           "        *) case $command in\n"
           "            \"\") words=\"$commands\" ;;\n" +
           commandCases +
           "            esac\n"
           "            words=\"$words " +
           AllNames(global) +
           "\" ;;\n"
           "    esac\n"
           "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
           "    # bash takes what follows the last '=' as the word\n"
           "    [[ $cur == *=* ]] && COMPREPLY=(\"${COMPREPLY[@]#*=}\")\n"
           "    return 0\n"
           "}\n"
           "complete -F _qiro7_cli qiro7-cli\n";
}

// zsh: _arguments specifications, "(name)--option[description]:value:(choices)".
std::string ZshSpecs(const std::vector<OptionWords>& options) {
    std::string specs;
    for (const OptionWords& option : options) {
        std::string description = option.description.substr(0, option.description.find('\n'));
        for (char& c : description) {
            c = c == '[' || c == ']' || c == ':' || c == '\'' ? ' ' : c;
        }
        for (const std::string& name : option.names) {
            std::string spec = "'" + name + "[" + description + "]";
            if (option.takesValue) {
                spec += option.file ? ":file:_files" : ":value:(" + Joined(option.values) + ")";
            }
            specs += "        " + spec + "' \\\n";
        }
    }
    return specs;
}

std::string Zsh(const std::vector<OptionWords>& global, const std::vector<CommandWords>& commands) {
    std::string described;
    std::string cases;
    for (const CommandWords& command : commands) {
        std::string description = command.description;
        for (char& c : description) {
            c = c == ':' || c == '\'' ? ' ' : c;
        }
        described += "        '" + command.name + ":" + description + "'\n";
        cases += "        " + command.name + ")\n            _arguments \\\n" +
                 ZshSpecs(command.options) + ZshSpecs(global) + "                '*:argument:(" +
                 Joined(command.arguments) + ")'\n            ;;\n";
    }
    return "#compdef qiro7-cli\n"
           "# zsh completion for qiro7-cli; made by \"qiro7-cli completion zsh\"\n"
           "_qiro7_cli() {\n"
           "    local -a commands\n"
           "    commands=(\n" +
           described +
           "    )\n"
           "    local state line\n"
           "    _arguments -C \\\n" +
           ZshSpecs(global) +
           "        '1:command:->command' '*::argument:->argument'\n"
           "    case $state in\n"
           "    command) _describe command commands ;;\n"
           "    argument)\n"
           "        case $line[1] in\n" +
           cases +
           "        esac\n"
           "        ;;\n"
           "    esac\n"
           "}\n"
           "_qiro7_cli \"$@\"\n";
}

}  // namespace

std::string CompletionScript(const std::string& shell, const CLI::App& app,
                             const CompletionWords& words) {
    const std::vector<OptionWords> global = OptionsOf(app, words);
    const std::vector<CommandWords> commands = CommandsOf(app, words);
    if (shell == "bash") {
        return Bash(global, commands);
    }
    return shell == "zsh" ? Zsh(global, commands) : std::string();
}
