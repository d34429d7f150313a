#include "engine/go.h"

// Placeholder until the search lands: "go" is ignored.
void goCommand(const std::vector<std::string>&) {}
