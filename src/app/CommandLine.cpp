#include "app/CommandLine.h"

#include "settings/AppInfo.h"

namespace quorvel {

CommandLine::Parsed CommandLine::parse(const std::vector<std::string_view>& arguments) {
  Parsed parsed;
  for (std::string_view argument : arguments) {
    Request request = Request::mistake;
    if (argument == "--help" || argument == "-h") request = Request::help;
    else if (argument == "--version" || argument == "-V") request = Request::version;
    if (request == Request::mistake) return {Request::mistake, std::string(argument)};
    // The first of several requests is answered ("--help --version" prints the usage).
    if (parsed.request == Request::run) parsed.request = request;
  }
  return parsed;
}

std::string CommandLine::usage() {
  return "Usage: quorvel [--help | --version]\n"
         "\n"
         "Quorvel is a window switcher for X11. Its shortcut (Alt+Tab unless you choose another) shows\n"
         "every open window as a card, and letting go brings the chosen one forward. It waits in the\n"
         "background, with an icon in the tray where the desktop has one; started again while it runs,\n"
         "it opens the settings window of the one running.\n"
         "\n"
         "Options:\n"
         "  -h, --help     print this help and exit\n"
         "  -V, --version  print the version and exit\n"
         "\n"
         "It runs on the X display that DISPLAY names, and keeps its settings in\n"
         "$XDG_CONFIG_HOME/quorvel/ (~/.config/quorvel/ when that is not set).\n";
}

std::string CommandLine::versionText() { return "quorvel " + AppInfo::versionString() + "\n"; }

std::optional<int> CommandLine::answer(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  std::vector<std::string_view> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  const Parsed parsed = parse(arguments);
  switch (parsed.request) {
    case Request::run: return std::nullopt;
    case Request::help: std::fputs(usage().c_str(), out); return 0;
    case Request::version: std::fputs(versionText().c_str(), out); return 0;
    case Request::mistake: {
      const bool option = !parsed.mistake.empty() && parsed.mistake[0] == '-';
      std::fprintf(err, "quorvel: %s '%s'\n\n%s", option ? "unknown option" : "unexpected argument",
                   parsed.mistake.c_str(), usage().c_str());
      return 2;
    }
  }
  return std::nullopt;
}

}  // namespace quorvel
