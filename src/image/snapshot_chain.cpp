#include "image/snapshot_chain.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <type_traits>
#include <utility>

#include "hive/file_source.h"
#include "hive/windows_layout.h"

namespace image {

namespace {

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// Where a parent recorded as `hint` may lie, in the order tried: the name taken relative to its
// child's folder, then as an absolute path, then its last part in the child's folder in any
// letter case (a VM folder copied to another machine, or from Windows).
std::vector<std::string> candidatesFor(const std::string& child, const std::string& hint,
                                       std::string& sameName) {
  std::string portable = hint;
  std::replace(portable.begin(), portable.end(), '\\', '/');
  const std::string folder = folderOf(child);
  // Windows' own forms (a drive letter, a \\?\ prefix) name nothing here but by their last part.
  const bool windows = (hint.size() >= 2 && hint[1] == ':') || hint.compare(0, 1, "\\") == 0;
  std::vector<std::string> candidates;
  if (portable.empty()) return candidates;
  if (portable[0] != '/' && !windows) candidates.push_back(folder + portable);
  if (hint[0] == '/') candidates.push_back(portable);
  sameName = portable.substr(portable.rfind('/') + 1);
  if (sameName.empty()) return candidates;
  // Chosen as everywhere a folder is walked: the exact name, else the first sorted.
  const std::vector<std::string> names = hive::folderAt(folder, folder)->names();
  if (const auto chosen = hive::chooseName(names, sameName)) candidates.push_back(folder + *chosen);
  std::vector<std::string> unique;
  for (const std::string& candidate : candidates) {
    if (std::find(unique.begin(), unique.end(), candidate) == unique.end()) {
      unique.push_back(candidate);
    }
  }
  return unique;
}

using FileId = std::pair<dev_t, ino_t>;

bool fileIdOf(const std::string& path, FileId& id) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  id = {st.st_dev, st.st_ino};
  return true;
}

std::string listed(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  }
  return text;
}

// What The Sleuth Kit holds: its image structure first, as it casts it.
struct ExternalPoint {
  TSK_IMG_INFO info;
  std::shared_ptr<Chain> chain;
  ChainLink* link;
  std::string name;
  TSK_TCHAR* names[1];
};
static_assert(std::is_standard_layout_v<ExternalPoint>,
              "The Sleuth Kit casts it to its first member");

ssize_t readPoint(TSK_IMG_INFO* img, TSK_OFF_T offset, char* out, size_t length) {
  auto* self = reinterpret_cast<ExternalPoint*>(img);
  std::string failure;
  const ssize_t got = self->link->read(static_cast<std::uint64_t>(offset), out, length, failure);
  if (got < 0) {
    tsk_error_reset();
    tsk_error_set_errno(TSK_ERR_IMG_READ);
    tsk_error_set_errstr("%s", failure.c_str());
  }
  return got;
}

void closePoint(TSK_IMG_INFO* img) { delete reinterpret_cast<ExternalPoint*>(img); }

void statPoint(TSK_IMG_INFO* img, FILE* out) {
  std::fprintf(out, "Image Type: %s\n", reinterpret_cast<ExternalPoint*>(img)->chain->format);
}

}  // namespace

