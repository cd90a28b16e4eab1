// Host locale conventions through newlocale and nl_langinfo_l, and Unicode upper-casing.
#include "module/host_locale.h"

#include <langinfo.h>
#include <wctype.h>

#include <algorithm>
#include <cstdlib>
#include <locale>
#include <new>
#include <optional>

namespace pullwire {
namespace {

constexpr char kDefaultTimeSeparator[] = ":";
constexpr std::u32string_view kConversionFlags = U"_-0^#";
constexpr std::u32string_view kAsciiPunctuation = U"!\"#$&'()*+,-./:;<=>?@[\\]^_`{|}~";  // no "%"

// The locale last made for one use and the name it was made from. glibc reads a locale that is
// not in its archive (C.UTF-8 is not) from disk again for every newlocale, a hundred times the
// cost of a lookup here. Everything runs on the host's calling thread, so no lock.
struct CachedLocale {
  std::string name;
  locale_t locale = nullptr;
  ~CachedLocale() {
    if (locale != nullptr) freelocale(locale);
  }
};
CachedLocale time_locale;
CachedLocale numeric_locale;
CachedLocale unicode_locale;

// The locale `name` names for the categories of `mask`, "C" when the machine does not have it.
locale_t LocaleNamed(CachedLocale& cache, int mask, const std::string& name) {
  if (cache.locale != nullptr && cache.name == name) return cache.locale;
  locale_t made = newlocale(mask, name.c_str(), nullptr);
  if (made == nullptr) made = newlocale(mask, "C", nullptr);
  if (made == nullptr) throw std::bad_alloc();
  if (cache.locale != nullptr) freelocale(cache.locale);
  cache.name = name;
  cache.locale = made;
  return made;
}

// The name newlocale(mask, "", ...) would take: POSIX's order, an empty variable counting as unset.
std::string EnvironmentLocaleName(const char* category_variable) {
  for (const char* variable : {"LC_ALL", category_variable, "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

using Utf8Codec = std::codecvt<char32_t, char8_t, std::mbstate_t>;

const Utf8Codec& Codec() { return std::use_facet<Utf8Codec>(std::locale::classic()); }

std::string ToUtf8(std::u32string_view text) {
  std::u8string bytes(text.size() * static_cast<std::size_t>(Codec().max_length()), u8'\0');
  std::mbstate_t state{};
  const char32_t* from_next = nullptr;
  char8_t* to_next = nullptr;
  Codec().out(state, text.data(), text.data() + text.size(), from_next, bytes.data(),
              bytes.data() + bytes.size(), to_next);
  return std::string(bytes.data(), to_next);
}

// Nothing for text that is not UTF-8 as a whole.
std::optional<std::u32string> FromUtf8(std::string_view text) {
  const std::u8string bytes(text.begin(), text.end());
  std::u32string wide(bytes.size(), U'\0');
  std::mbstate_t state{};
  const char8_t* from_next = nullptr;
  char32_t* to_next = nullptr;
  const auto result = Codec().in(state, bytes.data(), bytes.data() + bytes.size(), from_next,
                                 wide.data(), wide.data() + wide.size(), to_next);
  if (result != std::codecvt_base::ok || from_next != bytes.data() + bytes.size()) {
    return std::nullopt;
  }
  wide.resize(static_cast<std::size_t>(to_next - wide.data()));
  return wide;
}

// One of glibc's wide items (_NL_WABMON_1, _NL_WT_FMT): whatever the locale's codeset, they hold
// UCS-4, which is what its wchar_t is.
std::u32string WideItem(locale_t locale, nl_item item) {
  static_assert(sizeof(wchar_t) == sizeof(char32_t));
  const auto* text = reinterpret_cast<const wchar_t*>(nl_langinfo_l(item, locale));
  std::u32string wide;
  for (; *text != L'\0'; ++text) wide.push_back(static_cast<char32_t>(*text));
  return wide;
}

// Where the strftime conversion whose "%" is at `pos` ends, and its letter. Flags, a width and
// an E or O modifier may come between ("%-H", "%OH").
std::size_t ConversionEnd(std::u32string_view format, std::size_t pos, char32_t* letter) {
  std::size_t i = pos + 1;
  while (i < format.size() && kConversionFlags.find(format[i]) != std::u32string_view::npos) ++i;
  while (i < format.size() && format[i] >= U'0' && format[i] <= U'9') ++i;
  if (i < format.size() && (format[i] == U'E' || format[i] == U'O')) ++i;
  *letter = i < format.size() ? format[i] : U'\0';
  return std::min(i + 1, format.size());
}

bool IsHourConversion(char32_t letter) {
  return letter == U'H' || letter == U'I' || letter == U'k' || letter == U'l';
}

// The literal text from `pos` up to a minutes conversion, when it is punctuation.
std::string SeparatorBeforeMinutes(std::u32string_view format, std::size_t pos) {
  const std::size_t next = format.find(U'%', pos);
  if (next == std::u32string_view::npos) return kDefaultTimeSeparator;
  char32_t letter = U'\0';
  ConversionEnd(format, next, &letter);
  const std::u32string_view between = format.substr(pos, next - pos);
  const bool punctuation =
      !between.empty() && std::all_of(between.begin(), between.end(), [](char32_t c) {
        return kAsciiPunctuation.find(c) != std::u32string_view::npos;
      });
  return letter == U'M' && punctuation ? ToUtf8(between) : kDefaultTimeSeparator;
}

std::string AsciiUpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

}  // namespace

HostLocale::HostLocale(LocaleCategory category) {
  if (category == LocaleCategory::kTime) {
    locale_ = LocaleNamed(time_locale, LC_TIME_MASK, EnvironmentLocaleName("LC_TIME"));
  } else {
    locale_ = LocaleNamed(numeric_locale, LC_NUMERIC_MASK, EnvironmentLocaleName("LC_NUMERIC"));
  }
}

std::string HostLocale::MonthAbbreviation(int month) const {
  return ToUtf8(WideItem(locale_, static_cast<nl_item>(_NL_WABMON_1 + std::clamp(month, 0, 11))));
}

std::string HostLocale::TimeSeparator() const {
  return TimeSeparatorOf(WideItem(locale_, _NL_WT_FMT), WideItem(locale_, _NL_WT_FMT_AMPM));
}

std::string HostLocale::DecimalSign() const {
  const std::string_view sign = nl_langinfo_l(RADIXCHAR, locale_);
  const std::string_view codeset = nl_langinfo_l(_NL_NUMERIC_CODESET, locale_);
  // The sign is spelt in the locale's own codeset: beyond ASCII, only a UTF-8 locale's matches
  // the host's text.
  const bool ascii = std::all_of(sign.begin(), sign.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (sign.empty() || (!ascii && codeset != "UTF-8")) return ".";
  return std::string(sign);
}

std::string TimeSeparatorOf(std::u32string_view time_format, std::u32string_view ampm_format) {
  for (std::size_t pos = time_format.find(U'%'); pos != std::u32string_view::npos;
       pos = time_format.find(U'%', pos)) {
    char32_t letter = U'\0';
    const std::size_t end = ConversionEnd(time_format, pos, &letter);
    if (letter == U'T' || letter == U'R') return kDefaultTimeSeparator;  // %H:%M:%S and %H:%M
    if (letter == U'r') return TimeSeparatorOf(ampm_format, {});
    if (IsHourConversion(letter)) return SeparatorBeforeMinutes(time_format, end);
    pos = end;
  }
  return kDefaultTimeSeparator;
}

std::string UpperCaseText(std::string_view text) {
  std::optional<std::u32string> wide = FromUtf8(text);
  if (!wide) return AsciiUpperCase(text);
  // C.UTF-8 carries Unicode's default mapping (without it, "C" maps ASCII only). The user's own
  // LC_CTYPE is no use here: a Turkish one turns "i" into "İ", and "pullwire" would no longer
  // name this module.
  const locale_t unicode = LocaleNamed(unicode_locale, LC_CTYPE_MASK, "C.UTF-8");
  for (char32_t& c : *wide) c = static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), unicode));
  return ToUtf8(*wide);
}

}  // namespace pullwire
