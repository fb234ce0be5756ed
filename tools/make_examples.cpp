// Writes the example drawings of examples/drawings: a few small drawings of
// both formats in nested folders, with Japanese block names and one damaged
// file.
#include <filesystem>
#include <fstream>
#include <iostream>

#include "support/drawing_writer.h"

using namespace tarnwick::testing;
namespace fs = std::filesystem;

namespace {

void Put(const fs::path& path, const Bytes& b) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

Definition Def(uint32_t number, std::u16string name, std::vector<Entity> entities) {
  Definition d;
  d.number = number;
  d.name = Cp932(name) + "@@SfigorgFlag@@4";
  d.entities = std::move(entities);
  return d;
}

Text Label(std::u16string s) {
  Text t;
  t.str = Cp932(s);
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  const char* usage = "usage: make_examples FOLDER\nWrites the example drawings into FOLDER.\n";
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::cout << usage;
    return 0;
  }
  // A name like an option would become a folder named after it.
  if (argc != 2 || argv[1][0] == '-') {
    if (argc == 2) std::cerr << "make_examples: the folder, not an option: " << argv[1] << "\n";
    std::cerr << usage;
    return 2;
  }
  const fs::path root = argv[1];

  Drawing plan;
  plan.version = 700;
  plan.memo = "example plan";
  Line wall;
  wall.x2 = 3600;
  plan.entities = {wall, Label(u"一階平面図"), Insert{{}, 900, 0, 1, 1, 0, 1}, Insert{{}, 2700, 0, 1, 1, 0, 2}};
  plan.definitions = {Def(1, u"片開き戸", {Arc{}, Line{}}), Def(2, u"窓W1800", {Line{}, Line{}}),
                      Def(3, u"便器", {Arc{}, Label(u"便器")})};
  Put(root / "一階平面図.jww", Write(plan));

  Drawing section;
  section.version = 420;
  section.entities = {Line{}, Dimension{}};
  section.definitions = {Def(10, u"柱300角", {Solid{}}), Def(11, u"GL", {Line{}})};
  Put(root / "断面" / "A-A断面.jww", Write(section));

  Drawing car;
  car.jws = true;
  car.version = 600;
  car.entities = {Insert{{}, 0, 0, 1, 1, 0, 5}};
  car.definitions = {Def(5, u"乗用車", {Line{}, Arc{}, Arc{}})};
  Put(root / "部品" / "車両.jws", Write(car));

  Drawing tree;
  tree.jws = true;
  tree.version = 351;
  tree.definitions = {Def(1, u"樹木φ3000", {Arc{}}), Def(2, u"低木", {Arc{}})};
  Put(root / "部品" / "植栽" / "樹木.jws", Write(tree));

  // A drawing cut short while its second definition was being written: the
  // search lists what could be read and goes on.
  Drawing cut;
  cut.version = 600;
  cut.definitions = {Def(1, u"洗面台", {Line{}}), Def(2, u"浴槽", {Line{}, Line{}, Line{}})};
  Bytes damaged = Write(cut);
  damaged.resize(damaged.size() - 60);
  Put(root / "部品" / "水回り(破損).jww", damaged);

  std::ofstream(root / "部品" / "readme.txt") << "Not a drawing: passed over by the search.\n";
  return 0;
}
