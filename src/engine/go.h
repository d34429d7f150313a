// The "go" command: parses the limits and runs the search to "bestmove".
#pragma once

#include <string>
#include <vector>

// tokens[0] is "go".  Runs on the main thread inside the command handler.
void goCommand(const std::vector<std::string>& tokens);
