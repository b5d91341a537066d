// tolm-upgrade-cli reference KIND (hidden): the command line as the CLI11
// definitions make it, written out for the manual page (its synopsis and its
// commands with their options) and for the bash completion (its word lists).
// The build fills the page and the completion from here, so that neither can
// fall behind the options.
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Cliargs.h"
#include "cli/Commands.h"

namespace tolm::cli {

namespace {

bool Visible(const CLI::App* app) { return !app->get_group().empty(); }

std::vector<const CLI::App*> Subcommands(const CLI::App* app) {
    return app->get_subcommands([](const CLI::App* sub) { return Visible(sub); });
}

// The options an operator may give, help included; positional arguments apart.
std::vector<const CLI::Option*> Options(const CLI::App* app, bool positional) {
    return app->get_options([positional](const CLI::Option* opt) {
        return !opt->get_group().empty() && opt->get_positional() == positional;
    });
}

std::string Path(const CLI::App* app) {
    std::string path;
    for (; app && app->get_parent(); app = app->get_parent())
        path = app->get_name() + (path.empty() ? "" : " ") + path;
    return path;
}

// Every command below app, depth first: "upgrade", "ports", "ports link", ...
void Walk(const CLI::App* app, std::vector<const CLI::App*>& all) {
    for (const CLI::App* sub : Subcommands(app)) {
        all.push_back(sub);
        Walk(sub, all);
    }
}

bool TakesValue(const CLI::Option* opt) { return opt->get_expected_min() > 0; }

// ---- manual page

// Text for roff: backslashes escaped, no line that a period or quote starts.
std::string Roff(std::string text) {
    std::string out;
    for (char c : text) out += c == '\\' ? std::string("\\e") : std::string(1, c);
    return out;
}

std::string RoffName(const std::string& name) {
    std::string out;
    for (char c : name) out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
}

// A help text's lines made one paragraph, its first letter a capital, ending in a period.
std::string Sentence(std::string text) {
    for (auto& c : text)
        if (c == '\n') c = ' ';
    if (text.empty()) return text;
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (text.back() != '.') text += '.';
    return Roff(text);
}

void PrintLine(const std::string& line) {
    const bool guard = !line.empty() && (line[0] == '.' || line[0] == '\'');
    std::printf("%s%s\n", guard ? "\\&" : "", line.c_str());
}

// Runnable alone: a command without sub-commands, or one whose sub-command may be left out.
bool Runnable(const CLI::App* app) { return Subcommands(app).empty() || app->get_require_subcommand_min() == 0; }

void PrintSynopsis(const CLI::App& top) {
    std::vector<const CLI::App*> all;
    Walk(&top, all);
    for (const CLI::App* app : all) {
        if (!Runnable(app)) continue;
        std::printf(".B %s %s\n", top.get_name().c_str(), Path(app).c_str());
        for (const CLI::Option* opt : Options(app, false)) {
            if (opt == app->get_help_ptr()) continue;
            const std::string name = RoffName(opt->get_name()), value = Roff(opt->get_type_name());
            if (opt->get_required())
                std::printf(".B %s\n.I %s\n", name.c_str(), value.c_str());
            else if (TakesValue(opt))
                std::printf(".RB [ %s\n.IR %s ]\n", name.c_str(), value.c_str());
            else
                std::printf(".RB [ %s ]\n", name.c_str());
        }
        for (const CLI::Option* opt : Options(app, true)) {
            const std::string name = Roff(opt->get_name(true));
            if (opt->get_required())
                std::printf(".I %s\n", name.c_str());
            else
                std::printf(".RI [ %s ]\n", name.c_str());
        }
        std::printf(".br\n");
    }
    std::printf(".B %s\n.BR \\-\\-help \" | \" \\-\\-version\n", top.get_name().c_str());
}

void PrintCommands(const CLI::App& top) {
    std::vector<const CLI::App*> all;
    Walk(&top, all);
    for (const CLI::App* app : all) {
        std::printf(".TP\n.B %s\n", Path(app).c_str());
        PrintLine(Sentence(app->get_description()));
        // A sub-command starts with its parent's footer; print it once, with the parent.
        const std::string footer = app->get_footer();
        if (!footer.empty() && footer != app->get_parent()->get_footer()) PrintLine(Sentence(footer));
        std::vector<const CLI::Option*> options;
        for (const CLI::Option* opt : Options(app, false))
            if (opt != app->get_help_ptr()) options.push_back(opt);
        if (options.empty() && Options(app, true).empty()) continue;
        std::printf(".RS\n");
        for (const CLI::Option* opt : Options(app, true)) {
            std::printf(".TP\n.I %s\n", Roff(opt->get_name(true)).c_str());
            PrintLine(Sentence(opt->get_description()));
        }
        for (const CLI::Option* opt : options) {
            if (TakesValue(opt))
                std::printf(".TP\n.BI %s \" %s\"\n", RoffName(opt->get_name()).c_str(), Roff(opt->get_type_name()).c_str());
            else
                std::printf(".TP\n.B %s\n", RoffName(opt->get_name()).c_str());
            PrintLine(Sentence(opt->get_description()));
        }
        std::printf(".RE\n");
    }
}

// ---- bash completion

std::string Words(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& w : words) text += (text.empty() ? "" : " ") + w;
    return text;
}

// Option names and value names are plain words; quote them for bash all the same.
std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::vector<std::string> OptionNames(const CLI::App* app) {
    std::vector<std::string> names;
    for (const CLI::Option* opt : Options(app, false))
        for (const auto& name : opt->get_lnames()) names.push_back("--" + name);
    return names;
}

void PrintCompletion(const CLI::App& top) {
    std::vector<const CLI::App*> all;
    Walk(&top, all);
    std::printf("# The commands, their options and arguments, as tolm-upgrade-cli defines them.\n");
    std::vector<std::string> names;
    for (const CLI::App* sub : Subcommands(&top)) names.push_back(sub->get_name());
    std::printf("_tolm_upgrade_cli_commands=%s\n", Quoted(Words(names)).c_str());
    std::printf("_tolm_upgrade_cli_top_options=%s\n", Quoted(Words(OptionNames(&top))).c_str());
    std::printf("declare -A _tolm_upgrade_cli_subcommands=(\n");
    for (const CLI::App* app : all) {
        names.clear();
        for (const CLI::App* sub : Subcommands(app)) names.push_back(sub->get_name());
        if (!names.empty()) std::printf("    [%s]=%s\n", Quoted(Path(app)).c_str(), Quoted(Words(names)).c_str());
    }
    std::printf(")\ndeclare -A _tolm_upgrade_cli_options=(\n");
    for (const CLI::App* app : all)
        std::printf("    [%s]=%s\n", Quoted(Path(app)).c_str(), Quoted(Words(OptionNames(app))).c_str());
    std::printf(")\n# The value each option takes, by its name in the help (P, FILE, A|B, N, ...).\n");
    std::printf("declare -A _tolm_upgrade_cli_values=(\n");
    for (const CLI::App* app : all)
        for (const CLI::Option* opt : Options(app, false))
            if (TakesValue(opt))
                for (const auto& name : opt->get_lnames())
                    std::printf("    [%s]=%s\n", Quoted(Path(app) + " --" + name).c_str(),
                                Quoted(opt->get_type_name()).c_str());
    std::printf(")\n# The positional arguments, in order.\ndeclare -A _tolm_upgrade_cli_arguments=(\n");
    for (const CLI::App* app : all) {
        names.clear();
        for (const CLI::Option* opt : Options(app, true)) names.push_back(opt->get_name(true));
        if (!names.empty()) std::printf("    [%s]=%s\n", Quoted(Path(app)).c_str(), Quoted(Words(names)).c_str());
    }
    std::printf(")\n");
}

}  // namespace

void AddReferenceCommand(CLI::App& app, CommandRun& run) {
    auto kind = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand("reference", "the command line for the manual page and the completion");
    cmd->group("");  // for the build, not for operators
    cmd->add_option("KIND", *kind, "synopsis, commands or bash")
        ->required()
        ->check(CLI::IsMember({"synopsis", "commands", "bash"}));
    cmd->callback([kind, &app, &run] {
        run = [kind, &app] {
            if (*kind == "synopsis") PrintSynopsis(app);
            if (*kind == "commands") PrintCommands(app);
            if (*kind == "bash") PrintCompletion(app);
            return std::fflush(stdout) == 0 ? kExitPass : kExitFailed;
        };
    });
}

}  // namespace tolm::cli
