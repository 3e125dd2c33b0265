#include "commands.h"

const std::vector<Command> &controlCommands();
const std::vector<Command> &captureCommands();

const std::vector<Command> &extraCommands() {
    static const std::vector<Command> commands = [] {
        std::vector<Command> all;
        for (const std::vector<Command> *group : {&controlCommands(), &captureCommands()}) all.insert(all.end(), group->begin(), group->end());
        return all;
    }();
    return commands;
}
