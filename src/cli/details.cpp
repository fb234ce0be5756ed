#include "cli/details.h"

#include <charconv>
#include <cstdio>

#include "text/path_utils.h"

namespace tarnwick {

namespace {

// The shortest text that reads back as the same number.
void Number(std::string& out, double v) {
  if (v == 0) v = 0;  // no "-0"
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

}  // namespace

std::string DetailsJson(const TEntJwwBlockDef* def, const draw::DisplayList* list) {
  if (!def) return ", \"number\": null, \"entities\": null, \"extent\": null";
  const draw::EntityCounts n = draw::CountsOf(*def);
  std::string s = ", \"number\": " + std::to_string(def->nNumber);
  s += ", \"entities\": {\"line\": " + std::to_string(n.line) + ", \"arc\": " + std::to_string(n.arc) +
       ", \"point\": " + std::to_string(n.point) + ", \"text\": " + std::to_string(n.text) +
       ", \"dimension\": " + std::to_string(n.dimension) + ", \"solid\": " + std::to_string(n.solid) +
       ", \"insert\": " + std::to_string(n.insert) + "}";
  s += ", \"extent\": ";
  if (!list || !list->extent) {
    s += "null";
  } else {
    s += '[';
    Number(s, list->extent->minX);
    s += ", ";
    Number(s, list->extent->minY);
    s += ", ";
    Number(s, list->extent->maxX);
    s += ", ";
    Number(s, list->extent->maxY);
    s += ']';
  }
  return s;
}

const draw::DisplayList* RowDrawings::listOf(const SearchRow& row) {
  if (!drawing_ || drawing_->path != row.path) {
    drawing_ = draw::ReadDrawingFile(row.path);
    listed_ = -1;
  }
  if (!drawing_->definition(row.definition)) return nullptr;
  if (listed_ != row.definition) {
    list_ = draw::BuildDisplayList(*drawing_->context, row.definition);
    listed_ = row.definition;
  }
  return &list_;
}

std::string RowDrawings::jsonFields(const SearchRow& row) {
  const draw::DisplayList* list = listOf(row);
  return DetailsJson(list ? drawing_->definition(row.definition) : nullptr, list);
}

std::u16string RowDrawings::SvgPath(const std::u16string& dir, size_t n) {
  char name[32];
  std::snprintf(name, sizeof name, "%05zu.svg", n);
  return IncludeTrailingDelim(dir) + std::u16string(name, name + std::char_traits<char>::length(name));
}

}  // namespace tarnwick
