#include "access/Forwarding.h"

#include <vector>

namespace vela {

std::string ActionText(const Command& command, BSTR host, std::initializer_list<Placeholder> placeholders)
{
    if (!command.action) return {};
    std::vector<std::string> texts;
    texts.reserve(placeholders.size() + 1); // no reallocation: the arguments below view these
    std::vector<FormatArg> args;
    args.reserve(placeholders.size() + 1);
    args.emplace_back(texts.emplace_back(Narrow(host)));
    for (const Placeholder& p : placeholders) {
        if (p.IsText())
            args.emplace_back(texts.emplace_back(p.Text()));
        else
            args.emplace_back(p.Number());
    }
    return Format(command.action, args.data(), args.size());
}

} // namespace vela
