#include "draw/svg.h"

#include <expat.h>
#include <gtest/gtest.h>

#include <map>
#include <numbers>
#include <sstream>

#include "draw/draw_fixture.h"

namespace tarnwick::testing {
namespace {
using draw::DisplayList;

struct Parsed {
  bool wellFormed = false;
  bool inText = false;
  std::map<std::string, int> elements;
  std::map<std::string, std::string> rootAttributes;
  std::vector<std::string> texts;
  std::vector<std::string> fonts;
};

Parsed Parse(const std::string& svg) {
  Parsed p;
  XML_Parser parser = XML_ParserCreate("UTF-8");
  XML_SetUserData(parser, &p);
  XML_SetElementHandler(
      parser,
      [](void* data, const XML_Char* name, const XML_Char** attrs) {
        auto& p = *static_cast<Parsed*>(data);
        const std::string n = name;
        if (p.elements.empty())
          for (int i = 0; attrs[i]; i += 2) p.rootAttributes[attrs[i]] = attrs[i + 1];
        ++p.elements[n];
        if (n == "text") {
          p.inText = true;
          p.texts.emplace_back();
          for (int i = 0; attrs[i]; i += 2)
            if (std::string(attrs[i]) == "font-family") p.fonts.push_back(attrs[i + 1]);
        }
      },
      [](void* data, const XML_Char*) { static_cast<Parsed*>(data)->inText = false; });
  XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* s, int len) {
    auto& p = *static_cast<Parsed*>(data);
    if (p.inText) p.texts.back().append(s, static_cast<size_t>(len));
  });
  p.wellFormed = XML_Parse(parser, svg.data(), static_cast<int>(svg.size()), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return p;
}

TEST(SvgTest, IsWellFormedAndHoldsEveryPrimitive) {
  Line line;
  line.x1 = 0, line.y1 = 0, line.x2 = 100, line.y2 = 50;
  line.att.penStyle = 5;
  Arc circle, arc;
  circle.cx = 50, circle.cy = 25, circle.r = 10;
  arc.cx = 20, arc.cy = 20, arc.r = 5, arc.start = 0, arc.sweep = std::numbers::pi, arc.full = 0, arc.tilt = 0.3,
  arc.flat = 0.5;
  Point point;
  point.x = 5, point.y = 45;
  Text text;
  text.x1 = 10, text.y1 = 10, text.x2 = 40, text.y2 = 10;
  text.str = Cp932(u"ドア<1>&\"");
  text.font = Cp932(u"ＭＳ ゴシック");
  Solid solid;
  solid.att.penColor = 10;
  Insert nested;
  nested.number = 2;
  nested.x = 60;
  Line inner;
  const DisplayList list = [&] {
    return ListOf(WithDefinitions({{line, circle, arc, point, text, solid, nested}, {inner}}));
  }();
  Parsed p = Parse(draw::ToSvg(list));
  ASSERT_TRUE(p.wellFormed);
  EXPECT_EQ(1, p.elements["svg"]);
  EXPECT_EQ(2, p.elements["line"]);  // one of its own, one through the insert
  EXPECT_EQ(1, p.elements["ellipse"]);
  EXPECT_EQ(1, p.elements["path"]);
  EXPECT_EQ(1, p.elements["circle"]);
  EXPECT_EQ(1, p.elements["polygon"]);
  ASSERT_EQ(1u, p.texts.size());
  EXPECT_EQ("ドア<1>&\"", p.texts[0]);
  ASSERT_EQ(1u, p.fonts.size());
  EXPECT_EQ(0u, p.fonts[0].find("'ＭＳ ゴシック', 'Noto Sans CJK JP'")) << p.fonts[0];
  // The view is the extent with a margin; y is turned over, so the extent's
  // own y range maps onto itself.
  std::istringstream box(p.rootAttributes.at("viewBox"));
  double x, y, w, h;
  box >> x >> y >> w >> h;
  ASSERT_TRUE(list.extent);
  EXPECT_LT(x, list.extent->minX);
  EXPECT_LT(y, list.extent->minY);
  EXPECT_GT(x + w, list.extent->maxX);
  EXPECT_GT(y + h, list.extent->maxY);
  EXPECT_LT(w, list.extent->width() * 1.1);
}

TEST(SvgTest, StrokesKeepTheirWidthAndLinesTheirDashes) {
  Line dashed;
  dashed.att.penStyle = 2;
  const std::string svg = draw::ToSvg(ListOf(WithDefinitions({{dashed}})));
  EXPECT_NE(std::string::npos, svg.find("vector-effect=\"non-scaling-stroke\""));
  EXPECT_NE(std::string::npos, svg.find("stroke-dasharray=\""));
}

TEST(SvgTest, NothingDrawnIsAnEmptyPicture) {
  Parsed p = Parse(draw::ToSvg(ListOf(WithDefinitions({{}}))));
  ASSERT_TRUE(p.wellFormed);
  EXPECT_EQ(1, p.elements["svg"]);
  EXPECT_EQ(1u, p.elements.size());
}

TEST(SvgTest, ControlCharactersInTextsLeaveItWellFormed) {
  Text text;
  text.str = std::string("a\x01\x1f" "b");
  // The reader drops control characters; a model filled otherwise keeps them.
  ReadDrawing r = Read(WithDefinitions({{text}}));
  r.jww->EntBlockDef[0].mMoji[0].str = u"a\u0001\u001bb";
  Parsed p = Parse(draw::ToSvg(draw::BuildDisplayList(*r.context, 0)));
  ASSERT_TRUE(p.wellFormed);
  ASSERT_EQ(1u, p.texts.size());
  EXPECT_EQ("ab", p.texts[0]);
}

}  // namespace
}  // namespace tarnwick::testing
