#include "qvcomsrv/store/names.h"

#include "sky/text.h"

namespace sky::farm {

std::string nameKey(std::string_view name) {
    return sky::narrow(sky::upper(sky::widen(name)));
}

bool sameName(std::string_view a, std::string_view b) {
    return sky::equalNoCase(sky::widen(a), sky::widen(b));
}

bool hasControlCharacter(std::string_view name) {
    for (const char16_t c : sky::widen(name)) {
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        // Marks that turn the direction of text around, so that a name shows as another.
        const bool direction = c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
                               (c >= 0x2066 && c <= 0x2069);
        if (control || direction)
            return true;
    }
    return false;
}

Status checkSegmentName(std::string_view what, std::string_view name) {
    if (name.empty())
        return Status::invalidArgument("The " + std::string(what) + " name must not be empty.");
    if (name == "." || name == "..")
        return Status::invalidArgument("\"" + std::string(name) + "\" cannot name " +
                                       (what == "application" ? "an " : "a ") + std::string(what) +
                                       ".");
    if (name.find_first_of("/\\") != std::string_view::npos)
        return Status::invalidArgument("The " + std::string(what) + " name \"" + std::string(name) +
                                       "\" must not contain \"/\" or \"\\\".");
    if (hasControlCharacter(name))
        return Status::invalidArgument("The " + std::string(what) + " name \"" + std::string(name) +
                                       "\" must not contain control characters.");
    return Status::ok();
}

Result<std::vector<std::string>> splitDistinguishedName(std::string_view dn) {
    const auto invalid = [&](const std::string& why) {
        return Status::invalidArgument("\"" + std::string(dn) +
                                       "\" is not a distinguished name: " + why);
    };
    if (dn.size() < kRootFolder.size() || !sameName(dn.substr(0, kRootFolder.size()), kRootFolder))
        return invalid("it must begin with \"Applications\".");
    std::string_view rest = dn.substr(kRootFolder.size());
    std::vector<std::string> segments;
    if (rest.empty())
        return segments;
    if (rest.front() != '/')
        return invalid("it must begin with \"Applications\".");
    rest.remove_prefix(1);
    while (true) {
        const std::size_t slash = rest.find('/');
        const std::string_view segment = rest.substr(0, slash);
        if (segment.empty())
            return invalid("it has an empty segment.");
        if (segment == "." || segment == "..")
            return invalid("\"" + std::string(segment) + "\" cannot be a segment.");
        if (Status s = checkSegmentName("segment", segment); !s)
            return invalid("a segment holds a control character or \"\\\".");
        segments.emplace_back(segment);
        if (slash == std::string_view::npos)
            break;
        rest.remove_prefix(slash + 1);
    }
    return segments;
}

std::string joinDistinguishedName(std::string_view folderDn, std::string_view name) {
    std::string dn(folderDn);
    dn += '/';
    dn += name;
    return dn;
}

} // namespace sky::farm
