#include "store/codes.h"

#include <algorithm>
#include <cstdio>

namespace vez {

namespace {

bool isDecimalDigit(char c) { return c >= '0' && c <= '9'; }
bool isSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

constexpr long long kDigitRunCap = 1000000000; // digit runs saturate here instead of overflowing

// Reads a run of decimal digits at `at`; false when there is none.
bool readDigits(std::string_view text, std::size_t& at, long long& value)
{
    const std::size_t start = at;
    value = 0;
    for (; at < text.size() && isDecimalDigit(text[at]); ++at)
        value = std::min(value * 10 + (text[at] - '0'), kDigitRunCap);
    return at > start;
}

// A decimal integer the way the C library reads one: leading white space, an optional sign,
// digits. Without digits the value is 0 and `at` stays where it was.
long long readInteger(std::string_view text, std::size_t& at)
{
    std::size_t p = at;
    while (p < text.size() && (isSpaceOrTab(text[p]) || text[p] == '\n' || text[p] == '\r'))
        ++p;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-'))
        negative = text[p++] == '-';
    long long value = 0;
    if (!readDigits(text, p, value))
        return 0;
    at = p;
    return negative ? -value : value;
}

bool isDateSeparator(char c) { return c == '.' || c == ':' || c == '/'; }

// After a date part: the end of the text (done), or a separator followed by the end or "?"
// (done), or a separator followed by the next part (go on). Anything else fails.
enum class AfterPart { Done, NextPart, Fail };

AfterPart afterDatePart(std::string_view text, std::size_t& at)
{
    if (at == text.size())
        return AfterPart::Done;
    if (!isDateSeparator(text[at]))
        return AfterPart::Fail;
    ++at;
    if (at == text.size() || text[at] == '?')
        return AfterPart::Done;
    return AfterPart::NextPart;
}

// A month or day: digits within [1, limit].
bool readDatePart(std::string_view text, std::size_t& at, int limit, int& part)
{
    long long value = 0;
    if (!readDigits(text, at, value) || value < 1 || value > limit)
        return false;
    part = static_cast<int>(value);
    return true;
}

std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && isSpaceOrTab(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpaceOrTab(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace

EcoCode parseEco(std::string_view text)
{
    if (text.empty())
        return kNoEco;
    const char letter = static_cast<char>(text[0] & ~0x20);
    if (letter < 'A' || letter > 'E')
        return kNoEco;
    const int base = (letter - 'A') * kEcoLetterSpan;
    std::size_t at = 1;
    const long long number = readInteger(text, at);
    if (number < 0 || number > 99)
        return static_cast<EcoCode>(base + 1);
    long long sub = 0;
    if (at < text.size() && text[at] == '/') {
        ++at;
        if (readDigits(text, at, sub) && sub <= 99)
            return static_cast<EcoCode>(base + 3 + number * kEcoNumberSpan + sub);
    }
    return static_cast<EcoCode>(base + 2 + number * kEcoNumberSpan);
}

std::string formatEco(EcoCode code)
{
    if (code == kNoEco)
        return {};
    const char letter = static_cast<char>('A' + (code - 1) / kEcoLetterSpan);
    const int rest = (code - 1) % kEcoLetterSpan;
    char text[16];
    if (rest == 0) {
        std::snprintf(text, sizeof text, "%c**", letter);
    } else {
        const int t = rest - 1;
        if (t % kEcoNumberSpan == 0)
            std::snprintf(text, sizeof text, "%c%02d", letter, t / kEcoNumberSpan);
        else
            std::snprintf(text, sizeof text, "%c%02d/%02d", letter, t / kEcoNumberSpan,
                          t % kEcoNumberSpan - 1);
    }
    return text;
}

bool parseDate(std::string_view text, int& year, int& month, int& day)
{
    year = month = day = 0;
    if (!text.empty() && text[0] == '?')
        return true;
    std::size_t at = 0;
    long long value = 0;
    if (!readDigits(text, at, value))
        return false;
    year = static_cast<int>(value);
    AfterPart next = afterDatePart(text, at);
    if (next != AfterPart::NextPart)
        return next == AfterPart::Done;
    if (!readDatePart(text, at, 12, month))
        return false;
    next = afterDatePart(text, at);
    if (next != AfterPart::NextPart)
        return next == AfterPart::Done;
    return readDatePart(text, at, 31, day) && at == text.size();
}

std::string formatDate(int year, int month, int day)
{
    char text[48];
    if (year == 0)
        return {};
    if (month == 0)
        std::snprintf(text, sizeof text, "%d.??.??", year);
    else if (day == 0)
        std::snprintf(text, sizeof text, "%d.%d.??", year, month);
    else
        std::snprintf(text, sizeof text, "%d.%d.%d", year, month, day);
    return text;
}

std::string cleanEventName(std::string_view text, std::string* cutNumber)
{
    text = trimBlanks(text);
    if (cutNumber)
        cutNumber->clear();
    if (text.empty() || text.back() != ')')
        return std::string(text);
    const std::size_t open = text.rfind('(');
    if (open == std::string_view::npos)
        return std::string(text);
    const std::string_view digits = text.substr(open + 1, text.size() - open - 2);
    for (char c : digits) {
        if (!isDecimalDigit(c))
            return std::string(text);
    }
    if (cutNumber)
        cutNumber->assign(digits);
    return std::string(trimBlanks(text.substr(0, open)));
}

} // namespace vez
