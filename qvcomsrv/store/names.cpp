#include "qvcomsrv/store/names.h"

#include "sky/text.h"

namespace sky::farm {

std::string nameKey(std::string_view name) {
    return sky::narrow(sky::upper(sky::widen(name)));
}

bool sameName(std::string_view a, std::string_view b) {
    return sky::equalNoCase(sky::widen(a), sky::widen(b));
}

Status checkSegmentName(std::string_view what, std::string_view name) {
    if (name.empty())
        return Status::invalidArgument("The " + std::string(what) + " name must not be empty.");
    for (char c : name) {
        if (c == '/' || c == '\\')
            return Status::invalidArgument("The " + std::string(what) + " name \"" +
                                           std::string(name) +
                                           "\" must not contain \"/\" or \"\\\".");
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return Status::invalidArgument("The " + std::string(what) + " name \"" +
                                           std::string(name) +
                                           "\" must not contain control characters.");
    }
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
