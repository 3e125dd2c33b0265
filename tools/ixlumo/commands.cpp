#include "commands.h"

const std::vector<Command> &extraCommands() {
    static const std::vector<Command> commands = {};
    return commands;
}
