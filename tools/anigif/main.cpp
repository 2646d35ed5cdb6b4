// anigif: a command-line tool over the ucAniGIF control.

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tools/anigif/command.h"

namespace velmora::anigif {
namespace {

struct Command {
  std::string usage;
  CommandFn fn;
};

std::map<std::string, Command>& Commands() {
  static std::map<std::string, Command> commands;
  return commands;
}

int PrintUsage() {
  std::fprintf(stderr, "usage:\n");
  for (const auto& [name, command] : Commands()) {
    std::fprintf(stderr, "  anigif %s %s\n", name.c_str(), command.usage.c_str());
  }
  return 2;
}

}  // namespace

CommandRegistrar::CommandRegistrar(std::string_view name, std::string_view usage, CommandFn fn) {
  Commands()[std::string(name)] = Command{std::string(usage), fn};
}

}  // namespace velmora::anigif

int main(int argc, char** argv) {
  using namespace velmora::anigif;
  if (argc < 2) return PrintUsage();
  auto it = Commands().find(argv[1]);
  if (it == Commands().end()) {
    std::fprintf(stderr, "anigif: unknown command '%s'\n", argv[1]);
    return PrintUsage();
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  return it->second.fn(args);
}
