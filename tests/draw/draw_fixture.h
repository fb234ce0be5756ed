// Drawings made by our writer and read back, for the display list tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "draw/display_list.h"
#include "support/drawing_writer.h"

namespace tarnwick::testing {

struct ReadDrawing {
  std::unique_ptr<TJwwData> jww;
  std::unique_ptr<TJwsData> jws;
  std::unique_ptr<draw::DrawingContext> context;
};

inline ReadDrawing Read(const Drawing& d) {
  ReadDrawing r;
  const Bytes bytes = Write(d);
  if (d.jws) {
    r.jws = std::make_unique<TJwsData>();
    EXPECT_TRUE(r.jws->FileInBytes(bytes.data(), bytes.size()));
    r.context = std::make_unique<draw::DrawingContext>(*r.jws);
  } else {
    r.jww = std::make_unique<TJwwData>();
    EXPECT_TRUE(r.jww->FileInBytes(bytes.data(), bytes.size()));
    r.context = std::make_unique<draw::DrawingContext>(*r.jww);
  }
  return r;
}

// A drawing with one definition (number 1) of these entities, and further
// definitions numbered 2, 3, ... after it.
inline Drawing WithDefinitions(std::vector<std::vector<Entity>> defs, bool jws = false, int32_t version = 700) {
  Drawing d;
  d.jws = jws;
  d.version = version;
  uint32_t number = 1;
  for (auto& entities : defs) {
    Definition def;
    def.number = number;
    def.name = "def" + std::to_string(number);
    def.entities = std::move(entities);
    d.definitions.push_back(std::move(def));
    ++number;
  }
  return d;
}

inline draw::DisplayList ListOf(const Drawing& d, int32_t index = 0, const draw::Limits& limits = {}) {
  ReadDrawing r = Read(d);
  return draw::BuildDisplayList(*r.context, index, limits);
}

}  // namespace tarnwick::testing
