// Text routines shared by the whole program.  A text is a sequence of UTF-16
// code units; lengths and indexes count code units from 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

// Upper and lower case by the user's locale, one code unit for one code unit
// (simple case mapping), so a text keeps its length and every index into it.
std::u16string StrUpper(const std::u16string& s);
std::u16string StrLower(const std::u16string& s);
// The same for a named locale ("tr_TR", "en_US"); the routines above use the
// user's default locale.
std::u16string StrUpperForLocale(const std::u16string& s, const char* locale);
std::u16string StrLowerForLocale(const std::u16string& s, const char* locale);

// 0-based index of the first occurrence of sub in s; -1 when sub does not
// occur or either text is empty.
int32_t StrIndexOf(const std::u16string& sub, const std::u16string& s);
std::u16string StrCopyFrom(const std::u16string& s, int32_t index);
std::u16string StrMid(const std::u16string& s, int32_t index, int32_t count);
// -1 outside s; 1 on the lead and 2 on the trail unit of a well-formed
// surrogate pair; 0 otherwise.
int32_t SurrogateKind(const std::u16string& s, int32_t index);
// s without U+3000, U+0020 and every code unit below U+0020.
std::u16string StrRemoveSpaces(const std::u16string& s);

std::u16string BoolToStr01(bool b);
int32_t StrToIntDef0(const std::u16string& s);
std::u16string IntToText(int32_t n);

std::u16string Utf8BytesToStr(const std::vector<uint8_t>& b);
std::vector<uint8_t> StrToUtf8Bytes(const std::u16string& s);
std::u16string BytesToHex(const std::vector<uint8_t>& b);
std::vector<uint8_t> HexToBytes(const std::u16string& s);
std::u16string StrToHexUtf8(const std::u16string& s);
std::u16string HexUtf8ToStr(const std::u16string& s);

// Half-width forms to full-width forms.
std::u16string StrToZenkaku(const std::u16string& s);
// The key under which block names are compared: blanks dropped, upper case,
// full width, look-alike marks unified.
std::u16string StrNormalizeKey(const std::u16string& s);
bool StrToBoolJp(const std::u16string& s);

}  // namespace tarnwick
