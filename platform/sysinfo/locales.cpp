#include "locales.h"

#include "win/sysinfo.h"

namespace sky::sysinfo {

namespace {

constexpr Locale kLocales[] = {
    {0x0409, u"en", u"US", u"English", u"United States", 1252, 437, 1},
    {0x0809, u"en", u"GB", u"English", u"United Kingdom", 1252, 850, 44},
    {0x0c09, u"en", u"AU", u"English", u"Australia", 1252, 850, 61},
    {0x1009, u"en", u"CA", u"English", u"Canada", 1252, 850, 2},
    {0x1409, u"en", u"NZ", u"English", u"New Zealand", 1252, 850, 64},
    {0x1809, u"en", u"IE", u"English", u"Ireland", 1252, 850, 353},
    {0x0407, u"de", u"DE", u"German", u"Germany", 1252, 850, 49},
    {0x0807, u"de", u"CH", u"German", u"Switzerland", 1252, 850, 41},
    {0x0c07, u"de", u"AT", u"German", u"Austria", 1252, 850, 43},
    {0x040c, u"fr", u"FR", u"French", u"France", 1252, 850, 33},
    {0x080c, u"fr", u"BE", u"French", u"Belgium", 1252, 850, 32},
    {0x0c0c, u"fr", u"CA", u"French", u"Canada", 1252, 850, 2},
    {0x100c, u"fr", u"CH", u"French", u"Switzerland", 1252, 850, 41},
    {0x0410, u"it", u"IT", u"Italian", u"Italy", 1252, 850, 39},
    {0x0c0a, u"es", u"ES", u"Spanish", u"Spain", 1252, 850, 34},
    {0x080a, u"es", u"MX", u"Spanish", u"Mexico", 1252, 850, 52},
    {0x0413, u"nl", u"NL", u"Dutch", u"Netherlands", 1252, 850, 31},
    {0x0813, u"nl", u"BE", u"Dutch", u"Belgium", 1252, 850, 32},
    {0x0416, u"pt", u"BR", u"Portuguese", u"Brazil", 1252, 850, 55},
    {0x0816, u"pt", u"PT", u"Portuguese", u"Portugal", 1252, 850, 351},
    {0x0406, u"da", u"DK", u"Danish", u"Denmark", 1252, 850, 45},
    {0x041d, u"sv", u"SE", u"Swedish", u"Sweden", 1252, 850, 46},
    {0x0414, u"nb", u"NO", u"Norwegian (Bokm\u00e5l)", u"Norway", 1252, 850, 47},
    {0x040b, u"fi", u"FI", u"Finnish", u"Finland", 1252, 850, 358},
    {0x0405, u"cs", u"CZ", u"Czech", u"Czech Republic", 1250, 852, 420},
    {0x0415, u"pl", u"PL", u"Polish", u"Poland", 1250, 852, 48},
    {0x040e, u"hu", u"HU", u"Hungarian", u"Hungary", 1250, 852, 36},
    {0x0419, u"ru", u"RU", u"Russian", u"Russia", 1251, 866, 7},
    {0x0408, u"el", u"GR", u"Greek", u"Greece", 1253, 737, 30},
    {0x041f, u"tr", u"TR", u"Turkish", u"Turkey", 1254, 857, 90},
    {0x040d, u"he", u"IL", u"Hebrew", u"Israel", 1255, 862, 972},
    {0x0401, u"ar", u"SA", u"Arabic", u"Saudi Arabia", 1256, 720, 966},
    {0x041e, u"th", u"TH", u"Thai", u"Thailand", 874, 874, 66},
    {0x042a, u"vi", u"VN", u"Vietnamese", u"Vietnam", 1258, 1258, 84},
    {0x0411, u"ja", u"JP", u"Japanese", u"Japan", 932, 932, 81},
    {0x0412, u"ko", u"KR", u"Korean", u"Korea", 949, 949, 82},
    {0x0804, u"zh", u"CN", u"Chinese", u"People's Republic of China", 936, 936, 86},
    {0x0404, u"zh", u"TW", u"Chinese", u"Taiwan", 950, 950, 886},
    {0x007f, u"iv", u"IV", u"Invariant Language", u"Invariant Country", 1252, 437, 1},
};

} // namespace

const Locale* findLocale(LCID lcid) {
    const LANGID language = LANGIDFROMLCID(lcid);
    const bool neutral = SUBLANGID(language) == SUBLANG_NEUTRAL && language != LOCALE_INVARIANT;
    for (const Locale& locale : kLocales) {
        if (locale.language == language ||
            (neutral && PRIMARYLANGID(locale.language) == PRIMARYLANGID(language)))
            return &locale;
    }
    return nullptr;
}

} // namespace sky::sysinfo
