// A search answered by the index alone: no file or folder is looked at.  The
// rows come in the order a search of the file system gave them when the
// index was last brought up to date, and through the same observer calls.
#pragma once

#include <string>
#include <vector>

#include "index/index_db.h"
#include "search/engine.h"

namespace tarnwick {

// Each entry is taken as a folder when the index holds a listing of it (its
// `folder` member is not consulted), otherwise as a file; `subfolders` asks
// for everything recorded below a folder.  matchKey, when not empty, is the
// comparison key (StrNormalizeKey) of the text that the rows' block names
// must contain: the index finds the candidates, and options.keep still
// decides each row.
SearchResult SearchIndexOnly(IndexDb& db, const std::vector<SearchEntry>& entries, const SearchOptions& options,
                             const std::u16string& matchKey, SearchObserver& observer);

}  // namespace tarnwick
