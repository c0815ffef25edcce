#pragma once

#include <QString>

#include <optional>

namespace aquilevel::tools {

struct ToolContext;

// One password for a command: asked on the terminal without echo, or, when standard
// input is not a terminal, its next line (without the line end). Nothing at the end of
// input.
std::optional<QString> readPassword(const QString& prompt, const ToolContext& context);

} // namespace aquilevel::tools
