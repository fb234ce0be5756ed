// Writes the seed corpus of every fuzz target into FOLDER/<target>/ with the
// project's drawing writer: drawings of every version at which the layout
// changes (and both ends of the range), in every stored form the reader
// knows, plus settings files and texts.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "support/drawing_writer.h"

using namespace tarnwick;
using namespace tarnwick::testing;
namespace fs = std::filesystem;

namespace {

fs::path gRoot;
size_t gWritten = 0;

void Put(const std::string& target, const std::string& name, const Bytes& b) {
  const fs::path dir = gRoot / target;
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  ++gWritten;
}

void Put(const std::string& target, const std::string& name, const std::string& s) {
  Put(target, name, Bytes(s.begin(), s.end()));
}

// Replaces the first stored byte text `marker` (length byte and bytes) by
// `stored`: the way to put UTF-16 and long-form strings where the writer
// writes short byte texts.
void Splice(Bytes& b, const std::string& marker, const Bytes& stored) {
  Bytes needle{static_cast<uint8_t>(marker.size())};
  needle.insert(needle.end(), marker.begin(), marker.end());
  auto at = std::search(b.begin(), b.end(), needle.begin(), needle.end());
  if (at == b.end()) throw std::runtime_error("marker not found: " + marker);
  at = b.erase(at, at + static_cast<std::ptrdiff_t>(needle.size()));
  b.insert(at, stored.begin(), stored.end());
}

Bytes Wide(std::u16string_view s, bool escape) { return ByteWriter().wstring(s, escape).data(); }
Bytes Long(std::string_view s) { return ByteWriter().cstringLong(s).data(); }

Attr Style(uint8_t penStyle, uint16_t penColor = 1) {
  Attr a;
  a.group = 3;
  a.penStyle = penStyle;
  a.penColor = penColor;
  a.penWidth = 2;
  a.layer = 1;
  a.glayer = 2;
  a.flags = 0x20;
  return a;
}

// One of each entity class and form: points with and without their
// extension, solids with and without colour, a dimension, an insert.
std::vector<Entity> AllKinds(uint32_t insertNumber) {
  Point plain;
  Point extended;
  extended.att = Style(100);
  extended.code = 7;
  extended.scale = 2;
  Solid grey;
  Solid coloured;
  coloured.att = Style(1, 10);
  Dimension dim;
  dim.moji.str = "1200";
  dim.kt1.att = Style(100);
  Text text;
  text.str = "MARK_TEXT";
  Insert ins;
  ins.number = insertNumber;
  ins.sx = 2;
  ins.rot = 0.5;
  return {Line{}, Arc{}, plain, extended, text, dim, grey, coloured, ins};
}

// A drawing with every kind of entity, nested definitions (1 inserts 2,
// 2 inserts 3), a definition with a 64-bit time and the texts to splice.
Drawing Rich(bool jws, int32_t version, TagForm tags) {
  Drawing d;
  d.jws = jws;
  d.version = version;
  d.tags = tags;
  d.memo = "MARK_MEMO";
  d.entities = AllKinds(1);
  Definition a;
  a.number = 1;
  a.name = "MARK_NAME";
  a.entities = AllKinds(2);
  Definition b;
  b.number = 2;
  b.name = Cp932(u"部品B@@SfigorgFlag@@4");
  b.dtime = 0x80000001u;
  Insert toC;
  toC.number = 3;
  b.entities = {toC, toC};
  Definition c;
  c.number = 3;
  c.name = "C";
  c.entities = {Line{}};
  d.definitions = {a, b, c};
  return d;
}

// The stored string forms: byte texts short and long, UTF-16 with a short
// length and with the 255 escape.
enum class Strings { kShort, kLong, kWide, kWideEscaped };

Bytes WithStrings(Drawing d, Strings form) {
  Bytes b = Write(d);
  const std::u16string wide = u"部品Ａ";
  switch (form) {
    case Strings::kShort: break;
    case Strings::kLong:
      Splice(b, "MARK_TEXT", Long(std::string(300, 'x')));
      Splice(b, "MARK_NAME", Long("long name"));
      break;
    case Strings::kWide:
    case Strings::kWideEscaped:
      Splice(b, "MARK_TEXT", Wide(wide, form == Strings::kWideEscaped));
      Splice(b, "MARK_NAME", Wide(u"名前", form == Strings::kWideEscaped));
      if (!d.jws) Splice(b, "MARK_MEMO", Wide(u"メモ\r\n", form == Strings::kWideEscaped));
      break;
  }
  return b;
}

// An image section: a count and, per image, a name, a size and the bytes.
Bytes ImageSection() {
  ByteWriter w;
  w.i32(2).cstring("a.jpg.gz").i32(4).bytes(std::string_view("\x1f\x8b\x08\x00", 4)).cstring("b.bmp").i32(2).bytes("BM");
  return w.data();
}

std::string Name(const char* format, int32_t version, const char* form) {
  return std::string(format) + "_" + std::to_string(version) + "_" + form;
}

void Drawings(bool jws, const std::vector<int32_t>& versions) {
  const std::string target = jws ? "fuzz_jws_filein" : "fuzz_jww_filein";
  const char* format = jws ? "jws" : "jww";
  for (int32_t v : versions) {
    const struct {
      const char* name;
      TagForm tags;
    } tagForms[] = {{"short", TagForm::kShort}, {"big", TagForm::kBig}, {"bighigh", TagForm::kBigHighBit}};
    for (const auto& t : tagForms) Put(target, Name(format, v, t.name), WithStrings(Rich(jws, v, t.tags), Strings::kShort));
    Drawing d = Rich(jws, v, TagForm::kShort);
    Put(target, Name(format, v, "long"), WithStrings(d, Strings::kLong));
    Put(target, Name(format, v, "wide"), WithStrings(d, Strings::kWide));
    Put(target, Name(format, v, "wide255"), WithStrings(d, Strings::kWideEscaped));
    Drawing empty;
    empty.jws = jws;
    empty.version = v;
    Put(target, Name(format, v, "empty"), Write(empty));
    if (v == 700) {
      d.trailer = ImageSection();
      Put(target, Name(format, v, "images"), Write(d));
    }
  }
}

void Checks() {
  Drawing d;
  for (int32_t v : {220, 420, 700}) {
    d.version = v;
    d.jws = false;
    Bytes b = Write(d);
    b.resize(std::min<size_t>(b.size(), 64));
    Put("fuzz_filecheck", "jww_" + std::to_string(v), b);
  }
  for (int32_t v : {230, 420, 700}) {
    d.version = v;
    d.jws = true;
    Bytes b = Write(d);
    b.resize(std::min<size_t>(b.size(), 256));
    Put("fuzz_filecheck", "jws_" + std::to_string(v), b);
  }
}

void Settings() {
  SettingsData empty;
  Put("fuzz_settings", "empty", FormatSettings(empty));
  SettingsData s;
  s.mainWindow = {-8, -8, 1936, 1056};
  s.resultsWindow = {100, 120, 800, 600};
  s.columnWidths = {32, 400, 2147483647};
  s.jwpath = u"/home/user/図面/";
  s.TxtFileName = u"/home/user/結果.csv";
  for (size_t i = 0; i < s.checks.size(); i += 3) s.checks[i] = true;
  s.edits[0] = u"/srv/drawings/";
  s.edits[19] = u"/mnt/古い図面/";
  s.edits[5] = std::u16string(u"/tmp/") + char16_t(0xDCFF) + u"x/";  // a name that is not UTF-8
  s.files = {u"/a/b.jww", u"/a/部品.jws", u"/a/c.JWW"};
  Put("fuzz_settings", "full", FormatSettings(s));
  Put("fuzz_settings", "hand", std::string("-2147483648\n$7F\n0x10\n  12\n12 \nabc\n\n\n5\n5\n5\n41ZZ42\n41FF42\nTRUE\nON\n"
                                           "tru\n\xe2\x97\x8b\nyes\n0\n1\n") +
                                   std::string(60, '\n') + "3\n41\n\n42\n43\n");
}

void Texts() {
  auto put16 = [](const std::string& name, std::u16string s) {
    Bytes b;
    for (char16_t c : s) b.push_back(static_cast<uint8_t>(c)), b.push_back(static_cast<uint8_t>(c >> 8));
    Put("fuzz_text", name, b);
  };
  put16("kana", u"ｶﾞｷﾞｸﾊﾟｱﾞｶﾟ ａ\u3000b\tx×ー´｀‘′゛“″");
  put16("pairs", std::u16string(u"A\U0001F600B\xD800") + u"C\xDC00");
  Put("fuzz_text", "hex", std::string("E383A1E383A2616263"));
  Put("fuzz_text", "number", std::string("  -0x7FFFFFFF"));
  Put("fuzz_text", "utf8", std::string("\xe5\x9b\xb3\xe9\x9d\xa2\x00\xff", 8));
}

}  // namespace

int main(int argc, char** argv) {
  const char* usage = "usage: make_fuzz_seeds FOLDER\nWrites the seed inputs of the fuzz targets into FOLDER.\n";
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::cout << usage;
    return 0;
  }
  // A name like an option would become a folder named after it.
  if (argc != 2 || argv[1][0] == '-') {
    if (argc == 2) std::cerr << "make_fuzz_seeds: the folder, not an option: " << argv[1] << "\n";
    std::cerr << usage;
    return 2;
  }
  gRoot = argv[1];
  // Versions where the layout changes, each with its neighbour, and the ends.
  Drawings(false, {220, 222, 223, 224, 225, 229, 230, 231, 299, 300, 350, 351, 419, 420, 699, 700});
  Drawings(true, {230, 231, 299, 300, 350, 351, 419, 420, 699, 700});
  Checks();
  Settings();
  Texts();
  std::cout << gWritten << " seeds in " << gRoot.string() << "\n";
  return 0;
}
