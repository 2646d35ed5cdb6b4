#pragma once
// Subcommands of anigif register themselves here; main() dispatches by name.

#include <string>
#include <string_view>
#include <vector>

namespace velmora::anigif {

// Returns the process exit status. args excludes the program and the subcommand name.
using CommandFn = int (*)(const std::vector<std::string>& args);

struct CommandRegistrar {
  CommandRegistrar(std::string_view name, std::string_view usage, CommandFn fn);
};

}  // namespace velmora::anigif
