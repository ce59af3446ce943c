// Packed ECO codes and dates with their text forms, and the event-name clean-up shared by
// the name dictionaries and the player names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vez {

// Opening classification, 0 = none. For letter L (index l = L - 'A', A..E), number n (0..99)
// and sub-number s (0..99):
//   bare letter                      l * 10101 + 1
//   letter and number                l * 10101 + 2 + n * 101
//   letter, number and sub-number    l * 10101 + 3 + n * 101 + s
// so codes order by letter, then number, then sub-number, a bare number before its
// sub-numbers. The largest code, E99/99, is 50,505.
using EcoCode = std::uint16_t;

constexpr EcoCode kNoEco = 0;
constexpr int kEcoLetterSpan = 10101;
constexpr int kEcoNumberSpan = 101;

// Date key: year << 9 | month << 5 | day, 0 for an unknown part. It orders dates in time and
// puts a date with only the year known before every full date of that year.
using DateKey = std::uint32_t;

constexpr DateKey makeDateKey(int year, int month, int day)
{
    return (static_cast<DateKey>(year) << 9) | (static_cast<DateKey>(month & 15) << 5) |
           static_cast<DateKey>(day & 31);
}
constexpr int yearOf(DateKey key) { return static_cast<int>(key >> 9); }
constexpr int monthOf(DateKey key) { return static_cast<int>((key >> 5) & 15); }
constexpr int dayOf(DateKey key) { return static_cast<int>(key & 31); }

// "B12" -> 11,315, "B12/05" -> 11,321, "b07" -> B07, "C" or "Cxx" -> C00; a number outside
// 0..99 gives the bare letter; anything not starting with A..E gives 0.
EcoCode parseEco(std::string_view text);

// "" for 0, "B**" for a bare letter, "B12", "B12/05".
std::string formatEco(EcoCode code);

// Reads "1998.03.04", "1998.3.4", "1998:3:4", "1998/3/4", "1998.??.??", "1998.3.??", "1998",
// "????.??.??". All three parts start at 0 and stay 0 where unknown; a text starting with "?"
// is an unknown date. On failure the parts read so far are left in place, and callers use
// the parts only on success.
bool parseDate(std::string_view text, int& year, int& month, int& day);

// "" when the year is 0, "1998.??.??", "1998.3.??", "1998.3.4" (no zero padding).
std::string formatDate(int year, int month, int day);

// Trims blanks on both sides and cuts a trailing "(digits)" group ("Hoogovens (12)" ->
// "Hoogovens"); the digits, possibly none, go to cutNumber when given (empty when nothing
// was cut).
std::string cleanEventName(std::string_view text, std::string* cutNumber = nullptr);

} // namespace vez
