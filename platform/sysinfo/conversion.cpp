#include "conversion.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <map>

#include "win/sysinfo.h"

namespace sky::sysinfo {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// glibc's name for a Windows code page.
std::string iconvName(UINT codePage) {
    if (codePage >= 28591 && codePage <= 28599)
        return "ISO-8859-" + std::to_string(codePage - 28590);
    switch (codePage) {
    case CP_UTF8:
        return "UTF-8";
    case CP_UTF7:
        return "UTF-7";
    case 1200: // UTF-16 is not a multibyte code page
    case 1201:
    case 12000:
    case 12001:
    case CP_SYMBOL:
        return {};
    case 20127:
        return "ASCII";
    case 28603:
        return "ISO-8859-13";
    case 28605:
        return "ISO-8859-15";
    case 20866:
        return "KOI8-R";
    case 21866:
        return "KOI8-U";
    case 10000:
        return "MACINTOSH";
    case 20932:
    case 51932:
        return "EUC-JP";
    case 51936:
        return "EUC-CN";
    case 51949:
        return "EUC-KR";
    case 50220:
    case 50221:
    case 50222:
        return "ISO-2022-JP";
    case 54936:
        return "GB18030";
    default:
        return "CP" + std::to_string(codePage);
    }
}

// Converters by code page and direction. An iconv descriptor keeps state, so each thread has
// its own.
class Converters {
public:
    Converters() = default;
    Converters(const Converters&) = delete;
    Converters& operator=(const Converters&) = delete;
    ~Converters() {
        for (const auto& entry : open_) {
            if (entry.second != kNoConverter)
                iconv_close(entry.second);
        }
    }

    iconv_t get(UINT codePage, bool toUnicode) {
        const auto key = (static_cast<std::uint64_t>(codePage) << 1) | (toUnicode ? 1u : 0u);
        const auto found = open_.find(key);
        if (found != open_.end())
            return found->second;
        const std::string name = iconvName(codePage);
        iconv_t converter = kNoConverter;
        if (!name.empty())
            converter = toUnicode ? iconv_open("UTF-16LE", name.c_str())
                                  : iconv_open(name.c_str(), "UTF-16LE");
        open_.emplace(key, converter);
        return converter;
    }

private:
    std::map<std::uint64_t, iconv_t> open_;
};

thread_local Converters converters;

// Runs `input` through a converter into `output`. Where the converter cannot take the input,
// `onBad(rest, output)` appends what stands for it and returns how many bytes to pass over
// (0 gives up).
template <class OnBad>
bool convert(iconv_t converter, std::string_view input, std::string& output, OnBad&& onBad) {
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(input.data());
    std::size_t left = input.size();
    char buffer[4096];
    output.clear();
    while (left > 0) {
        char* out = buffer;
        std::size_t room = sizeof buffer;
        const std::size_t result = iconv(converter, &in, &left, &out, &room);
        output.append(buffer, static_cast<std::size_t>(out - buffer));
        if (result != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        const std::size_t skip = onBad(std::string_view(in, left), output);
        if (skip == 0)
            return false;
        in += std::min(skip, left);
        left -= std::min(skip, left);
    }
    char* out = buffer;
    std::size_t room = sizeof buffer;
    iconv(converter, nullptr, nullptr, &out, &room); // back to the initial shift state
    output.append(buffer, static_cast<std::size_t>(out - buffer));
    return true;
}

// The single-byte code pages whose tables leave some of the bytes 0x80-0x9F undefined; Windows
// carries such a byte to the C1 control of the same number and back (0x81 is U+0081), so that
// any byte survives a round trip through text.
bool carriesUndefinedC1(UINT codePage) {
    return codePage == 874 || (codePage >= 1250 && codePage <= 1258);
}

bool isC1(unsigned value) {
    return value >= 0x80 && value <= 0x9F;
}

// Whether the code page's table leaves the byte undefined.
bool undefinedByte(UINT codePage, unsigned char byte) {
    const iconv_t converter = converters.get(codePage, true);
    std::string units;
    const char input[] = {static_cast<char>(byte)};
    return !convert(converter, std::string_view(input, 1), units,
                    [](std::string_view, std::string&) { return std::size_t{0}; });
}

} // namespace

UINT concreteCodePage(UINT codePage) {
    switch (codePage) {
    case CP_ACP:
    case CP_THREAD_ACP:
        return GetACP();
    case CP_OEMCP:
        return GetOEMCP();
    case CP_MACCP:
        return 10000;
    default:
        return codePage;
    }
}

bool isConvertible(UINT codePage) {
    return converters.get(codePage, true) != kNoConverter &&
           converters.get(codePage, false) != kNoConverter;
}

Conversion decode(UINT codePage, std::string_view bytes, bool strict, std::u16string& text) {
    const iconv_t converter = converters.get(codePage, true);
    if (converter == kNoConverter)
        return Conversion::UnknownCodePage;
    std::string units;
    const bool c1 = carriesUndefinedC1(codePage);
    const bool done =
        convert(converter, bytes, units, [&](std::string_view rest, std::string& out) {
            const auto byte = static_cast<unsigned char>(rest[0]);
            if (c1 && isC1(byte)) {
                out.push_back(static_cast<char>(byte));
                out.push_back('\0');
                return std::size_t{1};
            }
            if (strict)
                return std::size_t{0};
            out.append("\xFD\xFF", 2); // U+FFFD, little-endian
            return std::size_t{1};
        });
    if (!done)
        return Conversion::InvalidText;
    text.resize(units.size() / sizeof(char16_t));
    std::memcpy(text.data(), units.data(), text.size() * sizeof(char16_t));
    return Conversion::Done;
}

Conversion encode(UINT codePage, std::u16string_view text, std::string_view replacement,
                  bool strict, std::string& bytes, bool& replaced) {
    const iconv_t converter = converters.get(codePage, false);
    if (converter == kNoConverter)
        return Conversion::UnknownCodePage;
    replaced = false;
    const std::string_view units(reinterpret_cast<const char*>(text.data()),
                                 text.size() * sizeof(char16_t));
    // One replacement for each UTF-16 unit that cannot go across, as Windows does.
    const bool c1 = carriesUndefinedC1(codePage);
    const bool done =
        convert(converter, units, bytes, [&](std::string_view rest, std::string& out) {
            const unsigned unit = static_cast<unsigned char>(rest[0]) |
                                  (rest.size() > 1 ? static_cast<unsigned char>(rest[1]) << 8 : 0u);
            if (c1 && isC1(unit) && undefinedByte(codePage, static_cast<unsigned char>(unit))) {
                out.push_back(static_cast<char>(unit));
                return sizeof(char16_t);
            }
            if (strict)
                return std::size_t{0};
            out.append(replacement);
            replaced = true;
            return sizeof(char16_t);
        });
    return done ? Conversion::Done : Conversion::InvalidText;
}

} // namespace sky::sysinfo
