#include "index/index_search.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "text/path_utils.h"
#include "text/utf.h"

namespace tarnwick {
namespace {

bool IsDrawingName(const std::u16string& path) {
  try {
    const std::u16string ext = FileExtLower(path);
    return ext == u".jww" || ext == u".jws";
  } catch (const std::invalid_argument&) {
    return false;
  }
}

class IndexOnly {
 public:
  IndexOnly(IndexDb& db, const SearchOptions& options, const std::u16string& matchKey, SearchObserver& observer)
      : db_(db), options_(options), matchKey_(matchKey), observer_(observer) {}

  // False once the search must stop.
  bool entry(const SearchEntry& e) {
    if (!go()) return false;
    const std::u16string dir = IncludeTrailingDelim(e.path);
    if (!e.path.empty()) {
      if (std::optional<StoredFolder> root = db_.folder(NativePath(dir))) return folder(dir, *root, e.subfolders);
    }
    if (!e.path.empty() && e.path.back() == u'/') {
      observer_.file({e.path, FileOutcome::kNoFolder, 0});
      return true;
    }
    if (!IsDrawingName(e.path)) {
      observer_.file({e.path, FileOutcome::kNotDrawing, 0});
      return true;
    }
    std::optional<StoredDrawing> d = db_.find(NativePath(e.path));
    if (!d) {
      observer_.status(StatusKind::kFile, e.path);
      observer_.file({e.path, FileOutcome::kMissing, 0});
      return true;
    }
    return drawing(e.path, d->record, false);
  }

  SearchResult finish() {
    if (result_.aborted) observer_.aborted();
    observer_.status(StatusKind::kNone, {});
    result_.started = true;
    return result_;
  }

 private:
  bool go() {
    if (stop_) return false;
    if (options_.cancel && options_.cancel->load(std::memory_order_relaxed)) {
      result_.aborted = true;
      stop_ = true;
    }
    return !stop_;
  }

  bool folder(const std::u16string& dir, StoredFolder& root, bool subfolders) {
    observer_.status(StatusKind::kFolder, dir);
    // The folders in walk order: the root, then breadth first through the
    // subfolders each listing gave.
    std::vector<StoredFolder*> order{&root};
    std::vector<StoredFolder> below;
    if (subfolders) {
      below = db_.foldersBelow(root.path);
      std::unordered_map<std::string, StoredFolder*> byPath;
      for (StoredFolder& f : below) byPath.emplace(f.path, &f);
      std::unordered_set<std::string> seen{root.path};
      for (size_t i = 0; i < order.size(); ++i) {
        for (const std::string& sub : order[i]->subfolders) {
          std::string p = order[i]->path + sub + "/";
          auto it = byPath.find(p);
          if (it == byPath.end() || !seen.insert(p).second) continue;
          order.push_back(it->second);
        }
      }
    }
    std::unordered_map<int64_t, size_t> rank;
    for (size_t i = 0; i < order.size(); ++i) rank.emplace(order[i]->id, i);

    std::vector<IndexDb::FolderDrawing> drawings;
    if (matchKey_.empty()) {
      std::vector<int64_t> ids;
      for (const StoredFolder* f : order) ids.push_back(f->id);
      drawings = db_.drawingsIn(ids);
    } else {
      drawings = db_.drawingsMatching(matchKey_);
    }
    // Each drawing's place: its folder's, then its place in that folder's
    // listing.  Drawings the last listing did not name are not shown.
    struct Placed {
      size_t rank, position;
      IndexDb::FolderDrawing* d;
    };
    std::unordered_map<size_t, std::vector<IndexDb::FolderDrawing*>> byRank;
    for (IndexDb::FolderDrawing& d : drawings) {
      auto r = rank.find(d.folderId);
      if (r != rank.end()) byRank[r->second].push_back(&d);
    }
    std::vector<Placed> placed;
    placed.reserve(drawings.size());
    for (auto& [r, group] : byRank) {
      // The folder's listing, as names each followed by a NUL.
      std::string packed;
      if (r == 0) {
        for (const std::string& n : root.drawings) packed += n + '\0';
      } else {
        packed = db_.folderDrawings(order[r]->id);
      }
      std::vector<std::string_view> names;
      for (size_t start = 0, end; (end = packed.find('\0', start)) != std::string::npos; start = end + 1)
        names.emplace_back(packed.data() + start, end - start);
      if (group.size() <= 8) {
        // A few drawings of a long listing: looked for one by one.
        for (size_t k = 0; k < names.size(); ++k)
          for (IndexDb::FolderDrawing* d : group)
            if (d->name == names[k]) placed.push_back({r, k, d});
      } else {
        std::unordered_map<std::string_view, size_t> position;
        position.reserve(names.size());
        for (size_t k = 0; k < names.size(); ++k) position.emplace(names[k], k);
        for (IndexDb::FolderDrawing* d : group) {
          auto p = position.find(d->name);
          if (p != position.end()) placed.push_back({r, p->second, d});
        }
      }
    }
    std::sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
      return a.rank != b.rank ? a.rank < b.rank : a.position < b.position;
    });
    for (const Placed& p : placed) {
      if (!go()) return false;
      const std::u16string path = PathText(order[p.rank]->path + p.d->name);
      if (!drawing(path, p.d->drawing.record, p.rank > 0, &p.d->mayMatch)) return false;
    }
    return go();
  }

  // mayMatch, when given and not empty, marks the names that may pass
  // options.keep; the others are not kept.
  bool drawing(const std::u16string& path, DrawingRecord& record, bool inSubfolder,
               const std::vector<bool>* mayMatch = nullptr) {
    observer_.status(StatusKind::kFile, path);
    FileReport report{path, record.outcome, 0};
    report.fromCache = true;
    if (record.cutName >= 0 && static_cast<size_t>(record.cutName) < record.names.size()) {
      report.cutName = record.cutName;
      report.cutText = CutAtFlag(record.names[static_cast<size_t>(record.cutName)], inSubfolder);
    }
    const std::u16string fileName = RowFileName(path);
    std::vector<SearchRow> rows;
    const bool marked = mayMatch && mayMatch->size() == record.names.size();
    for (size_t i = 0; i < record.names.size(); ++i) {
      if (marked && !(*mayMatch)[i]) continue;
      std::u16string& block = record.names[i];
      if (block.find(u'@') != std::u16string::npos) block = CutAtFlag(block, inSubfolder);
      if (options_.keep && !options_.keep(block)) continue;
      if (options_.rowCap > 0 && result_.rowCount >= options_.rowCap) {
        result_.capReached = true;
        stop_ = true;
        break;
      }
      ++result_.rowCount;
      rows.push_back({fileName, path, std::move(block)});
    }
    report.definitions = static_cast<int32_t>(rows.size());
    if (!rows.empty()) observer_.rows(rows);
    observer_.file(report);
    return !stop_;
  }

  IndexDb& db_;
  const SearchOptions& options_;
  const std::u16string matchKey_;
  SearchObserver& observer_;
  SearchResult result_;
  bool stop_ = false;
};

}  // namespace

SearchResult SearchIndexOnly(IndexDb& db, const std::vector<SearchEntry>& entries, const SearchOptions& options,
                             const std::u16string& matchKey, SearchObserver& observer) {
  IndexOnly search(db, options, matchKey, observer);
  db.beginRead();
  for (const SearchEntry& e : entries)
    if (!search.entry(e)) break;
  db.endRead();
  return search.finish();
}

}  // namespace tarnwick
