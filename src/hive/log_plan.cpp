#include "hive/log_plan.h"

#include <algorithm>

namespace hive {

LogPlan planLogEntries(const std::vector<ScannedLog>& logs, std::uint32_t firstSequence) {
  struct Ordered {
    PlannedEntry entry;
    std::size_t order = 0;  // among the entries of all files
  };
  std::vector<Ordered> all;
  for (std::size_t file = 0; file < logs.size(); ++file) {
    for (std::size_t i = 0; i < logs[file].sequences.size(); ++i) {
      all.push_back({{file, i + 1, logs[file].sequences[i]}, all.size()});
    }
  }
  // In sequence order, and in file order among equals (without the
  // temporary buffer of std::stable_sort, which the lean Windows build lacks).
  std::sort(all.begin(), all.end(), [](const Ordered& a, const Ordered& b) {
    return a.entry.sequence != b.entry.sequence ? a.entry.sequence < b.entry.sequence
                                                : a.order < b.order;
  });
  LogPlan plan;
  plan.empty = all.empty();
  // The entries to apply are those from the hive's sequence number on: the
  // first of them may come later than that number, the rest follow it one by one.
  plan.next = firstSequence;
  const auto first = std::find_if(
      all.begin(), all.end(), [&](const Ordered& e) { return e.entry.sequence >= firstSequence; });
  if (first != all.end()) plan.next = first->entry.sequence;
  for (const Ordered& e : all) {
    if (e.entry.sequence != plan.next) {
      if (e.entry.sequence < plan.next) continue;  // applied already, or older than the hive
      break;
    }
    plan.apply.push_back(e.entry);
    ++plan.next;
  }
  // Damage matters where an entry still needed could lie: right after the
  // last one applied, in a file none of whose entries were, or in an entry
  // whose number, when it could be read, is not older than the one needed.
  for (std::size_t file = 0; file < logs.size(); ++file) {
    const ScannedLog& log = logs[file];
    if (!log.damaged) continue;
    const PlannedEntry* last = plan.apply.empty() ? nullptr : &plan.apply.back();
    const bool atTheStop = log.sequences.empty()
                               ? plan.apply.empty()
                               : last && last->file == file && last->index == log.sequences.size();
    if (atTheStop || !log.numbered || log.damagedSequence >= plan.next) {
      plan.damagedFiles.push_back(file);
    }
  }
  const auto after = std::find_if(all.begin(), all.end(),
                                  [&](const Ordered& e) { return e.entry.sequence > plan.next; });
  if (after != all.end()) {
    plan.goesOn = true;
    plan.after = after->entry;
  }
  return plan;
}

}  // namespace hive
