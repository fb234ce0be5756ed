// Path and file routines.  "/" is the directory separator; every other
// character, "\" and ":" included, is an ordinary character of a name.
// None of them lets an error escape except FileExtLower: a blank argument or
// a path the system refuses gives "" or false.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

char16_t PathDelimChar();
std::u16string IncludeTrailingDelim(const std::u16string& s);
// The folder part of path ending with "/"; a bare name gives "/".  "" for a
// blank path or one the system would refuse (U+0000, PATH_MAX bytes or more,
// a component over NAME_MAX bytes).
std::u16string FolderOfPath(const std::u16string& path);
std::u16string FileNameOfPath(const std::u16string& path);
// The extension with its dot, lower-cased; "" when there is none.  Throws
// std::invalid_argument for a path holding a character no path may hold.
std::u16string FileExtLower(const std::u16string& path);
// Whether the extension of path (after its last "." in the last name) is
// ext, given in lower case with its dot; ASCII letters match in either case,
// whatever the locale.  Never throws: a path no file can have gives false.
bool HasExtension(std::u16string_view path, std::u16string_view ext) noexcept;
// The kind of drawing a path names by its extension, ".jww" or ".jws".
enum class DrawingKind { kNone, kJww, kJws };
DrawingKind DrawingKindOf(std::u16string_view path) noexcept;
std::u16string ChangeExt(const std::u16string& path, const std::u16string& ext);
// True when a regular file (after following links) exists at path.
bool FileExistsSafe(const std::u16string& path);
// Makes the folder and every missing parent; true when the folder is there
// afterwards.
bool CreateFolder(const std::u16string& path);
// Removes a regular file (a link to one loses the link only); false for a
// missing file, a folder, anything else that is not a regular file, or when
// the removal fails.
bool DeleteFileSafe(const std::u16string& path);
// Removes an empty folder, never through a link; false otherwise.
bool DeleteFolder(const std::u16string& path);

}  // namespace tarnwick