tamsket::Result<std::shared_ptr<Chain>, ChainError> openChain(const std::string& path,
                                                              const std::string& shown,
                                                              const char* format, OpenLink open) {
  std::string failure;
  std::unique_ptr<ChainLink> top = open(path, failure);
  if (!top) return ChainError{ChainFailure::unreadable, failure};
  // Gathered from the top down, turned base first at the end.
  std::vector<std::unique_ptr<ChainLink>> links;
  std::vector<std::string> paths = {path}, names = {shown};
  std::set<FileId> seen;
  FileId id;
  if (fileIdOf(path, id)) seen.insert(id);
  links.push_back(std::move(top));
  const auto broken = [](std::string message) {
    return ChainError{ChainFailure::broken, std::move(message)};
  };
  while (links.back()->hasParent()) {
    ChainLink& child = *links.back();
    const std::string& childName = names.back();
    if (links.size() == kMaxChainLinks) {
      return broken(shown + " lies on a snapshot chain deeper than " +
                    std::to_string(kMaxChainLinks) + " links; " + childName +
                    " still names a parent");
    }
    const std::string hint = child.parentHint();
    if (hint.empty()) {
      return broken(childName + " is a snapshot, but it names no parent disk (" +
                    child.parentIdentity() + ")");
    }
    std::string sameName;
    const std::vector<std::string> candidates = candidatesFor(paths.back(), hint, sameName);
    std::unique_ptr<ChainLink> parent;
    std::string found, refused;
    for (const std::string& candidate : candidates) {
      if (!fileIdOf(candidate, id)) continue;
      if (seen.count(id)) {
        return broken(childName + " is a snapshot over " + hint + ", which is " + candidate +
                      ", already a link of this chain: the chain loops");
      }
      std::unique_ptr<ChainLink> opened = open(candidate, failure);
      if (!opened) {
        if (refused.empty())
          refused = candidate + " cannot be read as a " + format + ": " + failure;
        continue;
      }
      if (opened->identity() != child.parentIdentity()) {
        if (refused.empty()) {
          refused = candidate + " is another disk (" + opened->identity() + ")";
        }
        continue;
      }
      seen.insert(id);
      parent = std::move(opened);
      found = candidate;
      break;
    }
    if (!parent && !refused.empty()) {
      return broken(childName + " is a snapshot over " + hint + " (" + child.parentIdentity() +
                    "), but " + refused);
    }
    if (!parent) {
      std::vector<std::string> places;
      for (const std::string& candidate : candidates) places.push_back(candidate);
      const std::string folder = folderOf(paths.back());
      if (!sameName.empty()) {
        places.push_back(sameName + " in any letter case in " + (folder.empty() ? "./" : folder));
      }
      return broken(childName + " is a snapshot over " + hint +
                    ", which is not found: looked for " + listed(places));
    }
    if (const auto linked = child.setParent(*parent); !linked) {
      return broken(childName + " cannot be read over its parent " + found + ": " + linked.error());
    }
    links.push_back(std::move(parent));
    paths.push_back(found);
    names.push_back(found);
  }
  auto chain = std::make_shared<Chain>();
  chain->format = format;
  for (std::size_t i = links.size(); i-- > 0;) {
    chain->links.push_back(std::move(links[i]));
    chain->names.push_back(std::move(names[i]));
  }
  return chain;
}

TSK_IMG_INFO* openPoint(const std::shared_ptr<Chain>& chain, std::size_t point) {
  auto external = std::make_unique<ExternalPoint>();
  external->info = {};
  external->chain = chain;
  external->link = chain->links[point].get();
  // The file systems look for side files by the image's name (YAFFS2's configuration).
  external->name = chain->names[point];
  external->names[0] = external->name.data();
  external->info.images = external->names;
  external->info.num_img = 1;
  TSK_IMG_INFO* img =
      tsk_img_open_external(external.get(), static_cast<TSK_OFF_T>(external->link->size()), 512,
                            readPoint, closePoint, statPoint);
  if (img) external.release();
  return img;
}

std::string pointName(const Chain& chain, std::size_t point) {
  const std::size_t snapshots = chain.links.size() - 1;
  std::string name = chain.names[point];
  std::vector<std::string> notes;
  if (snapshots > 0 && point == 0) {
    notes.push_back(std::string("base, under ") + std::to_string(snapshots) +
                    (snapshots == 1 ? " snapshot" : " snapshots"));
  } else if (snapshots > 0) {
    notes.push_back("snapshot " + std::to_string(point) + " of " + std::to_string(snapshots) +
                    ", over " + chain.names[0]);
  }
  const std::vector<std::string> extents = chain.links[point]->extents();
  if (!extents.empty()) {
    std::string files = extents.size() == 1 ? "extent " : "extents ";
    for (std::size_t i = 0; i < extents.size(); ++i) files += (i ? ", " : "") + extents[i];
    notes.push_back(files);
  }
  for (std::size_t i = 0; i < notes.size(); ++i) name += (i ? "; " : " (") + notes[i];
  return notes.empty() ? name : name + ")";
}

}  // namespace image
